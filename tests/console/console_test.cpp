// The console's command table, dispatcher, follow-up answers and help, the
// splitting of what a client sends, and the hook record.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "application.h"
#include "console.h"
#include "console_hooks.h"
#include "console_input.h"
#include "console_test_util.h"
#include "debug_lines.h"
#include "global_lock.h"
#include "log.h"
#include "mc_options.h"
#include "pools.h"
#include "run_process.h"

namespace {

// ---------------------------------------------------------------------------
// Streams and log lines

// Runs lines through the dispatcher on one client stream.
struct client {
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    int state = 0;
    ~client()
    {
        fclose(f);
        free(buf);
    }
    int send(const char *line) { return mc_handle_input(line, f, &state); }
    // What was written since the last take().
    std::string take()
    {
        fflush(f);
        std::string s(buf, size);
        rewind(f);
        fflush(f);
        return s;
    }
};

std::string golden_hx()
{
    return read_text_file(std::string(TARN_SOURCE_DIR) + "/tests/console/golden/hx.txt");
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

class Console : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gp) {
            application_create();
            init_locks();
        }
        mc_init_options();
    }
    void TearDown() override { mc_reset_hooks(); }
};

// ---------------------------------------------------------------------------
// The table and help

TEST_F(Console, FullHelpIsTheWholeTableInRowOrder)
{
    client c;
    EXPECT_EQ(c.send("hx"), 0);
    EXPECT_EQ(c.take(), golden_hx() + "\r\n");
}

TEST_F(Console, HelpListingsChooseTheirRows)
{
    std::vector<std::string> all = lines_of(golden_hx());
    all.erase(all.begin()); // heading
    auto hidden = [](int row) { return (mc_options[row].command_type & MC_TYPE_HIDDEN) != 0; };

    client c;
    c.send("h");
    std::vector<std::string> h = lines_of(c.take());
    std::vector<std::string> want = {"TARN Status Monitor"};
    for (int row = 0; row < MC_OPTIONS_COUNT; row++)
        if (!hidden(row))
            want.push_back(all[row]);
    want.push_back("\r");
    EXPECT_EQ(h, want);

    c.send("hh");
    std::vector<std::string> hh = lines_of(c.take());
    ASSERT_FALSE(hh.empty());
    EXPECT_EQ(hh[0], "TARN Status Monitor [HIDDEN]");
    int hidden_rows = 0;
    for (int row = 0; row < MC_OPTIONS_COUNT; row++)
        hidden_rows += hidden(row);
    EXPECT_EQ((int)hh.size(), hidden_rows + 2);
    EXPECT_EQ(hh[1], all[4]); // "hx" is the first hidden row

    // The category listings: bit set, HIDDEN not.
    struct {
        const char *cmd, *word;
        int bit;
    } cats[] = {{"hl", "INFO", MC_TYPE_INFO}, {"hs", "SIP", MC_TYPE_SIP},     {"hi", "ISDN", MC_TYPE_ISDN},
                {"ha", "ANALOG", MC_TYPE_ANALOG}, {"hg", "GSM", MC_TYPE_GSM}, {"hv", "LOG", MC_TYPE_LOG},
                {"hm", "MISC", MC_TYPE_MISC}, {"hmsp", "MSP", MC_TYPE_MSP}};
    for (auto &cat : cats) {
        c.send(cat.cmd);
        std::vector<std::string> got = lines_of(c.take());
        std::vector<std::string> w = {std::string("TARN Status Monitor [") + cat.word + "]"};
        for (int row = 0; row < MC_OPTIONS_COUNT; row++)
            if ((mc_options[row].command_type & cat.bit) && !hidden(row))
                w.push_back(all[row]);
        w.push_back("\r");
        EXPECT_EQ(got, w) << cat.cmd;
    }

    // "hf": sorted, not hidden, command containing the text.
    c.send("hf zzz");
    EXPECT_EQ(c.take(), "TARN Status Monitor\n\r\n");
    c.send("hfdns");
    std::vector<std::string> dns = lines_of(c.take());
    std::vector<std::string> wd = {"TARN Status Monitor", "dnsl        : dns list cache", "dnsc        : dns clear cache",
                                   "dnsaX       : dns a record query", "dnssX       : dns srv record query", "\r"};
    EXPECT_EQ(dns, wd);
}

