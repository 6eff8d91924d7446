// One SIP case from the command line (tarn_add_sipp_case in CMake): the
// configuration written from its templates, tarn started and answering
// OPTIONS, the sipp steps in order (each must succeed), the responses
// tshark finds in the capture, lines tarn must have written, and a clean end.
//
//   e2e_sipp_case --config T [--file REL=T]... --step X.xml[:CALLS[:SOURCE]]...
//                 [--expect-response "CODE METHOD"]... [--expect-out TEXT]...
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sipp_case.h"

namespace {

struct case_args {
    std::vector<std::pair<std::string, std::string>> files; // rel, template path
    std::vector<sipp_step> steps;
    std::vector<std::string> responses;
    std::vector<std::string> out_lines;
} args;

sipp_step parse_step(const std::string &s)
{
    sipp_step st;
    size_t c1 = s.find(':');
    st.scenario = s.substr(0, c1);
    if (c1 != std::string::npos) {
        size_t c2 = s.find(':', c1 + 1);
        st.calls = atoi(s.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1).c_str());
        if (c2 != std::string::npos)
            st.source = s.substr(c2 + 1);
    }
    return st;
}

bool parse(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (i + 1 >= argc)
            return false;
        std::string v = argv[++i];
        if (a == "--config")
            args.files.push_back({"usr/conf/tarn.sip", v});
        else if (a == "--file" && v.find('=') != std::string::npos)
            args.files.push_back({v.substr(0, v.find('=')), v.substr(v.find('=') + 1)});
        else if (a == "--step")
            args.steps.push_back(parse_step(v));
        else if (a == "--expect-response")
            args.responses.push_back(v);
        else if (a == "--expect-out")
            args.out_lines.push_back(v);
        else
            return false;
    }
    return !args.steps.empty();
}

TEST(SippCase, Run)
{
    e2e_world w(sipp_world_options());
    E2E_REQUIRE(w);
    for (auto &[rel, tmpl] : args.files) {
        std::string text = read_text_file(tmpl);
        ASSERT_FALSE(text.empty()) << "no template " << tmpl;
        sipp_write_config(w, rel, text);
    }
    ASSERT_TRUE(sipp_start_tarn(w)) << "tarn did not come up answering OPTIONS";
    for (const sipp_step &st : args.steps)
        EXPECT_TRUE(sipp_ok(sipp_run(w, st))) << st.scenario;
    for (const std::string &line : args.out_lines)
        EXPECT_TRUE(w.wait_out(line, 10000)) << "tarn never wrote: " << line;
    EXPECT_EQ(sipp_stop_tarn(w), "");
    std::vector<std::string> seen = sipp_captured_responses(w);
    std::string all;
    for (const std::string &r : seen)
        all += "  " + r + "\n";
    for (const std::string &r : args.responses)
        EXPECT_TRUE(std::find(seen.begin(), seen.end(), r) != seen.end())
            << "no response " << r << " in the capture; tshark read:\n" << all;
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!parse(argc, argv)) {
        fprintf(stderr, "usage: %s --config T [--file REL=T]... --step X.xml[:CALLS[:SOURCE]]... "
                        "[--expect-response \"CODE METHOD\"]... [--expect-out TEXT]...\n",
                argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
