// The library started on a set of ports of this process: port facts and
// status lines, call slots, B-stack identities, and the choice of a
// B-channel from port groups by every method and direction.
//
// Ports: 1, 2, 20 TE basic rate point-to-multipoint (up whenever asked);
// 3 TE E1 wired to 4 NT E1; 5 TE T1 wired to 6 NT T1; 7 TE basic rate
// point-to-point without a far end (its layer 2 never comes up); 8 NT basic
// rate point-to-multipoint. Port 20 leaves the channel to the network (any).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "isdn_lib_intern.h"
#include "isdn_test_support.h"
#include "misdn_harness.h"
#include "misdn_sim.h"

namespace {

class Ports : public ::testing::Environment {
  public:
    // The library's threads end before the test's records they report into.
    void TearDown() override { misdn_lib_destroy(); }
    void SetUp() override
    {
        int a = free_local_port(), b = free_local_port(), c = free_local_port(), d = free_local_port();
        std::string sim = "1 te bri ptmp - - -\n"
                          "2 te bri ptmp - - -\n"
                          "3 te e1 ptp " + std::to_string(a) + " " + std::to_string(b) + " -\n"
                          "4 nt e1 ptp " + std::to_string(b) + " " + std::to_string(a) + " -\n"
                          "5 te t1 ptp " + std::to_string(c) + " " + std::to_string(d) + " -\n"
                          "6 nt t1 ptp " + std::to_string(d) + " " + std::to_string(c) + " -\n"
                          "7 te bri ptp - - -\n"
                          "8 nt bri ptmp - - -\n"
                          "20 te bri ptmp - - -\n";
        misdn_lib_chansel_behaviour[1] = CHANNEL_EXCLUSIVE;  // 20 keeps the default: any
        misdn_lib_chansel_behaviour[2] = CHANNEL_ALTERNATIVE;
        start_library(sim, port_list({1, 2, 3, 4, 5, 6, 7, 8, 20}, {0, 0, 1, 1, 1, 1, 1, 0, 0}));
        misdn_set_t1(5, 1);
        misdn_set_t1(6, 1);
        bool up = wait_until([] {
            for (int p : {3, 4, 5, 6})
                if (misdn_lib_port_up(p, 1) != 1)
                    return false;
            return misdn_lib_port_up(8, 1) == 1;
        }, 10000);
        if (!up)
            fprintf(stderr, "the wired ports did not come up\n");
    }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Ports);

// Gives back every slot a test took.
void free_all()
{
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
        for (int i = 0; i <= s->b_num && i < MISDN_SLOTS; i++)
            if (s->bc[i].in_use)
                misdn_clear_unassociated_bc(&s->bc[i]);
}

struct slot_guard {
    ~slot_guard() { free_all(); }
};

TEST(Stacks, PortFactsAndStatusLines)
{
    EXPECT_EQ(misdn_get_stack_count(), 9);
    EXPECT_EQ(misdn_get_channel_count(), 5 * 2 + 4 * 30) << "a T1 port counts 30";
    EXPECT_EQ(misdn_lib_maxports_get(), 20);
    struct {
        int port, nt, pri, ptp, b_num, full, dchannel;
    } facts[] = {
        {1, 0, 0, 0, 2, 3, 0}, {3, 0, 1, 1, 30, 30, 16}, {4, 1, 1, 1, 30, 30, 16},
        {5, 0, 1, 1, 23, 23, 16}, {7, 0, 0, 1, 2, 3, 0}, {8, 1, 0, 0, 2, 3, 0},
    };
    for (const auto &f : facts) {
        misdn_stack *s = get_stack_by_isdn_port(f.port);
        ASSERT_NE(s, nullptr) << f.port;
        EXPECT_EQ(misdn_port_is_nt(f.port), f.nt) << f.port;
        EXPECT_EQ(misdn_lib_port_is_pri(f.port), f.pri) << f.port;
        EXPECT_EQ(misdn_lib_is_ptp(f.port), f.ptp) << f.port;
        EXPECT_EQ(misdn_get_channelcount_by_stack(s), f.b_num) << f.port;
        EXPECT_EQ(misdn_get_full_channelcount_by_stack(s), f.full) << f.port;
        EXPECT_EQ(misdn_lib_get_dchannel(f.port), f.dchannel) << f.port;
        EXPECT_EQ(misdn_port_has_stack(f.port), 1);
    }
    for (int absent : {0, 9, 13, -1, 40}) {
        EXPECT_EQ(misdn_port_has_stack(absent), 0);
        EXPECT_EQ(misdn_lib_is_ptp(absent), -1);
        EXPECT_EQ(misdn_lib_port_is_pri(absent), -1);
        EXPECT_EQ(misdn_lib_port_up(absent, 1), -1);
        EXPECT_EQ(misdn_lib_is_l2_up(absent), -1);
        EXPECT_EQ(misdn_lib_port_block(absent), -1);
        char buf[128] = "x";
        get_show_stack_details(absent, buf, sizeof buf);
        EXPECT_STREQ(buf, "");
        get_show_stack_details_compact(absent, buf, sizeof buf);
        EXPECT_STREQ(buf, "");
    }
    EXPECT_EQ(misdn_get_stack_by_index(2)->port, 3);
    EXPECT_EQ(misdn_get_stack_by_index(9), nullptr);

    char buf[128];
    get_show_stack_details(4, buf, sizeof buf);
    EXPECT_STREQ(buf, "* Port 4 Type NT Prot. PTP L2Link UP L1Link:UP Blocked:0");
    get_show_stack_details(7, buf, sizeof buf);
    EXPECT_STREQ(buf, "* Port 7 Type TE Prot. PTP L2Link DOWN L1Link:UP Blocked:0");
    misdn_lib_port_block(7);
    get_show_stack_details_compact(7, buf, sizeof buf);
    EXPECT_STREQ(buf, "ISDNINFO:7:TE:PTP:0:1:1");
    EXPECT_EQ(misdn_lib_is_port_blocked(7), 1);
    EXPECT_EQ(misdn_lib_port_up(7, 1), -1);
    misdn_lib_port_unblock(7);
    get_show_stack_details(7, buf, 20);
    EXPECT_STREQ(buf, "* Port 7 Type TE Pr") << "cut to the size given";
    EXPECT_EQ(misdn_lib_is_te_ptp_l2_down(7), 1);
    EXPECT_EQ(misdn_lib_is_te_ptp_l2_down(3), 0);
    EXPECT_EQ(misdn_lib_is_te_ptp_l2_down(8), 0);
}

TEST(Stacks, PortListOutsideOneToThirtyOneIsRefused)
{
    misdn_stack *before = get_misdn_stack();
    misdn_cb_event before_cb = cb_event;
    misdn_lib_iface other{};
    for (int count : {0, 32, -1}) {
        isdn_init_info iii = port_list({1}, {1});
        iii.port_count = count;
        EXPECT_EQ(misdn_lib_init(&iii, &other, nullptr), 1) << count;
    }
    EXPECT_EQ(misdn_lib_init(nullptr, &other, nullptr), 1);
    EXPECT_EQ(get_misdn_stack(), before) << "the running library is untouched";
    EXPECT_EQ(cb_event, before_cb);
}

TEST(Stacks, PointToMultipointTePortCountsAsUp)
{
    ASSERT_EQ(misdn_sim_set_l1(2, false), 0);
    ASSERT_TRUE(wait_until([] { return misdn_link_get(&get_stack_by_isdn_port(2)->l1link) == 0; }, 2000));
    EXPECT_EQ(misdn_lib_port_up(2, 1), 0);
    EXPECT_EQ(misdn_lib_port_up(2, 0), 1);
    EXPECT_EQ(is_port_up(2, 1), 1) << "layer 1 comes up with the call";
    misdn_set_permanent_l1(2, 1);
    EXPECT_EQ(is_port_up(2, 1), 0);
    misdn_set_permanent_l1(2, 0);
    ASSERT_EQ(misdn_sim_set_l1(2, true), 0);
    ASSERT_TRUE(wait_until([] { return misdn_link_get(&get_stack_by_isdn_port(2)->l1link) == 1; }, 2000));
    EXPECT_EQ(is_port_up(-5, 1), 1) << "an unconfigured port counts as up here";
}

TEST(Stacks, SettersReachEverySlotOfThePort)
{
    misdn_allow_qsig(3, 1);
    misdn_set_reject_unknown_facility(3, 1);
    misdn_stack *s = get_stack_by_isdn_port(3);
    for (int i = 0; i < MISDN_SLOTS; i++) {
        EXPECT_EQ(s->bc[i].use_qsig, 1);
        EXPECT_EQ(s->bc[i].reject_unknown_facility, 1);
    }
    EXPECT_EQ(get_stack_by_isdn_port(4)->bc[0].use_qsig, 0);
    misdn_allow_qsig(3, 0);
    misdn_set_reject_unknown_facility(3, 0);
    misdn_allow_qsig(42, 1);  // no stack: nothing
}

TEST(Slots, FreeSlotSearch)
{
    slot_guard g;
    struct {
        int port, channel;
        const char *why;
    } refused[] = {{1, -1, "Requested channel out of bounds (-1)"},
                   {1, 32, "Requested channel out of bounds (32)"},
                   {9, 0, "Port is not configured (9)"},
                   {1, 3, "Requested channel:3 is out of bounds on port:1"},
                   {3, 31, "Requested channel:31 is out of bounds on port:3"}};
    for (const auto &r : refused) {
        EXPECT_EQ(misdn_lib_get_free_bc(r.port, r.channel, 1, 0, 1), nullptr) << r.why;
        EXPECT_TRUE(rec.log_has(r.why)) << r.why;
    }
    misdn_lib_port_block(1);
    EXPECT_EQ(misdn_lib_get_free_bc(1, 0, 1, 0, 1), nullptr);
    misdn_lib_port_unblock(1);

    misdn_bchannel *a = misdn_lib_get_free_bc(1, 2, 1, 0, 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->channel, 2);
    EXPECT_EQ(a->channel_preselected, 1);
    EXPECT_GT(a->pid, 0);
    EXPECT_EQ(misdn_lib_get_free_bc(1, 2, 1, 0, 1), nullptr) << "channel 2 is in use";
    misdn_bchannel *b = misdn_lib_get_free_bc(1, 0, 0, 0, 1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->cw, 0);
    EXPECT_EQ(misdn_lib_get_free_bc(1, 0, 0, 0, 1), nullptr) << "incoming calls get no call-waiting slot";
    misdn_bchannel *c = misdn_lib_get_free_bc(1, 0, 1, 0, 1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c, &get_stack_by_isdn_port(1)->bc[2]);
    EXPECT_EQ(c->cw, 1);
    EXPECT_EQ(misdn_lib_get_free_bc(1, 0, 1, 0, 1), nullptr);
    EXPECT_EQ(misdn_lib_get_free_bc(7, 0, 1, 0, 1), &get_stack_by_isdn_port(7)->bc[0]);
    EXPECT_EQ(misdn_lib_get_free_bc(7, 0, 1, 0, 1), &get_stack_by_isdn_port(7)->bc[1]);
    EXPECT_EQ(misdn_lib_get_free_bc(7, 0, 1, 0, 1), nullptr) << "point-to-point: no call-waiting slot";
    misdn_bchannel *top = misdn_lib_get_free_bc(3, 0, 1, 1, 0);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top, &get_stack_by_isdn_port(3)->bc[29]) << "downwards from the top";
    EXPECT_EQ(top->dec, 1);
    EXPECT_EQ(top->pid, 0) << "no call id asked for";
}

