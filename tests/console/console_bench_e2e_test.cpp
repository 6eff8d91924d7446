// The media processor bench commands of the console through the status
// server of the whole daemon (demo configuration, simulated media processor,
// its own network namespace): what the console answers and what the media
// processor receives.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "application.h"
#include "console_test_util.h"
#include "e2e.h"
#include "json_value.h"
#include "mc_options.h"

namespace {

const int PORT = 54322;

std::string source(const std::string &rel)
{
    return std::string(TARN_SOURCE_DIR) + "/" + rel;
}

void write_demo_conf(e2e_world &w)
{
    for (const char *f : {"tarn.conf", "misc.conf", "tarn.tdm"})
        w.root.write(std::string("usr/conf/") + f, read_text_file(source(std::string("demo/conf/") + f)));
}

bool console_listens(const e2e_world &w)
{
    return e2e_world::wait_for(
        [&] { return w.ns.run({"ss", "-ltnH"}).out.find(":54322 ") != std::string::npos; }, 10000);
}

// A console session inside the daemon's namespace: one line, its whole
// answer (up to the "\r\n" the dispatcher ends every answer with).
struct session {
    console_conn c{PORT};
    session() { c.read_until(CONSOLE_GREETING); }
    std::string ask(const std::string &line)
    {
        c.send(line + "\n");
        return c.read_until("\r\n");
    }
};

// The commands the daemon sent since `from` (frames from the daemon).
std::vector<json_value> sent_since(const e2e_world &w, size_t from)
{
    std::vector<json_value> in = w.root.msp()->frames("in");
    return std::vector<json_value>(in.begin() + (long)std::min(from, in.size()), in.end());
}

// The first of them with that name (on that channel), or an empty value.
json_value first_named(const std::vector<json_value> &frames, const std::string &name, long channel = -1)
{
    for (const json_value &f : frames)
        if (f["name"].str() == name && (channel < 0 || f["channel"].num() == channel))
            return f;
    return json_value();
}

bool found(const json_value &v)
{
    return !v.o.empty();
}

// Waits until the simulator recorded a command of that name after `from`.
bool wait_sent(const e2e_world &w, size_t from, const std::string &name)
{
    return e2e_world::wait_for([&] { return found(first_named(sent_since(w, from), name)); }, 10000);
}

class ConsoleBench : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN);
    }
};

