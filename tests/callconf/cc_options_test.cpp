#include <cstring>
#include <string>

#include "call_leg_sip.h"
#include "call_object.h"
#include "cc_internal.h"
#include "cc_test_support.h"
#include "reg_object.h"

namespace {

std::string shown(const call_configuration &cc, const char *key)
{
    int row = cc_find_option(key);
    if (row < 0)
        return "<no row>";
    char buf[1024];
    cc_value_text(&cc, cc_descriptors[call_configuration_options[row].id], buf, sizeof buf);
    return buf;
}

bool is_set(const call_configuration &cc, const char *key)
{
    return cc_descriptors[call_configuration_options[cc_find_option(key)].id].is_set(&cc);
}

// Setting by key: what the printout then shows.
TEST_F(CallConf, SettingByKey)
{
    struct {
        const char *key, *value, *shown;
    } cases[] = {
        {"EA", "sdp", "2"}, {"ea", "0", "0"}, {"ea", "no", "1"},
        {"ec", "yes", "0"}, {"ec", "3", "1"}, {"alert_on_cd", "yes", "1"}, {"alert_on_cd", "0", "0"},
        {"isdn_no_sending_complete", "YES", "1"}, {"isdn_no_sending_complete", "257", "1"},
        {"allow_all_chars_in_isdn_number", "5", "1"},
        {"dtmfmode", "inband", "inband"}, {"dtmfmode", "info:inband", "info:inband"},
        {"dtmfmode", "whatever", "rfc2833"}, {"dtmfmode", "rfc2833:info", "rfc2833:info"},
        {"dtmfremoval", "packet", "packet"}, {"dtmfremoval", "bogus", "both"},
        {"dtmflen", "5", "20"}, {"dtmflen", "5000", "4000"}, {"dtmflen", "150", "150"},
        {"dtmfinterval", "20", "20"}, {"dtmfinterval", "1000", "1000"}, {"dtmfinterval", "2000", "1000"},
        {"rtp_packet_size", "30", "30"}, {"rtp_packet_size", "20:30", "7700"},
        {"codecs", "pcmu:pcma", "pcmu:pcma"},
        {"srtp_mode", "off:off", "off"}, {"srtp_mode", "off", "off:off"},
        {"srtp_mode", "mandatory:optional", "mandatory:optional"}, {"srtp_mode", "optional", "optional:optional"},
        {"srtp_crypto_suites", "F8_80", "F8_128_HMAC_SHA1_80"},
        {"t38", "3", "1"},
        {"t38_reinvite", "pstn2sip", "pstn2sip"}, {"t38_reinvite", "x", "sip2pstn"}, {"t38_reinvite", "both", "both"},
        {"force_t38_reinvite", "5:3:10:10:20", "5:10:20"},
        {"faxdetect_options", "10:2", "10:2:400:600:2500:3500"},
        {"failover_timeout", "-4", "0"}, {"failover_timeout", "900", "600"},
        {"failover_causes", "486:404:200:503", "486:404:503"},
        {"callauth_default_policy", "reject", "REJECT"}, {"callauth_default_policy", "no", "ACCEPT"},
        {"callauth_timeout", "10", "20"}, {"callauth_timeout", "1001", "1000"},
        {"callauth_url", "http://h/x", "http://h/x"},
        {"isdn2sip_destination_numformat", "VAZ_PLUS", "VAZ_PLUS"},
        {"isdn2sip_source_numformat", "other", "VAZ_UNKNOWN"},
        {"sip2dialplan_dad_prefix_setting", "none", "none"}, {"sip2dialplan_oad_prefix_setting", "x", "replace"},
        {"isdn_destination_field", "both", "both"}, {"isdn_destination_field", "dad", "dad"},
        {"cad_setting", "new_destination", "new_destination"}, {"cad_setting", "nothing", "nothing"},
        {"prefix_priority", "postdialplan", "postdialplan"},
        {"bearer_cap", "AUDIO_7K", "AUDIO_7K"}, {"bearer_cap", "VIDEO", "VIDEO"},
        {"bearer_codec", "ulaw", "2"}, {"bearer_codec", "g722", "5"}, {"bearer_codec", "alaw", "3"},
        {"pcmlaw", "ulaw", "ulaw"}, {"pcmlaw", "x", "alaw"},
        {"ectl", "7", "7"}, {"ectl", "16", "15"}, {"ectl", "-1", "15"},
        {"vad_tune", "-3", "0"}, {"vad_tune", "9", "4"},
        {"comfort_noise", "sdp", "sdp"}, {"comfort_noise", "yes", "1"}, {"comfort_noise", "2", "1"},
        {"comfort_noise", "no", "0"},
        {"qvalue", "0.5", "0.5"}, {"qvalue", "1.5", "-1"}, {"qvalue", "-0.1", "-1"}, {"qvalue", "1", "1.0"},
        {"qvalue", "nan", "-1"},
        {"call_forwarding_mode", "diversion", "Diversion"}, {"call_forwarding_mode", "x", "302"},
        {"use_privacy_header", "0", "off"}, {"use_privacy_header", "off", "off"}, {"use_privacy_header", "OFF", "auto"},
        {"use_privacy_header", "none", "none"}, {"use_privacy_header", "id", "id"},
        {"tonedetect_disable", "tdm,ip", "ip:tdm"}, {"tonedetect_disable", "tdm", "tdm"},
        {"tonedetect_disable", "nothing", "off"},
        {"aoc_on_sip", "x-clientcode", "X-ClientCode"}, {"aoc_on_sip", "AOC-HEADER+X-ClientCode", "AOC-Header|X-ClientCode"},
        {"sip_xheaders", "origin", "origin"},
        {"from_pstn_src_setting", "clip", "oad"}, {"from_pstn_src_setting", "actdivq1", "actdivq1"},
        {"from_pstn_src_setting", "bogus", "auto"},
        {"from_sip_src_setting", "pai_user", "pai_user"},
        {"from_sip_dest_setting", "request_url_user", "request_url_user"},
        {"outgoing_bchannels", "1-3", "1-3"},
        {"dialplan_finish_dialing_on_match", "1", "1"},
        {"clir_on_oad", "\"anon\"", "anon"}, {"sip_from_display_setting", "\"Name\"", "\"Name\""},
        {"nationalprefix", "0123456789abcdefghij", "0123456789abcde"},
        {"feature_codes", "f:*31#:mcid;x:1:afh;t:#9:none", "f:*31#:MCID;t:#9:NONE"},
        {"msp_indication_control", "1:1:1:1:1:1:1:1:20", "1:1:1:1:1:1:1:1:20 def:0"},
        {"ec_sparse_params", "4:1", "0:0|1:1|2:1|3:0|4:1|5:0|6:0"},
        {"aoc", "currency:EUR:8|1:60|2:30:5", "1:60:-1;2:30:5"},
        {"fxo_out_pr", "2:RINGING:CONNECT", "2:RINGING:CONNECT"},
        {"t38_options", "ecm=1", ""},
        {"1TR119", "1", "1"},
    };
    for (auto &c : cases) {
        call_configuration cc = fresh();
        std::string value = c.value;
        cc_set_call_configuration_value(&cc, c.key, value.data());
        EXPECT_EQ(shown(cc, c.key), c.shown) << c.key << "=" << c.value;
        EXPECT_TRUE(is_set(cc, c.key)) << c.key;
    }
}

TEST_F(CallConf, SettingByKeyEdgeCases)
{
    call_configuration cc = fresh();
    std::string v = "1";
    cc_set_call_configuration_value(&cc, "t38_max_rate", v.data());
    cc_set_call_configuration_value(&cc, "origin_header", v.data());
    cc_set_call_configuration_value(&cc, "r2config", v.data());
    EXPECT_EQ(memcmp(&cc, &defaults(), sizeof cc), 0); // no row: nothing changes
    EXPECT_EQ(take_lines(), (std::vector<std::string>{"Don't know what to do with t38_max_rate",
                                                       "Don't know what to do with origin_header",
                                                       "Don't know what to do with r2config"}));

    v = "NONSENSE";
    cc_set_call_configuration_value(&cc, "bearer_cap", v.data());
    EXPECT_EQ(cc.bearer_capability, 0u);
    EXPECT_EQ(take_lines(),
              std::vector<std::string>{"Cannot parse bearer capability NONSENSE, reverting to default SPEECH"});

    // from_pstn_src_setting: an unknown word keeps the value but sets the flag.
    cc.from_pstn_src_setting = CONFIG_SIPSRC_CNIP;
    v = "bogus";
    cc_set_call_configuration_value(&cc, "from_pstn_src_setting", v.data());
    EXPECT_EQ(cc.from_pstn_src_setting, (uint32_t)CONFIG_SIPSRC_CNIP);
    EXPECT_TRUE(cc.from_pstn_src_setting_set);

    // A template of its own is the manual text; an empty value changes nothing.
    v = "\"${from_user}\"";
    cc_set_call_configuration_value(&cc, "from_sip_src_setting", v.data());
    EXPECT_EQ(cc.from_sip_src_setting, CONFIG_PSTNSRC_MANUAL);
    EXPECT_STREQ(cc.from_sip_src_setting_manual, "\"${from_user}\"");
    call_configuration other = fresh();
    v = "";
    cc_set_call_configuration_value(&other, "from_sip_dest_setting", v.data());
    EXPECT_FALSE(other.from_sip_dest_setting_set);
    v = std::string(200, 'x');
    cc_set_call_configuration_value(&other, "from_sip_dest_setting", v.data());
    EXPECT_EQ(other.from_sip_dest_setting, CONFIG_PSTNDEST_MANUAL);
    EXPECT_EQ(strlen(other.from_sip_dest_setting_manual), 127u);
    EXPECT_EQ(other.dialplan_finish_dialing_on_match_set, 0u);
    v = "0";
    cc_set_call_configuration_value(&other, "dialplan_finish_dialing_on_match", v.data());
    EXPECT_EQ(other.dialplan_finish_dialing_on_match_set, 1u);
}

TEST_F(CallConf, OptionStrings)
{
    call_configuration cc = fresh();
    cc_parse_call_configuration_direct(nullptr, &cc, "ea=sdp,,codecs=pcmu:pcma");
    EXPECT_EQ(cc.early_audio, 2u);
    EXPECT_EQ(shown(cc, "codecs"), "pcmu:pcma");
    EXPECT_EQ(log->lines(), std::vector<std::string>{"CID:000000:00|ignoring empty token"});
    log->clear();
    log_levels_debug[TARN] = 0; // a level-1 line
    cc_parse_call_configuration_direct(nullptr, &cc, ",");
    EXPECT_TRUE(log->lines().empty());
    log_levels_debug[TARN] = 9;

    cc_parse_call_configuration_direct(nullptr, &cc,
                                       "dialplan_go_on,=5,override=screen=1:pres=0,nosuchkey=1,ea=0,EA=1");
    EXPECT_EQ(take_lines(), (std::vector<std::string>{"cannot parse token dialplan_go_on", "ignoring invalid token =5",
                                                       "Don't know what to do with nosuchkey"}));
    EXPECT_STREQ(cc.override, "screen=1:pres=0"); // the value keeps its further "="
    EXPECT_EQ(cc.early_audio, 1u);                // the later item wins

    // A registration's messages carry its tag.
    reg_object ro{};
    ro.pid = 42;
    call_configuration rc = fresh();
    cc_parse_call_configuration_reg(&ro, &rc, "x");
    ASSERT_EQ(log->lines().size(), 1u);
    EXPECT_EQ(log->lines()[0].rfind("RID:000042:00|cannot parse token x", 0), 0u) << log->lines()[0];
}

TEST_F(CallConf, OverlayHonoursScopesAndSetFlags)
{
    call_configuration peer = fresh(), line = fresh();
    cc_parse_call_configuration_direct(nullptr, &peer,
                                       "ea=sdp,failover_causes=486,sip_from_user_setting=peer,dtmfmode=info:inband,"
                                       "from_sip_src_setting=${pai_user}x,rtp_packet_size=20:40");
    cc_parse_call_configuration_direct(nullptr, &line, "codecs=g729,failover_causes=404:480");

    call_configuration a = defaults();
    _cc_update_call_configuration(&a, &peer, CCUF_DO_NOT_UPDATE_SIP_INBOUND);
    EXPECT_EQ(a.early_audio, 1u); // inbound option not taken
    EXPECT_EQ(shown(a, "failover_causes"), "486");
    EXPECT_STREQ(a.sip_from_user_setting, "peer");
    EXPECT_EQ(a.dtmfmode, 2u | 1u << 8);
    EXPECT_EQ(a.rtp_packet_size, 20u | 40u << 8);
    EXPECT_FALSE(a.early_audio_set); // flags of the target stay
    EXPECT_FALSE(a.dtmfmode_set);

    call_configuration b = defaults();
    _cc_update_call_configuration(&b, &peer, CCUF_DO_NOT_UPDATE_SIP_OUTBOUND);
    EXPECT_EQ(b.early_audio, 2u);
    EXPECT_EQ(shown(b, "failover_causes"), "408:503:909");
    EXPECT_STREQ(b.sip_from_user_setting, "${new_source}");
    // The manual template goes with its code.
    EXPECT_EQ(b.from_sip_src_setting, CONFIG_PSTNSRC_MANUAL);
    EXPECT_STREQ(b.from_sip_src_setting_manual, "${pai_user}x");

    cc_update_call_configuration(&b, &line);
    EXPECT_EQ(shown(b, "codecs"), "g729");
    EXPECT_EQ(shown(b, "failover_causes"), "404:480");
    EXPECT_EQ(b.early_audio, 2u); // not set by the line: stays

    // A record that sets nothing changes nothing.
    call_configuration c = b;
    cc_update_call_configuration(&c, &defaults());
    EXPECT_EQ(memcmp(&c, &b, sizeof c), 0);
}

TEST_F(CallConf, ConditionTexts)
{
    struct override o {};
    cc_parse_override(&o, "screen=1:pres=2:foo=3:bare");
    EXPECT_EQ(o.override_screen, 1);
    EXPECT_EQ(o.override_pres, 2);
    cc_parse_override(&o, "pres=0");
    EXPECT_EQ(o.override_screen, -1);
    EXPECT_EQ(o.override_pres, 0);

    struct extra_filter f {};
    f.diversion1 = -1;
    f.bearer_cap_rate_not = 7;
    cc_parse_extra_filter(&f, "bearer.cap!=8:bearer.mode=0:ecall=2:ecall.simple=1:diversion1=5:bogus=1:noop");
    EXPECT_EQ(f.bearer_cap_capability, 8);
    EXPECT_EQ(f.bearer_cap_capability_not, 1);
    EXPECT_EQ(f.bearer_cap_mode, 0);
    EXPECT_EQ(f.bearer_cap_mode_not, 0);
    EXPECT_EQ(f.bearer_cap_rate, -1);
    EXPECT_EQ(f.bearer_cap_rate_not, 7); // left as the caller set it
    EXPECT_EQ(f.bearer_cap_user, -1);
    EXPECT_EQ(f.ecall_parsed, 2);
    EXPECT_EQ(f.ecall_simple, 1);
    EXPECT_EQ(f.diversion1, 5);

    int on = 1, off = 2, drop = 3;
    cc_parse_dtmf_params("40::10:99", &on, &off, &drop);
    EXPECT_EQ(on, 40);
    EXPECT_EQ(off, 2);
    EXPECT_EQ(drop, 10);

    int level = 300, period = 100, snr = 150;
    cc_parse_ntenergy_params("500:37", &level, &period, &snr);
    EXPECT_EQ(level, 420);
    EXPECT_EQ(period, 35);
    EXPECT_EQ(snr, 150);
    cc_parse_ntenergy_params(":1:999", &level, &period, &snr);
    EXPECT_EQ(level, 420);
    EXPECT_EQ(period, 20);
    EXPECT_EQ(snr, 200);
}

TEST_F(CallConf, PerLegValues)
{
    call_object co{};
    call_leg_sip in{}, out{};
    cc_init_call_configuration(&co.cc);
    co.cc.dtmfmode = CC_DTMF_INFO | CC_DTMF_INBAND << 8;
    co.cc.rtp_packet_size = 20 | 30 << 8;
    co.cl_sip_in = &in;
    co.cl_sip = &in;
    EXPECT_EQ(cc_get_dtmfmode_of_active_sipleg(&co), CC_DTMF_INFO);
    EXPECT_EQ(cc_get_dtmfmode_of_sipleg(&co, 1), CC_DTMF_INFO); // no outbound leg yet
    co.cl_sip_out = &out;
    EXPECT_EQ(cc_get_dtmfmode_of_sipleg(&co, 1), CC_DTMF_INBAND);
    EXPECT_EQ(cc_get_dtmfmode_of_sipleg(&co, 0), CC_DTMF_INFO);
    EXPECT_EQ(cc_get_rtp_packet_size_of_sipleg(&co, 1), 30);
    co.cl_sip = &out;
    EXPECT_EQ(cc_get_dtmfmode_of_active_sipleg(&co), CC_DTMF_INBAND);
    co.cc.dtmfmode = CC_DTMF_INFO; // outbound part 0: as inbound
    co.cc.rtp_packet_size = 20;
    EXPECT_EQ(cc_get_dtmfmode_of_active_sipleg(&co), CC_DTMF_INFO);
    EXPECT_EQ(cc_get_rtp_packet_size_of_sipleg(&co, 1), 20);
    call_leg_sip third{};
    co.cl_sip = &third;
    EXPECT_EQ(cc_get_dtmfmode_of_active_sipleg(&co), CC_DTMF_RFC2833);

    co.cc.srtp_mode = 20; // mandatory:optional
    co.callinfo = CI_SIP_TO_ISDN;
    co.cl_sip = &out;
    EXPECT_EQ(cc_get_srtp_mode_for_active_call_leg(&co), 4);
    co.callinfo = CI_SIP_TO_SIP;
    EXPECT_EQ(cc_get_srtp_mode_for_active_call_leg(&co), 2);
    co.cl_sip = &in;
    EXPECT_EQ(cc_get_srtp_mode_for_active_call_leg(&co), 4);
    co.cc.srtp_mode = 2;
    co.cl_sip = &out;
    EXPECT_EQ(cc_get_srtp_mode_for_active_call_leg(&co), 2);
}

} // namespace
