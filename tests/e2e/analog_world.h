// The world of the analog whole-daemon tests: tarn with analog ports of
// analogsim, the media processor simulator, a SIP group "uas" at
// 127.0.0.2:5060 on the localhost stack where a sipp UAS answers, sipp
// UACs toward the localhost stack, and a dial plan of the test's.
#pragma once
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "json_value.h"
#include "linesim_client.h"
#include "mspsim_runner.h"
#include "sipp_case.h"

inline std::string analog_row(const std::vector<std::string> &f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? "\t" : "") + f[i];
    return s + "\n";
}

inline bool analog_has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// The daemon with analog ports of analogsim (the driver numbers its ports
// without gaps: a test of port 2 gives analogsim port 1 too), a SIP group
// "uas" at 127.0.0.2:5060 (and "uas3" at 127.0.0.3:5060) on the localhost
// stack and the dial plan given.
struct analog_world {
    analog_world(const std::string &dialplan, const std::string &analog_conf, const std::vector<std::string> &ports,
                 const std::string &experimental = "")
        : w(options())
    {
        if (!w.ok())
            return;
        sipp_write_config(w, "usr/conf/tarn.sip",
                          "[general]\nsip_bindport_localhost = @SIP_PORT@\n"
                          "[uas]\nsip_stack=localhost\nsip_proxy=127.0.0.2\nuser=gw\n"
                          "[uas3]\nsip_stack=localhost\nsip_proxy=127.0.0.3\nuser=gw\n");
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv2FXS\n");
        w.root.write("usr/conf/tarn.tdm", "timeslot 0 101 1 8\ntimeslot 0 102 1 9\ntimeslot 0 103 1 10\n");
        w.root.write("usr/conf/tarn.analog", analog_conf);
        w.root.write("usr/conf/tarn.tones", "[general]\ncountry=de\n[de]\ndial=425\nring=425/1000,0/4000\n"
                                            "busy=425/480,0/480\ncongestion=425/240,0/240\n");
        w.root.write("usr/conf/tarn.dialplan", dialplan);
        if (!experimental.empty())
            w.root.write("usr/conf/tarn.conf", "[general]\nexperimental_options=" + experimental + "\n");
        sim.reset(new linesim("sim/analogsim/analogsim.py", w.root.dir, ports));
    }
    static e2e_options options()
    {
        e2e_options o = sipp_world_options();
        return o;
    }
    bool start() { return sim && sim->running() && sipp_start_tarn(w); }

    // A sipp UAS on 127.0.0.2:5060 for calls calls, in the background, once it listens.
    void start_uas(int calls = 1)
    {
        std::string log = w.root.path("uas.log");
        std::vector<std::string> argv = {"sipp", "-sn", "uas", "-i", "127.0.0.2", "-p", "5060", "-m",
                                         std::to_string(calls), "-timeout", std::to_string(60 + 4 * calls) + "s",
                                         "-nostdin", "-trace_msg", "-message_file", log};
        uas = std::async(std::launch::async,
                         [this, argv, calls] { return w.ns.run(argv, "", {}, 90 + 4 * calls); });
        e2e_udp_listening(w, "127.0.0.2", 5060);
    }
    // A sipp UAS of a scenario below tests/e2e/sip on address:5060 for one
    // call, in the background once it listens; its messages in name.log below the root.
    std::future<process_result> start_scenario_uas(const std::string &scenario, const std::string &address,
                                                   const std::string &name)
    {
        std::vector<std::string> argv = {"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/" + scenario,
                                         "-i", address, "-p", "5060", "-m", "1", "-timeout", "60s", "-nostdin",
                                         "-trace_msg", "-message_file", w.root.path(name + ".log")};
        std::future<process_result> uas = std::async(std::launch::async, [this, argv] { return w.ns.run(argv, "", {}, 90); });
        e2e_udp_listening(w, address, 5060);
        return uas;
    }
    std::string uas_log(const std::string &name = "uas") const { return read_text_file(w.root.path(name + ".log")); }
    bool uas_saw(const std::string &text, int ms = 30000, const std::string &name = "uas") const
    {
        return e2e_world::wait_for([&] { return uas_log(name).find(text) != std::string::npos; }, ms);
    }

