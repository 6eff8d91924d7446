// With every log level on, the coders' output stays what it was: the log
// lines (the per-element lines and the "ISDN TX"/"ISDN RX" message trace),
// what the coders print to standard output, the raw element texts and the
// frames built. Inputs: the public BRI capture, messages libpri built
// (golden/libpri_frames.tsv), hand-made frames for the rarer elements, every
// builder on a well-filled call record and the parse of what it built.
// The expected transcript is golden/trace_lines.txt; TARN_WRITE_GOLDEN=1
// writes it anew from the present code.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "isdn_msg.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_test_support.h"

namespace {

const std::string golden_dir = std::string(TARN_SOURCE_DIR) + "/tests/q931/golden/";

std::string escaped(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char b[8];
            snprintf(b, sizeof(b), "\\x%02x", c);
            out += b;
        } else {
            out += (char)c;
        }
    }
    return out;
}

std::string *transcript = nullptr;

void record_log(int level, int port, int pid, const char *, int, const char *function, const char *format, ...)
{
    char line[4096];
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof(line), format, ap);
    va_end(ap);
    if (!transcript)
        return;
    // addresses differ from run to run
    static const std::regex address("0x[0-9a-f]{6,}");
    *transcript += "log " + std::to_string(level) + " p" + std::to_string(port) + " " + std::to_string(pid) + " " +
                   function + ": " + std::regex_replace(escaped(line), address, "0xADDR") + "\n";
}

time_t fixed_now()
{
    return 1747737000;  // 2025-05-20, summer time in the zone below
}

void add_raw_texts(const misdn_bchannel &bc, std::string &out)
{
    const bc_ie_facilities &f = bc.ie_facilities;
    const struct {
        const char *name;
        const char *text;
    } fields[] = {
        {"facility", f.ie_facility},       {"calling_pn", f.ie_calling_pn},
        {"calling_pn2", f.ie_calling_pn2}, {"called_pn", f.ie_called_pn},
        {"keypad", f.ie_keypad},           {"complete", f.ie_complete},
        {"redir_nr", f.ie_redir_nr},       {"bearer", f.ie_bearer},
        {"channel_id", f.ie_channel_id},   {"progress", f.ie_progress},
        {"useruser", f.ie_useruser},       {"hlc", f.ie_hlc},
        {"llc", f.ie_llc},                 {"cause", f.ie_cause},
        {"connect_pn", f.ie_connect_pn},   {"calling_subaddress", f.ie_calling_subaddress},
        {"called_subaddress", f.ie_called_subaddress}, {"display", f.ie_display},
    };
    for (const auto &x : fields)
        if (x.text[0])
            out += std::string("raw ") + x.name + "=" + escaped(x.text) + "\n";
    const struct tm &d = f.ie_date;
    if (d.tm_year || d.tm_mon || d.tm_mday) {
        char b[160];
        snprintf(b, sizeof(b), "date %d %d %d %d %d %d wday %d yday %d isdst %d\n", d.tm_year, d.tm_mon,
                 d.tm_mday, d.tm_hour, d.tm_min, d.tm_sec, d.tm_wday, d.tm_yday, d.tm_isdst);
        out += b;
    }
}

// Parses one frame on a fresh record and appends what came out.
void parse_case(const std::string &label, const octets &wire, int nt, int port, std::string &out)
{
    out += "== parse " + label + " nt=" + std::to_string(nt) + " port=" + std::to_string(port) + " " +
           hex(wire) + "\n";
    msg_t *m = frame_from_wire(wire, nt);
    if (!m) {
        out += "unusable\n";
        return;
    }
    misdn_bchannel bc;
    fresh_bc(&bc, port, nt);
    bc.use_qsig = 1;
    testing::internal::CaptureStdout();
    isdn_msg_parse_event(msgs_g, m, &bc, nt);
    fflush(stdout);
    std::string printed = testing::internal::GetCapturedStdout();
    if (!printed.empty())
        out += "stdout " + escaped(printed) + "\n";
    add_raw_texts(bc, out);
    free_msg(m);
}

