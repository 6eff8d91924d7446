// Content length and session cookie as the guard reads them from the CGI
// environment.
#include <gtest/gtest.h>

#include <string>

#include "content_length.h"
#include "session_cookie.h"

namespace {

TEST(ContentLength, OnlyPlainDecimalThatFitsIn32Bits)
{
    struct {
        const char *text;
        int32_t value;
    } cases[] = {
        {"0", 0},
        {"65536", 65536},
        {"000123", 123},
        {"2147483647", 2147483647},
        {"2147483648", -1},
        {"99999999999", -1},
        {nullptr, -1},
        {"", -1},
        {"-1", -1},
        {"+5", -1},
        {" 5", -1},
        {"5 ", -1},
        {"12a", -1},
        {"abc", -1},
        {"0x10", -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse_content_length(c.text), c.value) << (c.text ? c.text : "(absent)");
}

TEST(SessionCookie, FirstSessionCookieWithAValidIdentifier)
{
    const std::string id127(127, 'a');
    const std::string id128(128, 'a');
    struct {
        std::string cookie;
        const char *id;  // nullptr: refused
    } cases[] = {
        {"PHPSESSID=abc", "abc"},
        {"PHPSESSID=Ab-9,z;lang=en", "Ab-9,z"},
        {"lang=en; PHPSESSID=k3v", "k3v"},
        {"lang=en;\t ;; PHPSESSID=k3v; x=1", "k3v"},
        {"lang=en;\tPHPSESSID=tab", "tab"},
        {"a=PHPSESSID=no; PHPSESSID=yes", "yes"},
        {"XPHPSESSID=no", nullptr},
        {"phpsessid=abc", nullptr},
        {"PHPSESSID =abc", nullptr},
        {"PHPSESSID=", nullptr},
        {"PHPSESSID=;PHPSESSID=abc", nullptr},
        {"PHPSESSID=a.b", nullptr},
        {"PHPSESSID=a_b", nullptr},
        {"PHPSESSID=a b", nullptr},
        {"PHPSESSID=ab ", nullptr},
        {"PHPSESSID=../x", nullptr},
        {"PHPSESSID=" + id127, id127.c_str()},
        {"PHPSESSID=" + id127 + ";b=1", id127.c_str()},
        {"PHPSESSID=" + id128, nullptr},
        {"", nullptr},
        {"; ;", nullptr},
        {"lang=en", nullptr},
    };
    for (const auto &c : cases) {
        char id[SESSION_ID_SIZE] = "untouched";
        int rc = session_id_from_cookie(c.cookie.c_str(), id);
        if (c.id) {
            EXPECT_EQ(rc, 0) << c.cookie;
            EXPECT_STREQ(id, c.id) << c.cookie;
        } else {
            EXPECT_EQ(rc, -1) << c.cookie;
        }
    }
}

}  // namespace
