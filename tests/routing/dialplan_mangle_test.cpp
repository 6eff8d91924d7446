// Golden rewriting of a routed call's outgoing numbers and identities, one
// small call per direction.
#include <string>

#include "dialplan_call_fixture.h"
#include "dialplan_mangle.h"
#include "dialplan_url.h"
#include "experimental_options.h"
#include "sip_stack.h"

namespace {

class DialplanMangle : public DialplanCall {
protected:
    void SetUp() override
    {
        DialplanCall::SetUp();
        address(&sip_address_info_object::from_url_user, "alice");
        address(&sip_address_info_object::from_display, "Alice A");
        address(&sip_address_info_object::p_asserted_identity_user, "4930111");
        address(&sip_address_info_object::p_asserted_identity_display, "PAI Name");
    }
    template <size_t N>
    void text(char (&field)[N], const char *value)
    {
        snprintf(field, N, "%s", value);
    }
};

TEST_F(DialplanMangle, SipToIsdn)
{
    call_configuration &cc = co->cc;
    text(cc.prefix_national, "0");
    text(cc.prefix_international, "00");
    text(cc.isdn_oad_setting, "${new_source_auto}");
    cc.oton = 1;
    text(cc.isdn_oad2_setting, "${from_user}");
    cc.o2ton = 4;
    text(cc.isdn_qsigname_setting, "${from_display}");
    text(cc.isdn_redirected_nr_setting, "${cd_num}");
    text(cc.isdn_ie_displayname, "${pai_display}");
    text(cc.isdn_dad_setting, "${new_destination}");
    cc.dton = 2;
    set(&co->new_source, "0049301234");
    set(&co->new_destination, "0301234");
    misdn_bchannel *b = new_bc();
    b->fac_in.Function = Fac_CD;
    text(b->fac_in.u.CDeflection.DeflectedToNumber, "0309999");
    memset(&co->mangled, 'x', sizeof co->mangled); // left from before

    EXPECT_EQ(dialplan_mangle_names_sip_to_isdn(co), 0);
    const mangled_sip_to_pstn &m = co->mangled.sip_to_pstn;
    EXPECT_STREQ(m.oad, "49301234");
    EXPECT_EQ(m.oad_ton, 1); // built by the reference
    EXPECT_STREQ(m.oad2, "alice");
    EXPECT_EQ(m.oad2_ton, 4);
    EXPECT_STREQ(m.qsig_local_name, "Alice A");
    EXPECT_STREQ(m.redirected_nr, "0309999");
    EXPECT_STREQ(m.user_user_name, ""); // not configured
    EXPECT_STREQ(m.display, "PAI Name");
    EXPECT_STREQ(m.dad, "0301234");
    EXPECT_EQ(m.dad_ton, 2); // no automatic number: the configured type
    EXPECT_STREQ(m.sip_302_contact_user, "");

    // The automatic called number and its type; the active configuration
    // holds the templates.
    call_configuration active;
    cc_clone_call_configuration(&active, &cc);
    text(active.isdn_dad_setting, "${new_destination_auto}");
    active.dton = 1;
    text(active.isdn_ie_uuname, "UU ${from_user}");
    co->cc_active = &active;
    dialplan_mangle_names_sip_to_isdn(co);
    EXPECT_STREQ(m.dad, "301234");
    EXPECT_EQ(m.dad_ton, 2);
    EXPECT_STREQ(m.user_user_name, "UU alice");
    EXPECT_EQ(co->configured_ton, 1);

    // Texts are cut to 127 characters.
    std::string longnumber(300, '5');
    set(&co->new_destination, longnumber.c_str());
    text(active.isdn_dad_setting, "${new_destination}");
    dialplan_mangle_names_sip_to_isdn(co);
    EXPECT_EQ(std::string(m.dad), longnumber.substr(0, 127));
    co->cc_active = nullptr;
}

TEST_F(DialplanMangle, SipToAnalogGsmCas)
{
    call_configuration &cc = co->cc;
    text(cc.analog_oad_setting, "${from_user}");
    text(cc.analog_display_setting, "${from_display}");
    text(cc.gsm_oad_setting, "${pai_user}");
    text(cc.cas_oad_setting, "9${new_source}");
    set(&co->new_source, "123");
    set(&co->new_destination, "0301234");
    const mangled_sip_to_pstn &m = co->mangled.sip_to_pstn;

    co->callinfo = CI_SIP_TO_ANALOG;
    dialplan_mangle_names_sip_to_analog(co);
    EXPECT_STREQ(m.oad, "alice");
    EXPECT_STREQ(m.display, "Alice A");
    EXPECT_STREQ(m.dad, "0301234");

    co->callinfo = CI_SIP_TO_GSM;
    dialplan_mangle_names_sip_to_gsm(co);
    EXPECT_STREQ(m.oad, "4930111");
    EXPECT_STREQ(m.display, "");
    EXPECT_STREQ(m.dad, "0301234");

    co->callinfo = CI_SIP_TO_CAS;
    set(&co->new_destination, nullptr);
    dialplan_mangle_names_sip_to_cas(co);
    EXPECT_STREQ(m.oad, "9123");
    EXPECT_STREQ(m.dad, "");
}

// Call control's full local URL, as a test double: address and port.
void local_url(const call_leg_sip *leg, char *buf, size_t size, int via_port)
{
    snprintf(buf, size, "%s:%i", leg->using_ip, via_port ? via_port : 5060);
}

// Two SIP peers: "provider" with its own domain, "office" without.
class DialplanMangleSip : public DialplanMangle {
protected:
    void SetUp() override
    {
        DialplanMangle::SetUp();
        sip_groups("[provider]\nsip_stack=lan\nsip_proxy=10.9.0.1\nsip_domain=pbx.example.test\n"
                   "[office]\nsip_stack=lan\nsip_proxy=10.9.0.2\n");
        pg_get_port_group_sip_by_name("office", nullptr)->pgs_via_rport = 5099;
        dialplan_mangle_iface hooks{local_url};
        dialplan_set_mangle_iface(&hooks);
        snprintf(in_leg.using_ip, sizeof in_leg.using_ip, "192.0.2.1");
        snprintf(out_leg.using_ip, sizeof out_leg.using_ip, "10.0.0.5");
        proxy_def *pd = proxy(out_leg, "acct", "provider");
        pd->to_url = strdup("pbx.example.test");
        pd->pd_sip_proxy = strdup("10.9.0.1");
        pd->pd_sip_domain_set = 1;
        destination("provider");
        line.from_id = strdup("office");
        set(&co->new_source, "123");
        set(&co->new_destination, "a#b");
    }
    void TearDown() override
    {
        free(line.from_id);
        gp->experimental_options->eo_domain_as_contact = 0;
        dialplan_set_mangle_iface(nullptr);
        DialplanMangle::TearDown();
    }
};

TEST_F(DialplanMangleSip, SipToSip)
{
    co->callinfo = CI_SIP_TO_SIP;
    co->cl_sip_in = &in_leg;
    co->cl_sip = co->cl_sip_out = &out_leg;
    address(&sip_address_info_object::p_called_party_id_user, "0301");
    address(&sip_address_info_object::p_asserted_identity_display, "P\"A\\I");
    call_configuration &cc = co->cc;
    text(cc.sip_from_user_setting, "${from_user}");
    text(cc.sip_from_display_setting, "${from_display}");
    text(cc.sip_pai_user_setting, "${pai_user}");
    text(cc.sip_pai_display_setting, "${pai_display}");
    text(cc.sip_ppi_all_setting, "<sip:${from_user}@ppi.test>");
    text(cc.sip_contact_user_setting, "${new_source}");
    text(cc.sip_pcpi_user_setting, "${cpi_user}");
    text(cc.sip_priv0_all_setting, "X-A: ${new_source}");
    text(cc.sip_priv1_user_setting, " X-B: 1 ");
    text(cc.sip_priv2_user_setting, "no colon");
    text(cc.sip_to_user_setting, "${new_destination}");
    text(cc.sip_failover_prefix, "99");
    co->f.failover_call = 1;
    mangled_sip_to_sip &m = co->mangled.sip_to_sip;
    text(m.request_uri, "sip:kept@example.test");
    text(m.to_display, "old");

    sip_address_info_object *ai = dialplan_mangle_names_sip_to_sip(co);
    EXPECT_STREQ(m.request_uri, "sip:kept@example.test");
    EXPECT_STREQ(m.from_user, "alice");
    EXPECT_STREQ(m.from_display, "Alice A");
    EXPECT_STREQ(m.p_asserted_identity, "\"P\\\"A\\\\I\" <sip:4930111@pbx.example.test;user=phone>");
    EXPECT_STREQ(m.p_preferred_identity, "<sip:alice@ppi.test>");
    EXPECT_STREQ(m.p_remote_party_id, "");
    // The incoming side's own address with the source peer's port; the
    // outgoing side's with the destination peer's (none here).
    EXPECT_STREQ(m.contact, "<sip:123@192.0.2.1:5099>");
    EXPECT_STREQ(m.contact_outgoing, "<sip:123@10.0.0.5:5060>");
    EXPECT_STREQ(m.p_called_party_id, "<sip:0301@pbx.example.test;user=phone>");
    EXPECT_STREQ(m.p_priv_header[0], "X-A: 123");
    EXPECT_STREQ(m.p_priv_header[1], "X-B: 1@pbx.example.test");
    EXPECT_STREQ(m.p_priv_header[2], ""); // no ':'
    EXPECT_STREQ(m.p_priv_header[3], "");
    EXPECT_STREQ(m.to_user, "99a%23b"); // failover prefix, then '#' escaped
    EXPECT_STREQ(m.to_display, "");
    EXPECT_STREQ(m.from_url, "pbx.example.test");
    EXPECT_STREQ(m.to_url, "pbx.example.test");
    // The outgoing leg's address record is made anew from them.
    ASSERT_TRUE(ai);
    EXPECT_EQ(out_leg.address_info, ai);
    EXPECT_STREQ(ai->from_url_user, "alice");
    EXPECT_STREQ(ai->to_url_user, "99a%23b");
    EXPECT_STREQ(ai->to_url, "pbx.example.test");

    // Templates of the whole header; the outgoing Contact on the peer's
    // domain; a call routed through ENUM over TCP.
    text(cc.sip_request_uri_all_setting, "sip:${new_destination}@r.test");
    text(cc.sip_from_user_all_setting, "${pai_user}");
    text(cc.sip_contact_all_setting, "");
    gp->experimental_options->eo_domain_as_contact = 1;
    text(co->dns_enum_regex, "!^.*$!sip:4930123@pbx.example.test!");
    co->dns_enum_using_transport = SIP_TRANSPORT_TCP;
    co->f.failover_call = 0;
    dialplan_mangle_names_sip_to_sip(co);
    EXPECT_STREQ(m.request_uri, "sip:a#b@r.test");
    EXPECT_STREQ(m.from_user, "4930111");
    EXPECT_STREQ(m.from_display, "Alice A"); // left as it was
    EXPECT_STREQ(m.contact_outgoing, "<sip:123@pbx.example.test>");
    EXPECT_STREQ(m.to_user, "4930123");
    EXPECT_STREQ(m.to_url, "pbx.example.test");
    EXPECT_STREQ(co->dns_enum_regex, "sip:pbx.example.test;transport=tcp");

    text(co->dns_enum_regex, "!^.*$!sips:u@tls.test!");
    co->dns_enum_using_transport = SIP_TRANSPORT_TLS;
    text(cc.sip_contact_all_setting, "<sip:c@${request_url_host}>");
    address(&sip_address_info_object::request_url_host, "gw.test");
    dialplan_mangle_names_sip_to_sip(co);
    EXPECT_STREQ(co->dns_enum_regex, "sips:tls.test");
    EXPECT_STREQ(m.contact, "<sip:c@gw.test>");
    EXPECT_STREQ(m.contact_outgoing, "<sip:c@gw.test>");
}

TEST_F(DialplanMangleSip, LineToSip)
{
    co->callinfo = CI_ISDN_TO_SIP;
    co->cl_sip = &out_leg;
    misdn_bchannel *b = new_bc();
    text(b->oad, "0301234");
    text(b->display, "Disp");
    text(b->activersionDivQNumber1, "777");
    call_configuration &cc = co->cc;
    text(cc.prefix_unknown, "");
    text(cc.sip_from_user_all_setting, "ignored on lines");
    text(cc.sip_from_user_setting, "${oad}#1");
    text(cc.sip_from_display_setting, "${isdn_display}");
    text(cc.sip_pai_user_setting, "${oad}");
    text(cc.sip_ppi_user_setting, "${oad}");
    text(cc.sip_ppi_display_setting, "${isdn_display}");
    text(cc.sip_contact_user_setting, "${oad}");
    text(cc.sip_to_user_setting, "${new_destination}");
    text(cc.sip_diversion_to_user_setting, "${actdivq1}");
    cc.call_forwarding_mode = 1;
    proxy_def *pd = out_leg.pd;
    pd->pd_sip_domain_set = 0; // neither registrar nor own domain: From URL is the local address

    mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
    sip_address_info_object *ai = dialplan_mangle_names_pstn_to_sip(co);
    EXPECT_STREQ(m.from_user, "0301234%231");
    EXPECT_STREQ(m.from_display, "Disp");
    EXPECT_STREQ(m.p_asserted_identity, "<sip:0301234@pbx.example.test;user=phone>");
    EXPECT_STREQ(m.p_preferred_identity, "\"Disp\" <sip:0301234@pbx.example.test;user=phone>"); // quoted once
    EXPECT_STREQ(m.contact, "<sip:0301234@10.0.0.5:5060>");
    EXPECT_STREQ(m.to_user, "777");
    EXPECT_STREQ(m.from_url, "10.0.0.5");
    EXPECT_STREQ(m.to_url, "pbx.example.test");
    ASSERT_TRUE(ai);
    EXPECT_STREQ(ai->from_url_user, "0301234%231");
    EXPECT_STREQ(ai->from_display, "Disp");
    EXPECT_STREQ(ai->to_url_user, "777");

    // An empty display name of P-Preferred-Identity stays quoted unless
    // empty quotes are to be removed.
    b->display[0] = '\0';
    cc.remove_empty_display_quotes = 0;
    dialplan_mangle_names_pstn_to_sip(co);
    EXPECT_STREQ(m.p_preferred_identity, "\"\" <sip:0301234@pbx.example.test;user=phone>");
    cc.remove_empty_display_quotes = 1;
    dialplan_mangle_names_pstn_to_sip(co);
    EXPECT_STREQ(m.p_preferred_identity, "<sip:0301234@pbx.example.test;user=phone>");

    // The sips scheme toward a TLS peer; a peer without domain gives the
    // leg's local address as host.
    pd->transport = SIP_TRANSPORT_TLS;
    free(pd->name);
    pd->name = strdup("office");
    dialplan_mangle_names_pstn_to_sip(co);
    EXPECT_STREQ(m.p_asserted_identity, "<sips:0301234@10.9.0.2;user=phone>");
    free(pd->name);
    pd->name = nullptr;
    dialplan_mangle_names_pstn_to_sip(co);
    EXPECT_STREQ(m.p_asserted_identity, "<sips:0301234@10.0.0.5;user=phone>");
    EXPECT_STREQ(get_url_for_sip_header(co), "10.0.0.5");
    co->cl_sip = nullptr;
    EXPECT_STREQ(get_url_for_sip_header(co), "");
    EXPECT_EQ(dialplan_mangle_names_pstn_to_sip(co), nullptr);
}

TEST_F(DialplanMangleSip, PrivateHeaders)
{
    struct {
        const char *all, *user, *out;
        int rc;
    } cases[] = {
        {"X-A: ${new_source}", "X-B: 1", "X-A: 123", 1}, // "all" first
        {"", "  X-B: ${new_source} ", "X-B: 123@pbx.example.test", 1},
        {"", "user", "", 0},
        {"nocolon", "", "", 0},
        {"", "", "", 0},
    };
    co->callinfo = CI_SIP_TO_SIP;
    co->cl_sip_out = &out_leg;
    for (auto &c : cases) {
        SCOPED_TRACE(std::string(c.all) + "|" + c.user);
        char out[64] = "old";
        EXPECT_EQ(apply_priv_header_settings(co, c.all, c.user, out, sizeof out), c.rc);
        EXPECT_STREQ(out, c.out);
    }
    char small[8];
    apply_priv_header_settings(co, "X-Long: 0123456789", "", small, sizeof small);
    EXPECT_STREQ(small, "X-Long:");
}

// Without call control's local URL a Contact has no host: the anonymous form.
TEST_F(DialplanMangleSip, WithoutHooksTheLocalUrlIsEmpty)
{
    dialplan_set_mangle_iface(nullptr);
    co->callinfo = CI_SIP_TO_SIP;
    co->cl_sip_in = &in_leg;
    co->cl_sip = co->cl_sip_out = &out_leg;
    text(co->cc.sip_contact_user_setting, "u");
    dialplan_mangle_names_sip_to_sip(co);
    EXPECT_STREQ(co->mangled.sip_to_sip.contact, "<sip:anonymous>");
}

// ENUM query names of a routed call under the destination group's search
// domains, as configured in tarn.sip.
TEST_F(DialplanMangle, EnumSearchOverTheGroupsDomains)
{
    sip_groups("[enum]\nsip_stack=lan\nsip_proxy=10.9.0.1\nenum_support=yes\n"
               "enum_search_domains=e164.arpa, ,e164.example.test\n"
               "[plain]\nsip_stack=lan\nsip_proxy=10.9.0.2\nenum_support=yes\n");
    const port_group_sip *with = pg_get_port_group_sip_by_name("enum", nullptr);
    const port_group_sip *without = pg_get_port_group_sip_by_name("plain", nullptr);
    ASSERT_TRUE(with && without);
    ASSERT_EQ(with->pgs_enum_search_domain_count, 2);
    EXPECT_STREQ(with->pgs_enum_search_domains[1], "e164.example.test");
    EXPECT_EQ(without->pgs_enum_support, 0); // no domain: no ENUM

    struct {
        const char *number;
        const port_group_sip *group;
        int rc;
    } cases[] = {
        {"+49 30 1234", with, 0}, {"004930", with, 0}, {"abc", with, -1}, {nullptr, with, -1},
        {"4930", without, -1},    {"4930", nullptr, -1},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.number ? c.number : "(none)");
        set(&co->new_destination, c.number);
        EXPECT_EQ(dialplan_create_enum_search(co, c.group), c.rc);
    }
    EXPECT_EQ(dialplan_create_enum_search(nullptr, with), -1);
}

} // namespace