TEST_F(Console, SortedOrder)
{
    // Rows by first character, the longer command first, then the shorter
    // parameter hint first; "ho" and "hxo" list in that order.
    std::vector<std::string> order;
    for (int k = 0; k < MC_OPTIONS_COUNT; k++) {
        const mc_option &o = mc_options[mc_options[k].index];
        if (o.command[0] == 'k' && strcmp(o.command, "kill") != 0)
            order.push_back(std::string(o.command) + "|" + o.parameters);
    }
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(order[0], "ktp |X");
    EXPECT_TRUE((order[1] == "kt |X" && order[2] == "kp |X") || (order[1] == "kp |X" && order[2] == "kt |X"));
    EXPECT_EQ(order[3], "kt|");
    EXPECT_EQ(order[4], "k |X");
    EXPECT_EQ(order[5], "k|");

    for (int k = 1; k < MC_OPTIONS_COUNT; k++) {
        unsigned a = mc_options[k - 1].index, b = mc_options[k].index;
        EXPECT_LE(comp_mc_options(&a, &b), 0) << k;
    }
    // Every row once.
    std::vector<int> seen(MC_OPTIONS_COUNT);
    for (int k = 0; k < MC_OPTIONS_COUNT; k++)
        seen[mc_options[k].index]++;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), MC_OPTIONS_COUNT);

    client c;
    c.send("hxo");
    std::vector<std::string> hxo = lines_of(c.take());
    std::vector<std::string> all = lines_of(golden_hx());
    ASSERT_EQ(hxo.size(), all.size() + 1);
    for (int k = 0; k < MC_OPTIONS_COUNT; k++)
        EXPECT_EQ(hxo[k + 1], all[mc_options[k].index + 1]) << k;
}

TEST_F(Console, TypeWords)
{
    const char *words[] = {"STATUS", "HIDDEN", "INFO", "SIP", "ISDN", "ANALOG",
                           "GSM",    "LOG",    "CTRL", "MISC", "CAS", "MSP"};
    for (int i = 0; i < 12; i++)
        EXPECT_STREQ(mc_util_format_command_type(1 << i), words[i]);
    for (int v : {0, 3, 4096, -1})
        EXPECT_STREQ(mc_util_format_command_type(v), "UNKNOWN");
    // No row carries STATUS or CAS; every row's bits are known ones.
    for (const mc_option &o : mc_options) {
        EXPECT_EQ(o.command_type & (MC_TYPE_STATUS | MC_TYPE_CAS), 0) << o.command;
        EXPECT_EQ(o.command_type & ~0xfff, 0) << o.command;
        EXPECT_EQ(o.command_length, o.parameters[0] ? (int)strlen(o.command) : 0) << o.command;
        EXPECT_NE(o.mc_function, nullptr) << o.command;
    }
}

// ---------------------------------------------------------------------------
// Dispatch

struct hit {
    int row;
    std::string arg;
};
std::vector<hit> hits;
int recording_handler(const char *arg, FILE *, int *)
{
    hits.push_back({(int)(mc_current_option() - mc_options), arg});
    return 0;
}

// Every row's handler replaced by the recorder for the life of the object.
struct recording_table {
    mc_function_t saved[MC_OPTIONS_COUNT];
    recording_table()
    {
        for (int i = 0; i < MC_OPTIONS_COUNT; i++) {
            saved[i] = mc_options[i].mc_function;
            mc_options[i].mc_function = recording_handler;
        }
        hits.clear();
    }
    ~recording_table()
    {
        for (int i = 0; i < MC_OPTIONS_COUNT; i++)
            mc_options[i].mc_function = saved[i];
    }
};

int row_of(const char *command, const char *parameters)
{
    for (int i = 0; i < MC_OPTIONS_COUNT; i++)
        if (!strcmp(mc_options[i].command, command) && !strcmp(mc_options[i].parameters, parameters))
            return i;
    return -1;
}

