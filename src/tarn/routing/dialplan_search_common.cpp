// Pieces shared by the SIP and the line search.
#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "dialplan_search_intern.h"
#include "dialplan_vars.h"
#include "log.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_stack.h"

int dp_whole_match(const regex_t *re, const char *text)
{
    if (!re || !text)
        return 0;
    regmatch_t m;
    return regexec(re, text, 1, &m, 0) == 0 && m.rm_so == 0 && (size_t)m.rm_eo == strlen(text) ? 1 : 0;
}

bool dp_number_passes(const regex_t *re, int negated, const char *text)
{
    return dp_whole_match(re, text) != (negated ? 1 : 0);
}

bool dp_expand(call_object *co, const char *tmpl, char *out, size_t size)
{
    int counter = 0;
    out[0] = '\0';
    if (!tmpl)
        return false;
    int room = (int)(size < (size_t)DP_VAR_TEXT_SIZE ? size : (size_t)DP_VAR_TEXT_SIZE);
    dialplan_find_and_replace_variables_in_string(co, tmpl, out, room, &counter);
    return counter > 0;
}

char *dp_rewrite(const regex_t *re, int negated, const char *text, const char *tmpl)
{
    char out[DP_REWRITE_SIZE];
    int rc = negated ? dialplan_regmod_negated(text, tmpl, out, sizeof out)
                     : dialplan_regmod(re, text, tmpl, out, sizeof out);
    return rc == 0 ? strdup(out) : nullptr;
}

void dp_set_text(char **slot, const char *value)
{
    free(*slot);
    *slot = value ? strdup(value) : nullptr;
}

const call_configuration *dp_line_cc(const dialplan_element *e)
{
    return e && e->cc ? e->cc : &gp->default_call_configuration;
}

void dp_assign_config(call_object *co, call_configuration **slot, const char *options)
{
    if (!options)
        return;
    call_configuration *record = cc_parse_call_configuration_pool(co, options);
    cc_release_call_configuration(*slot);
    *slot = record;
}

bool dp_names_group(const char *id)
{
    return id && (strncasecmp(id, "g:", 2) == 0 || strncasecmp(id, "p:", 2) == 0);
}

void dp_prepare_outgoing_leg(dialplan_element *dp, call_leg_sip *leg, const char *id, bool changed,
                             const char *const *fallback_stacks)
{
    port_group_sip *pgs = pg_get_port_group_sip_by_name(id, nullptr);
    sip_stack *ss = pgs ? pgs->pgs_sip_stack : nullptr;
    if (!pgs) {
        for (const char *const *name = fallback_stacks; name && *name && !ss; name++)
            ss = get_sip_stack_by_name(*name);
        if (!fallback_stacks && gp->sip_stack_size > 0)
            ss = &gp->sip_stacks[0];
    }
    if (leg) {
        if (ss) {
            leg->ss = ss;
            leg->nua = ss->nua;
        }
        pg_sip_get_host_ip(pgs, ss, leg->using_ip, sizeof leg->using_ip);
    }

    // Rebuilt on the call's own copy of the line: the table's element is
    // shared by every call.
    if (changed || !dp->pd_out) {
        proxy_def *pd = create_proxy_definition_by_id(id, SIP_OUTBOUND);
        if (pd || changed) {
            free_proxy_def(dp->pd_out);
            dp->pd_out = pd;
        }
    }
    if (!leg)
        return;
    free_proxy_def(leg->pd);
    leg->pd = dp->pd_out ? clone_proxy_definition(dp->pd_out) : nullptr;
    const call_configuration *lc = dp_line_cc(dp);
    if (leg->pd && lc->sip_failover_proxy_set && lc->sip_failover_proxy[0]) {
        free(leg->pd->failover);
        leg->pd->failover = strdup(lc->sip_failover_proxy);
    }
}

void dp_no_match(const call_object *co, const char *fmt, ...)
{
    if (!(log_levels_debug_enabled && log_get_loglevel(log_levels_debug, TARN) >= 8))
        return;
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    LOGD(TARN, 8, cinfo(co), "%s", text);
}

bool dp_call_group_step(call_object *co, const dialplan_element *e, char *id, size_t size, bool *changed,
                        int *stop)
{
    char before[DP_VAR_TEXT_SIZE];
    snprintf(before, sizeof before, "%s", id);
    if (dialplan_init_call_group(co, id, size) != 0) {
        if (!dp_line_cc(e)->dialplan_go_on)
            *stop = 1;
        dp_no_match(co, "line %i didn't match: no SIP group of %s can take the call", e->line, before);
        return false;
    }
    if (strcmp(before, id) != 0)
        *changed = true;
    return true;
}

void dp_keep_expanded(dialplan_element *dp, const char *from_id, const char *new_source,
                      const char *new_destination)
{
    if (from_id)
        dp_set_text(&dp->from_id, from_id);
    if (new_source)
        dp_set_text(&dp->new_source, new_source);
    if (new_destination)
        dp_set_text(&dp->new_destination, new_destination);
}

char *dp_new_number(call_object *co, const dialplan_element *e, bool source, const char *text, char *tmpl,
                    size_t size, bool *vars)
{
    *vars = dp_expand(co, source ? e->new_source : e->new_destination, tmpl, size);
    char *number = source ? dp_rewrite(e->regexp_original_source, e->not_matching_source, text, tmpl)
                          : dp_rewrite(e->regexp_original_destination, e->not_matching_destination, text, tmpl);
    if (!number)
        dp_no_match(co, "line %i didn't match: regexp substitution for %s failed", e->line,
                    source ? "source" : "destination");
    return number;
}

void dialplan_build_active_configuration(call_object *co, const call_configuration *override)
{
    call_configuration *active = &co->cc;
    cc_init_call_configuration(active);
    if (co->cc_source)
        _cc_update_call_configuration(active, co->cc_source, CCUF_DO_NOT_UPDATE_SIP_OUTBOUND);
    if (co->cc_destination)
        _cc_update_call_configuration(active, co->cc_destination, CCUF_DO_NOT_UPDATE_SIP_INBOUND);
    if (co->dp && co->dp->cc)
        cc_update_call_configuration(active, co->dp->cc);
    if (override)
        cc_update_call_configuration(active, override);
    co->cc_active = active;
}
