// The dial plan search for line-originated calls (ISDN, GSM/LTE, analog,
// CAS), the port lists of line sources and the line destinations of SIP
// calls.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "confman.h"
#include "dialplan_search_intern.h"
#include "dialplan_vars.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "schema.h"

namespace {

constexpr int PORT_SECTION = 1, PORT_NAME_KEY = 0, PORT_CONFIG_KEY = 2;
constexpr int CONFIG_TEXT_SIZE = 2048;
constexpr int GSM_DAD_SIZE = 64; // gsm_dad keeps 63 characters

static_assert(CFG_ISDN_PORT_NAME == PORT_NAME_KEY && CFG_ANALOG_PORT_NAME == PORT_NAME_KEY &&
                  CFG_CAS_PORT_NAME == PORT_NAME_KEY && CFG_GSM_PORT_NAME == PORT_NAME_KEY,
              "the group name is the first key of a port's section");
static_assert(CFG_ISDN_PORT_CONFIG == PORT_CONFIG_KEY && CFG_ANALOG_PORT_CONFIG == PORT_CONFIG_KEY &&
                  CFG_GSM_PORT_CONFIG == PORT_CONFIG_KEY,
              "the configuration string of a port's section");

const char *text_of(const char *s) { return s ? s : ""; }

cm *config_of(dp_tech tech)
{
    switch (tech) {
    case TECH_ISDN: return gp->config_isdn;
    case TECH_ANALOG: return gp->config_analog;
    case TECH_GSM: return gp->config_gsm;
    case TECH_CAS: return gp->config_cas;
    default: return nullptr;
    }
}

int port_of(const call_object *co, dp_tech tech)
{
    switch (tech) {
    case TECH_ISDN: return co->bc ? co->bc->port : -1;
    case TECH_GSM: return co->gsm_port;
    case TECH_ANALOG: return co->analog_port & ~0x800;
    case TECH_CAS: return co->cas_port;
    default: return -1;
    }
}

// A text of at most n characters from a fixed field.
template <size_t N>
const char *field(char *out, size_t size, const char (&f)[N])
{
    snprintf(out, size, "%.*s", (int)N, f);
    return out;
}

struct pstn_line_test {
    call_object *co;
    dp_tech tech;
    dialplan_element *e;
    int initial;
    int *stop;

