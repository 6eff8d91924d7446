#include <strings.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "cc_internal.h"
#include "cc_test_support.h"

namespace {

int row_of(const char *key)
{
    for (int i = 0; i < CC_OPTION_COUNT; i++)
        if (strcmp(call_configuration_options[i].var, key) == 0)
            return i;
    return -1;
}

TEST_F(CallConf, TableRowsKeysAndScopes)
{
    std::set<std::string> keys;
    std::set<int> ids;
    std::map<int, int> per_scope;
    for (const call_configuration_option &row : call_configuration_options) {
        std::string k = row.var;
        for (char &c : k)
            c = (char)tolower((unsigned char)c);
        EXPECT_TRUE(keys.insert(k).second) << "key twice: " << row.var;
        EXPECT_TRUE(ids.insert(row.id).second) << "identifier twice: " << row.id;
        EXPECT_TRUE(row.descriptions && row.descriptions[0] && row.values && row.values[0] && row.regexp)
            << row.var;
        EXPECT_EQ(strchr(row.descriptions, '\t'), nullptr) << row.var; // a tab would split the printed row
        per_scope[row.type]++;
    }
    EXPECT_EQ(keys.size(), 212u);
    for (int missing : {CC_I_T38_MAX_RATE, CC_I_ORIGIN_HEADER, CC_O_R2CONFIG})
        EXPECT_EQ(ids.count(missing), 0u) << missing;
    EXPECT_EQ(ids.size() + 3, (size_t)CC_ID_COUNT);
    const std::map<int, int> want = {{CC_TYPE_SIP, 42},         {CC_TYPE_SIP_INBOUND, 8}, {CC_TYPE_SIP_OUTBOUND, 51},
                                     {CC_TYPE_SIP_BOTH, 4},     {CC_TYPE_SIPISDN, 4},     {CC_TYPE_SIPPSTN, 5},
                                     {CC_TYPE_ISDN, 54},        {CC_TYPE_ANALOG, 6},      {CC_TYPE_GSM, 3},
                                     {CC_TYPE_PSTN, 14},        {CC_TYPE_ALL, 21}};
    EXPECT_EQ(per_scope, want);
    // Print order is neither sorted nor in identifier order.
    EXPECT_LT(row_of("o2screen"), row_of("pres"));
    EXPECT_EQ(row_of("force_t38_reinvite"), CC_OPTION_COUNT - 3);
    EXPECT_STREQ(call_configuration_options[0].var, "ec");
    EXPECT_STREQ(call_configuration_options[CC_OPTION_COUNT - 1].var, "msp_indication_control");
    EXPECT_EQ(CC_O_FORCE_T38_REINVITE, 23);
    EXPECT_EQ(CC_C_PREFIX_UNKNOWN, 108);
    EXPECT_EQ(CC_O_SIP_FAILOVER_CAUSES, 204);
}

// Each descriptor reaches its own member: marking one option raises exactly
// one set flag, and a number field keeps exactly the bits of its width.
TEST_F(CallConf, DescriptorsReachTheirOwnMembers)
{
    for (int id = 0; id < CC_ID_COUNT; id++) {
        SCOPED_TRACE("identifier " + std::to_string(id));
        const cc_descriptor &d = cc_descriptors[id];
        ASSERT_TRUE(d.is_set && d.mark);
        call_configuration cc{};
        d.mark(&cc);
        int raised = 0;
        for (int other = 0; other < CC_ID_COUNT; other++)
            raised += cc_descriptors[other].is_set(&cc) ? 1 : 0;
        EXPECT_EQ(raised, 1);
        EXPECT_TRUE(d.is_set(&cc));
        if (d.kind == CCK_TEXT || d.kind == CCK_STRUCT) {
            EXPECT_GT(d.size, 0u);
            EXPECT_LE(d.offset + d.size, sizeof(call_configuration));
            if (d.kind == CCK_TEXT) {
                EXPECT_EQ(d.width, d.size);
            }
            continue;
        }
        ASSERT_TRUE(d.get && d.put);
        if (id == CC_I_QVALUE) { // signed 8 bits
            d.put(&cc, 255);
            EXPECT_EQ(d.get(&cc), -1);
            continue;
        }
        if (d.width >= 32)
            continue;
        d.put(&cc, (1LL << d.width) - 1);
        EXPECT_EQ(d.get(&cc), (1LL << d.width) - 1);
        d.put(&cc, 1LL << d.width);
        EXPECT_EQ(d.get(&cc), 0);
    }
}

TEST_F(CallConf, DefaultRecord)
{
    const call_configuration &d = defaults();
    for (int id = 0; id < CC_ID_COUNT; id++)
        EXPECT_FALSE(cc_descriptors[id].is_set(&d)) << id;
    EXPECT_EQ(d.dialplan_finish_dialing_on_match_set, 0u);

    struct {
        const char *key;
        const char *value;
    } cases[] = {
        {"ec", "1"},
        {"ea", "1"},
        {"dton", "4"},
        {"oton", "4"},
        {"o2ton", "4"},
        {"rton", "0"},
        {"ectl", "15"},
        {"dtmfmode", "rfc2833"},
        {"dtmfremoval", "none"},
        {"cd", "1"},
        {"interdigit_dialing_max_digits", "20"},
        {"prefix_priority", "predialplan"},
        {"from_pstn_src_setting", "auto"},
        {"from_sip_src_setting", "auto"},
        {"from_sip_dest_setting", "auto"},
        {"rtp_packet_size", "20"},
        {"remove_empty_display_quotes", "1"},
        {"cid_gen_time", "1000"},
        {"alert_on_cd", "1"},
        {"rnpi", "1"},
        {"bearer_codec", "3"},
        {"isdn_progress_indicator", "-1"},
        {"isdn_progress_location", "-1"},
        {"rfc2833_dtmf_passthrough", "1"},
        {"srtp_mode", "off:off"},
        {"srtp_crypto_suites", "AES_CM_128_HMAC_SHA1_32:AES_CM_128_HMAC_SHA1_80:F8_128_HMAC_SHA1_80"},
        {"t38_reinvite", "sip2pstn"},
        {"callauth_timeout", "200"},
        {"callauth_default_policy", "ACCEPT"},
        {"dtmflen", "100"},
        {"dtmfinterval", "400"},
        {"qvalue", "-1"},
        {"clearmode_auto", "1"},
        {"anonymous_from_user_on_privacy", "1"},
        {"sips_on_tls", "1"},
        {"nationalprefix", "0"},
        {"internationalprefix", "00"},
        {"unknownprefix", ""},
        {"dialplan_international_prefix", "00"},
        {"isdn_oad_setting", "${new_source_auto}"},
        {"isdn_dad_setting", "${new_destination_auto}"},
        {"sip_from_user_setting", "${new_source}"},
        {"sip_to_user_setting", "${new_destination}"},
        {"sip_diversion_to_user_setting", "${new_destination}"},
        {"sip_pai_user_setting", "${account_base_number_auto}"},
        {"sip_contact_user_setting", "${account_username}"},
        {"analog_oad_setting", "${new_source}"},
        {"gsm_oad_setting", "${new_source}"},
        {"s2fxo_cpt", "default"},
        {"callauth_direction", "INBOUND"},
        {"on_empty_user", "anonymous"},
        {"failover_causes", "408:503:909"},
        {"codecs", "pcma"},
        {"t38_options", ""},
        {"faxdetect_options", "10:1:400:600:2500:3500"},
        {"ec_sparse_params", "0:0|1:1|2:1|3:0|4:0|5:0|6:0"},
        {"msp_indication_control", "0:0:0:0:0:1:0:0:0 def:0"},
        {"force_t38_reinvite", "0"},
        {"pcmlaw", "alaw"},
        {"comfort_noise", "0"},
        {"use_privacy_header", "auto"},
    };
    char buf[1024];
    for (auto &c : cases) {
        int row = cc_find_option(c.key);
        ASSERT_GE(row, 0) << c.key;
        cc_value_text(&d, cc_descriptors[call_configuration_options[row].id], buf, sizeof buf);
        EXPECT_STREQ(buf, c.value) << c.key;
    }
    EXPECT_EQ(d.t38_max_rate, 14400u);
    EXPECT_EQ(d.t38_options.rc_t30, 3);
    EXPECT_EQ(d.t38_options.tcf, 1);
    EXPECT_EQ(d.r2config.max_ani, -1);
    EXPECT_EQ(d.r2config.max_dnis, -1);
    EXPECT_EQ(d.r2config.r2variant, R2_VARIANT_ITU);
    EXPECT_EQ(d.sip_failover_causes_size, 3);
}

TEST_F(CallConf, RecordOperations)
{
    call_configuration cc = fresh();
    EXPECT_EQ(memcmp(&cc, &defaults(), sizeof cc), 0);
    cc.dtmfmode = 2;
    call_configuration copy;
    cc_clone_call_configuration(&copy, &cc);
    EXPECT_EQ(memcmp(&cc, &copy, sizeof cc), 0);
    EXPECT_EQ(cc_cleanup_call_configuration(&cc), &cc);

    codec_settings cs;
    cc_allow_codecs(&cs, "pcma:g729");
    cc_create_codec_settings_by_using_codec(&cs, 18);
    ASSERT_EQ(cs.count, 1);
    EXPECT_STREQ(cs.allowed_codecs[0]->name, "g729");
    cc_create_codec_settings_by_using_codec(&cs, 97); // no such codec: count 0, entries stay
    EXPECT_EQ(cs.count, 0);
    EXPECT_STREQ(cs.allowed_codecs[0]->name, "g729");
    cc_clear_codec_settings(&cs);
    EXPECT_EQ(cs.count, 0);
    for (auto *c : cs.allowed_codecs)
        EXPECT_EQ(c, nullptr);

    int ec = row_of("ec"), ea = row_of("ea");
    EXPECT_EQ(cc_compare_configuration_values_alphabetically(ec, ea), 1);
    EXPECT_EQ(cc_compare_configuration_values_alphabetically(ea, ec), 0);
    EXPECT_EQ(cc_compare_configuration_values_alphabetically(ea, ea), 0);
}

} // namespace
