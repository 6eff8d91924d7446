// Look-ups of call objects and registrations by the keys events carry.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "call_lookups.h"
#include "debug_lines.h"
#include "misdn_bchannel.h"
#include "msp_timeslot.h"
#include "pools.h"

namespace {

class Lookups : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        ASSERT_EQ(create_call_object_pools(8), 0);
        for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
            *gp->operations[i] = call_object{};
            init_call_object(gp->operations[i], i);
        }
        msp_init_timeslots();
        log.clear();
    }
    void TearDown() override
    {
        gp->registrations = nullptr;
        REGISTRATIONARRAYSIZE = 0;
    }
    call_object *op(int i) { return gp->operations[i]; }
    debug_lines log{TARN};
};

kv_timer *fake_timer(int n)
{
    static char storage[32];
    return reinterpret_cast<kv_timer *>(&storage[n]);
}

// One family of look-ups: how a key is put on an object, and the look-up.
struct lookup_case {
    const char *name;
    std::function<void(call_object *)> set_key;
    std::function<call_object *()> find;
};

TEST_F(Lookups, LowestPositionWinsAndStaleKeysMatch)
{
    static misdn_bchannel bc{};
    bc.port = 7;
    static call_leg_sip leg_in{}, leg_out{};
    static call_object buddy{};
    leg_in.rtp_local_port = 30000;
    auto timer_row = [](const char *name, kv_timer *call_object::*m, call_object *(*f)(const kv_timer *)) {
        return lookup_case{name, [m](call_object *co) { co->*m = fake_timer(3); },
                           [f] { return f(fake_timer(3)); }};
    };
    const lookup_case cases[] = {
        {"bc", [](call_object *co) { co->bc = &bc; }, [] { return find_operation_by_bc(&bc); }},
        {"bchannel", [](call_object *co) { co->bc = &bc; }, [] { return get_operation_by_bchannel(&bc); }},
        {"isdn port", [](call_object *co) { co->bc = &bc; }, [] { return get_operation_by_isdn_port(7); }},
        {"analog port with marker", [](call_object *co) { co->analog_port = 0x800 | 3; },
         [] { return get_operation_by_analog_port(0x803); }},
        {"cas port", [](call_object *co) { co->cas_port = 12; }, [] { return get_operation_by_cas_port(12); }},
        {"gsm port", [](call_object *co) { co->gsm_port = 2; }, [] { return get_operation_by_gsm_port(2); }},
        {"dns context", [](call_object *co) { co->dns_context = reinterpret_cast<dns_ctx *>(&bc); },
         [] { return get_operation_by_dns_context(); }},
        {"rtp local port", [](call_object *co) { co->cl_sip = &leg_in; },
         [] { return get_operation_by_rtp_local_port(30000); }},
        {"bridged", [](call_object *co) { co->msp_bridged_to = &buddy; },
         [] { return get_operation_by_bridged_call_object(&buddy); }},
        {"transcoding buddy", [](call_object *co) { co->transcoding_buddy = &buddy; },
         [] { return get_operation_by_transcoding_buddy(&buddy); }},
        {"transcoding buddy of a SIP-to-SIP call",
         [](call_object *co) { co->transcoding_buddy = &buddy, co->callinfo = CI_SIP_TO_SIP; },
         [] { return get_call_object_by_transcoding_buddy(&buddy); }},
        {"nua handle out", [](call_object *co) { co->cl_sip_out = &leg_out; },
         [] { return get_operation_by_nua_handle(leg_out.nh); }},
        {"conference request", [](call_object *co) { co->conference_request = 1; },
         [] { return get_operation_by_conference_request(); }},
        {"conference id", [](call_object *co) { co->conference_id = 4; },
         [] { return get_operation_by_conference_id(4); }},
        {"pid", [](call_object *co) { co->pid = 4711; }, [] { return get_operation_by_pid(4711); }},
        {"telnet fd", [](call_object *co) { co->telnet_fd = 9; }, [] { return get_operation_by_telnet_fd(9); }},
        {"logical timeslot", [](call_object *co) { co->tdm_logical_timeslot = 17; },
         [] { return get_operation_by_msp_logical_timeslot(17); }},
        {"conference channel", [](call_object *co) { co->cl_sip_out = &leg_out; },
         [] { return get_operation_by_msp_channel_in_conference(55); }},
        timer_row("timer", &call_object::timer, get_operation_by_timer),
        timer_row("force_t38", &call_object::force_t38_timer, get_operation_by_force_t38_timer),
        timer_row("fcf", &call_object::feature_code_f_timer, get_operation_by_fcf_timer),
        timer_row("fct", &call_object::feature_code_t_timer, get_operation_by_fct_timer),
        timer_row("fcflush", &call_object::feature_code_flush_timer, get_operation_by_fcflush_timer),
        timer_row("fxs_wink", &call_object::fxs_wink_offset_timer, get_operation_by_fxs_wink_timer),
        timer_row("dns_enum", &call_object::dns_enum_timer, get_operation_by_dns_enum_timer),
        timer_row("failover", &call_object::failover_timer, get_operation_by_failover_timer),
        timer_row("rtp_stat", &call_object::rtp_stat_timer, get_operation_by_rtp_stat_timer),
        timer_row("sip_t0", &call_object::sip_t0_timer, get_operation_by_sip_t0_timer),
        timer_row("sip_t180", &call_object::sip_t180_timer, get_operation_by_sip_t180_timer),
        timer_row("sip_t183", &call_object::sip_t183_timer, get_operation_by_sip_t183_timer),
        timer_row("sip_t200", &call_object::sip_t200_timer, get_operation_by_sip_t200_timer),
        timer_row("dialtone_detection", &call_object::dialtone_detection_timer,
                  get_operation_by_dialtone_detection_timer),
        timer_row("safeguard", &call_object::state_event_missing_safeguard_timer,
                  get_operation_by_state_event_missing_safeguard_timer),
        timer_row("fxo_cpt", &call_object::fxo_cpt_timer, get_operation_by_fxo_cpt_timer),
        timer_row("fxo_alerting_ended", &call_object::fxo_alerting_ended_timer,
                  get_operation_by_fxo_alerting_ended_timer),
        timer_row("aoc", &call_object::aoc_timer, get_operation_by_aoc_outgoing_timer),
    };
    leg_out.nh = reinterpret_cast<nua_handle_s *>(&leg_out);
    leg_out.msp_channel = 55;
    for (const lookup_case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        EXPECT_EQ(c.find(), nullptr) << "no object carries the key";
        c.set_key(op(5));
        c.set_key(op(2));
        EXPECT_EQ(op(2)->callinfo, c.name == std::string("transcoding buddy of a SIP-to-SIP call") ? CI_SIP_TO_SIP
                                                                                                      : CI_FREE);
        EXPECT_EQ(c.find(), op(2)) << "the lowest position wins, free or not";
    }
}

