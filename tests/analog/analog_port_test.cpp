// The analog library against analogsim: command words on the devices,
// event lines into the callback, the scripted far ends.
#include "analogctl.h"
#include "line_events.h"
#include "linesim_client.h"
#include "log_capture.h"
#include "thread_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

line_events seen;

int on_event(int port, unsigned event)
{
    seen.add(port, event);
    return 0;
}

// The codes of the port's events once count of them have arrived.
std::vector<unsigned> wait_events(int port, size_t count, int ms = 3000)
{
    return event_codes(seen.wait_count(port, count, ms));
}

// ... once the last one is `last`.
std::vector<unsigned> wait_last(int port, unsigned last)
{
    return event_codes(seen.wait_last(port, last));
}

std::string root;
linesim *sim = nullptr;

// Ports: 1 a telephone set that answers 300 ms into ringing, 2 an exchange
// line, 3 a set found off hook at start, 4 a set for command words.
class AnalogEnv : public testing::Environment {
public:
    void SetUp() override
    {
        root = make_test_root("analogport");
        ASSERT_FALSE(root.empty());
        analog_shutdown(); // nothing started yet: nothing to do
        sim = new linesim("sim/analogsim/analogsim.py", root,
                          {"--port", "1:type=FXS,answer_after=300", "--port", "2:type=FXO",
                           "--port", "3:type=FXS,state=FXS_OFFHOOK", "--port", "4:type=FXS"});
        ASSERT_TRUE(sim->running());
        log_capture_start();
        analog_port_configuration cfg[ANALOG_PORT_TABLE] = {};
        cfg[1] = {1, 1, 0};
        cfg[2] = {1, 2, 0};
        cfg[3] = {1, 1, 0};
        cfg[4] = {1, 1, 500};
        ASSERT_EQ(analog_init(on_event, cfg, 0), 0);
    }
    void TearDown() override
    {
        analog_shutdown(); // the read threads end before what they report into
        delete sim;
        remove_tree(root);
    }
};

testing::Environment *const env = testing::AddGlobalTestEnvironment(new AnalogEnv);

std::vector<std::string> words_of(const std::vector<sim_record> &r)
{
    std::vector<std::string> v;
    for (const auto &x : r)
        v.push_back(x.text);
    return v;
}

} // namespace

TEST(AnalogPort, OpenedPortsAndTheirStartState)
{
    for (int p = 1; p <= 4; p++)
        EXPECT_EQ(analog_port_is_valid(p), 1) << p;
    EXPECT_EQ(analog_port_is_valid(5), 0);
    EXPECT_EQ(analog_get_type_by_port(2), 2);
    EXPECT_EQ(analog_get_type_by_port(4), 1);
    EXPECT_EQ(analog_is_fxs_in_offhook_state(3), 1); // from the sysfs state
    EXPECT_EQ(analog_is_fxs_in_offhook_state(4), 0);
}

