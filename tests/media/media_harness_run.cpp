#include "media_harness_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "mspsim_runner.h"

namespace {

std::string popen_text(const std::string &cmd)
{
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    return out;
}

struct temp_dir {
    std::string path;
    temp_dir()
    {
        char tmpl[] = "/tmp/mediaharness.XXXXXX";
        if (mkdtemp(tmpl))
            path = tmpl;
    }
    ~temp_dir()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
};

} // namespace

std::vector<std::string> harness_run::names(size_t from) const
{
    std::vector<std::string> n;
    for (size_t i = from; i < frames.size(); i++)
        n.push_back(frames[i]["name"].str());
    return n;
}

int harness_run::count(const std::string &text) const
{
    int n = 0;
    for (const std::string &l : lines)
        n += l.find(text) != std::string::npos;
    return n;
}

std::string harness_run::result(const std::string &command, int k) const
{
    std::string head = "RESULT " + command + " ";
    for (const std::string &l : lines) {
        if (l.rfind(head, 0) != 0)
            continue;
        if (k-- > 0)
            continue;
        std::istringstream in(l.substr(head.size()));
        std::string call, value, rest;
        in >> call >> value;
        std::getline(in, rest);
        return value + rest;
    }
    return "<none>";
}

const json_value *harness_run::frame(const std::string &name, size_t from) const
{
    for (size_t i = from; i < frames.size(); i++)
        if (frames[i]["name"].str() == name)
            return &frames[i];
    return nullptr;
}

std::string harness_run::frame_fields() const
{
    std::string t;
    char line[64];
    for (const json_value &f : frames) {
        snprintf(line, sizeof line, "%s\t%lld\n", f["fc"].str().c_str(), f["len"].num());
        t += line;
    }
    return t;
}

std::string harness_run::text() const
{
    std::string t;
    for (const std::string &l : lines)
        t += l + "\n";
    return t + proc.err;
}

harness_run run_harness(const std::string &script, const std::vector<std::string> &sim_args, bool with_pcap,
                        int status, const std::vector<std::string> &env)
{
    harness_run r;
    mspsim_runner sim(sim_args);
    if (!sim.ok()) {
        r.proc.err = "mspsim did not start";
        return r;
    }
    std::string harness = std::string(TARN_BINARY_DIR) + "/tests/media/mediaharness";
    std::vector<std::string> environment = {"TARN_MSP_SIM=" + sim.socket, "TARN_MSP_SIM_CONTROL=" + sim.control,
                                            "TARN_MSP_SIM_WAIT_MS=10000"};
    environment.insert(environment.end(), env.begin(), env.end());
    r.proc = run_process({harness}, script + "\nwait\nquit\n", environment, 120);
    // The harness ends cleanly: no sanitizer report, no leak.
    EXPECT_EQ(r.proc.status, status) << r.proc.err;
    EXPECT_EQ(r.proc.err.find("Sanitizer"), std::string::npos) << r.proc.err;
    EXPECT_EQ(r.proc.err.find("runtime error"), std::string::npos) << r.proc.err;
    std::istringstream in(r.proc.out);
    for (std::string l; std::getline(in, l);)
        r.lines.push_back(l);
    r.frames = sim.frames("in");
    r.state = sim.request(R"({"cmd": "state"})");
    if (with_pcap)
        r.pcap_fields = popen_text("tshark -r " + sim.pcap +
                                   " -Y 'csm_encaps.type == 0' -T fields -e csm_encaps.function_code"
                                   " -e csm_encaps.length 2>/dev/null");
    return r;
}

std::string harness_file(const std::string &name, const std::string &text)
{
    static temp_dir dir;
    std::string path = dir.path + "/" + name;
    std::ofstream(path) << text;
    return path;
}
