// Dial plan elements: patterns, copies and release; the SIP placeholders.
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "call_configuration.h"
#include "dialplan.h"
#include "dialplan_intern.h"
#include "log.h"

namespace {

// ---- what the SIP port groups provide, until they are part of the build ----

void sip_not_built(const char *what)
{
    static int said; // one line for all members: they arrive together
    if (!said) {
        said = 1;
        LOGD(TARN, 1, nullptr, "CRITICAL: SIP port groups not built (%s): SIP groups and proxies of the dialplan unused",
             what);
    }
}

port_group_sip *no_group(const char *, int *user_index)
{
    sip_not_built("get_port_group_sip_by_name");
    if (user_index)
        *user_index = -1;
    return nullptr;
}

proxy_def *no_inbound_proxy(port_group_sip *, int)
{
    sip_not_built("create_inbound_proxy_definition");
    return nullptr;
}

proxy_def *no_outbound_proxy(const char *)
{
    sip_not_built("create_outbound_proxy_definition_by_id");
    return nullptr;
}

proxy_def *no_clone(const proxy_def *)
{
    sip_not_built("clone_proxy_definition");
    return nullptr;
}

void no_free(proxy_def *)
{
    sip_not_built("free_proxy_def");
}

constexpr dialplan_sip_iface placeholders = {no_group, no_inbound_proxy, no_outbound_proxy, no_clone, no_free};

char *copy_or_null(const char *s)
{
    return s ? strdup(s) : nullptr;
}

void free_pattern(regex_t *&re)
{
    if (re) {
        regfree(re);
        free(re);
        re = nullptr;
    }
}

void free_proxy(proxy_def *&pd)
{
    if (pd)
        dialplan_sip.free_proxy_def(pd);
    pd = nullptr;
}

// Repetitions are compiled by copying what they repeat ("a{3}" as "aaa",
// "a+" as "aa*"), so "((a{255}){255}){255}" or "a+++...+" take gigabytes;
// copies of something that may match nothing ("(a*){2000}") cost the
// square of their number in the compiler's closures. Patterns of routes are
// small: one whose cost passes this limit is refused.
constexpr long long PATTERN_COST_LIMIT = 65536;

long long capped(long long v)
{
    return v > PATTERN_COST_LIMIT ? PATTERN_COST_LIMIT + 1 : v;
}

// The end of a bracket expression starting at p ('['), or null.
const char *bracket_end(const char *p)
{
    p++;
    if (*p == '^')
        p++;
    if (*p == ']')
        p++;
    for (; *p && *p != ']'; p++)
        if (*p == '[' && (p[1] == ':' || p[1] == '=' || p[1] == '.')) {
            const char *close = strstr(p + 2, p[1] == ':' ? ":]" : p[1] == '=' ? "=]" : ".]");
            if (!close)
                return nullptr;
            p = close + 1;
        }
    return *p ? p : nullptr;
}

// An interval "{m}", "{m,}", "{m,n}" at p: its lower and upper count and
// its end; false when p holds none.
bool read_interval(const char *p, long long *low, long long *high, const char **end)
{
    char *q;
    long long m = strtoll(p + 1, &q, 10), n = m;
    if (q == p + 1 || m < 0)
        return false;
    if (*q == ',') {
        const char *r = q + 1;
        n = strtoll(r, &q, 10);
        if (q == r)
            n = m + 1;
    }
    if (*q != '}')
        return false;
    *low = m;
    *high = capped(n > m ? n : m);
    *end = q;
    return true;
}

// The cost of compiling a pattern: the atoms of its compiled form, plus the
// square of every run of copies of something that may match nothing; at
// most PATTERN_COST_LIMIT + 1.
long long pattern_cost(const char *p)
{
    struct level {
        long long sum = 0;       // atoms of the group so far
        long long last = 0;      // atoms of its last element
        bool last_empty = true;  // the last element may match nothing
        bool before_empty = true; // ... and everything before it
        bool alt_empty = false;  // an earlier alternative may
    };
    level stack[64];
    int depth = 0;
    level cur;
    long long squares = 0;
    auto add = [&cur](long long atoms, bool may_be_empty) {
        cur.before_empty = cur.before_empty && cur.last_empty;
        cur.sum = capped(cur.sum + atoms);
        cur.last = atoms;
        cur.last_empty = may_be_empty;
    };
    auto repeat = [&cur, &squares](long long low, long long high) {
        if (cur.last_empty)
            squares = capped(squares + capped(high * cur.last) * capped(high * cur.last));
        cur.sum = capped(cur.sum + cur.last * (high - 1));
        cur.last = capped(cur.last * high);
        cur.last_empty = cur.last_empty || low == 0;
    };
    auto close = [&]() {
        bool empty = cur.alt_empty || (cur.before_empty && cur.last_empty);
        long long atoms = cur.sum ? cur.sum : 1;
        cur = stack[--depth];
        add(atoms, empty);
    };
    for (; *p; p++) {
        const char *end;
        long long low, high;
        switch (*p) {
        case '\\':
            if (p[1])
                p++;
            add(1, false);
            break;
        case '[':
            if ((end = bracket_end(p)))
                p = end;
            add(1, false);
            break;
        case '(':
            if (depth == (int)std::size(stack))
                return PATTERN_COST_LIMIT + 1;
            stack[depth++] = cur;
            cur = level{};
            break;
        case ')':
            if (depth)
                close();
            else
                add(1, false);
            break;
        case '{':
            if (read_interval(p, &low, &high, &end) && cur.last) {
                repeat(low, high);
                p = end;
            } else {
                add(1, false);
            }
            break;
        case '|':
            cur.alt_empty = cur.alt_empty || (cur.before_empty && cur.last_empty);
            cur.last = 0;
            cur.last_empty = cur.before_empty = true;
            break;
        case '+': // "aa*"
            if (cur.last)
                repeat(1, 2);
            break;
        case '*':
        case '?':
            cur.last_empty = true;
            break;
        case '^':
        case '$':
            add(1, true);
            break;
        default:
            add(1, false);
        }
    }
    while (depth)
        close();
    return capped(cur.sum + squares);
}

} // namespace

