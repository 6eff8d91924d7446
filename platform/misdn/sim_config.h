// The description of the simulated ISDN ports, read from the file that the
// environment variable TARN_MISDN_SIM names. One port per line, fields
// separated by blanks; '#' starts a comment:
//
//   <port> <te|nt> <bri|e1|t1> <ptp|ptmp> <local-udp> <peer-udp[,peer-udp...]> <trace-file>
//
// port: 1..32, each once. The D-channel of the port is a UDP socket bound to
// 127.0.0.1:<local-udp> that carries one LAPD frame (address, control,
// information; no flags, no FCS) per datagram. Frames go to every listed peer
// port on 127.0.0.1 (several peers make a point-to-multipoint bus); "-" for
// the peer leaves the port unwired, "-" for the local port opens no socket
// (frames can then only be injected, as tests and fuzzers do). Every frame in
// and out is appended to the trace file ("-": none) in the text form that
// `text2pcap -D -t "%H:%M:%S.%f" -l 203` reads. Primary-rate ports are
// point-to-point.
#pragma once
#include <string>
#include <vector>

enum sim_port_kind { SIM_BRI = 0, SIM_E1 = 1, SIM_T1 = 2 };

struct sim_port_cfg {
    int port = 0;
    bool nt = false;
    sim_port_kind kind = SIM_BRI;
    bool ptp = true;
    int local_udp = 0;           // 0: no socket
    std::vector<int> peers;      // empty: unwired
    std::string trace;           // empty: no trace
};

// Parses the text of a description; 0 and the ports, or -1 and a message
// naming the line.
int sim_config_parse(const std::string &text, std::vector<sim_port_cfg> &ports,
                     std::string &error);
// Reads and parses the file; -1 and a message when it cannot be read or parsed.
int sim_config_load(const char *path, std::vector<sim_port_cfg> &ports, std::string &error);
