#include "isdn_calls.h"

#include "run_process.h"

e2e_isdn_ports::e2e_isdn_ports(const e2e_world &w, const std::string &isdn_conf,
                               const std::vector<e2e_isdn_port> &ports)
    : w_(w)
{
    std::string ptp = "0,0,0,0", lines, tdm;
    for (e2e_isdn_port p : ports) {
        int number = p.number;
        if (number < 1 || number > 4)
            continue;
        p.gw_port = free_local_port();
        p.peer_port = free_local_port();
        p.trace = w.root.path("port" + std::to_string(number) + ".trace");
        if (p.line == "ptp")
            ptp[(number - 1) * 2] = '1';
        lines += std::to_string(number) + " " + p.mode + " bri " + p.line + " " + std::to_string(p.gw_port) + " " +
                 std::to_string(p.peer_port) + " " + p.trace + "\n";
        ports_[number] = p;
        // the port's two B-channels on the first TDM bus, for the media
        for (int ch = 1; ch <= 2; ch++)
            tdm += "timeslot 0 " + std::to_string(number) + " " + std::to_string(ch) + " " +
                   std::to_string((number - 1) * 2 + ch - 1) + "\n";
    }
    w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=" + ptp + "\n");
    w.root.write("usr/conf/tarn.tdm", tdm);
    w.root.write("usr/conf/tarn.isdn", isdn_conf);
    w.root.write("misdn.ports", lines);
}

std::vector<std::string> e2e_isdn_ports::env() const
{
    return {"TARN_MISDN_SIM=" + w_.root.path("misdn.ports")};
}

std::vector<std::string> e2e_isdn_ports::peer_argv(int number, const std::vector<std::string> &steps) const
{
    const e2e_isdn_port &p = ports_.at(number);
    std::vector<std::string> a = {std::string(TARN_BINARY_DIR) + "/sim/q931peer/q931peer",
                                  "--role", p.mode == "nt" ? "user" : "network", "--line", p.line,
                                  "--local", std::to_string(p.peer_port), "--peer", std::to_string(p.gw_port),
                                  "-e", "wait up 30"};
    for (const std::string &s : steps) {
        a.push_back("-e");
        a.push_back(s);
    }
    return a;
}

std::vector<std::string> e2e_isdn_ports::sent_types(int number) const
{
    // the gateway's messages: commands with C/R 1 in NT mode, 0 in TE mode
    std::string cr = ports_.at(number).mode == "nt" ? "1" : "0";
    return e2e_q931_messages(ports_.at(number).trace, "lapd.cr == " + cr, {"q931.message_type", "q931.cause_value"});
}

std::vector<std::string> e2e_sipp_uas(const e2e_world &w, const std::string &scenario, const std::string &addr,
                                      int port, const std::string &name, int calls)
{
    return {"sipp", "-sf", scenario, "-i", addr, "-p", std::to_string(port), "-m", std::to_string(calls),
            "-timeout", "60s", "-timeout_error", "-nostdin", "-trace_msg", "-message_file",
            w.root.path(name + ".msg"), "-trace_err", "-error_file", w.root.path(name + ".err")};
}

std::string e2e_sipp_answer_until_bye()
{
    return R"(<?xml version="1.0" encoding="ISO-8859-1" ?>
<scenario name="answered until BYE">
  <recv request="INVITE"/>
  <send><![CDATA[

SIP/2.0 200 OK
[last_Via:]
[last_From:]
[last_To:];tag=[pid]SIPpTag01[call_number]
[last_Call-ID:]
[last_CSeq:]
Contact: <sip:called@[local_ip]:[local_port]>
Content-Type: application/sdp
Content-Length: [len]

v=0
o=user1 53655765 2353687637 IN IP[local_ip_type] [local_ip]
s=-
c=IN IP[media_ip_type] [media_ip]
t=0 0
m=audio [media_port] RTP/AVP 8
a=rtpmap:8 PCMA/8000

]]></send>
  <recv request="ACK"/>
  <recv request="BYE"/>
  <send><![CDATA[

SIP/2.0 200 OK
[last_Via:]
[last_From:]
[last_To:]
[last_Call-ID:]
[last_CSeq:]
Content-Length: 0

]]></send>
</scenario>
)";
}
