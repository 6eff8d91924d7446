// The library in the harness program against libpri far ends over the
// device layer's UDP ports: start-up and its threads, layer supervision
// lines, status lines, the exit on a port the device lacks, and calls.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
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
        int me = free_local_port();
        std::string peer_ports;
        std::vector<int> far;
        for (size_t i = 0; i < scripts.size(); i++) {
            far.push_back(free_local_port());
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
    wait_until([&] {
        names = thread_names(h.pid);
        return names.count("tarn.isdn_evc") && names.count("tarn.isdn_evh") && names.count("tarn.isdn_evs");
    }, WAIT_MS);
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

TEST(Harness, ThirtyOnePortsStartAndThirtyTwoAreRefused)
{
    tmp_dir dir;
    std::string sim = dir.file("ports"), text;
    std::vector<std::string> args;
    for (int p = 1; p <= 32; p++) {
        text += std::to_string(p) + " te bri ptmp - - -\n";
        args.push_back("--port");
        args.push_back(std::to_string(p) + ":ptmp");
    }
    write_file(sim, text);
    harness_proc refused;
    ASSERT_TRUE(refused.start(args, {"TARN_MISDN_SIM=" + sim}, dir.file("out32")));
    EXPECT_EQ(refused.wait_exit(WAIT_MS), 2);
    EXPECT_GE(refused.find("INIT FAILED 1"), 0);
    args.resize(62);
    harness_proc h;
    ASSERT_TRUE(h.start(args, {"TARN_MISDN_SIM=" + sim}, dir.file("out31")));
    ASSERT_GE(h.wait_line("READY", WAIT_MS), 0);
    h.send("status 31");
    EXPECT_GE(h.wait_line("* Port 31 Type TE Prot. PMP", WAIT_MS), 0);
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

namespace {

// The harness holds no call: no slot in use, no channel taken.
void expect_all_free(harness_proc &h)
{
    int from = (int)h.lines().size();
    h.send("slots");
    h.send("channels");
    h.send("echo free?");
    ASSERT_GE(h.wait_line("free?", WAIT_MS, from), 0);
    EXPECT_EQ(h.find("SLOT port", from), -1) << "every slot free";
    EXPECT_EQ(h.find("CHANNEL_ACTIVE", from), -1);
    EXPECT_EQ(h.find("CHANNEL_PENDING", from), -1);
}

// One frame of a trace as tshark decodes it.
struct frame_row {
    std::string mt, cause, tei, ucmd, restart;
    bool bad = false;
};

// Every frame of a trace, decoded by one tshark run.
std::vector<frame_row> decode(const std::string &trace)
{
    std::vector<frame_row> rows;
    for (const auto &line : tshark_fields(trace, "",
                                          {"q931.message_type", "q931.cause_value", "lapd.tei",
                                           "lapd.control.u_modifier_cmd", "q931.restart_indicator", "_ws.malformed",
                                           "_ws.expert.severity"})) {
        std::vector<std::string> f;
        size_t start = 0;
        for (;;) {
            size_t sp = line.find(' ', start);
            f.push_back(line.substr(start, sp == std::string::npos ? std::string::npos : sp - start));
            if (sp == std::string::npos)
                break;
            start = sp + 1;
        }
        f.resize(7);
        frame_row r{f[0], f[1], f[2], f[3], f[4]};
        r.bad = !f[5].empty();
        for (size_t at = 0; at < f[6].size();) {
            size_t comma = f[6].find(',', at);
            if (strtoul(f[6].substr(at, comma - at).c_str(), nullptr, 0) >= 8388608)
                r.bad = true;
            at = comma == std::string::npos ? f[6].size() : comma + 1;
        }
        rows.push_back(r);
    }
    return rows;
}

// The message types in order, joined with ";".
std::string message_types(const std::vector<frame_row> &rows)
{
    std::string all;
    for (const auto &r : rows)
        if (!r.mt.empty())
            all += r.mt + ";";
    return all;
}

int count_rows(const std::vector<frame_row> &rows, const std::string &mt, const std::string &cause)
{
    int n = 0;
    for (const auto &r : rows)
        n += r.mt == mt && r.cause == cause;
    return n;
}

int bad_rows(const std::vector<frame_row> &rows)
{
    int n = 0;
    for (const auto &r : rows)
        n += r.bad;
    return n;
}

// The pid of the harness's last "CALL pid=N ..." line.
int call_pid(const harness_proc &h)
{
    int at = h.find("CALL pid=");
    if (at < 0)
        return 0;
    return atoi(h.lines()[(size_t)at].c_str() + strlen("CALL pid="));
}

struct line_kind {
    const char *kind;   // the port description
    const char *arg;    // --port of the harness
    const char *role;   // q931peer --role
    const char *line;   // q931peer --line
};

// A test name from the port description: "te bri ptp" gives te_bri_ptp.
std::string kind_name(const ::testing::TestParamInfo<line_kind> &info)
{
    std::string n = info.param.kind;
    for (auto &c : n)
        if (c == ' ')
            c = '_';
    return n;
}

class OutgoingCall : public ::testing::TestWithParam<line_kind> {};

TEST_P(OutgoingCall, RunsEveryMessageWithTheCausesSent)
{
    const line_kind &k = GetParam();
    rig r;
    r.port(1, k.kind, k.role, k.line,
           {{"wait ring 20", "proceeding", "alerting", "answer", "wait hangup_req 20", "wait hangup_ack 5"}});
    ASSERT_TRUE(r.start({"--port", k.arg}));
    harness_proc &h = r.h;
    ASSERT_TRUE(r.peer(0).wait_line("UP", WAIT_MS)) << "both ends of the link agree it is up";
    h.send("call 1 12345 678");
    ASSERT_GE(h.wait_line("CALL pid=", WAIT_MS), 0);
    int pid = call_pid(h);
    std::string ring;
    ASSERT_TRUE(r.peer(0).wait_line("RING", WAIT_MS, &ring));
    EXPECT_NE(ring.find("called=12345 calling=678"), std::string::npos) << ring;
    ASSERT_GE(h.wait_line("EVENT CONNECT port=1 pid=" + std::to_string(pid), WAIT_MS), 0);
    EXPECT_GE(h.find("EVENT PROCEEDING port=1"), 0);
    EXPECT_GE(h.find("EVENT ALERTING port=1"), 0);
    h.send("disconnect " + std::to_string(pid) + " 31");
    std::string req;
    ASSERT_TRUE(r.peer(0).wait_line("HANGUP_REQ", WAIT_MS, &req));
    EXPECT_NE(req.find("cause=31"), std::string::npos) << req;
    ASSERT_TRUE(r.peer(0).wait_line("HANGUP_ACK", WAIT_MS));
    ASSERT_GE(h.wait_line("EVENT CLEAN_UP port=1 pid=" + std::to_string(pid), WAIT_MS), 0);
    EXPECT_GE(h.find("EVENT RELEASE port=1 pid=" + std::to_string(pid)), 0);
    expect_all_free(h);
    usleep(200000);

    auto rows = decode(r.trace(1));
    EXPECT_EQ(message_types(rows), "0x05;0x02;0x01;0x07;0x0f;0x45;0x4d;0x5a;");
    EXPECT_EQ(count_rows(rows, "0x45", "31"), 1);
    EXPECT_EQ(bad_rows(rows), 0);
}

INSTANTIATE_TEST_SUITE_P(Lines, OutgoingCall,
                         ::testing::Values(line_kind{"te bri ptp", "1:ptp", "network", "ptp"},
                                           line_kind{"te bri ptmp", "1:ptmp", "network", "ptmp"},
                                           line_kind{"te e1 ptp", "1:ptp:2:2", "network", "e1"},
                                           line_kind{"nt bri ptp", "1:ptp", "user", "ptp"},
                                           line_kind{"nt e1 ptp", "1:ptp:2:2", "user", "e1"}),
                         kind_name);

class IncomingCall : public ::testing::TestWithParam<line_kind> {};

TEST_P(IncomingCall, IsAnsweredAndClearedByTheFarEnd)
{
    const line_kind &k = GetParam();
    rig r;
    r.port(1, k.kind, k.role, k.line, {{"wait up 20", "sleep 200", "dial 4711 0815", "wait answer 20", "hangup 21",
                                        "wait hangup 10"}});
    ASSERT_TRUE(r.start({"--port", k.arg}));
    harness_proc &h = r.h;
    h.send("autoanswer answer");
    ASSERT_GE(h.wait_line("EVENT SETUP port=1", WAIT_MS), 0);
    EXPECT_GE(h.find("oad=0815 dad=4711"), 0);
    ASSERT_GE(h.wait_line("EVENT DISCONNECT port=1", WAIT_MS), 0);
    EXPECT_GE(h.find("cause=21", h.find("EVENT DISCONNECT port=1")), 0);
    ASSERT_GE(h.wait_line("EVENT CLEAN_UP port=1", WAIT_MS), 0);
    ASSERT_TRUE(r.peer(0).wait_line("HANGUP", WAIT_MS));
    expect_all_free(h);
    usleep(200000);
    auto rows = decode(r.trace(1));
    // a network acknowledges the CONNECT it gets; a user need not
    EXPECT_EQ(message_types(rows), std::string(k.role) == "network" ? "0x05;0x02;0x01;0x07;0x0f;0x45;0x4d;0x5a;"
                                                                    : "0x05;0x02;0x01;0x07;0x45;0x4d;0x5a;");
    EXPECT_EQ(count_rows(rows, "0x45", "21"), 1);
    EXPECT_EQ(bad_rows(rows), 0);
}

INSTANTIATE_TEST_SUITE_P(Lines, IncomingCall,
                         ::testing::Values(line_kind{"te bri ptp", "1:ptp", "network", "ptp"},
                                           line_kind{"te e1 ptp", "1:ptp:2:2", "network", "e1"},
                                           line_kind{"nt bri ptp", "1:ptp", "user", "ptp"}),
                         kind_name);

TEST(Calls, SetupWithEverySlotBusyGetsReleaseCompleteCause34)
{
    rig r;
    r.port(1, "te bri ptp", "network", "ptp",
           {{"wait up 20", "dial 1", "sleep 300", "dial 2", "sleep 300", "dial 3", "wait hangup 10"}});
    ASSERT_TRUE(r.start({"--port", "1:ptp"}));
    harness_proc &h = r.h;
    h.send("autoanswer proceeding");
    std::string hangup;
    ASSERT_TRUE(r.peer(0).wait_line("HANGUP", WAIT_MS, &hangup));
    EXPECT_NE(hangup.find("cause=34"), std::string::npos) << hangup;
    int from = (int)h.lines().size();
    h.send("slots");
    ASSERT_GE(h.wait_line("SLOTS END", WAIT_MS, from), 0);
    auto lines = h.lines();
    int in_use = 0;
    for (size_t i = (size_t)from; i < lines.size(); i++)
        in_use += lines[i].rfind("SLOT port=1", 0) == 0;
    EXPECT_EQ(in_use, 2);
    EXPECT_EQ(h.count("EVENT SETUP"), 2) << "the third SETUP never reaches call control";
    usleep(200000);
    auto rows = decode(r.trace(1));
    EXPECT_EQ(count_rows(rows, "0x5a", "34"), 1);
    EXPECT_EQ(bad_rows(rows), 0);
}

TEST(Calls, NtBusOffersTheCallToTwoTerminals)
{
    rig r;
    std::string go = r.dir.file("go");
    r.port(1, "nt bri ptmp", "user", "ptmp",
           {{"wait ring 20", "alerting", "wait hangup 20"},
            {"wait ring 20", "waitfile " + go + " 20", "answer", "wait hangup_req 20"}});
    ASSERT_TRUE(r.start({"--port", "1:ptmp"}));
    harness_proc &h = r.h;
    usleep(500000);  // the terminals take their TEIs
    h.send("call 1 201 444");
    ASSERT_GE(h.wait_line("CALL pid=", WAIT_MS), 0);
    int pid = call_pid(h);
    ASSERT_TRUE(r.peer(0).wait_line("RING", WAIT_MS));
    ASSERT_TRUE(r.peer(1).wait_line("RING", WAIT_MS));
    ASSERT_GE(h.wait_line("EVENT ALERTING port=1 pid=" + std::to_string(pid), WAIT_MS), 0);
    write_file(go, "");
    ASSERT_GE(h.wait_line("EVENT CONNECT port=1 pid=" + std::to_string(pid), WAIT_MS), 0);
    std::string lost;
    ASSERT_TRUE(r.peer(0).wait_line("HANGUP", WAIT_MS, &lost));
    EXPECT_NE(lost.find("cause=26"), std::string::npos) << lost;
    h.send("disconnect " + std::to_string(pid) + " 16");
    ASSERT_TRUE(r.peer(1).wait_line("HANGUP_REQ", WAIT_MS));
    ASSERT_GE(h.wait_line("EVENT CLEAN_UP port=1 pid=" + std::to_string(pid), WAIT_MS), 0);
    expect_all_free(h);
    usleep(200000);
    auto rows = decode(r.trace(1));
    std::string all;
    for (const auto &f : rows)
        if (!f.mt.empty())
            all += f.tei + " " + f.mt + ";";
    EXPECT_NE(all.find("127 0x05"), std::string::npos) << "SETUP to the group TEI: " << all;
    EXPECT_EQ(count_rows(rows, "0x4d", "26"), 1) << all;
    for (const char *want : {" 0x01", " 0x07", " 0x0f", " 0x45", " 0x4d", " 0x5a"})
        EXPECT_NE(all.find(want), std::string::npos) << want << " missing in " << all;
    EXPECT_EQ(bad_rows(rows), 0);
}

TEST(Calls, LinkLossRestartsAndPortRestartShowsDiscAndSabme)
{
    rig r;
    r.port(1, "te bri ptp", "network", "ptp",
           {{"wait ring 20", "proceeding", "alerting", "answer", "wait restart 20", "sleep 5000"}});
    // housekeeping passes a second apart, as the core's do: its port restart
    // comes after RELEASE COMPLETE and RESTART have left
    ASSERT_TRUE(r.start({"--port", "1:ptp", "--linkloss", "1:1", "--housekeeping", "1000"}));
    harness_proc &h = r.h;
    ASSERT_TRUE(r.peer(0).wait_line("UP", WAIT_MS));
    h.send("call 1 12345 678");
    ASSERT_GE(h.wait_line("CALL pid=", WAIT_MS), 0);
    int pid = call_pid(h);
    ASSERT_GE(h.wait_line("EVENT CONNECT port=1 pid=" + std::to_string(pid), WAIT_MS), 0);
    h.send("l1 1 down");
    ASSERT_TRUE(wait_until([&] { return h.count("EVENT CLEAN_UP port=1") >= 3; }, WAIT_MS));
    h.send("l1 1 up");
    ASSERT_GE(h.wait_line("EVENT RELEASE_COMPLETE port=1 pid=" + std::to_string(pid), WAIT_MS), 0);
    ASSERT_TRUE(r.peer(0).wait_line("RESTART", WAIT_MS));
    ASSERT_TRUE(r.peer(0).wait_line("HANGUP", WAIT_MS)) << "the call is cleared at the far end";
    int restarted = h.wait_line("restarting isdn port 1", WAIT_MS);
    ASSERT_GE(restarted, 0);
    EXPECT_GT(restarted, h.find("EVENT RELEASE_COMPLETE port=1")) << "no restart for the first activation at start";
    int down = h.wait_line("LOG 0 p1 -1: L2: L2Link Down!", WAIT_MS, restarted);
    ASSERT_GE(down, 0) << "the restart releases layer 2";
    EXPECT_GE(h.wait_line("LOG 0 p1 -1: L2: L2Link Up!", WAIT_MS, down), 0) << "and housekeeping brings it back";
    expect_all_free(h);
    EXPECT_EQ(h.count("restarting isdn port"), 1);
    usleep(200000);

    auto rows = decode(r.trace(1));
    std::string restart_ind, seq;
    int release_complete = 0;
    for (const auto &f : rows) {
        if (f.mt == "0x46")
            restart_ind = f.restart;
        release_complete += f.mt == "0x5a";
        if (f.ucmd == "0x10" || f.ucmd == "0x1b")
            seq += f.ucmd + ";";
    }
    EXPECT_NE(restart_ind, "") << "RESTART carries the Restart indicator";
    EXPECT_GE(release_complete, 1);
    EXPECT_NE(seq.find("0x10;0x1b;"), std::string::npos) << "DISC then SABME: " << seq;
    EXPECT_EQ(bad_rows(rows), 0);
}

}  // namespace
