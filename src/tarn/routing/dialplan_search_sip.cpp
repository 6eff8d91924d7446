// The dial plan search for SIP-originated calls.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "dialplan_intern.h"
#include "dialplan_search_intern.h"
#include "dialplan_url.h"
#include "dialplan_vars.h"
#include "dns_cache.h"
#include "log.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_stack.h"

namespace {

// What a SIP source tests: bits of the group match types.
enum {
    SRC_ADDRESS = PGS_MATCH_ADDRESS,
    SRC_FROMUSER = PGS_MATCH_FROMUSER,
    SRC_TOUSER = PGS_MATCH_TOUSER,
    SRC_CONTACTUSER = PGS_MATCH_CONTACTUSER,
    SRC_REQUESTURLUSER = PGS_MATCH_REQUESTURLUSER,
    SRC_PLAIN = 128,
    SRC_MANUAL = PGS_MATCH_MANUAL,
};

const char *const outgoing_stacks[] = {"lan", "wan", "localhost", nullptr};

const char *text_of(const char *s) { return s ? s : ""; }

// A text of the request with every '"' removed, at most 255 characters.
void chosen(char *out, const char *text)
{
    size_t n = 0;
    for (const char *p = text_of(text); *p && n < DP_TEXT_SIZE - 1; p++)
        if (*p != '"')
            out[n++] = *p;
    out[n] = '\0';
}

// The kind of call a line makes from SIP, by its destination.
int sip_callinfo_for(dp_tech to, int current)
{
    switch (to) {
    case TECH_SIP: return CI_SIP_TO_SIP;
    case TECH_ISDN: return CI_SIP_TO_ISDN;
    case TECH_GSM: return CI_SIP_TO_GSM;
    case TECH_ANALOG: return CI_SIP_TO_ANALOG;
    case TECH_CAS: return CI_SIP_TO_CAS;
    default: return current;
    }
}

// ---- manual header patterns "/pattern/template/" ----

struct manual_setting {
    std::string pattern, tmpl;
};

// false when the text lacks its three '/'.
bool parse_manual(const char *setting, manual_setting *m)
{
    const char *a = strchr(text_of(setting), '/');
    const char *b = a ? strchr(a + 1, '/') : nullptr;
    const char *c = b ? strchr(b + 1, '/') : nullptr;
    if (!c)
        return false;
    m->pattern.assign(a + 1, b);
    m->tmpl.assign(b + 1, c);
    return true;
}

struct header_search {
    const regex_t *re;
    const char *tmpl;
    char *out;
};

int match_header(const char *line, void *ctx)
{
    header_search *s = (header_search *)ctx;
    if (!dp_whole_match(s->re, line))
        return 0;
    char rewritten[DP_REWRITE_SIZE];
    dialplan_regmod(s->re, line, s->tmpl, rewritten, sizeof rewritten);
    snprintf(s->out, DP_TEXT_SIZE, "%.*s", DP_TEXT_SIZE - 1, rewritten);
    return 1;
}

// 1 found, 0 no header matched, -1 malformed setting.
int manual_header_choice(const call_leg_sip *leg, const char *setting, char *out)
{
    out[0] = '\0';
    manual_setting m;
    if (!parse_manual(setting, &m))
        return -1;
    regex_t *re = nullptr;
    int unused = 0;
    if (dialplan_compile_pattern(m.pattern.c_str(), &re, &unused) != 0)
        return -1;
    header_search s{re, m.tmpl.c_str(), out};
    int found = dialplan_for_each_request_header(leg, match_header, &s);
    regfree(re);
    free(re);
    return found ? 1 : 0;
}

// ---- the test of one line ----

struct sip_line_test {
    sip_line_test(call_object *c, dialplan_element *el, int init, int *st) : co(c), e(el), initial(init), stop(st) {}
    call_object *co;
    dialplan_element *e;
    int initial;
    int *stop;
    call_leg_sip *in = nullptr;
    const sip_address_info_object *request = nullptr;
    char src_id[DP_VAR_TEXT_SIZE];
    bool src_id_expanded = false;
    int kind = SRC_PLAIN;
    port_group_sip *pgs = nullptr;
    proxy_def *built_pd_in = nullptr; // made here for a group named by references
    regex_t *built_re = nullptr;
    int saved_callinfo = 0;
    bool callinfo_changed = false;

