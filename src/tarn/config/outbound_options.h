// The outbound option word of a SIP peer's registrations, from the text of
// its register_options key.
#pragma once

enum nua_outbound_options {
    NUA_OUTBOUND_OPTION_GRUUIZE = 1,
    NUA_OUTBOUND_OPTION_OUTBOUND = 2,
    NUA_OUTBOUND_OPTION_VALIDATE = 4,
    NUA_OUTBOUND_OPTION_NATIFY = 8,
    NUA_OUTBOUND_OPTION_USE_RPORT = 16,
    NUA_OUTBOUND_OPTION_OPTIONS_KEEPALIVE = 32,
};

// Starts from GRUUIZE, VALIDATE, USE_RPORT and OPTIONS_KEEPALIVE (0x35);
// each option word found anywhere in the text (case-sensitive) sets its bit,
// its "no-" word clears it (and wins over the plain word). Empty or null
// text: 0x35.
nua_outbound_options parse_outbound_options(const char *ostring);
