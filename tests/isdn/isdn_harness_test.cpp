// The library in the harness program against libpri far ends over the
// device layer's UDP ports: start-up and its threads, layer supervision
// lines, status lines, the exit on a port the device lacks, and calls.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "isdn_test_support.h"
#include "misdn_harness.h"

namespace {

// A harness with its ports and the libpri peers wired to them.
struct rig {
    tmp_dir dir;
    std::string sim = dir.file("ports");
    std::string sim_text;
    harness_proc h;
    std::vector<std::unique_ptr<peer_proc>> peers;

    std::string trace(int port) const { return dir.file("port" + std::to_string(port) + ".trace"); }

    // A port of the harness wired to one or more libpri peers:
    // kind "te bri ptp" ..., role and line of q931peer, its script.
    void port(int n, const std::string &kind, const std::string &role, const std::string &line,
              const std::vector<std::vector<std::string>> &scripts)
    {
        int me = free_udp_port();
        std::string peer_ports;
        std::vector<int> far;
        for (size_t i = 0; i < scripts.size(); i++) {
            far.push_back(free_udp_port());
            peer_ports += (i ? "," : "") + std::to_string(far.back());
        }
        sim_text += std::to_string(n) + " " + kind + " " + std::to_string(me) + " " +
                    (peer_ports.empty() ? "-" : peer_ports) + " " + trace(n) + "\n";
        for (size_t i = 0; i < scripts.size(); i++) {
            std::vector<std::string> args = {"--role", role, "--line", line, "--local", std::to_string(far[i]),
                                             "--peer", std::to_string(me)};
            for (const auto &s : scripts[i]) {
                args.push_back("-e");
                args.push_back(s);
            }
            peers.push_back(std::make_unique<peer_proc>());
            peers.back()->start(args, dir.file("peer" + std::to_string(n) + "_" + std::to_string(i) + ".out"));
        }
    }

    peer_proc &peer(size_t i) { return *peers[i]; }

    bool start(const std::vector<std::string> &args)
    {
        write_file(sim, sim_text);
        for (auto &p : peers)
            if (!p->wait_line("READY", WAIT_MS))
                return false;
        return h.start(args, {"TARN_MISDN_SIM=" + sim}, dir.file("harness.out")) && h.wait_line("READY", WAIT_MS) >= 0;
    }
};

std::set<std::string> thread_names(pid_t pid)
{
    std::set<std::string> names;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::string comm = read_file(dir + "/" + e->d_name + "/comm");
        if (!comm.empty() && comm.back() == '\n')
            comm.pop_back();
        names.insert(comm);
    }
    closedir(d);
    return names;
}

