// Calls through the library in this process: a TE port wired to an NT port
// of the same process, with a small stand-in for call control in the event
// hook. Sending events, incoming events in both modes, hold and retrieve,
// layer-1 loss with restart, port restart, B-channel frames, and many calls
// in a row.
//
// Ports: 1 TE basic rate point-to-point wired to 2 NT basic rate
// point-to-point; 3 NT basic rate point-to-multipoint without terminals
// whose channel is left to the far side (any).
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>

#include "global_lock.h"
#include "isdn_lib_intern.h"
#include "isdn_test_support.h"
#include "misdn_harness.h"
#include "misdn_sim.h"
#include "q931_info.h"

namespace {

constexpr int TE = 1, NT = 2, BUS = 3;

std::unique_ptr<tmp_dir> traces;  // removed when the process ends
std::string trace_te() { return traces->file("te.trace"); }

// How the stand-in for call control answers.
struct call_control {
    std::atomic<int> answer{3};             // SETUP: 1 proceeding, 2 + alerting, 3 + connect
    std::atomic<bool> hang_up{true};        // the caller disconnects once connected
    std::atomic<bool> on_sender{true};      // every event came on the sender thread with global_lock held
    std::atomic<int> off_sender{0};
    std::atomic<int> data_len{-1};
    std::atomic<int> setup_response{RESPONSE_OK};
    unsigned char data[8] = {};
};
call_control cc;

std::string thread_name()
{
    char name[17] = "";
    prctl(PR_GET_NAME, name, 0, 0, 0);
    return name;
}

event_response_e stand_in(event_e event, misdn_bchannel *bc)
{
    bool locked = pthread_mutex_trylock(g_lock_manager->global_lock) == EBUSY;
    if (!locked)
        pthread_mutex_unlock(g_lock_manager->global_lock);
    bool sender = thread_name() == "tarn.isdn_evs";
    switch (event) {
    case EVENT_BCHAN_DATA:
        cc.data_len = bc->bframe_len;
        memcpy(cc.data, bc->bframe, bc->bframe_len < 8 ? (size_t)bc->bframe_len : 8);
        return RESPONSE_OK;
    case EVENT_DTMF_TONE:
    case EVENT_NEW_CHANNEL:
        return RESPONSE_OK;
    default:
        break;
    }
    if (!sender || !locked)
        cc.off_sender++;
    switch (event) {
    case EVENT_SETUP:
        if (cc.setup_response != RESPONSE_OK)
            return (event_response_e)cc.setup_response.load();
        if (cc.answer >= 1)
            misdn_lib_send_event(bc, EVENT_PROCEEDING);
        if (cc.answer >= 2)
            misdn_lib_send_event(bc, EVENT_ALERTING);
        if (cc.answer >= 3)
            misdn_lib_send_event(bc, EVENT_CONNECT);
        break;
    case EVENT_CONNECT:
        if (cc.hang_up) {
            bc->out_cause = 16;
            misdn_lib_send_event(bc, EVENT_DISCONNECT);
        }
        break;
    case EVENT_DISCONNECT:
        bc->out_cause = 16;
        misdn_lib_send_event(bc, EVENT_RELEASE);
        break;
    case EVENT_RELEASE:
        misdn_lib_send_event(bc, EVENT_RELEASE_COMPLETE);
        break;
    case EVENT_HOLD:
        misdn_lib_send_event(bc, EVENT_HOLD_ACKNOWLEDGE);
        break;
    case EVENT_RETRIEVE:
        misdn_lib_send_event(bc, EVENT_RETRIEVE_ACKNOWLEDGE);
        break;
    default:
        break;
    }
    return RESPONSE_OK;
}

class Loop : public ::testing::Environment {
  public:
    // The library's threads end before the test's records they report into.
    void TearDown() override { misdn_lib_destroy(); }
    void SetUp() override
    {
        traces = std::make_unique<tmp_dir>();
        int a = free_local_port(), b = free_local_port();
        std::string sim = "1 te bri ptp " + std::to_string(a) + " " + std::to_string(b) + " " + trace_te() +
                          "\n2 nt bri ptp " + std::to_string(b) + " " + std::to_string(a) + " " +
                          traces->file("nt.trace") + "\n3 nt bri ptmp - - -\n";
        misdn_lib_chansel_behaviour[BUS] = CHANNEL_ANY;
        rec.hook = stand_in;
        start_library(sim, port_list({TE, NT, BUS}, {1, 1, 0}));
        if (!wait_until([] { return misdn_lib_port_up(TE, 1) == 1 && misdn_lib_port_up(NT, 1) == 1; }, 10000))
            fprintf(stderr, "the ports did not come up\n");
    }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Loop);

// A new outgoing call on the port, SETUP sent (global_lock held as call control holds it).
misdn_bchannel *dial(int port, const char *dad = "200", const char *oad = "100")
{
    misdn_bchannel *bc = nullptr;
    with_global_lock([&] {
        bc = misdn_lib_get_free_bc(port, 0, 1, 0, 1);
        if (!bc)
            return;
        snprintf(bc->dad, sizeof bc->dad, "%s", dad);
        snprintf(bc->oad, sizeof bc->oad, "%s", oad);
        bc->capability = 0;
        if (misdn_lib_send_event(bc, EVENT_SETUP) < 0) {
            misdn_lib_release(bc);
            bc = nullptr;
        }
    });
    return bc;
}

int send_locked(misdn_bchannel *bc, event_e e)
{
    int r = -1;
    with_global_lock([&] { r = misdn_lib_send_event(bc, e); });
    return r;
}

struct fresh {
    fresh()
    {
        cc.answer = 3;
        cc.hang_up = true;
        cc.off_sender = 0;
        cc.setup_response = RESPONSE_OK;
        misdn_set_check_queues_length(0);
        rec.clear();
    }
    ~fresh()
    {
        std::string why;
        EXPECT_TRUE(wait_until([&] { return all_free(&why); }, 5000)) << why;
    }
};

TEST(Loop, TwoHundredCallsInARowLeaveEveryChannelFree)
{
    fresh f;
    int done = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; i++) {
        int from = i % 2 ? NT : TE;
        misdn_bchannel *bc = dial(from);
        ASSERT_NE(bc, nullptr) << "call " << i;
        std::string why;
        ASSERT_TRUE(wait_until([&] { return rec.count(EVENT_CLEANUP, TE) > i && all_free(&why); }, 5000))
            << "call " << i << ": " << why;
        done++;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(done, 200);
    EXPECT_EQ(rec.count(EVENT_CONNECT, TE), 100);
    EXPECT_EQ(rec.count(EVENT_CONNECT, NT), 100);
    EXPECT_EQ(rec.count(EVENT_SETUP, TE), 100);
    EXPECT_EQ(rec.count(EVENT_SETUP, NT), 100);
    EXPECT_EQ(cc.off_sender, 0);
    printf("200 calls in %lld ms\n", (long long)ms);
    usleep(100000);
    int setups = 0, acks = 0;
    for (const auto &mt : tshark_fields(trace_te(), "q931", {"q931.message_type"})) {
        setups += mt == "0x05";
        acks += mt == "0x0f";
    }
    EXPECT_EQ(setups, 200);
    EXPECT_EQ(acks, 200) << "CONNECT is acknowledged in both directions";
    EXPECT_EQ(tshark_bad_frames(trace_te()), 0u);
}

TEST(SendEvent, ClearingMessagesGoOnceAndAnswersNeedAChannel)
{
    fresh f;
    misdn_bchannel *bc = nullptr;
    with_global_lock([&] { bc = misdn_lib_get_free_bc(TE, 0, 1, 0, 1); });
    ASSERT_NE(bc, nullptr);
    for (int ch : {0, 255}) {
        bc->channel = ch;
        EXPECT_EQ(send_locked(bc, EVENT_ALERTING), -1) << ch;
    }
    EXPECT_NE(std::string(bc->event_queue).find(",S:ALERTING"), std::string::npos);
    bc->cause = 17;
    bc->out_cause = 21;
    snprintf(bc->dad, sizeof bc->dad, "123");
    struct {
        event_e e;
        int result;
        int disc, rel, relc;
    } steps[] = {
        {EVENT_DISCONNECT, 0, 0, 1, 1},
        {EVENT_DISCONNECT, -1, 0, 1, 1},
        {EVENT_RELEASE, 0, 0, 0, 1},
        {EVENT_RELEASE, -1, 0, 0, 1},
        {EVENT_RELEASE_COMPLETE, 0, 0, 0, 0},
        {EVENT_RELEASE_COMPLETE, -1, 0, 0, 0},
    };
    for (const auto &s : steps) {
        EXPECT_EQ(send_locked(bc, s.e), s.result) << s.e;
        EXPECT_EQ(bc->need_disconnect, s.disc) << s.e;
        EXPECT_EQ(bc->need_release, s.rel) << s.e;
        EXPECT_EQ(bc->need_release_complete, s.relc) << s.e;
    }
    EXPECT_TRUE(rec.log_has(" --> we have already send Disconnect"));
    EXPECT_TRUE(rec.log_has(" --> we have already send Release\n"));
    EXPECT_TRUE(rec.log_has(" --> we have already send Release_complete"));
    EXPECT_EQ(bc->cause, 17) << "RELEASE COMPLETE on a TE port empties the record but keeps the causes";
    EXPECT_EQ(bc->out_cause, 21);
    EXPECT_STREQ(bc->dad, "");
    with_global_lock([&] { misdn_lib_release(bc); });

    // SETUP while the book has no channel left for the port
    misdn_bchannel a{}, b{};
    int ch = 0;
    ASSERT_EQ(channel_spender_request_outgoing_channel(chan_mgr, TE, 0, &a, &ch), 0);
    ASSERT_EQ(channel_spender_request_outgoing_channel(chan_mgr, TE, 0, &b, &ch), 0);
    with_global_lock([&] { bc = misdn_lib_get_free_bc(TE, 0, 1, 0, 1); });
    ASSERT_NE(bc, nullptr);
    EXPECT_EQ(send_locked(bc, EVENT_SETUP), -1);
    EXPECT_NE(std::string(bc->event_queue).find(",S:SETUP"), std::string::npos);
    EXPECT_TRUE(rec.log_has(" No free channel at the moment @ send_event"));
    channel_spender_release_channel(chan_mgr, &a, TE, 1);
    channel_spender_release_channel(chan_mgr, &b, TE, 2);
    with_global_lock([&] { misdn_lib_release(bc); });
    EXPECT_EQ(send_locked(nullptr, EVENT_SETUP), -1);
    misdn_bchannel lost{};
    lost.port = 9;
    pthread_mutex_init(&lost.send_lock, nullptr);
    EXPECT_EQ(send_locked(&lost, EVENT_SETUP), -1) << "no stack for the port";
}

TEST(SendEvent, NtProcessIdsRunOutAfter256Calls)
{
    fresh f;
    misdn_stack *s = get_stack_by_isdn_port(BUS);
    std::vector<misdn_bchannel> calls(257);
    std::vector<int> ids;
    with_global_lock([&] {  // the sender thread cannot confirm any of them meanwhile
        for (auto &c : calls) {
            pthread_mutex_init(&c.send_lock, nullptr);
            c.port = BUS;
            c.nt = 1;
            c.need_release_complete = 1;
            ids.push_back(misdn_lib_send_event(&c, EVENT_SETUP) == 0 ? c.l3_id : -1);
        }
    });
    EXPECT_EQ(ids.front(), 0xFF00);
    EXPECT_EQ(ids[255], 0xFFFF);
    EXPECT_EQ(ids[256], -1);
    EXPECT_TRUE(rec.log_has("Couldnt Create New ProcId."));
    for (int i = 1; i < 256; i++)
        ASSERT_EQ(ids[(size_t)i], ids[(size_t)i - 1] + 1);
    for (int &p : s->procids)
        p = 0;
}

TEST(Calls, HoldAndRetrieveOnTheNtPort)
{
    fresh f;
    cc.hang_up = false;
    misdn_bchannel *te = dial(TE);
    ASSERT_NE(te, nullptr);
    seen_event nt{};
    ASSERT_TRUE(rec.wait_event(EVENT_CONNECT_ACKNOWLEDGE, NT, WAIT_MS, &nt));
    ASSERT_TRUE(rec.wait_event(EVENT_CONNECT, TE, WAIT_MS));
    misdn_stack *s = get_stack_by_isdn_port(NT);
    int nt_pid = nt.pid;
    ASSERT_EQ(send_locked(te, EVENT_HOLD), 0);
    ASSERT_TRUE(rec.wait_event(EVENT_HOLD_ACKNOWLEDGE, TE, WAIT_MS));
    ASSERT_NE(s->holding, nullptr);
    EXPECT_EQ(s->holding->pid, nt_pid);
    EXPECT_EQ(nt.bc->in_use, 0) << "the NT slot of the held call is free";
    ASSERT_EQ(send_locked(te, EVENT_RETRIEVE), 0);
    seen_event back{};
    ASSERT_TRUE(rec.wait_event(EVENT_RETRIEVE_ACKNOWLEDGE, TE, WAIT_MS));
    ASSERT_TRUE(rec.wait_event(EVENT_RETRIEVE, NT, WAIT_MS, &back));
    EXPECT_EQ(s->holding, nullptr);
    EXPECT_EQ(back.pid, nt_pid) << "the call comes back with its id";
    EXPECT_EQ(back.bc->holded, 0);
    ASSERT_EQ(send_locked(te, EVENT_SUSPEND), 0);
    EXPECT_TRUE(rec.wait_event(EVENT_SUSPEND_REJECT, TE, WAIT_MS)) << "the NT port rejects SUSPEND";
    snprintf(te->info_dad, sizeof te->info_dad, "42");
    snprintf(te->dad, sizeof te->dad, "42");
    ASSERT_EQ(send_locked(te, EVENT_INFORMATION), 0);
    seen_event info{};
    ASSERT_TRUE(rec.wait_event(EVENT_INFORMATION, NT, WAIT_MS, &info));
    EXPECT_STREQ(info.bc->info_dad, "42");
    // the retrieved call is sent on again: its send lock is its own
    back.bc->out_cause = 16;
    auto done = std::async(std::launch::async, [&] { return send_locked(back.bc, EVENT_DISCONNECT); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(3)), std::future_status::ready) << "send hangs";
    EXPECT_EQ(done.get(), 0);
    ASSERT_TRUE(rec.wait_event(EVENT_CLEANUP, TE, WAIT_MS));
}

// A TE frame as the device hands it up: head, info record, elements.
msg_t *te_frame(int port, uint32_t prim, int dinfo, uint8_t mt)
{
    msg_t *m = alloc_msg(MAX_MSG_SIZE);
    iframe_t h{};
    h.addr = (uint32_t)get_stack_by_isdn_port(port)->upper_id;
    h.prim = prim;
    h.dinfo = dinfo;
    h.len = Q931_INFO_LEN;
    memcpy(msg_put(m, mISDN_HEADER_LEN), &h, mISDN_HEADER_LEN);
    unsigned char *qi = msg_put(m, Q931_INFO_LEN);
    memset(qi, 0, Q931_INFO_LEN);
    qi[0] = mt;
    return m;
}

TEST(Mends, StrayAnswerHoldsNoChannelAndScratchSetupIsReleased)
{
    fresh f;
    cc.answer = 1;
    misdn_bchannel *bc = nullptr;
    int l3id = 0;
    with_global_lock([&] {
        bc = misdn_lib_get_free_bc(TE, 0, 1, 0, 1);
        ASSERT_NE(bc, nullptr);
        ASSERT_EQ(misdn_lib_send_event(bc, EVENT_SETUP), 0);
        l3id = bc->l3_id;
        misdn_lib_release(bc);  // the record is gone before the network answers
    });
    ASSERT_TRUE(rec.wait_event(EVENT_SETUP, NT, WAIT_MS));
    ASSERT_TRUE(wait_until([] { return rec.log_has("Didn't find BC so temporarly creating dummy BC"); }, WAIT_MS));
    EXPECT_TRUE(wait_until([] { return rec.count(EVENT_PROCEEDING, TE) > 0; }, WAIT_MS));
    for (int c = 1; c <= 2; c++)
        EXPECT_EQ(channel_spender_get_state(chan_mgr, TE, c, nullptr), CHANNEL_FREE) << c;

    // a SETUP on that call reference: refused without call control, answered
    msg_t *m = te_frame(TE, 0x30582, l3id, 0x05);
    manager_isdn_handler((iframe_t *)m->data, m);
    seen_event rc{};
    ASSERT_TRUE(rec.wait_event(EVENT_RELEASE_COMPLETE, NT, WAIT_MS, &rc)) << "the network gets RELEASE COMPLETE";
    EXPECT_EQ(rc.cause, misdn_cw_reject_code);
    EXPECT_EQ(rec.count(EVENT_SETUP, TE), 0);
    ASSERT_TRUE(rec.wait_event(EVENT_CLEANUP, TE, WAIT_MS)) << "the call reference is released";
}

TEST(Mends, LayerOneLossAndRestartEventsComeUnderTheLock)
{
    fresh f;
    cc.hang_up = false;
    misdn_set_restart_after_linkloss(TE, 1);
    misdn_bchannel *te = dial(TE);
    ASSERT_NE(te, nullptr);
    int pid = te->pid;
    ASSERT_TRUE(rec.wait_event(EVENT_CONNECT, TE, WAIT_MS));
    ASSERT_EQ(misdn_sim_set_l1(TE, false), 0);
    ASSERT_TRUE(rec.wait_count(EVENT_CLEANUP, TE, 3, WAIT_MS));
    ASSERT_EQ(misdn_sim_set_l1(TE, true), 0);
    seen_event rc{};
    ASSERT_TRUE(rec.wait_event(EVENT_RELEASE_COMPLETE, TE, WAIT_MS, &rc));
    EXPECT_EQ(rc.pid, pid);
    ASSERT_TRUE(rec.wait_event(EVENT_RESTART, NT, WAIT_MS)) << "RESTART reached the network";
    ASSERT_TRUE(rec.wait_event(EVENT_RELEASE_COMPLETE, NT, WAIT_MS));
    EXPECT_EQ(cc.off_sender, 0) << "every event on the sender thread under global_lock";
    EXPECT_EQ(isdnlib_options.isdnlib_ports_need_restart, 1);
    EXPECT_EQ(isdnlib_options.isdnlib_restart_ports[TE], 1);
    isdnlib_options.isdnlib_ports_need_restart = 0;
    isdnlib_options.isdnlib_restart_ports[TE] = 0;
    misdn_set_restart_after_linkloss(TE, 0);
    ASSERT_TRUE(wait_until([] { return misdn_lib_port_up(TE, 1) == 1; }, WAIT_MS));
}

TEST(Incoming, SetupAnswersOfCallControl)
{
    fresh f;
    struct {
        event_response_e response;
        int cause;  // of the RELEASE COMPLETE the caller gets
    } rows[] = {{RESPONSE_IGNORE_SETUP, 16}, {RESPONSE_RELEASE_SETUP, 16}};
    for (const auto &r : rows) {
        rec.clear();
        cc.setup_response = r.response;
        ASSERT_NE(dial(NT), nullptr);
        seen_event rc{};
        ASSERT_TRUE(rec.wait_event(EVENT_RELEASE_COMPLETE, NT, WAIT_MS, &rc)) << r.response;
        EXPECT_EQ(rc.cause, r.cause) << r.response;
        EXPECT_TRUE(rec.log_has("GOT IGNORE SETUP"));
        ASSERT_TRUE(rec.wait_event(EVENT_CLEANUP, TE, WAIT_MS));
    }
}

TEST(Incoming, SetupIsRefusedWhileTheQueuesAreFull)
{
    fresh f;
    misdn_set_check_queues_length(1);
    with_global_lock([&] {
        // The sender thread takes a frame of no consequence and waits for
        // the lock: the network's SETUP confirm then stays queued while the
        // TE port's SETUP comes in behind it.
        msg_t *m = te_frame(TE, CC_NEW_CR | CONFIRM, 0x4711, 0);
        manager_isdn_handler((iframe_t *)m->data, m);
        ASSERT_TRUE(wait_until([] { return msg_queue_len(&glob_mgr->sender_queue) == 0; }, WAIT_MS));
        misdn_bchannel *bc = misdn_lib_get_free_bc(NT, 0, 1, 0, 1);
        ASSERT_NE(bc, nullptr);
        ASSERT_EQ(misdn_lib_send_event(bc, EVENT_SETUP), 0);
        ASSERT_TRUE(wait_until([] { return msg_queue_len(&glob_mgr->sender_queue) >= 2; }, WAIT_MS));
    });
    seen_event rc{};
    ASSERT_TRUE(rec.wait_event(EVENT_RELEASE_COMPLETE, NT, WAIT_MS, &rc));
    EXPECT_EQ(rc.cause, 42);
    EXPECT_TRUE(rec.log_has("Terminating SETUP INDICATION, because of queue->len: 1"));
    EXPECT_EQ(rec.count(EVENT_SETUP, TE), 0) << "never reaches call control";
    ASSERT_TRUE(rec.wait_event(EVENT_CLEANUP, TE, WAIT_MS));
    misdn_set_check_queues_length(0);
    ASSERT_NE(dial(NT), nullptr);
    EXPECT_TRUE(rec.wait_event(EVENT_CONNECT, NT, WAIT_MS)) << "calls go through without the limit";
    ASSERT_TRUE(rec.wait_count(EVENT_CLEANUP, TE, 2, WAIT_MS));
}

TEST(Restart, PortRestartCleansUpAndTheNtPortComesBack)
{
    fresh f;
    rec.clear();
    EXPECT_EQ(misdn_lib_port_restart(9), 0);
    EXPECT_TRUE(rec.log_has("Restarting this port."));
    EXPECT_EQ(rec.count(EVENT_CLEANUP), 0);

    EXPECT_EQ(misdn_lib_port_restart(NT), 0);
    EXPECT_EQ(rec.count(EVENT_CLEANUP, NT), 3) << "every slot reported";
    ASSERT_TRUE(wait_until([] { return misdn_lib_port_up(NT, 1) == 1 && misdn_lib_port_up(TE, 1) == 1; }, WAIT_MS));
    misdn_bchannel *bc = dial(TE);
    ASSERT_NE(bc, nullptr);
    EXPECT_TRUE(rec.wait_event(EVENT_CLEANUP, TE, WAIT_MS)) << "a call runs after the restart";
}

TEST(Bchannel, FramesOfTheBChannel)
{
    fresh f;
    misdn_bchannel *bc = nullptr;
    with_global_lock([&] { bc = misdn_lib_get_free_bc(TE, 1, 1, 0, 1); });
    ASSERT_NE(bc, nullptr);
    misdn_lib_attach_meta(bc);
    ASSERT_NE(bc->meta, nullptr);
    bc->bc_state = BCHAN_ACTIVATED;
    auto inject = [&](uint32_t prim, const std::vector<unsigned char> &data) {
        msg_t *m = alloc_msg(MAX_MSG_SIZE);
        iframe_t h{};
        h.addr = (uint32_t)bc->meta->addr;
        h.prim = prim;
        h.len = (int)data.size();
        memcpy(msg_put(m, mISDN_HEADER_LEN), &h, mISDN_HEADER_LEN);
        if (!data.empty())
            memcpy(msg_put(m, (int)data.size()), data.data(), data.size());
        manager_isdn_handler((iframe_t *)m->data, m);
    };
    int v = 0x2000 + '1';
    std::vector<unsigned char> word((unsigned char *)&v, (unsigned char *)&v + 4);
    inject(PH_CONTROL | INDICATION, word);
    seen_event dtmf{};
    ASSERT_TRUE(rec.wait_event(EVENT_DTMF_TONE, TE, WAIT_MS, &dtmf));
    EXPECT_EQ(bc->dtmf, '1');

    struct {
        int capability;
        unsigned char first, second;
    } audio[] = {{0, 0x80, 0x40}, {8, 0x01, 0x02}};
    for (const auto &a : audio) {
        bc->capability = a.capability;
        cc.data_len = -1;
        inject(DL_DATA | INDICATION, {0x01, 0x02});
        ASSERT_TRUE(wait_until([] { return cc.data_len >= 0; }, WAIT_MS));
        EXPECT_EQ(cc.data_len, 2);
        EXPECT_EQ(cc.data[0], a.first) << "capability " << a.capability;
        EXPECT_EQ(cc.data[1], a.second) << "capability " << a.capability;
    }
    EXPECT_FALSE(rec.log_has("Transmitting")) << "no audio from call control: nothing sent";

    bc->bc_state = BCHAN_SETUP;
    manager_ph_control(bc, 0x2312, 5);
    manager_ph_control(bc, 0x2313, 7);
    EXPECT_EQ(bc->phc_queue_c1, 0x2313) << "the newer command replaces the older";
    EXPECT_EQ(bc->phc_queue_c2, 7);
    EXPECT_TRUE(rec.log_has("queueing ph_control: c1:2313 c2:7"));
    bc->capability = 8;
    manager_ec_enable(bc);
    EXPECT_TRUE(rec.log_has(" --> no speech? cannot enable EC"));
    bc->bc_state = BCHAN_CLEANED;
    with_global_lock([&] { misdn_clear_unassociated_bc(bc); });
}

}  // namespace
