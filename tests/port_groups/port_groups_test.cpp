// The line port groups built from configuration texts, and their look-ups.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "confman.h"
#include "config_text.h"
#include "pg_port_groups.h"
#include "schema.h"

namespace {

class PortGroups : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        application_create();
        init_locks();
        cm_init();
        init_default_call_configuration();
    }
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarn-pg-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
    }
    void TearDown() override
    {
        pg_free_line_port_groups();
        for (cm **c : {&gp->config_isdn, &gp->config_cas, &gp->config_analog, &gp->config_gsm})
            if (*c) {
                cm_destroy(*c);
                *c = nullptr;
            }
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str())) {
        }
    }
    // Loads a configuration text for a module ("ISDN", "CAS", "ANALOG", "GSM").
    cm *load(const char *module, const std::string &text)
    {
        return load_config_text(dir, module, text);
    }
    // Builds the groups of one technology and returns what went to standard error.
    std::string build(const char *module, const std::string &text)
    {
        cm *c = load(module, text);
        testing::internal::CaptureStderr();
        if (!strcmp(module, "ISDN"))
            gp->config_isdn = c, pg_init_isdn_port_group_struct();
        else if (!strcmp(module, "CAS"))
            gp->config_cas = c, pg_init_cas_port_group_struct();
        else if (!strcmp(module, "ANALOG"))
            gp->config_analog = c, pg_init_analog_port_group_struct();
        else
            gp->config_gsm = c, pg_init_gsm_port_group_struct();
        return testing::internal::GetCapturedStderr();
    }
    std::string dir;
};

std::vector<int> slots(const port_group_analog *g)
{
    std::vector<int> v;
    for (int i = 0; i < g->port_count; i++)
        v.push_back(g->port_settings[i].port);
    return v;
}

TEST_F(PortGroups, IsdnGroupsAndTheirSettings)
{
    std::string err = build("ISDN", "[pbx]\nports=2,1\nchansel=RoundRobin\nchansel_direction=Descending\n"
                                    "chansel_behaviour=any_channel\noverlap_dialing=yes\nqsig=1\nportpullup=2\n"
                                    "interdigit_timeout=5\ninterdigit_timeout_initial=20\ntones=[us]\n"
                                    "country_code=49\ncity_code=30\nlocal_area_code=123\n"
                                    "monitored_sip_peer=provider\nmonitored_sip_peer_offtime=-7\n"
                                    "[trunk]\nports=3,40,0\nchansel=random\nchansel_behaviour=Exclusive\n");
    EXPECT_EQ(err, "ignoring isdn bogus port 0\nignoring isdn bogus port 40\n");
    port_groups *pg = gp->port_groups;
    ASSERT_EQ(pg->port_groups_isdn_count, 2);
    port_group_isdn *pbx = pg->port_groups_isdn[0];
    EXPECT_STREQ(pbx->name, "pbx");
    ASSERT_EQ(pbx->port_count, 2);
    EXPECT_EQ(pbx->ports[0], 1); // slots in the manager's port order
    EXPECT_EQ(pbx->ports[1], 2);
    EXPECT_EQ(pbx->chansel_method, CHANSEL_ROUNDROBIN);
    EXPECT_EQ(pbx->chansel_direction, CHANSEL_DIRECTION_DESCENDING);
    EXPECT_EQ(pbx->chansel_behaviour, CHANNEL_ANY);
    EXPECT_EQ(pbx->overlap_dialing, 1);
    EXPECT_EQ(pbx->qsig, 1);
    EXPECT_EQ(pbx->qsig_network_extension, 1); // default "yes"
    EXPECT_EQ(pbx->port_pullup, 2);
    EXPECT_EQ(pbx->interdigit_dialing_timeout, 5);
    EXPECT_EQ(pbx->interdigit_dialing_timeout_initial, 20);
    EXPECT_STREQ(pbx->tones, "[us]"); // ISDN keeps the text as written
    EXPECT_STREQ(pbx->country_code, "49");
    EXPECT_STREQ(pbx->local_area_code, "123");
    EXPECT_STREQ(pbx->pgi_monitored_sip_peer, "provider");
    EXPECT_EQ(pbx->pgi_monitored_sip_peer_offtime, 0);
    port_group_isdn *trunk = pg->port_groups_isdn[1];
    EXPECT_EQ(trunk->port_count, 1);
    EXPECT_EQ(trunk->chansel_method, CHANSEL_RANDOM);
    EXPECT_EQ(trunk->chansel_behaviour, CHANNEL_EXCLUSIVE);
    EXPECT_EQ(trunk->chansel_direction, CHANSEL_DIRECTION_ASCENDING);
    EXPECT_EQ(trunk->pgi_monitored_sip_peer_offtime, 60);

    EXPECT_EQ(pg_get_port_group_isdn_by_port(2), pbx);
    EXPECT_EQ(pg_get_port_group_isdn_by_port(3), trunk);
    EXPECT_EQ(pg_get_port_group_isdn_by_port(4), nullptr);
    EXPECT_EQ(pg->isdn_port_to_port_group_map[3], trunk);
}

