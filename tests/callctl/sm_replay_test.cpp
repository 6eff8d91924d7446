// Replay runs of the state tables against their committed transcript
// (tests/callctl/data/sm_replay_runs.txt): each "$ sm_replay ..." line is
// run and what follows it, up to the next such line, is what it must print.
// A run that fails prints "[exit N] " and its standard error instead.
//
// SM_REPLAY_UPDATE=1 rewrites the transcript with what the runs print now
// (check the difference before committing it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run_process.h"

namespace {

const char *const transcript = TARN_SOURCE_DIR "/tests/callctl/data/sm_replay_runs.txt";
const char *const tool = TARN_BINARY_DIR "/tools/sm_replay";
const std::string prompt = "$ sm_replay";

struct run_case {
    std::string command; // the line after "$ "
    std::string expected;
    std::vector<std::string> comments; // "#" lines before it
};

// Words of a command line: blanks separate, single quotes group.
bool split_words(const std::string &line, std::vector<std::string> *out)
{
    std::string cur;
    bool quoted = false, have = false;
    for (char c : line) {
        if (c == '\'') {
            quoted = !quoted;
            have = true;
        } else if (c == ' ' && !quoted) {
            if (have)
                out->push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        out->push_back(cur);
    return !quoted;
}

std::vector<run_case> read_transcript()
{
    std::ifstream in(transcript);
    std::vector<run_case> cases;
    std::vector<std::string> comments;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prompt, 0) == 0) {
            cases.push_back({line.substr(2), "", comments});
            comments.clear();
        } else if (line.rfind("#", 0) == 0 || (line.empty() && !comments.empty())) {
            comments.push_back(line); // a blank line after comments stays with them
        } else if (!cases.empty() && !line.empty()) {
            cases.back().expected += line + "\n";
        }
    }
    return cases;
}

std::string output_of(const std::string &command)
{
    std::vector<std::string> argv;
    if (!split_words(command, &argv) || argv.empty())
        return "(unbalanced quotes)\n";
    argv[0] = tool;
    process_result r = run_process(argv);
    if (r.status == 0)
        return r.out;
    return r.out + "[exit " + std::to_string(r.status) + "] " + r.err;
}

TEST(SmReplay, RunsPrintTheirTranscript)
{
    std::vector<run_case> cases = read_transcript();
    ASSERT_GE(cases.size(), 20u) << transcript;
    if (getenv("SM_REPLAY_UPDATE")) {
        std::ofstream out(transcript);
        for (size_t i = 0; i < cases.size(); i++) {
            if (i > 0)
                out << "\n";
            for (const std::string &c : cases[i].comments)
                out << c << "\n";
            out << "$ " << cases[i].command << "\n" << output_of(cases[i].command);
        }
        GTEST_SKIP() << "transcript rewritten";
    }
    for (const run_case &c : cases)
        EXPECT_EQ(output_of(c.command), c.expected) << "$ " << c.command;
}

// Every table has runs in the transcript, and the failures are one line
// with exit status 2.
TEST(SmReplay, EveryTableAndEveryRefusalIsInTheTranscript)
{
    std::vector<run_case> cases = read_transcript();
    for (const char *table : {"sip_to_isdn", "isdn_to_sip", "sip_to_fxs", "fxs_to_sip", "sip_to_fxo", "fxo_to_sip",
                              "sip_to_cas_fxo", "sip_to_cas_fxs", "cas_fxo_to_sip", "cas_fxs_to_sip", "sip_to_gsm",
                              "gsm_to_sip", "sip_to_sip", "sipreg", "sipcleanup", "sip_to_itapi", "telnet_to_isdn"}) {
        bool found = false;
        for (const run_case &c : cases)
            found |= c.command.find("--table " + std::string(table) + " ") != std::string::npos;
        EXPECT_TRUE(found) << table;
    }
    int refusals = 0;
    for (const run_case &c : cases) {
        if (c.expected.rfind("[exit ", 0) != 0)
            continue;
        refusals++;
        EXPECT_EQ(c.expected.rfind("[exit 2] sm_replay: ", 0), 0u) << c.command;
        EXPECT_EQ(c.expected.find('\n'), c.expected.size() - 1) << c.command; // one line
    }
    EXPECT_GE(refusals, 4);
}

} // namespace
