#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "cc_test_support.h"

namespace {

std::string print(const call_configuration *cc, int pattern, int sort, const char *filter)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    cc_print_call_configuration_filtered(f, cc, pattern, sort, filter);
    fclose(f);
    std::string s(text, size);
    free(text);
    return s;
}

std::vector<std::string> lines_of(const std::string &s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

std::string key_of(const std::string &row)
{
    size_t a = row.find("][") + 2;
    return row.substr(a, row.find(']', a) - a);
}

TEST_F(CallConf, PrintoutRows)
{
    auto rows = lines_of(print(nullptr, 0, 0, nullptr));
    ASSERT_EQ(rows.size(), 213u);
    EXPECT_EQ(rows[0], "Default call configuration:");
    EXPECT_EQ(rows[1], "[i][ec]                                echo canceller on the media channel <0|1>                '1'");
    for (size_t i = 1; i < rows.size(); i++)
        EXPECT_EQ(rows[i].find('\t'), std::string::npos) << rows[i];

    auto priv = lines_of(print(nullptr, 0, 0, "sip_priv"));
    EXPECT_EQ(priv.size(), 21u);
    for (size_t i = 1; i < priv.size(); i++)
        EXPECT_EQ(key_of(priv[i]).rfind("sip_priv", 0), 0u);
    EXPECT_EQ(lines_of(print(nullptr, 0, 0, "SIP_PRIV")).size(), 1u); // case matters

    auto sorted = lines_of(print(nullptr, 0, 1, nullptr));
    ASSERT_EQ(sorted.size(), 213u);
    for (size_t i = 2; i < sorted.size(); i++)
        EXPECT_LT(key_of(sorted[i - 1]), key_of(sorted[i]));
    EXPECT_EQ(key_of(sorted[1]), "1tr119");
}

TEST_F(CallConf, PrintoutOfARecordShowsTheDefaults)
{
    call_configuration cc = fresh();
    cc.qvalue = 50;
    cc_parse_call_configuration_direct(nullptr, &cc, "codecs=g729:pcmu,outgoing_bchannels=1-5.7");
    auto rows = lines_of(print(&cc, 1, 0, "q"));
    EXPECT_EQ(rows[0], "Call configuration (default values are shown in brackets):");
    bool qvalue = false;
    for (auto &r : rows)
        if (key_of(r) == "qvalue") {
            qvalue = true;
            EXPECT_NE(r.find("'0.5'\t('-1')\t^"), std::string::npos) << r;
        }
    EXPECT_TRUE(qvalue);
    std::string all = print(&cc, 0, 0, nullptr);
    EXPECT_NE(all.find("'g729:pcmu'\t('pcma')\n"), std::string::npos);
    EXPECT_NE(all.find("'1-5.7'\t('')\n"), std::string::npos);
}

} // namespace
