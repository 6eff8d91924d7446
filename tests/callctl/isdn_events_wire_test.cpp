// ISDN events into call control on the wire: the ISDN library in this
// process runs port 1 (NT, basic rate, point-to-point) against a libpri
// user side (q931peer) and reports to call control's callback. A stand-in
// admission answers PROCEEDING and takes a call object, except for the
// called number 111, whose call it leaves without one (as when the pool is
// empty). The D-channel trace is read back by tshark.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "application.h"
#include "callctl_world.h"
#include "global_lock.h"
#include "isdn_events.h"
#include "isdn_test_support.h"
#include "misdn_bchannel.h"
#include "misdn_harness.h"
#include "pools.h"
#include "timer.h"

namespace {

std::vector<call_object *> taken; // under global_lock

int stand_in_admission(misdn_bchannel *bc)
{
    misdn_lib_send_event(bc, EVENT_PROCEEDING);
    if (std::string(bc->dad) == "111")
        return RESPONSE_OK;
    call_object *co = get_free_operation_handle(0);
    if (!co)
        return -1;
    co->callinfo = CI_ISDN_TO_SIP;
    co->pid = bc->pid;
    co->bc = bc;
    co->bc_port = bc->port;
    co->counteri = 2;
    taken.push_back(co);
    return RESPONSE_OK;
}

// RESTART on channel 0 releases every call of the port; a DISCONNECT for a
// call without a call object is answered with RELEASE.
TEST(IsdnEventsWire, DisconnectWithoutCallAndRestartOfThePort)
{
    tmp_dir dir;
    int me = free_local_port(), far = free_local_port();
    std::string trace = dir.file("port1.trace");
    peer_proc peer;
    ASSERT_TRUE(peer.start({"--role", "user", "--line", "ptp", "--local", std::to_string(far), "--peer",
                            std::to_string(me), "-e", "wait up 30",
                            // no call object: DISCONNECT, answered RELEASE
                            "-e", "dial 111 999", "-e", "wait proceeding 10", "-e", "hangup 16", "-e",
                            "wait hangup 10",
                            // two calls with objects, then RESTART of the interface
                            "-e", "dial 222 999", "-e", "wait proceeding 10", "-e", "dial 333 999", "-e",
                            "wait proceeding 10", "-e", "restart_all", "-e", "wait hangup 10", "-e", "wait hangup 10"},
                           dir.file("peer.out")));
    ASSERT_TRUE(peer.wait_line("READY", WAIT_MS));

    ASSERT_TRUE(callctl_world(4));
    gp->init_lock = 1;
    isdn_events_hooks h{};
    h.init_incoming_isdn_call = stand_in_admission;
    isdn_events_set_hooks(&h);
    rec.hook = [](event_e e, misdn_bchannel *bc) { return isdn_cb_events(e, bc, nullptr); };
    start_library("1 nt bri ptp " + std::to_string(me) + " " + std::to_string(far) + " " + trace + "\n",
                  port_list({1}, {1}));

    std::string line;
    ASSERT_TRUE(peer.wait_line("SCRIPT DONE", 3 * WAIT_MS, &line)) << read_file(dir.file("peer.out"));
    EXPECT_EQ(peer.lines().back(), "SCRIPT DONE");
    {
        lock_hold hold(&lock_manager::global_lock);
        EXPECT_EQ(taken.size(), 2u);
        for (call_object *co : taken) {
            co->bc = nullptr;
            co->callinfo = CI_FREE;
        }
    }
    misdn_lib_destroy();

    // from the gateway (NT: commands with C/R 1): one RELEASE for the call
    // without an object, then RELEASE COMPLETE for both calls of the port
    auto from_gw = tshark_fields(trace, "q931 && lapd.cr == 1", {"q931.message_type"});
    std::vector<std::string> clearing;
    for (const std::string &mt : from_gw)
        if (mt == "0x4d" || mt == "0x5a" || mt == "0x4e")
            clearing.push_back(mt);
    EXPECT_EQ(clearing, (std::vector<std::string>{"0x4d", "0x4e", "0x5a", "0x5a"}));
    EXPECT_EQ(tshark_fields(trace, "q931.message_type == 0x4d", {"frame.number"}).size(), 1u);
    EXPECT_EQ(tshark_bad_frames(trace), 0u);
}

} // namespace
