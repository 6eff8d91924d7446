// The daemon brings its lines up at start: ISDN ports against a libpri far
// end, analog ports against analogsim and CAS channels against cassim.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "e2e.h"
#include "linesim_client.h"
#include "run_process.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// Port 1 a TE point-to-point BRI wired to the peer, ports 2 and 3 multipoint
// ports without a far end; the hardware description says the same.
TEST(LinesDaemon, IsdnPortsComeUpAndACallWithoutRouteIsReleased)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv4S0\nptp=1,0,0,0\n");
    w.root.write("usr/conf/tarn.isdn", "[pbx]\nports=1,2\n[trunk]\nports=3\n");
    w.root.write("misdn.ports", "1 te bri ptp 40001 40002 " + w.root.path("port1.trace") +
                                    "\n2 te bri ptmp - - -\n3 te bri ptmp - - -\n");
    // the call once the daemon is up: ISDN events before that are ignored
    std::string go = w.root.path("go");
    e2e_q931_peer peer(w, {"--role", "network", "--line", "ptp", "--local", "40002", "--peer", "40001", "-e",
                           "wait up 30", "-e", "waitfile " + go + " 30", "-e", "dial 1234 5678", "-e", "wait hangup 20"});
    ASSERT_TRUE(peer.wait("READY", 10000)) << read_text_file(peer.out);
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")}))
        << w.tarn_err();
    w.root.write("go", "");
    EXPECT_TRUE(w.wait_out("using ports: 1ptp,2,3")) << w.tarn_out();
    EXPECT_TRUE(has(w.tarn_out(), "ALLOCATING 7 CALL OBJECTS")) << w.tarn_out(); // (3 x 2 + 1) x 1.1
    // no dial plan: cause 17 of the default cause map
    EXPECT_TRUE(peer.wait("HANGUP cause=17")) << read_text_file(peer.out);
    EXPECT_TRUE(w.tarn_running());
    // no CAS group: the CAS library is not started and nothing is printed
    EXPECT_FALSE(has(w.tarn_out(), "CAS PORTNU"));
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

// A configuration file whose headers inherit from what inherited before
// (each line doubles a category) is refused with the line that says so, and
// start-up ends as for any file that fails to load, instead of filling the
// board's memory.
TEST(LinesDaemon, InheritanceDoublingIsRefused)
{
    e2e_world w;
    E2E_REQUIRE(w);
    std::string cas = "[t1]\nports=1\n";
    for (int i = 0; i < 40; i++)
        cas += "[t1](+,t1)\n";
    w.root.write("usr/conf/tarn.cas", cas);
    EXPECT_EQ(w.run_tarn_to_exit(), 99) << w.tarn_err();
    EXPECT_TRUE(has(w.tarn_out(), "Inheritance of 't1' would copy more than 100000 variables in all, line 19 of "))
        << w.tarn_out();
    EXPECT_TRUE(has(w.tarn_err(), "Failed reading cas config")) << w.tarn_err();
}

// A primary-rate port counts 30 calls in the call-object pool.
TEST(LinesDaemon, PrimaryRatePortSizesThePool)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/hardware.conf", "[lif0]\ntype=dv1E1\n");
    w.root.write("usr/conf/tarn.isdn", "[trunk]\nports=1\n");
    w.root.write("misdn.ports", "1 te e1 ptp - - -\n");
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, {"TARN_MISDN_SIM=" + w.root.path("misdn.ports")}))
        << w.tarn_err();
    EXPECT_TRUE(has(w.tarn_out(), "using ports: 1ptp")) << w.tarn_out();
    EXPECT_TRUE(has(w.tarn_out(), "ALLOCATING 34 CALL OBJECTS")) << w.tarn_out(); // (30 + 1) x 1.1
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

TEST(LinesDaemon, IsdnPortOutsideTheListEndsStartUp)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.isdn", "[isdn]\nports=1,40\n");
    EXPECT_EQ(w.run_tarn_to_exit(), 89) << w.tarn_err();
    EXPECT_TRUE(has(w.tarn_err(), "ignoring isdn bogus port 40\n")) << w.tarn_err();
    EXPECT_TRUE(has(w.tarn_err(), "init_application: ISDN init failed!\n")) << w.tarn_err();
    EXPECT_TRUE(has(w.tarn_out(), "CRITICAL: ISDN ports not configured correctly")) << w.tarn_out();
}

// Analog ports 1 (FXS) and 2 (FXO), and the channels of one T1 line whose
// CAS interface the driver reports connected.
TEST(LinesDaemon, AnalogAndCasLines)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/hardware.conf",
                 "[lif0]\ntype=dv2FXS\n[lif1]\ntype=dv2t1e1\ninterface_type=cas,cas\nprotocol=t1,t1\n");
    w.root.write("usr/conf/tarn.analog", "[phones]\nports=1,2,40\ntones=[us]\n");
    w.root.write("usr/conf/tarn.cas", "[t1]\nports=1,2\n");
    linesim analog("sim/analogsim/analogsim.py", w.root.dir, {"--port", "1:type=FXS", "--port", "2:type=FXO"});
    ASSERT_TRUE(analog.running());
    linesim cas("sim/cassim/cassim.py", w.root.dir,
                {"--channel", "0/1:role=plain", "--channel", "0/2:role=plain", "--connected", "1:0"}, "cassim");
    ASSERT_TRUE(cas.running());
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::string err = w.tarn_err(), out = w.tarn_out();
    EXPECT_TRUE(has(err, "ignoring analog bogus port 40\n")) << err;
    // Line by line: another thread's log line may fall between them.
    for (const char *line : {"CAS PORTNU 1\n", "CAS CONFIGURED 1\n", "CAS CONNECTED PORT 1 1\n", "CAS PORTNU 2\n",
                             "CAS NOT CONFIGURED 2\n"})
        EXPECT_TRUE(has(out, line)) << line << out;
    EXPECT_TRUE(has(out, "CAS NOW pp 1 p 1 conf 1 conn 1\n")) << out;

    // Both analog ports and the CAS channel are open: events of the far
    // ends reach the daemon's line callbacks (the analog ones start calls).
    ASSERT_TRUE(analog.inject("1", "FXS_OFFHOOK\r\n"));
    ASSERT_TRUE(analog.inject("2", "FXO_RINGING\r\n"));
    EXPECT_TRUE(w.wait_out("1 analog_cb_events: 8193 - FXS_OFFHOOK")) << w.tarn_out();
    EXPECT_TRUE(w.wait_out("2 analog_cb_events: 8196 - FXO_RINGING")) << w.tarn_out();
    ASSERT_TRUE(cas.inject("0/1", "0000\n"));
    EXPECT_TRUE(w.wait_out("1 cas_cb_events: 32772")) << w.tarn_out();
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

} // namespace
