// The ISDN destination of a dial plan line against the ISDN library
// started in this process. Ports 1, 2, 3 and 17: TE basic rate
// point-to-multipoint (up whenever asked); 7: TE basic rate point-to-point
// without far end (never up). Groups a(1,2), b(3), hi(17).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <unistd.h>
#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "bchannel_sweep.h"
#include "dialplan.h"
#include "dialplan_targets.h"
#include "experimental_options.h"
#include "isdn_lib_intern.h"
#include "isdn_test_support.h"
#include "debug_lines.h"
#include "log.h"
#include "misdn_msg.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "confman.h"
#include "schema.h"

namespace {

class Library : public ::testing::Environment {
public:
    void SetUp() override
    {
        application_create();
        init_locks();
        gp->experimental_options = new experimental_options{};
        start_library("1 te bri ptmp - - -\n2 te bri ptmp - - -\n3 te bri ptmp - - -\n7 te bri ptp - - -\n"
                      "17 te bri ptmp - - -\n",
                      port_list({1, 2, 3, 7, 17}, {0, 0, 0, 1, 0}));
        // The daemon's groups and the library's, as bring-up makes them.
        cm_init();
        char tmpl[] = "/tmp/tarn-bchannel-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        std::string path = std::string(tmpl) + "/tarn.isdn";
        std::ofstream(path) << "[a]\nports=1,2\n[b]\nports=3\n[hi]\nports=17\n";
        gp->config_isdn = configman_create("ISDN");
        ASSERT_EQ(cm_load(&gp->config_isdn, path.c_str()), 0);
        unlink(path.c_str());
        rmdir(tmpl);
        pg_init_isdn_port_group_struct();
        misdn_lib_init_port_groups("a(1,2);b(3);hi(17)");
    }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Library);

// Debug lines of the TARN module while it lives.
struct tarn_lines : debug_lines {
    tarn_lines() : debug_lines({TARN}) {}
    bool has(const std::string &t) const { return count(t) > 0; }
};

// A call whose dial plan line has these destination ports.
struct routed_call {
    std::unique_ptr<call_object> co = std::make_unique<call_object>();
    dialplan_element dp{};
    std::vector<int> ports;
    explicit routed_call(std::vector<int> p) : ports(std::move(p))
    {
        init_call_object(co.get(), 0);
        co->pid = 4711;
        dp.to_ports = ports.data();
        dp.to_ports_count = (int)ports.size();
        dp.line = 7;
        co->dp = &dp;
    }
    // The port of the B-channel chosen for target (given back at once), or 0.
    int port_for(const char *target, int *ports_down = nullptr)
    {
        int down = 0;
        misdn_bchannel *bc = nullptr;
        with_global_lock([&] { bc = get_isdn_channel_by_dialplan_string(co.get(), target, &down); });
        if (ports_down)
            *ports_down = down;
        if (!bc)
            return 0;
        EXPECT_EQ(bc->pid, 4711) << "the call's identity goes to the B-channel";
        int port = bc->port;
        misdn_clear_unassociated_bc(bc);
        return port;
    }
};

TEST(BChannel, PortsOfTheLine)
{
    tarn_lines log;
    struct {
        const char *what;
        std::vector<int> ports;
        const char *target;
        std::vector<int> allowed; // ports the channel may be on; none: no channel
    } cases[] = {
        {"ports of one group", {2, 1}, "2,1", {1, 2}},
        {"one port of a group: only that port", {2}, "2", {2}},
        {"ports in two groups", {1, 3}, "1,3", {}},
        {"a port in no group", {1, 5}, "1,5", {}},
        {"no ports", {}, "", {}},
        {"a group target", {}, "g:b", {3}},
        {"a group target ignores the ports", {1}, "g:b", {3}},
        {"an unknown group", {1}, "g:nosuch", {}},
        {"g: alone is no group target", {3}, "g:", {3}},
        {"a port beyond the allowed set", {17}, "17", {}},
    };
    for (auto &c : cases) {
        routed_call call(c.ports);
        int port = call.port_for(c.target);
        if (c.allowed.empty())
            EXPECT_EQ(port, 0) << c.what;
        else
            EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), port), c.allowed.end()) << c.what << ": " << port;
    }
    EXPECT_TRUE(log.has("CRITICAL: port 17 of dialplan line 7 cannot be chosen (ports 0 to 15)"));
}

