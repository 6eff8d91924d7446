// Setting options by key, applying option strings, the overlay of one record
// onto another, the dial plan's small condition texts and the per-leg values.
#include <strings.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "cc_internal.h"
#include "pools.h"
#include "strtools.h"

const char *cc_tag_text(cc_tag t)
{
    if (!t.tagged)
        return nullptr;
    return t.ro ? rinfo(t.ro) : cinfo(t.co);
}

// Row indexes sorted by key without regard to case, made once. Keys are
// unique in that order, so the match is the first in table order too.
static const std::array<int, CC_OPTION_COUNT> &rows_by_key()
{
    static const std::array<int, CC_OPTION_COUNT> rows = [] {
        std::array<int, CC_OPTION_COUNT> r;
        for (int i = 0; i < CC_OPTION_COUNT; i++)
            r[i] = i;
        std::sort(r.begin(), r.end(), [](int a, int b) {
            return strcasecmp(call_configuration_options[a].var, call_configuration_options[b].var) < 0;
        });
        return r;
    }();
    return rows;
}

int cc_find_option(const char *key)
{
    const auto &rows = rows_by_key();
    auto it = std::lower_bound(rows.begin(), rows.end(), key, [](int row, const char *k) {
        return strcasecmp(call_configuration_options[row].var, k) < 0;
    });
    return it != rows.end() && strcasecmp(call_configuration_options[*it].var, key) == 0 ? *it : -1;
}

static long long decimal(const char *text)
{
    return strtoll(text, nullptr, 10);
}

static char *bytes_of(call_configuration *cc, const cc_descriptor &d)
{
    return reinterpret_cast<char *>(cc) + d.offset;
}

void cc_set_value_tagged(call_configuration *cc, const char *key, char *value, cc_tag tag)
{
    int row = cc_find_option(key);
    if (row < 0) {
        CC_LOG(5, tag, "Don't know what to do with %s", key);
        return;
    }
    const cc_descriptor &d = cc_descriptors[call_configuration_options[row].id];
    if (!d.keep_quotes)
        st_strip_quotation_marks(value);
    bool mark = true;
    if (d.parse) {
        mark = d.parse(cc, value, tag);
    } else {
        switch (d.kind) {
        case CCK_FLAG: d.put(cc, decimal(value) & 1); break;
        case CCK_NUMBER: d.put(cc, decimal(value)); break; // the field cuts it to its width
        case CCK_YES: d.put(cc, strcasecmp(value, "yes") == 0 ? 1 : decimal(value)); break;
        case CCK_CLAMP: {
            long long v = decimal(value);
            d.put(cc, v < d.lo ? d.lo : v > d.hi ? d.hi : v);
            break;
        }
        case CCK_WORD: {
            int32_t code = cc_word_code(d.words, value);
            if (code != CC_WORD_KEEP)
                d.put(cc, code);
            break;
        }
        case CCK_TEXT: snprintf(bytes_of(cc, d), d.size, "%s", value); break;
        case CCK_STRUCT: break;
        }
    }
    if (mark)
        d.mark(cc);
}

void cc_set_call_configuration_value(call_configuration *cc, const char *key, char *value)
{
    if (!cc || !key || !value)
        return;
    cc_set_value_tagged(cc, key, value, cc_tag{});
}

void cc_apply_option_string(call_configuration *cc, const char *options, cc_tag tag)
{
    if (!cc)
        return;
    std::string copy(options ? options : "");
    char *rest = copy.data(), *item;
    while ((item = strsep(&rest, ","))) {
        if (!item[0]) {
            CC_LOG(1, tag, "ignoring empty token");
            continue;
        }
        char *eq = strchr(item, '=');
        if (!eq) {
            CC_LOG(3, tag, "cannot parse token %s", item);
            continue;
        }
        if (eq == item) {
            CC_LOG(3, tag, "ignoring invalid token %s", item);
            continue;
        }
        *eq = '\0';
        cc_set_value_tagged(cc, item, eq + 1, tag);
    }
}

// ---- call control's part ---------------------------------------------------------

static int dtmf_flags_not_built(call_object *)
{
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        LOGD(TARN, 1, nullptr, "not built: set_dtmf_generation_and_filter_options");
    return -1;
}

static cc_callctl_hooks callctl_hooks = {dtmf_flags_not_built};

void cc_set_callctl_hooks(const cc_callctl_hooks *in)
{
    cc_callctl_hooks h = in ? *in : cc_callctl_hooks{};
    if (!h.set_dtmf_generation_and_filter_options)
        h.set_dtmf_generation_and_filter_options = dtmf_flags_not_built;
    callctl_hooks = h; // at start, before calls
}

void cc_recompute_dtmf(call_object *co)
{
    if (co)
        callctl_hooks.set_dtmf_generation_and_filter_options(co);
}

void cc_parse_call_configuration_direct(call_object *co, call_configuration *cc, const char *options)
{
    cc_apply_option_string(cc, options, cc_tag{co, nullptr, true});
    cc_recompute_dtmf(co);
}

void cc_parse_call_configuration_reg(reg_object *ro, call_configuration *cc, const char *options)
{
    cc_apply_option_string(cc, options, cc_tag{nullptr, ro, ro != nullptr});
}

// ---- overlay ---------------------------------------------------------------------------

