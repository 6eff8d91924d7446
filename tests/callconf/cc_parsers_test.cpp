#include <atomic>
#include <cstring>
#include <thread>
#include <functional>
#include <string>

#include "cc_test_support.h"

namespace {

bool has_line(const std::vector<std::string> &lines, const std::string &text)
{
    for (auto &l : lines)
        if (l == text)
            return true;
    return false;
}

std::string repeat(const std::string &item, int n, const char *sep)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += (i ? sep : "") + item;
    return s;
}

TEST_F(CallConf, CodecLists)
{
    struct {
        const char *text;
        const char *formatted;
        int count;
        const char *line; // one expected log line, or null for none
    } cases[] = {
        {"PCMA:foo:g729", "pcma:g729", 2, "Ignoring unknown codec foo"},
        {"g722:G722:CLEARMODE", "g722:g722:CLEARMODE", 3, nullptr},
        {"", "none", 0, nullptr},
        {"pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:pcmu:g729",
         nullptr, 20, "Maximum amount of codecs reached (no g729)"},
    };
    for (auto &c : cases) {
        codec_settings cs;
        EXPECT_EQ(cc_allow_codecs(&cs, c.text), c.count) << c.text;
        char buf[512];
        cc_format_codec_settings(&cs, buf, sizeof buf);
        if (c.formatted) {
            EXPECT_STREQ(buf, c.formatted);
        }
        auto lines = take_lines();
        if (c.line) {
            EXPECT_EQ(lines, std::vector<std::string>{c.line}) << c.text;
        } else
            EXPECT_TRUE(lines.empty()) << c.text;
    }
    // Bounded by the caller's buffer.
    codec_settings cs;
    cc_allow_codecs(&cs, "CLEARMODE:g726-32");
    char small[8];
    cc_format_codec_settings(&cs, small, sizeof small);
    EXPECT_STREQ(small, "CLEARMO");
}

