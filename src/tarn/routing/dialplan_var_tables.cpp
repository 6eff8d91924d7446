// The value tables of the template variables: one constant table per kind
// of call, one row per name in test order. A name selects the first row
// whose name begins with it (an abbreviation works); a row that takes an
// argument ("clip2port[") is selected by a name that begins with the row's
// name. Names that select nothing give the empty text; the dummy table
// gives nothing, so every reference stays as written.
#include <cstdio>
#include <cstring>
#include <iterator>

#include "application.h"
#include "call_object.h"
#include "dialplan_vars.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "proxy_def.h"
#include "reg_object.h"

namespace {

typedef const char *(*variable_getter)(call_object *co, const char *arg, int arglen);

struct variable_row {
    const char *name;
    variable_getter value;
    bool takes_argument; // the name is followed by an argument
};

thread_local char value_buf[DP_VALUE_SIZE];

const char *text_or_empty(const char *s) { return s ? s : ""; }


// A number field of the B-channel (read no further than its width) with
// the prefix of its type.
template <size_t N>
const char *prefixed(const char (&field)[N], int ton, const call_object *co)
{
    char number[N + 1];
    snprintf(number, sizeof number, "%.*s", (int)N, field);
    dialplan_prefix_ton(value_buf, sizeof value_buf, number, ton, dialplan_call_configuration(co));
    return value_buf;
}

bool begins_with(const char *s, const char *prefix) { return s && strncmp(s, prefix, strlen(prefix)) == 0; }

// ---- values of the call --------------------------------------------------------------------

const char *v_new_source(call_object *co, const char *, int) { return text_or_empty(co->new_source); }
const char *v_new_destination(call_object *co, const char *, int) { return text_or_empty(co->new_destination); }
const char *v_new_source_auto(call_object *co, const char *, int)
{
    return dialplan_create_new_auto(co, DP_AUTO_NEW_SOURCE) ? text_or_empty(co->new_source_auto) : "";
}
const char *v_new_destination_auto(call_object *co, const char *, int)
{
    return dialplan_create_new_auto(co, DP_AUTO_NEW_DESTINATION) ? text_or_empty(co->new_destination_auto) : "";
}

const proxy_def *outgoing_proxy(const call_object *co)
{
    const call_leg_sip *leg = dialplan_outgoing_leg(co);
    return leg ? leg->pd : nullptr;
}

const char *v_account_username(call_object *co, const char *, int)
{
    const proxy_def *pd = outgoing_proxy(co);
    return pd ? text_or_empty(pd->user) : "";
}
// The SIP domain of the group the outgoing proxy definition names.
const char *v_account_domain(call_object *co, const char *, int)
{
    const proxy_def *pd = outgoing_proxy(co);
    if (!pd)
        return "";
    const port_group_sip *pgs = pd->name ? pg_get_port_group_sip_by_name(pd->name, nullptr) : nullptr;
    return pgs ? text_or_empty(pgs->pgs_sip_domain) : "unknown";
}
const char *v_account_base_number(call_object *co, const char *, int)
{
    return dialplan_call_configuration(co)->sip_account_base_number;
}
// Empty base number: the outgoing proxy's user; else the automatic or the
// new calling number when it begins with the base number, else the base.
const char *v_account_base_number_auto(call_object *co, const char *, int)
{
    const char *base = dialplan_call_configuration(co)->sip_account_base_number;
    if (!base[0])
        return v_account_username(co, nullptr, 0);
    if (co->new_source_auto && begins_with(co->new_source_auto, base))
        return co->new_source_auto;
    if (begins_with(co->new_source, base))
        return co->new_source;
    return base;
}

// ---- the incoming SIP request ---------------------------------------------------------------

template <char *sip_address_info_object::*PART>
const char *v_address(call_object *co, const char *, int)
{
    const call_leg_sip *leg = dialplan_incoming_leg(co);
    return leg && leg->address_info ? text_or_empty(leg->address_info->*PART) : "";
}

// The deflected-to number of an incoming call deflection, or the number of
// a call rerouting.
const char *v_cd_num(call_object *co, const char *, int)
{
    const misdn_bchannel *bc = co->bc;
    if (!bc)
        return "";
    if (bc->fac_in.Function == Fac_CD)
        snprintf(value_buf, sizeof value_buf, "%.*s", (int)sizeof bc->fac_in.u.CDeflection.DeflectedToNumber,
                 bc->fac_in.u.CDeflection.DeflectedToNumber);
    else if (bc->fac_in.Function == Fac_CRerouting)
        snprintf(value_buf, sizeof value_buf, "%.*s", (int)sizeof bc->fac_in.u.CRerouting.DeflectedToSubaddress,
                 bc->fac_in.u.CRerouting.DeflectedToSubaddress);
    else
        return "";
    return value_buf;
}

// "clip2port[" number "]": the analog port whose CLIP is the number.
const char *v_clip2port(call_object *co, const char *arg, int arglen)
{
    if (co->callinfo != CI_SIP_TO_ANALOG)
        return "";
    const char *end = (const char *)memchr(arg, ']', (size_t)arglen);
    int n = end ? (int)(end - arg) : arglen;
    char number[DP_VALUE_SIZE];
    snprintf(number, sizeof number, "%.*s", n, arg);
    snprintf(value_buf, sizeof value_buf, "%i", pg_analog_get_port_by_clip(number));
    return value_buf;
}

// ---- ISDN -----------------------------------------------------------------------------------

#define BC_TEXT(field)                                                   \
    [](call_object *co, const char *, int) -> const char * {            \
        if (!co->bc)                                                     \
            return "";                                                   \
        snprintf(value_buf, sizeof value_buf, "%.*s", (int)sizeof co->bc->field, co->bc->field); \
        return value_buf;                                                \
    }

const char *v_isdn_oad(call_object *co, const char *, int)
{
    return co->bc ? prefixed(co->bc->oad, co->bc->oton, co) : "";
}
const char *v_isdn_oad2(call_object *co, const char *, int)
{
    return co->bc ? prefixed(co->bc->oad2, co->bc->o2ton, co) : "";
}
const char *v_isdn_dad(call_object *co, const char *, int)
{
    return co->bc ? prefixed(co->bc->dad, co->bc->dton, co) : "";
}

template <int N>
const char *v_diversion(call_object *co, const char *, int)
{
    if (!co->bc)
        return "";
    const char *n = N == 1 ? co->bc->activersionDivQNumber1 : co->bc->activersionDivQNumber2;
    snprintf(value_buf, sizeof value_buf, "%.*s", (int)sizeof co->bc->activersionDivQNumber1, n);
    return value_buf;
}
template <int N>
const char *v_diversion_prefixed(call_object *co, const char *, int)
{
    if (!co->bc)
        return "";
    if (!(N == 1 ? co->bc->activersionDivQNumber1 : co->bc->activersionDivQNumber2)[0])
        return "";
    return N == 1 ? prefixed(co->bc->activersionDivQNumber1, co->bc->activersionDivQNumber1_ton, co)
                  : prefixed(co->bc->activersionDivQNumber2, co->bc->activersionDivQNumber2_ton, co);
}

// ---- analog, GSM, CAS -----------------------------------------------------------------------

int analog_port_of(const call_object *co) { return co->analog_port & ~0x800; }

const char *v_analog_oad(call_object *co, const char *, int) { return text_or_empty(co->analog_oad); }
const char *v_analog_clip(call_object *co, const char *, int) { return pg_analog_get_clip_by_port(analog_port_of(co)); }
const char *v_analog_cnip(call_object *co, const char *, int) { return pg_analog_get_cnip_by_port(analog_port_of(co)); }
const char *v_gsm_oad(call_object *co, const char *, int) { return text_or_empty(co->gsm_oad); }
const char *v_cas_oad(call_object *co, const char *, int) { return text_or_empty(co->cas_oad); }
const char *v_cas_clip(call_object *co, const char *, int) { return pg_cas_get_clip_by_port(co->cas_port); }
// A line that carries a single calling number has no second one.
const char *v_none(call_object *, const char *, int) { return ""; }

// ---- the tables -----------------------------------------------------------------------------

const variable_row isdn_to_sip_rows[] = {
    /*  1 */ {"new_source", v_new_source, false},
    /*  2 */ {"new_destination", v_new_destination, false},
    /*  3 */ {"oad", v_isdn_oad, false},
    /*  4 */ {"clip", v_isdn_oad, false},
    /*  5 */ {"oad2", v_isdn_oad2, false},
    /*  6 */ {"dad", v_isdn_dad, false},
    /*  7 */ {"qsigname", BC_TEXT(qsig_remote_name), false},
    /*  8 */ {"redirected_nr", BC_TEXT(rad), false},
    /*  9 */ {"account_username", v_account_username, false},
    /* 10 */ {"isdn_display", BC_TEXT(display), false},
    /* 11 */ {"isdn_uuname", BC_TEXT(userusername), false},
    /* 12 */ {"account_base_number", v_account_base_number, false},
    /* 13 */ {"account_base_number_auto", v_account_base_number_auto, false},
    /* 14 */ {"account_domain", v_account_domain, false},
    /* 15 */ {"actdivq1", v_diversion<1>, false},
    /* 16 */ {"actdivq1p", v_diversion_prefixed<1>, false},
    /* 17 */ {"actdivq2", v_diversion<2>, false},
    /* 18 */ {"actdivq2p", v_diversion_prefixed<2>, false},
};
static_assert(std::size(isdn_to_sip_rows) == 18, "row count as given");

const variable_row analog_to_sip_rows[] = {
    /*  1 */ {"new_source", v_new_source, false},
    /*  2 */ {"new_destination", v_new_destination, false},
    /*  3 */ {"oad", v_analog_oad, false},
    /*  4 */ {"oad2", v_none, false},
    /*  5 */ {"clip", v_analog_clip, false},
    /*  6 */ {"cnip", v_analog_cnip, false},
    /*  7 */ {"account_username", v_account_username, false},
    /*  8 */ {"account_base_number", v_account_base_number, false},
    /*  9 */ {"account_base_number_auto", v_account_base_number_auto, false},
    /* 10 */ {"account_domain", v_account_domain, false},
};
static_assert(std::size(analog_to_sip_rows) == 10, "row count as given");

const variable_row gsm_to_sip_rows[] = {
    /* 1 */ {"new_source", v_new_source, false},
    /* 2 */ {"new_destination", v_new_destination, false},
    /* 3 */ {"oad", v_gsm_oad, false},
    /* 4 */ {"clip", v_gsm_oad, false},
    /* 5 */ {"account_username", v_account_username, false},
    /* 6 */ {"account_base_number", v_account_base_number, false},
    /* 7 */ {"account_base_number_auto", v_account_base_number_auto, false},
    /* 8 */ {"account_domain", v_account_domain, false},
};
static_assert(std::size(gsm_to_sip_rows) == 8, "row count as given");

const variable_row cas_to_sip_rows[] = {
    /* 1 */ {"new_source", v_new_source, false},
    /* 2 */ {"new_destination", v_new_destination, false},
    /* 3 */ {"oad", v_cas_oad, false},
    /* 4 */ {"clip", v_cas_clip, false},
    /* 5 */ {"account_username", v_account_username, false},
    /* 6 */ {"account_base_number", v_account_base_number, false},
    /* 7 */ {"account_base_number_auto", v_account_base_number_auto, false},
    /* 8 */ {"account_domain", v_account_domain, false},
};
static_assert(std::size(cas_to_sip_rows) == 8, "row count as given");

const variable_row gsm_extension_rows[] = {
    /* 1 */ {"clip", v_gsm_oad, false},
    /* 2 */ {"oad", v_gsm_oad, false},
    /* 3 */ {"oad2", v_none, false},
};
static_assert(std::size(gsm_extension_rows) == 3, "row count as given");

const variable_row sip_to_sip_rows[] = {
    /*  1 */ {"new_source", v_new_source, false},
    /*  2 */ {"new_destination", v_new_destination, false},
    /*  3 */ {"from_user", v_address<&sip_address_info_object::from_url_user>, false},
    /*  4 */ {"from_display", v_address<&sip_address_info_object::from_display>, false},
    /*  5 */ {"to_user", v_address<&sip_address_info_object::to_url_user>, false},
    /*  6 */ {"to_display", v_address<&sip_address_info_object::to_display>, false},
    /*  7 */ {"pai_all", v_address<&sip_address_info_object::p_asserted_identity>, false},
    /*  8 */ {"pai_user", v_address<&sip_address_info_object::p_asserted_identity_user>, false},
    /*  9 */ {"pai_display", v_address<&sip_address_info_object::p_asserted_identity_display>, false},
    /* 10 */ {"ppi_all", v_address<&sip_address_info_object::p_preferred_identity>, false},
    /* 11 */ {"ppi_user", v_address<&sip_address_info_object::p_preferred_identity_user>, false},
    /* 12 */ {"ppi_display", v_address<&sip_address_info_object::p_preferred_identity_display>, false},
    /* 13 */ {"rpi_all", v_address<&sip_address_info_object::p_remote_party_id>, false},
    /* 14 */ {"rpi_user", v_address<&sip_address_info_object::p_remote_party_id_user>, false},
    /* 15 */ {"rpi_display", v_address<&sip_address_info_object::p_remote_party_id_display>, false},
    /* 16 */ {"cpi_all", v_address<&sip_address_info_object::p_called_party_id>, false},
    /* 17 */ {"cpi_user", v_address<&sip_address_info_object::p_called_party_id_user>, false},
    /* 18 */ {"cpi_display", v_address<&sip_address_info_object::p_called_party_id_display>, false},
    /* 19 */ {"request_url_user", v_address<&sip_address_info_object::request_url_user>, false},
    /* 20 */ {"request_url_host", v_address<&sip_address_info_object::request_url_host>, false},
    /* 21 */ {"contact_user", v_address<&sip_address_info_object::contact_user>, false},
    /* 22 */ {"contact_host", v_address<&sip_address_info_object::contact_host>, false},
    /* 23 */ {"account_username", v_account_username, false},
    /* 24 */ {"account_base_number", v_account_base_number, false},
    /* 25 */ {"account_base_number_auto", v_account_base_number_auto, false},
    /* 26 */ {"account_domain", v_account_domain, false},
};
static_assert(std::size(sip_to_sip_rows) == 26, "row count as given");

const variable_row sip_to_pstn_rows[] = {
    /*  1 */ {"new_source", v_new_source, false},
    /*  2 */ {"new_source_auto", v_new_source_auto, false},
    /*  3 */ {"new_destination", v_new_destination, false},
    /*  4 */ {"new_destination_auto", v_new_destination_auto, false},
    /*  5 */ {"from_user", v_address<&sip_address_info_object::from_url_user>, false},
    /*  6 */ {"from_display", v_address<&sip_address_info_object::from_display>, false},
    /*  7 */ {"pai_all", v_address<&sip_address_info_object::p_asserted_identity>, false},
    /*  8 */ {"pai_user", v_address<&sip_address_info_object::p_asserted_identity_user>, false},
    /*  9 */ {"pai_display", v_address<&sip_address_info_object::p_asserted_identity_display>, false},
    /* 10 */ {"ppi_all", v_address<&sip_address_info_object::p_preferred_identity>, false},
    /* 11 */ {"ppi_user", v_address<&sip_address_info_object::p_preferred_identity_user>, false},
    /* 12 */ {"ppi_display", v_address<&sip_address_info_object::p_preferred_identity_display>, false},
    /* 13 */ {"rpi_all", v_address<&sip_address_info_object::p_remote_party_id>, false},
    /* 14 */ {"rpi_user", v_address<&sip_address_info_object::p_remote_party_id_user>, false},
    /* 15 */ {"rpi_display", v_address<&sip_address_info_object::p_remote_party_id_display>, false},
    /* 16 */ {"to_user", v_address<&sip_address_info_object::to_url_user>, false},
    /* 17 */ {"cpi_all", v_address<&sip_address_info_object::p_called_party_id>, false},
    /* 18 */ {"cpi_user", v_address<&sip_address_info_object::p_called_party_id_user>, false},
    /* 19 */ {"cpi_display", v_address<&sip_address_info_object::p_called_party_id_display>, false},
    /* 20 */ {"request_url_user", v_address<&sip_address_info_object::request_url_user>, false},
    /* 21 */ {"request_url_host", v_address<&sip_address_info_object::request_url_host>, false},
    /* 22 */ {"contact_user", v_address<&sip_address_info_object::contact_user>, false},
    /* 23 */ {"contact_host", v_address<&sip_address_info_object::contact_host>, false},
    /* 24 */ {"cd_num", v_cd_num, false},
    /* 25 */ {"clip2port[", v_clip2port, true}, // SIP to ANALOG only
};
static_assert(std::size(sip_to_pstn_rows) == 25, "row count as given");

const variable_row *match_row(const variable_row *rows, size_t count, const char *name, int len)
{
    for (size_t i = 0; i < count; i++) {
        size_t rl = strlen(rows[i].name);
        if (rows[i].takes_argument ? (size_t)len >= rl && strncmp(name, rows[i].name, rl) == 0
                                   : (size_t)len <= rl && strncmp(name, rows[i].name, (size_t)len) == 0)
            return &rows[i];
    }
    return nullptr;
}

template <size_t N>
const char *lookup(const variable_row (&rows)[N], call_object *co, const char *name, int len)
{
    const variable_row *r = match_row(rows, N, name, len);
    if (!r)
        return "";
    size_t rl = strlen(r->name);
    return r->takes_argument ? r->value(co, name + rl, len - (int)rl) : r->value(co, name, len);
}

} // namespace