    dialplan_element *run();
    bool port_test();
    void calling_number(char *out, size_t size, bool prefix_priority);
    void called_number(char *out, size_t size, bool prefix_priority);
    bool extra_filter_passes();
};

bool pstn_line_test::port_test()
{
    char list[DP_VAR_TEXT_SIZE];
    dp_expand(co, e->from_id, list, sizeof list);
    int port = port_of(co, tech);
    switch (tech) {
    case TECH_ISDN:
        if (dialplan_isdn_port_matches(list, port))
            return true;
        dp_no_match(co, "line %i didn't match: FromId (ISDN ports) didn't match", e->line);
        return false;
    case TECH_GSM:
        if (dialplan_gsm_port_matches(list, port))
            return true;
        dp_no_match(co, "line %i didn't match: FromId (gsm ports) didn't match", e->line);
        return false;
    case TECH_ANALOG:
        if (dialplan_analog_port_matches(list, port))
            return true;
        dp_no_match(co, "line %i didn't match: FromId (analog ports) didn't match", e->line);
        return false;
    case TECH_CAS:
        if (dialplan_cas_port_matches(list, port))
            return true;
        dp_no_match(co, "line %i didn't match: FromId (cas ports) didn't match", e->line);
        return false;
    default:
        return false;
    }
}

void pstn_line_test::calling_number(char *out, size_t size, bool prefix_priority)
{
    out[0] = '\0';
    const call_configuration *cc = dialplan_call_configuration(co);
    switch (tech) {
    case TECH_GSM: snprintf(out, size, "%s", text_of(co->gsm_oad)); return;
    case TECH_ANALOG: snprintf(out, size, "%s", text_of(co->analog_oad)); return;
    case TECH_CAS: snprintf(out, size, "%s", text_of(co->cas_oad)); return;
    case TECH_ISDN: break;
    default: return;
    }
    const misdn_bchannel *bc = co->bc;
    if (!bc)
        return;
    char number[DP_VAR_TEXT_SIZE];
    int setting = (int)cc->from_pstn_src_setting;
    if (setting == CONFIG_SIPSRC_AUTO) {
        field(number, sizeof number, bc->activersionDivQNumber2);
        if (number[0]) {
            snprintf(out, size, "%s", number);
            return;
        }
        setting = CONFIG_SIPSRC_OAD;
    }
    switch (setting) {
    case CONFIG_SIPSRC_OAD:
        field(number, sizeof number, bc->oad);
        if (prefix_priority)
            dialplan_prefix_ton(out, (int)size, number, bc->oton, cc);
        else
            snprintf(out, size, "%s", number);
        return;
    case CONFIG_SIPSRC_OAD2: field(out, size, bc->oad2); return;
    case CONFIG_SIPSRC_QSIGNAME: field(out, size, bc->qsig_remote_name); return;
    case CONFIG_SIPSRC_REDIRECTED_NR: field(out, size, bc->rad); return;
    case CONFIG_SIPSRC_ACTDIVQ1: field(out, size, bc->activersionDivQNumber1); return;
    case CONFIG_SIPSRC_ACTDIVQ2: field(out, size, bc->activersionDivQNumber2); return;
    default: return; // cnip and unknown codes: empty
    }
}

void pstn_line_test::called_number(char *out, size_t size, bool prefix_priority)
{
    out[0] = '\0';
    switch (tech) {
    case TECH_GSM: snprintf(out, size, "%s", text_of(co->gsm_dad)); return;
    case TECH_ANALOG: snprintf(out, size, "%s", text_of(co->analog_dad)); return;
    case TECH_CAS: snprintf(out, size, "%s", text_of(co->cas_dad)); return;
    case TECH_ISDN: break;
    default: return;
    }
    if (!co->bc)
        return;
    char number[DP_VAR_TEXT_SIZE];
    field(number, sizeof number, co->bc->dad);
    if (prefix_priority)
        dialplan_prefix_ton(out, (int)size, number, co->bc->dton, dialplan_call_configuration(co));
    else
        snprintf(out, size, "%s", number);
}

bool pstn_line_test::extra_filter_passes()
{
    const call_configuration *lc = dp_line_cc(e);
    if (tech != TECH_ISDN || !lc->extra_filter[0])
        return true;
    extra_filter f{};
    f.diversion1 = -1;
    cc_parse_extra_filter(&f, lc->extra_filter);
    const misdn_bchannel *bc = co->bc;
    struct criterion {
        int required, negated, got;
        const char *message;
    } criteria[] = {
        {f.bearer_cap_capability, f.bearer_cap_capability_not, bc ? bc->capability : -1,
         "line %i didn't match: extra filter bearer.cap didn't match: required %i, got %i"},
        {f.bearer_cap_rate, f.bearer_cap_rate_not, bc ? bc->rate : -1,
         "line %i didn't match: extra filter bearer.rate didn't match: required %i, got %i"},
        {f.bearer_cap_mode, f.bearer_cap_mode_not, bc ? bc->mode : -1,
         "line %i didn't match: extra filter bearer.mode didn't match: required %i, got %i"},
        {f.bearer_cap_user, f.bearer_cap_user_not, bc ? bc->user1 : -1,
         "line %i didn't match: extra filter bearer.user didn't match: required %i, got %i"},
        {f.ecall_simple, 0, co->ecall_simple,
         "line %i didn't match: extra filter ecall.simple didn't match: required %i, got %i"},
        {f.ecall_parsed, 0, co->ecall_parsed,
         "line %i didn't match: extra filter ecall didn't match: required %i, got %i"},
    };
    for (const criterion &c : criteria) {
        if (c.required == -1)
            continue;
        if ((c.got == c.required) == (c.negated != 0)) {
            dp_no_match(co, c.message, e->line, c.required, c.got);
            return false;
        }
    }
    if (f.diversion1 != -1 && !(bc && bc->activersionDivQNumber1[0])) {
        dp_no_match(co, "line %i didn't match: extra filter diversion1 didn't match", e->line);
        return false;
    }
    return true;
}

dialplan_element *pstn_line_test::run()
{
    // 1.
    if (e->from_tech != tech)
        return nullptr;
    // 2.-3.
    if (!port_test())
        return nullptr;
    // 4. The active configuration of every line whose ports match.
    call_configuration *active = co->cc_active ? co->cc_active : &co->cc;
    cc_clone_call_configuration(active, co->cc_source ? co->cc_source : &gp->default_call_configuration);
    if (e->cc)
        cc_update_call_configuration(active, e->cc);
    const call_configuration *lc = dp_line_cc(e);
    bool prefix_priority = active->prefix_priority == CONFIG_PREFIXPRIORITY_PREDIALPLAN;
    // 5.-6.
    char src[DP_VAR_TEXT_SIZE];
    calling_number(src, sizeof src, prefix_priority);
    if (!dp_number_passes(e->regexp_original_source, e->not_matching_source, src)) {
        dp_no_match(co, "line %i didn't match: source (oad) didn't match", e->line);
        return nullptr;
    }
    // 7.
    if (!extra_filter_passes())
        return nullptr;
    // 8.
    char to_id[DP_VAR_TEXT_SIZE];
    bool to_id_changed = dp_expand(co, e->to_id, to_id, sizeof to_id);
    // 9.-10.
    char dest[DP_VAR_TEXT_SIZE];
    called_number(dest, sizeof dest, prefix_priority);
    if (!dp_number_passes(e->regexp_original_destination, e->not_matching_destination, dest)) {
        dp_no_match(co, "line %i didn't match: destination (dad) didn't match", e->line);
        return nullptr;
    }
    // The call group, once the numbers passed: a full group on a line whose
    // numbers never match does not end the search.
    if (initial && !dp_call_group_step(co, e, to_id, sizeof to_id, &to_id_changed, stop))
        return nullptr;
    bool isdn = tech == TECH_ISDN && co->bc;
    // 11.
    char new_source_tmpl[DP_VAR_TEXT_SIZE];
    bool new_source_vars;
    char *new_source = dp_new_number(co, e, true, src, new_source_tmpl, sizeof new_source_tmpl, &new_source_vars);
    if (!new_source)
        return nullptr;
    if (isdn && !prefix_priority && active->from_pstn_src_setting == CONFIG_SIPSRC_OAD) {
        char prefixed[DP_PREFIXED_SIZE];
        dialplan_prefix_ton(prefixed, sizeof prefixed, new_source, co->bc->oton, active);
        free(new_source);
        new_source = strdup(prefixed);
    }
    free(co->new_source);
    co->new_source = new_source;
    // 12.
    char new_destination_tmpl[DP_VAR_TEXT_SIZE];
    bool new_destination_vars;
    char *new_destination = dp_new_number(co, e, false, dest, new_destination_tmpl, sizeof new_destination_tmpl,
                                          &new_destination_vars);
    if (!new_destination) {
        dp_set_text(&co->new_source, nullptr);
        return nullptr;
    }
    if (isdn && !prefix_priority) {
        char prefixed[DP_PREFIXED_SIZE];
        dialplan_prefix_ton(prefixed, sizeof prefixed, new_destination, co->bc->dton, active);
        free(new_destination);
        new_destination = strdup(prefixed);
    }
    free(co->new_destination);
    co->new_destination = new_destination;
    // 13.
    dialplan_element *dp = e;
    if (initial) {
        dp = dialplan_clone_element(e);
        co->dp = dp;
    }
    LOGD_CALL(TARN, 4, co, "found match on line %i: %s", e->line, text_of(e->original_line));
    LOGD_CALL(TARN, 4, co, "match parameters: src %s => newsrc %s | dest %s => newdest %s", src,
              text_of(co->new_source), dest, text_of(co->new_destination));
    // 14.
    if (tech == TECH_ISDN)
        co->f.isdn_prefix_predialplan = prefix_priority ? 1 : 0;
    if (!dp)
        return nullptr;
    // 15.-16.
    char src_id[DP_VAR_TEXT_SIZE];
    bool src_id_expanded = dp_expand(co, e->from_id, src_id, sizeof src_id);
    dp_keep_expanded(dp, src_id_expanded ? src_id : nullptr, new_source_vars ? new_source_tmpl : nullptr,
                     new_destination_vars ? new_destination_tmpl : nullptr);
    if (dp->to_tech == TECH_SIP) {
        if (to_id_changed)
            dp_set_text(&dp->to_id, to_id);
        call_leg_sip *leg = dialplan_outgoing_leg(co);
        dp_prepare_outgoing_leg(dp, leg, to_id, to_id_changed, nullptr);
        if (leg && leg->pd)
            dp_assign_config(co, &co->cc_destination, text_of(leg->pd->config_string));
    }
    // 17.
    if (tech == TECH_ISDN && co->bc && lc->override[0]) {
        struct override o{-1, -1};
        cc_parse_override(&o, lc->override);
        if (o.override_pres != -1)
            co->bc->pres = o.override_pres;
        if (o.override_screen != -1)
            co->bc->screen = o.override_screen;
    }
    // 18.
    return co->dp;
}

// Port numbers of a destination list with ranges, at most `most`.
int ports_of_list(const char *list, int *ports, int most)
{
    char copy[DP_VAR_TEXT_SIZE];
    snprintf(copy, sizeof copy, "%s", text_of(list));
    int n = 0;
    char *save = nullptr;
    for (char *piece = strtok_r(copy, ",", &save); piece && n < most; piece = strtok_r(nullptr, ",", &save)) {
        char *end;
        long from = strtol(piece, &end, 10);
        if (end == piece)
            continue;
        long to = from;
        if (*end == '-') {
            char *after = end + 1;
            to = strtol(after, &end, 10);
            if (end == after)
                to = from;
        }
        if (from < 0 || to < from || to > 65535)
            continue;
        for (long p = from; p <= to && n < most; p++)
            ports[n++] = (int)p;
    }
    return n;
}

} // namespace

