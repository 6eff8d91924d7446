// A private TARN_ROOT with the smallest configuration the daemon starts on,
// and a simulated media processor for it to talk to (sim/mspsim).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "mspsim_runner.h"

struct conf_root {
    std::string dir; // the root; removed by the destructor
    // With media_processor the simulator runs with sim_args for as long as
    // the root exists, and env() names its socket in TARN_MSP_SIM.
    explicit conf_root(bool media_processor = true, const std::vector<std::string> &sim_args = {});
    ~conf_root();
    conf_root(const conf_root &) = delete;
    conf_root &operator=(const conf_root &) = delete;
    // Writes a file below the root ("usr/conf/tarn.conf", ...).
    void write(const std::string &rel, const std::string &text) const;
    std::string path(const std::string &rel) const { return dir + "/" + rel; }
    std::vector<std::string> env() const;
    // The simulated media processor, or null.
    mspsim_runner *msp() const { return msp_.get(); }

private:
    std::unique_ptr<mspsim_runner> msp_;
};
