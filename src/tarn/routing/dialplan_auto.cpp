// Type-of-number prefixes and the automatic type of number of SIP-to-ISDN
// calls.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "dialplan.h"
#include "dialplan_vars.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pools.h"

// Per-call lines: the level is tested before the call's tag is formatted.
#define LOGD_CALL(module, level, co, ...)                                                              \
    do {                                                                                               \
        if (log_levels_debug_enabled && log_get_loglevel(log_levels_debug, (module)) >= (level))        \
            LOGD((module), (level), cinfo(co), __VA_ARGS__);                                           \
    } while (0)

// ---- type-of-number prefix ------------------------------------------------------------------

int dialplan_prefix_ton(char *out, int size, const char *number, int ton, const call_configuration *cc)
{
    if (!out || size <= 0)
        return 0;
    const char *prefix = "";
    if (cc)
        switch (ton) {
        case 0: prefix = cc->prefix_unknown; break;
        case 1: prefix = cc->prefix_international; break;
        case 2: prefix = cc->prefix_national; break;
        case 3: prefix = cc->prefix_local; break;
        case 4: prefix = cc->prefix_private; break;
        case 5: prefix = cc->prefix_alphanumeric; break;
        case 6: prefix = cc->prefix_abbreviated; break;
        default: break;
        }
    int room = size < DP_VALUE_SIZE ? size : DP_VALUE_SIZE;
    int n = snprintf(out, (size_t)room, "%s%s", prefix, number ? number : "");
    return n < 0 ? 0 : n < room ? n : room - 1;
}

// ---- automatic type of number ---------------------------------------------------------------

namespace {

// A prefix test that ignores case; an empty prefix never matches.
bool starts(const std::string &number, const std::string &prefix)
{
    return !prefix.empty() && number.size() >= prefix.size() &&
           strncasecmp(number.c_str(), prefix.c_str(), prefix.size()) == 0;
}

std::string without_leading_zeros(const char *s)
{
    std::string t = s ? s : "";
    size_t i = t.find_first_not_of('0');
    return i == std::string::npos ? std::string() : t.substr(i);
}

} // namespace

int dialplan_auto_ton(const char *number, int configured_ton, const dp_auto_codes *codes, char *out, size_t size,
                      int *ton_out)
{
    const std::string num = number ? number : "";
    const std::string K = codes->country ? codes->country : "", A = codes->city ? codes->city : "",
                      L = codes->local_area ? codes->local_area : "";
    const std::string Kz = without_leading_zeros(codes->country), Az = without_leading_zeros(codes->city),
                      Lz = without_leading_zeros(codes->local_area);
    const std::string N = codes->national ? codes->national : "", I = codes->international ? codes->international : "";

    std::string result = num;
    int ton = configured_ton;
    int ruled = 1;
    auto strip = [&](const std::string &p, int t) {
        result = num.substr(p.size());
        ton = t;
    };
    auto keep = [&](int t) {
        result = num;
        ton = t;
    };
    // Configured subscriber numbers, and network-specific ones without their
    // own match.
    auto subscriber = [&]() {
        if (!Kz.empty() && !Az.empty() && starts(num, Kz + Az))
            strip(Kz + Az, 4);
        else if (!Kz.empty() && starts(num, K))
            strip(K, 2);
        else if (!Az.empty() && starts(num, A))
            strip(A, 4);
        else if (N.empty() && starts(num, I))
            strip(I, 1);
        else if (!N.empty() && !I.empty() && starts(num, N) && !starts(num, I))
            strip(N, 2);
        else if (!N.empty() && starts(num, I))
            strip(I, 1);
        else if (configured_ton == 3 && !L.empty() && starts(num, L))
            strip(L, 3);
        else
            keep(4);
    };

    switch (configured_ton) {
    case 0:
        keep(0);
        break;
    case 1:
        if (starts(num, I))
            strip(I, 1);
        else if (starts(num, N))
            strip(N, 2);
        else
            keep(4);
        break;
    case 2:
        if (!Kz.empty() && starts(num, K))
            strip(K, 2);
        else if (starts(num, N) && !starts(num, I))
            strip(N, 2);
        else if (starts(num, I))
            strip(I, 1);
        else if (!starts(num, N))
            keep(4);
        else
            keep(2);
        break;
    case 3:
        if (!Kz.empty() && !Az.empty() && !Lz.empty() && starts(num, Kz + Az + L))
            strip(Kz + Az + L, 3);
        else if (!Az.empty() && !Lz.empty() && starts(num, A + L))
            strip(A + L, 3);
        else
            subscriber();
        break;
    case 4:
        subscriber();
        break;
    default:
        ruled = 0;
        break;
    }
    snprintf(out, size, "%s", result.c_str());
    *ton_out = ton;
    return ruled;
}

namespace {

// An ISDN group by the name of a "p:" or "g:" destination.
const port_group_isdn *isdn_group_by_name(const char *name)
{
    port_groups *pg = pg_port_groups();
    for (int i = 0; i < pg->port_groups_isdn_count; i++)
        if (pg->port_groups_isdn[i]->name && strcmp(pg->port_groups_isdn[i]->name, name) == 0)
            return pg->port_groups_isdn[i];
    return nullptr;
}

// The location codes of the call's destination port or group.
const port_group_isdn *destination_group(const call_object *co)
{
    const char *to = co->dp->to_id;
    if (!to)
        return nullptr;
    if ((to[0] == 'p' || to[0] == 'g' || to[0] == 'P' || to[0] == 'G') && to[1] == ':')
        return isdn_group_by_name(to + 2);
    char *end;
    long port = strtol(to, &end, 10);
    if (end == to || port < 1 || port > PG_ISDN_PORT_MAX)
        return nullptr;
    return pg_get_port_group_isdn_by_port((int)port);
}

} // namespace

int dialplan_create_new_auto(call_object *co, int which)
{
    if (!co || co->callinfo != CI_SIP_TO_ISDN || !co->dp)
        return 0;
    const char *what = which == DP_AUTO_NEW_SOURCE ? "new_source" : "new_destination";
    const char *number = which == DP_AUTO_NEW_SOURCE ? co->new_source : co->new_destination;
    const call_configuration *cc = dialplan_call_configuration(co);
    dp_auto_codes codes{};
    if (gp && gp->test_dp_auto) {
        codes.country = gp->test_dp_country_code;
        codes.city = gp->test_dp_city_code;
        codes.local_area = gp->test_dp_local_area_code;
    } else if (const port_group_isdn *g = destination_group(co)) {
        codes.country = g->country_code;
        codes.city = g->city_code;
        codes.local_area = g->local_area_code;
    }
    codes.national = cc->prefix_national;
    codes.international = cc->prefix_international;

    char result[DP_VALUE_SIZE];
    int ton;
    if (!dialplan_auto_ton(number, co->configured_ton, &codes, result, sizeof result, &ton))
        LOGD_CALL(TARN, 5, co, "%s_auto: no modification |%s| ton: |%s|", what, number ? number : "",
             cc_print_ton(co->configured_ton));
    char *copy = strdup(result);
    if (!copy)
        return 0;
    char **slot = which == DP_AUTO_NEW_SOURCE ? &co->new_source_auto : &co->new_destination_auto;
    free(*slot);
    *slot = copy;
    co->new_auto_ton = ton;
    LOGD_CALL(TARN, 5, co, "%s_auto: |%s| => |%s| ton: |%s| => |%s|\n", what, number ? number : "", result,
         cc_print_ton(co->configured_ton), cc_print_ton(ton));
    return 1;
}
