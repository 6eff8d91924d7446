// Templates and header values through the variable replacement of every
// kind of call, the rewriting of SIP identities in both directions, and the
// ENUM and URL helpers. The input is split at newlines: the first byte of
// the first piece chooses the kind of call, the second piece is the template
// (also every SIP template of the call's configuration), then the numbers,
// the dial plan line's destination, the parts of the incoming request (a
// display name may refer to itself), the outgoing proxy's user, the ENUM
// answer, and the B-channel's fill byte and facility.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "dialplan.h"
#include "dialplan_mangle.h"
#include "dialplan_url.h"
#include "dialplan_vars.h"
#include "misdn_bchannel.h"
#include "proxy_def.h"

namespace {

std::vector<std::string> pieces;

const char *piece(size_t i) { return i < pieces.size() ? pieces[i].c_str() : nullptr; }

using A = sip_address_info_object;
char *A::*const parts[] = {
    &A::from_url_user,          &A::from_display,       &A::to_url_user,          &A::to_display,
    &A::p_asserted_identity,    &A::p_asserted_identity_user, &A::p_asserted_identity_display,
    &A::p_preferred_identity,   &A::p_preferred_identity_user, &A::p_preferred_identity_display,
    &A::p_remote_party_id,      &A::p_remote_party_id_user, &A::p_remote_party_id_display,
    &A::p_called_party_id,      &A::p_called_party_id_user, &A::p_called_party_id_display,
    &A::request_url_user,       &A::request_url_host,   &A::contact_user,         &A::contact_host,
};
constexpr size_t FIRST_PART = 5, PROXY_USER = FIRST_PART + std::size(parts), ENUM_ANSWER = PROXY_USER + 1,
                 BCHANNEL = ENUM_ANSWER + 1;

const int kinds[] = {CI_SIP_TO_ISDN, CI_SIP_TO_ANALOG, CI_SIP_TO_GSM, CI_SIP_TO_CAS,  CI_SIP_TO_SIP,
                     CI_ISDN_TO_SIP, CI_ANALOG_TO_SIP, CI_GSM_TO_SIP, CI_CAS_TO_SIP, CI_GSM_TO_SIP_EXTENSIONS,
                     CI_INTERNAL};

call_object *co;
misdn_bchannel *bc;
dialplan_element line;
call_leg_sip in_leg, out_leg;

char *dup_or_null(const char *s) { return s ? strdup(s) : nullptr; }

template <size_t N>
void set_text(char (&field)[N], const char *s)
{
    snprintf(field, N, "%s", s ? s : "");
}

// Every SIP template of the configuration holds the input's template.
void sip_templates(call_configuration &cc, const char *t)
{
    for (char *f : {cc.sip_request_uri_all_setting, cc.sip_from_user_setting, cc.sip_from_display_setting,
                    cc.sip_to_user_setting, cc.sip_diversion_to_user_setting, cc.sip_pai_user_setting,
                    cc.sip_pai_display_setting, cc.sip_ppi_user_setting, cc.sip_ppi_display_setting,
                    cc.sip_rpi_all_setting, cc.sip_contact_user_setting, cc.sip_contact_display_setting,
                    cc.sip_pcpi_user_setting, cc.sip_pcpi_display_setting, cc.sip_priv0_all_setting,
                    cc.sip_priv1_user_setting})
        snprintf(f, 128, "%s", t);
    set_text(cc.sip_failover_prefix, t);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    application_create();
    init_locks();
    init_default_call_configuration();
    co = (call_object *)calloc(1, sizeof *co);
    bc = (misdn_bchannel *)calloc(1, sizeof *bc);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pieces.clear();
    std::string in((const char *)data, size);
    for (size_t at = 0;;) {
        size_t nl = in.find('\n', at);
        pieces.push_back(in.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
        if (nl == std::string::npos)
            break;
        at = nl + 1;
    }
    const char *tmpl = piece(1) ? piece(1) : "";
    cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
    sip_templates(co->cc, tmpl);
    co->callinfo = kinds[(pieces[0].empty() ? 0 : (uint8_t)pieces[0][0]) % std::size(kinds)];
    co->configured_ton = pieces[0].size() > 1 ? pieces[0][1] % 8 - 1 : 1;
    co->f.failover_call = pieces[0].size() > 2;
    line.to_id = const_cast<char *>(piece(4)); // read only
    line.from_id = line.to_id;
    co->dp = piece(4) ? &line : nullptr;
    co->new_source = dup_or_null(piece(2));
    co->new_destination = dup_or_null(piece(3));

    in_leg.address_info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    for (size_t i = 0; i < std::size(parts); i++)
        in_leg.address_info->*parts[i] = dup_or_null(piece(FIRST_PART + i));
    out_leg.pd = (proxy_def *)calloc(1, sizeof(proxy_def));
    out_leg.pd->user = dup_or_null(piece(PROXY_USER));
    out_leg.pd->to_url = dup_or_null(piece(PROXY_USER));
    out_leg.pd->is_registrar = 1;
    set_text(co->dns_enum_regex, piece(ENUM_ANSWER));
    co->dns_enum_using_transport = 1 << (size % 3);

    co->bc = pieces.size() > BCHANNEL ? bc : nullptr;
    if (co->bc) {
        // Texts filled to their full width, unterminated when the byte is not 0.
        int c = pieces[BCHANNEL].empty() ? 0 : pieces[BCHANNEL][0];
        for (auto f : {bc->oad, bc->oad2, bc->dad, bc->rad})
            memset(f, c, BC_NUMBER_LEN);
        memset(bc->display, c, sizeof bc->display);
        memset(bc->userusername, c, sizeof bc->userusername);
        memset(bc->qsig_remote_name, c, sizeof bc->qsig_remote_name);
        memset(bc->activersionDivQNumber1, c, sizeof bc->activersionDivQNumber1);
        memset(bc->activersionDivQNumber2, c, sizeof bc->activersionDivQNumber2);
        memset(&bc->fac_in.u, c, sizeof bc->fac_in.u);
        const FacFunction functions[] = {Fac_None, Fac_CD, Fac_CRerouting};
        bc->fac_in.Function = functions[(pieces[BCHANNEL].size() > 1 ? (uint8_t)pieces[BCHANNEL][1] : 0) % 3];
    }

    co->cl_sip = &in_leg;
    char out[256];
    int counter = 0;
    dialplan_find_and_replace_variables_in_string(co, tmpl, out, sizeof out, &counter);
    if (strlen(out) >= sizeof out)
        abort();
    char tiny[3];
    dialplan_find_and_replace_variables_in_string(co, tmpl, tiny, sizeof tiny, &counter);

    // The rewriting of both directions toward SIP.
    co->callinfo = CI_SIP_TO_SIP;
    co->cl_sip_in = &in_leg;
    co->cl_sip = co->cl_sip_out = &out_leg;
    dialplan_mangle_names_sip_to_sip(co);
    co->callinfo = CI_ISDN_TO_SIP;
    co->cl_sip_in = co->cl_sip_out = nullptr;
    set_text(co->dns_enum_regex, piece(ENUM_ANSWER));
    dialplan_mangle_names_pstn_to_sip(co);
    co->cl_sip_in = nullptr;

    char name[64], user[32], host[32];
    dialplan_create_enum_search_string(tmpl, "e164.arpa", name, sizeof name);
    dialplan_enum_regexp_to_user_and_url(tmpl, user, sizeof user, host, sizeof host);
    char field[32];
    snprintf(field, sizeof field, "%s", tmpl);
    dialplan_url_encode_field(field, sizeof field);
    free(dialplan_url_encode_string(tmpl));
    dialplan_does_it_look_like_a_telephone_number(tmpl);

    for (char **s : {&co->new_source, &co->new_destination, &co->new_source_auto, &co->new_destination_auto}) {
        free(*s);
        *s = nullptr;
    }
    for (call_leg_sip *leg : {&in_leg, &out_leg}) {
        free_address_info(leg->address_info);
        leg->address_info = nullptr;
        free_proxy_def(leg->pd);
        leg->pd = nullptr;
    }
    return 0;
}
