// Base64 against coreutils base64 on a table of inputs, with output sizes
// that just fit and just don't; streaming in pieces; skipped characters.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "base64.h"

namespace {

// Runs coreutils base64 with args on data and returns its standard output.
std::string coreutils(const std::string &args, const std::string &data)
{
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tarn-b64-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return "<mkstemp failed>";
    close(fd);
    std::ofstream(name.data(), std::ios::binary) << data;
    std::string out;
    std::string cmd = "base64 " + args + " '" + std::string(name.data()) + "'";
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    unlink(name.data());
    return out;
}

std::string strip_newline(std::string s)
{
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

std::vector<std::string> inputs()
{
    std::vector<std::string> v = {"", "a", "ab", "abc", "abcd", std::string(60, 'x')};
    std::string all;
    for (int i = 0; i < 256; i++)
        all += (char)i;
    v.push_back(all);
    v.push_back(std::string("\xff\xfe\x80\x00\x7f", 5));
    std::mt19937 rng(4648);
    for (int n = 1; n <= 70; n += 3) {
        std::string s;
        for (int i = 0; i < n; i++)
            s += (char)(rng() & 0xff);
        v.push_back(s);
    }
    return v;
}

const char GUARD = '#';

TEST(Base64, AgreesWithCoreutilsAtExactAndShortSizes)
{
    for (const std::string &in : inputs()) {
        SCOPED_TRACE("length " + std::to_string(in.size()));
        std::string expect = strip_newline(coreutils("-w0", in));
        ASSERT_EQ(expect.size(), (in.size() + 2) / 3 * 4);
        size_t fit = expect.size() + 1;

        for (size_t size : {fit + 5, fit, fit - 1}) {
            std::vector<char> out(size + 8, GUARD);
            int n = plaintext_to_base64(in.data(), (int)in.size(), out.data(), size);
            size_t want = size >= fit ? expect.size() : size ? size - 1 : 0;
            ASSERT_EQ((size_t)n, want) << "size " << size;
            EXPECT_EQ(std::string(out.data(), n), expect.substr(0, want));
            if (size) {
                EXPECT_EQ(out[n], '\0');
            }
            for (size_t i = size; i < out.size(); i++)
                ASSERT_EQ(out[i], GUARD) << "written past size " << size;
        }

        // Decoding coreutils' text, unwrapped and wrapped at 76 columns.
        std::string wrapped = coreutils("", in);
        for (const std::string &text : {expect, wrapped}) {
            for (size_t size : {in.size() + 1, in.size(), in.size() ? in.size() - 1 : 0}) {
                std::vector<char> out(size + 8, GUARD);
                int n = base64_to_plaintext(text.c_str(), out.data(), size);
                size_t want = std::min(size, in.size());
                ASSERT_EQ((size_t)n, want) << "size " << size;
                EXPECT_EQ(std::string(out.data(), n), in.substr(0, want));
                for (size_t i = size; i < out.size(); i++)
                    ASSERT_EQ(out[i], GUARD) << "written past size " << size;
            }
        }
    }
}

TEST(Base64, StreamingInPiecesMatchesOneCall)
{
    base64_encodestate st;
    base64_init_encodestate(&st);
    char out[16];
    int n = base64_encode_block("a", 1, out, &st);
    n += base64_encode_block("bc", 2, out + n, &st);
    n += base64_encode_blockend(out + n, &st);
    EXPECT_EQ(std::string(out, n), "YWJj");

    std::string in;
    std::mt19937 rng(7);
    for (int i = 0; i < 200; i++)
        in += (char)(rng() & 0xff);
    std::string expect = strip_newline(coreutils("-w0", in));
    for (int trial = 0; trial < 20; trial++) {
        base64_encodestate es;
        base64_init_encodestate(&es);
        std::vector<char> enc(400);
        size_t pos = 0, o = 0;
        while (pos < in.size()) {
            size_t piece = std::min<size_t>(rng() % 7, in.size() - pos);
            o += base64_encode_block(in.data() + pos, (int)piece, enc.data() + o, &es);
            pos += piece;
        }
        o += base64_encode_blockend(enc.data() + o, &es);
        ASSERT_EQ(std::string(enc.data(), o), expect) << trial;

        base64_decodestate ds;
        base64_init_decodestate(&ds);
        std::vector<char> dec(300);
        size_t d = 0;
        pos = 0;
        while (pos < expect.size()) {
            size_t piece = std::min<size_t>(rng() % 9, expect.size() - pos);
            d += base64_decode_block(expect.data() + pos, (int)piece, dec.data() + d, &ds);
            pos += piece;
        }
        ASSERT_EQ(std::string(dec.data(), d), in) << trial;
    }
}

TEST(Base64, DecodingSkipsForeignCharactersAndKeepsLeftOverBits)
{
    struct {
        const char *text;
        std::string bytes;
    } const cases[] = {
        {"YWJj", "abc"},
        {"YW\nJj", "abc"},
        {"Y{W|J-j", "abc"},
        {"YQ==", "a"},
        {"YWI=", "ab"},
        {"Y Q = =", "a"},
        {"", ""},
        {"====", ""},
    };
    for (const auto &c : cases) {
        char out[16];
        memset(out, GUARD, sizeof out);
        int n = base64_to_plaintext(c.text, out, sizeof out);
        EXPECT_EQ(std::string(out, n), c.bytes) << c.text;
    }
    char out[4];
    memset(out, GUARD, sizeof out);
    EXPECT_EQ(base64_to_plaintext("YQ==", out, sizeof out), 1);
    EXPECT_EQ(out[1], '\0'); // the left-over bits of a well-formed ending
    EXPECT_EQ(out[2], GUARD);

    EXPECT_EQ(base64_decode_value('A'), 0);
    EXPECT_EQ(base64_decode_value('/'), 63);
    EXPECT_EQ(base64_decode_value('='), -2);
    EXPECT_EQ(base64_decode_value('\xc3'), -1);
    EXPECT_EQ(base64_encode_value(0), 'A');
    EXPECT_EQ(base64_encode_value(63), '/');
    EXPECT_EQ(base64_encode_value(64), '=');
}

} // namespace
