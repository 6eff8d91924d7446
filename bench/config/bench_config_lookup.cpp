// Keyed look-ups in a manager of 1,000 keyed rows: the hashed cm_get against
// a plain linear scan of the same rows (same lock, same copy-out), for
// integer keys (ports) and text keys (names).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

#include "confman.h"

namespace {

const int ROWS = 1000;

const cm_dir_t general_dirs[] = {{nullptr, nullptr, ""}};
const cm_dir_t port_dirs[] = {{"name", nullptr, ""}, {"ports", nullptr, ""}, {"config", "", ""}};
const cm_dir_t name_dirs[] = {{"name", nullptr, ""}, {"host", nullptr, ""}, {"config", "", ""}};
const cm_section_t port_schema[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 1, general_dirs},
    {"port", "default", "ports", KTYPE_INTEGER, 3, port_dirs},
};
const cm_section_t name_schema[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 1, general_dirs},
    {"name", "default", "name", KTYPE_STRING, 3, name_dirs},
};

std::string peer_name(int i)
{
    char b[32];
    snprintf(b, sizeof b, "peer%04d", i);
    return b;
}

// A manager loaded from a generated file of ROWS keyed rows.
cm *make_manager(const char *modname, bool integer)
{
    char path[] = "/tmp/tarn-bench-config-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        abort();
    std::string text = "[general]\n";
    for (int i = 1; i <= ROWS; i++) {
        if (integer)
            text += "[group" + std::to_string(i) + "]\nports = " + std::to_string(i) + "\n";
        else
            text += "[" + peer_name(i) + "]\nhost = h" + std::to_string(i) + "\n";
        text += "config = value" + std::to_string(i) + "\n";
    }
    if (write(fd, text.data(), text.size()) != (ssize_t)text.size())
        abort();
    close(fd);
    cm_init();
    cm *c = cm_create(modname, integer ? port_schema : name_schema, 2);
    // The key table holds 512 keys; the load reports the rest, which is
    // not what is measured here.
    fflush(stdout);
    int saved = dup(1), devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    int rc = cm_load(&c, path);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(devnull);
    unlink(path);
    if (rc != 0 || !c)
        abort();
    return c;
}

// The same look-up as cm_get, finding the row by walking the rows and
// comparing their key column.
int scan_get(cm *c, char *buf, size_t size, int sec, int dir, int col, bool integer, int ikey,
             const char *skey)
{
    pthread_mutex_lock(&c->lock);
    int rc = -1;
    const cm_matrix_t *m = &c->vals[sec];
    for (int r = 1; r < m->num_rows; r++) {
        const char *k = m->rows[r][col];
        if (!k)
            continue;
        if (integer ? atoi(k) == ikey : strcasecmp(k, skey) == 0) {
            const char *v = m->rows[r][dir] ? m->rows[r][dir] : m->rows[0][dir];
            size_t len = v ? strlen(v) : 0;
            if (v && len + 1 <= size) {
                memcpy(buf, v, len + 1);
                rc = 0;
            }
            break;
        }
    }
    pthread_mutex_unlock(&c->lock);
    return rc;
}

// The keys the table holds, in a scattered order.
std::vector<int> int_keys(cm *c)
{
    std::vector<int> keys;
    int next;
    for (int prev = -1; cm_get_next_id(c, 1, prev, &next) == 1; prev = next)
        keys.push_back(next);
    for (size_t i = 0; i < keys.size(); i++)
        std::swap(keys[i], keys[(i * 7919) % keys.size()]);
    return keys;
}

std::vector<std::string> text_keys(const std::vector<int> &order, cm *c)
{
    std::vector<std::string> keys;
    char buf[32];
    std::string prev;
    for (const char *p = nullptr; cm_get_next_id(c, 1, p, buf, sizeof buf) == 1; p = prev.c_str()) {
        prev = buf;
        keys.push_back(prev);
    }
    std::vector<std::string> scattered;
    for (int i : order)
        if (i - 1 < (int)keys.size())
            scattered.push_back(keys[i - 1]);
    return scattered;
}

struct fixture {
    cm *ports = make_manager("BENCHPORTS", true);
    cm *names = make_manager("BENCHNAMES", false);
    std::vector<int> ikeys = int_keys(ports);
    std::vector<std::string> skeys = text_keys(ikeys, names);
};

fixture &fx()
{
    static fixture f;
    return f;
}

void BM_hashed_integer(benchmark::State &state)
{
    fixture &f = fx();
    char buf[64];
    size_t i = 0;
    for (auto _ : state) {
        int rc = cm_get(f.ports, buf, sizeof buf, 1, 2, f.ikeys[i++ % f.ikeys.size()]);
        benchmark::DoNotOptimize(rc);
    }
}

void BM_linear_integer(benchmark::State &state)
{
    fixture &f = fx();
    char buf[64];
    size_t i = 0;
    for (auto _ : state) {
        int rc = scan_get(f.ports, buf, sizeof buf, 1, 2, 1, true, f.ikeys[i++ % f.ikeys.size()],
                          nullptr);
        benchmark::DoNotOptimize(rc);
    }
}

void BM_hashed_text(benchmark::State &state)
{
    fixture &f = fx();
    char buf[64];
    size_t i = 0;
    for (auto _ : state) {
        int rc = cm_get(f.names, buf, sizeof buf, 1, 2, f.skeys[i++ % f.skeys.size()].c_str());
        benchmark::DoNotOptimize(rc);
    }
}

void BM_linear_text(benchmark::State &state)
{
    fixture &f = fx();
    char buf[64];
    size_t i = 0;
    for (auto _ : state) {
        int rc = scan_get(f.names, buf, sizeof buf, 1, 2, 0, false, 0,
                          f.skeys[i++ % f.skeys.size()].c_str());
        benchmark::DoNotOptimize(rc);
    }
}

// A name no row has: the scan walks all 1,000 rows.
void BM_hashed_text_miss(benchmark::State &state)
{
    fixture &f = fx();
    char buf[64];
    for (auto _ : state) {
        int rc = cm_get(f.names, buf, sizeof buf, 1, 2, "nosuchpeer");
        benchmark::DoNotOptimize(rc);
    }
}

void BM_linear_text_miss(benchmark::State &state)
{
    fixture &f = fx();
    char buf[64];
    for (auto _ : state) {
        int rc = scan_get(f.names, buf, sizeof buf, 1, 2, 0, false, 0, "nosuchpeer");
        benchmark::DoNotOptimize(rc);
    }
}

BENCHMARK(BM_hashed_integer);
BENCHMARK(BM_linear_integer);
BENCHMARK(BM_hashed_text);
BENCHMARK(BM_linear_text);
BENCHMARK(BM_hashed_text_miss);
BENCHMARK(BM_linear_text_miss);

} // namespace

BENCHMARK_MAIN();
