// Pieces of the SIP admission that the whole-daemon cases cannot reach
// one by one: the inbound throttle's ring, the GSM port search of a group
// and of a port list, the 302 contact of move_on_pstn_fail, the user-user
// data of a long name, the failover tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../routing/dialplan_call_fixture.h"
#include "experimental_options.h"
#include "sip_admission.h"

namespace {

timeval at_ms(long ms)
{
    return timeval{1000 + ms / 1000, (ms % 1000) * 1000};
}

class SipAdmission : public DialplanCall {};

// Each row: the request times in ms and what the throttle answers.
TEST_F(SipAdmission, ThrottleRingOfAdmissionTimes)
{
    const struct {
        const char *what;
        int n, frame_ms;
        std::vector<long> times;
        std::string answers; // 1 admit, 0 drop
    } cases[] = {
        {"off", 0, 1000, {0, 1, 2, 3}, "1111"},
        {"third within a second dropped, one 1.1 s after the first admitted", 2, 1000, {0, 100, 500, 1100}, "1101"},
        {"the window slides with the admissions", 2, 1000, {0, 100, 1100, 1150, 1200}, "11110"},
        {"a dropped request takes no slot", 1, 1000, {0, 300, 600, 1000}, "1001"},
        {"clock going back counts as distance", 1, 1000, {5000, 100}, "11"},
        {"more admissions than the ring holds", 30, 1000, {}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        _parse_experimental_options(("sip_inbound_limit=" + std::to_string(c.n) + ":" + std::to_string(c.frame_ms))
                                        .c_str());
        ASSERT_EQ(gp->experimental_options->eo_sip_inbound_limit_max_calls_per_timeframe, c.n);
        sip_admission_reset_throttle();
        std::string got;
        for (long t : c.times)
            got += is_incoming_call_allowed_at(at_ms(t)) ? '1' : '0';
        EXPECT_EQ(got, c.answers);
    }
    // N = 30: 30 in one burst pass, the 31st within the second does not, and
    // after the second the ring goes round (60 admissions over 2 s).
    sip_admission_reset_throttle();
    for (int i = 0; i < 30; i++)
        EXPECT_TRUE(is_incoming_call_allowed_at(at_ms(i)));
    EXPECT_FALSE(is_incoming_call_allowed_at(at_ms(999)));
    for (int i = 0; i < 30; i++)
        EXPECT_TRUE(is_incoming_call_allowed_at(at_ms(1000 + i))) << i;
    EXPECT_FALSE(is_incoming_call_allowed_at(at_ms(1500)));
    EXPECT_EQ(sip_incoming_total_calls(), 62u);
    EXPECT_EQ(sip_incoming_total_accepted_calls(), 60u);
    _parse_experimental_options("");
}

TEST_F(SipAdmission, FailoverStatusAndCallGroupTests)
{
    call_object co{};
    co.cc.sip_failover_causes[0] = 503;
    co.cc.sip_failover_causes[1] = 486;
    co.cc.sip_failover_causes_size = 2;
    EXPECT_EQ(do_we_have_a_failover_status_callgroup(&co, 486), 1);
    EXPECT_EQ(do_we_have_a_failover_status_callgroup(&co, 404), 0);
    EXPECT_EQ(do_we_have_a_failover_status(&co, 503), 0) << "neither failover proxy nor go-on";
    co.cc.dialplan_go_on = 1;
    EXPECT_EQ(do_we_have_a_failover_status(&co, 503), 1);
    co.cc.dialplan_go_on = 0;
    snprintf(co.cc.sip_failover_proxy, sizeof co.cc.sip_failover_proxy, "10.0.0.9");
    EXPECT_EQ(do_we_have_a_failover_status(&co, 486), 1);
    EXPECT_EQ(do_we_have_a_failover_status(&co, 404), 0);

    char a[] = "a", b[] = "b";
    co.call_group_buddies[0] = a;
    co.call_group_buddies[1] = b;
    co.call_group_buddies_count = 2;
    EXPECT_EQ(do_we_have_sip_callgroup_alternatives(&co), 1);
    EXPECT_EQ(get_next_sip_callgroup_alternative(&co), a);
    EXPECT_EQ(get_next_sip_callgroup_alternative(&co), b);
    EXPECT_EQ(do_we_have_sip_callgroup_alternatives(&co), 0);
    EXPECT_EQ(get_next_sip_callgroup_alternative(&co), nullptr);
    EXPECT_EQ(co.call_group_index, 2);
}

// A user-user name of any length: the data, its terminator and the length
// stay inside the 256-byte field.
TEST_F(SipAdmission, UserUserLongNameIsCut)
{
    misdn_bchannel bc{};
    std::string name(400, 'u');
    sip_admission_fill_user_user(&bc, name.c_str());
    EXPECT_EQ(bc.uu[0], 0x01);
    EXPECT_EQ(bc.uu[1], 251 + 3);
    EXPECT_EQ(bc.uu[2], 0x81);
    EXPECT_EQ(bc.uu[3], ':');
    EXPECT_EQ(bc.uu[4 + 250], 'u');
    EXPECT_EQ(bc.uu[255], 0);
    EXPECT_EQ(bc.uulen, 256);
    misdn_bchannel small{};
    sip_admission_fill_user_user(&small, "Alice");
    EXPECT_EQ(small.uulen, 10);
    EXPECT_EQ(std::string((const char *)small.uu + 4), "Alice");
    EXPECT_EQ(small.uu[1], 8);
}

TEST_F(SipAdmission, MoveOnPstnFailContact)
{
    snprintf(in_leg.using_ip, sizeof in_leg.using_ip, "127.0.0.1");
    set(&co->new_destination, "777");
    const struct {
        const char *option, *contact;
        int result;
    } cases[] = {
        {"4930@10.1.1.1", "<sip:4930@10.1.1.1>", 0},
        {"4930", "<sip:4930@127.0.0.1>", 0},
        {"49${new_destination}", "<sip:49777@127.0.0.1>", 0},
        {"", "", -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.option);
        snprintf(co->cc.move_on_pstn_fail, sizeof co->cc.move_on_pstn_fail, "%s", c.option);
        char out[300] = "x";
        EXPECT_EQ(move_on_pstn_fail_create_contact_string(co, out, sizeof out), c.result);
        EXPECT_STREQ(out, c.contact);
    }
}

// Three ports in a group: round robin starts one port further on each
// call, an unregistered port (status 2) is skipped, descending order walks
// the list from its end; a port list is tried in its order.
TEST_F(SipAdmission, GsmPortSearch)
{
    groups("GSM", &gp->config_gsm, pg_init_gsm_port_group_struct, "[trio]\nports=1,2,3\n[solo]\nports=5\n");
    port_group_gsm *g = pg_get_port_group_gsm_by_name("trio");
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(g->port_count, 3);
    for (int p = 1; p <= 6; p++)
        gp->gsm_port_info.port_infos[p].reg_status = 1;
    gp->gsm_port_info.port_infos[5].reg_status = 5; // roaming counts

    g->chansel_method = CHANSEL_ROUNDROBIN;
    std::string order;
    for (int i = 0; i < 4; i++)
        order += std::to_string(get_free_gsm_port_by_dialplan_string(co, "g:trio"));
    EXPECT_EQ(order, "1231");
    EXPECT_EQ(co->gsm_port, 1);

    gp->gsm_port_info.port_infos[2].reg_status = 2;
    order.clear();
    for (int i = 0; i < 3; i++)
        order += std::to_string(get_free_gsm_port_by_dialplan_string(co, "G:trio"));
    EXPECT_EQ(order, "331") << "the unregistered port 2 is never chosen";

    g->chansel_method = CHANSEL_STANDARD;
    g->chansel_direction = CHANSEL_DIRECTION_DESCENDING;
    EXPECT_EQ(get_free_gsm_port_by_dialplan_string(co, "g:trio"), 3);

    EXPECT_EQ(get_free_gsm_port_by_dialplan_string(co, "g:nothere"), 0);
    EXPECT_EQ(get_free_gsm_port_by_dialplan_string(co, "2,5"), 5) << "2 unregistered";
    EXPECT_EQ(get_free_gsm_port_by_dialplan_string(co, "4,1"), 1) << "4 is in no group of the configuration";
    EXPECT_EQ(get_free_gsm_port_by_dialplan_string(co, "7,0,x"), 0);
    for (int p = 1; p <= 6; p++)
        gp->gsm_port_info.port_infos[p].reg_status = 0;
    EXPECT_EQ(get_free_gsm_port_by_dialplan_string(co, "1,2,3"), 0);
    pg_free_line_port_groups();
    cm_destroy(gp->config_gsm);
    gp->config_gsm = nullptr;
}

} // namespace