TEST_F(CallConf, CryptoSuites)
{
    struct {
        const char *text;
        int32_t word;
        int invalid_lines;
        const char *formatted;
    } cases[] = {
        {"AES_CM_32:AES_CM_80:AES_CM_32:F8_80", 2 | 1 << 8 | 3 << 16, 1,
         "AES_CM_128_HMAC_SHA1_32:AES_CM_128_HMAC_SHA1_80:F8_128_HMAC_SHA1_80"},
        {"F8_128_HMAC_SHA1_80:AES_CM_128_HMAC_SHA1_80:AES_CM_32:AES_CM_80", 3 | 1 << 8 | 2 << 16, 0,
         "F8_128_HMAC_SHA1_80:AES_CM_128_HMAC_SHA1_80:AES_CM_128_HMAC_SHA1_32"},
        {"aes_cm_80", 0, 1, ""},
        {"AES_CM_80", 1, 0, "AES_CM_128_HMAC_SHA1_80"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(cc_parse_crypto_suites(c.text), c.word) << c.text;
        EXPECT_EQ((int)take_lines().size(), c.invalid_lines) << c.text;
        EXPECT_STREQ(cc_print_crypto_suites(c.word), c.formatted);
    }
    cc_parse_crypto_suites("AES_CM_32:AES_CM_32");
    EXPECT_EQ(take_lines(), std::vector<std::string>{"ignoring invalid crypto token |AES_CM_32|"});
    // A byte the parser never writes is skipped, not looked up.
    EXPECT_STREQ(cc_print_crypto_suites(1 | 9 << 8 | 2 << 16), "AES_CM_128_HMAC_SHA1_80:AES_CM_128_HMAC_SHA1_32");
}

// Each thread formats into its own buffer: two printouts at once keep their
// own text.
TEST_F(CallConf, CryptoSuiteNamesPerThread)
{
    std::atomic<int> wrong{0};
    auto run = [&wrong](int32_t word, const char *want) {
        for (int i = 0; i < 20000; i++)
            if (strcmp(cc_print_crypto_suites(word), want) != 0)
                wrong++;
    };
    std::thread a(run, 1, "AES_CM_128_HMAC_SHA1_80");
    std::thread b(run, 3 | 2 << 8, "F8_128_HMAC_SHA1_80:AES_CM_128_HMAC_SHA1_32");
    a.join();
    b.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(CallConf, FailoverCauses)
{
    struct {
        std::string text;
        const char *formatted;
        const char *line;
    } cases[] = {
        {"486:404:200:503", "486:404:503", nullptr},
        {"abc:10000:9999:399:400", "9999:400", nullptr},
        {repeat("486", 21, ":"), nullptr, "Maximum amount of failover causes reached (no 486)"},
    };
    for (auto &c : cases) {
        call_configuration cc = fresh();
        cc_parse_sip_failover_causes(&cc, c.text.c_str());
        EXPECT_TRUE(cc.sip_failover_causes_set);
        char buf[256];
        cc_format_sip_failover_causes(buf, sizeof buf, cc.sip_failover_causes, cc.sip_failover_causes_size);
        if (c.formatted) {
            EXPECT_STREQ(buf, c.formatted);
        } else
            EXPECT_EQ(cc.sip_failover_causes_size, 20);
        auto lines = take_lines();
        EXPECT_EQ(lines.size(), c.line ? 1u : 0u);
        if (c.line) {
            EXPECT_TRUE(has_line(lines, c.line));
        }
    }
}

TEST_F(CallConf, T38Options)
{
    struct {
        const char *text;
        t38options want;
        const char *line;
    } cases[] = {
        {"plc=3:ecm=1", {0, 1, 0, 3, 0, 1, 0}, "ignoring invalid value for t38option plc, cannot be 3"},
        {"plc=2:rc_fp=3:rc_t30=7:fcs=6:tcf=0:tsp=1", {2, 0, 3, 7, 6, 0, 1}, nullptr},
        {"rc_t30=-1", {0, 0, 0, 3, 0, 1, 0}, "ignoring invalid value for t38option rc_t30, cannot be -1"},
        {"speed=9", {0, 0, 0, 3, 0, 1, 0}, "don't know t38option speed"},
        {"plc", {0, 0, 0, 3, 0, 1, 0}, "ignoring invalid t38option key/value: plc:"},
    };
    for (auto &c : cases) {
        t38options t = defaults().t38_options;
        cc_set_t38_options(&t, c.text);
        EXPECT_EQ(memcmp(&t, &c.want, sizeof t), 0) << c.text;
        auto lines = take_lines();
        EXPECT_EQ(lines.size(), c.line ? 1u : 0u) << c.text;
        if (c.line) {
            EXPECT_TRUE(has_line(lines, c.line)) << c.text;
        }
    }
}

TEST_F(CallConf, SmallLanguagesRoundTrip)
{
    char buf[1024];
    struct {
        const char *what;
        std::string text;
        const char *formatted;
        std::function<void(const char *, char *, size_t)> run;
    } cases[] = {
        {"force", "5:3:10:10:20", "5:10:20", nullptr},
        {"force", "0", "0", nullptr},
        {"force", "65535:1:65534", "1:65534", nullptr},
        {"force", "1:2:3:4:5:6:7:8:9:10", "1:2:3:4:5:6:7:8", nullptr},
        {"fax", "10:2", "10:2:400:600:2500:3500", nullptr},
        {"fax", "1:2:3:4:5:6:7", "1:2:3:4:5:6", nullptr},
        {"fax", "300::70000", "44:1:4464:600:2500:3500", nullptr},
        {"features", "f:*31#:mcid;x:1:afh;t:#9:none", "f:*31#:MCID;t:#9:NONE", nullptr},
        {"features", "b:1;t:2:AFH", "t:2:AFH", nullptr},
        {"features", "b:" + std::string(40, '7') + ":mcid", nullptr, nullptr},
        {"aoc", "currency:EUR:8|1:60|2:30:5", "1:60:-1;2:30:5", nullptr},
        {"aoc", "chu:x:y|3", "3:30:-1", nullptr},
        {"aoc", "charging|3", "", nullptr}, // only "chu" names the charging type
        {"fxo", "2:RINGING:CONNECT|1:connected:disconnect", "2:RINGING:CONNECT|1:CONNECTED:DISCONNECT", nullptr},
        {"fxo", "1:FOO:CONNECT|3:RINGING:DISCONNECT", "3:RINGING:DISCONNECT", nullptr},
        {"fxo", "1:RINGING:CONNECT:x|1:RINGING", "", nullptr},
        {"fxo", "4:RINGING:BAR", "4:RINGING:UNKNOWN", nullptr},
        {"ec", "0:1|5:2|6:1|7:1|3:5|1:0|nonsense", "0:1|1:0|2:1|3:0|4:0|5:2|6:1", nullptr},
        {"ec", "5:3|4:1", "0:0|1:1|2:1|3:0|4:1|5:0|6:0", nullptr},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(std::string(c.what) + " " + c.text);
        call_configuration cc = fresh();
        const char *t = c.text.c_str();
        std::string what = c.what;
        if (what == "force") {
            cc_parse_force_t38_reinvite(&cc.force_t38_reinvite, t);
            cc_format_t38_force_reinvite(&cc.force_t38_reinvite, buf, sizeof buf);
        } else if (what == "fax") {
            call_configuration zero{};
            cc_set_faxdetect_options(&zero.faxdetect_options, t); // starts from the default record's
            cc_format_faxdetect_options(&zero.faxdetect_options, buf, sizeof buf);
        } else if (what == "features") {
            cc_parse_feature_codes(&cc.feature_codes, t);
            cc_format_feature_codes(&cc.feature_codes, buf, sizeof buf);
            if (!c.formatted) {
                EXPECT_EQ(strlen(cc.feature_codes.ifc_codelist[0]), 31u);
                continue;
            }
        } else if (what == "aoc") {
            cc_parse_aoc_definition(&cc.aocdef, t);
            cc_format_aoc_definition(&cc.aocdef, buf, sizeof buf);
        } else if (what == "fxo") {
            cc_parse_fxo_definition(&cc.fxo_in_pr_def, t);
            cc_format_fxo_pr_definition(&cc.fxo_in_pr_def, buf, sizeof buf);
        } else {
            cc_parse_ec_sparse_params(&cc.ec_sparse_params, t);
            cc_format_ec_sparse_params(&cc.ec_sparse_params, buf, sizeof buf);
        }
        EXPECT_STREQ(buf, c.formatted);
    }
}

TEST_F(CallConf, LimitsOfTheRecordsAreKept)
{
    call_configuration cc = fresh();
    cc_parse_feature_codes(&cc.feature_codes, repeat("t:1:mcid", 40, ";").c_str());
    EXPECT_EQ(cc.feature_codes.size, 32);
    cc_parse_fxo_definition(&cc.fxo_out_pr_def, repeat("1:RINGING:CONNECT", 10, "|").c_str());
    EXPECT_EQ(cc.fxo_out_pr_def.count, 8);
    cc_parse_aoc_definition(&cc.aocdef, ("cur:EUR:2|" + repeat("1:1", 17, "|")).c_str());
    EXPECT_EQ(cc.aocdef.number_of_rules, 16);
    EXPECT_TRUE(has_line(take_lines(), "maximum number of 16 interval definitions, ignoring the rest"));
}

TEST_F(CallConf, AdviceOfChargeHeader)
{
    call_configuration cc = fresh();
    cc_parse_aoc_definition(&cc.aocdef, "currency:EUR:8|1:60|2:30:5");
    EXPECT_EQ(cc.aocdef.aoctype, AOC_TYPE_CURRENCY);
    EXPECT_STREQ(cc.aocdef.currency, "EUR");
    EXPECT_EQ(cc.aocdef.multiplier, 6);
    EXPECT_EQ(cc.aocdef.number_of_rules, 2);
    cc_parse_aoc_definition(&cc.aocdef, "1:2:3:4|x");
    EXPECT_EQ(cc.aocdef.aoctype, AOC_TYPE_NONE);
    EXPECT_EQ(cc.aocdef.number_of_rules, 2); // parsing ended at the header
    cc_parse_aoc_definition(&cc.aocdef, "Analog16kHz|1:2:3:4");
    EXPECT_EQ(cc.aocdef.aoctype, AOC_TYPE_ANALOG16K);
    EXPECT_EQ(take_lines(), std::vector<std::string>{"unexpected value 4"});
    cc_parse_aoc_definition(&cc.aocdef, "no bar at all");
    EXPECT_EQ(cc.aocdef.aoctype, AOC_TYPE_NONE);
    cc_parse_aoc_definition(&cc.aocdef, "CURRENCY:SWISSFRANCS:2|1");
    EXPECT_STREQ(cc.aocdef.currency, "SWISSFRAN");

    // The type words the option's help offers are the ones the parser takes
    // (stored configurations write "chunits" for charging units).
    const call_configuration_option *aoc = nullptr;
    for (const call_configuration_option &o : call_configuration_options)
        if (strcmp(o.var, "aoc") == 0)
            aoc = &o;
    ASSERT_NE(aoc, nullptr);
    std::string values = aoc->values;
    const struct {
        const char *word;
        aoc_type type;
    } words[] = {{"currency", AOC_TYPE_CURRENCY},
                 {"chunits", AOC_TYPE_CHARGING},
                 {"analog12k", AOC_TYPE_ANALOG12K},
                 {"analog16k", AOC_TYPE_ANALOG16K}};
    for (const auto &w : words) {
        EXPECT_NE(values.find(w.word), std::string::npos) << values;
        cc_parse_aoc_definition(&cc.aocdef, (std::string(w.word) + "|1:60").c_str());
        EXPECT_EQ(cc.aocdef.aoctype, w.type) << w.word;
    }
    EXPECT_EQ(values.find("charging|"), std::string::npos) << values;
}

TEST_F(CallConf, IndicationControlAndR2Profile)
{
    cc_msp_indication_control m = defaults().msp_indication_control;
    EXPECT_EQ(cc_parse_msp_indication_control(&m, "1:0:1:0:1:0:1:0:500"), 0);
    char buf[128];
    cc_format_msp_indication_control(&m, buf, sizeof buf);
    EXPECT_STREQ(buf, "1:0:1:0:1:0:1:0:500 def:0");
    EXPECT_EQ(cc_parse_msp_indication_control(&m, "0:1:0:1:0:1:0:1"), -1);
    EXPECT_EQ(take_lines(), std::vector<std::string>{"invalid value: 0:1:0:1:0:1:0:1"});
    cc_format_msp_indication_control(&m, buf, sizeof buf);
    EXPECT_STREQ(buf, "0:1:0:1:0:1:0:1:500 def:1"); // items read before the failure stay
    EXPECT_EQ(cc_parse_msp_indication_control(&m, "1:1:1:1:1:1:1:1:70000:1"), -1);

    mfcr2_profile p = defaults().r2config;
    cc_format_r2config(&p, buf, sizeof buf);
    EXPECT_STREQ(buf, "variant=itu;ani_first=0;max_ani=-1;max_dnis=-1;immediate_accept=0\n");
    cc_parse_r2config(&p, "variant=VE:max_ani=4:max_dnis=10:ani_first=1:immediate_accept=1:bogus:x=1");
    cc_format_r2config(&p, buf, sizeof buf);
    EXPECT_STREQ(buf, "variant=ve;ani_first=1;max_ani=4;max_dnis=10;immediate_accept=1\n");
}

TEST_F(CallConf, SmallWordParsersAndFormatters)
{
    EXPECT_EQ(cc_parse_prefix_setting("NONE"), CONFIG_S2D_PREFIX_NONE);
    EXPECT_EQ(cc_parse_prefix_setting("prepend"), CONFIG_S2D_PREFIX_PREPEND);
    EXPECT_EQ(cc_parse_prefix_setting("x"), CONFIG_S2D_PREFIX_REPLACE_PLUS);
    EXPECT_EQ(cc_parse_d2s_prefix_setting("Remove"), CONFIG_D2S_PREFIX_REMOVE);
    EXPECT_EQ(cc_parse_d2s_prefix_setting("replace"), CONFIG_D2S_PREFIX_REPLACE);
    EXPECT_EQ(cc_parse_d2s_prefix_setting("none"), CONFIG_D2S_PREFIX_NONE);
    EXPECT_EQ(cc_parse_sip_xheaders("cid:origin"), 3);
    EXPECT_EQ(cc_parse_sip_xheaders("CID:origin:x"), 2);
    char buf[16];
    for (auto [bits, text] : {std::pair{3, "cid"}, {2, "origin"}, {0, ""}}) {
        cc_format_sip_xheaders(buf, sizeof buf, bits);
        EXPECT_STREQ(buf, text);
    }
    EXPECT_STREQ(cc_format_call_forwarding_mode(1), "Invite");
    EXPECT_STREQ(cc_format_call_forwarding_mode(2), "Diversion");
    EXPECT_STREQ(cc_format_call_forwarding_mode(7), "302");
}

TEST_F(CallConf, WordFormatters)
{
    struct {
        const char *(*f)(int);
        int code;
        const char *word;
    } cases[] = {
        {cc_print_dtmf_mode, 1, "inband"},
        {cc_print_dtmf_mode, 1 | 2 << 8, "inband:info"},
        {cc_print_dtmf_mode, 1 | 4 << 8, "inband:rfc2833"},
        {cc_print_dtmf_mode, 2 | 1 << 8, "info:inband"},
        {cc_print_dtmf_mode, 2 | 2 << 8, "info"},
        {cc_print_dtmf_mode, 4 | 2 << 8, "rfc2833:info"},
        {cc_print_dtmf_mode, 4, "rfc2833"},
        {cc_print_dtmf_mode, 1 | 3 << 8, "inband:broken"},
        {cc_print_dtmf_mode, 2 | 8 << 8, "info:broken"},
        {cc_print_dtmf_mode, 4 | 5 << 8, "info:broken"},
        {cc_print_dtmf_mode, 3, "broken"},
        {cc_print_dtmf_mode, 0, "broken"},
        {cc_print_dtmf_removal, 2, "packet"},
        {cc_print_dtmf_removal, 4, "invalid"},
        {cc_print_bearer_capability, 17, "AUDIO_7K"},
        {cc_print_bearer_capability, 10, "DIGITAL_UNRESTRICTED_TONES"},
        {cc_print_bearer_capability, 1, "INVALID_CAPABILITY"},
        {cc_print_cad_setting, 0, "nothing"},
        {cc_print_cad_setting, 7, "new_destination"},
        {cc_print_tonedetect_disable, 3, "ip:tdm"},
        {cc_print_tonedetect_disable, 2, "tdm"},
        {cc_print_prefix_priority, 0, "postdialplan"},
        {cc_print_from_pstn_src_setting, 7, "actdivq2"},
        {cc_print_from_pstn_src_setting, 8, "error"},
        {cc_print_from_sip_src_setting, 11, "auto"},
        {cc_print_from_sip_src_setting, 12, "error"},
        {cc_print_from_sip_dest_setting, 12, "request_url_user"},
        {cc_print_from_sip_dest_setting, -1, "error"},
        {cc_print_aoc_on_sip_setting, 3, "AOC-Header|X-ClientCode"},
        {cc_print_aoc_on_sip_setting, 0, ""},
        {cc_print_use_sip_privacy, 1, "off"},
        {cc_print_use_sip_privacy, 4, "unknown"},
        {cc_print_srtp_mode, 1, "off"},
        {cc_print_srtp_mode, 9, "off:off"},
        {cc_print_srtp_mode, 20, "mandatory:optional"},
        {cc_print_srtp_mode, 5, "unknown"},
        {cc_print_t38_reinvite, 3, "both"},
        {cc_print_t38_reinvite, 0, "unknown"},
        {cc_print_isdn_destination_field, 1, "keypad"},
        {cc_print_vaz_setting, 3, "VAZ_EMPTY"},
        {cc_print_vaz_setting, 0, "VAZ_UNKNOWN"},
        {cc_print_s2d_prefix_setting, 0, "replace"},
        {cc_print_s2d_prefix_setting, 3, "unknown"},
        {cc_print_fxo_pr_state, 2, "CONNECTED"},
        {cc_print_fxo_pr_event, 0, "UNKNOWN"},
        {cc_print_ton, -1, "TON_UNINITIALIZED=-1"},
        {cc_print_ton, 6, "TON_ABBREVIATED=6"},
        {cc_print_ton, 7, "TON_INVALID"},
        {cc_print_ton, -2, "TON_INVALID"},
    };
    for (auto &c : cases)
        EXPECT_STREQ(c.f(c.code), c.word) << c.code;
}

} // namespace