TEST_F(PortGroups, SectionsOfOneNameFormOneGroup)
{
    EXPECT_EQ(build("ANALOG", "[a]\nports=4\nclip=40,41\n[b]\nports=2\n[a]\nports=1,3\n"), "");
    port_groups *pg = gp->port_groups;
    ASSERT_EQ(pg->port_groups_analog_count, 2);
    port_group_analog *a = pg->port_groups_analog[0];
    EXPECT_STREQ(a->name, "a");
    EXPECT_EQ(slots(a), (std::vector<int>{1, 3, 4}));
    EXPECT_STREQ(a->port_settings[0].clip, "40"); // the list follows the slot order
    EXPECT_STREQ(a->port_settings[2].clip, "41");
    EXPECT_STREQ(pg->port_groups_analog[1]->name, "b");
}

TEST_F(PortGroups, ThirtyOneSingleIsdnPorts)
{
    std::string text;
    for (int p = 1; p <= 31; p++)
        text += "[g" + std::to_string(p) + "]\nports=" + std::to_string(p) + "\n";
    EXPECT_EQ(build("ISDN", text), "");
    port_groups *pg = gp->port_groups;
    ASSERT_EQ(pg->port_groups_isdn_count, 31);
    for (int p = 1; p <= 31; p++) {
        port_group_isdn *g = pg_get_port_group_isdn_by_port(p);
        ASSERT_TRUE(g) << p;
        EXPECT_EQ(g->name, "g" + std::to_string(p));
        EXPECT_EQ(pg->isdn_port_to_port_group_map[p], g) << p;
    }
}

