// Templates with variable references: finding and replacing, nesting, the
// value tables of each kind of call, type-of-number prefixes and the
// automatic type of number.
#include "debug_lines.h"
#include "dialplan_call_fixture.h"

namespace {

class DialplanVars : public DialplanCall {};

TEST_F(DialplanVars, FindingReferences)
{
    struct {
        const char *text;
        int most;
        std::vector<std::pair<int, int>> refs;
    } cases[] = {
        {"", 11, {}},
        {"plain", 11, {}},
        {"${a}", 11, {{0, 4}}},
        {"x${ab}y${c}", 11, {{1, 5}, {7, 4}}},
        {"${a}${open", 11, {{0, 4}}},     // unterminated: stop there
        {"${a${b}}", 11, {{0, 7}}},       // to the first closing brace
        {"$a}${}", 11, {{3, 3}}},         // "$" alone starts nothing
        {"${1}${2}${3}", 2, {{0, 4}, {4, 4}}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        int pos[16], len[16], count = -1;
        int n = dialplan_find_variables_in_string(c.text, pos, len, &count, c.most);
        ASSERT_EQ(n, (int)c.refs.size());
        EXPECT_EQ(count, n);
        for (int i = 0; i < n; i++)
            EXPECT_EQ(std::make_pair(pos[i], len[i]), c.refs[i]);
    }
}

TEST_F(DialplanVars, ReplacingOnASipToIsdnCall)
{
    set(&co->new_destination, "4930123");
    address(&sip_address_info_object::from_display, "new_destination");
    address(&sip_address_info_object::from_url_user, "alice");
    struct {
        const char *tmpl;
        const char *out;
        int size;
    } cases[] = {
        {"${new_source}x", "x", 256},                         // unset value: empty
        {"no references", "no references", 256},
        {"a${new_destination", "a${new_destination", 256},    // unterminated: copied
        {"<${new_destination}>", "<4930123>", 256},
        {"<${new_destination}>", "<49301", 7},                // at most size - 1 characters
        {"abcdefghij", "abcdefg", 8},
        {"${new_d}|${new_destinationx}", "4930123|", 256},    // abbreviation; longer name: unknown
        {"${new_destination_}", "4930123", 256},              // begins new_destination_auto (no rule: kept)
        {"${f}/${from_d}", "alice/new_destination", 256},     // first row that begins with the name
        {"${nothing}", "", 256},
        {"${${from_display}}", "4930123", 256},               // nested: the inner value names a variable
        {"${x${from_user}}y", "y", 256},                      // the outer name is unknown
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.tmpl);
        EXPECT_EQ(expand(c.tmpl, c.size), c.out);
    }
}

TEST_F(DialplanVars, AtMostElevenReferencesAndCounting)
{
    set(&co->new_source, "1");
    std::string tmpl;
    for (int i = 0; i < 12; i++)
        tmpl += "${new_source}";
    int counter = 5;
    EXPECT_EQ(expand(tmpl.c_str(), 256, &counter), "11111111111${new_source}");
    EXPECT_EQ(counter, 5 + 11);

    address(&sip_address_info_object::from_display, "new_source");
    counter = 0;
    EXPECT_EQ(expand("${${from_display}}:${new_source}", 256, &counter), "1:1");
    EXPECT_EQ(counter, 1 + 2); // one nested pass, then both at once
}

TEST_F(DialplanVars, SelfReferringValueEnds)
{
    debug_lines log({TARN});
    address(&sip_address_info_object::from_display, "${from_display}");
    int counter = 0;
    EXPECT_EQ(expand("${x${from_display}}", 256, &counter), "}");
    EXPECT_EQ(counter, DP_MAX_NESTED_PASSES + 1);
    int capped = 0;
    for (const std::string &l : log.lines())
        capped += l.find("nested deeper than 11 levels") != std::string::npos;
    EXPECT_EQ(capped, 1);
    // A value that grows each pass stays inside the work text and the output.
    address(&sip_address_info_object::from_display, "${from_display}${from_display}");
    std::string out = expand("${a${from_display}}", 256);
    EXPECT_LE(out.size(), 255u);
}

TEST_F(DialplanVars, DummyTableKeepsReferences)
{
    co->callinfo = CI_INTERNAL;
    set(&co->new_source, "1");
    EXPECT_EQ(expand("a${new_source}b${x}"), "a${new_source}b${x}");
    char out[64];
    dialplan_find_and_replace_variables_in_string(nullptr, "${new_source}", out, sizeof out, nullptr);
    EXPECT_STREQ(out, "${new_source}");
}

TEST_F(DialplanVars, IsdnToSipValues)
{
    co->callinfo = CI_ISDN_TO_SIP;
    snprintf(co->cc.prefix_national, sizeof co->cc.prefix_national, "0");
    snprintf(co->cc.prefix_international, sizeof co->cc.prefix_international, "00");
    snprintf(co->cc.prefix_private, sizeof co->cc.prefix_private, "P");
    misdn_bchannel *b = new_bc();
    snprintf(b->oad, sizeof b->oad, "301234");
    b->oton = (mISDN_NUMBER_TYPE)2;
    snprintf(b->oad2, sizeof b->oad2, "4930999");
    b->o2ton = (mISDN_NUMBER_TYPE)1;
    snprintf(b->dad, sizeof b->dad, "55");
    b->dton = (mISDN_NUMBER_TYPE)4;
    snprintf(b->qsig_remote_name, sizeof b->qsig_remote_name, "Q Name");
    snprintf(b->rad, sizeof b->rad, "777");
    snprintf(b->display, sizeof b->display, "Disp");
    snprintf(b->userusername, sizeof b->userusername, "UU");
    snprintf(b->activersionDivQNumber1, sizeof b->activersionDivQNumber1, "888");
    b->activersionDivQNumber1_ton = 1;
    sip_groups("[provider]\nsip_stack=lan\nsip_proxy=10.9.0.1\nsip_domain=sip.example.test\n");
    co->cl_sip = &out_leg; // a line's call has one SIP leg, the outgoing one
    proxy(out_leg, "acct", "provider");
    struct {
        const char *tmpl, *out;
    } cases[] = {
        {"${oad}|${clip}|${oad2}|${dad}", "0301234|0301234|004930999|P55"},
        {"${qsigname}|${redirected_nr}|${isdn_display}|${isdn_uuname}", "Q Name|777|Disp|UU"},
        {"${ac}|${account_domain}", "acct|sip.example.test"}, // "ac" selects account_username
        {"${act}|${actdivq1p}|${actdivq2}|${actdivq2p}", "888|00888||"},
        {"${account_base_number}|${account_base_number_auto}", "|acct"},
        {"${o}${q}${r}${i}", "0301234Q Name777Disp"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.tmpl);
        EXPECT_EQ(expand(c.tmpl), c.out);
    }
    // The base number and the automatic numbers.
    snprintf(co->cc.sip_account_base_number, sizeof co->cc.sip_account_base_number, "4930");
    EXPECT_EQ(expand("${account_base_number_auto}"), "4930");
    set(&co->new_source, "4930555");
    EXPECT_EQ(expand("${account_base_number_auto}"), "4930555");
    set(&co->new_source_auto, "4930111");
    EXPECT_EQ(expand("${account_base_number_auto}"), "4930111");
    // A proxy definition that names no group, or no proxy definition.
    free(out_leg.pd->name);
    out_leg.pd->name = nullptr;
    EXPECT_EQ(expand("${account_domain}"), "unknown");
    out_leg.pd->name = strdup("gone");
    EXPECT_EQ(expand("${account_domain}"), "unknown");
    free_proxy_def(out_leg.pd);
    out_leg.pd = nullptr;
    snprintf(co->cc.sip_account_base_number, sizeof co->cc.sip_account_base_number, "%s", "");
    EXPECT_EQ(expand("[${account_domain}${account_username}${account_base_number_auto}]"), "[]");
    // Without a B-channel the ISDN values are empty.
    co->bc = nullptr;
    EXPECT_EQ(expand("[${oad}${dad}${qsigname}${actdivq1p}]"), "[]");
}

TEST_F(DialplanVars, LineAndRegistrationTables)
{
    groups("ANALOG", &gp->config_analog, pg_init_analog_port_group_struct,
           "[fxs]\nports=3,4\nclip=100,200\ncnip=Alice,Bob\n");
    groups("CAS", &gp->config_cas, pg_init_cas_port_group_struct, "[t1]\nports=7\nclip=700\n");

    co->callinfo = CI_ANALOG_TO_SIP;
    co->analog_port = 4 | 0x800; // the marker bit is not part of the port
    co->analog_oad = strdup("0301");
    EXPECT_EQ(expand("${oad}|${oad2}|${clip}|${cnip}|${c}"), "0301||200|Bob|200");
    free(co->analog_oad);

    co->callinfo = CI_GSM_TO_SIP;
    co->gsm_oad = strdup("+4917");
    EXPECT_EQ(expand("${oad}|${clip}|${cnip}"), "+4917|+4917|");
    co->callinfo = CI_GSM_TO_SIP_EXTENSIONS;
    EXPECT_EQ(expand("${clip}|${o}|${oad2}|${new_source}"), "+4917|+4917||");
    free(co->gsm_oad);

    co->callinfo = CI_CAS_TO_SIP;
    co->cas_port = 7;
    co->cas_oad = strdup("12");
    EXPECT_EQ(expand("${oad}|${clip}"), "12|700");
    free(co->cas_oad);

    // SIP to ANALOG: the port of a CLIP; other calls know no "clip2port[".
    co->callinfo = CI_SIP_TO_ANALOG;
    EXPECT_EQ(expand("${clip2port[200]}|${clip2port[999]}|${clip2port[100}|${clip}"), "4|0|3|");
    co->callinfo = CI_SIP_TO_ISDN;
    EXPECT_EQ(expand("${clip2port[200]}"), "");

    // A registration: the user of its proxy definition, else of its group's
    // user, and its group's domain.
    reg_object *ro = (reg_object *)calloc(1, sizeof *ro);
    ro->callinfo = CI_REGISTER;
    port_group_sip pgs{};
    pgs.pgs_sip_domain = (char *)"reg.example.test";
    port_group_sip_user user{};
    user.pgsu_user = (char *)"groupuser";
    ro->pgs = &pgs;
    ro->pgsu = &user;
    char out[128];
    const char *tmpl = "${account_username}@${account_d}|${new_source}";
    dialplan_find_and_replace_variables_in_string(ro, tmpl, out, sizeof out, nullptr);
    EXPECT_STREQ(out, "groupuser@reg.example.test|");
    ro->pd = proxy(out_leg, "reguser", nullptr);
    dialplan_find_and_replace_variables_in_string(ro, tmpl, out, sizeof out, nullptr);
    EXPECT_STREQ(out, "reguser@reg.example.test|");
    free(ro);
}

TEST_F(DialplanVars, SipTablesReadTheIncomingRequest)
{
    using A = sip_address_info_object;
    const std::pair<const char *, char *sip_address_info_object::*> names[] = {
        {"from_user", &A::from_url_user},
        {"from_display", &A::from_display},
        {"to_user", &A::to_url_user},
        {"pai_all", &A::p_asserted_identity},
        {"pai_user", &A::p_asserted_identity_user},
        {"pai_display", &A::p_asserted_identity_display},
        {"ppi_all", &A::p_preferred_identity},
        {"ppi_user", &A::p_preferred_identity_user},
        {"ppi_display", &A::p_preferred_identity_display},
        {"rpi_all", &A::p_remote_party_id},
        {"rpi_user", &A::p_remote_party_id_user},
        {"rpi_display", &A::p_remote_party_id_display},
        {"cpi_all", &A::p_called_party_id},
        {"cpi_user", &A::p_called_party_id_user},
        {"cpi_display", &A::p_called_party_id_display},
        {"request_url_user", &A::request_url_user},
        {"request_url_host", &A::request_url_host},
        {"contact_user", &A::contact_user},
        {"contact_host", &A::contact_host},
    };
    for (auto [name, part] : names)
        address(part, (std::string("v-") + name).c_str());
    address(&A::to_display, "v-to_display");
    address(&A::to_url, "v-to_url");
    for (int ci : {CI_SIP_TO_SIP, CI_SIP_TO_ISDN, CI_SIP_TO_GSM}) {
        co->callinfo = ci;
        for (auto [name, part] : names) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(ci));
            EXPECT_EQ(expand((std::string("${") + name + "}").c_str()), std::string("v-") + name);
        }
    }
    // To display only in the SIP-to-SIP table; "pcpi" is no name of either.
    co->callinfo = CI_SIP_TO_SIP;
    EXPECT_EQ(expand("${to_display}|${pcpi_all}|${p}|${r}"), "v-to_display||v-pai_all|v-rpi_all");
    co->callinfo = CI_SIP_TO_ISDN;
    EXPECT_EQ(expand("${to_display}|${p}|${r}"), "|v-pai_all|v-rpi_all");
    // A SIP-to-SIP call reads its incoming leg, not the current one.
    co->callinfo = CI_SIP_TO_SIP;
    co->cl_sip_in = &in_leg;
    co->cl_sip = co->cl_sip_out = &out_leg;
    out_leg.address_info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    out_leg.address_info->from_url_user = strdup("outgoing");
    EXPECT_EQ(expand("${from_user}"), "v-from_user");
}

