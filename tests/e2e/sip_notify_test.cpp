// NOTIFY requests of the gateway's SIP peers against the running daemon:
// message summaries from the peer's address (the message-waiting state of
// the first FXS port with that number) and from elsewhere, summaries
// without a state, resync requests with and without the peer's permission
// (the marker file, exactly one answer).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>

#include "linesim_client.h"
#include "sipp_case.h"

namespace {

// A NOTIFY for user 201 and the answer sipp must get (status and phrase).
std::string notify_scenario(const std::string &event, const std::string &type, const std::string &body, int status,
                            const std::string &phrase)
{
    std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<scenario name=\"NOTIFY\">\n"
                    "<send retrans=\"500\"><![CDATA[\n\n"
                    "NOTIFY sip:201@[remote_ip]:[remote_port] SIP/2.0\n"
                    "Via: SIP/2.0/[transport] [local_ip]:[local_port];branch=[branch]\n"
                    "Max-Forwards: 70\n"
                    "From: <sip:201@[local_ip]:[local_port]>;tag=[call_number]\n"
                    "To: <sip:201@[remote_ip]:[remote_port]>\n"
                    "Call-ID: [call_id]\n"
                    "CSeq: 1 NOTIFY\n"
                    "Contact: <sip:201@[local_ip]:[local_port]>\n"
                    "Event: " + event + "\n"
                    "Subscription-State: active\n";
    if (!type.empty())
        s += "Content-Type: " + type + "\n";
    s += "Content-Length: [len]\n\n" + body + "\n]]></send>\n";
    s += "<recv response=\"" + std::to_string(status) +
         "\"><action><ereg regexp=\"SIP/2.0 [0-9]+ " + phrase +
         "\" search_in=\"msg\" check_it=\"true\" assign_to=\"p\"/></action></recv>\n"
         "<Reference variables=\"p\"/>\n</scenario>\n";
    return s;
}

const char *MWI = "application/simple-message-summary";

class SipNotify : public ::testing::Test {
protected:
    void start(bool resync)
    {
        std::string sip = "[general]\nsip_bindport_localhost = @SIP_PORT@\n"
                          "[peer]\nsip_stack=localhost\nsip_proxy=127.0.0.2\nuser=201\n";
        if (resync)
            sip += "config=resync_on_notify=1\n";
        sipp_write_config(w, "usr/conf/tarn.sip", sip);
        ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();
    }
    process_result send(const std::string &name, const std::string &scenario, const std::string &source)
    {
        std::string path = w.root.path(name + ".xml");
        std::ofstream(path) << scenario;
        return sipp_run(w, {path, 1, source, {}});
    }
    bool marker() const
    {
        struct stat st;
        return lstat(w.root.path("tmp/provisioning.triggered").c_str(), &st) == 0;
    }
    // Two FXS ports against analogsim, both with the peer's user as their
    // number.
    void phones()
    {
        w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv2FXS\n");
        w.root.write("usr/conf/tarn.analog", "[phones]\nports=1,2\nclip=201\n");
        analog = std::make_unique<linesim>("sim/analogsim/analogsim.py", w.root.dir,
                                           std::vector<std::string>{"--port", "1:type=FXS", "--port", "2:type=FXS"});
        ASSERT_TRUE(analog->running());
    }
    // The message-waiting state the console lists for an analog port, -1
    // when the listing does not come.
    int message_waiting(int port)
    {
        std::string line = "Port " + std::to_string(port) + " => Message Waiting                      : ";
        size_t from = w.tarn_out().size();
        w.console("lpga");
        if (!e2e_world::wait_for([&] { return w.tarn_out().find(line, from) != std::string::npos; }, E2E_WAIT_MS))
            return -1;
        std::string out = w.tarn_out();
        return atoi(out.c_str() + out.find(line, from) + line.size());
    }
    int notify_answers()
    {
        std::vector<std::string> r = sipp_captured_responses(w);
        return (int)std::count_if(r.begin(), r.end(),
                                  [](const std::string &s) { return s.find(" NOTIFY") != std::string::npos; });
    }

    e2e_world w{sipp_world_options()};
    std::unique_ptr<linesim> analog;
};

TEST_F(SipNotify, MessageSummaries)
{
    E2E_REQUIRE(w);
    phones();
    start(false);
    ASSERT_EQ(message_waiting(1), 0) << w.tarn_out();
    EXPECT_TRUE(sipp_ok(send("mwi", notify_scenario("message-summary", MWI, "Messages-Waiting: yes", 200, "OK"),
                             "127.0.0.2")));
    // The first port with the number takes the state, the second not.
    EXPECT_EQ(message_waiting(1), 1) << w.tarn_out();
    EXPECT_EQ(message_waiting(2), 0) << w.tarn_out();
    EXPECT_TRUE(sipp_ok(send("stranger",
                             notify_scenario("message-summary", MWI, "Messages-Waiting: yes", 481,
                                             "Account does not exist!"),
                             "127.0.0.3")));
    EXPECT_TRUE(sipp_ok(send("nostate",
                             notify_scenario("message-summary", MWI, "Voice-Message: 1/0", 481,
                                             "Content not supported 2"),
                             "127.0.0.2")));
    EXPECT_TRUE(sipp_ok(send("mwi_off", notify_scenario("message-summary", MWI, "Messages-Waiting: no", 200, "OK"),
                             "127.0.0.2")));
    EXPECT_EQ(message_waiting(1), 0) << w.tarn_out();
    EXPECT_TRUE(sipp_ok(send("plain", notify_scenario("message-summary", "text/plain", "hello", 481,
                                                      "Content not supported"),
                             "127.0.0.2")));
    EXPECT_EQ(sipp_stop_tarn(w), "");
    EXPECT_EQ(notify_answers(), 5);
}

TEST_F(SipNotify, ResyncAllowedLeavesTheMarker)
{
    E2E_REQUIRE(w);
    start(true);
    EXPECT_TRUE(sipp_ok(send("resync", notify_scenario("resync", "", "", 200, "OK"), "127.0.0.2")));
    EXPECT_TRUE(w.wait_out("S IND : Accepting NOTIFY resync event on sip peer peer from IP 127.0.0.2", E2E_WAIT_MS));
    EXPECT_TRUE(marker());
    EXPECT_EQ(sipp_stop_tarn(w), "");
    EXPECT_EQ(notify_answers(), 1) << "one answer only";
}

TEST_F(SipNotify, ResyncForbiddenWithoutPermission)
{
    E2E_REQUIRE(w);
    start(false);
    // A link planted where the marker goes is not followed.
    std::string victim = w.root.path("victim");
    ASSERT_EQ(symlink(victim.c_str(), w.root.path("tmp/provisioning.triggered").c_str()), 0);
    EXPECT_TRUE(sipp_ok(send("resync", notify_scenario("resync", "", "", 403, "Forbidden"), "127.0.0.2")));
    EXPECT_TRUE(w.wait_out("S IND : Rejecting NOTIFY resync event on sip peer peer from IP 127.0.0.2", E2E_WAIT_MS));
    EXPECT_NE(access(victim.c_str(), F_OK), 0);
    EXPECT_EQ(sipp_stop_tarn(w), "");
    EXPECT_EQ(notify_answers(), 1) << "one answer only";
}

} // namespace