TEST(BChannel, PortByPortWhenAsked)
{
    tarn_lines log;
    gp->experimental_options->eo_dp_port_behaviour = 1;
    routed_call call({2, 1});
    EXPECT_EQ(call.port_for("2,1"), 2) << "the line's order, not the group's";
    routed_call apart({3, 1});
    EXPECT_EQ(apart.port_for("3,1"), 3) << "ports of two groups are fine one by one";
    // Port 7 is down and its slots are taken; port 5 has no stack, which
    // the library counts as up.
    misdn_bchannel *taken[2] = {misdn_lib_get_free_bc(7, 0, 0, 0, 1), misdn_lib_get_free_bc(7, 0, 0, 0, 1)};
    ASSERT_TRUE(taken[0] && taken[1]);
    int down = 0;
    routed_call unconfigured({5});
    EXPECT_EQ(unconfigured.port_for("5", &down), 0);
    EXPECT_EQ(down, 0);
    routed_call full({5, 7});
    EXPECT_EQ(full.port_for("5,7", &down), 0);
    EXPECT_EQ(down, 1);
    for (misdn_bchannel *bc : taken)
        misdn_clear_unassociated_bc(bc);
    EXPECT_TRUE(log.has("found bchannel on port 2"));
    EXPECT_TRUE(log.has("couldn get bchannel on port 5"));
    EXPECT_TRUE(log.has("couldn get bchannel on port 7"));
    gp->experimental_options->eo_dp_port_behaviour = 0;
}

TEST(BChannel, FullQueuesCancelTheAttempt)
{
    tarn_lines log;
    routed_call call({1});
    // A frame waits on port 1's queue (an empty one: the sender drops it).
    misdn_stack *stack = get_stack_by_isdn_port(1);
    ASSERT_NE(stack, nullptr);
    bool refused = false;
    for (int attempt = 0; attempt < 20 && !refused; attempt++) {
        msg_t *msg = alloc_msg(MAX_MSG_SIZE);
        ASSERT_NE(msg, nullptr);
        memset(msg->data, 0, mISDN_HEADER_LEN);
        msg->len = mISDN_HEADER_LEN;
        msg_queue_tail(&stack->downqueue, msg);
        misdn_set_check_queues_length(1);
        g_queue_full = 0;
        int port = call.port_for("1");
        misdn_set_check_queues_length(0);
        if (msg_t *left = msg_dequeue(&stack->downqueue)) {
            free_msg(left);
            refused = port == 0; // else the sender took the frame first: again
        }
    }
    ASSERT_TRUE(refused);
    EXPECT_EQ(g_queue_full, 1);
    EXPECT_TRUE(log.has("CRITICAL: mISDN-Downqueues are full (queue->len: 1), cancelling call attempt"));
    misdn_set_check_queues_length(5);
    EXPECT_EQ(call.port_for("1"), 1);
    EXPECT_EQ(g_queue_full, 0) << "below the limit the mark goes";
    misdn_set_check_queues_length(0);
}

TEST(BChannel, PortLists)
{
    struct {
        const char *text;
        int capacity;
        std::vector<int> want;
    } cases[] = {
        {"1,2,,3", 8, {1, 2, 3}},
        {",,", 8, {}},
        {"4", 8, {4}},
        {"1,2,3", 2, {1, 2}},
        {"g:a", 8, {1, 2}},
        {"g:a", 1, {1}},
        {"g:nosuch", 8, {}},
        {"g:", 8, {0}},
        {"", 8, {}},
    };
    for (auto &c : cases) {
        int out[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
        int n = isdn_dpstring_to_int_array(c.text, out, c.capacity);
        EXPECT_EQ(std::vector<int>(out, out + n), c.want) << c.text;
        if (c.capacity < 8) {
            EXPECT_EQ(out[c.capacity], -1) << c.text << ": nothing past the capacity";
        }
    }
    // The text is read up to 255 characters.
    std::string longer(254, ',');
    longer += "12,13";
    int out[4];
    ASSERT_EQ(isdn_dpstring_to_int_array(longer.c_str(), out, 4), 1);
    EXPECT_EQ(out[0], 1);
}

TEST(BChannel, SweepClearsAChannelWithoutCallOnTheSecondSweepInARow)
{
    tarn_lines log;
    const std::string cleared = "CRITICAL: Clearing unassociated bchannel";
    misdn_bchannel *bc = nullptr;
    with_global_lock([&] { bc = misdn_lib_get_free_bc(2, 0, 0, 0, 1); });
    ASSERT_NE(bc, nullptr);
    check_bchannels();
    EXPECT_EQ(bc->in_use, 1);
    EXPECT_EQ(bc->unassociated, 1) << "marked on the first sweep";

    // A call takes the channel before the next sweep: the mark goes.
    auto co = std::make_unique<call_object>();
    init_call_object(co.get(), 0);
    co->bc = bc;
    gp->operations[0] = co.get();
    check_bchannels();
    EXPECT_EQ(bc->in_use, 1);
    EXPECT_EQ(bc->unassociated, 0);

    // Left without its call, it again needs two sweeps in a row.
    gp->operations[0] = nullptr;
    check_bchannels();
    EXPECT_EQ(bc->in_use, 1);
    EXPECT_EQ(log.count(cleared), 0);
    check_bchannels();
    EXPECT_EQ(bc->in_use, 0);
    EXPECT_EQ(bc->unassociated, 0);
    EXPECT_EQ(log.count(cleared), 1);
    check_bchannels();
    EXPECT_EQ(log.count(cleared), 1) << "a free channel is left alone";
    std::string why;
    EXPECT_TRUE(all_free(&why)) << why;
}

} // namespace
