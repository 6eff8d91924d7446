// The demo's general settings for whole-daemon console tests: tarn.conf,
// misc.conf and tarn.tdm of demo/conf, with the media processor link on
// the world's interface (the demo names its own link) and more experimental
// options when given.
#pragma once
#include <string>

#include "e2e.h"
#include "run_process.h"

inline void write_console_demo_conf(e2e_world &w, const std::string &extra_options = "")
{
    std::string dir = std::string(TARN_SOURCE_DIR) + "/demo/conf/";
    for (const char *f : {"misc.conf", "tarn.tdm"})
        w.root.write(std::string("usr/conf/") + f, read_text_file(dir + f));
    std::string conf = read_text_file(dir + "tarn.conf");
    size_t msp = conf.find("interface_msp = ");
    if (msp != std::string::npos)
        conf.replace(msp, conf.find('\n', msp) - msp, "interface_msp = " + w.opt.ifaces.at(0).name);
    if (!extra_options.empty()) {
        size_t at = conf.find("experimental_options = ");
        conf.insert(conf.find('\n', at), "," + extra_options);
    }
    w.root.write("usr/conf/tarn.conf", conf);
}