TEST(Slots, LookupsHoldersAndStateNames)
{
    slot_guard g;
    misdn_stack *s = get_stack_by_isdn_port(2);
    misdn_bchannel *bc = misdn_lib_get_free_bc(2, 0, 1, 0, 1);
    ASSERT_NE(bc, nullptr);
    bc->l3_id = 0x10042;
    EXPECT_EQ(find_bc_by_l3id(s, 0x10042), bc);
    EXPECT_EQ(find_bc_by_l3id(s, 0), nullptr) << "free slots have l3 id 0";
    misdn_bchannel h1{}, h2{};
    h1.l3_id = 0x77;
    h2.l3_id = 0x78;
    misdn_holder_add_by_port(2, &h1);
    misdn_holder_add_by_port(2, &h2);
    EXPECT_EQ(find_bc_by_l3id(s, 0x78), &h2);
    EXPECT_EQ(misdn_holder_bc_is_on_holder_stack(2, &h2), 1);
    misdn_holder_remove_by_port(2, &h1);
    EXPECT_EQ(s->holding, &h2);
    EXPECT_EQ(h1.stack_holder, 0);
    misdn_holder_remove_by_port(2, &h2);
    EXPECT_EQ(s->holding, nullptr);
    EXPECT_EQ(misdn_holder_bc_is_on_holder_stack(2, &h2), 0);
    misdn_holder_add_by_port(9, &h1);
    EXPECT_TRUE(rec.log_has("*misdn_holder_add_by_port 9, no stack"));
    EXPECT_EQ(misdn_holder_bc_is_on_holder_stack(9, &h1), 0);
    EXPECT_STREQ(bc_state2str(BCHAN_BRIDGED), "BCHAN_BRIDGED");
    EXPECT_STREQ(bc_state2str(13), "UNKNOWN");
}