// ---- searches -----------------------------------------------------------------------------------

dialplan_element *dialplan_search_from_pstn_check_element(call_object *co, dp_tech tech, dialplan_element *e,
                                                          int initial, int *stop)
{
    int unused = 0;
    if (!co || !e || !gp)
        return nullptr;
    pstn_line_test t{co, tech, e, initial, stop ? stop : &unused};
    return t.run();
}

dialplan_element *dialplan_search_from_pstn(call_object *co, dp_tech tech)
{
    if (!co || !gp)
        return nullptr;
    lock_hold hold(&lock_manager::dialplan_lock);
    dp_set_text(&co->new_source, nullptr);
    dp_set_text(&co->new_destination, nullptr);
    if (co->dp) {
        dialplan_cleanup_element(co->dp);
        free(co->dp);
        co->dp = nullptr;
    }
    if (tech == TECH_GSM) {
        // The called number of a GSM call is its port's extension.
        int saved = co->callinfo;
        co->callinfo = CI_GSM_TO_SIP;
        char extension[DP_VAR_TEXT_SIZE];
        dp_expand(co, pg_gsm_get_call_extension(co->gsm_port), extension, sizeof extension);
        co->callinfo = saved;
        if (!co->gsm_dad)
            co->gsm_dad = co->pstn_dad;
        snprintf(co->gsm_dad, GSM_DAD_SIZE, "%.*s", GSM_DAD_SIZE - 1, extension);
    }
    dialplan_element *found = nullptr;
    for (int i = co->dialplan_start_index < 0 ? 0 : co->dialplan_start_index; i < gp->dialplan_size && !found;
         i++) {
        int stop = 0;
        found = dialplan_search_from_pstn_check_element(co, tech, &gp->dialplan[i], 1, &stop);
        if (stop)
            break;
    }
    return found;
}