TEST_F(Console, EachLineReachesItsOwnRow)
{
    struct {
        const char *line, *command, *parameters, *arg;
    } cases[] = {
        {"ktp 3", "ktp ", "X", "3"}, {"kt 3", "kt ", "X", "3"},  {"kp 3", "kp ", "X", "3"},
        {"kt", "kt", "", ""},        {"k 3", "k ", "X", "3"},    {"k", "k", "", ""},
        {"v5", "v", "X", "5"},       {"v", "v", "", ""},         {"ccp", "ccp", "", ""},
        {"ccp 1", "ccp", "X", " 1"}, {"lp", "lp", "", ""},       {"lp 3", "lp ", "X", "3"},
        {"LH", "LH", "", ""},        {"lh 2", "lh", "X", " 2"},  {"cc", "cc", "", ""},
        {"cc4", "cc", "X", "4"},     {"n:1.2.3.4:5", "n:", "X", "1.2.3.4:5"},
        {"hf zzz", "hf", "X", " zzz"}, {"l 7", "l ", "X", "7"},  {"tti37", "tti", "XY", "37"},
        {"ev_hold:3", "ev_hold:", "X", "3"},
    };
    recording_table t;
    client c;
    for (auto &k : cases) {
        hits.clear();
        EXPECT_EQ(c.send(k.line), 0) << k.line;
        ASSERT_EQ(hits.size(), 1u) << k.line;
        EXPECT_EQ(hits[0].row, row_of(k.command, k.parameters)) << k.line;
        EXPECT_EQ(hits[0].arg, k.arg) << k.line;
        EXPECT_EQ(c.take(), "\r\n") << k.line;
    }
    // A command with a parameter needs more than its word; "l" takes none.
    for (const char *line : {"l12", "ktp ", "hf", "K", "", "hxx", "q "}) {
        hits.clear();
        c.send(line);
        EXPECT_TRUE(hits.empty()) << line;
        EXPECT_EQ(c.take(), std::string("Unknown input: ") + line + "\n\r\n");
    }
}

int ask_three(const char *, FILE *out, int *)
{
    fputs("question\n", out);
    return 3;
}
int set_five_through_pointer(const char *, FILE *, int *state)
{
    *state = 5;
    return 0;
}

TEST_F(Console, ResultsAndFollowUpStates)
{
    debug_lines log({TARN});
    int v = row_of("v", ""), q = row_of("q", "");
    mc_function_t saved_v = mc_options[v].mc_function;
    mc_options[v].mc_function = ask_three;
    client c;
    EXPECT_EQ(c.send("v"), 3);
    EXPECT_EQ(c.state, 3);
    EXPECT_EQ(c.take(), "question\n\r\n");
    // The pending question takes the next line, even a command word; the
    // dispatcher adds no line end on this path.
    EXPECT_EQ(c.send("h"), 0);
    EXPECT_EQ(c.state, 0);
    EXPECT_EQ(c.take(), "Cancelling request!\n\r\n");

    // A handler may set the state through its pointer.
    mc_options[v].mc_function = set_five_through_pointer;
    EXPECT_EQ(c.send("v"), 5);
    EXPECT_EQ(c.state, 5);
    mc_options[v].mc_function = saved_v;
    c.state = 0;
    c.take();

    // "q": result 1 closes a client; on standard input it is no command.
    EXPECT_EQ(c.send("q"), 1);
    EXPECT_EQ(c.take(), "Closing terminal\n\r\n");
    int st = 0;
    char *b = nullptr;
    size_t n = 0;
    FILE *mem = open_memstream(&b, &n);
    FILE *saved_stdout = stdout;
    stdout = mem;
    int r = mc_handle_input("q", stdout, &st);
    stdout = saved_stdout;
    fclose(mem);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(std::string(b, n), "Unknown input: \n\r\n");
    free(b);
    (void)q;

    // Rows of parts this build lacks answer in one line.
    c.state = 0;
    for (const mc_option &o : mc_options) {
        if (o.mc_function != mc_not_available)
            continue;
        std::string line = std::string(o.command) + (o.parameters[0] ? "3" : "");
        EXPECT_EQ(c.send(line.c_str()), 0);
        EXPECT_EQ(c.take(), std::string(o.command) + ": not available in this build\n\r\n");
        break;
    }
    // "c" and "greeting".
    c.send("c");
    EXPECT_EQ(c.take(), "\x1b[2J\x1b[1;1H\r\n");
    c.send("greeting");
    EXPECT_EQ(c.take(), "quilmar VoIP Gateway Console (enter h for help, q to quit)\r\n\r\n");
    // Every line is logged with its descriptor.
    EXPECT_GE(log.count("|greeting| on fd -1"), 1);
}

