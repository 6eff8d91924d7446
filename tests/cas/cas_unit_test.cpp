// The CAS library's tables, names, port checks and histories, on ports whose
// devices are socket pairs (no simulator, no threads).
#include "cas_internal.h"
#include "log_capture.h"
#include "timer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<unsigned> reported;

int record_event(int, unsigned event)
{
    reported.push_back(event);
    return 0;
}

int fdw_table[CAS_PORT_TABLE];
int fdr_table[CAS_PORT_TABLE];
int far_end[CAS_PORT_TABLE]; // the test's side of each fake device

// Port p as an opened port with a socket pair for its device.
void fake_port(int port, int signalling, int state, int direction = CAS_DIRECTION_NONE)
{
    if (!cas_ctl.fdws) {
        for (int i = 0; i < CAS_PORT_TABLE; i++)
            fdw_table[i] = fdr_table[i] = far_end[i] = -1;
        cas_ctl.fdws = fdw_table;
        cas_ctl.fdrs = fdr_table;
        timer_list_new(); // timers are armed, never run
    }
    if (far_end[port] < 0) {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        fcntl(sv[1], F_SETFL, O_NONBLOCK);
        fdw_table[port] = sv[0];
        far_end[port] = sv[1];
    }
    cas_ctl.configured[port] = 1;
    cas_ctl.signalling[port] = signalling;
    cas_ctl.protocol[port] =
        signalling == CAS_SIGNALLING_E1_MFCR2 ? HWCONF_ISDN_PROTOCOL_E1 : HWCONF_ISDN_PROTOCOL_T1;
    cas_ctl.port_state[port] = state;
    cas_ctl.direction[port] = direction;
    cas_ctl.in_use[port] = state == CAS_STATE_T1_IDLE || state == CAS_STATE_E1_IDLE ? 0 : 1;
}

// The lines the library wrote to the port since the last call.
std::vector<std::string> written(int port)
{
    std::string all;
    char buf[512];
    ssize_t n;
    while ((n = read(far_end[port], buf, sizeof buf)) > 0)
        all.append(buf, (size_t)n);
    std::vector<std::string> v;
    size_t start = 0, nl;
    while ((nl = all.find('\n', start)) != std::string::npos) {
        v.push_back(all.substr(start, nl - start));
        start = nl + 1;
    }
    return v;
}

void read_line(int port, const char *line)
{
    cas_guard lk(cas_lock);
    cas_receive(lk, port, line);
}

// Ticks left on the port's timer and its event; -1 without a timer.
int timer_ticks(int port)
{
    kv_timer *t = cas_onhook_timers[port].load();
    return t ? t->interval : -1;
}

struct row {
    const char *name;
    int signalling, state, direction;
    bool send;        // true: cas_send_event(event); false: the line is read
    int event;
    const char *line;
    std::vector<std::string> writes;
    int new_state;
    std::vector<unsigned> events;
    int in_use, new_direction;
    const char *printed; // expected on standard output, or null
};

const int FXO = CAS_SIGNALLING_T1_FXOKS, FXS = CAS_SIGNALLING_T1_FXSKS, R2 = CAS_SIGNALLING_E1_MFCR2;
const int NONE = CAS_DIRECTION_NONE, IN = CAS_DIRECTION_INBOUND, OUT = CAS_DIRECTION_OUTBOUND;

void run_rows(const std::vector<row> &rows)
{
    cas_callback = record_event;
    for (const row &r : rows) {
        const int port = 7;
        fake_port(port, r.signalling, r.state, r.direction);
        written(port);
        reported.clear();
        testing::internal::CaptureStdout();
        if (r.send)
            cas_send_event(port, r.event);
        else
            read_line(port, r.line);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(written(port), r.writes) << r.name;
        EXPECT_EQ(cas_ctl.port_state[port], r.new_state) << r.name;
        EXPECT_EQ(reported, r.events) << r.name;
        EXPECT_EQ(cas_ctl.in_use[port], r.in_use) << r.name;
        EXPECT_EQ(cas_ctl.direction[port], r.new_direction) << r.name;
        if (r.printed) {
            EXPECT_NE(out.find(r.printed), std::string::npos) << r.name << "\n" << out;
        }
    }
}

} // namespace