TEST(Slots, BStackIdentityOfChannels)
{
    misdn_bchannel bc{};
    struct {
        int port, channel, index;  // -1: none
    } rows[] = {{3, 1, 0},   {3, 15, 14}, {3, 16, 15}, {3, 17, 15}, {3, 31, 29}, {5, 24, 22},
                {5, 31, -1}, {1, 2, 1},   {1, 255, -1}, {1, 0, -1},  {1, 3, -1}};
    for (const auto &r : rows) {
        bc.port = r.port;
        bc.channel = r.channel;
        bc.meta = nullptr;
        misdn_lib_attach_meta(&bc);
        misdn_stack *s = get_stack_by_isdn_port(r.port);
        EXPECT_EQ(bc.meta, r.index < 0 ? nullptr : &s->bc_meta[r.index]) << r.port << ":" << r.channel;
    }
    misdn_stack *e1 = get_stack_by_isdn_port(3);
    EXPECT_EQ(e1->bc_meta[14].channel, 15);
    EXPECT_EQ(e1->bc_meta[15].channel, 17);
    EXPECT_NE(e1->bc_meta[0].addr, 0) << "B-channel layer set up at start";
}

// Sends with a bound on the time: a send that hangs on its lock fails the test.
int send_bounded(misdn_bchannel *bc, event_e e)
{
    auto f = std::async(std::launch::async, [=] { return misdn_lib_send_event(bc, e); });
    if (f.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        ADD_FAILURE() << "sending " << e << " hangs";
        abort();
    }
    return f.get();
}

