// What the console shows of the dial plan: the listings of the loaded table
// and the test calls that run the real search on a dummy call.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fstream>
#include <functional>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "call_reset.h"
#include "confman.h"
#include "dialplan.h"
#include "dialplan_console.h"
#include "isdn_lib.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "schema.h"
#include "pools.h"
#include "proxy_def.h"
#include "routing_fixture.h"

namespace {

// What the function writes to a stream.
std::string written(const std::function<void(FILE *)> &fn)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    fn(f);
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

std::string printed(void (*fn)(FILE *))
{
    return written(fn);
}

class DialplanConsole : public RoutingTest {
protected:
    void TearDown() override
    {
        dialplan_free_table();
        RoutingTest::TearDown();
    }
    void load(const std::string &text)
    {
        ASSERT_EQ(dialplan_load(write_file("tarn.dialplan", text).c_str()), 0);
    }
};

TEST_F(DialplanConsole, EmptyPlanListsTheHeadLineOnly)
{
    load("");
    EXPECT_EQ(printed(dialplan_list),
              "Line\tFromTech\tToTech\tFromID\tToId\tOrig.Dest\tNew Dest\tOrig.Source\tNew Source\tConfig\n");
    EXPECT_EQ(printed(dialplan_list_dbg), "Line\tpdin\tpdout\tFromTech\tToTech\tFromID\tToId\tOrig.Dest\tNew "
                                          "Dest\tOrig.Source\tNew Source\tConfig\n");
}

TEST_F(DialplanConsole, OneLinePerElementWithItsFileLine)
{
    load("# routes\n"
         "SIP\tISDN\t*\t1\t(.*)\t\\1\t(.*)\t\\1\t\n"
         "\n"
         "ISDN\tGSM\t2\t1\t0(.*)\t\\1\t(.*)\t49\\1\tcodecs=8\n");
    ASSERT_EQ(gp->dialplan_size, 2);
    std::string list = printed(dialplan_list);
    EXPECT_NE(list.find("\n2\tSIP\tISDN\t"), std::string::npos) << list;
    EXPECT_NE(list.find("\n4\tISDN\tGSM\t2\t1\t0(.*)\t\\1\t(.*)\t49\\1\tcodecs=8\n"), std::string::npos) << list;

    char want[256];
    snprintf(want, sizeof want, "4\t%p\t%p\tISDN\tGSM\t2\t1\t0(.*)\t\\1\t(.*)\t49\\1\tcodecs=8\n",
             (void *)gp->dialplan[1].pd_in, (void *)gp->dialplan[1].pd_out);
    EXPECT_EQ(written([](FILE *f) { dialplan_list_element_dbg(f, &gp->dialplan[1]); }), want);
}

TEST(DummyAddressInfo, EveryTextTheRequestReadsIsEmpty)
{
    sip_address_info_object *a = create_dummy_address_info();
    ASSERT_NE(a, nullptr);
    for (const char *t : {a->from_display, a->from_url_user, a->from_url, a->to_display, a->p_asserted_identity,
                          a->to_url_user, a->to_url})
        EXPECT_STREQ(t, "");
    EXPECT_EQ(a->request_url_user, nullptr);
    free_address_info(a);
}

// ---- test calls -----------------------------------------------------------------------

std::string ran(void (*test)(FILE *, const char *), const char *input)
{
    return written([&](FILE *f) { test(f, input); });
}

bool has_line(const std::string &out, const std::string &line)
{
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

std::vector<int> isdn_sent;
int record_isdn(call_object *, int event)
{
    isdn_sent.push_back(event);
    return 0;
}

class DialplanTestCall : public DialplanConsole {
protected:
    static void SetUpTestSuite()
    {
        application_create();
        init_locks();
        cm_init();
        init_default_call_configuration();
    }
    void SetUp() override
    {
        DialplanConsole::SetUp();
        // Proxy definitions as the daemon makes and frees them.
        saved_iface = dialplan_sip;
        dialplan_sip_iface i{};
        i.get_port_group_sip_by_name = pg_get_port_group_sip_by_name;
        i.create_outbound_proxy_definition_by_id = [](const char *id) {
            return create_proxy_definition_by_id(id, SIP_OUTBOUND);
        };
        i.clone_proxy_definition = clone_proxy_definition;
        i.free_proxy_def = free_proxy_def;
        dialplan_set_sip_iface(&i);
        ASSERT_EQ(create_call_object_pools(4), 0);
        call_reset_hooks h{};
        h.tarn_misdn_lib_send_event = record_isdn;
        call_reset_set_hooks(&h);
        isdn_sent.clear();
        load("SIP\tISDN\t*\t1\t(.*)\t\\1\t(.*)\t\\1\t\n"
             "ISDN\tSIP\t2\t10.9.0.1\t(.*)\t\\1\t(.*)\t\\1\t\n");
        std::string path = write_file("isdn.conf", "[pbx]\nports=1\n[trunk]\nports=2\nconfig=oton=2\n");
        cm *c = configman_create("ISDN");
        ASSERT_TRUE(c);
        ASSERT_EQ(cm_load(&c, path.c_str()), 0);
        gp->config_isdn = c;
        testing::internal::CaptureStderr();
        pg_init_isdn_port_group_struct();
        testing::internal::GetCapturedStderr();
    }
    void TearDown() override
    {
        call_reset_clear_hooks();
        pg_free_line_port_groups();
        cm_destroy(gp->config_isdn);
        gp->config_isdn = nullptr;
        DialplanConsole::TearDown(); // the table goes with the definitions it holds
        dialplan_sip = saved_iface;
    }
    dialplan_sip_iface saved_iface{};
};

TEST_F(DialplanTestCall, SipRequestRoutedToIsdn)
{
    std::string out = ran(dialplan_make_test_from_sip, "src_ip=192.0.2.10|from_user=desk7|to_user=1234");
    EXPECT_EQ(out.rfind("Following Values can be set: src_ip,from_user,from_display,from_url,to_user,to_display,"
                        "to_url,pai_user,pai_url,pai_all,ppi_user,ppi_display,ppi_all\n"
                        "Key/Value pairs are separated by '|', e.g. from_user=desk7|from_url=192.0.2.10|"
                        "to_user=1234\n\n=> following data used for incoming SIP call\n",
                        0),
              0u)
        << out;
    for (const char *line : {"src ip: 192.0.2.10", "from user: desk7", "to user: 1234",
                             "Found Dialplan Match: SIP -> ISDN (line 1)", "isdn dad  : 1234", "isdn oad  : desk7"})
        EXPECT_TRUE(has_line(out, line)) << line << "\n" << out;
    for (int i = 0; i < OPERATIONARRAYSIZE; i++)
        EXPECT_EQ(gp->operations[i]->callinfo, CI_FREE) << "no pooled call is touched";
}

TEST_F(DialplanTestCall, PairsAreTrimmedAndTheRestIgnored)
{
    std::string out = ran(dialplan_make_test_from_sip, " from_user =  1234 |to_user|=5|bogus=1|| to_display = Desk ");
    EXPECT_TRUE(has_line(out, "from user: 1234")) << out;
    EXPECT_TRUE(has_line(out, "to user: ")) << out;
    EXPECT_TRUE(has_line(out, "to display: Desk")) << out;

    // No pair at all: the search runs on empty fields.
    out = ran(dialplan_make_test_from_sip, "nothing here");
    EXPECT_TRUE(has_line(out, "from user: ")) << out;
    EXPECT_TRUE(has_line(out, "Found Dialplan Match: SIP -> ISDN (line 1)")) << out;

    // Only the first 4095 characters count: the pair behind them is lost.
    std::string long_input = "from_user=" + std::string(4090, 'x') + "|to_user=77";
    out = ran(dialplan_make_test_from_sip, long_input.c_str());
    EXPECT_FALSE(has_line(out, "to user: 77"));
}

TEST_F(DialplanTestCall, IsdnPortWithoutConfigurationIsCancelled)
{
    std::string out = ran(dialplan_make_test_from_isdn, "port=99|oad=1|dad=2");
    EXPECT_EQ(out, "Following Values can be set: port,oad,dad,qsig,screen,pres,oton,dton\n"
                   "Key/Value pairs are separated by '|', e.g. port=3|oad=1234|dad=5678|oton=1\n\n"
                   "Failed getting config for port 99 => cancelling\n");
}

TEST_F(DialplanTestCall, IsdnCallRoutedToSipSendsNothing)
{
    std::string out = ran(dialplan_make_test_from_isdn, "port=2|oad=4711|dad=1234|screen=1|pres=0|oton=1|dton=2");
    for (const char *line : {"=> following data used for incoming ISDN call", "port: 2", "oad: 4711", "dad: 1234",
                             "screen: 1", "oton: 1", "dton: 2", "Found Dialplan Match: ISDN -> SIP (line 2)"})
        EXPECT_TRUE(has_line(out, line)) << line << "\n" << out;
    EXPECT_TRUE(has_line(out, "to user: 01234")) << "national number, with its prefix\n" << out;
    EXPECT_TRUE(isdn_sent.empty()) << "the dummy B-channel is not the library's";

    out = ran(dialplan_make_test_from_isdn, "port=2|oad=4711|dad=1234|qsig=x");
    EXPECT_TRUE(has_line(out, "qsig: x")) << out;
    EXPECT_TRUE(isdn_sent.empty());
}

TEST_F(DialplanTestCall, ManyRunsLeaveNothingBehind)
{
    // The sanitizer tree checks that nothing leaks.
    for (int i = 0; i < 1000; i++) {
        ran(dialplan_make_test_from_sip, "src_ip=192.0.2.10|from_user=desk7|to_user=1234|pai_all=sip:a@b");
        ran(dialplan_make_test_from_isdn, "port=2|oad=4711|dad=1234");
    }
    EXPECT_TRUE(isdn_sent.empty());
    int in_use = 0;
    for (int i = 0; i < CLSIPSIZE; i++)
        in_use += gp->sip_call_legs[i]->in_use;
    EXPECT_EQ(in_use, 0);
}

} // namespace
