// The console's access-control, registration and SIP test commands on a
// "lan" stack with access control and no SIP stack running; packet-filter
// commands only go to the spool (syscall mode 99).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <pthread.h>

#include <string>

#include "acl.h"
#include "application.h"
#include "conf_root.h"
#include "console_test_util.h"
#include "experimental_options.h"
#include "mc_options.h"

namespace {

class SipAclCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        console_test_application(2);
        mc_init_options();
    }
    void SetUp() override
    {
        _parse_experimental_options("syscall_mode=99");
        acl = new tarn_acl();
        pthread_mutex_init(&acl->acl_lock, nullptr);
        snprintf(acl->name, sizeof acl->name, "lan");
        snprintf(acl->blacklist_path, sizeof acl->blacklist_path, "%s", root.path("blacklist").c_str());
        acl->blacklist_block_duration = 60;
        acl->blacklist_options_timeframe_length = 10;
        acl->blacklist_max_options_packets_per_timeframe = 2;
        acl->last_call_attempt_cleanup[ACL_OPTIONS_PACKET] = time(nullptr);
        white = acl_whitelist_element{};
        snprintf(white.ip, sizeof white.ip, "10.0.0.0");
        snprintf(white.ip_resolved, sizeof white.ip_resolved, "10.0.0.0");
        white.netmask_prefix = 24;
        white.netmask = get_netmask_from_prefix(24);
        inet_pton(AF_INET, "10.0.0.0", &white.ipbytes);
        white.ipbytes_masked = white.ipbytes & white.netmask;
        white.stack_type = STACK_LAN;
        acl->whitelist = &white;
        acl->whitelist_size = 1;
        sip_stack &ss = gp->sip_stacks[0];
        snprintf(ss.name, sizeof ss.name, "lan");
        ss.active = 1;
        ss.acl = acl;
        acl->ss = &ss;
        gp->sip_stack_size = 1;
    }
    void TearDown() override
    {
        gp->sip_stacks[0].acl = nullptr;
        gp->sip_stack_size = 0;
        delete acl;
    }
    conf_root root{false};
    tarn_acl *acl = nullptr;
    acl_whitelist_element white{};
};

TEST_F(SipAclCommands, WhitelistTestAndSettings)
{
    EXPECT_EQ(dispatcher_answer("aclt10.0.0.7"), "COMPARING |10.0.0.7| with 10.0.0.0 => 10.0.0.0/24 => MATCH\n\r\n");
    EXPECT_EQ(dispatcher_answer("aclt10.0.1.7"), "COMPARING |10.0.1.7| with 10.0.0.0 => 10.0.0.0/24 => NOMATCH\n\r\n");
    EXPECT_EQ(dispatcher_answer("acllw"), "Listing Whitelist Entries\nlan:\n"
                                          "idx:0 address:|10.0.0.0| resolved:|10.0.0.0| netmask |24| stack |LAN|\n\r\n");
    EXPECT_EQ(dispatcher_answer("aclls"), "Stack: lan\n"
                                          "blacklist_max_options:      2\n"
                                          "blacklist_options_timeframe_length: 10\n"
                                          "blacklist_max_invite:      0\n"
                                          "blacklist_invite_timeframe_length: 0\n"
                                          "blacklist_max_register:      0\n"
                                          "blacklist_register_timeframe_length: 0\n"
                                          "blacklist_max_other:      0\n"
                                          "blacklist_other_timeframe_length: 0\n"
                                          "blacklist_block_duration    60\n\r\n");
}

TEST_F(SipAclCommands, SimulatedPacketsFillTheBlacklistAndAclcbEmptiesIt)
{
    std::string first = dispatcher_answer("acla:lan:options:1.2.3.4");
    EXPECT_EQ(first.rfind("Simulating packet on stack |lan| type |options| ip |1.2.3.4|\n"
                          "Listing Call Attempts for lan:OPTIONS (since ",
                          0),
              0u)
        << first;
    EXPECT_NE(first.find("idx:0 cnt:1 ip:|1.2.3.4|\n"), std::string::npos) << first;
    EXPECT_NE(first.find("Blacklisting not activated for lan:INVITE\n"), std::string::npos) << first;
    EXPECT_EQ(dispatcher_answer("aclawan:register:1.2.3.4"), "Error with stackname |wan| packet_type 2\n\r\n");
    dispatcher_answer("acla:lan:options:1.2.3.4");
    dispatcher_answer("acla:lan:options:1.2.3.4");
    std::string black = dispatcher_answer("acllb");
    EXPECT_NE(black.find("Listing Blacklisted IPs for stack lan (contained for 60 seconds)\n"), std::string::npos)
        << black;
    EXPECT_NE(black.find(" ip:1.2.3.4 stack:lan\n"), std::string::npos) << black;
    EXPECT_EQ(dispatcher_answer("aclcb"), "unblocking all blacklisted IPs\n\r\n");
    EXPECT_EQ(dispatcher_answer("acllb"), "Listing Blacklisted IPs for stack lan (contained for 60 seconds)\n\r\n");
    EXPECT_EQ(dispatcher_answer("acla:lan:options"), "\r\n"); // a missing field
}

TEST_F(SipAclCommands, RefusalsOfCallsRegistrationsAndPorts)
{
    const struct {
        const char *line, *answer;
    } rows[] = {
        {"rit5", "Do not have active call on index 5\n\r\n"},
        {"rig-1", "Do not have active call on index -1\n\r\n"},
        {"rm99", "\r\n"},
        {"rm-1", "\r\n"},
        {"rsr0", "\r\n"},
        {"nhd", "nua handle debug not active\n\r\n"},
        {"sie1", "parse error, syntax isdnport:digit\n\r\n"},
        {"sie1:5", "no call with isdn port 1\n\r\n"},
        {"sidc1", "No Call Object at index 1\n\r\n"},
        {"sidp3", "\r\n"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(dispatcher_answer(r.line), r.answer) << r.line;
}

} // namespace
