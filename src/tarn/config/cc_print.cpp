// The printout of a call configuration: one row per option with its key,
// help texts and value (and the default's value beside it).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "application.h"
#include "cc_internal.h"

void cc_value_text(const call_configuration *cc, const cc_descriptor &d, char *buf, size_t size)
{
    if (d.format)
        d.format(cc, buf, size);
    else if (d.word)
        snprintf(buf, size, "%s", d.word((int)d.get(cc)));
    else if (d.kind == CCK_TEXT)
        snprintf(buf, size, "%.*s", (int)d.size, reinterpret_cast<const char *>(cc) + d.offset);
    else if (d.get)
        snprintf(buf, size, "%i", (int32_t)d.get(cc));
    else
        buf[0] = '\0';
}

static const char *scope_tag(call_configuration_type t)
{
    switch (t) {
    case CC_TYPE_SIP:
    case CC_TYPE_SIP_INBOUND:
    case CC_TYPE_SIP_OUTBOUND: return "s";
    case CC_TYPE_ISDN: return "i";
    case CC_TYPE_ANALOG: return "a";
    case CC_TYPE_GSM: return "g";
    case CC_TYPE_PSTN: return "p";
    default: return "*";
    }
}

void cc_print_call_configuration_filtered(FILE *out, const call_configuration *cc, int show_pattern, int sort,
                                          const char *filter)
{
    const call_configuration *defaults = gp ? &gp->default_call_configuration : nullptr;
    call_configuration zero{};
    if (!defaults)
        defaults = &zero;
    if (cc)
        fputs("Call configuration (default values are shown in brackets):\n", out);
    else
        fputs("Default call configuration:\n", out);

    int order[CC_OPTION_COUNT];
    for (int i = 0; i < CC_OPTION_COUNT; i++)
        order[i] = i;
    if (sort == 1)
        std::stable_sort(order, order + CC_OPTION_COUNT,
                         [](int a, int b) { return cc_compare_configuration_values_alphabetically(b, a) == 1; });

    char value[1024], default_value[1024], key[160];
    for (int i : order) {
        const call_configuration_option &row = call_configuration_options[i];
        if (filter && !strstr(row.var, filter))
            continue;
        const cc_descriptor &d = cc_descriptors[row.id];
        snprintf(key, sizeof key, "[%s]", row.var);
        cc_value_text(cc ? cc : defaults, d, value, sizeof value);
        fprintf(out, "[%s]%-35s %s <%s>                '%s'", scope_tag(row.type), key, row.descriptions, row.values,
                value);
        if (cc) {
            cc_value_text(defaults, d, default_value, sizeof default_value);
            fprintf(out, "\t('%s')", default_value);
        }
        if (show_pattern)
            fprintf(out, "\t%s", row.regexp);
        fputc('\n', out);
    }
}

void cc_print_call_configuration(FILE *out, const call_configuration *cc, int show_pattern, int sort)
{
    cc_print_call_configuration_filtered(out, cc, show_pattern, sort, nullptr);
}