// ---------------------------------------------------------------------------
// Follow-up answers

struct doubles {
    static inline int shutdowns, loglevel_lists;
    static inline std::vector<std::string> netlog_targets;
    static inline std::vector<const call_configuration *> printed;
    static void shutdown_nua() { shutdowns++; }
    static void list_loglevels(FILE *out)
    {
        loglevel_lists++;
        fputs("levels\n", out);
    }
    static void netlog(FILE *, const char *text) { netlog_targets.push_back(text); }
    static void cc_print(FILE *out, const call_configuration *cc, int pattern, int sort)
    {
        printed.push_back(cc);
        fprintf(out, "cc %d %d\n", pattern, sort);
    }
    static void install()
    {
        shutdowns = loglevel_lists = 0;
        netlog_targets.clear();
        printed.clear();
        console_hooks h{};
        h.shutdown_nua = shutdown_nua;
        h.list_loglevels = list_loglevels;
        h.parse_and_update_netlog_target = netlog;
        h.cc_print_call_configuration = cc_print;
        mc_set_hooks(&h);
    }
};

TEST_F(Console, FollowUpAnswers)
{
    doubles::install();
    // A call in use at index 1, index 0 free.
    call_object free_co{}, used_co{};
    used_co.callinfo = 1;
    call_object *saved[2] = {gp->operations[0], gp->operations[1]};
    gp->operations[0] = &free_co;
    gp->operations[1] = &used_co;
    int saved_size = OPERATIONARRAYSIZE;
    OPERATIONARRAYSIZE = 2;

    struct {
        int state;
        const char *line, *out;
    } cases[] = {
        {2, "n", "Cancelling request!\n\r\n"},
        {2, "yes", "Cancelling request!\n\r\n"},
        {2, "y", "Shutting down application!\n\r\n"},
        {3, "x", "Cancelling request!\n\r\n"},
        {3, "5", "levels\n"},
        {4, "31", "levels\n"},
        {4, "", "Cancelling request!\n\r\n"},
        {5, "10.0.0.9:514", ""},
        {6, "600", "Ignoring invalid value 600\n\r\n"},
        {6, "-1", "Ignoring invalid value -1\n\r\n"},
        {6, "5x", "Ignoring invalid value 5x\n\r\n"},
        {7, "abc", "Ignoring invalid value abc\n\r\n"},
        {7, "999", "Ignoring invalid value 999\n"},
        {7, "99999999999999999999", "Ignoring invalid value 2147483647\n"},
        {7, "0", "No call at index 0\n"},
        {7, "", "No call at index 0\n"},
        {7, "1", "cc 0 0\n"},
        {8, "whatever", ""},
        {1, "h", ""},
    };
    client c;
    for (auto &k : cases) {
        c.state = k.state;
        EXPECT_EQ(c.send(k.line), 0) << k.state << " " << k.line;
        EXPECT_EQ(c.state, 0);
        EXPECT_EQ(c.take(), k.out) << k.state << " " << k.line;
    }
    EXPECT_EQ(doubles::shutdowns, 1);
    EXPECT_EQ(doubles::loglevel_lists, 2);
    EXPECT_EQ(log_get_loglevel(log_levels_debug, TARN), 5);
    EXPECT_EQ(log_get_loglevel(log_levels_message, TARN), 1);
    EXPECT_EQ(log_get_loglevel(log_levels_message, ISDN), 3);
    EXPECT_EQ(doubles::netlog_targets, std::vector<std::string>{"10.0.0.9:514"});
    ASSERT_EQ(doubles::printed.size(), 1u);
    EXPECT_EQ(doubles::printed[0], &used_co.cc);

    gp->operations[0] = saved[0];
    gp->operations[1] = saved[1];
    OPERATIONARRAYSIZE = saved_size;
    for (int m = 0; m < MODULECOUNT; m++)
        log_set_loglevel_debug(log_levels_debug, m, 9);
}

