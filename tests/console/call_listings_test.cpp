// Console listings of the live calls, the statistics, the log levels, the
// TDM map and the call-progress tables from fixed inputs, through the
// dispatcher as a client types them.
#include <gtest/gtest.h>

#include <sofia-sip/su_log.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_progress.h"
#include "call_statistics.h"
#include "conf_root.h"
#include "confman.h"
#include "schema.h"
#include "console_hooks.h"
#include "console_test_util.h"
#include "log.h"
#include "log_backend.h"
#include "mc_list_calls.h"
#include "mc_log.h"
#include "mc_options.h"
#include "mc_tdm.h"
#include "misdn_bchannel.h"
#include "proxy_def.h"
#include "run_process.h"
#include "sm_defs.h"
#include "sofia_logs.h"
#include "state_tables.h"
#include "statemachine.h"
#include "tdm_settings.h"

namespace {

class CallListings : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        console_test_application(4);
        mc_init_options();
        snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "10.0.0.1");
    }
    void TearDown() override
    {
        for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
            call_object *co = gp->operations[i];
            if (co->sm)
                statemachine_destroy(co->sm);
            co->sm = nullptr;
            co->callinfo = CI_FREE;
            co->cl_sip = co->cl_sip_in = co->cl_sip_out = nullptr;
            co->bc = nullptr;
        }
    }
    // A call at index i of the kind in the state.
    static call_object *call(int i, int callinfo, int state)
    {
        call_object *co = gp->operations[i];
        co->callinfo = callinfo;
        co->sm = create_statemachine_telnet_to_isdn(co, state, nullptr);
        co->sm_state = (uint32_t)state;
        co->pid = 500 + i;
        co->tdm_logical_timeslot = 7;
        return co;
    }
};

TEST_F(CallListings, EmptyListings)
{
    EXPECT_EQ(dispatcher_answer("l"), "LISTING CALL OPERATIONS\n\r\n");
    EXPECT_EQ(dispatcher_answer("kt"), "LISTING CALL OPERATIONS COMPACT\nTOTAL CALLS:0\n\r\n");
    EXPECT_EQ(dispatcher_answer("k"), "LISTING CALL OPERATIONS COMPACT\n\r\n");
    EXPECT_EQ(dispatcher_answer("kt 0,1,x"), "LISTING CALL OPERATIONS COMPACT SELECTED\n\r\n");
}