TEST(Slots, HeldCallKeepsNoLockedSendLock)
{
    slot_guard g;
    misdn_stack *s = get_stack_by_isdn_port(8);
    misdn_bchannel *bc = misdn_lib_get_free_bc(8, 0, 1, 0, 1);
    ASSERT_NE(bc, nullptr);
    bc->l3_id = 0x20040;
    bc->channel = 1;
    int pid = bc->pid;
    ASSERT_EQ(send_bounded(bc, EVENT_HOLD_ACKNOWLEDGE), 0);
    misdn_bchannel *held = s->holding;
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->holded, 1);
    EXPECT_EQ(held->l3_id, 0x20040);
    EXPECT_EQ(held->pid, pid);
    EXPECT_EQ(held->astbuf, nullptr) << "the audio ring stays with the slot";
    EXPECT_EQ(bc->in_use, 0) << "the slot of a held NT call is given back";
    EXPECT_EQ(bc->l3_id, 0);
    EXPECT_EQ(find_bc_by_l3id(s, 0x20040), held);
    // both records take their send locks again
    EXPECT_EQ(send_bounded(held, EVENT_RETRIEVE_ACKNOWLEDGE), 0);
    misdn_bchannel *slot = misdn_lib_get_free_bc(8, 0, 1, 0, 1);
    ASSERT_EQ(slot, bc);
    bc_copy_call(slot, held);
    EXPECT_EQ(send_bounded(slot, EVENT_DISCONNECT), 0);
    stack_holder_remove(s, held);
    free(held);
}