// ---------------------------------------------------------------------------
// Hooks

TEST_F(Console, UnfilledHooksLogOnceAndDoNothing)
{
    debug_lines log({TARN});
    const char *names[16];
    EXPECT_EQ(mc_unfilled_hooks(names, 16), 10);
    client c;
    c.state = 2;
    c.send("y");
    c.state = 2;
    c.send("y");
    EXPECT_EQ(c.take(), "Shutting down application!\n\r\nShutting down application!\n\r\n");
    EXPECT_EQ(log.count("CRITICAL: console: shutdown_nua is not part of this build"), 1);
    EXPECT_EQ(mc_hooks().get_operation_by_telnet_fd(4), nullptr);
    EXPECT_STREQ(mc_hooks().print_sm_state_call(nullptr, 1), "UNKNOWN_STATE");

    // Filling one entry keeps the others; null entries change nothing.
    doubles::install();
    EXPECT_EQ(mc_unfilled_hooks(names, 16), 6);
    console_hooks none{};
    mc_set_hooks(&none);
    mc_set_hooks(nullptr);
    EXPECT_EQ(mc_unfilled_hooks(names, 16), 6);
    EXPECT_STREQ(names[0], "add_sm_task");
    c.state = 2;
    c.send("y");
    EXPECT_EQ(doubles::shutdowns, 1);
}

// ---------------------------------------------------------------------------
// What a client sends

std::vector<std::string> split(console_input &in, const std::string &data, bool full)
{
    std::vector<std::string> lines;
    console_split_input(in, data.data(), data.size(), full, lines);
    return lines;
}

TEST_F(Console, ClientInputIsCutIntoLines)
{
    using V = std::vector<std::string>;
    struct {
        const char *data;
        V lines;
    } cases[] = {
        {"h;hs", {"h", "hs"}},
        {"h;hs\r\n", {"h", "hs"}},
        {"a\\;b\n", {"a;b"}},
        {" ; ;\r\n", {}},
        {"  l 3 \t;\tk\n\n", {"l 3", "k"}},
        {"x\ny\rz\n", {"x", "yz"}},
        {"\\;", {";"}},
        {"a\\\nb", {"a;b"}},
        {"a\\\\;b", {"a\\;b"}},
        {"\\", {"\\"}},
        {"a;\\", {"a", "\\"}},
        {"\x07\x08;", {";"}},
        {"", {}},
    };
    for (auto &k : cases) {
        console_input in;
        EXPECT_EQ(split(in, k.data, false), k.lines) << k.data;
        EXPECT_TRUE(in.tail.empty());
    }
}

TEST_F(Console, ACommandCutByAFullReadRunsOnce)
{
    // The read filled the buffer in the middle of "greeting": the tail waits
    // for the rest instead of running as a fragment.
    console_input in;
    std::string first = std::string(CONSOLE_READ_MAX - 12, ' ') + "h;hs;greetin";
    ASSERT_EQ(first.size(), (size_t)CONSOLE_READ_MAX);
    EXPECT_EQ(split(in, first, true), (std::vector<std::string>{"h", "hs"}));
    EXPECT_EQ(in.tail, "greetin");
    EXPECT_EQ(split(in, "g\nk", false), (std::vector<std::string>{"greeting", "k"}));
    EXPECT_TRUE(in.tail.empty());

    // A backslash at the cut still protects the semicolon after it.
    std::string esc = std::string(CONSOLE_READ_MAX - 4, ' ') + "k;a\\";
    EXPECT_EQ(split(in, esc, true), (std::vector<std::string>{"k"}));
    EXPECT_EQ(split(in, ";b\n", false), (std::vector<std::string>{"a;b"}));

    // A line longer than a whole read is dropped up to its end.
    std::string junk(CONSOLE_READ_MAX, 'x');
    EXPECT_TRUE(split(in, junk, true).empty());
    EXPECT_TRUE(in.dropping);
    EXPECT_TRUE(split(in, junk, true).empty());
    EXPECT_TRUE(split(in, "xxshutdown", false).empty());
    EXPECT_EQ(split(in, "xx\nh\n", false), (std::vector<std::string>{"h"}));
    EXPECT_FALSE(in.dropping);
}

} // namespace
