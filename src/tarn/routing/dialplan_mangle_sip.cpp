// The outgoing SIP identities of a routed call: the SIP templates of the
// call's active configuration expanded into mangled_sip_to_sip (SIP to SIP)
// or mangled_pstn_to_sip (a line to SIP), then the outgoing leg's address
// record made anew from them.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "dialplan_url.h"
#include "dialplan_vars.h"
#include "experimental_options.h"
#include "log.h"
#include "pg_sip_groups.h"
#include "proxy_def.h"
#include "sip_header_address.h"
#include "sip_stack.h"
#include "strtools.h"

namespace {

// A template expanded into a field (at most size - 1 characters).
template <size_t N>
void expand(call_object *co, const char *tmpl, char (&field)[N])
{
    dialplan_find_and_replace_variables_in_string(co, tmpl, field, (int)N, nullptr);
}

// A user or display part, expanded into a work text first.
std::string part(call_object *co, const char *tmpl)
{
    char work[DP_WORK_TEXT_SIZE];
    dialplan_find_and_replace_variables_in_string(co, tmpl, work, sizeof work, nullptr);
    return work;
}

const port_group_sip *group_named(const char *name)
{
    return name ? pg_get_port_group_sip_by_name(name, nullptr) : nullptr;
}

int via_rport_of(const port_group_sip *pgs) { return pgs ? pgs->pgs_via_rport : 0; }

template <size_t N>
void full_local_url(const call_leg_sip *leg, int via_port, char (&out)[N])
{
    out[0] = '\0';
    if (leg)
        dialplan_mangle_hooks.format_full_local_url(leg, out, N, via_port);
}

// The host of the outgoing Contact: the destination group's SIP domain when
// the experimental option asks for it and the group has its own, else the
// outgoing leg's full local URL.
std::string outgoing_contact_host(call_object *co)
{
    const port_group_sip *dest = co->dp ? group_named(co->dp->to_id) : nullptr;
    const experimental_options *eo = gp ? gp->experimental_options : nullptr;
    if (eo && eo->eo_domain_as_contact && dest && dest->pgs_sip_domain_set && dest->pgs_sip_domain)
        return dest->pgs_sip_domain;
    char url[256];
    full_local_url(dialplan_outgoing_leg(co), via_rport_of(dest), url);
    return url;
}

template <size_t N>
void header_address(call_object *co, char (&field)[N], const char *display, const char *user, const char *host,
                    const char *url_params)
{
    format_generic_sip_header_address(co, co->cl_sip, field, N, display, user, host, url_params, "");
}

// An identity header from its "all" template, or from its user and
// display templates as a header address, or empty.
template <size_t N>
void identity_header(call_object *co, char (&field)[N], const char *all, const char *user, const char *display,
                     bool line_ppi)
{
    field[0] = '\0';
    if (all[0]) {
        expand(co, all, field);
        return;
    }
    if (!user[0] && !display[0])
        return;
    std::string u = part(co, user), d = part(co, display);
    const char *host = get_url_for_sip_header(co);
    if (line_ppi && d.empty() && !dialplan_call_configuration(co)->remove_empty_display_quotes) {
        // An empty display name of a line call stays a quoted empty text.
        char address[N - 3];
        header_address(co, address, nullptr, u.c_str(), host, ";user=phone");
        snprintf(field, N, "\"\" %s", address);
        return;
    }
    header_address(co, field, d.c_str(), u.c_str(), host, ";user=phone");
}

// The fields both layouts have, by reference.
struct identity_fields {
    char (&to_display)[256];
    char (&to_user)[256];
    char (&to_url)[256];
    char (&from_display)[256];
    char (&from_user)[256];
    char (&from_url)[64];
    char (&contact)[256];
    char (&pai)[256];
    char (&ppi)[256];
    char (&rpi)[256];
    char (&pcpi)[256];
    char (&priv)[MANGLED_PRIV_HEADERS][256];
};

template <class M>
identity_fields fields_of(M &m)
{
    return {m.to_display,          m.to_user,         m.to_url,           m.from_display,
            m.from_user,           m.from_url,        m.contact,          m.p_asserted_identity,
            m.p_preferred_identity, m.p_remote_party_id, m.p_called_party_id, m.p_priv_header};
}

// P-Asserted-Identity, P-Preferred-Identity and Remote-Party-ID, in this
// order.
void identity_headers(call_object *co, identity_fields f, bool line_call)
{
    const call_configuration *cc = dialplan_call_configuration(co);
    identity_header(co, f.pai, cc->sip_pai_all_setting, cc->sip_pai_user_setting, cc->sip_pai_display_setting,
                    false);
    identity_header(co, f.ppi, cc->sip_ppi_all_setting, cc->sip_ppi_user_setting, cc->sip_ppi_display_setting,
                    line_call);
    identity_header(co, f.rpi, cc->sip_rpi_all_setting, cc->sip_rpi_user_setting, cc->sip_rpi_display_setting,
                    false);
}

// Called party, private headers, To, the URLs, ENUM and the escaping of
// '#': the same in both directions.
void common_steps(call_object *co, identity_fields f)
{
    const call_configuration *cc = dialplan_call_configuration(co);
    identity_header(co, f.pcpi, cc->sip_pcpi_all_setting, cc->sip_pcpi_user_setting, cc->sip_pcpi_display_setting,
                    false);

    const char *priv[MANGLED_PRIV_HEADERS][2] = {
        {cc->sip_priv0_all_setting, cc->sip_priv0_user_setting}, {cc->sip_priv1_all_setting, cc->sip_priv1_user_setting},
        {cc->sip_priv2_all_setting, cc->sip_priv2_user_setting}, {cc->sip_priv3_all_setting, cc->sip_priv3_user_setting},
        {cc->sip_priv4_all_setting, cc->sip_priv4_user_setting}, {cc->sip_priv5_all_setting, cc->sip_priv5_user_setting},
        {cc->sip_priv6_all_setting, cc->sip_priv6_user_setting}, {cc->sip_priv7_all_setting, cc->sip_priv7_user_setting},
        {cc->sip_priv8_all_setting, cc->sip_priv8_user_setting}, {cc->sip_priv9_all_setting, cc->sip_priv9_user_setting},
    };
    for (int i = 0; i < MANGLED_PRIV_HEADERS; i++)
        apply_priv_header_settings(co, priv[i][0], priv[i][1], f.priv[i], sizeof f.priv[i]);

    // To user, with the failover prefix on a failover call.
    const bool diversion = (cc->call_forwarding_mode == 1 || cc->call_forwarding_mode == 2) &&
                           cc->sip_diversion_to_user_setting[0];
    expand(co, diversion ? cc->sip_diversion_to_user_setting : cc->sip_to_user_setting, f.to_user);
    if (co->f.failover_call && cc->sip_failover_prefix[0]) {
        char prefixed[256];
        snprintf(prefixed, sizeof prefixed, "%s%s", cc->sip_failover_prefix, f.to_user);
        memcpy(f.to_user, prefixed, sizeof prefixed);
    }
    f.to_display[0] = '\0';

    // From URL and To URL from the outgoing leg's proxy definition.
    const call_leg_sip *out = dialplan_outgoing_leg(co);
    const proxy_def *pd = out ? out->pd : nullptr;
    const char *pd_url = pd ? (pd->to_url && pd->to_url[0] ? pd->to_url : pd->pd_sip_proxy) : nullptr;
    if (pd && (pd->is_registrar || pd->pd_sip_domain_set))
        snprintf(f.from_url, sizeof f.from_url, "%s", pd_url ? pd_url : "");
    else
        snprintf(f.from_url, sizeof f.from_url, "%s", out ? out->using_ip : "");
    snprintf(f.to_url, sizeof f.to_url, "%s", pd_url ? pd_url : "");

    // A call routed through ENUM goes where the NAPTR answer says.
    if (co->dns_enum_regex[0]) {
        char regex[sizeof co->dns_enum_regex];
        memcpy(regex, co->dns_enum_regex, sizeof regex);
        regex[sizeof regex - 1] = '\0';
        dialplan_enum_regexp_to_user_and_url(regex, f.to_user, sizeof f.to_user, f.to_url, sizeof f.to_url);
        const char *form = co->dns_enum_using_transport == SIP_TRANSPORT_TCP   ? "sip:%s;transport=tcp"
                           : co->dns_enum_using_transport == SIP_TRANSPORT_TLS ? "sips:%s"
                                                                               : "sip:%s";
        snprintf(co->dns_enum_regex, sizeof co->dns_enum_regex, form, f.to_url);
    }

    for (auto field : {f.from_user, f.to_user, f.from_display, f.to_display})
        dialplan_url_encode_field(field, 256);
}

// The outgoing leg's address record made anew.
sip_address_info_object *renew_address_info(call_leg_sip *leg, sip_address_info_object *fresh)
{
    if (!leg) {
        free_address_info(fresh);
        return nullptr;
    }
    free_address_info(leg->address_info);
    leg->address_info = fresh;
    return fresh;
}

sip_address_info_object *address_info_from(const mangled_pstn_to_sip &m)
{
    sip_address_info_object *ai = (sip_address_info_object *)calloc(1, sizeof *ai);
    if (!ai)
        return nullptr;
    ai->from_url_user = strdup(m.from_user);
    ai->from_url = strdup(m.from_url);
    ai->from_display = strdup(m.from_display);
    ai->to_url_user = strdup(m.to_user);
    ai->to_url = strdup(m.to_url);
    ai->to_display = strdup(m.to_display);
    return ai;
}

// A placeholder of each hook: logs once and does nothing.
void format_full_local_url_not_built(const call_leg_sip *, char *buf, size_t size, int)
{
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        LOGD(TARN, 1, nullptr, "CRITICAL: format_full_local_url not built");
    if (size)
        buf[0] = '\0';
}

} // namespace

