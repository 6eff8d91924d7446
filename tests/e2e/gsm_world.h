// The world of the GSM whole-daemon tests: tarn with one modem of modemsim
// on port 1, a SIP group "uas" at 127.0.0.2:5060 on the localhost stack
// where a sipp UAS answers, and a dial plan of the test's.
#pragma once
#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "modemsim_client.h"
#include "sipp_case.h"

inline std::string gsm_dialplan_row(const std::vector<std::string> &f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? "\t" : "") + f[i];
    return s + "\n";
}

inline std::string gsm_read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline int gsm_count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        n++;
    return n;
}

inline bool gsm_has_command(modemsim &sim, int port, const std::string &cmd)
{
    std::vector<std::string> c = sim.commands(port);
    return std::find(c.begin(), c.end(), cmd) != c.end();
}

// The daemon with one GE865 modem on port 1, a SIP group "uas" at
// 127.0.0.2:5060 on the localhost stack and the dial plan given.
struct gsm_world {
    explicit gsm_world(const std::string &dialplan, const std::string &gsm_port_keys = "",
                       const std::string &experimental = "")
        : w(options())
    {
        if (!w.ok())
            return;
        sipp_write_config(w, "usr/conf/tarn.sip",
                          "[general]\nsip_bindport_localhost = @SIP_PORT@\n"
                          "[uas]\nsip_stack=localhost\nsip_proxy=127.0.0.2\nuser=gw\n");
        w.root.write("usr/conf/tarn.gsm", "[general]\nsms_max_attempts=3\n[mobile]\nports=1\n" + gsm_port_keys);
        w.root.write("usr/conf/tarn.dialplan", dialplan);
        if (!experimental.empty())
            w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options=" + experimental + "\n");
        sim.reset(new modemsim(w.root.dir, {"--lif", "0:dv2GSM", "--port", "1:model=GE865"}));
    }
    static e2e_options options()
    {
        e2e_options o = sipp_world_options();
        o.capture_filter = "udp port 5060 or udp port @SIP_PORT@";
        return o;
    }
    // tarn up and the modem's start-up done: the first status round has
    // reached its last row that always runs, and no command came for a
    // second after it (the rows and settings read after it). A line the
    // test injects then meets an idle port, not a command waiting for its
    // echo, which drops what it does not split off.
    bool start()
    {
        if (!(sim && sim->running() && sipp_start_tarn(w) && sim->expect(1, "^AT#DVI\\?$", 90000) != ""))
            return false;
        size_t seen = sim->commands(1).size();
        auto quiet_since = std::chrono::steady_clock::now();
        const auto give_up = quiet_since + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() - quiet_since < std::chrono::seconds(1) &&
               std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            size_t now_seen = sim->commands(1).size();
            if (now_seen != seen) {
                seen = now_seen;
                quiet_since = std::chrono::steady_clock::now();
            }
        }
        return true;
    }
    // A sipp UAS on 127.0.0.2:5060 for one call, in the background once it listens; its
    // messages in uas.log below the root.
    void start_uas(const std::string &scenario = "", int calls = 1)
    {
        std::string log = w.root.path("uas.log");
        std::vector<std::string> argv = {"sipp", "-i", "127.0.0.2", "-p", "5060", "-m", std::to_string(calls),
                                         "-timeout", std::to_string(40 + calls * 2) + "s",
                                         "-nostdin", "-trace_msg", "-message_file", log};
        if (scenario.empty()) {
            argv.insert(argv.begin() + 1, {"-sn", "uas"});
        } else {
            argv.insert(argv.begin() + 1, {"-sf", scenario});
        }
        uas = std::async(std::launch::async, [this, argv, calls] { return w.ns.run(argv, "", {}, 60 + calls * 2); });
        e2e_udp_listening(w, "127.0.0.2", 5060);
    }
    std::string uas_log() const { return gsm_read_file(w.root.path("uas.log")); }
    bool uas_saw(const std::string &text, int ms = 20000) const
    {
        return e2e_world::wait_for([&] { return uas_log().find(text) != std::string::npos; }, ms);
    }
    e2e_world w;
    std::unique_ptr<modemsim> sim;
    std::future<process_result> uas;
};

inline const std::string gsm_route_4917 = gsm_dialplan_row({"GSM", "SIP", "1", "p:uas", "*", "100", "\\+4917.*", "\\0", ""});

