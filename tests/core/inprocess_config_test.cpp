// The configuration load of start-up run in this process (inside a private
// network namespace, since it reads the interfaces' facts), then looked at
// directly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "application.h"
#include "cleanup.h"
#include "cli.h"
#include "dialplan.h"
#include "e2e.h"
#include "init_config.h"
#include "isdn_lib.h"
#include "pools.h"
#include "tones.h"

namespace {

TEST(InProcessConfig, ToneSetsAndCauseMap)
{
    e2e_options o;
    o.media_processor = false;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.tones", "[general]\ncountry=de\nlevel=80\n"
                                        "[de]\ndescription=Deutschland\nring=425/1000,0/4000\n"
                                        "[us]\ndial=350+440\n");
    w.root.write("usr/conf/tarn.causes", "ISDN\tTARN\t902\t44\nSIP\tISDN\tANY\t503\tService Unavailable\n");
    setenv("TARN_ROOT", w.root.dir.c_str(), 1);
    e2e_namespace::net_guard inside(w.ns);
    ASSERT_TRUE(inside.ok());

    static cli_args args;
    cli_result res;
    char prog[] = "tarn";
    char *argv[] = {prog, nullptr};
    parse_cli(1, argv, &args, &res);
    application_create()->cargs = &args;
    init_locks();
    misdn_cw_reject_code = 0;
    testing::internal::CaptureStdout();
    int rc = init_config();
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 0);
    EXPECT_NE(out.find("using tone config: " + w.root.dir + "/usr/conf/tarn.tones\n"), std::string::npos) << out;

    ASSERT_NE(gp->tonelist, nullptr);
    tone_config_set *de = gp->tonelist->first;
    ASSERT_NE(de, nullptr);
    ASSERT_NE(de->list, nullptr);
    EXPECT_STREQ(de->language_code, "de");
    EXPECT_STREQ(de->description, "Deutschland");
    EXPECT_EQ(de->combined_ringtone_cadence_length, 5000);
    EXPECT_EQ(de->ring.tones[0].tone_level1, 80u);
    EXPECT_STREQ(de->list->language_code, "us");
    EXPECT_EQ(de->list->dial.tones[0].tone_freq2, 440u);
    EXPECT_EQ(gp->tonelist->last, de->list);

    EXPECT_EQ(gp->causemap.count, 2);
    EXPECT_EQ(misdn_cw_reject_code, 44);

    // The final clean-up after the load, with call objects and a dial plan
    // as start-up makes them; the sanitizer tree checks that nothing is
    // freed twice and nothing leaks.
    ASSERT_EQ(create_call_object_pools(3), 0);
    w.root.write("usr/conf/tarn.dialplan", "SIP\tISDN\t*\t1\t(.*)\t\\1\t(.*)\t\\1\t\n");
    ASSERT_EQ(dialplan_load(w.root.path("usr/conf/tarn.dialplan").c_str()), 0);
    ASSERT_EQ(gp->dialplan_size, 1);
    static int resets;
    cleanup_hooks h = {};
    h.reset_call = [](call_object *) { resets++; };
    cleanup_set_hooks(&h);
    cleanup_memory();
    cleanup_set_hooks(nullptr);
    EXPECT_EQ(resets, 3);
    EXPECT_EQ(gp->operations[0], nullptr);
    EXPECT_EQ(gp->tonelist, nullptr);
    EXPECT_EQ(gp->dialplan, nullptr);
    EXPECT_EQ(gp->rtp_ports, nullptr);
    for (cm *c : {gp->config_tones, gp->config_tarn, gp->config_isdn, gp->config_sip, gp->config_analog,
                  gp->config_cas, gp->config_gsm})
        EXPECT_EQ(c, nullptr);
    EXPECT_EQ(gp->causemap.causes[1].out_cause_text, nullptr);
}

} // namespace