TEST_F(Lookups, TimersOfOneCallAreToldApart)
{
    op(1)->timer = fake_timer(1);
    op(1)->sip_t0_timer = fake_timer(2);
    EXPECT_EQ(get_operation_by_timer(fake_timer(1)), op(1));
    EXPECT_EQ(get_operation_by_timer(fake_timer(2)), nullptr) << "another member's timer is not this one";
    EXPECT_EQ(get_operation_by_sip_t0_timer(fake_timer(2)), op(1));
    EXPECT_EQ(get_operation_by_timer(nullptr), op(0)) << "an unset member holds null like the key";
}

TEST_F(Lookups, TranscodingBuddyOfOtherKindsIsNotASipToSipCall)
{
    call_object buddy{};
    op(1)->transcoding_buddy = &buddy;
    op(1)->callinfo = CI_SIP_TO_ISDN;
    EXPECT_EQ(get_operation_by_transcoding_buddy(&buddy), op(1));
    EXPECT_EQ(get_call_object_by_transcoding_buddy(&buddy), nullptr);
}

TEST_F(Lookups, HandleOnBothLegsIsReportedForTheIncomingLeg)
{
    call_leg_sip in{}, out{};
    nua_handle_s *nh = reinterpret_cast<nua_handle_s *>(&in);
    in.nh = out.nh = nh;
    op(3)->cl_sip_in = &in;
    op(3)->cl_sip_out = &out;
    call_object *co = get_operation_by_nua_handle(nh);
    ASSERT_EQ(co, op(3));
    EXPECT_EQ(co->cl_sip_in->nh, nh);
    // Per object the incoming leg comes first, but the lowest object wins.
    call_leg_sip lower_out{};
    lower_out.nh = nh;
    op(1)->cl_sip_out = &lower_out;
    EXPECT_EQ(get_operation_by_nua_handle(nh), op(1));
}

