// Templates and header values through the variable replacement of every
// kind of call, and the ENUM and URL helpers. The input is split at
// newlines: the first byte of the first piece chooses the kind of call,
// the second piece is the template, the next ones are the numbers and the
// parts of the incoming request (a display name may refer to itself).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_object.h"
#include "dialplan.h"
#include "dialplan_url.h"
#include "dialplan_vars.h"
#include "misdn_bchannel.h"

namespace {

std::vector<std::string> pieces;

const char *piece(size_t i) { return i < pieces.size() ? pieces[i].c_str() : nullptr; }
const char *f_address(const call_object *, int part) { return piece(5 + (size_t)part); }
const char *f_account_user(const call_object *) { return piece(25); }
const char *f_account_domain(const call_object *) { return piece(26); }

const int kinds[] = {CI_SIP_TO_ISDN, CI_SIP_TO_ANALOG, CI_SIP_TO_GSM, CI_SIP_TO_CAS,  CI_SIP_TO_SIP,
                     CI_ISDN_TO_SIP, CI_ANALOG_TO_SIP, CI_GSM_TO_SIP, CI_CAS_TO_SIP, CI_GSM_TO_SIP_EXTENSIONS,
                     CI_INTERNAL};

call_object *co;
misdn_bchannel *bc;
dialplan_element line;

char *dup_or_null(const char *s) { return s ? strdup(s) : nullptr; }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    application_create();
    init_locks();
    init_default_call_configuration();
    dialplan_vars_iface i{f_address, f_account_user, f_account_domain, nullptr, nullptr};
    dialplan_set_vars_iface(&i);
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
    cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
    co->callinfo = kinds[(pieces[0].empty() ? 0 : (uint8_t)pieces[0][0]) % (sizeof kinds / sizeof kinds[0])];
    co->configured_ton = pieces[0].size() > 1 ? pieces[0][1] % 8 - 1 : 1;
    line.to_id = const_cast<char *>(piece(4)); // read only
    co->dp = piece(4) ? &line : nullptr;
    co->new_source = dup_or_null(piece(2));
    co->new_destination = dup_or_null(piece(3));
    co->bc = pieces.size() > 27 ? bc : nullptr;
    if (co->bc) {
        // Texts filled to their full width, unterminated when the byte is not 0.
        int c = pieces[27].empty() ? 0 : pieces[27][0];
        for (auto f : {bc->oad, bc->oad2, bc->dad, bc->rad})
            memset(f, c, BC_NUMBER_LEN);
        memset(bc->display, c, sizeof bc->display);
        memset(bc->userusername, c, sizeof bc->userusername);
        memset(bc->qsig_remote_name, c, sizeof bc->qsig_remote_name);
        memset(bc->activersionDivQNumber1, c, sizeof bc->activersionDivQNumber1);
        memset(bc->activersionDivQNumber2, c, sizeof bc->activersionDivQNumber2);
        memset(&bc->fac_in.u, c, sizeof bc->fac_in.u);
        const FacFunction functions[] = {Fac_None, Fac_CD, Fac_CRerouting};
        bc->fac_in.Function = functions[(pieces[27].size() > 1 ? (uint8_t)pieces[27][1] : 0) % 3];
    }

    const char *tmpl = piece(1) ? piece(1) : "";
    char out[256];
    int counter = 0;
    dialplan_find_and_replace_variables_in_string(co, tmpl, out, sizeof out, &counter);
    if (strlen(out) >= sizeof out)
        abort();
    char tiny[3];
    dialplan_find_and_replace_variables_in_string(co, tmpl, tiny, sizeof tiny, &counter);

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
    return 0;
}