dialplan_mangle_iface dialplan_mangle_hooks = {format_full_local_url_not_built};

void dialplan_set_mangle_iface(const dialplan_mangle_iface *iface)
{
    dialplan_mangle_iface i = {format_full_local_url_not_built};
    if (iface && iface->format_full_local_url)
        i.format_full_local_url = iface->format_full_local_url;
    dialplan_mangle_hooks = i;
}

const char *get_url_for_sip_header(const call_object *co)
{
    const call_leg_sip *leg = co ? dialplan_outgoing_leg(co) : nullptr;
    if (!leg)
        return "";
    const port_group_sip *pgs = leg->pd ? group_named(leg->pd->name) : nullptr;
    return pgs && pgs->pgs_sip_domain && pgs->pgs_sip_domain[0] ? pgs->pgs_sip_domain : leg->using_ip;
}

int apply_priv_header_settings(call_object *co, const char *all, const char *user, char *out, size_t size)
{
    if (!out || !size)
        return -1;
    out[0] = '\0';
    char tmpl[DP_WORK_TEXT_SIZE];
    if (all && all[0]) {
        snprintf(tmpl, sizeof tmpl, "%s", all);
    } else if (user && user[0]) {
        char trimmed[DP_WORK_TEXT_SIZE - 32];
        snprintf(trimmed, sizeof trimmed, "%s", user);
        st_remove_leading_and_trailing_whitespace(trimmed);
        snprintf(tmpl, sizeof tmpl, "%s@${account_domain}", trimmed);
    } else {
        return 0;
    }
    char header[DP_WORK_TEXT_SIZE];
    dialplan_find_and_replace_variables_in_string(co, tmpl, header, sizeof header, nullptr);
    if (!does_header_look_valid(header))
        return 0;
    snprintf(out, size, "%s", header);
    return 1;
}

