// Golden rewriting of a routed call's outgoing numbers and identities, one
// small call per direction.
#include <string>

#include "dialplan_call_fixture.h"
#include "dialplan_mangle.h"

namespace {

class DialplanMangle : public DialplanCall {
protected:
    void SetUp() override
    {
        DialplanCall::SetUp();
        fake.address[DPA_FROM_USER] = "alice";
        fake.address[DPA_FROM_DISPLAY] = "Alice A";
        fake.address[DPA_PAI_USER] = "4930111";
        fake.address[DPA_PAI_DISPLAY] = "PAI Name";
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

} // namespace