TEST_F(DialplanVars, CallDeflectionNumber)
{
    misdn_bchannel *b = new_bc();
    EXPECT_EQ(expand("[${cd_num}]"), "[]");
    b->fac_in.Function = Fac_CD;
    snprintf(b->fac_in.u.CDeflection.DeflectedToNumber, 32, "0301111");
    EXPECT_EQ(expand("[${cd_num}]"), "[0301111]");
    b->fac_in.Function = Fac_CRerouting;
    memset(b->fac_in.u.CRerouting.DeflectedToSubaddress, '9', 32); // a full field, unterminated
    EXPECT_EQ(expand("[${cd}]"), "[" + std::string(32, '9') + "]");
}

TEST_F(DialplanVars, TypeOfNumberPrefix)
{
    call_configuration &cc = co->cc;
    const char *words[] = {"U", "I", "N", "L", "P", "A", "B"};
    char *fields[] = {cc.prefix_unknown, cc.prefix_international, cc.prefix_national, cc.prefix_local,
                      cc.prefix_private,  cc.prefix_alphanumeric,   cc.prefix_abbreviated};
    for (int i = 0; i < 7; i++)
        strcpy(fields[i], words[i]);
    char out[16];
    for (int ton = 0; ton < 7; ton++) {
        dialplan_prefix_ton(out, sizeof out, "123", ton, &cc);
        EXPECT_EQ(std::string(out), std::string(words[ton]) + "123") << ton;
    }
    EXPECT_EQ(dialplan_prefix_ton(out, sizeof out, "123", 7, &cc), 3);
    EXPECT_STREQ(out, "123");
    EXPECT_EQ(dialplan_prefix_ton(out, 4, "12345", 1, &cc), 3);
    EXPECT_STREQ(out, "I12");
    std::string longnum(600, '7');
    char big[1024];
    EXPECT_EQ(dialplan_prefix_ton(big, sizeof big, longnum.c_str(), 2, &cc), 511);
}