TEST_F(ConsoleBench, TimeslotTestsAndFirmware)
{
    e2e_options o;
    o.capture = false;
    o.msp_args = {"--firmware", "mspsim-fw-7.2"};
    e2e_world w(o);
    E2E_REQUIRE(w);
    write_demo_conf(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    ASSERT_TRUE(console_listens(w));
    e2e_namespace::net_guard inside(w.ns);
    ASSERT_TRUE(inside.ok());
    session s;

    EXPECT_EQ(s.ask("fw"), "FIRMWARE VERSION: mspsim-fw-7.2\n\r\n");

    // Refusals send nothing.
    size_t mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("bridge5:5"), "timeslots 5 and 5 are equal, not bridging\n\r\n");
    EXPECT_EQ(s.ask("callts9999"), "invalid timeslot 9999\n\r\n");
    EXPECT_EQ(s.ask("callts12a"), "invalid timeslot 12a\n\r\n");
    EXPECT_EQ(s.ask("bridge3:512"), "invalid timeslot 512\n\r\n");
    EXPECT_EQ(s.ask("testmsp0:600:10.0.0.2:5004"), "invalid timeslot 600\n\r\n");
    EXPECT_EQ(s.ask("t1t0:1"), "No active call on index 0\n\r\n");
    EXPECT_EQ(sent_since(w, 0).size(), mark) << "a refused command reached the media processor";

    // A channel on timeslot 3 toward the dummy RTP port, then its end.
    EXPECT_EQ(s.ask("callts3"), "\r\n");
    ASSERT_TRUE(wait_sent(w, mark, "FC_VOIP_VOPENA")) << w.tarn_out();
    json_value create = first_named(sent_since(w, mark), "FC_SUPVSR_CREATE_CHANNEL");
    EXPECT_EQ(create["fields"]["timeslot"].num(), 3);
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("calltsx"), "cleaning up test co 1\n\r\n");
    EXPECT_TRUE(wait_sent(w, mark, "FC_SUPVSR_DESTROY_CHANNEL"));
    EXPECT_EQ(s.ask("calltsx"), "\r\n");

    // Two active test calls (indexes 0 and 1) bridged inside the processor,
    // then looped over fresh timeslots: local ports from 50000, four more
    // on the next run.
    EXPECT_EQ(s.ask("bridge3:4"), "using logical timeslots 3 and 4\nbridging timeslots\n\r\n");
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("t1t10:11"), "Bridging co1 with ts 3 to ts 10\nBridging co2 with ts 4 to ts 11\n\r\n");
    // The RTP ends of the IP headers sent since `from`, "local>remote".
    auto rtp_ends = [&](size_t from) {
        std::vector<std::string> ends;
        for (const json_value &f : sent_since(w, from))
            if (f["name"].str() == "FC_SET_IP_HDR_CHANNEL")
                ends.push_back(std::to_string(f["fields"]["udp_source_port"].num()) + ">" +
                               std::to_string(f["fields"]["udp_destination_port"].num()));
        return ends;
    };
    auto has = [](const std::vector<std::string> &v, const std::string &x) {
        return std::find(v.begin(), v.end(), x) != v.end();
    };
    ASSERT_TRUE(e2e_world::wait_for([&] { return has(rtp_ends(mark), "50001>50003"); }, 10000));
    EXPECT_TRUE(has(rtp_ends(mark), "50000>50002"));
    mark = w.root.msp()->frames("in").size();
    EXPECT_EQ(s.ask("t1t12:13"), "Bridging co1 with ts 3 to ts 12\nBridging co2 with ts 4 to ts 13\n\r\n");
    ASSERT_TRUE(e2e_world::wait_for([&] { return has(rtp_ends(mark), "50005>50007"); }, 10000));
    EXPECT_TRUE(has(rtp_ends(mark), "50004>50006"));

    EXPECT_EQ(s.ask("teststopmsp"), "\r\n");
    EXPECT_EQ(s.ask("calltsx"), "\r\n"); // both test calls are gone

    // An RTP test on test call object 2 toward a peer of the namespace.
    mark = w.root.msp()->frames("in").size();
    std::string t = s.ask("testmsp1:5:10.0.0.2:5004");
    EXPECT_EQ(t.rfind("Using Test Call Object 2\nparsed: timeslot 5: ip 10.0.0.2 rtpport 5004\n"
                      "starting msp test, logical timeslot 5, remote ip 10.0.0.2, remote port 5004 local port ",
                      0),
              0u)
        << t;
    EXPECT_NE(t.find(" codec 8\n\r\n"), std::string::npos) << t;
    ASSERT_TRUE(e2e_world::wait_for([&] { return !rtp_ends(mark).empty(); }, 10000));
    EXPECT_EQ(rtp_ends(mark).back().substr(rtp_ends(mark).back().find('>')), ">5004");
    EXPECT_EQ(s.ask("testmsp1:5:10.0.0.2"), "Using Test Call Object 2\nstopping active msp test\n"
                                            "parsed: timeslot 5: ip 10.0.0.2 rtpport \n"
                                            "not starting test, insufficient data\n\r\n");
    EXPECT_EQ(s.ask("teststopmsp"), "\r\n");
    EXPECT_EQ(s.ask("lkx"), "redirect_two_timeslots\n\r\n");

    // Commands on calls that are not there.
    EXPECT_EQ(s.ask("vor1"), "No active call on index 1\n\r\n");
    EXPECT_EQ(s.ask("srtp1"), "cannot srtp_stat, couldn't retrieve call object at index 1\n\r\n");
    EXPECT_EQ(s.ask("ttestx"), "no type given\n\r\n");
    EXPECT_EQ(s.ask("ttestrde"), "no active ISDN calls on index 0 and 1\n\r\n");
    EXPECT_EQ(s.ask("mlts"), "\r\n");
    w.stop_tarn();
}

} // namespace