dialplan_sip_iface dialplan_sip = placeholders;

void dialplan_set_sip_iface(const dialplan_sip_iface *iface)
{
    dialplan_sip_iface i = iface ? *iface : dialplan_sip_iface{};
    if (!i.get_port_group_sip_by_name)
        i.get_port_group_sip_by_name = placeholders.get_port_group_sip_by_name;
    if (!i.create_inbound_proxy_definition)
        i.create_inbound_proxy_definition = placeholders.create_inbound_proxy_definition;
    if (!i.create_outbound_proxy_definition_by_id)
        i.create_outbound_proxy_definition_by_id = placeholders.create_outbound_proxy_definition_by_id;
    if (!i.clone_proxy_definition)
        i.clone_proxy_definition = placeholders.clone_proxy_definition;
    if (!i.free_proxy_def)
        i.free_proxy_def = placeholders.free_proxy_def;
    dialplan_sip = i;
}

int dialplan_compile_pattern(const char *text, regex_t **re, int *not_matching)
{
    *re = nullptr;
    if (!text)
        return -1;
    if (text[0] == '!') {
        *not_matching = 1;
        text++;
    }
    if (strcmp(text, "*") == 0) // "*" and "!*" are any number and none
        text = "(.*)";
    if (pattern_cost(text) > PATTERN_COST_LIMIT)
        return -1;
    regex_t *r = (regex_t *)malloc(sizeof *r);
    if (!r)
        return -1;
    if (regcomp(r, text, REG_EXTENDED) != 0) {
        free(r);
        return -1;
    }
    *re = r;
    return 0;
}

dialplan_element *dialplan_clone_element(const dialplan_element *e)
{
    if (!e)
        return nullptr;
    dialplan_element *c = (dialplan_element *)calloc(1, sizeof *c);
    if (!c)
        return nullptr;
    c->line = e->line;
    c->index = e->index;
    c->from_tech = e->from_tech;
    c->to_tech = e->to_tech;
    c->to_id = copy_or_null(e->to_id);
    c->from_id = copy_or_null(e->from_id);
    c->from_id_regexp_string = copy_or_null(e->from_id_regexp_string);
    c->original_destination = copy_or_null(e->original_destination);
    c->new_destination = copy_or_null(e->new_destination);
    c->original_source = copy_or_null(e->original_source);
    c->new_source = copy_or_null(e->new_source);
    c->config = copy_or_null(e->config);
    c->cc = e->cc;
    cc_hold_call_configuration(c->cc);
    c->match_for_fromuser = e->match_for_fromuser;
    c->internal_sip_to_pstn_call = e->internal_sip_to_pstn_call;
    c->internal_pstn_to_sip = e->internal_pstn_to_sip;
    c->pd_in = e->pd_in ? dialplan_sip.clone_proxy_definition(e->pd_in) : nullptr;
    c->pd_out = e->pd_out ? dialplan_sip.clone_proxy_definition(e->pd_out) : nullptr;

    bool failed = (e->to_id && !c->to_id) || (e->from_id && !c->from_id) ||
                  (e->from_id_regexp_string && !c->from_id_regexp_string) ||
                  (e->original_destination && !c->original_destination) ||
                  (e->new_destination && !c->new_destination) || (e->original_source && !c->original_source) ||
                  (e->new_source && !c->new_source) || (e->config && !c->config);
    // Patterns the source has compiled are compiled again from the copies.
    if (!failed && e->regexp_original_destination)
        failed = dialplan_compile_pattern(c->original_destination, &c->regexp_original_destination,
                                          &c->not_matching_destination) != 0;
    if (!failed && e->regexp_original_source)
        failed = dialplan_compile_pattern(c->original_source, &c->regexp_original_source, &c->not_matching_source) !=
                 0;
    if (!failed && e->regexp_from_id)
        failed = dialplan_compile_pattern(c->from_id_regexp_string ? c->from_id_regexp_string : c->from_id,
                                          &c->regexp_from_id, &c->not_matching_from_id) != 0;
    if (failed) {
        dialplan_cleanup_element(c);
        free(c);
        return nullptr;
    }
    return c;
}

void dialplan_cleanup_element(dialplan_element *e)
{
    if (!e)
        return;
    for (char **s : {&e->from_id, &e->from_id_regexp_string, &e->to_id, &e->original_destination,
                     &e->new_destination, &e->original_source, &e->new_source, &e->config, &e->original_line}) {
        free(*s);
        *s = nullptr;
    }
    free_pattern(e->regexp_from_id);
    free_pattern(e->regexp_original_destination);
    free_pattern(e->regexp_original_source);
    free_proxy(e->pd_out);
    free_proxy(e->pd_in);
    free_proxy(e->failover_proxy);
    free(e->to_ports);
    e->to_ports = nullptr;
    e->to_ports_count = 0;
    cc_release_call_configuration(e->cc); // the record belongs to the pool
    e->cc = nullptr;
    e->match_for_fromuser = 0;
    e->not_matching_from_id = 0;
    e->not_matching_source = 0;
    e->not_matching_destination = 0;
    e->internal_sip_to_pstn_call = 0;
    e->internal_pstn_to_sip = 0;
}