TEST_F(CallListings, FullBlockAndCompactLinePerCallKind)
{
    // ISDN to SIP at index 0: a B-channel and a SIP leg with parsed addresses.
    misdn_bchannel bc{};
    snprintf(bc.oad, sizeof bc.oad, "030123");
    snprintf(bc.dad, sizeof bc.dad, "200");
    bc.port = 1;
    bc.channel = 2;
    bc.pid = 77;
    sip_address_info_object ai{};
    ai.from_display = (char *)"Desk";
    ai.from_url_user = (char *)"030123";
    ai.from_url = (char *)"gw.example";
    ai.to_display = (char *)"";
    ai.to_url_user = (char *)"200";
    ai.to_url = (char *)"pbx.example";
    call_leg_sip leg{};
    leg.address_info = &ai;
    snprintf(leg.rtp_remote_ip, sizeof leg.rtp_remote_ip, "10.0.0.5");
    leg.rtp_remote_port = 4000;
    leg.rtp_local_port = 30000;
    call_object *i2s = call(0, CI_ISDN_TO_SIP, SM_CALL_ACTIVE);
    i2s->bc = &bc;
    i2s->cl_sip = &leg;

    // SIP to ITAPI at index 1: no leg addresses, a console peer.
    call_leg_sip leg2{};
    call_object *s2t = call(1, CI_SIP_TO_ITAPI, SM_ITAPI_DIALED);
    s2t->cl_sip = &leg2;
    s2t->telnet_fd = 9;
    snprintf(s2t->telnet_remote_address, sizeof s2t->telnet_remote_address, "10.0.0.9");
    s2t->telnet_remote_telnet_port = 2300;
    char src[] = "100", dst[] = "200";
    s2t->new_source = src;
    s2t->new_destination = dst;

    // An internal call shows only with "LH"; a call without machine never.
    call_object *internal = call(2, CI_INTERNAL, SM_CALL_ACTIVE);
    statemachine_destroy(internal->sm);
    internal->sm = nullptr;
    call_object *bare = call(3, CI_SIP_TO_SIP, SM_CALL_ACTIVE);
    statemachine_destroy(bare->sm);
    bare->sm = nullptr;

    const std::string msp = "CONNECT_TIME        => 0:00:00\n"
                            "BRIDGED             => NO\n"
                            "MSP_CHAN_ACTIVE     => 0 of 0 ()\n"
                            "MSP_CHAN_RESERVED   => 0 of 0 ()\n"
                            "MSP_FLAGS           => \n"
                            "MSP_TIMESLOT        => 7\n"
                            "MSP_SRTP_ENABLED    => 0\n"
                            "---------------------------------------------\n";
    const std::string block0 = "CALL_INDEX          => 0\n"
                               "CALL_STATE          => SM_CALL_ACTIVE\n"
                               "CALL_DIRECTION      => FROM ISDN TO SIP\n"
                               "OAD_ISDN            => 030123\n"
                               "DAD_ISDN            => 200\n"
                               "PORT_ISDN           => 1\n"
                               "CHANNEL_ISDN        => 2\n"
                               "TARN_PID            => 500\n"
                               "ISDN_PID            => 77\n"
                               "FROM_SIP            => Desk <030123@gw.example>\n"
                               "TO_SIP              =>  <200@pbx.example>\n"
                               "REMOTE_RTP          => 10.0.0.5:4000\n"
                               "LOCAL_RTP           => 10.0.0.1:30000\n" +
                               msp;
    const std::string block1 = "CALL_INDEX          => 1\n"
                               "CALL_STATE          => SM_ITAPI_DIALED\n"
                               "CALL_DIRECTION      => FROM SIP TO ITAPI\n"
                               "FROM_SIP            => NA\n"
                               "TO_SIP              => NA\n"
                               "REMOTE_RTP          => NA\n"
                               "LOCAL_RTP           => 10.0.0.1:0\n"
                               "TELNET FD           => 9\n"
                               "OAD_ISDN            => NA\n"
                               "DAD_ISDN            => NA\n"
                               "PORT_ISDN           => NA\n"
                               "CHANNEL_ISDN        => NA\n"
                               "TARN_PID            => 501\n"
                               "ISDN_PID            => NA\n" +
                               msp;
    const std::string block2 = "CALL_INDEX          => 2\n"
                               "CALL_STATE          => NONE\n"
                               "CALL_DIRECTION      => INTERNAL\n" +
                               msp;
    EXPECT_EQ(dispatcher_answer("l"), "LISTING CALL OPERATIONS\n" + block0 + block1 + "\r\n");
    EXPECT_EQ(dispatcher_answer("LH"), "LISTING CALL OPERATIONS\n" + block0 + block1 + block2 + "\r\n");
    EXPECT_EQ(dispatcher_answer("l 1,9,x"), "LISTING CALL OPERATIONS SELECTED\n" + block1 + block0 + "\r\n");
    EXPECT_EQ(dispatcher_answer("lp 501"), "LISTING CALL OPERATIONS SELECTED\n" + block1 + "\r\n");

    const std::string line0 = "00\tCS=SM_CALL_ACTIVE\tI2S\tOAD=030123\tDAD=200\tP/C=1:2\tSIPF=030123@gw.example\t"
                              "SIPT=200@pbx.example\tRTP=30000:10.0.0.5:4000\tCT=0:00:00\tBRDG=NO\tMCA=0/0()\t"
                              "MCR=0/0()\tMFL=\tTS=7\n";
    const std::string line1 = "01\tCS=SM_ITAPI_DIALED\tS2T\tOAD=100\tDAD=200\tP=10.0.0.9:2300\tSIPF=NA\tSIPT=NA\t"
                              "RTP=0:NA\tCT=0:00:00\tBRDG=NO\tMCA=0/0()\tMCR=0/0()\tMFL=\tTS=7\n";
    EXPECT_EQ(dispatcher_answer("kt"), "LISTING CALL OPERATIONS COMPACT\n" + line0 + line1 + "TOTAL CALLS:2\n\r\n");
    std::string blank0 = line0, blank1 = line1;
    std::replace(blank0.begin(), blank0.end(), '\t', ' ');
    std::replace(blank1.begin(), blank1.end(), '\t', ' ');
    EXPECT_EQ(dispatcher_answer("k"), "LISTING CALL OPERATIONS COMPACT\n" + blank0 + blank1 + "\r\n");
    EXPECT_EQ(dispatcher_answer("ktp 500"), "LISTING CALL OPERATIONS COMPACT SELECTED\n" + line0 + "\r\n");

    // A buffer too small cuts the block; it is always terminated.
    char small[40];
    EXPECT_EQ(operation_info_to_buffer(0, small, sizeof small, 0), 39);
    EXPECT_EQ(std::string(small), block0.substr(0, 39));
    EXPECT_EQ(operation_info_to_buffer_compact(0, small, sizeof small, ' '), 39);
}