void _cc_update_call_configuration(call_configuration *target, const call_configuration *source, ccupdate_flag flag)
{
    for (const call_configuration_option &row : call_configuration_options) {
        if ((flag == CCUF_DO_NOT_UPDATE_SIP_INBOUND && row.type == CC_TYPE_SIP_INBOUND) ||
            (flag == CCUF_DO_NOT_UPDATE_SIP_OUTBOUND && row.type == CC_TYPE_SIP_OUTBOUND))
            continue;
        const cc_descriptor &d = cc_descriptors[row.id];
        if (!d.is_set(source))
            continue;
        if (d.kind != CCK_TEXT && d.kind != CCK_STRUCT)
            d.put(target, d.get(source)); // two-part values go as one field
        else if (!d.copy)
            memmove(bytes_of(target, d), reinterpret_cast<const char *>(source) + d.offset, d.size);
        if (d.copy)
            d.copy(target, source);
    }
}

void cc_update_call_configuration(call_configuration *target, const call_configuration *source)
{
    _cc_update_call_configuration(target, source, CCUF_UPDATE_EVERYTHING);
}

// ---- condition and parameter texts -----------------------------------------------------

void cc_parse_override(struct override *o, const char *text)
{
    char buf[512];
    snprintf(buf, sizeof buf, "%s", text ? text : "");
    o->override_screen = o->override_pres = -1;
    char *rest = buf, *item;
    while ((item = strsep(&rest, ":"))) {
        char *value = strchr(item, '=');
        if (!value)
            continue;
        *value++ = '\0';
        if (strcmp(item, "screen") == 0)
            o->override_screen = (int32_t)decimal(value);
        else if (strcmp(item, "pres") == 0)
            o->override_pres = (int32_t)decimal(value);
    }
}

void cc_parse_extra_filter(struct extra_filter *f, const char *text)
{
    struct condition {
        const char *key;
        int32_t extra_filter::*value;
        int32_t extra_filter::*negated; // null: no negation
    };
    static const condition conditions[] = {
        {"bearer.cap", &extra_filter::bearer_cap_capability, &extra_filter::bearer_cap_capability_not},
        {"bearer.rate", &extra_filter::bearer_cap_rate, &extra_filter::bearer_cap_rate_not},
        {"bearer.mode", &extra_filter::bearer_cap_mode, &extra_filter::bearer_cap_mode_not},
        {"bearer.user", &extra_filter::bearer_cap_user, &extra_filter::bearer_cap_user_not},
        {"ecall", &extra_filter::ecall_parsed, nullptr},
        {"ecall.simple", &extra_filter::ecall_simple, nullptr},
        {"diversion1", &extra_filter::diversion1, nullptr},
    };
    char buf[512];
    snprintf(buf, sizeof buf, "%s", text ? text : "");
    f->bearer_cap_capability = f->bearer_cap_rate = f->bearer_cap_mode = f->bearer_cap_user = -1;
    f->ecall_parsed = f->ecall_simple = -1;
    char *rest = buf, *item;
    while ((item = strsep(&rest, ":"))) {
        int negated = 0;
        char *value = strstr(item, "!=");
        if (value) {
            *value = '\0';
            value += 2;
            negated = 1;
        } else if ((value = strchr(item, '='))) {
            *value++ = '\0';
        } else {
            continue;
        }
        for (const condition &c : conditions) {
            if (strcmp(item, c.key) != 0)
                continue;
            f->*c.value = (int32_t)decimal(value);
            if (c.negated)
                f->*c.negated = negated;
        }
    }
}

// Up to three ":"-separated decimals; items not given leave their value.
static void three_decimals(const char *text, int *a, int *b, int *c)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%s", text ? text : "");
    int *out[] = {a, b, c};
    char *rest = buf, *item;
    for (int i = 0; i < 3 && (item = strsep(&rest, ":")); i++)
        if (item[0])
            *out[i] = (int)decimal(item);
}

void cc_parse_dtmf_params(const char *text, int *min_on, int *min_off, int *min_dropout)
{
    three_decimals(text, min_on, min_off, min_dropout);
}

static int clamp(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

void cc_parse_ntenergy_params(const char *text, int *level, int *period, int *snr)
{
    three_decimals(text, level, period, snr);
    *level = clamp(*level, 220, 420);
    *period = clamp(*period, 20, 200) / 5 * 5;
    *snr = clamp(*snr, 100, 200);
}

// ---- per-leg values --------------------------------------------------------------------

static int inbound_part(int v)
{
    return v & 0xff;
}

static int outbound_part(int v)
{
    int out = (v >> 8) & 0xff;
    return out ? out : v & 0xff; // 0: as inbound
}

int cc_get_dtmfmode_of_active_sipleg(const call_object *co)
{
    if (co->cl_sip == co->cl_sip_in)
        return inbound_part(co->cc.dtmfmode);
    if (co->cl_sip == co->cl_sip_out)
        return outbound_part(co->cc.dtmfmode);
    return CC_DTMF_RFC2833;
}

int cc_get_dtmfmode_of_sipleg(const call_object *co, int leg)
{
    return leg == 1 && co->cl_sip_out ? outbound_part(co->cc.dtmfmode) : inbound_part(co->cc.dtmfmode);
}

int cc_get_rtp_packet_size_of_sipleg(const call_object *co, int leg)
{
    return leg == 1 && co->cl_sip_out ? outbound_part(co->cc.rtp_packet_size) : inbound_part(co->cc.rtp_packet_size);
}

int cc_get_srtp_mode_for_active_call_leg(const call_object *co)
{
    int mode = co->cc.srtp_mode;
    if (co->callinfo == CI_SIP_TO_SIP && co->cl_sip && co->cl_sip == co->cl_sip_out && mode > 7)
        return mode >> 3;
    return mode & 7;
}
