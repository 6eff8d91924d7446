// GSM bring-up and status polling without modems: the general settings
// lists, claimed SMS files, the restart count-down with a recording restart,
// the poll's command sets, the PIN rule and the forgetting of identity texts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "debug_lines.h"
#include "gsm_bringup.h"
#include "gsm_status.h"
#include "schema.h"

namespace {

application_object *app()
{
    if (!gp)
        application_create();
    return gp;
}

// A GSM file loaded into the application's manager.
void load_gsm(const std::string &text)
{
    static bool inited = cm_init() == 0;
    ASSERT_TRUE(inited);
    char tmpl[] = "/tmp/gsm-conf.XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(tmpl) << text;
    if (app()->config_gsm)
        cm_destroy(app()->config_gsm);
    app()->config_gsm = configman_create("GSM");
    ASSERT_NE(app()->config_gsm, nullptr);
    ASSERT_EQ(cm_load(&app()->config_gsm, tmpl), 0);
    unlink(tmpl);
}

TEST(GsmSettings, ProviderEntries)
{
    struct {
        const char *entry;
        int mode, numeric, access;
    } cases[] = {
        {"1:a|b|c|26201|7", 1, 26201, 7},
        {"2:a|b|c|26202|2:rest|x", 2, 26202, 2},
        {"0:a|b|c|26201|7", 0, 0, 0},
        {"3:a|b|c|26201|7", 0, 0, 0},
        {"1:", 0, 0, 0},
        {"1:a|b|c", 1, 0, 0},
        {"", 0, 0, 0},
    };
    for (auto &c : cases) {
        int mode = -1, numeric = -1, access = -1;
        gsm_parse_provider(c.entry, &mode, &numeric, &access);
        EXPECT_EQ(mode, c.mode) << c.entry;
        EXPECT_EQ(numeric, c.numeric) << c.entry;
        EXPECT_EQ(access, c.access) << c.entry;
    }
}

TEST(GsmSettings, GeneralLists)
{
    load_gsm("[general]\npin=1111,2222\nsmsc=+49170\nprovider=1:a|b|c|26201|7,0:a|b|c|1|2\n"
             "codec=1|2|4,8,200|100,\n");
    gsm_config_get_general_settings();
    application_object *a = app();
    EXPECT_STREQ(a->gsm_pins[0], "1111");
    EXPECT_STREQ(a->gsm_pins[1], "2222");
    for (int i = 2; i < 7; i++)
        EXPECT_STREQ(a->gsm_pins[i], "") << "port " << i + 1;
    EXPECT_STREQ(a->gsm_sms_centrals[0], "+49170");
    EXPECT_STREQ(a->gsm_sms_centrals[1], "");
    EXPECT_EQ(a->gsm_provider_mode[0], 1);
    EXPECT_EQ(a->gsm_provider_numeric[0], 26201);
    EXPECT_EQ(a->gsm_access_technology[0], 7);
    EXPECT_EQ(a->gsm_provider_mode[1], 0);
    EXPECT_EQ(a->gsm_provider_numeric[1], 0);
    const int codecs[8] = {7, 8, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(a->gsm_codecs[i], codecs[i]) << i;

    // Read again: the previous texts are replaced.
    load_gsm("[general]\npin=3333\n");
    gsm_config_get_general_settings();
    EXPECT_STREQ(a->gsm_pins[0], "3333");
    EXPECT_STREQ(a->gsm_pins[1], "");
    EXPECT_EQ(a->gsm_codecs[0], 0);
}

TEST(GsmSpool, ClaimedFilesOfAPort)
{
    char tmpl[] = "/tmp/gsm-out.XXXXXX";
    std::string out = mkdtemp(tmpl);
    for (const char *name : {"2x.processing", "1y.processing", "2z.txt", "x.processing"})
        std::ofstream(out + "/" + name) << name;
    free(app()->gsm_sms_spool_out);
    app()->gsm_sms_spool_out = strdup(out.c_str());
    auto exists = [&](const char *name) { return std::filesystem::exists(out + "/" + name); };

    clean_sms_processing_for_port(1);
    EXPECT_TRUE(exists("2x.processing"));
    EXPECT_FALSE(exists("1y.processing"));
    clean_sms_processing_for_port(2);
    EXPECT_FALSE(exists("2x.processing"));
    EXPECT_TRUE(exists("2z.txt"));
    EXPECT_TRUE(exists("x.processing"));
    std::filesystem::remove_all(out);

    struct dirent d = {};
    for (auto [name, want] : {std::pair{"a.processing", 1}, {".processing", 1}, {"a.processing~", 0}, {"processing", 0}}) {
        snprintf(d.d_name, sizeof d.d_name, "%s", name);
        EXPECT_EQ(filter_processing_extension(&d), want) << name;
    }
    EXPECT_EQ(gsm_reload_config(), app()->path_config_gsm[0] ? 0 : -1);
}

std::vector<int> restarted;
void record_restart(FILE *report, int port)
{
    EXPECT_EQ(report, nullptr);
    restarted.push_back(port);
}

class GsmRestart : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        restarted.clear();
        for (auto &c : gsm_port_restart_necessary)
            c = 0;
        gsm_hooks h = {};
        h.restart_gsm_port = record_restart;
        gsm_set_hooks(&h);
    }
    void TearDown() override { gsm_set_hooks(nullptr); }
    // The ticks (from second `from`) after which a restart happened.
    std::vector<int> run(int from, int ticks)
    {
        std::vector<int> when;
        for (int s = from; s < from + ticks; s++) {
            size_t before = restarted.size();
            gsm_port_restart_tick(s);
            if (restarted.size() > before)
                when.push_back(s - from + 1);
        }
        return when;
    }
};

