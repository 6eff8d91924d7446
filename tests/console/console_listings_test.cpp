// Console listings of configuration, channels and system state from fixed
// inputs, through the dispatcher as a client types them.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "conf_root.h"
#include "console.h"
#include "console_test_util.h"
#include "experimental_options.h"
#include "mc_listings.h"
#include "mc_options.h"
#include "pools.h"
#include "sip_stack.h"
#include "sm_defs.h"
#include "state_tables.h"
#include "misdn_bchannel.h"

namespace {

class Listings : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        console_test_application(4);
        mc_init_options();
    }
};

TEST_F(Listings, FixedAnswersAndRefusals)
{
    static experimental_options eo{};
    eo.eo_byeauth = 2;
    eo.eo_sip_inbound_limit_max_calls_per_timeframe = 10;
    eo.eo_sip_inbound_limit_timeframe_length = 60;
    snprintf(eo.eo_loglevel_override, sizeof eo.eo_loglevel_override, "TARN:9");
    gp->experimental_options = &eo;
    gp->rtp_traffic = 1;
    snprintf(gp->netconf.host_ifname_lan, sizeof gp->netconf.host_ifname_lan, "eth1");

    const struct {
        const char *line, *answer;
    } cases[] = {
        {"cdrd", "CDR COLUMNS LIST:\n 0 CDR\n 1 PID\n 2 FromTechnology(:Port)\n 3 ToTechnology(:Port)\n 4 Incoming OAD\n"
                 " 5 Incoming DAD\n 6 Outgoing OAD\n 7 Outgoing DAD\n 8 Call Start Time\n 9 Call Stop Time\n"
                 "10 Connect Start Time\n11 Connect Stop Time\n12 Terminated by which side\n13 Termination Cause\n"
                 "14 AOCD_U\n15 AOCD_C\n\r\n"},
        {"lgo", "Listings global options:\n"
                "RTP Traffic               : 1\n"
                "CDR File Size Limit       : 0\n"
                "Set Time From ISDN (port) : 0\n"
                "SIP listen device         : eth1\n"
                "EO_iml                    : 0\n"
                "EO_listen_on_wan          : 0\n"
                "EO_byeauth                : 2\n"
                "EO_icl                    : 0\n"
                "EO_dlo                    : TARN:9\n"
                "EO_latency                : 0\n"
                "EO_sip_min_se             : 0\n"
                "EO_sip_inbound_limit      : 10:60\n"
                "EO_pt_clearmode           : 0\n"
                "EO_pt_rfc2833             : 0\n\r\n"},
        {"lpgz", "parameters can only be i, a or g\n\r\n"},
        {"dcq", "Unknown parameter q\n\r\n"},
        {"ndcq", "Unknown parameter q\n\r\n"},
        {"cu9999", "Invalid value 9999, ignoring request\n\r\n"},
        {"cu-1", "Invalid value -1, ignoring request\n\r\n"},
        {"lih-1", "Index out of bounds\n\r\n"},
        {"lih4", "Index out of bounds\n\r\n"},
        {"cca4", "\r\n"},
        {"cca2", "No call at index 2\n\r\n"},
        {"mem1", "UNKNOWN\n\r\n"},
        {"cc", "Print Call Configuration for call at index: \r\n"},
        {"lt3", "\r\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dispatcher_answer(c.line), c.answer) << c.line;
    EXPECT_EQ(std::string(mc_print_cdr_columns_definitions()) + "\r\n", dispatcher_answer("cdrd"));
    gp->experimental_options = nullptr;
}

TEST_F(Listings, CauseMapAndStunServers)
{
    gp->causemap.count = 2;
    gp->causemap.causes[0] = {TECH_SIP, TECH_ISDN, 404, 1, nullptr};
    gp->causemap.causes[1] = {TECH_ISDN, TECH_SIP, -1, 503, (char *)"Service Unavailable"};
    EXPECT_EQ(dispatcher_answer("lcm"),
              "SIP\tISDN\t404\t1\t\nISDN\tSIP\t-1\t503\tService Unavailable\n\r\n");
    gp->causemap.count = 0;

    stunserver_entry s[2] = {{"stun.example.org", "198.51.100.7"}, {"stun2.example.org", ""}};
    gp->stunservers = s;
    gp->stunserver_count = 2;
    EXPECT_EQ(dispatcher_answer("lstun"), "Stunserver stun.example.org: 198.51.100.7\n"
                                          "Stunserver stun2.example.org: \n\r\n");
    gp->stunservers = nullptr;
    gp->stunserver_count = 0;
}

TEST_F(Listings, RtpRangesAndPorts)
{
    std::vector<uint8_t> ports(65536), stacks(65536);
    RTP_ports r{};
    r.rtp_ports = ports.data();
    r.rtp_stacks = stacks.data();
    r.lanstart = 10000, r.lanstop = 10003, r.lan_t38start = 10002, r.lan_t38stop = 10003;
    r.wanstart = 10002, r.wanstop = 10005;
    r.lostart = 10006, r.lostop = 10006, r.lo_t38start = 10006, r.lo_t38stop = 10006;
    for (int p = 10000; p <= 10003; p++)
        stacks[p] |= STACK_LAN;
    for (int p = 10002; p <= 10005; p++)
        stacks[p] |= STACK_WAN;
    stacks[10003] |= STACK_LOCALHOST | STACK_VPN;
    stacks[10006] = STACK_LOCALHOST;
    ports[10001] = 1;
    gp->rtp_ports = &r;
    EXPECT_EQ(dispatcher_answer("lrtp"), "Listing RTP Ranges\n"
                                         "LAN      : rtp_start 10000, rtp_stop 10003\n"
                                         "LAN      : passthrough_start 10002, passthrough_stop 10003\n"
                                         "WAN      : rtp start 10002 rtp stop 10005\n"
                                         "WAN      : passthrough_start 0, passthrough_stop 0\n"
                                         "LOOPBACK : rtp_start 10006, rtp_stop 10006\n"
                                         "LOOPBACK : passthrough_start 10006, passthrough_stop 10006\n"
                                         "VPN      : rtp_start 0 rtp_stop 0\n"
                                         "VPN      : passthrough_start 0 passthrough_stop 0\n"
                                         "----------------------------\n"
                                         "Listing configured RTP Ports\n"
                                         "port 10000: free 0 | stacks LAN | passthrough 0\n"
                                         "port 10001: free 1 | stacks LAN | passthrough 0\n"
                                         "port 10002: free 0 | stacks LAN|WAN | passthrough 1\n"
                                         "port 10003: free 0 | stacks LAN|WAN|LOCALHOST|VPN | passthrough 1\n"
                                         "port 10004: free 0 | stacks WAN | passthrough 0\n"
                                         "port 10005: free 0 | stacks WAN | passthrough 0\n"
                                         "port 10006: free 0 | stacks LOCALHOST | passthrough 0\n\r\n");
    gp->rtp_ports = nullptr;

    char small[8];
    EXPECT_EQ(print_stacks(STACK_LAN | STACK_WAN, small, sizeof small), 7);
    EXPECT_STREQ(small, "LAN|WAN");
    EXPECT_EQ(print_stacks(15, small, 5), 4); // cut, never past the buffer
    EXPECT_STREQ(small, "LAN|");
}

TEST_F(Listings, ToneHistoryOfFortyFiveEventsListsTheFortyNewest)
{
    call_object *co = gp->operations[1];
    co->callinfo = CI_ISDN_TO_SIP;
    co->cas_port = 7;
    msp_tone_history &h = co->_msp_tonedet_history;
    co->msp_tonedet_history = &h;
    for (int n = 0; n < 45; n++) {
        msp_tonedet_event &e = h.history[n % MSP_TONE_HISTORY];
        e.event = (uint8_t)(0x10 + n);
        e.received_time.sec = 100 + n;
        e.received_time.usec = 5000 * n;
    }
    h.history_index = 45;
    h.history[(44) % MSP_TONE_HISTORY].event = 255; // an empty slot is skipped
    std::string expect = "LISTING TONEDET HISTORY\n";
    for (int n = 5; n < 44; n++) {
        // the following slot: event n+1, or for the newest the oldest kept (n = 5)
        int next = n + 1 < 45 ? n + 1 : 5;
        long ms = (long)(next - n) * 1000 + (5000L * next - 5000L * n) / 1000;
        char line[96];
        snprintf(line, sizeof line, "READ PORT 7: %3d:%06d %x (duration %ld)\n", 100 + n, 5000 * n, 0x10 + n, ms);
        expect += line;
    }
    // The generation ring of the call is there and empty: its header alone.
    EXPECT_EQ(dispatcher_answer("lt1"), expect + "LISTING TONEGEN HISTORY\n\r\n");
    co->msp_tonedet_history = nullptr;
    co->callinfo = CI_FREE;
}

TEST_F(Listings, FilesBelowTheRoot)
{
    conf_root root(false);
    setenv("TARN_ROOT", root.dir.c_str(), 1);
    root.write("proc/loadavg", "0.42 0.35 0.30 2/345 6789 and more text past 31 bytes\n");
    EXPECT_EQ(dispatcher_answer("load"), "0.42 0.35 0.30 2/345 6789 and m\r\n");

    // Two T1/E1 modules: the first slot's module lists its configured ports.
    line_interface &a = gp->hwconf.hwc_li[0];
    line_interface &b = gp->hwconf.hwc_li[2];
    a.li_type = LI_2E1T1;
    a.port_count_cas = 2;
    a.cas_port_numbers[0] = 1, a.cas_port_numbers[1] = 2;
    a.cas_port_configured[0] = a.cas_port_configured[1] = 1;
    snprintf(a.cas_sys_connected_path[0], 8, "0:0");
    snprintf(a.cas_sys_connected_path[1], 8, "0:1");
    b.li_type = LI_1E1T1;
    b.port_count_cas = 2;
    b.cas_port_numbers[0] = 3, b.cas_port_numbers[1] = 4;
    b.cas_port_configured[0] = 1; // port 4 is not configured
    snprintf(b.cas_sys_connected_path[0], 8, "2:0");
    root.write("sys/class/dvxt1e1/0:0/connected", "1\n");
    root.write("sys/class/dvxt1e1/0:1/connected", "0\n");
    // 2:0 has no file: not connected
    EXPECT_EQ(dispatcher_answer("p_casstatus"), "1\t1\n2\t0\n3\t0\n\r\n");
    gp->hwconf = hardware_config{};
    unsetenv("TARN_ROOT");
}

TEST_F(Listings, UptimeAndDelayTrace)
{
    gp->tarn_start_time = get_proc_uptime_seconds() + 100; // in the future: below one second
    EXPECT_EQ(dispatcher_answer("u"), "TARN uptime: INVALID TIMESTAMP\n\r\n");
    gp->tarn_start_time = get_proc_uptime_seconds() - 3725;
    std::string up = dispatcher_answer("uptime");
    EXPECT_EQ(up.rfind("TARN uptime: ", 0), 0u) << up;
    EXPECT_EQ(dispatcher_answer("u"), up);

    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    gp->tt_index = 0;
    mc_list_delays(f, 5);
    fflush(f);
    EXPECT_EQ(size, 0u);
    gp->tt_index = 3;
    for (int i = 0; i < 3; i++) {
        gp->tt_pid[i] = 500 + i;
        gp->tt_indices[i] = i;
        gp->tt_connect_recv[i] = {10 + i, 0};
        gp->tt_vopena_ack[i] = {10 + i, 250000};
        snprintf(gp->tt_ihist[i], sizeof gp->tt_ihist[i], "h%i", i);
    }
    mc_list_delays(f, 2);
    fclose(f);
    EXPECT_EQ(std::string(buf, size), "pid 502 tti 2: 12:0 0:0 0:0 12:250000 msec 250 : h2\n"
                                      "pid 501 tti 1: 11:0 0:0 0:0 11:250000 msec 250 : h1\n");
    free(buf);
    gp->tt_index = 0;
}

TEST_F(Listings, ToneTestRefusesCodesThatAreNoToneSet)
{
    // Two active ISDN calls at indexes 0 and 1; no tone sets configured.
    misdn_bchannel bc{};
    for (int i : {0, 1}) {
        call_object *co = gp->operations[i];
        co->callinfo = CI_ISDN_TO_SIP;
        co->bc = &bc;
        co->sm = create_statemachine_isdn_to_sip(co, SM_CALL_ACTIVE, nullptr);
    }
    // A code of 16 characters would not fit the 16-character language slot.
    EXPECT_EQ(dispatcher_answer("ttestr0123456789abcdef"), "unknown language code |0123456789abcdef|\n\r\n");
    EXPECT_EQ(dispatcher_answer("ttestbzz"), "unknown language code |zz|\n\r\n");
    EXPECT_STREQ(gp->analog_lang_mapping[0], "");
    for (int i : {0, 1}) {
        call_object *co = gp->operations[i];
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        co->bc = nullptr;
        co->callinfo = CI_FREE;
    }
}

TEST_F(Listings, PcmTableByRoleAndBoundedByItsRows)
{
    gp->run_pcm_server = gp->run_pcm_client = 0;
    EXPECT_EQ(dispatcher_answer("pcm"), "no pcm card bridging enabled\n\r\n");
    pcm_bridging_timeslot_table &t = gp->pcm_table;
    t = {};
    t.size = 3;
    t.ip[0] = (int)inet_addr("10.0.0.7"), t.port[0] = 40000, t.fd[0] = 9;
    t.ip[2] = (int)inet_addr("10.0.0.8"), t.port[2] = 40002;
    gp->run_pcm_server = 1;
    EXPECT_EQ(dispatcher_answer("pcm"),
              "Timeslot\tIP\tPort\tFD\nSIZE 3\n0\t10.0.0.7\t40000\t9\n2\t10.0.0.8\t40002\t0\n\r\n");
    gp->run_pcm_server = 0, gp->run_pcm_client = 1;
    EXPECT_EQ(dispatcher_answer("pcm"),
              "Timeslot\tIP\tPort\nSIZE 3\n0\t10.0.0.7\t40000\n1\t0.0.0.0\t0\n2\t10.0.0.8\t40002\n\r\n");
    t.size = 100000; // never past the table's 512 rows
    std::string all = dispatcher_answer("pcm");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2 + 512 + 1);
    gp->run_pcm_client = 0;
    t = {};
}

} // namespace