TEST_F(PortGroups, AnalogGroupsPerPortListsAndClamps)
{
    std::string err = build("ANALOG",
                            "[fxs]\nports=3,1,2,4\nclip=100,200\ncnip=Alice\ntones=[de]\n"
                            "fxo_connect=Polarity\nfxo_wait_for_oad=WAIT\nfxo_dialtone_passthrough=yes\n"
                            "message_waiting_method=stutter,FSK\nfxs_wink_duration=3000\nfxs_wink_offset=-5\n"
                            "config=dtmfmode=inband\ncomplete_dialing_on_pound_or_star=yes\n"
                            "[fxo]\nports=5,6\nclip=1,2,3\nmessage_waiting_method=stutter off\n"
                            "fxs_wink_duration=-1\nfxs_wink_offset=9000\n"
                            "[more]\nports=32\n");
    EXPECT_EQ(err, "ignoring analog bogus port 32\n");
    port_group_analog *fxs = pg_get_port_group_analog_by_name("fxs");
    ASSERT_TRUE(fxs);
    EXPECT_EQ(slots(fxs), (std::vector<int>{1, 2, 3, 4}));
    const char *clips[] = {"100", "200", "200", "200"};
    for (int i = 0; i < 4; i++) {
        EXPECT_STREQ(fxs->port_settings[i].clip, clips[i]) << i;
        EXPECT_STREQ(fxs->port_settings[i].cnip, "Alice") << i;
        EXPECT_EQ(fxs->port_settings[i].port_group, fxs);
    }
    EXPECT_STREQ(fxs->tones, "de");
    EXPECT_EQ(fxs->fxo_connect, 1);
    EXPECT_EQ(fxs->fxo_wait_for_oad, 1);
    EXPECT_EQ(fxs->fxo_dialtone_passthrough, 1);
    EXPECT_EQ(fxs->message_waiting_method, 3);
    EXPECT_EQ(fxs->fxs_wink_duration, 2000);
    EXPECT_EQ(fxs->fxs_wink_offset, 0);
    EXPECT_STREQ(fxs->pga_config, "dtmfmode=inband");
    EXPECT_EQ(fxs->pga_cc.dtmfmode, (uint32_t)CC_DTMF_INBAND); // the group's own options
    EXPECT_TRUE(fxs->pga_cc.dtmfmode_set);
    EXPECT_EQ(fxs->pga_cc.cid_gen_time, 1000); // on the defaults
    port_group_analog *fxo = pg_get_port_group_analog_by_name("fxo");
    ASSERT_TRUE(fxo);
    EXPECT_STREQ(fxo->port_settings[1].clip, "2"); // the third value is ignored
    EXPECT_STREQ(fxo->port_settings[0].cnip, "");  // no value: empty for every port
    EXPECT_EQ(fxo->message_waiting_method, 4);
    EXPECT_EQ(fxo->fxs_wink_duration, 0);
    EXPECT_EQ(fxo->fxs_wink_offset, 5000);
    EXPECT_EQ(fxo->fxo_connect, 0);

    // Look-ups.
    EXPECT_EQ(pg_get_port_group_analog_by_name("FXS"), nullptr);
    EXPECT_EQ(pg_get_port_group_analog_by_port(6), fxo);
    EXPECT_EQ(pg_analog_get_index_of_port_in_group(fxs, 3), 2);
    EXPECT_EQ(pg_analog_get_index_of_port_in_group(fxo, 3), -1);
    EXPECT_EQ(pg_analog_get_port_by_clip("200"), 2);
    EXPECT_EQ(pg_analog_get_port_by_clip("20"), 0);
    EXPECT_STREQ(pg_analog_get_clip_by_port(4), "200");
    EXPECT_STREQ(pg_analog_get_cnip_by_port(1), "Alice");
    EXPECT_STREQ(pg_analog_get_clip_by_port(9), "");
    EXPECT_EQ(pg_analog_get_fxs_wink_offset_by_port(5), 5000);
    EXPECT_EQ(pg_analog_get_fxs_wink_duration_by_port(1), 2000);
    EXPECT_EQ(pg_analog_get_fxs_wink_duration_by_port(9), 0);
    EXPECT_EQ(pg_analog_get_complete_dialing_on_pound_or_star(2), 1);
    EXPECT_EQ(pg_analog_get_complete_dialing_on_pound_or_star(5), 0);
    for (int port : {9, 32, -1, 1000})
        EXPECT_EQ(pg_analog_get_complete_dialing_on_pound_or_star(port), -1) << port;
    EXPECT_EQ(pg_get_port_group_analog_port_setting_by_port(3), &fxs->port_settings[2]);
}

TEST_F(PortGroups, CasGroups)
{
    std::string err = build("CAS", "[t1]\nports=1,2,150,149\nt1_signalling=FXS_KS\ntones=[us]\nclip=5550\n"
                                   "cnip=a,b,c\nchansel=roundrobin\n[other]\nports=10\n");
    EXPECT_EQ(err, "ignoring cas bogus port 150\n");
    port_group_cas *t1 = pg_get_port_group_cas_by_name("t1");
    ASSERT_TRUE(t1);
    ASSERT_EQ(t1->port_count, 3);
    EXPECT_EQ(t1->port_settings[2].port, 149);
    EXPECT_EQ(t1->t1signalling, CAS_SIGNALLING_T1_FXSKS);
    EXPECT_EQ(t1->e1signalling, CAS_SIGNALLING_E1_MFCR2);
    EXPECT_EQ(t1->chansel_method, CHANSEL_ROUNDROBIN);
    EXPECT_STREQ(t1->tones, "us");
    EXPECT_STREQ(pg_cas_get_clip_by_port(149), "5550");
    EXPECT_STREQ(pg_cas_get_cnip_by_port(2), "b");
    EXPECT_STREQ(pg_cas_get_cnip_by_port(11), "");
    port_group_cas *other = pg_get_port_group_cas_by_port(10);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->t1signalling, CAS_SIGNALLING_T1_FXOKS);
    EXPECT_EQ(pg_cas_get_index_of_port_in_group(t1, 149), 2);
    EXPECT_EQ(pg_cas_get_complete_dialing_on_pound_or_star(149), 0);
    EXPECT_EQ(pg_cas_get_complete_dialing_on_pound_or_star(150), -1);
    EXPECT_EQ(pg_get_port_group_cas_port_setting_by_port(10)->port_group, other);
}

