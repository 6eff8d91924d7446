// The console's ISDN listings against the ISDN library started in this
// process: port 1 TE basic rate point-to-multipoint, port 7 TE basic rate
// point-to-point without far end (never up); B-channels, type-of-number
// statistics.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "application.h"
#include "console_test_util.h"
#include "isdn_lib_intern.h"
#include "isdn_test_support.h"
#include "mc_options.h"
#include "pools.h"

namespace {

class Library : public ::testing::Environment {
public:
    void SetUp() override
    {
        console_test_application(2);
        start_library("1 te bri ptmp - - -\n7 te bri ptp - - -\n", port_list({1, 7}, {0, 1}));
        mc_init_options();
    }
    void TearDown() override { misdn_lib_destroy(); }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Library);

const std::string RULE = "---------------------------------------------------------\n";

TEST(ConsoleIsdnListings, TypeOfNumberStatistics)
{
    ton_statistics_count(&gp->ton_statistics, 1, 1, "4930123", 0, "123");
    ton_statistics_count(&gp->ton_statistics, 1, 1, "4930999", 2, "0301234"); // the first sample stays
    ton_statistics_count(&gp->ton_statistics, 1, 9, "x", 7, "y");            // types outside the table
    ton_statistics_count(&gp->ton_statistics, 40, 0, "x", 0, "y");           // a port outside the table
    ton_statistics_count(&gp->ton_statistics, 7, 4, "77", 4, "88");
    EXPECT_EQ(dispatcher_answer("sns"), "Numplan statistics (samples of incoming numbers are shown in brackets)\n"
                                        "Numplan statistics port 1:\n"
                                        "OTON INTERNATIONAL  : 2 (4930123)\n"
                                        "DTON UNKNOWN        : 1 (123)\n"
                                        "DTON NATIONAL       : 1 (0301234)\n"
                                        "Numplan statistics port 7:\n"
                                        "OTON PRIVATE        : 1 (77)\n"
                                        "DTON PRIVATE        : 1 (88)\n\r\n");
    EXPECT_EQ(dispatcher_answer("rns"), "\r\n");
    EXPECT_EQ(dispatcher_answer("sns"), "Numplan statistics (samples of incoming numbers are shown in brackets)\n"
                                        "Numplan statistics port 1:\n"
                                        "Numplan statistics port 7:\n\r\n");
}

TEST(ConsoleIsdnListings, BchannelsInUseAndEverySlot)
{
    misdn_stack *stack = get_stack_by_isdn_port(1);
    ASSERT_NE(stack, nullptr);
    misdn_bchannel *bc = misdn_get_channel_by_stack_and_index(stack, 1);
    ASSERT_NE(bc, nullptr);
    int saved_in_use = bc->in_use;
    bc->in_use = 1;
    bc->pid = 31;
    snprintf(bc->oad, sizeof bc->oad, "201");
    snprintf(bc->dad, sizeof bc->dad, "102");

    std::string up1 = misdn_is_port_up_by_stack(stack, 0) ? "" : "Port is not up\n";
    const char *info = manager_isdn_get_info(bc->evq);
    std::string queued = info ? info : "(null)"; // nothing queued on the slot
    std::string bcl = dispatcher_answer("bc");
    EXPECT_EQ(bcl, "Listing Bchannels\n"
                   "Port 1: (2 channels):\n" +
                       up1 +
                       "Port 1: bc[1] (pid: 31) in_use: co=>NOT_ASSOCIATED! OAD:201 DAD:102 " + queued + "\n" + "Port 1: 1/2 bchannel objects in use\n" + RULE +
                       "Port 7: (2 channels):\nPort is not up\nPort 7: All bchannel objects free\n" + RULE + "\r\n");

    // A call bound to the slot is named by its call id.
    call_object *co = gp->operations[1];
    co->callinfo = CI_ISDN_TO_SIP;
    co->bc = bc;
    co->pid = 123456;
    std::string full = dispatcher_answer("bcf");
    EXPECT_NE(full.find("Port 1: (3 channels):\n"), std::string::npos) << full;
    EXPECT_NE(full.find("Port 1: bc[1] (pid: 31) in_use=1 l3_id 0x" ), std::string::npos) << full;
    EXPECT_NE(full.find(" : co=>pid:123456\n"), std::string::npos) << full;
    EXPECT_NE(full.find("Port 7: (3 channels):\nPort is not up\nPort 7: bc[0] (pid: "), std::string::npos) << full;
    EXPECT_EQ(full.find("bchannel objects"), std::string::npos) << full;
    co->bc = nullptr;
    co->callinfo = CI_FREE;
    bc->in_use = saved_in_use;
}

} // namespace