TEST_F(DialplanVars, AutomaticTypeOfNumberRules)
{
    const dp_auto_codes plain{"49", "30", "4711", "0", "00"};
    const dp_auto_codes zeros{"0049", "030", "04711", "0", "00"};
    const dp_auto_codes no_national{"49", "30", "4711", "", "00"};
    const dp_auto_codes no_location{"", "", "", "0", "00"};
    const dp_auto_codes letters{"", "", "", "a", "AB"};
    struct {
        const char *number;
        int ton;
        const dp_auto_codes *codes;
        const char *out;
        int out_ton;
        int ruled;
    } cases[] = {
        {"0301234", 0, &plain, "0301234", 0, 1},
        {"0049301234", 1, &no_location, "49301234", 1, 1},
        {"0301234", 1, &plain, "301234", 2, 1},
        {"301234", 1, &plain, "301234", 4, 1},
        {"0301234", 2, &no_location, "301234", 2, 1},
        {"49301234", 2, &plain, "301234", 2, 1},        // K' set, begins with K
        {"0049301234", 2, &zeros, "301234", 2, 1},      // K as configured, zeros and all
        {"0049301234", 2, &plain, "49301234", 1, 1},    // begins with N and with I
        {"301234", 2, &plain, "301234", 4, 1},
        {"4930471199", 3, &plain, "99", 3, 1},          // K'A'L
        {"30471199", 3, &plain, "99", 3, 1},            // AL
        {"4930047115", 3, &zeros, "5", 3, 1},           // K'A' then L as configured
        {"030047119", 3, &zeros, "9", 3, 1},
        {"471199", 3, &plain, "99", 3, 1},              // subscriber rules, then L
        {"88", 3, &plain, "88", 4, 1},
        {"4930123", 4, &plain, "123", 4, 1},            // K'A'
        {"49123", 4, &plain, "123", 2, 1},              // K
        {"30123", 4, &plain, "123", 4, 1},              // A
        {"00123", 4, &no_national, "123", 1, 1},        // N empty: I
        {"0123", 4, &no_national, "0123", 4, 1},
        {"0123", 4, &plain, "123", 2, 1},               // N, not I
        {"00123", 4, &plain, "123", 1, 1},              // I
        {"471199", 4, &plain, "471199", 4, 1},          // L only for network-specific numbers
        {"12345", 4, &no_location, "12345", 4, 1},
        {"Ab12", 1, &letters, "12", 1, 1}, // case ignored
        {"0301234", 5, &plain, "0301234", 5, 0},
        {"0301234", -1, &plain, "0301234", -1, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(std::string(c.number) + " ton " + std::to_string(c.ton));
        char out[64];
        int ton = 99;
        EXPECT_EQ(dialplan_auto_ton(c.number, c.ton, c.codes, out, sizeof out, &ton), c.ruled);
        EXPECT_STREQ(out, c.out);
        EXPECT_EQ(ton, c.out_ton);
    }
}

TEST_F(DialplanVars, CreateNewAutoOnTheCall)
{
    groups("ISDN", &gp->config_isdn, pg_init_isdn_port_group_struct,
           "[pbx]\nports=1\ncountry_code=49\ncity_code=30\nlocal_area_code=4711\n"
           "[trunk]\nports=2\ncountry_code=43\ncity_code=1\n");
    snprintf(co->cc.prefix_national, sizeof co->cc.prefix_national, "0");
    snprintf(co->cc.prefix_international, sizeof co->cc.prefix_international, "00");
    debug_lines log({TARN});

    // Destination port 1: K 49, A 30.
    set(&co->new_destination, "4930123");
    co->configured_ton = 4;
    EXPECT_EQ(dialplan_create_new_auto(co, DP_AUTO_NEW_DESTINATION), 1);
    EXPECT_STREQ(co->new_destination_auto, "123");
    EXPECT_EQ(co->new_auto_ton, 4);
    EXPECT_TRUE(log.has("new_destination_auto: |4930123| => |123| ton: |TON_SUBSCRIBER=4| => |TON_SUBSCRIBER=4|\n"));

    // A "p:" group; the new value replaces the older one.
    destination("p:trunk");
    set(&co->new_source, "431555");
    EXPECT_EQ(dialplan_create_new_auto(co, DP_AUTO_NEW_SOURCE), 1);
    EXPECT_STREQ(co->new_source_auto, "555");
    set(&co->new_source, "0049301234");
    co->configured_ton = 1;
    EXPECT_EQ(dialplan_create_new_auto(co, DP_AUTO_NEW_SOURCE), 1);
    EXPECT_STREQ(co->new_source_auto, "49301234");
    EXPECT_EQ(co->new_auto_ton, 1);

    // Test mode takes the console's codes.
    gp->test_dp_auto = 1;
    snprintf(gp->test_dp_country_code, sizeof gp->test_dp_country_code, "0044");
    snprintf(gp->test_dp_city_code, sizeof gp->test_dp_city_code, "20");
    set(&co->new_source, "4420777");
    co->configured_ton = 4;
    EXPECT_EQ(dialplan_create_new_auto(co, DP_AUTO_NEW_SOURCE), 1);
    EXPECT_STREQ(co->new_source_auto, "777");
    gp->test_dp_auto = 0;

    // An unknown destination gives no codes; an unset number counts as empty.
    destination("g:nowhere");
    set(&co->new_source, nullptr);
    EXPECT_EQ(dialplan_create_new_auto(co, DP_AUTO_NEW_SOURCE), 1);
    EXPECT_STREQ(co->new_source_auto, "");

    // No rule for the type: unchanged, with its line.
    set(&co->new_destination, "0301234");
    co->configured_ton = 6;
    EXPECT_EQ(dialplan_create_new_auto(co, DP_AUTO_NEW_DESTINATION), 1);
    EXPECT_STREQ(co->new_destination_auto, "0301234");
    EXPECT_TRUE(log.has("new_destination_auto: no modification |0301234| ton: |TON_ABBREVIATED=6|"));

    // Only SIP-to-ISDN calls with a dial plan line.
    co->callinfo = CI_SIP_TO_GSM;
    EXPECT_EQ(dialplan_create_new_auto(co, DP_AUTO_NEW_SOURCE), 0);
    co->callinfo = CI_SIP_TO_ISDN;
    co->dp = nullptr;
    EXPECT_EQ(dialplan_create_new_auto(co, DP_AUTO_NEW_SOURCE), 0);
}

TEST_F(DialplanVars, AutoNumbersAsVariables)
{
    snprintf(co->cc.prefix_national, sizeof co->cc.prefix_national, "0");
    set(&co->new_source, "0301234");
    co->configured_ton = 2;
    co->new_auto_ton = -1;
    EXPECT_EQ(expand("${new_source_auto}/${new_source}"), "301234/0301234");
    EXPECT_EQ(co->new_auto_ton, 2);
    co->callinfo = CI_SIP_TO_CAS; // built only for ISDN
    EXPECT_EQ(expand("[${new_destination_auto}]"), "[]");
}

} // namespace
