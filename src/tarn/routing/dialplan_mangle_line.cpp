// The outgoing line numbers of SIP-originated calls ("mangling"): the
// templates of the call's active configuration expanded into
// mangled_sip_to_pstn, texts cut to their fields.
#include <climits>
#include <cstdio>
#include <cstring>

#include "call_configuration.h"
#include "call_object.h"
#include "dialplan_mangle.h"
#include "dialplan_vars.h"

namespace {

template <size_t N>
void expand(call_object *co, const char *tmpl, char (&out)[N])
{
    dialplan_find_and_replace_variables_in_string(co, tmpl, out, (int)N, nullptr);
}

// Expands a number template while the number's configured type of number
// is in force; the type is the automatic one when the expansion built one.
template <size_t N>
int expand_number(call_object *co, const char *tmpl, int configured_ton, char (&out)[N])
{
    co->configured_ton = configured_ton;
    const int32_t before = co->new_auto_ton;
    co->new_auto_ton = INT32_MIN; // marks "not built by this expansion"
    expand(co, tmpl, out);
    if (co->new_auto_ton != INT32_MIN)
        return co->new_auto_ton;
    co->new_auto_ton = before;
    return configured_ton;
}

template <size_t N>
void copy_number(const char *number, char (&out)[N])
{
    snprintf(out, N, "%s", number ? number : "");
}

mangled_sip_to_pstn &fresh_layout(call_object *co)
{
    memset(&co->mangled, 0, sizeof co->mangled);
    return co->mangled.sip_to_pstn;
}

} // namespace

int dialplan_mangle_names_sip_to_isdn(call_object *co)
{
    const call_configuration *cc = dialplan_call_configuration(co);
    mangled_sip_to_pstn &m = fresh_layout(co);
    m.oad_ton = expand_number(co, cc->isdn_oad_setting, (int)cc->oton, m.oad);
    expand(co, cc->isdn_oad2_setting, m.oad2);
    m.oad2_ton = (int)cc->o2ton;
    expand(co, cc->isdn_qsigname_setting, m.qsig_local_name);
    expand(co, cc->isdn_redirected_nr_setting, m.redirected_nr);
    if (cc->isdn_ie_uuname[0])
        expand(co, cc->isdn_ie_uuname, m.user_user_name);
    if (cc->isdn_ie_displayname[0])
        expand(co, cc->isdn_ie_displayname, m.display);
    m.dad_ton = expand_number(co, cc->isdn_dad_setting, (int)cc->dton, m.dad);
    return 0;
}

int dialplan_mangle_names_sip_to_analog(call_object *co)
{
    const call_configuration *cc = dialplan_call_configuration(co);
    mangled_sip_to_pstn &m = fresh_layout(co);
    expand(co, cc->analog_oad_setting, m.oad);
    expand(co, cc->analog_display_setting, m.display);
    copy_number(co->new_destination, m.dad);
    return 0;
}

int dialplan_mangle_names_sip_to_gsm(call_object *co)
{
    mangled_sip_to_pstn &m = fresh_layout(co);
    expand(co, dialplan_call_configuration(co)->gsm_oad_setting, m.oad);
    copy_number(co->new_destination, m.dad);
    return 0;
}

int dialplan_mangle_names_sip_to_cas(call_object *co)
{
    mangled_sip_to_pstn &m = fresh_layout(co);
    expand(co, dialplan_call_configuration(co)->cas_oad_setting, m.oad);
    copy_number(co->new_destination, m.dad);
    return 0;
}
