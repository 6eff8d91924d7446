// ENUM query names, NAPTR replacements, URL encoding and the small tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dialplan_url.h"

namespace {

TEST(DialplanUrl, EnumQueryName)
{
    char out[64];
    EXPECT_EQ(dialplan_create_enum_search_string("+49 30 1234", "e164.arpa", out, sizeof out), 25);
    EXPECT_STREQ(out, "4.3.2.1.0.3.9.4.e164.arpa");
    EXPECT_EQ(dialplan_create_enum_search_string("1", "", out, sizeof out), 2);
    EXPECT_STREQ(out, "1.");
    for (const char *none : {"abc", "", "+-#"}) {
        strcpy(out, "old");
        EXPECT_EQ(dialplan_create_enum_search_string(none, "e164.arpa", out, sizeof out), -1) << none;
        EXPECT_STREQ(out, "");
    }
    EXPECT_EQ(dialplan_create_enum_search_string(nullptr, "e164.arpa", out, sizeof out), -1);
    // Cut to the output: eight bytes hold seven characters.
    EXPECT_EQ(dialplan_create_enum_search_string("1234", "e164.arpa", out, 8), 7);
    EXPECT_STREQ(out, "4.3.2.1");
}

TEST(DialplanUrl, NaptrReplacement)
{
    struct {
        const char *regexp;
        int rc;
        const char *user, *host;
    } cases[] = {
        {"!^.*$!sip:4930123@pbx.example.test!", 1, "4930123", "pbx.example.test"},
        {"!^.*$!sips:u@h;transport=tls!i", 1, "u", "h;transport=tls"},
        {"!^.*$!sip:@h!", 1, "", "h"},
        {"!^.*$!sip:pbx.example.test!", 0, "", ""},    // no '@'
        {"!^.*$!4930123@pbx.example.test!", 0, "", ""}, // no scheme
        {"!^.*$!sip:4930123@pbx.example.test", 0, "", ""}, // no third '!'
        {"!!", 0, "", ""},
        {"", 0, "", ""},
        {"!a!b@c:d!", 0, "", ""}, // the scheme's ':' must come before '@'
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.regexp);
        char user[64] = "old", host[64] = "old";
        EXPECT_EQ(dialplan_enum_regexp_to_user_and_url(c.regexp, user, sizeof user, host, sizeof host), c.rc);
        EXPECT_STREQ(user, c.user);
        EXPECT_STREQ(host, c.host);
    }
    char user[4], host[5];
    EXPECT_EQ(dialplan_enum_regexp_to_user_and_url("!x!sip:123456@example.test!", user, sizeof user, host,
                                                   sizeof host),
              1);
    EXPECT_STREQ(user, "123");
    EXPECT_STREQ(host, "exam");
    EXPECT_EQ(dialplan_enum_regexp_to_user_and_url(nullptr, user, sizeof user, host, sizeof host), 0);
}

TEST(DialplanUrl, UrlEncoding)
{
    struct {
        const char *in, *out;
    } cases[] = {{"a#b", "a%23b"}, {"", ""}, {"###", "%23%23%23"}, {"50%", "50%"}, {"*31#", "*31%23"}};
    for (auto &c : cases) {
        char *e = dialplan_url_encode_string(c.in);
        ASSERT_TRUE(e);
        EXPECT_STREQ(e, c.out);
        EXPECT_EQ(dialplan_string_needs_url_encoding(c.in), strchr(c.in, '#') ? 1 : 0);
        free(e);
    }
    EXPECT_EQ(dialplan_string_needs_url_encoding(nullptr), 0);

    // In place in a fixed field: never past it, never half an escape.
    char field[256];
    memset(field, '#', sizeof field - 1);
    field[255] = '\0';
    dialplan_url_encode_field(field, sizeof field);
    EXPECT_EQ(strlen(field), 255u);
    EXPECT_EQ(std::string(field, 6), "%23%23");
    char small[6] = "ab#c";
    dialplan_url_encode_field(small, sizeof small);
    EXPECT_STREQ(small, "ab%23");
    char tight[5] = "ab#c";
    dialplan_url_encode_field(tight, sizeof tight);
    EXPECT_STREQ(tight, "ab");
    char plain[8] = "abc";
    dialplan_url_encode_field(plain, sizeof plain);
    EXPECT_STREQ(plain, "abc");
}

TEST(DialplanUrl, HeaderAndNumberTests)
{
    EXPECT_EQ(does_header_look_valid("X-Test: 1"), 1);
    EXPECT_EQ(does_header_look_valid("no colon"), 0);
    EXPECT_EQ(does_header_look_valid(""), 0);
    EXPECT_EQ(does_header_look_valid(nullptr), 0);
    struct {
        const char *text;
        int yes;
    } numbers[] = {{"+4930", 1}, {"030", 1}, {"0", 1}, {"+", 1}, {"", 0},     {"+49 30", 0},
                   {"49+30", 0}, {"*31", 0}, {"a1", 0},  {"12#", 0}, {"١٢", 0}};
    for (auto &n : numbers)
        EXPECT_EQ(dialplan_does_it_look_like_a_telephone_number(n.text), n.yes) << n.text;
    EXPECT_EQ(dialplan_does_it_look_like_a_telephone_number(nullptr), 0);
}

} // namespace