    ~sip_line_test()
    {
        free_proxy_def(built_pd_in);
        if (built_re) {
            regfree(built_re);
            free(built_re);
        }
        // Variables of the next line resolve for the kind it was.
        if (callinfo_changed)
            co->callinfo = saved_callinfo;
    }
    const proxy_def *pd_in() const { return built_pd_in ? built_pd_in : e->pd_in; }
    const char *part(char *sip_address_info_object::*p) const { return request ? text_of(request->*p) : ""; }
    dialplan_element *run();
    bool source_test();
    bool user_tests();
    bool choose_source(char *out);
    bool choose_destination(char *out);
    void finish(bool to_id_changed, const char *to_id, bool new_source_vars,
                const char *new_source_tmpl, bool new_destination_vars, const char *new_destination_tmpl);
};

// Steps 2 to 7: the kind of source, its group, the address test.
bool sip_line_test::source_test()
{
    src_id_expanded = dp_expand(co, e->from_id, src_id, sizeof src_id);
    if (strncmp(src_id, "p:", 2) == 0)
        kind = SRC_ADDRESS;
    else if (strncmp(src_id, "d:", 2) == 0)
        kind = SRC_ADDRESS | SRC_FROMUSER;
    else if (strncmp(src_id, "t:", 2) == 0)
        kind = SRC_TOUSER;
    else if (strncmp(src_id, "a:", 2) == 0)
        kind = -1; // the group decides
    bool group = kind != SRC_PLAIN;

    if (group) {
        pgs = pg_get_port_group_sip_by_name(src_id, nullptr);
        if (!pgs) {
            LOGD(TARN, 0, cinfo(co), "CRITICAL: cannot find SIP group %s", src_id + 2);
            return false;
        }
        if (kind < 0)
            kind = pgs->pgs_matchtype;
        const sip_stack *leg_stack = in ? (in->ss ? in->ss : get_sip_stack_by_nua(in->nua)) : nullptr;
        if (leg_stack && pgs->pgs_sip_stack && leg_stack != pgs->pgs_sip_stack) {
            dp_no_match(co, "line %i didn't match: Nua Stack didn't match -> (%s) source ip %s", e->line, src_id,
                        in->sip_peer_network_ip);
            return false;
        }
        if (!e->pd_in)
            built_pd_in = create_proxy_definition_by_id(src_id, SIP_INBOUND);
    }

    // The address pattern.
    const regex_t *re = e->regexp_from_id;
    int negated = e->not_matching_from_id;
    if (!re) {
        negated = 0;
        if (group) {
            char pattern[DNS_SRV_REGEXP_SIZE];
            int automatic = strncmp(src_id, "a:", 2) == 0;
            if (dialplan_sip_in_get_address_regexp(src_id + 2, pattern, sizeof pattern, automatic) != 0)
                return false;
            int unused = 0;
            if (dialplan_compile_pattern(pattern, &built_re, &unused) != 0)
                return false;
        } else if (dialplan_compile_pattern(src_id, &built_re, &negated) != 0) {
            return false;
        }
        re = built_re;
    }

    if (in)
        pg_sip_get_host_ip(pgs, in->ss, in->using_ip, sizeof in->using_ip);

    bool tests_address = (kind & (SRC_PLAIN | SRC_ADDRESS | SRC_MANUAL)) != 0;
    if (initial && tests_address) {
        const char *ip = in ? in->sip_peer_network_ip : "";
        if (dp_whole_match(re, ip) == negated) {
            dp_no_match(co, "line %i didn't match: FromID (Url) didn't match -> (%s) source ip %s", e->line, src_id,
                        ip);
            return false;
        }
    }
    co->f.dialplan_no_matching_from_id_found = 0;
    return true;
}

// Step 9: the user parts the kind of source asks for.
bool sip_line_test::user_tests()
{
    if (!pgs)
        return true;
    struct user_part {
        int bit;
        const char *name;
        char *sip_address_info_object::*part;
    };
    static const user_part parts[] = {
        {SRC_FROMUSER, "from user", &sip_address_info_object::from_url_user},
        {SRC_TOUSER, "to user", &sip_address_info_object::to_url_user},
        {SRC_CONTACTUSER, "contact user", &sip_address_info_object::contact_user},
        {SRC_REQUESTURLUSER, "request url user", &sip_address_info_object::request_url_user},
    };
    const proxy_def *pd = pd_in();
    for (const user_part &u : parts) {
        if (!(kind & u.bit))
            continue;
        const char *got = part(u.part);
        if (pd && pd->user && pd->user[0] && strcmp(pd->user, got) != 0) {
            dp_no_match(co, "line %i %s does not match configured proxy user name, need |%s| got |%s|", e->line,
                        u.name, pd->user, got);
            return false;
        }
        bool known = false;
        for (int i = 0; i < pgs->pgs_user_count && !known; i++)
            known = pgs->pgs_users[i] && pgs->pgs_users[i]->pgsu_user &&
                    strcmp(pgs->pgs_users[i]->pgsu_user, got) == 0;
        if (!known) {
            dp_no_match(co, "line %i %s not contained in %s", e->line, u.name, text_of(pgs->pgs_name));
            return false;
        }
    }
    return true;
}

// The configuration a number setting comes from: the line's when it sets the
// option, else the inbound proxy definition's, else the line's.
const call_configuration *setting_source(const dialplan_element *e, const proxy_def *pd, bool line_sets)
{
    if (line_sets || !pd)
        return dp_line_cc(e);
    return &pd->cc;
}

// Step 10.
bool sip_line_test::choose_source(char *out)
{
    const call_configuration *lc = dp_line_cc(e);
    const call_configuration *c = setting_source(e, pd_in(), lc->from_sip_src_setting_set);
    int setting = c->from_sip_src_setting;
    out[0] = '\0';
    if (setting == CONFIG_PSTNSRC_AUTO) {
        const char *list = lc->from_sip_src_auto_values;
        if (!list[0] && pgs)
            list = pgs->pgs_cc.from_sip_src_auto_values;
        if (!list[0])
            list = "ppi|from|pai";
        char words[sizeof lc->from_sip_src_auto_values + 16];
        snprintf(words, sizeof words, "%s", list);
        const char *first_non_empty = nullptr, *first_name = nullptr, *picked = nullptr, *picked_name = nullptr;
        char *save = nullptr;
        int counted = 0;
        for (char *w = strtok_r(words, "|", &save); w && counted < 3; w = strtok_r(nullptr, "|", &save), counted++) {
            const char *value = nullptr;
            if (strcmp(w, "ppi") == 0)
                value = part(&sip_address_info_object::p_preferred_identity_user);
            else if (strcmp(w, "from") == 0)
                value = part(&sip_address_info_object::from_url_user);
            else if (strcmp(w, "pai") == 0)
                value = part(&sip_address_info_object::p_asserted_identity_user);
            if (!value)
                continue;
            if (!first_non_empty && value[0]) {
                first_non_empty = value;
                first_name = w;
            }
            if (dialplan_does_it_look_like_a_telephone_number(value)) {
                picked = value;
                picked_name = w;
                break;
            }
        }
        if (!picked) {
            picked = first_non_empty;
            picked_name = first_name;
        }
        if (picked) {
            chosen(out, picked);
            LOGD_CALL(TARN, 8, co, "auto selected %s as source: |%s|", picked_name, out);
        } else {
            LOGD_CALL(TARN, 8, co, "auto select of source failed, using empty string\n");
        }
        return true;
    }
    if (setting == CONFIG_PSTNSRC_MANUAL) {
        const char *manual = c->from_sip_src_setting_manual;
        char found[DP_TEXT_SIZE];
        int rc = manual_header_choice(in, manual, found);
        if (rc < 0) {
            dp_no_match(co, "line %i didn't match: wrong format for regexp %s", e->line, manual);
            return false;
        }
        if (rc == 0) {
            dp_no_match(co, "line %i didn't match: no match for regexp %s", e->line, manual);
            return false;
        }
        chosen(out, found);
        LOGD_CALL(TARN, 8, co, "fromsrc_regex |%s| src |%s|", manual, out);
        return true;
    }
    for (const dp_sip_number_row &row : from_sip_src_setting)
        if (row.value == setting && row.part)
            chosen(out, part(row.part));
    return true;
}

// Step 16.
bool sip_line_test::choose_destination(char *out)
{
    const call_configuration *lc = dp_line_cc(e);
    const call_configuration *c = setting_source(e, pd_in(), lc->from_sip_dest_setting_set);
    int setting = c->from_sip_dest_setting;
    out[0] = '\0';
    if (setting == CONFIG_PSTNDEST_AUTO) {
        struct candidate {
            const char *name;
            char *sip_address_info_object::*part;
        };
        static const candidate candidates[] = {
            {"pcpi", &sip_address_info_object::p_called_party_id_user},
            {"to_user", &sip_address_info_object::to_url_user},
            {"request_url_user", &sip_address_info_object::request_url_user},
        };
        const candidate *picked = nullptr, *first_non_empty = nullptr;
        for (const candidate &k : candidates) {
            const char *v = part(k.part);
            if (!first_non_empty && v[0])
                first_non_empty = &k;
            if (dialplan_does_it_look_like_a_telephone_number(v)) {
                picked = &k;
                break;
            }
        }
        if (!picked)
            picked = first_non_empty;
        if (picked) {
            chosen(out, part(picked->part));
            LOGD_CALL(TARN, 8, co, "auto selected %s as destination: |%s|", picked->name, out);
        } else {
            LOGD_CALL(TARN, 8, co, "auto select of destination failed, using empty string\n");
        }
        return true;
    }
    if (setting == CONFIG_PSTNDEST_MANUAL) {
        const char *manual = c->from_sip_dest_setting_manual;
        char found[DP_TEXT_SIZE];
        if (manual_header_choice(in, manual, found) == 1) {
            chosen(out, found);
            LOGD_CALL(TARN, 8, co, "fromdest_regex |%s| dest |%s|", manual, out);
        } else {
            LOGD_CALL(TARN, 8, co, "fromdest_regex |%s| couldn't find matching line", manual);
        }
        return true;
    }
    for (const dp_sip_number_row &row : from_sip_dest_setting)
        if (row.value == setting && row.part)
            chosen(out, part(row.part));
    return true;
}

// The international prefix setting: the first of the line's configuration,
// the destination's, the source's and the call's own that sets it.
int prefix_setting(const call_object *co, const dialplan_element *e, bool calling)
{
    const call_configuration *order[] = {dp_line_cc(e), co->cc_destination, co->cc_source, &co->cc};
    for (const call_configuration *c : order) {
        if (!c)
            continue;
        if (calling && c->s2d_oad_prefix_setting_set)
            return c->s2d_oad_prefix_setting;
        if (!calling && c->s2d_dad_prefix_setting_set)
            return c->s2d_dad_prefix_setting;
    }
    return calling ? co->cc.s2d_oad_prefix_setting : co->cc.s2d_dad_prefix_setting;
}

void apply_international_prefix(call_object *co, char **number, int setting)
{
    if (!*number)
        return;
    char out[DP_PREFIXED_SIZE];
    dialplan_international_prefix(*number, setting, co->cc.dialplan_international_prefix, out, sizeof out);
    dp_set_text(number, out);
}

// Steps 19 to 23, on a match.
void sip_line_test::finish(bool to_id_changed, const char *to_id, bool new_source_vars, const char *new_source_tmpl,
                           bool new_destination_vars, const char *new_destination_tmpl)
{
    // 19.
    dialplan_element *dp = e;
    if (initial) {
        dp = dialplan_clone_element(e);
        co->dp = dp;
    }
    if (dp) {
        dp_keep_expanded(dp, src_id_expanded ? src_id : nullptr, new_source_vars ? new_source_tmpl : nullptr,
                         new_destination_vars ? new_destination_tmpl : nullptr);
        if (to_id_changed)
            dp_set_text(&dp->to_id, to_id);
    }
    LOGD_CALL(TARN, 4, co, "found match on line %i:%s", e->line, text_of(e->original_line));

    // 20. The inbound proxy definition goes to the incoming leg.
    if (in) {
        proxy_def *pd = built_pd_in;
        built_pd_in = nullptr;
        if (!pd && e->pd_in)
            pd = clone_proxy_definition(e->pd_in);
        free_proxy_def(in->pd);
        in->pd = pd;
        if (pd)
            dp_assign_config(co, &co->cc_source, text_of(pd->config_string));
    }
    if (!dp)
        return;

    // 21. Outbound SIP side.
    if (dp->to_tech == TECH_SIP) {
        if (!co->cl_sip_out)
            co->cl_sip_out = get_new_sip_call_leg();
        dp_prepare_outgoing_leg(dp, co->cl_sip_out, to_id, to_id_changed, outgoing_stacks);
        if (dp_names_group(to_id)) {
            const port_group_sip *g = pg_get_port_group_sip_by_name(to_id, nullptr);
            if (g)
                dp_assign_config(co, &co->cc_destination, text_of(g->pgs_config_string));
        }
    } else if (dp->to_tech == TECH_ISDN || dp->to_tech == TECH_ANALOG || dp->to_tech == TECH_GSM ||
               dp->to_tech == TECH_CAS) {
        // 22.
        dp_line_destination(co, dp, to_id);
    }

    // 23.
    apply_international_prefix(co, &co->new_source, prefix_setting(co, e, true));
    apply_international_prefix(co, &co->new_destination, prefix_setting(co, e, false));
}

dialplan_element *sip_line_test::run()
{
    in = dialplan_incoming_leg(co);
    request = in ? in->address_info : nullptr;
    const call_configuration *lc = dp_line_cc(e);

    // Lines of another source technology never take a SIP request (a line
    // source "*" would otherwise match every peer address).
    if (e->from_tech != TECH_SIP)
        return nullptr;
    // 1.
    if (co->f.is_sip_message && lc->sip_allow_message != 1)
        return nullptr;
    // 2.-7.
    if (!source_test())
        return nullptr;
    // 8.
    if (strncmp(part(&sip_address_info_object::to_url_user), "ISDNZUISDN", 10) == 0 &&
        strncmp(text_of(e->original_destination), "ISDNZUISDN", 10) != 0)
        return nullptr;
    // 9.
    if (!user_tests())
        return nullptr;
    // 10.-11.
    char src_text[DP_TEXT_SIZE];
    if (!choose_source(src_text))
        return nullptr;
    if (!dp_number_passes(e->regexp_original_source, e->not_matching_source, src_text)) {
        dp_no_match(co, "line %i didn't match: source (from sip user) didn't match => %s", e->line, src_text);
        return nullptr;
    }
    // 12.
    saved_callinfo = co->callinfo;
    callinfo_changed = true;
    co->callinfo = sip_callinfo_for(e->to_tech, co->callinfo);
    if (co->f.is_sip_message && e->to_tech != TECH_SIP)
        return nullptr;
    // 13.
    char new_source_tmpl[DP_VAR_TEXT_SIZE];
    bool new_source_vars;
    char *new_source =
        dp_new_number(co, e, true, src_text, new_source_tmpl, sizeof new_source_tmpl, &new_source_vars);
    if (!new_source)
        return nullptr;
    free(co->new_source);
    co->new_source = new_source;
    // 14.
    char to_id[DP_VAR_TEXT_SIZE];
    bool to_id_changed = dp_expand(co, e->to_id, to_id, sizeof to_id);
    // 16.-17.
    char dest_text[DP_TEXT_SIZE];
    choose_destination(dest_text);
    if (!dp_number_passes(e->regexp_original_destination, e->not_matching_destination, dest_text)) {
        dp_no_match(co, "line %i didn't match: destination (to sip user) didn't match", e->line);
        return nullptr;
    }
    // 15. The call group, once the numbers passed: a full group on a line
    // whose numbers never match does not end the search.
    if (initial && e->to_tech == TECH_SIP && !dp_call_group_step(co, e, to_id, sizeof to_id, &to_id_changed, stop))
        return nullptr;
    // 18. Its variables still resolve for the line's kind of call.
    char new_destination_tmpl[DP_VAR_TEXT_SIZE];
    bool new_destination_vars;
    char *new_destination = dp_new_number(co, e, false, dest_text, new_destination_tmpl,
                                          sizeof new_destination_tmpl, &new_destination_vars);
    co->callinfo = saved_callinfo;
    callinfo_changed = false;
    if (!new_destination) {
        dp_set_text(&co->new_source, nullptr);
        return nullptr;
    }
    free(co->new_destination);
    co->new_destination = new_destination;
    // 19.-23.
    finish(to_id_changed, to_id, new_source_vars, new_source_tmpl, new_destination_vars, new_destination_tmpl);
    // 24.
    return co->dp;
}

} // namespace