TEST_F(GsmRestart, SecondTickThenEveryThirtySeconds)
{
    debug_lines log({GSM});
    gp->gsm_port_info.port_infos[2].ready = 0;
    set_gsm_port_restart_necessary(2);
    EXPECT_EQ(run(1, 100), (std::vector<int>{2, 32, 62, 92}));
    EXPECT_EQ(restarted, (std::vector<int>{2, 2, 2, 2}));
    EXPECT_TRUE(log.has("CRITICAL: Restarting GSM port 2"));
    EXPECT_TRUE(log.has("CRITICAL: Restarting GSM port 2 not successful, scheduling new restart in 30 seconds"));

    // Once the port comes back the count-down ends.
    gp->gsm_port_info.port_infos[2].ready = 1;
    EXPECT_EQ(run(101, 40), std::vector<int>{22});
    EXPECT_TRUE(log.has("CRITICAL: Restarting GSM port 2 successful"));
    EXPECT_EQ(gsm_port_restart_necessary[2].load(), 0);
    EXPECT_EQ(run(141, 60), std::vector<int>{});
}

TEST_F(GsmRestart, WithoutTheRestartItCountsAsFailed)
{
    gsm_set_hooks(nullptr);
    debug_lines log({GSM});
    gp->gsm_port_info.port_infos[3].ready = 1;
    set_gsm_port_restart_necessary(3);
    run(1, 2);
    EXPECT_TRUE(log.has("CRITICAL: Restarting GSM port 3"));
    EXPECT_TRUE(log.has("CRITICAL: Restarting GSM port 3 not successful, scheduling new restart in 30 seconds"));
    EXPECT_EQ(gsm_port_restart_necessary[3].load(), 30);
    gsm_port_restart_necessary[3] = 0;
}

TEST_F(GsmRestart, AliveLineEveryFiveMinutes)
{
    debug_lines log({GSM});
    for (int s = 0; s <= 600; s++)
        gsm_port_restart_tick(s);
    EXPECT_EQ(log.count("alive for "), 3);
    EXPECT_TRUE(log.has("alive for 300 seconds"));
    set_gsm_port_restart_necessary(0);
    set_gsm_port_restart_necessary(7);
    EXPECT_TRUE(restarted.empty());
}

// The names of the poll rows that apply.
std::string poll_plan(const gsm_port_info &pi, int debug, int cbm)
{
    std::string s;
    for (int i = 0; i < gsm_poll_row_count; i++)
        if (gsm_poll_rows[i].when(pi, debug, cbm))
            s += std::string(s.empty() ? "" : ",") + gsm_poll_rows[i].name;
    return s;
}

TEST(GsmPoll, CommandSetsPerDebugLevel)
{
    char spn[] = "Provider";
    gsm_port_info known = {};
    known.spn = spn;
    known.pin_counter = 3;
    gsm_port_info fresh = {};
    struct {
        const char *what;
        const gsm_port_info &pi;
        int debug, cbm;
        const char *plan;
    } cases[] = {
        {"known port, level 0", known, 0, 0, "signal quality,registration,serving cell,digital voice"},
        {"fresh port, level 0", fresh, 0, 0,
         "pin counter,signal quality,registration,service provider,serving cell,digital voice"},
        {"level 1", known, 1, 0,
         "pin counter,signal quality,registration,service provider,serving cell,digital voice"},
        {"level 2", known, 2, 0,
         "pin counter,signal quality,registration,service provider,serving cell,digital voice,caller id,called id"},
        {"cell broadcast", known, 0, 1,
         "signal quality,registration,serving cell,digital voice,broadcast channels,message indications"},
    };
    for (auto &c : cases)
        EXPECT_EQ(poll_plan(c.pi, c.debug, c.cbm), c.plan) << c.what;
    for (int i = 0; i < gsm_poll_row_count; i++) {
        if (gsm_poll_rows[i].command) {
            EXPECT_NE(strstr(gsm_poll_rows[i].command, "\r\n"), nullptr);
        }
    }
}

TEST(GsmPoll, PinsThatMayBeSent)
{
    for (const char *ok : {"1234", "12345678", "0000"})
        EXPECT_TRUE(gsm_pin_is_sendable(ok)) << ok;
    for (const char *bad : {"", "123", "123456789", "12a4", "1234\rAT+CFUN=0", "12 4"})
        EXPECT_FALSE(gsm_pin_is_sendable(bad)) << bad;
    EXPECT_FALSE(gsm_pin_is_sendable(nullptr));
}

TEST(GsmPoll, AdvancedTextsForgotten)
{
    gsm_port_info &pi = app()->gsm_port_info.port_infos[2];
    pi.imei = strdup("356938035643809");
    pi.sw_pkgversion = strdup("25.30.628");
    pi.spn = strdup("kept");
    gp->gsm_port_info.last_port = 1;
    gsm_reset_advanced_settings(2); // above the last port polled: nothing
    EXPECT_STREQ(pi.imei, "356938035643809");
    gp->gsm_port_info.last_port = 2;
    gsm_reset_advanced_settings(2);
    EXPECT_EQ(pi.imei, nullptr);
    EXPECT_EQ(pi.sw_pkgversion, nullptr);
    EXPECT_STREQ(pi.spn, "kept");
    gsm_reset_advanced_settings(99);
    ASSERT_EQ(gsm_advanced_row_count, 6);
    EXPECT_TRUE(gsm_advanced_rows[4].skipped_without_atv);
}

} // namespace
