#include "conf_root.h"

#include <sys/stat.h>

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
    if (media_processor)
        msp_ = std::make_unique<mspsim_runner>(sim_args);
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
    if (!dir.empty())
        std::filesystem::remove_all(dir, ec);
}

void conf_root::write(const std::string &rel, const std::string &text) const
{
    std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
    std::ofstream f(path(rel), std::ios::trunc);
    f << text;
}
