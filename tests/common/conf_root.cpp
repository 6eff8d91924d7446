#include "conf_root.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

conf_root::conf_root()
{
    char tmpl[] = "/tmp/tarn-test.XXXXXX";
    char *d = mkdtemp(tmpl);
    dir = d ? d : "";
    for (const char *sub : {"usr/conf", "var/log", "var/tmp", "tmp", "sys/class/quilmar/safeguard"})
        std::filesystem::create_directories(dir + "/" + sub);
    write("usr/conf/tarn.conf", "[general]\n");
    write("usr/conf/misc.conf", "[general]\n");
    write("usr/conf/tarn.tdm", "");
}

conf_root::~conf_root()
{
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