void fill_rich(misdn_bchannel *bc)
{
    bc->channel = 2;
    bc->exclusive = 1;
    bc->oton = NUMTYPE_NATIONAL;
    strcpy(bc->oad, "301234");
    strcpy(bc->dad, "4711");
    strcpy(bc->info_dad, "47");
    strcpy(bc->rad, "4940111");
    strcpy(bc->keypad, "*9#");
    strcpy(bc->display, "Front desk");
    strcpy(bc->cad, "4711");
    bc->cton = NUMTYPE_SUBSCRIBER;
    bc->cpres = 1;
    bc->cscreen = 3;
    bc->sending_complete = 1;
    bc->out_cause = 17;
    bc->progress_indicator = 8;
    bc->progress_location = 2;
    bc->uu_protocol = 4;
    bc->uulen = 5;
    memcpy(bc->uu, "hello", 5);
    bc->hlclen = 2;
    bc->hlc[0] = 0x91;
    bc->hlc[1] = 0x81;
    bc->llclen = 3;
    bc->llc[0] = 0x88;
    bc->llc[1] = 0x90;
    bc->llc[2] = 0xa6;
    bc->use_qsig = 1;
    strcpy(bc->qsig_local_name, "Anna");
    bc->qsig_local_name_pres = 1;
}

// Builds the event's message in the mode on a filled record, appends what
// came out and the parse of the built message.
void build_case(event_e event, int nt, int port, std::string &out)
{
    const char *name = isdn_get_info(msgs_g, event, nt);
    out += std::string("== build ") + (name ? name : "?") + " nt=" + std::to_string(nt) + " port=" +
           std::to_string(port) + "\n";
    misdn_bchannel bc;
    fresh_bc(&bc, port, nt);
    fill_rich(&bc);
    testing::internal::CaptureStdout();
    msg_t *m = isdn_msg_build_event(msgs_g, &bc, event, nt);
    fflush(stdout);
    std::string printed = testing::internal::GetCapturedStdout();
    if (!printed.empty())
        out += "stdout " + escaped(printed) + "\n";
    if (!m) {
        out += "no frame\n";
        return;
    }
    octets wire = frame_to_wire(m, nt, port == 1 ? 1 : 2, 5, 0);
    out += "wire " + hex(wire) + "\n";
    free_msg(m);
    parse_case(std::string("built ") + (name ? name : "?"), wire, nt, port, out);
}

std::vector<std::pair<int, octets>> libpri_frames()
{
    std::vector<std::pair<int, octets>> frames;
    std::ifstream in(golden_dir + "libpri_frames.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string c;
        while (std::getline(ss, c, '\t'))
            cols.push_back(c);
        if (cols.size() == 3)
            frames.push_back({atoi(cols[1].c_str()), unhex(cols[2])});
    }
    return frames;
}

