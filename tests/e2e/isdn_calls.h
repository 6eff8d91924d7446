// ISDN ports of the gateway facing q931peer far ends, and sipp far ends on
// the SIP side, for whole-daemon tests of calls between ISDN and SIP.
//
//     e2e_world w;
//     e2e_isdn_ports isdn(w, "[pbx]\nports=1\n", {{1, "nt"}});
//     w.root.write("usr/conf/tarn.dialplan", ...);
//     ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, isdn.env()));
//     e2e_child peer(w, "peer", isdn.peer_argv(1, {"wait up 30", "dial 0301 4711"}));
//     e2e_child uas(w, "uas", e2e_sipp_uas(w, "uas.xml", "127.0.0.2", port, "uas"));
#pragma once
#include <map>
#include <string>
#include <vector>

#include "e2e.h"

struct e2e_isdn_port {
    e2e_isdn_port() = default;
    e2e_isdn_port(int n, const std::string &m, const std::string &l = "ptp") : number(n), mode(m), line(l) {}
    int number = 1;
    std::string mode = "nt"; // the gateway's side: "nt" or "te" (the peer takes the other)
    std::string line = "ptp"; // "ptp" or "ptmp"
    int gw_port = 0, peer_port = 0;
    std::string trace; // the D-channel trace of the gateway's side
};

class e2e_isdn_ports {
public:
    // Writes hardware.conf (one four-port BRI module), tarn.tdm (the
    // B-channels on the first TDM bus), tarn.isdn (isdn_conf as given) and
    // the port file of the mISDN stand-in. ports: {number,
    // "nt"|"te"[, "ptp"|"ptmp"]}.
    e2e_isdn_ports(const e2e_world &w, const std::string &isdn_conf, const std::vector<e2e_isdn_port> &ports);
    // The environment tarn needs for the ports.
    std::vector<std::string> env() const;
    // q931peer as the far end of a port, running steps once its link is up.
    std::vector<std::string> peer_argv(int number, const std::vector<std::string> &steps) const;
    const e2e_isdn_port &port(int number) const { return ports_.at(number); }
    // The Q.931 message types (hex) and cause values the gateway sent on a
    // port, as tshark reads its trace; "0x5a\t17" per message.
    std::vector<std::string> sent_types(int number) const;

private:
    const e2e_world &w_;
    std::map<int, e2e_isdn_port> ports_;
};

// sipp as a SIP far end: scenario (an absolute path) on addr:port, at most
// calls calls, its message trace in TARN_ROOT/<name>.msg.
std::vector<std::string> e2e_sipp_uas(const e2e_world &w, const std::string &scenario, const std::string &addr,
                                      int port, const std::string &name, int calls = 1);

// A sipp scenario (its text) that answers an INVITE at once with 200 and an
// SDP answer, takes the ACK and answers the BYE that ends the call.
std::string e2e_sipp_answer_until_bye();
