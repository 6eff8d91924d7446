// The console's SIP tests on a running call through the whole daemon, over
// the status server: sipp calls out to an ISDN port whose libpri far end
// answers; "sidc" sends SIP INFO with X-DV_MESSAGE on it and "rit" a T.38
// re-INVITE, which sipp checks and answers; "rit" on a free index sends
// nothing.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "console_e2e_util.h"
#include "sipp_case.h"

namespace {

TEST(ConsoleCallE2E, InfoAndT38ReinviteOnACall)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    sipp_keep_on_failure(w);
    int gw = free_local_port(), far = free_local_port();
    // The LAN stack's address goes into the Contact of the re-INVITE.
    sipp_write_config(w, "usr/conf/tarn.sip",
                      "[general]\nsip_bindport_localhost = @SIP_PORT@\nstack_active_lan = 1\n"
                      "interface_name_lan = eth1\n");
    w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=1,1,0,0\n");
    w.root.write("usr/conf/tarn.isdn", "[te]\nports=1\n");
    w.root.write("usr/conf/tarn.tdm", "timeslot 0 1 1 0\ntimeslot 0 1 2 1\n");
    w.root.write("usr/conf/tarn.dialplan", "SIP\tISDN\t*\t1\t1.*\t\\0\t*\t\\0\t\n");
    w.root.write("misdn.ports", "1 te bri ptp " + std::to_string(gw) + " " + std::to_string(far) + " " +
                                    w.root.path("port1.trace") + "\n");
    e2e_q931_peer q(w, {"--role", "network", "--line", "ptp", "--local", std::to_string(far), "--peer",
                        std::to_string(gw), "-e", "wait ring 60", "-e", "proceeding", "-e", "alerting", "-e",
                        "sleep 200", "-e", "answer", "-e", "wait hangup_req 90"});
    ASSERT_TRUE(q.wait("READY", 10000)) << read_text_file(q.out);
    ASSERT_TRUE(sipp_start_tarn(w, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")})) << w.tarn_err();
    ASSERT_TRUE(q.wait("UP", 20000)) << read_text_file(q.out);
    ASSERT_TRUE(console_e2e_listening(w));

    std::string trace = w.root.path("uac.msg");
    auto uac = std::async(std::launch::async, [&] {
        return w.ns.run({"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/console/console_call_uac.xml",
                         "127.0.0.1:" + std::to_string(w.root.sip_port), "-m", "1", "-i", "127.0.0.1", "-p",
                         "5895", "-mp", "16000", "-key", "to", "1001", "-timeout", "150s", "-timeout_error",
                         "-nostdin", "-trace_msg", "-message_file", trace},
                        "", {}, 180);
    });
    // The call is established once sipp has sent its ACK.
    ASSERT_TRUE(e2e_world::wait_for([&] { return read_text_file(trace).find("ACK sip:") != std::string::npos; },
                                    60000))
        << read_text_file(trace) << w.tarn_out();

    EXPECT_EQ(console_e2e_ask(w, "rit5"), "Do not have active call on index 5\n\r\n");
    EXPECT_EQ(console_e2e_ask(w, "sidc0"), "Sending Sip Info Disconnect Message to Call at index 0\n\r\n");
    EXPECT_TRUE(e2e_world::wait_for([&] { return read_text_file(trace).find("INFO sip:") != std::string::npos; },
                                    20000))
        << read_text_file(trace);
    EXPECT_EQ(console_e2e_ask(w, "rit0"), "Sending T.38 reinvite on call on index 0\n\r\n");
    process_result r = uac.get();
    EXPECT_TRUE(sipp_ok(r)) << read_text_file(trace);
    EXPECT_TRUE(q.wait("HANGUP_REQ", 30000)) << read_text_file(q.out);
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
