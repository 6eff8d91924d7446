// The console's ISDN commands against the ISDN library started in this
// process (port 1 TE basic rate point-to-multipoint, port 7 TE
// point-to-point, neither with a far end): refusals of calls and ports,
// blocking, the time port, RESTART marks and the raw facility written into
// a call's B-channel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "console_test_util.h"
#include "isdn_interrogate.h"
#include "isdn_lib_intern.h"
#include "mc_call_control.h"
#include "mc_isdn_diversion.h"
#include "isdn_msg_parser.h"
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

TEST(ConsoleIsdnCommands, CallCommandsRefuseWhatTheyCannotReach)
{
    const struct {
        const char *line, *answer;
    } rows[] = {
        {"ev_hold:300", "Not sending HOLD to call at invalid index 300\n\r\n"},
        {"ev_hold:0", "Not sending HOLD to inactive call at index 0\n\r\n"},
        {"ev_suspend:-1", "Not sending SUSPEND to call at invalid index -1\n\r\n"},
        {"ev_mcid:1", "Not sending MCID to inactive call at index 1\n\r\n"},
        // The index is checked before the pool is touched.
        {"hold300", "no bc object on call at index 300\n\r\n"},
        {"retr-4", "no bc object on call at index -4\n\r\n"},
        {"hold0", "no bc object on call at index 0\n\r\n"},
        {"ect05", "no bc object on call at index 0\n\r\n"},
        {"sendfac_idx0", "Please pass call index and base64 encoded data separated by a colon\n\r\n"},
        {"sendfac_pid7", "Please pass call pid and base64 encoded data separated by a colon\n\r\n"},
        {"sendfac_idx300:AAAA", "No  call on index 300\n\r\n"},
        {"sendfac_pid777:AAAA", "No  call with pid 777\n\r\n"},
        {"sis0", "cannot srtp_stat, couldn't retrieve call object at index 0\n\r\n"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(dispatcher_answer(r.line), r.answer) << r.line;
}

TEST(ConsoleIsdnCommands, RawFacilityGoesIntoTheCallsBchannel)
{
    misdn_stack *stack = get_stack_by_isdn_port(1);
    ASSERT_NE(stack, nullptr);
    misdn_bchannel *bc = misdn_get_channel_by_stack_and_index(stack, 1);
    call_object *co = gp->operations[0];
    co->callinfo = CI_SIP_TO_ISDN;
    co->pid = 4711;
    EXPECT_EQ(dispatcher_answer("sendfac_idx0:AAAA"), "No bchannel on call at index 0\n\r\n");
    co->bc = bc;
    EXPECT_EQ(dispatcher_answer("sendfac_idx0:kaETAgIq9QIBIjAKoQUwAwIBAYIBAA=="),
              "Sending Facility Event on call at index 0\n\r\n");
    ASSERT_EQ(bc->outfac_len[0], 22);
    const unsigned char head[] = {0x91, 0xa1, 0x13, 0x02, 0x02, 0x2a, 0xf5};
    EXPECT_EQ(memcmp(bc->outfac[0], head, sizeof head), 0);
    EXPECT_EQ(dispatcher_answer("sendfac_pid4711:"), "Not Sending Facility Event on call at index 0, no data passed\n\r\n");
    EXPECT_EQ(dispatcher_answer("tfac0"), "Sending Facility Event on call at index 0\n\r\n");
    // Base64 text longer than one facility content is cut to it.
    std::string big = "sendfac_idx0:" + std::string(1000, 'A');
    EXPECT_EQ(dispatcher_answer(big.c_str()), "Sending Facility Event on call at index 0\n\r\n");
    EXPECT_EQ(bc->outfac_len[0], 256);
    EXPECT_EQ(dispatcher_answer("ev_hold:0"), "Sending HOLD to call at index 0\n\r\n");
    EXPECT_EQ(dispatcher_answer("ect07"), "ecting call at index 0 invokeid 7\n\r\n");
    EXPECT_EQ(bc->fac_out.Function, Fac_ECTExecute);
    co->bc = nullptr;
    co->callinfo = CI_FREE;
    memset(bc->outfac_len, 0, sizeof bc->outfac_len);
}

// "inf": user-user text (test variable 5) or the test elements of
// variables 0..3 go into the call's B-channel; long text is cut to the
// element's 255 octets.
TEST(ConsoleIsdnCommands, UserInformationFromTextOrTestVariables)
{
    int saved[MC_TEST_VARIABLES];
    memcpy(saved, mc_test_variables, sizeof saved);
    mc_test_variables[5] = 1;
    EXPECT_EQ(dispatcher_answer("inf0:hello"), "no bc object on call at index 0\n\r\n");
    EXPECT_EQ(dispatcher_answer("inf300:hello"), "no bc object on call at index 300\n\r\n");
    misdn_bchannel *bc = misdn_get_channel_by_stack_and_index(get_stack_by_isdn_port(7), 1);
    ASSERT_NE(bc, nullptr);
    call_object *co = gp->operations[0];
    co->callinfo = CI_SIP_TO_ISDN;
    EXPECT_EQ(dispatcher_answer("inf0:hello"), "no bc object on call at index 0\n\r\n");
    co->bc = bc;
    EXPECT_EQ(dispatcher_answer("inf0:hello"), "\r\n");
    EXPECT_STREQ((const char *)bc->uu, "hello");
    EXPECT_EQ(bc->uu_protocol, 0x84);
    EXPECT_EQ(dispatcher_answer("inf0"), "\r\n");
    EXPECT_STREQ((const char *)bc->uu, "yourmessage");
    std::string big = "inf0:" + std::string(400, 'u');
    EXPECT_EQ(dispatcher_answer(big.c_str()), "\r\n");
    EXPECT_EQ(std::string((const char *)bc->uu), std::string(255, 'u'));

    const struct {
        int v[4];
        std::vector<unsigned char> uu;
    } rows[] = {
        {{1, 0, 0x1234, 9}, {0x82, 0x10, 0x09, 0x01, 0x34}},
        {{0, 1, 5, 0x107}, {0x82, 0x10, 0x0A, 0x01, 0x07}},
        {{1, 1, 2, 3}, {0x82, 0x10, 0x09, 0x01, 0x02, 0x82, 0x10, 0x0A, 0x01, 0x03}},
        {{2, 0, 1, 1}, {}},
    };
    mc_test_variables[5] = 0;
    for (const auto &r : rows) {
        memcpy(mc_test_variables, r.v, sizeof r.v);
        memset(bc->uu, 0xEE, sizeof bc->uu);
        EXPECT_EQ(dispatcher_answer("inf0"), "\r\n");
        std::vector<unsigned char> want = r.uu;
        want.push_back(0xEE);
        EXPECT_EQ(std::vector<unsigned char>(bc->uu, bc->uu + want.size()), want) << r.v[0] << r.v[1];
    }
    co->bc = nullptr;
    co->callinfo = CI_FREE;
    bc->uulen = 0;
    memcpy(mc_test_variables, saved, sizeof saved);
}

TEST(ConsoleIsdnCommands, PortCommands)
{
    EXPECT_EQ(dispatcher_answer("bl1"), "Blocking ISDN Port 1\n\r\n");
    EXPECT_TRUE(misdn_lib_is_port_blocked(1));
    EXPECT_EQ(dispatcher_answer("bl1"), "Un-Blocking ISDN Port 1\n\r\n");
    EXPECT_FALSE(misdn_lib_is_port_blocked(1));
    EXPECT_EQ(dispatcher_answer("bl0"), "Invalid port 0, ignoring request\n\r\n");
    EXPECT_EQ(dispatcher_answer("l2up9"), "Invalid port 9, ignoring request\n\r\n");
    EXPECT_EQ(dispatcher_answer("l2down9"), "Invalid port 9, ignoring request\n\r\n");
    EXPECT_EQ(dispatcher_answer("l2up7").rfind("Port 7: L2 ", 0), 0u);
    EXPECT_EQ(dispatcher_answer("itp7"), "Setting isdn time port to 7\n\r\n");
    EXPECT_EQ(misdn_set_time_from_isdn, 7);
    misdn_set_time_from_isdn = 0;

    EXPECT_EQ(dispatcher_answer("ir40"), "INVALID PORT 40\n\r\n");
    EXPECT_EQ(dispatcher_answer("ir9"), "INVALID PORT 9\n\r\n");
    gp->isdn_global_message_state[1] = 1;
    EXPECT_EQ(dispatcher_answer("ir1"), "ALREADY IN PROGRESS ON PORT 1\n\r\n");
    gp->isdn_global_message_state[1] = 0;
    EXPECT_EQ(dispatcher_answer(" ir1:0"), "Unknown input:  ir1:0\n\r\n");
    EXPECT_EQ(dispatcher_answer("ir1: 2"), "sending restart port 1 channel 2\n\r\n");
    EXPECT_EQ(gp->isdn_global_message_state[1], 0);
}

// Call control's part played by a thread: once the request is sent it
// writes the answer's state word (and the interrogation lines).
struct network_answer {
    std::thread t;
    network_answer(int port, int sent, int answer, std::vector<std::string> lines = {}, bool numbers = false)
    {
        t = std::thread([=] {
            for (int i = 0; i < 500 && __atomic_load_n(&gp->cf_facility_in_progress[port], __ATOMIC_ACQUIRE) != sent;
                 i++)
                usleep(1000);
            for (const std::string &l : lines)
                isdn_interrogate_add_line(numbers, l.c_str());
            __atomic_store_n(&gp->cf_facility_in_progress[port], answer, __ATOMIC_RELEASE);
        });
    }
    ~network_answer() { t.join(); }
};

TEST(ConsoleIsdnCommands, DiversionRequests)
{
    EXPECT_EQ(dispatcher_answer("cfdeact:9:123"), "INVALID PORT 9\n\r\n");
    EXPECT_EQ(dispatcher_answer("cfquery:40:123"), "INVALID PORT 40\n\r\n");
    gp->cf_facility_in_progress[1] = 9;
    EXPECT_EQ(dispatcher_answer("cfquery:1:123"), "ALREADY IN PROGRESS ON PORT 1\n\r\n");
    gp->cf_facility_in_progress[1] = 0;

    // No answer: TIMEOUT after ten polls, and the port is free again.
    EXPECT_EQ(dispatcher_answer("cfquery:1:123"),
              "Interrogating Diversion: Served User Number |123| Ton |-1|\nTIMEOUT\n\r\n");
    EXPECT_EQ(gp->cf_facility_in_progress[1], 0);
    {
        network_answer n(1, 1, 4);
        EXPECT_EQ(dispatcher_answer("cfact:1: 100 :200:national:5"),
                  "Activating Diversion ServedUserNumber |100| Ton |2|, ForwardedToNumber |200| Ton |5|  => \n"
                  "SUCCESS\n\r\n");
    }
    {
        network_answer n(1, 5, 7);
        EXPECT_EQ(dispatcher_answer("cfdeact:1:100:subscriber"),
                  "Deactivating Diversion ServedUserNumber |100| Ton |4|\nFAILED\n\r\n");
    }
    {
        network_answer n(1, 9, 11, {"cfu 100 => 200", "cfb 100 => 300"});
        EXPECT_EQ(dispatcher_answer("cfquery:1:100"), "Interrogating Diversion: Served User Number |100| Ton |-1|\n"
                                                      "cfu 100 => 200\ncfb 100 => 300\n\r\n");
    }
    EXPECT_EQ(interrogateDiversionResponseCount, 0);
    {
        network_answer n(1, 9, 11);
        EXPECT_EQ(dispatcher_answer("cfquery:1:100"), "Interrogating Diversion: Served User Number |100| Ton |-1|\n"
                                                      "No Call Forwarding Active\n\r\n");
    }
    {
        network_answer n(1, 13, 15);
        EXPECT_EQ(dispatcher_answer("cfnum:1:"),
                  "Interrogating Numbers: ServedUserNumber || Ton |-1|\nNo Numbers Retrieved\n\r\n");
    }
    {
        network_answer n(1, 13, 15, {"030123"}, true);
        EXPECT_EQ(dispatcher_answer("cfnum:1:7:3"), "Interrogating Numbers: ServedUserNumber |7| Ton |3|\n030123\n\r\n");
    }
    EXPECT_EQ(gp->cf_facility_in_progress[1], 0);

    const struct {
        const char *text;
        int ton;
    } tons[] = {{"1", 1}, {"6", 6}, {"7", 0}, {"International", 1}, {"abbreviated", 6}, {"foo", 0}, {"", 0}};
    for (const auto &t : tons)
        EXPECT_EQ(string_to_ton(t.text), t.ton) << t.text;
}

} // namespace