TEST_F(CallListings, StatisticsCountLiveAndCompletedCalls)
{
    call_statistics &s = gp->callstat;
    call_statistics_reset();
    s.counter_sip_to_pstn = 5;
    s.counter_sip_to_pstn_connected_finished = 2;
    s.total_seconds_sip_to_pstn = 130;
    s.counter_sip_to_dialplan_not_found = 1;
    s.counter_sip_to_isdn_port[1] = 3;
    s.counter_sip_to_isdn_connected_finished_port[1] = 2;
    s.total_seconds_sip_to_isdn_port[1] = 130;
    misdn_bchannel bc{};
    bc.port = 1;
    call(0, CI_SIP_TO_ISDN, SM_CALL_ACTIVE)->bc = &bc;
    EXPECT_EQ(dispatcher_answer("ss"),
              "ACTUAL CALLS:\n"
              "CALLS SIP_TO_PSTN => 1 (1 connected)\n"
              "CALLS PSTN_TO_SIP => 0 (0 connected)\n"
              "CALLS SIP_TO_SIP  => 0 (0 connected)\n"
              "CALLS TOTAL       => 1 (1 connected)\n"
              "\n"
              "SESSION STATISTICS (completed calls):\n"
              "CALLS SIP_TO_PSTN => 4 (2 connected => avg. connect time: 00:01:05) => (0 <10 sec.) \n"
              "CALLS PSTN_TO_SIP => 0 (0 connected => avg. connect time: 00:00:00) => (0 <10 sec.) \n"
              "CALLS SIP_TO_SIP  => 0 (0 connected => avg. connect time: 00:00:00) => (0 <10 sec.) \n"
              "CALLS SIP_TO_DP   => 1\n"
              "CALLS S2S_MAX     => 0 (0 connected)\n"
              "CALLS TOTAL       => 5 (2 connected => avg. connect time: 00:01:05) => (0 <10 sec.)\n"
              "---------------------------------------------\n\r\n");

    // Configured ISDN ports 1 and 99: the one outside the counters is left out.
    conf_root root(false);
    root.write("isdn.conf", "[g]\nports=1,99\n");
    cm_init();
    gp->config_isdn = configman_create("ISDN");
    ASSERT_EQ(cm_load(&gp->config_isdn, root.path("isdn.conf").c_str()), 0);
    EXPECT_EQ(dispatcher_answer("ssp"),
              "SESSION STATISTICS PER PORT(completed calls):\n"
              "IPORT 1: CALLS SIP_TO_ISDN => 2 (2 connected => avg. connect time: 00:01:05) => (0 <10 sec.) \n"
              "IPORT 1: CALLS ISDN_TO_SIP => 0 (0 connected => avg. connect time: 00:00:00) => (0 <10 sec.) \n"
              "IPORT 1: CALLS TOTAL         => 2 (2 connected => avg. connect time: 00:01:05) => (0 <10 sec.)\n"
              "---------------------------------------------\n\r\n");
    cm_destroy(gp->config_isdn);
    gp->config_isdn = nullptr;
    call_statistics_reset();
}

