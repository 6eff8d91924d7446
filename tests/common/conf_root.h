// A private TARN_ROOT with the smallest configuration the daemon starts on,
// and a simulated media processor for it to talk to (sim/mspsim).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "free_port.h"
#include "mspsim_runner.h"

struct conf_root {
    std::string dir; // the root; removed by the destructor unless keep is set
    bool keep = false;
    int sip_port = 0; // sip_bindport_localhost of the tarn.sip written here
    // With media_processor the simulator runs with sim_args for as long as
    // the root exists, and env() names its socket in TARN_MSP_SIM.
    explicit conf_root(bool media_processor = true, const std::vector<std::string> &sim_args = {});
    ~conf_root();
    conf_root(const conf_root &) = delete;
    conf_root &operator=(const conf_root &) = delete;
    // The tarn.sip it starts with: the localhost SIP stack on a port no other
    // test uses at the moment.
    std::string default_sip() const;
    // Starts the simulated media processor (when the root has none) with
    // its files in the root's "msp" folder; hook and ctx as for run_process_in.
    bool start_msp(const std::vector<std::string> &sim_args, process_hook hook, const void *ctx);
    // Writes a file below the root ("usr/conf/tarn.conf", ...). tarn.conf
    // gets memory_watchdog=0:0:0 unless the text names memory_watchdog.
    void write(const std::string &rel, const std::string &text) const;
    static std::string without_memory_watchdog(const std::string &text);
    std::string path(const std::string &rel) const { return dir + "/" + rel; }
    std::vector<std::string> env() const;
    // The simulated media processor, or null.
    mspsim_runner *msp() const { return msp_.get(); }

private:
    std::unique_ptr<mspsim_runner> msp_;
};