TEST(Slots, TeProcessIdsKeepTheEntityBits)
{
    slot_guard g;
    misdn_lib_set_te_l3id_counter(0xFFFE);
    std::vector<int> ids;
    for (int i = 0; i < 2; i++) {
        misdn_bchannel *bc = misdn_lib_get_free_bc(20, 0, 1, 0, 1);
        ASSERT_NE(bc, nullptr);
        ASSERT_EQ(send_bounded(bc, EVENT_SETUP), 0);
        ids.push_back(bc->l3_id);
    }
    EXPECT_EQ(ids[0] & 0xFFFF, 0xFFFF);
    EXPECT_EQ(ids[1] & 0xFFFF, 1) << "the counter starts again at 1";
    EXPECT_EQ(ids[0] >> 16, ids[1] >> 16) << "the entity is untouched";
    EXPECT_GT(ids[0] >> 16, 0);
}

// ---- port groups ----

std::vector<int> group_ports(const char *name)
{
    misdn_chansel_settings *g = misdn_lib_get_port_group_settings_by_name(name);
    if (!g)
        return {-1};
    return std::vector<int>(g->chansel_ports, g->chansel_ports + g->chansel_number_of_ports);
}

TEST(PortGroups, Text)
{
    struct {
        const char *text;
        const char *name;
        std::vector<int> ports;
        int count;
    } rows[] = {
        {"g1(1,2)", "g1", {1, 2}, 1},
        {"g1(1,2);", "g1", {1, 2}, 1},
        {";;g1(1,2);;", "g1", {1, 2}, 1},
        {"a(1);b(2,x,,3);c(3)", "b", {2, 0, 0, 3}, 3},
        {"a(1);b(", "a", {1}, 2},           // cut inside the last group: left out
        {"a(1,2);b(3,4", "b", {-1}, 2},
        {"pbx(1,2);trunk(12", "trunk", {-1}, 2},
        {"g()", "g", {0}, 1},
        {"no groups", "no groups", {-1}, 0},
        {"", "", {-1}, 0},
    };
    for (const auto &r : rows) {
        misdn_lib_init_port_groups(r.text);
        EXPECT_EQ(group_ports(r.name), r.ports) << r.text;
        EXPECT_EQ(isdn_port_group_settings.count, r.count) << r.text;
    }
    misdn_lib_init_port_groups("a(1,2);b(3,4");
    EXPECT_TRUE(rec.log_has("port group text ends inside group 'b', group left out"));
    EXPECT_EQ(misdn_lib_get_free_bc_by_port_group("b", nullptr, 0, nullptr, nullptr), nullptr);
    misdn_lib_init_port_groups("no groups");
    EXPECT_EQ(misdn_lib_get_free_bc_by_port_group("no groups", nullptr, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(misdn_lib_set_channel_selection("nope", 1, 0), -1);
    EXPECT_EQ(misdn_lib_set_port_pullup("nope", 1), -1);

    misdn_lib_init_port_groups("x(2);y(1,2)");
    EXPECT_EQ(misdn_lib_get_port_group_settings_by_port(2), misdn_lib_get_port_group_settings_by_name("x"));
    EXPECT_EQ(misdn_lib_get_port_group_settings_by_port(1), misdn_lib_get_port_group_settings_by_name("y"));
    EXPECT_EQ(misdn_lib_get_port_group_settings_by_port(3), nullptr);
}

// Takes B-channels from a group n times: "port:channel" each, "-" for none;
// with `give_back` every call is freed before the next.
std::string take(const char *group, int n, bool give_back, unsigned mask = 0)
{
    std::string seq;
    for (int i = 0; i < n; i++) {
        int down = 0;
        misdn_bchannel *bc = misdn_lib_get_free_bc_by_port_group(group, &down, mask, nullptr, nullptr);
        if (!seq.empty())
            seq += ",";
        if (!bc) {
            seq += "-";
            continue;
        }
        seq += std::to_string(bc->port) + ":" + std::to_string(bc->channel);
        if (give_back)
            misdn_clear_unassociated_bc(bc);
    }
    return seq;
}

struct sequence_row {
    const char *ports;
    int method, direction;
    int n;
    bool give_back;
    const char *want;
};

class GroupSequence : public ::testing::TestWithParam<sequence_row> {};

TEST_P(GroupSequence, ChannelsComeInTheMethodsOrder)
{
    slot_guard g;
    const sequence_row &r = GetParam();
    misdn_lib_init_port_groups((std::string("g(") + r.ports + ")").c_str());
    ASSERT_EQ(misdn_lib_set_channel_selection("g", r.method, r.direction), 0);
    EXPECT_EQ(take("g", r.n, r.give_back), r.want);
}

const char *e1_up = "3:1,3:2,3:3,3:4,3:5,3:6,3:7,3:8,3:9,3:10,3:11,3:12,3:13,3:14,3:15,3:17,3:18,3:19,3:20,"
                    "3:21,3:22,3:23,3:24,3:25,3:26,3:27,3:28,3:29,3:30,3:31,-";
const char *e1_down = "3:31,3:30,3:29,3:28,3:27,3:26,3:25,3:24,3:23,3:22,3:21,3:20,3:19,3:18,3:17,3:15,3:14,"
                      "3:13,3:12,3:11,3:10,3:9,3:8,3:7,3:6,3:5,3:4,3:3,3:2,3:1,-";
const char *t1_down = "5:24,5:23,5:22,5:21,5:20,5:19,5:18,5:17,5:15,5:14,5:13,5:12,5:11,5:10,5:9,5:8,5:7,5:6,"
                      "5:5,5:4,5:3,5:2,5:1,-";

INSTANTIATE_TEST_SUITE_P(
    Methods, GroupSequence,
    ::testing::Values(
        sequence_row{"1,2", CHANSEL_STANDARD, 0, 5, false, "1:1,1:2,2:1,2:2,-"},
        sequence_row{"1,2", CHANSEL_STANDARD, 1, 5, false, "2:2,2:1,1:2,1:1,-"},
        sequence_row{"1,2", CHANSEL_STANDARD, 0, 3, true, "1:1,1:1,1:1"},
        sequence_row{"1,2", CHANSEL_STANDARD, 1, 3, true, "2:2,2:2,2:2"},
        sequence_row{"1,2", CHANSEL_ROUNDROBIN, 0, 6, true, "1:1,1:2,2:1,2:2,1:1,1:2"},
        sequence_row{"1,2", CHANSEL_ROUNDROBIN, 1, 6, true, "2:2,2:1,1:2,1:1,2:2,2:1"},
        sequence_row{"1,2", CHANSEL_ROUNDROBIN, 0, 5, false, "1:1,1:2,2:1,2:2,-"},
        sequence_row{"3", CHANSEL_STANDARD, 0, 31, false, e1_up},
        sequence_row{"3", CHANSEL_ROUNDROBIN, 1, 31, false, e1_down},
        sequence_row{"5", CHANSEL_STANDARD, 1, 24, false, t1_down},
        sequence_row{"7,1", CHANSEL_STANDARD, 0, 3, false, "1:1,1:2,-"},
        sequence_row{"7,1", CHANSEL_STANDARD, 0, 3, true, "1:1,1:2,1:1"},
        sequence_row{"9,99,-4,1", CHANSEL_STANDARD, 0, 3, true, "1:1,1:2,1:1"},
        sequence_row{"20", CHANSEL_STANDARD, 0, 3, false, "20:0,20:0,-"}));

TEST(PortGroups, RoundRobinResumesAfterTheStartedOverWalk)
{
    slot_guard g;
    misdn_lib_init_port_groups("rr(1)");
    misdn_lib_set_channel_selection("rr", CHANSEL_ROUNDROBIN, 0);
    misdn_bchannel *first = misdn_lib_get_free_bc_by_port_group("rr", nullptr, 0, nullptr, nullptr);
    misdn_bchannel *second = misdn_lib_get_free_bc_by_port_group("rr", nullptr, 0, nullptr, nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->channel, 1);
    EXPECT_EQ(second->channel, 2);
    misdn_clear_unassociated_bc(second);
    misdn_bchannel *third = misdn_lib_get_free_bc_by_port_group("rr", nullptr, 0, nullptr, nullptr);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->channel, 2) << "channel 1 is still busy";
}

TEST(PortGroups, RandomStaysInsideTheGroupAndOffTheDChannel)
{
    slot_guard g;
    misdn_lib_init_port_groups("r(3,1)");
    misdn_lib_set_channel_selection("r", CHANSEL_RANDOM, 0);
    int taken = 0;
    for (int i = 0; i < 40; i++) {
        misdn_bchannel *bc = misdn_lib_get_free_bc_by_port_group("r", nullptr, 0, nullptr, nullptr);
        if (!bc)
            break;
        taken++;
        EXPECT_TRUE(bc->port == 3 || bc->port == 1);
        EXPECT_NE(bc->channel, 16);
        EXPECT_GE(bc->channel, 1);
        EXPECT_LE(bc->channel, bc->port == 3 ? 31 : 2);
    }
    EXPECT_EQ(taken, 32) << "every channel of both ports, then none";
}

TEST(PortGroups, MasksMapsAndDownPorts)
{
    slot_guard g;
    misdn_lib_init_port_groups("m(1,2);d(7);h(20,1);e(3)");
    EXPECT_EQ(take("m", 3, false, 0x4), "1:2,2:2,-") << "only channel 2 allowed";
    free_all();

    // the call's port maps have 33 and 16 entries; ports beyond them index nothing
    auto blocked = std::make_unique<unsigned char[]>(ISDN_BLOCKED_PORTS_MAP);
    auto allowed = std::make_unique<unsigned char[]>(ISDN_ALLOWED_PORTS_MAP);
    for (int i = 0; i < ISDN_BLOCKED_PORTS_MAP; i++)
        blocked[i] = 0;
    for (int i = 0; i < ISDN_ALLOWED_PORTS_MAP; i++)
        allowed[i] = 0;
    misdn_bchannel *bc = misdn_lib_get_free_bc_by_port_group("h", nullptr, 0, blocked.get(), nullptr);
    ASSERT_NE(bc, nullptr);
    EXPECT_EQ(bc->port, 20) << "port 20 is not marked";
    allowed[1] = 1;
    bc = misdn_lib_get_free_bc_by_port_group("h", nullptr, 0, nullptr, allowed.get());
    ASSERT_NE(bc, nullptr);
    EXPECT_EQ(bc->port, 1) << "port 20 is beyond the 16-entry allowed set";
    blocked[1] = 1;
    EXPECT_EQ(misdn_lib_get_free_bc_by_port_group("h", nullptr, 0, blocked.get(), allowed.get()), nullptr);
    free_all();

    int down = 0;
    EXPECT_EQ(misdn_lib_get_free_bc_by_port_group("d", &down, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(down, 1);
    misdn_lib_set_port_pullup("d", 2);
    down = 0;
    bc = misdn_lib_get_free_bc_by_port_group("d", &down, 0, nullptr, nullptr);
    ASSERT_NE(bc, nullptr) << "pull-up 2 goes on although the port stays down";
    EXPECT_EQ(bc->port, 7);
    EXPECT_EQ(down, 0);
    EXPECT_TRUE(rec.log_has("Port not up, but continuing anyway!"));
    misdn_lib_set_port_pullup("d", 1);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(is_port_up(7, 1), 0);
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_GE(waited.count(), 150) << "waited for the port";
    EXPECT_TRUE(rec.log_has("Waiting 190 ms -> port up 0"));

    misdn_lib_port_block(3);
    EXPECT_EQ(misdn_lib_get_free_bc_by_port_group("e", nullptr, 0, nullptr, nullptr), nullptr);
    misdn_lib_port_unblock(3);
}

TEST(PortGroups, EmptyGroupsAndUnknownMethods)
{
    slot_guard g;
    misdn_lib_init_port_groups("z(1)");
    misdn_chansel_settings *z = misdn_lib_get_port_group_settings_by_name("z");
    ASSERT_NE(z, nullptr);
    z->chansel_method = CHANSEL_ROUNDROBIN;
    z->chansel_current_index = 17;
    EXPECT_EQ(take("z", 1, true), "1:1") << "a stored index outside the list starts over";
    for (int method : {CHANSEL_STANDARD, CHANSEL_ROUNDROBIN, CHANSEL_RANDOM}) {
        z->chansel_method = method;
        z->chansel_number_of_ports = 0;
        EXPECT_EQ(misdn_lib_get_free_bc_by_port_group("z", nullptr, 0, nullptr, nullptr), nullptr) << method;
        z->chansel_number_of_ports = 1;
    }
    EXPECT_EQ(misdn_lib_set_channel_selection("z", CHANSEL_ROUNDROBIN, 1), 0);
    z->chansel_method = 7;
    rec.clear();
    EXPECT_EQ(misdn_lib_get_free_bc_by_port_group("z", nullptr, 0, nullptr, nullptr), nullptr);
    EXPECT_TRUE(rec.log_has("Couldn't get any free bc"));
}

}  // namespace