TEST_F(CallListings, LogLevelsNetlogAndSipStackLogs)
{
    console_hooks h{};
    h.list_loglevels = list_loglevels;
    h.parse_and_update_netlog_target = parse_and_update_netlog_target;
    mc_set_hooks(&h);
    int saved_enabled = log_levels_debug_enabled;
    log_levels_debug_enabled = 1;
    std::string levels = dispatcher_answer("V");
    EXPECT_EQ(levels.rfind("Debug Logging: enabled\nMessage Logging: ", 0), 0u) << levels;
    EXPECT_NE(levels.find("Listing Loglevels Debug:\nTARN - "), std::string::npos);
    EXPECT_NE(levels.find("\nListing Loglevels Message:\nTARN - "), std::string::npos);
    EXPECT_NE(levels.find("CAS - "), std::string::npos);

    EXPECT_EQ(dispatcher_answer("ld0"), "Debug Logging: disabled" + levels.substr(levels.find('\n')));
    log_levels_debug_enabled = saved_enabled;

    // "v" asks; a letter cancels; a digit string answers at once.
    int st = 0;
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    mc_handle_input("v", f, &st);
    EXPECT_EQ(st, 3);
    mc_handle_input("x", f, &st);
    fclose(f);
    std::string asked(buf, size);
    free(buf);
    EXPECT_NE(asked.find("Set loglevel debug[0-9] (0=low,9=high)\nEnter x to cancel\n\r\n"), std::string::npos);
    EXPECT_EQ(asked.substr(asked.size() - 22), "Cancelling request!\n\r\n");

    EXPECT_EQ(dispatcher_answer("n:127.0.0.1"),
              "127.0.0.1 input seems not to be a valid input - making no change\n\r\n\r\n");
    EXPECT_EQ(dispatcher_answer("ll"), "Local Log is inactive\n\r\n");
    EXPECT_EQ(dispatcher_answer("lla"), "Local Log is active\n\r\n");
    EXPECT_EQ(dispatcher_answer("llq"), "Local Log is active\n\r\n");
    EXPECT_EQ(dispatcher_answer("lld"), "Local Log is inactive\n\r\n");

    EXPECT_EQ(dispatcher_answer("slbogus9"), "No log module bogus9\n\r\n");
    EXPECT_EQ(dispatcher_answer("slnua 5"), "\r\n");
    EXPECT_EQ(nua_log->log_level, 5u);
    EXPECT_EQ(dispatcher_answer("slall9"), "\r\n");
    su_log_t *all[] = {tport_log,   iptsec_log, nta_log, stun_log, nth_client_log, nth_server_log,
                       sresolv_log, nua_log,    soa_log, nea_log,  su_log_default};
    for (su_log_t *l : all)
        EXPECT_EQ(l->log_level, 9u) << l->log_name;
    dispatcher_answer("slall0");
    mc_reset_hooks();
}

TEST_F(CallListings, TdmMapAndTimeslotQuestion)
{
    tdm_settings t{};
    t.bus_configure_count[0] = 4; // three entries
    t.bus_configure_count[2] = 1; // none
    t.timeslots[0] = {0, 1, 2, 5, 1};
    t.timeslots[1] = {0, 200, 0, 6, 2};
    t.timeslots[2] = {1, 10001, 3, 7, 130};
    t.timeslots[3] = {1, 1003, 4, 8, 131};
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    mc_list_tdm_map(&t, "", f);
    // Counts past the map's room list the map only.
    t.bus_configure_count[1] = 100000;
    t.bus_configure_count[0] = 0;
    t.bus_configure_count[2] = 0;
    FILE *g = fopen("/dev/null", "w");
    mc_list_tdm_map(&t, "", g);
    fclose(g);
    fclose(f);
    EXPECT_EQ(std::string(buf, size), "BUS 0: ISDN_1:2  | a_ts 005 | l_ts 001\n"
                                      "BUS 0: UNKNOWN_200     | a_ts 006 | l_ts 002\n"
                                      "BUS 1: TRANSCODING_1:3  | a_ts 007 | l_ts 130\n");
    free(buf);
    EXPECT_EQ(dispatcher_answer("s"), "Print Info for timeslot: \r\n");
}

// "lcpt": each kind's built-in table, then the tables of a known tarn.cpt.
TEST_F(CallListings, CallProgressTables)
{
    const std::string builtin = read_text_file(TARN_SOURCE_DIR "/tests/routing/golden/lcpt_builtin.txt");
    ASSERT_FALSE(builtin.empty());
    EXPECT_EQ(dispatcher_answer("lcpt"), builtin + "\r\n");

    conf_root root(false);
    root.write("tarn.cpt", "[s2i:pbx]\nte\tany_state\tALERTING\t180\tRinging\n"
                           "[i2s:carrier]\nnt\t183\tProgress\tPROGRESS\n"
                           "[s2fxo:line]\nPOLREV\t200\tAnswered\n");
    ASSERT_EQ(cpt_parse_call_progress_tables(root.path("tarn.cpt").c_str()), 0);
    std::string want = builtin;
    want.insert(want.find("Table: i2s:default"), "Table: s2i:pbx\n0\tte\tany_state\tALERTING:\t180\tRinging\n");
    want.insert(want.find("Table: s2fxo:default"), "Table: i2s:carrier\n0\tnt\t183\tProgress\tPROGRESS\t\n");
    want += "Table: s2fxo:line => dial 10000 ms| polrev 10000  ms| alertingstop -1 ms\n0\tCP_SIP2FXO_POLREV:\t200\tAnswered\n";
    EXPECT_EQ(dispatcher_answer("lcpt"), want + "\r\n");
    cpt_parse_call_progress_tables(root.path("missing.cpt").c_str()); // the built-in tables only
}

} // namespace
