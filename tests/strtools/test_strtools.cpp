// String tools: comparison, editing, bounded copies, splitting, ranges, files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ftw.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "strtools.h"

namespace {

// A buffer with guard bytes after the part the callee may use.
struct guarded {
    std::vector<char> mem;
    size_t size;
    explicit guarded(size_t n) : mem(n + 16, '#'), size(n) {}
    char *buf() { return mem.data(); }
    bool guard_intact() const
    {
        for (size_t i = size; i < mem.size(); i++)
            if (mem[i] != '#')
                return false;
        return true;
    }
};

TEST(StrtoolsCompare, Table)
{
    struct {
        const char *a, *b;
        int n, stricmp, strincmp;
    } const cases[] = {
        {"Yes", "yes", 3, 0, 0},
        {"yes", "yes ", 3, -1, 0},
        {"ABCdef", "abcxyz", 3, -1, 0},
        {"ab", "abc", 3, -1, -1},
        {"abcd", "abcxe", 3, -1, -1}, // different lengths compare the shorter length
        {"ab", "AB", 5, 0, 0},        // equal lengths compare min(n, length)
        {"", "", 0, 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(st_stricmp(c.a, c.b), c.stricmp) << c.a << "|" << c.b;
        EXPECT_EQ(st_strincmp(c.a, c.b, c.n), c.strincmp) << c.a << "|" << c.b;
    }
}

TEST(StrtoolsClassify, Table)
{
    EXPECT_EQ(st_string_has_non_digits("0123"), 0);
    EXPECT_EQ(st_string_has_non_digits(""), 0);
    EXPECT_EQ(st_string_has_non_digits("12a"), 1);
    struct {
        const char *s;
        int cls, result;
    } const isdn[] = {
        {"x!", 1, 0}, {"123", 2, 0}, {"12*", 2, 1}, {"0*#ABCD9", 3, 0}, {"12a", 3, 1}, {"E", 0, 1},
    };
    for (const auto &c : isdn)
        EXPECT_EQ(st_string_has_non_valid_isdn_chars(c.s, c.cls), c.result) << c.s << " " << c.cls;
    struct {
        const char *s;
        int v;
    } const bools[] = {{"YES", 1}, {"yes", 1}, {"2", 1}, {"true", 0}, {"0", 0}, {"yes!", 0}, {"", 0}};
    for (const auto &c : bools)
        EXPECT_EQ(st_convert_boolstring_to_int(c.s), c.v) << c.s;
    EXPECT_EQ(st_scan_for_character("a,b,c", ',', 2), 3);
    EXPECT_EQ(st_scan_for_character("a,b,c", ',', 3), -1);
    EXPECT_EQ(st_scan_for_character("a,b,c", ',', 0), -1);
}

TEST(StrtoolsEdit, InPlaceTable)
{
    struct {
        const char *name;
        const char *in;
        std::function<int(char *)> f;
        const char *out;
        int rc;
    } const cases[] = {
        {"trimstring", "\ta  \nb ", [](char *s) { return st_trimstring(s); }, "a b", 1},
        {"trimstring blanks only", " \r\n", [](char *s) { return st_trimstring(s); }, "", 0},
        {"leading/trailing spaces", "  a\t b\t ",
         [](char *s) { st_remove_leading_and_trailing_whitespace(s); return 0; }, "a\t b\t", 0},
        {"spaces only", "   ", [](char *s) { st_remove_leading_and_trailing_whitespace(s); return 0; },
         "", 0},
        {"clrf", "a\r\nb\n", [](char *s) { st_remove_clrf(s); return 0; }, "ab", 0},
        {"remove set", "a-b_c-", [](char *s) { st_remove_characters(s, "-_"); return 0; }, "abc", 0},
        {"remove from end", "a--b--", [](char *s) { st_remove_characters_from_end(s, "-"); return 0; },
         "a--b", 0},
        {"unique chars", "a//b///c", [](char *s) { st_make_unique_chars(s, '/'); return 0; }, "a/b/c",
         0},
        {"quotes", "\"a'b\"", [](char *s) { st_strip_quotation_marks(s); return 0; }, "ab", 0},
        {"replace same length", "abcABC",
         [](char *s) { return st_replace_characters_in_place(s, "bc", "xy", 1); }, "axyAxy", 0},
        {"replace case-sensitive", "abcABC",
         [](char *s) { return st_replace_characters_in_place(s, "bc", "xy", 0); }, "axyABC", 0},
        {"replace other length", "abc",
         [](char *s) { return st_replace_characters_in_place(s, "b", "xy", 0); }, "abc", -1},
        {"toupper", "aBc1", [](char *s) { st_toupper(s); return 0; }, "ABC1", 0},
        {"pop front", "xyz", [](char *s) { return (int)st_pop_front_char_from_string(s); }, "yz", 'x'},
        {"pop front empty", "", [](char *s) { return (int)st_pop_front_char_from_string(s); }, "", 0},
    };
    for (const auto &c : cases) {
        std::vector<char> s(c.in, c.in + strlen(c.in) + 1);
        EXPECT_EQ(c.f(s.data()), c.rc) << c.name;
        EXPECT_STREQ(s.data(), c.out) << c.name;
    }
}

TEST(StrtoolsCopy, BoundedOutputsTable)
{
    struct {
        const char *name;
        size_t size;
        std::function<void(char *, size_t)> f;
        const char *out;
    } const cases[] = {
        {"strcat fits", 8, [](char *b, size_t n) { strcpy(b, "ab"); st_safe_strcat(b, n, "%d", 12345); },
         "ab12345"},
        {"strcat cut", 6, [](char *b, size_t n) { strcpy(b, "ab"); st_safe_strcat(b, n, "%d", 12345); },
         "ab123"},
        {"textify", 16, [](char *b, size_t n) { st_textify_crlf(b, n, "a\r\nb"); }, "a\\r\\nb"},
        {"textify pair just fits", 4, [](char *b, size_t n) { st_textify_crlf(b, n, "a\nb"); },
         "a\\n"},
        {"textify stops before a pair", 3, [](char *b, size_t n) { st_textify_crlf(b, n, "a\nb"); },
         "a"},
        {"json", 32, [](char *b, size_t n) { st_json_textify(b, n, "a\"b\r\n"); },
         "a\\\"b\\\\r\\\\n"},
        {"json stops with 3 left", 5, [](char *b, size_t n) { st_json_textify(b, n, "ab\nc"); }, "ab"},
        {"replace strings", 32,
         [](char *b, size_t n) {
             char src[] = "a%%b%%c";
             st_replace_strings("%%", "<>", b, n, src);
             EXPECT_STREQ(src, "a");
         },
         "a<>b<>c"},
        {"replace strings cut", 5,
         [](char *b, size_t n) {
             char src[] = "a%%b%%c";
             st_replace_strings("%%", "<>", b, n, src);
         },
         "a<>b"},
        {"leading zeros", 8, [](char *b, size_t n) { strcpy(b, "old"); st_remove_leading_zeros("00420", b, n); },
         "420"},
        {"only zeros", 8, [](char *b, size_t n) { strcpy(b, "old"); st_remove_leading_zeros("000", b, n); },
         "old"},
        {"bchannels", 32, [](char *b, size_t n) { st_format_bchannels_range(0xfffefffe, b, n); },
         "1-15.17-31"},
        {"bchannels pair", 32, [](char *b, size_t n) { st_format_bchannels_range(0x60, b, n); }, "5-6"},
        {"bchannels gap", 32, [](char *b, size_t n) { st_format_bchannels_range(0xa0, b, n); }, "5.7"},
        {"bchannels bit 0", 32, [](char *b, size_t n) { st_format_bchannels_range(0x3, b, n); }, "1"},
        {"bchannels none", 32, [](char *b, size_t n) { st_format_bchannels_range(0, b, n); }, ""},
        {"bchannels cut", 5, [](char *b, size_t n) { st_format_bchannels_range(0xfffefffe, b, n); },
         "1-15"},
    };
    for (const auto &c : cases) {
        guarded g(c.size);
        c.f(g.buf(), c.size);
        EXPECT_STREQ(g.buf(), c.out) << c.name;
        EXPECT_TRUE(g.guard_intact()) << c.name;
    }
}

TEST(StrtoolsCopy, SipLineHexAndDate)
{
    struct {
        const char *line;
        size_t dsize, usize;
        const char *display, *user;
    } const sip[] = {
        {"\"Alice A\" <sip:alice@example.com>", 32, 32, "Alice A", "alice"},
        {"<sip:bob@h>;tag=\"x\"", 32, 32, "", "bob"},
        {"\"Al\" <sip:nobody>", 32, 32, "Al", ""},
        {"\"Alice A\" <sip:alice@example.com>", 4, 3, "Ali", "al"},
        {"no address", 32, 32, "", ""},
    };
    for (const auto &c : sip) {
        guarded d(c.dsize), u(c.usize);
        st_get_display_and_user_from_sip_line(c.line, d.buf(), c.dsize, u.buf(), c.usize);
        EXPECT_STREQ(d.buf(), c.display) << c.line;
        EXPECT_STREQ(u.buf(), c.user) << c.line;
        EXPECT_TRUE(d.guard_intact() && u.guard_intact()) << c.line;
    }

    unsigned char bytes[40];
    EXPECT_EQ(st_hexstring_to_bytearray("0xABC", bytes, sizeof bytes), 2);
    EXPECT_EQ(bytes[0], 0x0a);
    EXPECT_EQ(bytes[1], 0xbc);
    EXPECT_EQ(st_hexstring_to_bytearray("0102030405", bytes, 3), 3);
    EXPECT_EQ(st_hexstring_to_bytearray(std::string(100, 'f').c_str(), bytes, sizeof bytes), 31);

    char date[32];
    st_date(date, sizeof date);
    EXPECT_EQ(strlen(date), 24u) << date;
    EXPECT_EQ(date[2], '/');
    EXPECT_EQ(date[8], '-');
    EXPECT_EQ(date[17], ':');
}

TEST(StrtoolsSplit, CommaListsNeverStoreMoreThanSize)
{
    struct {
        const char *text;
        int size, found;
        std::vector<std::string> stored;
    } const cases[] = {
        {"a,,b", 8, 3, {"a", "", "b"}},
        {"a,b,c,d", 2, 4, {"a", "b"}},
        {"", 2, 1, {""}},
        {"x", 0, 1, {}},
    };
    for (const auto &c : cases) {
        std::vector<char> text(c.text, c.text + strlen(c.text) + 1);
        std::vector<char *> arr(c.size + 1, (char *)"guard");
        int found = st_extract_comma_separated_values(arr.data(), c.size, text.data());
        EXPECT_EQ(found, c.found) << c.text;
        // Callers walk the smaller of the two counts.
        int n = found < c.size ? found : c.size;
        ASSERT_EQ((size_t)n, c.stored.size()) << c.text;
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(c.stored[i], arr[i]);
            free(arr[i]);
        }
        EXPECT_STREQ(arr[c.size], "guard") << c.text;
    }
    char text[] = "1,x,-3,4";
    int ints[3] = {0, 0, 0};
    EXPECT_EQ(st_extract_comma_separated_values_int(ints, 2, text), 4);
    EXPECT_EQ(ints[0], 1);
    EXPECT_EQ(ints[1], 0);
    EXPECT_EQ(ints[2], 0);
}

TEST(StrtoolsSplit, FixedWidthLinesAndPrefixes)
{
    char arr[3][4];
    memset(arr, '#', sizeof arr);
    EXPECT_EQ(st_extract_to_char_array_by_separator(&arr[0][0], 3, 4, " ;", "ab;;abcdef x y"), 3);
    EXPECT_STREQ(arr[0], "ab");
    EXPECT_STREQ(arr[1], "abc");
    EXPECT_STREQ(arr[2], "x");

    char text[] = "one\r\ntwo\n\nthree\n";
    char *lines[8];
    EXPECT_EQ(st_splitify_to_lines(text, lines, 8), 3);
    EXPECT_STREQ(lines[0], "one");
    EXPECT_STREQ(lines[1], "two");
    EXPECT_STREQ(lines[2], "three");
    char text2[] = "a\nb\nc";
    EXPECT_EQ(st_splitify_to_lines(text2, lines, 2), 2);
    EXPECT_STREQ(lines[1], "b");
    char empty[] = "";
    EXPECT_EQ(st_splitify_to_lines(empty, lines, 8), 1);

    char buf[] = "+CSQ: 1\nOK\n+CREG: 0,1\n";
    char *line = st_extract_line_from_buffer(buf, "+CREG");
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "+CREG: 0,1");
    char buf2[] = "a\nb";
    EXPECT_EQ(st_extract_line_from_buffer(buf2, "c"), nullptr);
}