std::vector<octets> capture_frames()
{
    std::vector<octets> frames;
    std::ifstream in(shared_data_path("q931-captures/q931_messages.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("file", 0) == 0 || line.empty())
            continue;
        frames.push_back(unhex(line.substr(line.rfind('\t') + 1)));
    }
    return frames;
}

// Elements the captures and builders leave out, and faulty ones.
const char *const handmade[] = {
    "08 01 81 05 04 06 08 90 21 8f 48 08 6d 03 80 50 31 71 04 80 50 32 33 6c 02 01 81",
    "08 01 81 05 04 02 88 90 18 01 8b 6c 01 21 70 01 80 74 04 01 03 82 35 2c 02 31 32",
    "08 01 81 45 08 03 02 03 91 1e 02 82 88 7e 01 04",
    "08 01 81 07 29 06 19 0c 1f 17 3b 3b 4c 01 a1 28 00",
    "08 01 81 07 29 03 19 02 1e 29 04 19 03 1e 0c",
    "08 01 81 07 29 05 19 0a 1b 02 1e",
    "08 01 81 02 18 03 a9 83 85 18 01 e9",
    "08 01 81 02 18 03 a1 93 85",
    "08 01 81 62 1c 0e 91 a1 0b 02 01 03 02 01 00 80 03 42 6f 62 28 03 41 42 43",
    "08 01 81 64 1c 0e 91 a1 0b 02 01 03 02 01 19 30 0d 0a 01 05",
    "08 01 81 7b 2c 03 31 32 33 70 03 80 35 36 a1",
    "08 01 81 46 18 01 a1 79 01 80",
    "08 01 81 20 7e 00",
    "08 01 81 5a 08 01 80",
};

std::string run_all()
{
    std::string out;
    transcript = &out;
    misdn_lib_iface iface{};
    iface.cb_log = record_log;
    misdn_lib_set_iface(&iface);
    install_test_ports();
    q931_hooks h{};
    h.now = fixed_now;
    q931_set_hooks(&h);
    const char *old_tz = getenv("TZ");
    std::string saved = old_tz ? old_tz : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();

    for (const octets &w : capture_frames())
        for (int nt = 0; nt <= 1; nt++)
            parse_case("capture", w, nt, 1, out);
    for (const auto &f : libpri_frames())
        for (int nt = 0; nt <= 1; nt++)
            parse_case("libpri", f.second, nt, f.first, out);
    for (const char *w : handmade)
        for (int nt = 0; nt <= 1; nt++)
            for (int port : {1, 3})
                parse_case("handmade", unhex(w), nt, port, out);
    for (int row = 0; row < ISDN_MSG_ROWS; row++)
        for (int nt = 0; nt <= 1; nt++)
            for (int port : {1, 2})
                build_case(msgs_g[row].event, nt, port, out);

    if (old_tz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    misdn_lib_set_iface(nullptr);
    q931_reset_hooks();
    transcript = nullptr;
    return out;
}

void expect_same(const std::string &want, const std::string &got);

std::string golden_text()
{
    std::ifstream in(golden_dir + "trace_lines.txt");
    std::stringstream want;
    want << in.rdbuf();
    return want.str();
}

TEST(TraceGolden, OutputOfTheCodersIsUnchanged)
{
    if (capture_frames().empty())
        GTEST_SKIP() << "no public capture";
    std::string got = run_all();
    const std::string path = golden_dir + "trace_lines.txt";
    if (getenv("TARN_WRITE_GOLDEN")) {
        std::ofstream(path) << got;
        GTEST_SKIP() << "wrote " << path;
    }
    ASSERT_TRUE(std::ifstream(path).good()) << "no " << path;
    expect_same(golden_text(), got);
}

// With a log filter the callback sees exactly the lines the filter lets
// through, and everything else (raw texts, printed errors, frames) stays.
TEST(TraceGolden, FilterDecidesWhichLinesAreMade)
{
    if (capture_frames().empty())
        GTEST_SKIP() << "no public capture";
    static std::function<bool(int, int)> wanted;
    struct {
        const char *name;
        std::function<bool(int, int)> on;
    } cases[] = {
        {"everything", [](int, int) { return true; }},
        {"nothing", [](int, int) { return false; }},
        {"message trace only", [](int level, int) { return level == 66; }},
        {"element lines only", [](int level, int) { return level == 18; }},
        {"errors and detail", [](int level, int) { return level < 10; }},
        {"port 2 only", [](int, int port) { return port == 2; }},
    };
    const std::string golden = golden_text();
    static const std::regex log_line("^log (\\d+) p(\\d+) ");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        wanted = c.on;
        misdn_lib_set_log_filter([](int level, int port) { return wanted(level, port) ? 1 : 0; });
        std::string got = run_all();
        misdn_lib_set_log_filter(nullptr);
        std::string want;
        std::stringstream in(golden);
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            if (std::regex_search(line, m, log_line) && !c.on(std::stoi(m[1]), std::stoi(m[2])))
                continue;
            want += line + "\n";
        }
        expect_same(want, got);
    }
}

void expect_same(const std::string &want, const std::string &got)
{
    if (got == want)
        return;
    // the first line that differs, with the case it belongs to
    std::stringstream g(got), w(want);
    std::string gl, wl, head;
    int n = 0;
    while (true) {
        bool gm = (bool)std::getline(g, gl), wm = (bool)std::getline(w, wl);
        n++;
        if (!gm && !wm)
            break;
        if (wm && wl.rfind("== ", 0) == 0)
            head = wl;
        if (gl != wl || gm != wm) {
            ADD_FAILURE() << "line " << n << " in " << head << "\n want: " << (wm ? wl : "(end)")
                          << "\n  got: " << (gm ? gl : "(end)");
            break;
        }
    }
}

}  // namespace
