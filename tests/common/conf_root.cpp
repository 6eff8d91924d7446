#include "conf_root.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

conf_root::conf_root(bool media_processor, const std::vector<std::string> &sim_args)
{
    char tmpl[] = "/tmp/tarn-test.XXXXXX";
    char *d = mkdtemp(tmpl);
    dir = d ? d : "";
    for (const char *sub : {"usr/conf", "var/log", "var/tmp", "tmp", "sys/class/quilmar/safeguard"})
        std::filesystem::create_directories(dir + "/" + sub);
    write("usr/conf/tarn.conf", "[general]\n");
    write("usr/conf/misc.conf", "[general]\n");
    write("usr/conf/tarn.tdm", "");
    sip_port = free_local_port();
    write("usr/conf/tarn.sip", default_sip());
    if (media_processor)
        msp_ = std::make_unique<mspsim_runner>(sim_args);
}

bool conf_root::start_msp(const std::vector<std::string> &sim_args, process_hook hook, const void *ctx)
{
    if (!msp_)
        msp_ = std::make_unique<mspsim_runner>(sim_args, path("msp"), hook, ctx);
    return msp_->ok();
}

std::vector<std::string> conf_root::env() const
{
    std::vector<std::string> e = {"TARN_ROOT=" + dir};
    if (msp_) {
        e.push_back("TARN_MSP_SIM=" + msp_->socket);
        // A simulator on a busy test machine may take longer than the
        // device's 100 ms to answer.
        e.push_back("TARN_MSP_SIM_WAIT_MS=3000");
    }
    return e;
}

conf_root::~conf_root()
{
    msp_.reset();
    std::error_code ec;
    if (!dir.empty() && !keep)
        std::filesystem::remove_all(dir, ec);
}

// The memory watchdog divides the resident size by the board's 44 MB: a
// daemon on this machine would trip it. tarn.conf keeps it off unless the
// test names memory_watchdog itself.
std::string conf_root::without_memory_watchdog(const std::string &text)
{
    if (text.find("memory_watchdog") != std::string::npos)
        return text;
    std::string out;
    bool done = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        start = nl == std::string::npos ? text.size() : nl + 1;
        size_t b = line.find_first_not_of(" \t");
        if (!done && b != std::string::npos && line.compare(b, 20, "experimental_options") == 0) {
            size_t eq = line.find('=');
            bool empty = eq == std::string::npos || line.find_first_not_of(" \t\r", eq + 1) == std::string::npos;
            line += empty ? "memory_watchdog=0:0:0" : ",memory_watchdog=0:0:0";
            done = true;
        }
        out += line;
        if (nl != std::string::npos)
            out += '\n';
    }
    if (!done) {
        size_t g = out.find("[general]\n");
        if (g == std::string::npos)
            return text;
        out.insert(g + 10, "experimental_options = memory_watchdog=0:0:0\n");
    }
    return out;
}

void conf_root::write(const std::string &rel, const std::string &text) const
{
    std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
    std::ofstream f(path(rel), std::ios::trunc);
    f << (rel == "usr/conf/tarn.conf" ? without_memory_watchdog(text) : text);
}

std::string conf_root::default_sip() const
{
    return "[general]\nsip_bindport_localhost = " + std::to_string(sip_port) + "\n";
}