namespace {

// A match on a line with dialplan_go_on: a later search of the call goes on
// after it.
dialplan_element *with_continuation(call_object *co, dialplan_element *dp)
{
    if (dp && dp->cc && dp->cc->dialplan_go_on) {
        co->dialplan_start_index = dp->index + 1;
        co->f.dialplan_go_on_used = 1;
    }
    return dp;
}

} // namespace

dialplan_element *dialplan_search_from_isdn(call_object *co)
{
    return with_continuation(co, dialplan_search_from_pstn(co, TECH_ISDN));
}
dialplan_element *dialplan_search_from_analog(call_object *co)
{
    return with_continuation(co, dialplan_search_from_pstn(co, TECH_ANALOG));
}
dialplan_element *dialplan_search_from_gsm(call_object *co) { return dialplan_search_from_pstn(co, TECH_GSM); }
dialplan_element *dialplan_search_from_cas(call_object *co) { return dialplan_search_from_pstn(co, TECH_CAS); }

dialplan_element *dialplan_search(call_object *co, dp_tech tech)
{
    switch (tech) {
    case TECH_SIP: return dialplan_search_from_sip(co, 0);
    case TECH_ISDN: return dialplan_search_from_isdn(co);
    case TECH_ANALOG: return dialplan_search_from_analog(co);
    case TECH_GSM: return dialplan_search_from_gsm(co);
    default:
        LOGD_CALL(TARN, 2, co, "unknown technology");
        return co ? co->dp : nullptr;
    }
}

