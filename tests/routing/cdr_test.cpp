#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "call_statistics.h"
#include "cdr.h"
#include "cdr_log.h"
#include "dialplan.h"
#include "proxy_def.h"
#include "routing_fixture.h"

namespace {

const char *event_double(int event)
{
    static char buf[32];
    snprintf(buf, sizeof buf, "EV%d", event);
    return buf;
}

const time_t T0 = 1700000000; // 23/11/14-22:13:20 UTC

class Cdr : public RoutingTest {
protected:
    void SetUp() override
    {
        RoutingTest::SetUp();
        setenv("TZ", "UTC", 1);
        tzset();
        gp->cds = call_duration_statistics{};
        cdr_print_event = event_double;
        addr.from_display = (char *)"Desk 7";
        addr.from_url = (char *)"example.com";
        addr.from_url_user = (char *)"desk7";
        addr.to_display = (char *)"";
        addr.to_url = (char *)"gw.example";
        addr.to_url_user = (char *)"1234";
        proxy.pd_sip_proxy = (char *)"proxy.example";
        snprintf(gp->cdr_log_path, sizeof gp->cdr_log_path, "%s", dir.c_str());
        gp->cdr_log_do_flush = 0;
        gp->cdr_log_filesize_limit = 200000;
        file = dir + "/tarn.cdr";
        gp->cdr_fp = fopen(file.c_str(), "w");
        gp->log_cdr = 1;
        co = std::make_unique<call_object>();
        cdr_reset(&co->cdr);
        co->pid = 42;
        co->cdr.call_start = T0;
        co->cdr.call_stop = T0 + 30;
        co->bc_port = 1;
        co->bc_channel = 2;
        co->bc_oad = (char *)"100";
        co->bc_dad = (char *)"200";
        snprintf(sip.sip_peer_network_ip, sizeof sip.sip_peer_network_ip, "192.0.2.10");
        snprintf(sip.sip_origin_address, sizeof sip.sip_origin_address, "desk7@192.0.2.10");
        snprintf(sip.sip_outbound_address, sizeof sip.sip_outbound_address, "pbx.example");
        sip.address_info = &addr;
        out.pd = &proxy;
        snprintf(out.sip_origin_address, sizeof out.sip_origin_address, "gw@198.51.100.1");
        snprintf(out.sip_outbound_address, sizeof out.sip_outbound_address, "carrier.example");
    }
    void TearDown() override
    {
        cdr_log_end_thread();
        if (gp->cdr_fp)
            fclose(gp->cdr_fp);
        gp->cdr_fp = nullptr;
        gp->log_cdr = 0;
        cdr_print_event = nullptr;
        RoutingTest::TearDown();
    }
    // The lines written to the CDR file.
    std::vector<std::string> lines()
    {
        fflush(gp->cdr_fp);
        std::ifstream in(file);
        std::vector<std::string> v;
        for (std::string s; std::getline(in, s);)
            v.push_back(s);
        return v;
    }
    std::string write(call_object *c)
    {
        size_t before = lines().size();
        cdr_write_out(c);
        auto v = lines();
        EXPECT_EQ(v.size(), before + 1);
        return v.size() == before + 1 ? v.back() : "";
    }
    std::string file;
    std::unique_ptr<call_object> co;
    sip_address_info_object addr{};
    proxy_def proxy{};
    call_leg_sip sip{}, out{};
};

void set(call_object *co, int from, int to, int term, int event, int status)
{
    co->cdr.from = from;
    co->cdr.to = to;
    co->cdr.terminated_by = term;
    co->cdr.tc_incoming_event = event;
    co->cdr.tc_incoming_status = status;
}

int fields(const std::string &s)
{
    int n = 1;
    for (char c : s)
        n += c == ',';
    return n;
}

const char *const TIMES = "23/11/14-22:13:20,23/11/14-22:13:50";

TEST_F(Cdr, LinesPerLayout)
{
    co->cdr.connect_start = T0 + 5;
    co->cdr.connect_stop = T0 + 29;
    co->new_source = (char *)"desk7";
    co->new_destination = (char *)"1234";
    snprintf(co->telnet_remote_address, sizeof co->telnet_remote_address, "10.0.0.9");
    co->telnet_remote_telnet_port = 2300;
    co->last_isdn_cause = 16;
    co->gsm_port = 3;
    co->analog_port = 5;
    std::string conn = "23/11/14-22:13:25,23/11/14-22:13:49,";
    std::string t = std::string(TIMES) + ",";
    struct {
        int from, to, term, event, status;
        bool leg, in, out;
        std::string line;
    } cases[] = {
        {TECH_ISDN, TECH_SIP, TECH_SIP, 3, 0, true, false, false,
         "CDR,42,ISDN:1:2,SIP,100,200,desk7@192.0.2.10,pbx.example," + t + conn + "SIP,EV3:0,-,-"},
        {TECH_SIP, TECH_ISDN, TECH_ISDN, 12, 0, true, false, false,
         "CDR,42,SIP:192.0.2.10,ISDN:1:2,\"Desk 7\" <sip:desk7@example.com>,\"\" <sip:1234@gw.example>,desk7,1234," + t +
             conn + "ISDN,EV12:16,-,-"},
        {TECH_SIP, TECH_GSM, TECH_GSM, 12, 0, true, false, false,
         "CDR,42,SIP:192.0.2.10,GSM:3:1,\"Desk 7\" <sip:desk7@example.com>,\"\" <sip:1234@gw.example>,desk7,1234," + t +
             conn + "GSM,EV12:0,-,-"},
        {TECH_SIP, TECH_SIP, TECH_SIP, 3, 0, true, true, true,
         "CDR,42,SIP:192.0.2.10,SIP:proxy.example,\"Desk 7\" <sip:desk7@example.com>,\"\" <sip:1234@gw.example>,"
         "gw@198.51.100.1,carrier.example," + t + conn + "SIP,EV3:0,-,-"},
        {TECH_SIP, TECH_ITAPI, TECH_ITAPI, 9, 31, false, true, false,
         "CDR,42,SIP:192.0.2.10,ITAPI:10.0.0.9,desk7@192.0.2.10,pbx.example,,,\"Desk 7\" <sip:desk7@example.com>,"
         "\"\" <sip:1234@gw.example>,desk7@10.0.0.9:2300,1234@10.0.0.9:2300," + t + conn + "ITAPI,EV9:31,-,-"},
        {TECH_ITAPI, TECH_ISDN, TECH_ISDN, 12, 0, false, false, false,
         "CDR,42,ITAPI:UNKNOWN,ISDN:1:2,-,-,desk7,1234," + t + conn + "ISDN,EV12:16,-,-"},
        {TECH_SIP, TECH_TARN, TECH_TARN, 6, 0, false, true, false,
         "CDR,42,SIP:192.0.2.10,TARN,desk7@192.0.2.10,pbx.example,-,-,\"Desk 7\" <sip:desk7@example.com>,"
         "\"\" <sip:1234@gw.example>,-," + t + conn + "TARN,ICAUSE_NO_BCHANNELS:0,-,-"},
        {TECH_ANALOG, TECH_GSM, TECH_ANALOG, 4, 0, false, false, false,
         "ERROR CDR 42<br>UNKNOWN_CALL from 4 : to 3 : term 4 : event 4"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.line);
        set(co.get(), c.from, c.to, c.term, c.event, c.status);
        co->cl_sip = c.leg ? &sip : nullptr;
        co->cl_sip_in = c.in ? &sip : nullptr;
        co->cl_sip_out = c.out ? &out : nullptr;
        if (c.from == TECH_SIP && c.to == TECH_SIP)
            co->cl_sip = &sip;
        EXPECT_EQ(write(co.get()), c.line);
    }
    EXPECT_EQ(gp->cds.connect_counter, (int)std::size(cases));
    EXPECT_EQ(gp->cds.total_call_duration_all, 25 * (int)std::size(cases));
}

TEST_F(Cdr, MissingLegsAndTextsKeepTheColumns)
{
    set(co.get(), TECH_ISDN, TECH_SIP, TECH_SIP, 3, 0);
    co->cl_sip = &sip;
    sip.last_nua_status_code = 486;
    std::string full = write(co.get());
    EXPECT_NE(full.find(",-,-,SIP,EV3:486,-,-"), std::string::npos) << full; // never answered
    EXPECT_EQ(gp->cds.connect_counter, 0);

    co->cl_sip = nullptr; // refused before its SIP leg existed
    std::string bare = write(co.get());
    EXPECT_EQ(bare, std::string("CDR,42,ISDN:1:2,SIP,100,200,,,") + TIMES + ",-,-,SIP,EV3:0,-,-");
    EXPECT_EQ(fields(bare), fields(full));

    // SIP to SIP: no outbound leg, a first leg without address information.
    set(co.get(), TECH_SIP, TECH_SIP, TECH_SIP, 3, 0);
    call_leg_sip plain{};
    co->cl_sip = co->cl_sip_in = &plain;
    co->cl_sip_out = nullptr;
    EXPECT_EQ(write(co.get()), std::string("CDR,42,SIP:,SIP:,-,-,,,") + TIMES + ",-,-,SIP,EV3:0,-,-");

    // Line breaks and control characters in names from the far end.
    set(co.get(), TECH_SIP, TECH_ISDN, TECH_ISDN, 12, 0);
    co->cl_sip = &sip;
    addr.from_display = (char *)"Evil\r\nX";
    addr.from_url_user = (char *)"a\tb\x7f";
    addr.to_url_user = nullptr;
    std::string s = write(co.get());
    EXPECT_NE(s.find("\"Evil  X\" <sip:a b @example.com>,\"\" <sip:@gw.example>"), std::string::npos) << s;

    // Without event names and with a proxy definition that has no address.
    cdr_print_event = nullptr;
    proxy.pd_sip_proxy = nullptr;
    set(co.get(), TECH_SIP, TECH_SIP, TECH_SIP, 3, 0);
    co->cl_sip = co->cl_sip_in = &sip;
    co->cl_sip_out = &out;
    co->cdr.connect_start = T0 + 1;
    co->cdr.connect_stop = T0 + 2;
    EXPECT_EQ(write(co.get()), std::string("CDR,42,SIP:192.0.2.10,SIP:,\"Evil  X\" <sip:a b @example.com>,"
                                           "\"\" <sip:@gw.example>,gw@198.51.100.1,carrier.example,") +
                                   TIMES + ",23/11/14-22:13:21,23/11/14-22:13:22,SIP,:486,-,-");
}

TEST_F(Cdr, ChargeForms)
{
    set(co.get(), TECH_ISDN, TECH_SIP, TECH_ISDN, 12, 0);
    co->last_isdn_cause = 16;
    snprintf(co->aoc.currency, sizeof co->aoc.currency, "EURXXXX");
    co->aoc.units = 7;
    co->aoc.amount = 150;
    co->aoc.multiplier = 2;
    struct {
        int units, currency;
        const char *tail;
    } cases[] = {
        {0, 0, "ISDN,EV12:16,-,-"},
        {1, 0, "ISDN,EV12:16,AOCD_U:7,-"},
        {1, 1, "ISDN,EV12:16,AOCD_U:7,AOCD_C:EURXXXX:150:2"},
        {0, 1, "ISDN,EV12:16,-,AOCD_C:EURXXXX:150:2"},
    };
    for (auto &c : cases) {
        co->aoc.units_received = c.units;
        co->aoc.currency_received = c.currency;
        std::string s = write(co.get());
        EXPECT_EQ(s.substr(s.size() - strlen(c.tail)), c.tail) << s;
    }
}

TEST_F(Cdr, NoRecordForInternalCallsAndMessagesALongLineIsCutAndTheLimitRotatesAfterTheWrite)
{
    set(co.get(), TECH_SIP, TECH_ISDN, TECH_ISDN, 12, 0);
    co->cl_sip = &sip;
    co->callinfo = CI_INTERNAL;
    cdr_write_out(co.get());
    co->callinfo = 0;
    co->f.is_sip_message = 1;
    cdr_write_out(co.get());
    co->f.is_sip_message = 0;
    EXPECT_TRUE(lines().empty());

    // The first line (1023 characters and a line feed) stays below the
    // limit and asks for nothing; the second reaches it and asks for a
    // rotation once it is written.
    gp->cdr_log_filesize_limit = 1100;
    std::string longer(3000, '9');
    co->new_source = longer.data();
    EXPECT_EQ(write(co.get()).size(), size_t(CDR_LINE_MAX));
    co->new_source = nullptr;
    EXPECT_EQ(gp->cdr_log_do_flush, 0);
    EXPECT_FALSE(cdr_log_thread_exists());
    cdr_write_out(co.get());
    cdr_log_end_thread(); // the rotation served
    std::ifstream old(dir + "/tarn.cdr.1");
    int n = 0;
    for (std::string l; std::getline(old, l);)
        n++;
    EXPECT_EQ(n, 2);
    EXPECT_TRUE(lines().empty());
}

TEST_F(Cdr, EachRecordIsInTheFileWholeTheMomentItIsWritten)
{
    // Read as another process (or the next run after a crash) reads it:
    // nothing here flushes the stream.
    set(co.get(), TECH_SIP, TECH_ISDN, TECH_ISDN, 12, 0);
    co->cl_sip = &sip;
    for (int n = 1; n <= 3; n++) {
        co->pid = n;
        cdr_write_out(co.get());
        std::ifstream in(file);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(all.empty()) << "record " << n << " still in a buffer";
        EXPECT_EQ(all.back(), '\n');
        std::istringstream lines_in(all);
        int count = 0;
        for (std::string l; std::getline(lines_in, l); count++)
            EXPECT_EQ(fields(l), 16) << l;
        EXPECT_EQ(count, n);
    }
}

TEST_F(Cdr, ResetDatesAndCauses)
{
    cdr_info c;
    memset(&c, 0x5a, sizeof c);
    EXPECT_EQ(cdr_reset(&c), &c);
    EXPECT_EQ(c.from, TECH_UNKNOWN);
    EXPECT_EQ(c.terminated_by, TECH_UNKNOWN);
    EXPECT_EQ(c.tc_outgoing_status, -1);
    EXPECT_EQ(c.connect_stop, 0);
    struct tm tm {};
    tm.tm_year = 105;
    tm.tm_mon = 0;
    tm.tm_mday = 2;
    tm.tm_hour = 3;
    tm.tm_min = 4;
    tm.tm_sec = 5;
    char buf[32];
    cdr_format_datetime(buf, sizeof buf, &tm);
    EXPECT_STREQ(buf, "05/01/02-03:04:05");
    EXPECT_STREQ(cdr_get_tarn_termination_cause(0), "NO_DIALPLAN_MATCH");
    EXPECT_STREQ(cdr_get_tarn_termination_cause(10), "ICAUSE_SAVP_NOT_ACCEPTABLE");
    EXPECT_STREQ(cdr_get_tarn_termination_cause(11), "UNKNOWN");
    EXPECT_STREQ(cdr_get_tarn_termination_cause(-1), "UNKNOWN");
    EXPECT_STREQ(dialplan_get_tech_name(6), "ITAPI");
    EXPECT_STREQ(dialplan_get_tech_name(8), "UNKNOWN");
    EXPECT_STREQ(dialplan_get_tech_name(-1), "UNKNOWN");
}

} // namespace
