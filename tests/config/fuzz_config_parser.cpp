// Arbitrary text through the configuration parser and into a manager.
// Runs in a private directory that holds a self-including file, so include
// chains are reached; "#exec" is answered by writing the command text back
// as its output, so no shell ever runs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "ast_config.h"
#include "confman.h"

namespace {

std::string workdir;
std::string startdir;

const cm_dir_t general_dirs[] = {{nullptr, nullptr, ""}, {"a", "1", ""}, {"b", nullptr, ""}};
const cm_dir_t group_dirs[] = {{"name", nullptr, ""}, {"ports", nullptr, ""}, {"c", "x", ""}};
const cm_section_t port_schema[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 3, general_dirs},
    {"port", "default", "ports", KTYPE_INTEGER, 3, group_dirs},
};
const cm_section_t name_schema[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 3, general_dirs},
    {"name", "default", "name", KTYPE_STRING, 3, group_dirs},
};

int echo_runner(const char *command, int out_fd)
{
    size_t len = strlen(command);
    return write(out_fd, command, len) == (ssize_t)len ? 0 : -1;
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

void cleanup()
{
    if (!workdir.empty())
        nftw(workdir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void write_file(const char *name, const uint8_t *data, size_t size)
{
    FILE *f = fopen(name, "wb");
    if (!f)
        abort();
    if (size)
        fwrite(data, 1, size, f);
    fclose(f);
}

void walk(cm *c, int sec, bool integer)
{
    char buf[64];
    int steps = 0;
    if (integer) {
        int next = 0;
        for (int prev = -1; steps < 600 && cm_get_next_id(c, sec, prev, &next) == 1; prev = next) {
            cm_get(c, buf, sizeof buf, sec, 2, next);
            steps++;
        }
    } else {
        std::string prev;
        for (const char *p = nullptr; steps < 600 && cm_get_next_id(c, sec, p, buf, sizeof buf) == 1;
             p = prev.c_str()) {
            prev = buf;
            cm_get(c, buf, sizeof buf, sec, 2, prev.c_str());
            steps++;
        }
    }
    std::string prev;
    steps = 0;
    for (const char *p = nullptr; steps < 600 && cm_get_next_cat(c, sec, p, buf, sizeof buf) == 1;
         p = prev.c_str()) {
        prev = buf;
        cm_get_by_cat(c, buf, sizeof buf, sec, 1, prev.c_str());
        steps++;
    }
    cm_get(c, buf, sizeof buf, 0, 1);
    cm_get(c, buf, sizeof buf, 0, 2);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tarn-fuzz-config-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        abort();
    workdir = tmpl;
    atexit(cleanup);
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd))
        abort();
    startdir = cwd;
    if (mkdir((workdir + "/var").c_str(), 0700) != 0 ||
        mkdir((workdir + "/var/tmp").c_str(), 0700) != 0)
        abort();
    setenv("TARN_ROOT", workdir.c_str(), 1);
    static const char inc[] = "[inc]\nk = v\n#include inc\n";
    write_file((workdir + "/inc").c_str(), (const uint8_t *)inc, sizeof inc - 1);
    ast_config_set_exec_runner(echo_runner);
    // The parser reports on standard output; keep the fuzzer's own output readable.
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
        dup2(devnull, 1);
        close(devnull);
    }
    if (cm_init() != 0)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Relative includes resolve in the private directory; the fuzzer's own
    // paths (corpus, artifacts) stay relative to where it was started.
    if (chdir(workdir.c_str()) != 0)
        abort();
    write_file("in.conf", data, size);

    ast_config *cfg = ast_config_load("in.conf");
    if (cfg) {
        for (char *cat = ast_category_browse(cfg, nullptr); cat; cat = ast_category_browse(cfg, cat))
            for (ast_variable *v = ast_variable_browse(cfg, cat); v; v = v->next)
                if (strlen(v->name) + strlen(v->value) > (1u << 20))
                    abort();
        ast_config_destroy(cfg);
    }

    bool integer = size == 0 || (data[0] & 1);
    cm *c = cm_create("FUZZ", integer ? port_schema : name_schema, 2);
    if (!c)
        abort();
    if (cm_load(&c, "in.conf") == 0)
        walk(c, 1, integer);
    if (c)
        cm_destroy(c);
    if (chdir(startdir.c_str()) != 0)
        abort();
    return 0;
}