TEST(CasNames, EventsStatesDirectionsSignals)
{
    struct {
        int event;
        const char *text;
    } events[] = {
        {CAS_EVENT_OFFHOOK, "CAS_EVENT_OFFHOOK"},     {CAS_EVENT_SEIZE_ACKNOWLEDGE, "CAS_EVENT_SEIZE_ACKNOWLEDGE"},
        {CAS_EVENT_GENERATE_CID, "CAS_EVENT_GENERATE_CID"}, {CAS_EVENT_POLARITY, "CAS_EVENT_UNKNOWN"},
        {CAS_EVENT_RINGING_START, "CAS_EVENT_UNKNOWN"}, {0, "CAS_EVENT_UNKNOWN"},
    };
    for (const auto &e : events)
        EXPECT_STREQ(cas_event_to_text(nullptr, e.event), e.text) << e.event;
    EXPECT_STREQ(cas_print_port_state(CAS_STATE_T1_OFFHOOK), "CAS_STATE_T1_OFFHOOK");
    EXPECT_STREQ(cas_print_port_state(9), "CAS_STATE_REALLY_UNKNOWN");
    EXPECT_STREQ(cas_print_port_state(-1), "CAS_STATE_REALLY_UNKNOWN");
    EXPECT_STREQ(cas_print_direction(CAS_DIRECTION_BACKWARD), "BACKWARD");
    EXPECT_STREQ(cas_print_direction(5), "UNKNOWN");
    struct {
        int signal;
        const char *name;
    } mf[] = {
        {0, "MF_SIGNAL_SPECIAL_SMEVENT"},
        {MF_SIGNAL_FORWARD_A1_DIGIT_1, "MF_SIGNAL_FORWARD_A1_DIGIT_1"},
        {35, "MF_SIGNAL_FORWARD_B10_OPERATOR_WITH_FORWARD_TRANSFER_FACILITY"},
        {36, "MF_SIGNAL_FORWARD_11_SPARE"},
        {40, "MF_SIGNAL_FORWARD_15_SPARE"},
        {49, "MF_SIGNAL_BACKWARD_A9_SPARE"},
        {50, "MF_SIGNAL_BACKWARD_A10_SPAREs"},
        {63, "MF_SIGNAL_BACKWARD_B8_SUBSCRIBERS_LINE_OUT_OF_ORDER"},
        {70, "MF_SIGNAL_BACKWARD_B15_SPARE"},
        {71, "MF_SIGNAL_UNKNOWN"},
        {-1, "MF_SIGNAL_UNKNOWN"},
    };
    for (const auto &m : mf)
        EXPECT_STREQ(cas_print_mf_signal(m.signal), m.name) << m.signal;
    struct {
        const char *line;
        int pattern;
        const char *text;
    } patterns[] = {
        {"0000", CAS_PATTERN_0000, "0000"}, {"1001", CAS_PATTERN_1001, "1001"},
        {"1111", CAS_PATTERN_1111, "1111"}, {"111", 0, "9999"},
        {"11111", 0, "9999"},               {"1x01", 0, "9999"},
        {"", 0, "9999"},
    };
    for (const auto &p : patterns) {
        EXPECT_EQ(cas_pattern_of(p.line), p.pattern) << p.line;
        EXPECT_STREQ(cas_pattern_text(cas_pattern_of(p.line)), p.text) << p.line;
    }
}