TEST(StrtoolsRanges, ParseAndExplode)
{
    struct {
        const char *text;
        uint32_t mask;
    } const bch[] = {
        {"1-15.17-31", 0xfffefffe}, {"5-5", 0}, {"0.32.3", 0x8}, {"", 0}, {"30-32.2", 0x4}, {"x.1", 0x2},
    };
    for (const auto &c : bch)
        EXPECT_EQ(st_parse_bchannels_range(c.text), c.mask) << c.text;
    char round[64];
    st_format_bchannels_range(st_parse_bchannels_range("1-3.7.9-10"), round, sizeof round);
    EXPECT_STREQ(round, "1-3.7.9-10");

    struct {
        const char *text;
        int max;
        std::vector<int> values;
    } const lists[] = {
        {"1,3-5,9-7", 100, {1, 3, 4, 5}},
        {"1,3-5,9-7", 3, {1}},
        {"9-7", 10, {}},
        {"2,2", 10, {2, 2}},
        {"1-2000000000", 5, {}},
    };
    for (const auto &c : lists) {
        int count = -1;
        int *v = st_explode_comma_separated_range_string(c.text, &count, c.max);
        ASSERT_EQ(count, (int)c.values.size()) << c.text;
        EXPECT_EQ(v == nullptr, c.values.empty()) << c.text;
        for (int i = 0; i < count; i++)
            EXPECT_EQ(v[i], c.values[i]) << c.text;
        free(v);
    }
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

TEST(StrtoolsFiles, CreateAppendRead)
{
    char tmpl[] = "/tmp/tarn-strtools-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;

    std::string deep = dir + "/a/b/c";
    EXPECT_EQ(create_directory(deep.c_str(), 0750, getuid(), getgid()), 0);
    struct stat st;
    ASSERT_EQ(stat(deep.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_EQ(create_directory(deep.c_str(), 0750, getuid(), getgid()), 0); // exists already
    std::string blocked = dir + "/file";
    std::ofstream(blocked) << "x";
    EXPECT_EQ(create_directory((blocked + "/sub").c_str(), 0750, getuid(), getgid()), -1);

    std::string f = dir + "/log";
    EXPECT_EQ(file_exists(f.c_str()), 0);
    EXPECT_EQ(st_append_to_file(f.c_str(), "one\n"), 0);
    EXPECT_EQ(st_append_to_file(f.c_str(), "two\n"), 0);
    EXPECT_EQ(file_exists(f.c_str()), 1);
    char *all = st_read_file_to_buffer(f.c_str(), 0);
    ASSERT_NE(all, nullptr);
    EXPECT_STREQ(all, "one\ntwo\n");
    free(all);

    std::string big(5000, 'z');
    std::string bf = dir + "/big";
    std::ofstream(bf) << big;
    for (int initial : {2048, 1, 5000, 5001}) {
        char *b = st_read_file_to_buffer(bf.c_str(), initial);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(std::string(b), big) << initial;
        free(b);
    }
    errno = 0;
    EXPECT_EQ(st_read_file_to_buffer((dir + "/none").c_str(), 0), nullptr);
    EXPECT_EQ(errno, EINVAL);

    nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

TEST(StrtoolsSplit, PiecesBetweenSeparators)
{
    using v = std::vector<std::string>;
    EXPECT_EQ(st_split_string("", ','), v{""});
    EXPECT_EQ(st_split_string("a,,b", ','), (v{"a", "", "b"}));
    EXPECT_EQ(st_split_string("a,", ','), (v{"a", ""}));
    EXPECT_EQ(st_split_string("1|2|4", '|'), (v{"1", "2", "4"}));
    EXPECT_EQ(st_split_string("no separator", ','), v{"no separator"});
}
