// The session reader on hand-made images. Every image is copied into a heap
// block of exactly its size, so a read past the image trips AddressSanitizer
// in the sanitizer build.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "session_check.h"
#include "session_image.h"

namespace {

struct exact_image {
    explicit exact_image(const std::string &s) : len(s.size()), bytes(new char[s.size() ? s.size() : 1])
    {
        memcpy(bytes.get(), s.data(), s.size());
    }
    const char *begin() const { return bytes.get(); }
    const char *end() const { return bytes.get() + len; }
    size_t len;
    std::unique_ptr<char[]> bytes;
};

std::string nested_arrays(int levels, const std::string &inner)
{
    std::string s;
    for (int i = 0; i < levels; i++)
        s += "a:1:{i:0;";
    s += inner;
    for (int i = 0; i < levels; i++)
        s += "}";
    return s;
}

TEST(ParseInt, DigitsSignAndRange)
{
    struct {
        const char *text;
        bool ok;
        int64_t value;
        size_t used;
    } cases[] = {
        {"0", true, 0, 1},
        {"1700000000;", true, 1700000000, 10},
        {"-42:", true, -42, 3},
        {"007x", true, 7, 3},
        {"4102444800", true, 4102444800LL, 10},  // beyond 32 bits
        {"9223372036854775807", true, INT64_MAX, 19},
        {"-9223372036854775808", true, INT64_MIN, 20},
        {"9223372036854775808", false, 0, 0},
        {"-9223372036854775809", false, 0, 0},
        {"99999999999999999999", false, 0, 0},
        {"", false, 0, 0},
        {"-", false, 0, 0},
        {"+5", false, 0, 0},
        {";", false, 0, 0},
    };
    for (const auto &c : cases) {
        exact_image img(c.text);
        const char *endp = nullptr;
        int64_t v = parse_int(img.begin(), img.end(), &endp);
        if (!c.ok) {
            EXPECT_EQ(endp, nullptr) << c.text;
            continue;
        }
        ASSERT_NE(endp, nullptr) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(size_t(endp - img.begin()), c.used) << c.text;
    }
}

TEST(SkipSerializedValue, WellFormedValuesEndWhereTheyShould)
{
    const std::string deep16 = nested_arrays(16, "i:1;");
    struct {
        std::string value;
        std::string tail;
    } cases[] = {
        {"N;", ""},
        {"b:1;", "x"},
        {"i:-9223372036854775808;", ""},
        {"r:17;", ""},
        {"R:21;", ""},
        {"d:0.1;", ""},
        {"d:;", ""},
        {"d:-INF;", "s:1:\"a\";"},
        {"s:0:\"\";", ""},
        {"s:9:\"a|b;c\"d'e\";", ""},
        {std::string("s:10:\"\0Keep\0priv\";", 18), ""},
        {"a:0:{}", ""},
        {"a:2:{i:0;s:3:\"x|y\";s:1:\"k\";a:1:{i:0;N;}}", "tail"},
        {"O:8:\"stdClass\":0:{}", ""},
        {"O:8:\"stdClass\":1:{s:1:\"k\";O:1:\"A\":1:{s:1:\";\";d:1.0E+300;}}", ""},
        {deep16, ""},
    };
    for (const auto &c : cases) {
        exact_image img(c.value + c.tail);
        const char *q = skip_serialized_value(img.begin(), img.end(), 0);
        ASSERT_NE(q, nullptr) << c.value;
        EXPECT_EQ(size_t(q - img.begin()), c.value.size()) << c.value;
    }
}

TEST(SkipSerializedValue, MalformedOrTruncatedValuesAreRefused)
{
    const char *const cases[] = {
        "", "N", "Nx", "X:1;", "C:3:\"Foo\":0:{}", "E:7:\"Suit:Hi\";",
        "i:;", "i:1", "i:1x", "i:99999999999999999999;", "b1;",
        "d:1.5", "d:",
        "s:5:\"abc\";", "s:3:\"abc\"", "s:3:\"abc;", "s:-1:\"\";", "s:3:abc\";", "s:3\"abc\";",
        "s:9223372036854775807:\"x\";",     // n + 2 overflows a signed 64-bit sum
        "s:18446744073709551615:\"x\";",    // beyond 64 bits
        "s:4294967295:\"x\";",              // n + 2 wraps a 32-bit sum
        "a:1:{i:0;}", "a:1:{i:0;i:1;", "a:0:{", "a:0:}", "a:-1:{}", "a:2:{i:0;i:1;}",
        "a:4611686018427387904:{i:0;i:0;}", // 2c overflows
        "a:9223372036854775807:{}",
        "O:8:\"stdClass\":0:{", "O:9:\"stdClass\":0:{}", "O:8:\"stdClass\"0:{}",
        "O:9223372036854775807:\"x\":0:{}", // n + 4 overflows
        "O:4294967293:\"x\":0:{}",
        "O:1:\"A\":1:{s:1:\"k\";}",
    };
    for (const char *c : cases) {
        exact_image img(c);
        EXPECT_EQ(skip_serialized_value(img.begin(), img.end(), 0), nullptr) << c;
    }
}

TEST(SkipSerializedValue, NestingStopsAtSeventeenLevels)
{
    for (int levels = 14; levels <= 20; levels++) {
        std::string v = nested_arrays(levels, "i:1;");
        exact_image img(v);
        const char *q = skip_serialized_value(img.begin(), img.end(), 0);
        if (levels <= 16)
            EXPECT_EQ(q, img.end()) << levels;
        else
            EXPECT_EQ(q, nullptr) << levels;
    }
    // A thousand levels end at the limit instead of recursing on.
    exact_image deep(nested_arrays(1000, "N;"));
    EXPECT_EQ(skip_serialized_value(deep.begin(), deep.end(), 0), nullptr);
    EXPECT_EQ(skip_serialized_value(nullptr, deep.end(), 0), nullptr);
    exact_image n("N;");
    EXPECT_EQ(skip_serialized_value(n.begin(), n.end(), SESSION_MAX_DEPTH), nullptr);
    EXPECT_EQ(skip_serialized_value(n.begin(), n.end(), SESSION_MAX_DEPTH - 1), n.end());
}

TEST(SessionImageTime, FindsTheTimeEntryOrRefuses)
{
    struct {
        std::string image;
        bool ok;
        int64_t t;
    } cases[] = {
        {"quilari_time|i:1700000000;", true, 1700000000},
        {"user|s:5:\"admin\";quilari_time|i:1700000000;lang|s:2:\"en\";", true, 1700000000},
        {"!gone|quilari_time|i:5;", true, 5},
        {"!quilari_time|quilari_time|i:6;", true, 6},
        {"a|a:1:{s:12:\"quilari_time\";i:1;}quilari_time|i:7;", true, 7},
        {"s|s:17:\"quilari_time|i:1;\";quilari_time|i:8;", true, 8},
        {"quilari_time|i:4102444800;", true, 4102444800LL},
        {"quilari_time|i:-3;", true, -3},
        {"quilari_time|i:1;quilari_time|s:1:\"x\";", true, 1},
        {"", false, 0},
        {"user|s:5:\"admin\";", false, 0},
        {"quilari_time", false, 0},
        {"quilari_time|", false, 0},
        {"quilari_time|i:", false, 0},
        {"quilari_time|i:1700000000", false, 0},
        {"quilari_time|i:1700000000x", false, 0},
        {"quilari_time|s:10:\"1700000000\";", false, 0},
        {"quilari_time|d:1700000000;", false, 0},
        {"quilari_time|i:99999999999999999999;", false, 0},
        {"Quilari_time|i:1;", false, 0},
        {"quilari_timex|i:1;", false, 0},
        {"xquilari_time|i:1;", false, 0},
        {"junk|x:1;quilari_time|i:1;", false, 0},
        {"bad|s:999:\"x\";quilari_time|i:1;", false, 0},
        {"deep|" + nested_arrays(17, "i:1;") + "quilari_time|i:1;", false, 0},
        {"ok|" + nested_arrays(16, "i:1;") + "quilari_time|i:9;", true, 9},
    };
    for (const auto &c : cases) {
        exact_image img(c.image);
        int64_t t = 0;
        int rc = session_image_time(img.begin(), img.len, &t);
        if (c.ok) {
            EXPECT_EQ(rc, 0) << c.image;
            EXPECT_EQ(t, c.t) << c.image;
        } else {
            EXPECT_EQ(rc, -1) << c.image;
        }
    }
}

TEST(SessionImageTime, TimeEntryCutByTheImageEndIsRefused)
{
    // The same session cut at every length short of its end.
    const std::string full = "u|a:1:{s:1:\"k\";O:1:\"A\":1:{s:1:\"p\";s:3:\"|;\"\";}}quilari_time|i:1700000000;";
    for (size_t cut = 0; cut < full.size(); cut++) {
        exact_image img(full.substr(0, cut));
        int64_t t = 0;
        EXPECT_EQ(session_image_time(img.begin(), img.len, &t), -1) << cut;
    }
    exact_image img(full);
    int64_t t = 0;
    EXPECT_EQ(session_image_time(img.begin(), img.len, &t), 0);
    EXPECT_EQ(t, 1700000000);
}

TEST(SessionAge, WindowOfTwentyMinutesBackAndOneForward)
{
    const int64_t now = 1700000000;
    struct {
        int64_t t;
        int64_t now;
        bool live;
    } cases[] = {
        {now, now, true},
        {now - 1200, now, true},
        {now - 1201, now, false},
        {now + 60, now, true},
        {now + 61, now, false},
        {0, now, false},
        {-1, now, false},
        {1, 1, true},
        {INT64_MAX, now, false},
        {INT64_MIN, now, false},
        {4102444800LL, 4102444800LL + 1200, true},  // past 2106: 64-bit clock
        {4102444800LL, 4102444800LL + 1201, false},
        {INT64_MAX, INT64_MAX, true},
        {INT64_MAX - 1201, INT64_MAX, false},
        {now, -1, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(session_time_is_live(c.t, c.now) == 1, c.live) << c.t << " at " << c.now;
}

}  // namespace
