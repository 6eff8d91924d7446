// The SIP port groups (SIP peers) built from tarn.sip texts, their URIs,
// contacts, addresses and look-ups.
#include <gtest/gtest.h>

#include "outbound_options.h"

namespace {

TEST(OutboundOptions, WordsSetAndNoWordsClear)
{
    const struct {
        const char *text;
        int want;
    } cases[] = {
        {"", 0x35},
        {nullptr, 0x35},
        {"validate", 0x35},
        {"no-validate,no-use-rport", 0x21},
        {"no-gruuize", 0x34},
        {"outbound", 0x37},
        {"natify,outbound", 0x3f},
        {"no-outbound", 0x35},             // stays off: a no- word never turns an option on
        {"no-natify", 0x35},
        {"outbound,no-outbound", 0x35},    // the no- word wins
        {"no-options-keepalive", 0x15},
        {"NO-VALIDATE", 0x35},             // case-sensitive
        {"xyz", 0x35},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        EXPECT_EQ(parse_outbound_options(c.text), c.want);
    }
}

} // namespace