const char *dialplan_get_variable_sip_to_pstn(call_object *co, const char *name, int len)
{
    return lookup(sip_to_pstn_rows, co, name, len);
}
const char *dialplan_get_variable_sip_to_sip(call_object *co, const char *name, int len)
{
    return lookup(sip_to_sip_rows, co, name, len);
}
const char *dialplan_get_variable_isdn_to_sip(call_object *co, const char *name, int len)
{
    return lookup(isdn_to_sip_rows, co, name, len);
}
const char *dialplan_get_variable_analog_to_sip(call_object *co, const char *name, int len)
{
    return lookup(analog_to_sip_rows, co, name, len);
}
const char *dialplan_get_variable_gsm_to_sip(call_object *co, const char *name, int len)
{
    return lookup(gsm_to_sip_rows, co, name, len);
}
const char *dialplan_get_variable_cas_to_sip(call_object *co, const char *name, int len)
{
    return lookup(cas_to_sip_rows, co, name, len);
}
const char *dialplan_get_variable_gsm_to_sip_extensions(call_object *co, const char *name, int len)
{
    return lookup(gsm_extension_rows, co, name, len);
}

// The registration's user (of its proxy definition, else of its group's
// user) and its group's SIP domain.
const char *dialplan_get_variable_sip_reg(reg_object *ro, const char *name, int len)
{
    static const char *const names[] = {"account_username", "account_domain"};
    for (size_t i = 0; i < std::size(names); i++) {
        if ((size_t)len > strlen(names[i]) || strncmp(name, names[i], (size_t)len) != 0)
            continue;
        if (i == 1)
            return ro->pgs ? text_or_empty(ro->pgs->pgs_sip_domain) : "";
        if (ro->pd)
            return text_or_empty(ro->pd->user);
        return ro->pgsu ? text_or_empty(ro->pgsu->pgsu_user) : "";
    }
    return "";
}

const char *dialplan_get_variable_dummy(void *, const char *, int) { return nullptr; }
