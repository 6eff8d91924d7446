// What the console shows of the dial plan: the listings of the loaded table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "application.h"
#include "dialplan.h"
#include "dialplan_console.h"
#include "proxy_def.h"
#include "routing_fixture.h"

namespace {

std::string printed(void (*fn)(FILE *))
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

    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    dialplan_list_element_dbg(f, &gp->dialplan[1]);
    fclose(f);
    char want[256];
    snprintf(want, sizeof want, "4\t%p\t%p\tISDN\tGSM\t2\t1\t0(.*)\t\\1\t(.*)\t49\\1\tcodecs=8\n",
             (void *)gp->dialplan[1].pd_in, (void *)gp->dialplan[1].pd_out);
    EXPECT_EQ(std::string(buf, len), want);
    free(buf);
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

} // namespace