TEST_F(Lookups, LogicalTimeslotMinusOneScansNothing)
{
    // Every object's timeslot is -1 after initialisation: a scan would find one.
    EXPECT_EQ(get_operation_by_msp_logical_timeslot(-1), nullptr);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"cannot get operation with invalid timeslot"});

    log.clear();
    EXPECT_EQ(get_operation_by_msp_logical_timeslot(30), nullptr);
    EXPECT_EQ(log.count("Getting co for logical timeslot 30"), 1);
    EXPECT_EQ(log.count("CRITICAL: No Call Object found on timeslot 30"), 1);

    op(4)->tdm_logical_timeslot = 30;
    log.clear();
    EXPECT_EQ(get_operation_by_msp_logical_timeslot(30), op(4));
    EXPECT_EQ(log.count("on logical timeslot 30"), 1);
}

TEST_F(Lookups, MspChannelByTimeslotOrByLeg)
{
    // Channel 40 sits on timeslot 12: the call on that timeslot.
    msp_assign_channel_to_timeslot(12, 40, nullptr);
    op(6)->tdm_logical_timeslot = 12;
    EXPECT_EQ(get_operation_by_msp_channel(40), op(6));
    EXPECT_EQ(log.count("getting co for channel 40/timeslot 12"), 1);
    op(6)->tdm_logical_timeslot = -1;
    EXPECT_EQ(get_operation_by_msp_channel(40), nullptr);
    EXPECT_EQ(log.count("No Call Object found on channel 40/timeslot 12"), 1);

    // Channel 41 has no timeslot: the legs decide, incoming first.
    call_leg_sip in{}, out{};
    in.msp_channel = 77;
    out.msp_channel = 41;
    op(2)->cl_sip_in = &in;
    op(2)->cl_sip_out = &out;
    EXPECT_EQ(get_operation_by_msp_channel(41), op(2));
    EXPECT_EQ(get_operation_by_msp_channel(42), nullptr);
    EXPECT_EQ(log.count("channel 42 => cannot get operation with channel/timeslot"), 1);
    EXPECT_EQ(get_operation_by_msp_channel_in_conference(41), op(2));

    // The leg scan ends at the first empty pool slot.
    call_object *saved = gp->operations[1];
    gp->operations[1] = nullptr;
    EXPECT_EQ(get_operation_by_msp_channel(41), nullptr);
    EXPECT_EQ(get_operation_by_msp_channel_in_conference(41), op(2)) << "the conference scan skips empty slots";
    gp->operations[1] = saved;
}

TEST_F(Lookups, RegistrationsByTimerAndGroup)
{
    reg_object a{}, b{};
    reg_object *array[3] = {&a, nullptr, &b};
    gp->registrations = array;
    REGISTRATIONARRAYSIZE = 3;
    auto *g1 = reinterpret_cast<port_group_sip *>(&a), *g2 = reinterpret_cast<port_group_sip *>(&b);
    a.pgs = g1;
    b.pgs = g2;
    b.timer = fake_timer(5);
    EXPECT_EQ(get_registration_by_timer(fake_timer(5)), &b);
    EXPECT_EQ(get_registration_by_timer(fake_timer(6)), nullptr);
    EXPECT_EQ(get_register_by_pgs(g2), &b);
    b.pgs = g1;
    EXPECT_EQ(get_register_by_pgs(g1), &a) << "the first registration of the group";
    REGISTRATIONARRAYSIZE = 0;
    EXPECT_EQ(get_register_by_pgs(g1), nullptr);
}

} // namespace
