#include "sim_config.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

static bool parse_int(const std::string &s, int lo, int hi, int &out)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    long v = strtol(s.c_str(), nullptr, 10);
    if (v < lo || v > hi)
        return false;
    out = (int)v;
    return true;
}

static int fail(std::string &error, int line, const std::string &what)
{
    error = "line " + std::to_string(line) + ": " + what;
    return -1;
}

int sim_config_parse(const std::string &text, std::vector<sim_port_cfg> &ports,
                     std::string &error)
{
    ports.clear();
    std::istringstream in(text);
    std::string raw;
    int lineno = 0;
    while (std::getline(in, raw)) {
        lineno++;
        size_t hash = raw.find('#');
        if (hash != std::string::npos)
            raw.erase(hash);
        std::istringstream ls(raw);
        std::vector<std::string> f;
        std::string w;
        while (ls >> w)
            f.push_back(w);
        if (f.empty())
            continue;
        if (f.size() != 7)
            return fail(error, lineno, "expected 7 fields, got " + std::to_string(f.size()));
        sim_port_cfg c;
        if (!parse_int(f[0], 1, 32, c.port))
            return fail(error, lineno, "port must be 1..32");
        for (const auto &p : ports)
            if (p.port == c.port)
                return fail(error, lineno, "port " + f[0] + " given twice");
        if (f[1] == "te")
            c.nt = false;
        else if (f[1] == "nt")
            c.nt = true;
        else
            return fail(error, lineno, "mode must be te or nt");
        if (f[2] == "bri")
            c.kind = SIM_BRI;
        else if (f[2] == "e1")
            c.kind = SIM_E1;
        else if (f[2] == "t1")
            c.kind = SIM_T1;
        else
            return fail(error, lineno, "kind must be bri, e1 or t1");
        if (f[3] == "ptp")
            c.ptp = true;
        else if (f[3] == "ptmp")
            c.ptp = false;
        else
            return fail(error, lineno, "topology must be ptp or ptmp");
        if (c.kind != SIM_BRI && !c.ptp)
            return fail(error, lineno, "primary-rate ports are point-to-point");
        if (f[4] != "-" && !parse_int(f[4], 1, 65535, c.local_udp))
            return fail(error, lineno, "local UDP port must be 1..65535 or -");
        if (f[5] != "-") {
            std::istringstream ps(f[5]);
            std::string one;
            while (std::getline(ps, one, ',')) {
                int v;
                if (!parse_int(one, 1, 65535, v))
                    return fail(error, lineno, "peer UDP ports must be 1..65535, comma separated, or -");
                c.peers.push_back(v);
            }
            if (c.peers.empty() || c.peers.size() > 8)
                return fail(error, lineno, "one to eight peer UDP ports");
        }
        if (f[6] != "-")
            c.trace = f[6];
        ports.push_back(c);
    }
    if (ports.empty()) {
        error = "no port described";
        return -1;
    }
    return 0;
}

int sim_config_load(const char *path, std::vector<sim_port_cfg> &ports, std::string &error)
{
    if (!path || !*path) {
        error = "TARN_MISDN_SIM is not set";
        return -1;
    }
    std::ifstream f(path);
    if (!f) {
        error = std::string(path) + ": " + strerror(errno);
        return -1;
    }
    std::stringstream ss;
    ss << f.rdbuf();
    if (ss.str().size() > 65536) {
        error = std::string(path) + ": too long";
        return -1;
    }
    if (sim_config_parse(ss.str(), ports, error) < 0) {
        error = std::string(path) + ": " + error;
        return -1;
    }
    return 0;
}
