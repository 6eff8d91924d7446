#include "outbound_options.h"

#include <cstring>

namespace {

struct outbound_word {
    const char *no_word;
    const char *word;
    int bit;
};

const outbound_word outbound_words[] = {
    {"no-gruuize", "gruuize", NUA_OUTBOUND_OPTION_GRUUIZE},
    {"no-outbound", "outbound", NUA_OUTBOUND_OPTION_OUTBOUND},
    {"no-validate", "validate", NUA_OUTBOUND_OPTION_VALIDATE},
    {"no-natify", "natify", NUA_OUTBOUND_OPTION_NATIFY},
    {"no-use-rport", "use-rport", NUA_OUTBOUND_OPTION_USE_RPORT},
    {"no-options-keepalive", "options-keepalive", NUA_OUTBOUND_OPTION_OPTIONS_KEEPALIVE},
};

constexpr int default_options = NUA_OUTBOUND_OPTION_GRUUIZE | NUA_OUTBOUND_OPTION_VALIDATE |
                                NUA_OUTBOUND_OPTION_USE_RPORT | NUA_OUTBOUND_OPTION_OPTIONS_KEEPALIVE;

} // namespace

nua_outbound_options parse_outbound_options(const char *ostring)
{
    int options = default_options;
    if (!ostring || !ostring[0])
        return (nua_outbound_options)options;
    for (const outbound_word &w : outbound_words) {
        // A "no-" word switches its option off, whatever the default.
        if (strstr(ostring, w.no_word))
            options &= ~w.bit;
        else if (strstr(ostring, w.word))
            options |= w.bit;
    }
    return (nua_outbound_options)options;
}
