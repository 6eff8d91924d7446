// The console's SIP test requests through the whole daemon: "smsg:" sends a
// MESSAGE through a SIP peer and "tno" the NOTIFY provisioning trigger; a
// sipp UAS in the daemon's world answers both, and its message trace shows
// what reached it. The commands go over the status server.
#include <gtest/gtest.h>

#include <string>

#include "console_e2e_util.h"
#include "run_process.h"
#include "sipp_case.h"

namespace {

const int PEER_PORT = 5990;

// Answers two requests (MESSAGE, NOTIFY) with 200, each a call of its own.
const char *UAS = R"xml(<?xml version="1.0" encoding="ISO-8859-1" ?>
<scenario name="uas">
<recv request="(MESSAGE|NOTIFY)" regexp_match="true"/>
<send><![CDATA[

SIP/2.0 200 OK
[last_Via:]
[last_From:]
[last_To:];tag=[pid]SIPpTag[call_number]
[last_Call-ID:]
[last_CSeq:]
Content-Length: 0

]]></send>
</scenario>
)xml";

TEST(SipMessagesE2E, MessageAndNotifyThroughAPeer)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      "[general]\nsip_bindport_localhost = @SIP_PORT@\n"
                      "[grp]\nsip_stack=localhost\nsip_proxy=127.0.0.2:" + std::to_string(PEER_PORT) +
                          "\nuser=100\n");
    w.root.write("uas.xml", UAS);
    std::string trace = w.root.path("uas.msg");
    e2e_child uas(w, "uas",
                  {"sipp", "-sf", w.root.path("uas.xml"), "-i", "127.0.0.2", "-p", std::to_string(PEER_PORT), "-m",
                   "2", "-nostdin", "-timeout", "100s", "-timeout_error", "-trace_msg", "-message_file", trace});
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();
    ASSERT_TRUE(console_e2e_listening(w));

    EXPECT_EQ(console_e2e_ask(w, "smsg:nogrp|1|x"), "port group nogrp does not exist\n\r\n");
    EXPECT_EQ(console_e2e_ask(w, "tno99"), "No port group at index 99\n\r\n");

    std::string sent = console_e2e_ask(w, "smsg:grp|123|hi");
    EXPECT_NE(sent.find(" to sip:123@127.0.0.2\nSEND: NUA_MESSAGE => hi\n\r\n"), std::string::npos) << sent;
    EXPECT_EQ(sent.rfind("message from sip:100@", 0), 0u) << sent;
    ASSERT_TRUE(e2e_world::wait_for([&] { return read_text_file(trace).find("\nhi") != std::string::npos; }, E2E_WAIT_MS))
        << read_text_file(trace);
    std::string t = read_text_file(trace);
    EXPECT_NE(t.find("MESSAGE sip:123@"), std::string::npos) << t;
    EXPECT_NE(t.find("Content-Type: text/plain"), std::string::npos) << t;

    std::string notify = console_e2e_ask(w, "tno0");
    EXPECT_EQ(notify.rfind("Sending NOTIFY trigger event to port group grp at sip:127.0.0.2:" +
                               std::to_string(PEER_PORT),
                           0),
              0u)
        << notify;
    // Both requests answered: sipp ends with success.
    EXPECT_EQ(uas.wait_exit(30000), 0) << read_text_file(uas.out) << read_text_file(trace);
    t = read_text_file(trace);
    EXPECT_NE(t.find("NOTIFY sip:"), std::string::npos) << t;
    EXPECT_NE(t.find("Event: resync"), std::string::npos) << t;
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