dialplan_element *dialplan_search_from_sip_check_element(call_object *co, dialplan_element *e, int initial,
                                                         int *stop)
{
    int unused = 0;
    if (!co || !e)
        return nullptr;
    sip_line_test t(co, e, initial, stop ? stop : &unused);
    return t.run();
}

dialplan_element *dialplan_search_from_sip(call_object *co, int start_index)
{
    if (!co || !gp)
        return nullptr;
    lock_hold hold(&lock_manager::dialplan_lock);
    if (co->dp) {
        dialplan_cleanup_element(co->dp);
        free(co->dp);
        co->dp = nullptr;
    }
    co->f.dialplan_no_matching_from_id_found = 1;
    dialplan_element *found = nullptr;
    for (int i = start_index < 0 ? 0 : start_index; i < gp->dialplan_size && !found; i++) {
        int stop = 0;
        found = dialplan_search_from_sip_check_element(co, &gp->dialplan[i], 1, &stop);
        if (stop)
            break;
    }
    return found;
}

// ---- address pattern of a SIP port group ------------------------------------------------------

int dialplan_sip_in_get_address_regexp(const char *group, char *out, size_t size, int automatic)
{
    if (!out || size == 0)
        return -1;
    out[0] = '\0';
    int user_index = -1;
    const port_group_sip *pgs = group ? pg_get_port_group_sip_by_name(group, &user_index) : nullptr;
    if (!pgs) {
        LOGD(TARN, 0, nullptr, "CRITICAL: invalid SIP group %s", text_of(group));
        return -1;
    }
    if (automatic && (pgs->pgs_matchtype & PGS_MATCH_MANUAL)) {
        snprintf(out, size, "%s", text_of(pgs->pgs_matchtype_manual));
        return 0;
    }
    std::string pattern = "(";
    int failures = 0;
    const dns_cache_srv_record *srv = pgs->pgs_srv_record_proxy;
    if (pgs->pgs_srv_dns_active && srv && srv->address_regexp[0]) {
        pattern += srv->address_regexp;
    } else {
        std::string host = text_of(pgs->pgs_sip_proxy);
        host = host.substr(0, host.find(':'));
        char resolved[DNS_SRV_REGEXP_SIZE];
        resolve_address_to_regexp(host.c_str(), resolved, sizeof resolved);
        bool failed = !resolved[0] || strcmp(resolved, DNS_DUMMY_ADDRESS) == 0;
        // One alternative per user (only the named one); a group without
        // users still has its proxy.
        int alternatives = user_index >= 0 ? 1 : pgs->pgs_user_count > 0 ? pgs->pgs_user_count : 1;
        for (int i = 0; i < alternatives; i++) {
            if (failed) {
                LOGD(TARN, 5, nullptr, "couldn't resolve IP for SIP peer |%s|:%s", text_of(pgs->pgs_name),
                     host.c_str());
                failures++;
            }
            if (i)
                pattern += '|';
            pattern += resolved;
        }
    }
    pattern += ')';
    snprintf(out, size, "%s", pattern.c_str());
    return failures;
}