TEST(Harness, StartsEveryPortWithItsThreadsLayersAndStatus)
{
    rig r;
    r.port(1, "te bri ptp", "network", "ptp", {{}});
    r.port(2, "nt bri ptp", "user", "ptp", {{}});
    r.port(3, "te e1 ptp", "network", "e1", {{}});
    r.port(4, "nt bri ptmp", "user", "ptmp", {{}});
    ASSERT_TRUE(r.start({"--port", "1:ptp", "--port", "2:ptp", "--port", "3:ptp:2:2", "--port", "4:ptmp",
                         "--groups", "te(1,3);nt(2)", "--housekeeping", "100", "--loglevel", "1"}));
    harness_proc &h = r.h;

    std::set<std::string> names;
    wait_until([&] { return (names = thread_names(h.pid)).count("tarn.isdn_evc"); }, WAIT_MS);
    for (const char *t : {"tarn.isdn_evc", "tarn.isdn_evh", "tarn.isdn_evs"})
        EXPECT_EQ(names.count(t), 1u) << t;

    // layer 1 of every port comes up, layer 2 of the point-to-point ports
    for (const char *want : {"SNMP:ISDN_LAYER:1:1:1", "SNMP:ISDN_LAYER:1:2:1", "SNMP:ISDN_LAYER:1:3:1",
                             "SNMP:ISDN_LAYER:1:4:1", "SNMP:ISDN_LAYER:2:1:1", "SNMP:ISDN_LAYER:2:2:1",
                             "SNMP:ISDN_LAYER:2:3:1"})
        EXPECT_GE(h.wait_line(want, WAIT_MS), 0) << want;
    EXPECT_GE(h.find("LOG 0 p1 -1: MGMT: SSTATUS: L1_ACTIVATED"), 0);
    EXPECT_GE(h.find("LOG 0 p1 -1: L2: L2Link Up!"), 0);
    EXPECT_GE(h.find("LOG 1 p4 -1: L1: PH L1Link Up!"), 0) << "a bus logs at level 1";
    EXPECT_GE(h.find("LOG 0 p2 -1: L1: PH L1Link Up!"), 0);

    int from = (int)h.lines().size();
    h.send("status");
    ASSERT_GE(h.wait_line("ISDNINFO:4", WAIT_MS, from), 0);
    for (const char *want : {"* Port 1 Type TE Prot. PTP L2Link UP L1Link:UP Blocked:0", "ISDNINFO:1:TE:PTP:1:1:0",
                             "* Port 2 Type NT Prot. PTP L2Link UP L1Link:UP Blocked:0",
                             "* Port 3 Type TE Prot. PTP L2Link UP L1Link:UP Blocked:0",
                             "* Port 4 Type NT Prot. PMP L2Link"})
        EXPECT_GE(h.find(want, from), 0) << want;

    from = (int)h.lines().size();
    h.send("bc te");
    h.send("bc nt 4");
    ASSERT_GE(h.wait_line("BC port=2", WAIT_MS, from), 0);
    EXPECT_GE(h.find("BC port=1 channel=1", from), 0);
    EXPECT_GE(h.find("BC port=2 channel=2", from), 0) << "the mask allows channel 2 only";

    // the line is pulled and plugged again
    from = (int)h.lines().size();
    h.send("l1 1 down");
    ASSERT_GE(h.wait_line("SNMP:ISDN_LAYER:1:1:0", WAIT_MS, from), 0);
    EXPECT_GE(h.wait_line("LOG 0 p1 -1: L1: PH L1Link Down!", WAIT_MS, from), 0);
    EXPECT_GE(h.find("LOG 0 p1 -1: MGMT: SSTATUS: L1_DEACTIVATED", from), 0);
    ASSERT_TRUE(wait_until([&] { return h.count("EVENT CLEAN_UP port=1") >= 3; }, WAIT_MS))
        << "a clean-up for every slot of the port";
    from = (int)h.lines().size();
    h.send("l1 1 up");
    EXPECT_GE(h.wait_line("SNMP:ISDN_LAYER:1:1:1", WAIT_MS, from), 0);
    EXPECT_GE(h.wait_line("LOG 0 p1 -1: L2: L2Link Up!", WAIT_MS, from), 0) << "housekeeping brings layer 2 back";
    from = (int)h.lines().size();
    h.send("status 1");
    EXPECT_GE(h.wait_line("* Port 1 Type TE Prot. PTP L2Link UP L1Link:UP Blocked:0", WAIT_MS, from), 0);
}

TEST(Harness, PortTheDeviceLacksEndsStartUp)
{
    tmp_dir dir;
    std::string sim = dir.file("ports");
    write_file(sim, "1 te bri ptp - - -\n2 nt bri ptp - - -\n");
    harness_proc h;
    ASSERT_TRUE(h.start({"--port", "1", "--port", "5"}, {"TARN_MISDN_SIM=" + sim}, dir.file("out")));
    EXPECT_EQ(h.wait_exit(WAIT_MS), 121);
    std::string err = read_file(h.err);
    EXPECT_NE(err.find("misdn_lib_init: Couldn't Initialize this port 5 since we have only 2 ports\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(h.find("READY"), -1);
}

}  // namespace