// ---- port lists -----------------------------------------------------------------------------------

int dialplan_port_matches(cm *config, const char *list, int port)
{
    if (!list)
        return 0;
    char copy[DP_VAR_TEXT_SIZE];
    snprintf(copy, sizeof copy, "%s", list);
    // Every entry is read, so each empty one is reported.
    int matches = 0;
    char *rest = copy, *entry;
    while ((entry = strsep(&rest, ","))) {
        if (!entry[0]) {
            LOGD(TARN, 2, nullptr, "ignoring empty token in dialplan");
            continue;
        }
        if (matches)
            continue;
        if (strlen(entry) >= 3 && (entry[0] == 'g' || entry[0] == 'G') && entry[1] == ':') {
            char group[512];
            if (config && cm_get(config, group, sizeof group, PORT_SECTION, PORT_NAME_KEY, port) == 0 &&
                strcasecmp(group, entry + 2) == 0)
                matches = 1;
            continue;
        }
        if (atoi(entry) == port)
            matches = 1;
    }
    return matches;
}

int dialplan_isdn_port_matches(const char *list, int port)
{
    return dialplan_port_matches(gp->config_isdn, list, port);
}
int dialplan_gsm_port_matches(const char *list, int port) { return dialplan_port_matches(gp->config_gsm, list, port); }
int dialplan_analog_port_matches(const char *list, int port)
{
    return dialplan_port_matches(gp->config_analog, list, port);
}
int dialplan_cas_port_matches(const char *list, int port) { return dialplan_port_matches(gp->config_cas, list, port); }

// ---- line destinations of SIP calls -----------------------------------------------------------

void dp_line_destination(call_object *co, dialplan_element *dp, const char *id)
{
    cm *config = dp->to_tech == TECH_CAS ? nullptr : config_of(dp->to_tech);
    char options[CONFIG_TEXT_SIZE];
    if (!dp_names_group(id)) {
        int ports[DP_MAX_TO_PORTS];
        int n = ports_of_list(id, ports, DP_MAX_TO_PORTS);
        free(dp->to_ports);
        dp->to_ports = nullptr;
        dp->to_ports_count = 0;
        if (n > 0) {
            dp->to_ports = (int *)malloc(sizeof(int) * (size_t)n);
            if (dp->to_ports) {
                memcpy(dp->to_ports, ports, sizeof(int) * (size_t)n);
                dp->to_ports_count = n;
            }
        }
        cc_release_call_configuration(co->cc_destination);
        co->cc_destination = &gp->default_call_configuration;
        char *end;
        long single = strtol(text_of(id), &end, 10);
        if (config && single > 0 && single <= 65535 && *end == '\0' &&
            cm_get(config, options, sizeof options, PORT_SECTION, PORT_CONFIG_KEY, (int)single) == 0)
            dp_assign_config(co, &co->cc_destination, options);
        return;
    }
    if (config && cm_get_by_cat(config, options, sizeof options, PORT_SECTION, PORT_CONFIG_KEY, id + 2) == 0)
        dp_assign_config(co, &co->cc_destination, options);
}
