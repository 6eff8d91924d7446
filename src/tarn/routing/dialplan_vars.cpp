// Finding and replacing variable references in templates.
#include "dialplan_vars.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "call_info.h"
#include "call_object.h"
#include "log.h"
#include "reg_object.h"

namespace {

// Both owners begin with index and callinfo; read the kind without assuming
// which record it is.
static_assert(offsetof(call_object, callinfo) == offsetof(reg_object, callinfo), "same leading members");

int owner_callinfo(const void *owner)
{
    int32_t ci;
    memcpy(&ci, (const char *)owner + offsetof(call_object, callinfo), sizeof ci);
    return ci;
}

// The value of one reference: the table of the owner's kind.
const char *variable_value(void *owner, const char *name, int len)
{
    if (!owner)
        return dialplan_get_variable_dummy(owner, name, len);
    call_object *co = (call_object *)owner;
    switch (owner_callinfo(owner)) {
    case CI_SIP_TO_ISDN:
    case CI_SIP_TO_ANALOG:
    case CI_SIP_TO_GSM:
    case CI_SIP_TO_CAS:
        return dialplan_get_variable_sip_to_pstn(co, name, len);
    case CI_SIP_TO_SIP:
        return dialplan_get_variable_sip_to_sip(co, name, len);
    case CI_ISDN_TO_SIP:
        return dialplan_get_variable_isdn_to_sip(co, name, len);
    case CI_ANALOG_TO_SIP:
        return dialplan_get_variable_analog_to_sip(co, name, len);
    case CI_GSM_TO_SIP:
        return dialplan_get_variable_gsm_to_sip(co, name, len);
    case CI_CAS_TO_SIP:
        return dialplan_get_variable_cas_to_sip(co, name, len);
    case CI_GSM_TO_SIP_EXTENSIONS:
        return dialplan_get_variable_gsm_to_sip_extensions(co, name, len);
    case CI_REGISTER:
        return dialplan_get_variable_sip_reg((reg_object *)owner, name, len);
    default:
        return dialplan_get_variable_dummy(owner, name, len);
    }
}

// Appends at most the room left; false once the output is full.
struct out_text {
    char *buf;
    size_t cap; // characters, without the terminator
    size_t n = 0;
    bool put(const char *s, size_t len)
    {
        size_t room = cap - n;
        size_t k = len < room ? len : room;
        memcpy(buf + n, s, k);
        n += k;
        buf[n] = '\0';
        return k == len && n < cap;
    }
};

// The first reference that holds a further "${" before its closing brace:
// its innermost reference (the last "${" before that brace).
bool find_innermost(const char *text, int *pos, int *len)
{
    const char *p = text;
    for (;;) {
        const char *s = strstr(p, "${");
        if (!s)
            return false;
        const char *e = strchr(s + 2, '}');
        if (!e)
            return false;
        const char *inner = nullptr;
        for (const char *q = s + 2; q + 1 < e; q++)
            if (q[0] == '$' && q[1] == '{')
                inner = q;
        if (inner) {
            *pos = (int)(inner - text);
            *len = (int)(e - inner + 1);
            return true;
        }
        p = e + 1;
    }
}

} // namespace

const call_configuration *dialplan_call_configuration(const call_object *co)
{
    return co->cc_active ? co->cc_active : &co->cc;
}
call_leg_sip *dialplan_incoming_leg(const call_object *co) { return co->cl_sip_in ? co->cl_sip_in : co->cl_sip; }
call_leg_sip *dialplan_outgoing_leg(const call_object *co) { return co->cl_sip_out ? co->cl_sip_out : co->cl_sip; }

int dialplan_find_variables_in_string(const char *text, int *positions, int *lengths, int *count, int most)
{
    int n = 0;
    for (const char *p = text; p && n < most;) {
        const char *s = strstr(p, "${");
        if (!s)
            break;
        const char *e = strchr(s + 2, '}');
        if (!e)
            break;
        positions[n] = (int)(s - text);
        lengths[n] = (int)(e - s + 1);
        n++;
        p = e + 1;
    }
    if (count)
        *count = n;
    return n;
}

int dialplan_replace_variables(void *owner, const char *tmpl, char *out, int size, const int *positions,
                               const int *lengths, int count)
{
    if (!out || size <= 0)
        return 0;
    out[0] = '\0';
    if (!tmpl)
        return 0;
    out_text o{out, (size_t)size - 1};
    const int tlen = (int)strlen(tmpl);
    int at = 0;
    for (int i = 0; i < count; i++) {
        int pos = positions[i], len = lengths[i];
        // Only references in order and inside the template are taken.
        if (pos < at || len < 3 || pos > tlen - len)
            break;
        if (!o.put(tmpl + at, (size_t)(pos - at)))
            return (int)o.n;
        const char *v = variable_value(owner, tmpl + pos + 2, len - 3);
        if (!(v ? o.put(v, strlen(v)) : o.put(tmpl + pos, (size_t)len)))
            return (int)o.n;
        at = pos + len;
    }
    o.put(tmpl + at, (size_t)(tlen - at));
    return (int)o.n;
}

int dialplan_find_and_replace_variables_in_string(void *owner, const char *tmpl, char *out, int size,
                                                  int *counter)
{
    char work[DP_WORK_TEXT_SIZE];
    snprintf(work, sizeof work, "%s", tmpl ? tmpl : "");
    // A value may itself hold a reference (a display name "${from_display}"),
    // so nesting is undone a bounded number of times; what is left then is
    // replaced in the one final pass.
    for (int pass = 0;; pass++) {
        int pos, len;
        if (!find_innermost(work, &pos, &len))
            break;
        if (pass == DP_MAX_NESTED_PASSES) {
            LOGD(TARN, 2, nullptr, "variable references nested deeper than %i levels in |%s|, rest replaced at once",
                 DP_MAX_NESTED_PASSES, tmpl ? tmpl : "");
            break;
        }
        char next[DP_WORK_TEXT_SIZE];
        dialplan_replace_variables(owner, work, next, sizeof next, &pos, &len, 1);
        memcpy(work, next, sizeof work);
        if (counter)
            (*counter)++;
    }
    int positions[DP_MAX_VARIABLES], lengths[DP_MAX_VARIABLES];
    int n = dialplan_find_variables_in_string(work, positions, lengths, nullptr, DP_MAX_VARIABLES);
    if (counter)
        *counter += n;
    return dialplan_replace_variables(owner, work, out, size, positions, lengths, n);
}
