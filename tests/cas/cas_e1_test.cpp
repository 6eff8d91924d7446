// E1 MFC/R2 channels against cassim's R2 exchange, and what the read thread
// does with several lines in one read, the passthrough test pair, a device
// that vanishes and a device that is missing at start.
#include "cas_live.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

namespace {

// Port 1 (cas0/1) faces an R2 exchange that answers and clears back;
// port 32 (cas1/1) a far end the test plays; port 3 (cas0/3) is a T1
// FXS-KS channel the test plays; port 4 (cas0/4) one that vanishes.
class Env : public testing::Environment {
    void SetUp() override
    {
        log_capture_start();
        ASSERT_TRUE(cas_live_start({
            {1, 0, 1, HWCONF_ISDN_PROTOCOL_E1, CAS_SIGNALLING_E1_MFCR2,
             "role=r2,ack_ms=50,answer_ms=150,clearback_ms=150"},
            {32, 1, 1, HWCONF_ISDN_PROTOCOL_E1, CAS_SIGNALLING_E1_MFCR2, "role=plain"},
            {3, 0, 3, HWCONF_ISDN_PROTOCOL_T1, CAS_SIGNALLING_T1_FXSKS, "role=plain"},
            {4, 0, 4, HWCONF_ISDN_PROTOCOL_T1, CAS_SIGNALLING_T1_FXSKS, "role=plain"},
        }));
    }
    void TearDown() override { cas_live_stop(); }
};
testing::Environment *const env = testing::AddGlobalTestEnvironment(new Env);

bool inject(int port, const std::string &text)
{
    return cas_sim().inject(cas_channel(port), text);
}

std::string expect_pattern(int port, const char *regex)
{
    return cas_sim().expect(cas_channel(port), regex, 3000).text;
}

// Brings an E1 port the test plays to idle, whatever its state.
void e1_idle(int port)
{
    ASSERT_TRUE(inject(port, "1001\n"));
    ASSERT_TRUE(cas_wait_state(port, "CAS_STATE_E1_IDLE"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cas_sim().forget(cas_channel(port));
}

} // namespace

TEST(CasE1, OutboundSeizeAcknowledgeAnswerClearBack)
{
    // start-up: the exchange's idle brought the port out of its unknown state
    EXPECT_EQ(expect_pattern(1, "^1101$"), "1101");
    EXPECT_EQ(expect_pattern(1, "^1001$"), "1001");
    ASSERT_TRUE(cas_wait_state(1, "CAS_STATE_E1_IDLE"));
    cas_seen.clear();
    cas_sim().forget(cas_channel(1));

    ASSERT_EQ(cas_fetch_port(1), 1);
    cas_set_direction(1, CAS_DIRECTION_OUTBOUND);
    cas_send_event(1, CAS_EVENT_SEIZE);
    std::vector<line_event> ev = cas_seen.wait_count(1, 3, 3000);
    EXPECT_EQ(event_codes(ev), (std::vector<unsigned>{CAS_EVENT_DIAL_OUTBOUND, CAS_EVENT_OFFHOOK,
                                                    CAS_EVENT_ONHOOK}));
    EXPECT_EQ(expect_pattern(1, "^1001$"), "1001");
    EXPECT_EQ(cas_patterns(1), (std::vector<std::string>{"0001", "1001"}));
    ASSERT_TRUE(cas_wait_state(1, "CAS_STATE_E1_IDLE"));
    EXPECT_EQ(cas_get_port_in_use(1), 0);
    EXPECT_STREQ(print_cas_call_direction_of_port(1), "---");
    // the CAS trace has the R2 lines with their directions
    EXPECT_TRUE(log_capture_has("C1:0 S2C:0001\n"));
    EXPECT_TRUE(log_capture_has("C1:1 S2C:1101\n"));
    EXPECT_TRUE(log_capture_has("C1:0 ---:1001\n"));
}

TEST(CasE1, InboundCallAfterAGarbledLine)
{
    cas_seen.clear();
    // a line that is no pattern leaves the port unknown; idle recovers it
    ASSERT_TRUE(inject(32, "1x01\n"));
    ASSERT_TRUE(inject(32, "1001\n"));
    EXPECT_EQ(expect_pattern(32, "^1101$"), "1101");
    EXPECT_EQ(expect_pattern(32, "^1001$"), "1001");
    ASSERT_TRUE(cas_wait_state(32, "CAS_STATE_E1_IDLE"));
    EXPECT_TRUE(cas_seen.of_port(32).empty());

    ASSERT_TRUE(inject(32, "0001\n")); // the exchange seizes
    ASSERT_EQ(event_codes(cas_seen.wait_count(32, 1, 2000)), std::vector<unsigned>{CAS_EVENT_SEIZE});
    EXPECT_TRUE(cas_wait_in_use(32, 1));
    EXPECT_STREQ(print_cas_call_direction_of_port(32), "C2S");
    cas_send_event(32, CAS_EVENT_SEIZE_ACKNOWLEDGE);
    EXPECT_EQ(expect_pattern(32, "^1101$"), "1101");
    cas_send_event(32, CAS_EVENT_OFFHOOK); // answer
    EXPECT_EQ(expect_pattern(32, "^0101$"), "0101");
    EXPECT_STREQ(cas_print_port_state_of_port(32), "CAS_STATE_E1_CONNECTED");
    ASSERT_TRUE(inject(32, "1101\n"));
    EXPECT_EQ(expect_pattern(32, "^1001$"), "1001");
    EXPECT_EQ(event_codes(cas_seen.wait_count(32, 2, 2000)),
              (std::vector<unsigned>{CAS_EVENT_SEIZE, CAS_EVENT_ONHOOK}));
    ASSERT_TRUE(cas_wait_state(32, "CAS_STATE_E1_IDLE"));
    EXPECT_EQ(cas_get_port_in_use(32), 0);
}

TEST(CasReader, EveryLineOfOneReadIsUnderstood)
{
    e1_idle(32);
    cas_seen.clear();
    // E1: seize and idle in one piece: the seize is reported, then cleared
    ASSERT_TRUE(inject(32, "0001\n1001\n"));
    EXPECT_EQ(expect_pattern(32, "^1001$"), "1001");
    ASSERT_TRUE(cas_wait_state(32, "CAS_STATE_E1_IDLE"));
    EXPECT_EQ(event_codes(cas_seen.of_port(32)), std::vector<unsigned>{CAS_EVENT_SEIZE});
    // T1: the set lifted and hung up in one piece, with CR LF line ends
    ASSERT_TRUE(inject(3, "1111\r\n0101\r\n"));
    EXPECT_EQ(event_codes(cas_seen.wait_count(3, 2, 2000)),
              (std::vector<unsigned>{CAS_EVENT_OFFHOOK, CAS_EVENT_ONHOOK}));
    ASSERT_TRUE(cas_wait_state(3, "CAS_STATE_T1_IDLE"));

    // the read history lists what was read, in order
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    cas_print_event_history(f, 3);
    fclose(f);
    std::string h(text, size);
    free(text);
    size_t a = h.find("READ PORT 3: "), b = h.find(" 1111\n"), c = h.find(" 0101\n", b);
    EXPECT_NE(a, std::string::npos) << h;
    EXPECT_NE(b, std::string::npos) << h;
    EXPECT_NE(c, std::string::npos) << h;
    EXPECT_NE(h.find("WROTE PORT 3: "), std::string::npos) << h; // the start-up on hook
}

TEST(CasReader, PassthroughPairCopiesLines)
{
    cas_seen.clear();
    cas_sim().forget(cas_channel(32));
    cas_passthrough = 1;
    ASSERT_TRUE(inject(1, "0101\n"));
    EXPECT_EQ(expect_pattern(32, "^0101$"), "0101");
    ASSERT_TRUE(inject(32, "1111\n"));
    EXPECT_EQ(expect_pattern(1, "^1111$"), "1111");
    ASSERT_TRUE(inject(3, "1111\n")); // other ports: dropped
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cas_passthrough = 0;
    EXPECT_TRUE(cas_seen.of_port(1).empty());
    EXPECT_TRUE(cas_seen.of_port(32).empty());
    EXPECT_TRUE(cas_seen.of_port(3).empty());
    EXPECT_STREQ(cas_print_port_state_of_port(3), "CAS_STATE_T1_IDLE");
}

TEST(CasReader, VanishedDeviceDoesNotMakeTheReaderSpin)
{
    ASSERT_TRUE(cas_sim().close_line(cas_channel(4)));
    double before = process_cpu_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_LT(process_cpu_ms() - before, 200.0);
    cas_seen.clear();
    ASSERT_TRUE(inject(3, "1111\n"));
    EXPECT_EQ(event_codes(cas_seen.wait_count(3, 1, 2000)), std::vector<unsigned>{CAS_EVENT_OFFHOOK});
}

// In a child: a start whose first configured port has no device.
void start_without_device()
{
    dup2(2, 1);
    std::string root = make_test_root("casfail");
    cas_port_configuration cfg[CAS_PORT_TABLE] = {};
    cfg[77] = {1, CAS_SIGNALLING_T1_FXSKS, CAS_SIGNALLING_E1_MFCR2};
    cas_port_mappings[77] = {3, 2, 16, 1, 1};
    int rc = cas_init(nullptr, cfg, 0);
    remove_tree(root);
    _exit(rc == -1 ? 0 : 1);
}

TEST(CasInit, PortWithoutDeviceFailsTheStart)
{
    EXPECT_EXIT(start_without_device(), testing::ExitedWithCode(0),
                "Failed to open port 77 \\(/dev/cas2/16\\): fdr -1 fdw -1");
}
