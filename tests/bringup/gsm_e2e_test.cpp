// The daemon brings its modems up against modemsim: spool folders, a stale
// claimed SMS file, a port that fails its initialisation reported not ready, and the first
// status poll on the port that came up.
#include <gtest/gtest.h>

#include <string>

#include "e2e.h"
#include "modemsim_client.h"

namespace {

TEST(GsmBringup, ModemsComeUpAndArePolled)
{
    e2e_options o;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.gsm", "[general]\n[mobile]\nports=1,2\n");
    process_result r = w.ns.run({"sh", "-c", "mkdir -p /tmp/sms/out && touch /tmp/sms/out/2x.processing"});
    ASSERT_EQ(r.status, 0) << r.err;

    // Port 2 has one PIN attempt left: the modem library gives it up. (A
    // missing SIM alone does not stop the library's initialisation.)
    modemsim sim(w.root.dir, {"--lif", "0:dv2GSM", "--port", "1:model=GE865", "--port", "2:model=GE865,pin_counter=1"});
    ASSERT_TRUE(sim.running());
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    // The modems come up once the console runs.
    ASSERT_TRUE(w.wait_err("GSM port 2 NOT READY\n", 120000)) << w.tarn_err();
    EXPECT_EQ(w.tarn_err().find("GSM port 1 NOT READY"), std::string::npos);
    EXPECT_NE(sim.expect(1, "^AT#SERVINFO$", 30000), "") << w.tarn_out();
    EXPECT_NE(sim.expect(1, "^AT#DVI\\?$", 30000), "");

    r = w.ns.run({"stat", "-c", "%a %u:%g", "/tmp/sms/", "/tmp/sms/in/", "/tmp/sms/out/", "/tmp/sms/failout/",
                  "/tmp/sms/parts/"});
    std::string owned;
    for (int i = 0; i < 5; i++)
        owned += "770 1001:1001\n";
    EXPECT_EQ(r.out, owned) << r.err;
    r = w.ns.run({"ls", "/tmp/sms/out/"});
    EXPECT_EQ(r.out, "");
}

} // namespace