TEST(AnalogPort, CommandWordsReachTheDeviceOneByOne)
{
    ASSERT_TRUE(sim->forget("4"));
    struct {
        int event;
        const char *word; // null: not sent
    } cases[] = {
        {ANALOG_EVENT_OFFHOOK, "offhook"},         {ANALOG_EVENT_ONHOOK, "onhook"},
        {ANALOG_EVENT_RINGING, "ringing"},         {ANALOG_EVENT_RINGOFF, "ringoff"},
        {ANALOG_EVENT_FLASHHOOK, "flashhook"},     {ANALOG_EVENT_TAXPULSE12, "taxpulse12:800"},
        {ANALOG_EVENT_TAXPULSE16, "taxpulse16:800"}, {ANALOG_EVENT_WINK, "wink500"},
        {ANALOG_EVENT_POLARITY, nullptr},          {ANALOG_EVENT_IDLE, nullptr},
    };
    std::vector<std::string> want;
    testing::internal::CaptureStdout();
    for (const auto &c : cases) {
        EXPECT_EQ(analog_send_event(4, c.event), 0);
        if (c.word)
            want.push_back(c.word);
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Event 8195 not supported\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Event 8198 not supported\n"), std::string::npos) << out;

    // Two words written in one piece are told apart by the driver side.
    EXPECT_EQ(analog_send(4, "offhookringoff"), 0);
    want.push_back("offhook");
    want.push_back("ringoff");
    ASSERT_GE(sim->expect("4", "^ringoff$", 3000).t, 0); // the first ringoff
    ASSERT_GE(sim->expect("4", "^ringoff$", 3000).t, 0); // the last one
    EXPECT_EQ(words_of(sim->records("4")), want);

    // The console changes the wink duration; the next wink carries it.
    analog_ctlport *row = get_analog_ctlport(4);
    ASSERT_NE(row, nullptr);
    row->fxs_wink_duration = 300;
    analog_send_event(4, ANALOG_EVENT_WINK);
    EXPECT_GE(sim->expect("4", "^wink300$").t, 0);
}

TEST(AnalogPort, InjectedEventsReachTheCallbackInOrder)
{
    seen.clear();
    struct {
        const char *text;
        std::vector<unsigned> events;
        int offhook;
    } cases[] = {
        {"FXS_OFFHOOK\r\n", {ANALOG_EVENT_OFFHOOK}, 1},
        {"FXS_FLASHHOOK\r\nFXS_ONHOOK\r\n", {ANALOG_EVENT_FLASHHOOK, ANALOG_EVENT_ONHOOK}, 0},
        {"FXS_OFFHOOK\r\n", {ANALOG_EVENT_OFFHOOK}, 1},
        {"static on the line\r\n", {ANALOG_EVENT_UNKNOWN}, 0},
    };
    std::vector<unsigned> want;
    for (const auto &c : cases) {
        ASSERT_TRUE(sim->inject("4", c.text));
        want.insert(want.end(), c.events.begin(), c.events.end());
        EXPECT_EQ(wait_events(4, want.size()), want) << c.text;
        EXPECT_EQ(analog_is_fxs_in_offhook_state(4), c.offhook) << c.text;
    }
}

TEST(AnalogPort, TelephoneSetAnswersTheRinging)
{
    seen.clear();
    ASSERT_TRUE(sim->forget("1"));
    EXPECT_EQ(analog_send_event(1, ANALOG_EVENT_RINGING), 0);
    EXPECT_EQ(wait_events(1, 1), std::vector<unsigned>{ANALOG_EVENT_OFFHOOK});
    EXPECT_EQ(analog_is_fxs_in_offhook_state(1), 1);
    analog_send_event(1, ANALOG_EVENT_RINGOFF);
    sim_record ring = sim->records("1").at(0);
    EXPECT_EQ(ring.text, "ringing");
    EXPECT_GE(sim->expect("1", "^ringoff$").t, 0);

    // The transcript has the ring command, the answer about 300 ms later,
    // and the ring-off after it.
    std::string tr = sim->transcript();
    double t_ring = -1, t_answer = -1, t_off = -1;
    for (size_t pos = 0; pos < tr.size();) {
        size_t nl = tr.find('\n', pos);
        std::string l = tr.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? tr.size() : nl + 1;
        double t = atof(l.c_str());
        if (l.find(" 1 < ringing") != std::string::npos)
            t_ring = t;
        else if (l.find(" 1 > FXS_OFFHOOK\\r\\n") != std::string::npos)
            t_answer = t;
        else if (l.find(" 1 < ringoff") != std::string::npos)
            t_off = t;
    }
    ASSERT_GE(t_ring, 0) << tr;
    // not before its 300 ms (how much later depends on the machine's load)
    EXPECT_GE(t_answer - t_ring, 0.295) << tr;
    EXPECT_GT(t_off, t_answer);
}

TEST(AnalogPort, ExchangeRingsAndTheGatewayAnswers)
{
    seen.clear();
    ASSERT_TRUE(sim->forget("2"));
    ASSERT_TRUE(sim->request({"ring", "2", "3", "150", "150"}));
    // first burst: ringing, ring-off, then ringing again (a late wake-up on
    // a loaded machine may find the next burst's events as well)
    std::vector<unsigned> first = wait_events(2, 3);
    first.resize(3);
    EXPECT_EQ(first, (std::vector<unsigned>{ANALOG_EVENT_RINGING, ANALOG_EVENT_RINGOFF,
                                            ANALOG_EVENT_RINGING}));
    analog_send_event(2, ANALOG_EVENT_OFFHOOK);
    EXPECT_GE(sim->expect("2", "^offhook$").t, 0);
    std::vector<unsigned> ev = wait_last(2, ANALOG_EVENT_OFFHOOK);
    ASSERT_GE(ev.size(), 4u);
    // answered: the exchange rings no more. A ring event the exchange sent
    // before it saw the off-hook may still be on its way: let it arrive,
    // then nothing more may come.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    size_t settled = wait_events(2, 0, 0).size();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(wait_events(2, 0, 0).size(), settled);
    analog_send_event(2, ANALOG_EVENT_ONHOOK);
    EXPECT_EQ(wait_last(2, ANALOG_EVENT_ONHOOK).size(), settled + 1);
    EXPECT_EQ(words_of(sim->records("2")), (std::vector<std::string>{"offhook", "onhook"}));
}

TEST(AnalogPort, VanishedDeviceDoesNotMakeTheReaderSpin)
{
    ASSERT_TRUE(sim->close_line("3"));
    double before = process_cpu_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_LT(process_cpu_ms() - before, 150.0);
    // the other ports still work
    analog_send_event(4, ANALOG_EVENT_FLASHHOOK);
    EXPECT_GE(sim->expect("4", "^flashhook$").t, 0);
}

int read_threads()
{
    return count_threads("tarn.analog", true);
}

TEST(AnalogPort, ShutdownEndsTheReadThreadsAndAStartOpensThemAgain)
{
    ASSERT_EQ(read_threads(), 4);
    analog_shutdown();
    EXPECT_EQ(read_threads(), 0);
    EXPECT_EQ(get_analog_ctlport(1), nullptr);
    analog_shutdown(); // twice: nothing left to do

    analog_port_configuration cfg[ANALOG_PORT_TABLE] = {};
    cfg[2] = {1, 2, 0};
    ASSERT_EQ(analog_init(on_event, cfg, 0), 0);
    EXPECT_EQ(read_threads(), 1);
    seen.clear();
    ASSERT_TRUE(sim->request({"ring", "2", "1", "100", "100"}));
    EXPECT_EQ(wait_events(2, 1), std::vector<unsigned>{ANALOG_EVENT_RINGING});
}

// In a child: a start with ports 9 and 10 configured and no devices.
void start_without_devices()
{
    std::string r = make_test_root("analogfail");
    analog_port_configuration cfg[ANALOG_PORT_TABLE] = {};
    cfg[9].configured = cfg[10].configured = 1;
    int rc = analog_init(on_event, cfg, 0);
    remove_tree(r);
    _exit(rc == -1 ? 0 : 1);
}

TEST(AnalogInit, PortWithoutDeviceFailsTheStart)
{
    EXPECT_EXIT(start_without_devices(), testing::ExitedWithCode(0),
                "Couldn't initialize analog port 9\n");
}