    // A sipp UAC calling service to at the localhost stack, in the
    // background: INVITE, 200, ACK, hold_ms, BYE.
    void start_uac(const std::string &to, int hold_ms)
    {
        std::vector<std::string> argv = uac_argv("analog_uac.xml", to, hold_ms);
        uac = std::async(std::launch::async, [this, argv] { return w.ns.run(argv, "", {}, 90); });
    }
    // One call of a scenario below tests/e2e/sip to service to, run to its end.
    process_result run_uac(const std::string &scenario, const std::string &to)
    {
        return w.ns.run(uac_argv(scenario, to, 0), "", {}, 90);
    }
    std::vector<std::string> uac_argv(const std::string &scenario_name, const std::string &to, int hold_ms)
    {
        std::string log = w.root.path("uac.log");
        std::string scenario = std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/" + scenario_name;
        return {"sipp", "-sf", scenario, "-s", to, "-i", "127.0.0.1", "-p", "5070", "-m", "1",
                                         "-d", std::to_string(hold_ms), "-timeout", "60s", "-nostdin", "-trace_msg",
                "-message_file", log, "127.0.0.1:" + std::to_string(w.root.sip_port)};
    }
    std::string uac_log() const { return read_text_file(w.root.path("uac.log")); }

    // The frames the daemon sent to the media processor with this name.
    std::vector<json_value> msp_in(const std::string &name) const
    {
        std::vector<json_value> out;
        for (const json_value &f : w.root.msp()->frames("in"))
            if (f["name"].str() == name)
                out.push_back(f);
        return out;
    }
    bool msp_saw(const std::string &name, size_t n = 1, int ms = 20000) const
    {
        return e2e_world::wait_for([&] { return msp_in(name).size() >= n; }, ms);
    }
    // The channel the daemon last opened for voice (VOPENA).
    long long voice_channel() const
    {
        std::vector<json_value> v = msp_in("FC_VOIP_VOPENA");
        return v.empty() ? -1 : v.back()["channel"].num();
    }
    // A caller-id message that the FSK receiver of a channel decoded.
    bool fsk_received(long long channel, int type, const std::vector<std::pair<int, std::string>> &params)
    {
        std::string bytes;
        for (const auto &p : params) {
            bytes += (bytes.empty() ? "" : ", ") + std::to_string(p.first) + ", " + std::to_string(p.second.size());
            for (char c : p.second)
                bytes += ", " + std::to_string((int)(unsigned char)c);
        }
        json_value r = w.root.msp()->request(R"({"cmd": "indicate", "fc": "FC_CNDRXMSG", "channel": )" +
                                             std::to_string(channel) + R"(, "fields": {"msg_type_id": )" +
                                             std::to_string(type) + R"(, "msg_byte": [)" + bytes + "]}}");
        return r["ok"].b;
    }
    // A tone detected on the TDM side of a channel.
    bool tone(long long channel, int value)
    {
        json_value r = w.root.msp()->request(R"({"cmd": "indicate", "fc": "FC_VOIP_TONEDET", "channel": )" +
                                             std::to_string(channel) + R"(, "fields": {"tone_detect_value": )" +
                                             std::to_string(value) + "}}");
        return r["ok"].b;
    }

    e2e_world w;
    std::unique_ptr<linesim> sim;
    std::future<process_result> uas, uac;
};

// A telephone on port 1 that ends its number with "#", dial tone until the
// first digit.
inline const char *const analog_fxs_conf = "[phones]\nports=1\ntones=[de]\ncomplete_dialing_on_pound_or_star=yes\n"
                             "dialtone_digits=1\ninterdigit_timeout=3\ninterdigit_timeout_initial=20\n"
                             "clip=201\ncnip=Hall\n";