TEST(CasPorts, EveryPortNumberIsCheckedBeforeUse)
{
    log_capture_start();
    const int bad[] = {0, -1, 150, 151, 1000, -100000};
    for (int p : bad) {
        log_capture_clear();
        cas_set_protocol(p, HWCONF_ISDN_PROTOCOL_T1);
        cas_set_direction(p, CAS_DIRECTION_INBOUND);
        EXPECT_EQ(cas_port_is_configured(p), 0);
        EXPECT_EQ(cas_get_port_in_use(p), 0);
        EXPECT_EQ(cas_get_signalling(p), 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(cas_get_signalling_by_port(p), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "cas_get_signalling_by_port: invalid cas port " + std::to_string(p) + "\n");
        EXPECT_STREQ(cas_get_signalling_string_by_port(p), "CAS_UNKNOWN");
        EXPECT_STREQ(cas_print_port_state_of_port(p), "CAS_STATE_PORT_NOT_CONFIGURED");
        EXPECT_STREQ(print_cas_call_direction_of_port(p), "???");
        EXPECT_EQ(cas_fetch_port(p), 0);
        EXPECT_EQ(cas_release_port(p), 0);
        EXPECT_EQ(cas_stop_ringing(p), 0);
        EXPECT_EQ(cas_send(p, "1111"), 0);
        EXPECT_EQ(cas_send_event(p, CAS_EVENT_OFFHOOK), 0);
        EXPECT_TRUE(log_capture_has("CRITICAL: no ctrl for port " + std::to_string(p) +
                                    " (32769:CAS_EVENT_OFFHOOK)"));
        FILE *devnull = fopen("/dev/null", "w");
        cas_print_event_history(devnull, p);
        fclose(devnull);
    }
}

TEST(CasT1, FxoKsRows)
{
    run_rows({
        {"idle, the exchange rings", FXO, CAS_STATE_T1_IDLE, NONE, false, 0, "0000", {},
         CAS_STATE_T1_RINGING_INBOUND, {CAS_EVENT_RINGING}, 1, IN, "CBS RING: 0000"},
        {"ringing, ring again", FXO, CAS_STATE_T1_RINGING_INBOUND, IN, false, 0, "0000", {},
         CAS_STATE_T1_RINGING_INBOUND, {}, 1, IN, "stopping timer1"},
        {"off hook, the exchange drops", FXO, CAS_STATE_T1_OFFHOOK, IN, false, 0, "1111", {},
         CAS_STATE_T1_IDLE, {CAS_EVENT_ONHOOK}, 1, NONE, nullptr},
        {"off hook, other line", FXO, CAS_STATE_T1_OFFHOOK, IN, false, 0, "0101", {},
         CAS_STATE_T1_OFFHOOK, {}, 1, IN, "RECEIVED |0101|"},
        {"unknown state recovers with on hook", FXO, CAS_STATE_UNKNOWN, OUT, false, 0, "0101", {},
         CAS_STATE_T1_IDLE, {}, 0, NONE, "CBS ONHOOK: 0101"},
        {"a state FXO-KS never has", FXO, CAS_STATE_T1_RINGING_OUTBOUND, OUT, false, 0, "0000", {},
         CAS_STATE_T1_RINGING_OUTBOUND, {}, 1, OUT, "ILLEGAL STATE 7"},
        {"empty line", FXO, CAS_STATE_T1_IDLE, NONE, false, 0, "", {}, CAS_STATE_T1_IDLE, {}, 0,
         NONE, "CBS IDLE: "},
        {"outgoing call", FXO, CAS_STATE_T1_IDLE, NONE, true, CAS_EVENT_OFFHOOK, nullptr, {"1111"},
         CAS_STATE_T1_OFFHOOK, {}, 1, OUT, nullptr},
        {"idle on hook", FXO, CAS_STATE_T1_IDLE, IN, true, CAS_EVENT_ONHOOK, nullptr, {"0101"},
         CAS_STATE_T1_IDLE, {}, 0, NONE, nullptr},
        {"answer", FXO, CAS_STATE_T1_RINGING_INBOUND, IN, true, CAS_EVENT_OFFHOOK, nullptr, {"1111"},
         CAS_STATE_T1_OFFHOOK, {}, 1, IN, "stopping timer2"},
        {"reject", FXO, CAS_STATE_T1_RINGING_INBOUND, IN, true, CAS_EVENT_ONHOOK, nullptr, {"0101"},
         CAS_STATE_T1_IDLE, {}, 0, IN, nullptr},
        {"hang up", FXO, CAS_STATE_T1_OFFHOOK, OUT, true, CAS_EVENT_ONHOOK, nullptr, {"0101"},
         CAS_STATE_T1_IDLE, {}, 0, NONE, nullptr},
        {"other event", FXO, CAS_STATE_T1_IDLE, NONE, true, CAS_EVENT_SEIZE, nullptr, {},
         CAS_STATE_T1_IDLE, {}, 0, NONE, "IGNORING CAS_STATE_T1_IDLE"},
    });
}

TEST(CasT1, FxsKsRows)
{
    run_rows({
        {"idle, the set is lifted", FXS, CAS_STATE_T1_IDLE, NONE, false, 0, "1111", {},
         CAS_STATE_T1_OFFHOOK, {CAS_EVENT_OFFHOOK}, 1, IN, "CBS OFFHOOK: 1111"},
        {"ringing, the set answers", FXS, CAS_STATE_T1_RINGING_OUTBOUND, OUT, false, 0, "1111", {},
         CAS_STATE_T1_OFFHOOK, {CAS_EVENT_OFFHOOK}, 1, OUT, nullptr},
        {"ringing, other line", FXS, CAS_STATE_T1_RINGING_OUTBOUND, OUT, false, 0, "0101", {},
         CAS_STATE_T1_RINGING_OUTBOUND, {}, 1, OUT, "RECEIVED |0101|"},
        {"off hook, the set hangs up", FXS, CAS_STATE_T1_OFFHOOK, IN, false, 0, "0101", {},
         CAS_STATE_T1_IDLE, {CAS_EVENT_ONHOOK}, 0, NONE, nullptr},
        {"garbage", FXS, CAS_STATE_T1_OFFHOOK, IN, false, 0, "10x1", {}, CAS_STATE_T1_OFFHOOK, {}, 1,
         IN, "UNKNOWN BIN STRING |10x1|"},
        {"start ringing", FXS, CAS_STATE_T1_IDLE, NONE, true, CAS_EVENT_RINGING_START, nullptr, {},
         CAS_STATE_T1_RINGING_OUTBOUND, {}, 1, OUT, "START RINGING"},
        {"ring", FXS, CAS_STATE_T1_RINGING_OUTBOUND, OUT, true, CAS_EVENT_RINGING, nullptr, {"0000"},
         CAS_STATE_T1_RINGING_OUTBOUND, {}, 1, OUT, nullptr},
        {"pause", FXS, CAS_STATE_T1_RINGING_OUTBOUND, OUT, true, CAS_EVENT_RINGING_PAUSE, nullptr,
         {"0101"}, CAS_STATE_T1_RINGING_OUTBOUND, {}, 1, OUT, nullptr},
        {"stop ringing", FXS, CAS_STATE_T1_RINGING_OUTBOUND, OUT, true, CAS_EVENT_ONHOOK, nullptr,
         {"0101"}, CAS_STATE_T1_IDLE, {}, 0, NONE, nullptr},
        {"release towards the set", FXS, CAS_STATE_T1_OFFHOOK, IN, true, CAS_EVENT_ONHOOK, nullptr,
         {"1111", "0101"}, CAS_STATE_T1_OFFHOOK, {}, 0, NONE, nullptr},
        {"other event off hook", FXS, CAS_STATE_T1_OFFHOOK, IN, true, CAS_EVENT_RINGING, nullptr, {},
         CAS_STATE_T1_OFFHOOK, {}, 1, IN, "IGNORING CAS_STATE_T1_OFFHOOK"},
    });
}

TEST(CasT1, RingTimersArmAndStop)
{
    const int port = 7;
    fake_port(port, FXO, CAS_STATE_T1_RINGING_INBOUND, IN);
    read_line(port, "0101");
    ASSERT_NE(cas_onhook_timers[port].load(), nullptr);
    EXPECT_EQ(timer_ticks(port), 450); // 4.5 s in ticks of 10 ms
    EXPECT_EQ(cas_onhook_timers[port].load()->event, CAS_TIMER_EVENT_ONHOOK);
    kv_timer *first = cas_onhook_timers[port].load();
    read_line(port, "0000");
    EXPECT_EQ(timer_ticks(port), 0);
    read_line(port, "0101");
    EXPECT_EQ(cas_onhook_timers[port].load(), first); // kept for the life of the process
    EXPECT_EQ(timer_ticks(port), 450);
    cas_send_event(port, CAS_EVENT_OFFHOOK); // answered
    EXPECT_EQ(timer_ticks(port), 0);

    // an FXS-KS answer stops the ring cadence at once
    fake_port(8, FXS, CAS_STATE_T1_RINGING_OUTBOUND, OUT);
    cas_timer_arm(8, 2, 0, CAS_TIMER_EVENT_RINGOFF);
    EXPECT_EQ(timer_ticks(8), 200);
    read_line(8, "1111");
    EXPECT_EQ(timer_ticks(8), 0);
}

TEST(CasE1, LineSignallingRows)
{
    log_capture_start();
    run_rows({
        {"unknown, far end idle", R2, CAS_STATE_UNKNOWN, NONE, false, 0, "1001", {"1101", "1001"},
         CAS_STATE_E1_IDLE, {}, 1, NONE, nullptr},
        {"idle, far end seizes", R2, CAS_STATE_E1_IDLE, NONE, false, 0, "0001", {}, CAS_STATE_E1_SEIZE,
         {CAS_EVENT_SEIZE}, 1, IN, nullptr},
        {"seize acknowledged", R2, CAS_STATE_E1_SEIZE, OUT, false, 0, "1101", {},
         CAS_STATE_E1_SEIZE_ACKNOWLEDGED, {CAS_EVENT_DIAL_OUTBOUND}, 1, OUT, nullptr},
        {"answer", R2, CAS_STATE_E1_SEIZE_ACKNOWLEDGED, OUT, false, 0, "0101", {},
         CAS_STATE_E1_CONNECTED, {CAS_EVENT_OFFHOOK}, 1, OUT, nullptr},
        {"seize given up", R2, CAS_STATE_E1_SEIZE, IN, false, 0, "1001", {"1001"}, CAS_STATE_E1_IDLE,
         {}, 0, NONE, nullptr},
        {"acknowledged, then idle", R2, CAS_STATE_E1_SEIZE_ACKNOWLEDGED, OUT, false, 0, "1001",
         {"1001"}, CAS_STATE_E1_IDLE, {CAS_EVENT_ONHOOK}, 0, NONE, nullptr},
        {"clear-back", R2, CAS_STATE_E1_CONNECTED, OUT, false, 0, "1101", {"1001"}, CAS_STATE_E1_IDLE,
         {CAS_EVENT_ONHOOK}, 0, NONE, nullptr},
        {"clear forward", R2, CAS_STATE_E1_CONNECTED, IN, false, 0, "1001", {"1001"},
         CAS_STATE_E1_IDLE, {CAS_EVENT_ONHOOK}, 0, NONE, nullptr},
        {"idle, other pattern", R2, CAS_STATE_E1_IDLE, NONE, false, 0, "1101", {}, CAS_STATE_E1_IDLE,
         {}, 0, NONE, nullptr},
        {"not bits", R2, CAS_STATE_E1_CONNECTED, IN, false, 0, "1x01", {}, CAS_STATE_UNKNOWN, {}, 1,
         IN, nullptr},
        {"foreign state, idle", R2, CAS_STATE_T1_OFFHOOK, IN, false, 0, "1001", {}, CAS_STATE_E1_IDLE,
         {}, 1, NONE, nullptr},
        {"foreign state, other", R2, CAS_STATE_T1_OFFHOOK, IN, false, 0, "0000", {},
         CAS_STATE_T1_OFFHOOK, {}, 1, IN, "OIOIOI"},
        {"inbound acknowledge", R2, CAS_STATE_E1_SEIZE, IN, true, CAS_EVENT_SEIZE_ACKNOWLEDGE, nullptr,
         {"1101"}, CAS_STATE_E1_SEIZE_ACKNOWLEDGED, {}, 1, IN, "SENDING CAS MESSAGE FOR EVENT"},
        {"inbound answer", R2, CAS_STATE_E1_SEIZE_ACKNOWLEDGED, IN, true, CAS_EVENT_OFFHOOK, nullptr,
         {"0101"}, CAS_STATE_E1_CONNECTED, {}, 1, IN, nullptr},
        {"inbound acknowledge when connected", R2, CAS_STATE_E1_CONNECTED, IN, true,
         CAS_EVENT_SEIZE_ACKNOWLEDGE, nullptr, {"1001"}, CAS_STATE_E1_IDLE, {}, 0, IN, nullptr},
        {"inbound on hook", R2, CAS_STATE_E1_CONNECTED, IN, true, CAS_EVENT_ONHOOK, nullptr,
         {"1101", "1001"}, CAS_STATE_E1_IDLE, {}, 0, NONE, nullptr},
        {"inbound other", R2, CAS_STATE_E1_IDLE, IN, true, CAS_EVENT_SEIZE, nullptr, {},
         CAS_STATE_E1_IDLE, {}, 0, IN, "UNKNOWN E1 CAS EVENT INBOUND"},
        {"outbound seize", R2, CAS_STATE_E1_IDLE, OUT, true, CAS_EVENT_SEIZE, nullptr, {"0001"},
         CAS_STATE_E1_SEIZE, {}, 0, OUT, nullptr},
        {"outbound clear forward", R2, CAS_STATE_E1_CONNECTED, OUT, true, CAS_EVENT_ONHOOK, nullptr,
         {"1001"}, CAS_STATE_E1_IDLE, {}, 0, NONE, nullptr},
        {"outbound on hook when idle", R2, CAS_STATE_E1_IDLE, OUT, true, CAS_EVENT_ONHOOK, nullptr,
         {"1101", "1001"}, CAS_STATE_E1_IDLE, {}, 0, NONE, nullptr},
        {"outbound other", R2, CAS_STATE_E1_SEIZE, OUT, true, CAS_EVENT_OFFHOOK, nullptr, {},
         CAS_STATE_E1_SEIZE, {}, 1, OUT, "UNKNOWN E1 CAS EVENT OUTBOUND"},
        {"no direction", R2, CAS_STATE_E1_IDLE, NONE, true, CAS_EVENT_ONHOOK, nullptr, {},
         CAS_STATE_E1_IDLE, {}, 0, NONE, "UNKNOWN E1 CAS EVENT NO DIRECTION"},
    });
    // the CAS trace carries the R2 lines with their direction
    EXPECT_TRUE(log_capture_has("C7:0 S2C:0001\n"));
    EXPECT_TRUE(log_capture_has("C7:1 ---:0001\n"));
    EXPECT_TRUE(log_capture_has("C7:1 S2C:0101\n"));
}

TEST(CasPorts, ClaimReleaseAndListing)
{
    fake_port(9, FXO, CAS_STATE_T1_IDLE);
    fake_port(10, FXS, CAS_STATE_T1_IDLE);
    fake_port(11, R2, CAS_STATE_E1_IDLE);
    written(9);
    EXPECT_EQ(cas_fetch_port(9), 9);
    EXPECT_EQ(cas_fetch_port(9), 0);
    EXPECT_EQ(cas_get_port_in_use(9), 1);

    struct {
        int port, signalling, state;
        std::vector<std::string> writes;
        int new_state, in_use;
        const char *printed;
    } cases[] = {
        {9, FXO, CAS_STATE_T1_OFFHOOK, {"0101"}, CAS_STATE_T1_IDLE, 0, nullptr},
        {9, FXO, CAS_STATE_T1_RINGING_INBOUND, {}, CAS_STATE_T1_RINGING_INBOUND, 1, nullptr},
        // a claim that never reached the line is given back, whatever the
        // signalling; a line in use is left to its signalling
        {9, FXO, CAS_STATE_T1_IDLE, {}, CAS_STATE_T1_IDLE, 0,
         "RELEASE: DOING NOTHING ON PORT 9 CAS_STATE_T1_IDLE\n"},
        {10, FXS, CAS_STATE_T1_IDLE, {}, CAS_STATE_T1_IDLE, 0, nullptr},
        {10, FXS, CAS_STATE_T1_RINGING_OUTBOUND, {}, CAS_STATE_T1_RINGING_OUTBOUND, 1, nullptr},
        {10, FXS, CAS_STATE_T1_OFFHOOK, {}, CAS_STATE_T1_OFFHOOK, 1, nullptr},
        {11, R2, CAS_STATE_E1_IDLE, {}, CAS_STATE_E1_IDLE, 0, nullptr},
        {11, R2, CAS_STATE_UNKNOWN, {}, CAS_STATE_UNKNOWN, 0, nullptr},
        {11, R2, CAS_STATE_E1_SEIZE, {}, CAS_STATE_E1_SEIZE, 1, nullptr},
    };
    for (const auto &c : cases) {
        fake_port(c.port, c.signalling, c.state);
        cas_ctl.in_use[c.port] = 1;
        testing::internal::CaptureStdout();
        EXPECT_EQ(cas_release_port(c.port), 1);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(written(c.port), c.writes);
        EXPECT_EQ(cas_ctl.port_state[c.port], c.new_state);
        EXPECT_EQ(cas_ctl.in_use[c.port], c.in_use);
        if (c.printed) {
            EXPECT_NE(out.find(c.printed), std::string::npos) << out;
        }
    }

    cas_set_direction(10, CAS_DIRECTION_OUTBOUND);
    EXPECT_STREQ(print_cas_call_direction_of_port(10), "S2C");
    EXPECT_STREQ(cas_get_signalling_string_by_port(10), "CAS_T1_FXS_KS");
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    cas_list_configured_ports(f);
    fclose(f);
    std::string listing(text, size);
    free(text);
    EXPECT_EQ(listing.rfind("Port\tProtocol\tSignalling\tIn Use\tPort State\tDirection\n", 0), 0u);
    EXPECT_NE(listing.find("\n10\tT1\tFXS_KS\t1\tCAS_STATE_T1_OFFHOOK\tOUTBOUND\n"),
              std::string::npos)
        << listing;
}

TEST(CasHistory, TheLastTenPatternsOldestFirst)
{
    const int port = 11;
    fake_port(port, FXS, CAS_STATE_T1_IDLE);
    cas_clear_event_history(nullptr);
    cas_set_starttime(-1);
    for (int i = 0; i < 12; i++) {
        char bits[5];
        for (int b = 0; b < 4; b++)
            bits[b] = (char)('0' + ((i >> (3 - b)) & 1));
        bits[4] = '\0';
        cas_send(port, bits);
    }
    cas_send(port, "not bits");
    EXPECT_GE(cas_get_starttime(), 0);
    {
        struct timeval t = {0, 0};
        cas_guard lk(cas_lock);
        cas_history_add(cas_ctl.read_history, port, t, "0101");
    }
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    cas_print_event_history(f, port);
    fclose(f);
    std::string h(text, size);
    free(text);
    std::string want = "READ PORT 11:   0:000000 0101\n\n";
    const char *wrote[] = {"0011", "0100", "0101", "0110", "0111", "1000", "1001", "1010", "1011", "9999"};
    size_t pos = h.find("\nWROTE");
    ASSERT_EQ(h.substr(0, want.size()), want) << h;
    for (const char *w : wrote) {
        size_t at = h.find(std::string(" ") + w + "\n", pos);
        ASSERT_NE(at, std::string::npos) << w << "\n" << h;
        pos = at + 1;
    }
    int lines = 0;
    for (size_t p = 0; (p = h.find("WROTE PORT 11: ", p)) != std::string::npos; p++)
        lines++;
    EXPECT_EQ(lines, 10);

    testing::internal::CaptureStdout();
    cas_clear_event_history(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CLEARING CAS EVENT HISTORY\n");
    EXPECT_EQ(cas_ctl.write_history.counter[port], 0);
    EXPECT_EQ(cas_ctl.read_history.counter[port], 0);
}