sip_address_info_object *dialplan_mangle_names_sip_to_sip(call_object *co)
{
    const call_configuration *cc = dialplan_call_configuration(co);
    mangled_sip_to_sip &m = co->mangled.sip_to_sip;
    if (cc->sip_request_uri_all_setting[0])
        expand(co, cc->sip_request_uri_all_setting, m.request_uri);
    if (cc->sip_from_user_all_setting[0]) {
        expand(co, cc->sip_from_user_all_setting, m.from_user);
    } else {
        expand(co, cc->sip_from_user_setting, m.from_user);
        expand(co, cc->sip_from_display_setting, m.from_display);
    }
    identity_headers(co, fields_of(m), false);
    // Contact toward both legs.
    if (cc->sip_contact_all_setting[0]) {
        expand(co, cc->sip_contact_all_setting, m.contact);
        memcpy(m.contact_outgoing, m.contact, sizeof m.contact);
    } else {
        std::string u = part(co, cc->sip_contact_user_setting), d = part(co, cc->sip_contact_display_setting);
        const port_group_sip *source = co->dp ? group_named(co->dp->from_id) : nullptr;
        char incoming[256];
        full_local_url(co->cl_sip_in, via_rport_of(source), incoming);
        header_address(co, m.contact, d.c_str(), u.c_str(), incoming, "");
        header_address(co, m.contact_outgoing, d.c_str(), u.c_str(), outgoing_contact_host(co).c_str(), "");
    }
    common_steps(co, fields_of(m));
    return renew_address_info(dialplan_outgoing_leg(co), allocate_address_info_from_mangled_sip_to_sip(co));
}

sip_address_info_object *dialplan_mangle_names_pstn_to_sip(call_object *co)
{
    const call_configuration *cc = dialplan_call_configuration(co);
    mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
    expand(co, cc->sip_from_user_setting, m.from_user);
    expand(co, cc->sip_from_display_setting, m.from_display);
    identity_headers(co, fields_of(m), true);
    if (cc->sip_contact_all_setting[0]) {
        expand(co, cc->sip_contact_all_setting, m.contact);
    } else {
        std::string u = part(co, cc->sip_contact_user_setting), d = part(co, cc->sip_contact_display_setting);
        header_address(co, m.contact, d.c_str(), u.c_str(), outgoing_contact_host(co).c_str(), "");
    }
    common_steps(co, fields_of(m));
    return renew_address_info(dialplan_outgoing_leg(co), address_info_from(m));
}