TEST_F(PortGroups, GsmGroups)
{
    gp->gsm_pins[1] = strdup("1234");
    gp->gsm_sms_centrals[1] = strdup("+49170");
    gp->gsm_codecs[1] = 5;
    gp->gsm_provider_mode[1] = 1;
    gp->gsm_provider_numeric[1] = 26201;
    gp->gsm_access_technology[1] = 7;
    std::string err = build("GSM", "[mobile]\nports=1,2,7\nchansel=RoundRobin\nextensions=10,20\n"
                                   "sms_extensions=30\nsms_webhook=http://h/x\nsms_webhook_type=3cx\n"
                                   "wait_for_cid_timeout=0\n"
                                   "lte_init_hook=\"AT#DVI=1,\\\"x\\\"\"\n"
                                   "[lte]\nports=3\nwait_for_cid_timeout=20\nlte_init_hook=AT#X\n");
    EXPECT_EQ(err, "ignoring gsm bogus port 7\n");
    port_group_gsm *m = pg_get_port_group_gsm_by_name("mobile");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->chansel_method, CHANSEL_RANDOM); // round robin is random for GSM
    EXPECT_STREQ(m->lte_init_hook, "AT#DVI=1,\"x\"");
    ASSERT_EQ(m->port_count, 2);
    port_group_gsm_port_setting &p2 = m->port_settings[1];
    EXPECT_STREQ(p2.pin, "1234");
    EXPECT_STREQ(p2.smsc, "+49170");
    EXPECT_EQ(p2.gsmcodec, 5);
    EXPECT_EQ(p2.provider_mode, 1);
    EXPECT_EQ(p2.provider_id, 26201);
    EXPECT_EQ(p2.access_technology, 7);
    EXPECT_EQ(p2.cid_wait_time, 1);
    EXPECT_STREQ(p2.sms_webhook, "http://h/x");
    EXPECT_STREQ(p2.sms_webhook_type, "3cx");
    EXPECT_STREQ(m->port_settings[0].pin, "");
    EXPECT_STREQ(pg_gsm_get_call_extension(1), "10");
    EXPECT_STREQ(pg_gsm_get_call_extension(2), "20");
    EXPECT_STREQ(pg_gsm_get_sms_extension(2), "30");
    EXPECT_STREQ(pg_gsm_get_call_extension(4), "");
    EXPECT_STREQ(pg_gsm_get_call_extension(70), "");
    port_group_gsm *lte = pg_get_port_group_gsm_by_port(3);
    ASSERT_TRUE(lte);
    EXPECT_EQ(lte->port_settings[0].cid_wait_time, 10);
    EXPECT_STREQ(lte->lte_init_hook, "");
    EXPECT_EQ(lte->chansel_method, CHANSEL_STANDARD);
    EXPECT_EQ(pg_get_port_group_gsm_port_settings_by_port(3), &lte->port_settings[0]);
}

TEST_F(PortGroups, WordsAndHooks)
{
    struct {
        const char *text;
        int value;
    } mwi[] = {{"", 0}, {"stutter", 1}, {"fsk", 2}, {"stutter,fsk", 3}, {"fsk,off", 4}, {"OFF", 4}};
    for (auto &c : mwi)
        EXPECT_EQ(pg_parse_message_waiting_method(c.text), c.value) << c.text;
    struct {
        const char *value;
        const char *hook;
    } hooks[] = {{"\"a\"", "a"}, {"\"\"", ""}, {"\"", ""}, {"a\"b\"", ""}, {"\"x\\\"y\\\"\"", "x\"y\""}, {"", ""}};
    for (auto &c : hooks) {
        char *h = pg_parse_lte_init_hook(c.value);
        EXPECT_STREQ(h, c.hook) << c.value;
        free(h);
    }
    EXPECT_EQ(pg_parse_chansel_method("simple", 0), CHANSEL_STANDARD);
    EXPECT_EQ(pg_parse_chansel_method("RANDOM", 1), CHANSEL_RANDOM);
    EXPECT_EQ(pg_parse_chansel_behaviour("anychannel"), CHANNEL_ANY);
    EXPECT_EQ(pg_parse_chansel_behaviour("alternative"), CHANNEL_ALTERNATIVE);
    EXPECT_EQ(pg_parse_chansel_behaviour("whatever"), CHANNEL_DEFAULT);
}

TEST_F(PortGroups, LongTextsAreCut)
{
    std::string long_clip(5000, '7');
    build("CAS", "[c]\nports=1\nclip=" + long_clip + "\n");
    EXPECT_EQ(strlen(pg_cas_get_clip_by_port(1)), 511u);
    build("ANALOG", "[a]\nports=1\nclip=" + long_clip + "\n");
    EXPECT_EQ(strlen(pg_analog_get_clip_by_port(1)), 4095u);
}

} // namespace
