// SIP access control against the real packet filter: the binary runs in a
// private mount and network namespace of its own, commands in the default
// in-process mode; iptables-legacy-save shows what the filter holds.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "acl.h"
#include "application.h"
#include "confman.h"
#include "dns_cache.h"
#include "schema.h"
#include "experimental_options.h"
#include "log.h"
#include "private_netns.h"
#include "system_command.h"

namespace {

std::string why_not;
const bool isolated = enter_private_mounts(&why_not) && enter_private_network(&why_not);

std::vector<std::string> debug_lines;
void keep_debug(int, int, const char *, int, const char *, const char *, const char *fmt, va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    debug_lines.push_back(t);
    free(t);
}

// The rules of the filter's INPUT chain.
std::string input_rules()
{
    return run_process({"sh", "-c", "iptables-legacy-save -t filter | grep '^-A INPUT'"}).out;
}

class Acl : public ::testing::Test {
protected:
    std::string root;
    void SetUp() override
    {
        if (!isolated)
            GTEST_SKIP() << why_not;
        if (system("iptables-legacy -F INPUT") != 0)
            GTEST_SKIP() << "iptables-legacy cannot run here";
        application_create();
        init_locks();
        _parse_experimental_options("");
        char tmpl[] = "/tmp/acl.XXXXXX";
        root = mkdtemp(tmpl);
        for (const char *d : {"/usr", "/usr/conf", "/tmp"})
            mkdir((root + d).c_str(), 0755);
        setenv("TARN_ROOT", root.c_str(), 1);
        debug_lines.clear();
        log_set_loglevel_debug(log_levels_debug, TARN, 9);
        log_set_log_handler_debug(keep_debug);

        // localhost, LAN on eth1, WAN on eth2
        drop_objects();
        memset(gp->sip_stacks, 0, sizeof gp->sip_stacks);
        const struct {
            const char *name, *ifname;
            int type;
        } stacks[] = {{"localhost", "lo", 1}, {"lan", "eth1", STACK_LAN}, {"wan", "eth2", STACK_WAN}};
        for (int i = 0; i < 3; i++) {
            snprintf(gp->sip_stacks[i].name, sizeof gp->sip_stacks[i].name, "%s", stacks[i].name);
            snprintf(gp->sip_stacks[i].interface, sizeof gp->sip_stacks[i].interface, "%s", stacks[i].ifname);
            gp->sip_stacks[i].sip_stack_type = stacks[i].type;
            gp->sip_stacks[i].active = 1;
        }
        gp->sip_stack_size = 3;
    }
    // The daemon keeps its objects for good; a test starts afresh.
    void drop_objects()
    {
        if (!gp)
            return;
        for (int i = 0; i < 3; i++) {
            if (tarn_acl *acl = gp->sip_stacks[i].acl) {
                free(acl->whitelist);
                pthread_mutex_destroy(&acl->acl_lock);
                free(acl);
            }
            gp->sip_stacks[i].acl = nullptr;
        }
    }
    void TearDown() override
    {
        drop_objects();
        log_set_log_handler_debug(nullptr);
        unsetenv("TARN_ROOT");
    }
    void write(const std::string &rel, const std::string &text) { std::ofstream(root + "/" + rel) << text; }
    // tarn.conf's general section, then the objects as start-up makes them.
    void start(const std::string &general)
    {
        write("usr/conf/tarn.conf", "[general]\n" + general);
        static const int once = cm_init();
        (void)once;
        if (gp->config_tarn)
            cm_destroy(gp->config_tarn); // the registry holds one manager per name
        gp->config_tarn = configman_create("TARN");
        ASSERT_EQ(cm_load(&gp->config_tarn, (root + "/usr/conf/tarn.conf").c_str()), 0);
        drop_objects();
        acl_init();
    }
    tarn_acl *lan() { return gp->sip_stacks[1].acl; }
    tarn_acl *wan() { return gp->sip_stacks[2].acl; }
};

const char *const invite_limits =
    "blacklist_max_invite_packets_lan = 10\nblacklist_invite_timeframe_lan = 60\n"
    "blacklist_max_invite_packets_wan = 10\nblacklist_invite_timeframe_wan = 60\n";

TEST_F(Acl, ObjectsForLanAndWanOnly)
{
    start("");
    EXPECT_EQ(gp->sip_stacks[0].acl, nullptr);
    ASSERT_NE(lan(), nullptr);
    ASSERT_NE(wan(), nullptr);
    EXPECT_STREQ(lan()->name, "lan");
    EXPECT_EQ(lan()->ss, &gp->sip_stacks[1]);
    EXPECT_EQ(lan()->blacklist_path, root + "/tmp/tarn.blacklist.lan");
    EXPECT_EQ(wan()->whitelist_path, root + "/usr/conf/tarn.whitelist");
    EXPECT_EQ(lan()->blacklist_block_duration, 86400);
    EXPECT_EQ(acl_get_acl_by_stackname("WAN"), wan());
    EXPECT_EQ(acl_get_acl_by_stackname("localhost"), nullptr);
    EXPECT_EQ(acl_get_acl_by_nua(nullptr), nullptr);
}

TEST_F(Acl, EleventhInviteBlocksTheSourceOnce)
{
    start(invite_limits);
    for (int i = 1; i <= 10; i++)
        ASSERT_EQ(acl_check(lan(), ACL_INVITE_PACKET, "192.0.2.7"), 1) << i;
    time_t before = time(nullptr);
    EXPECT_EQ(acl_check(lan(), ACL_INVITE_PACKET, "192.0.2.7"), 0);
    EXPECT_EQ(acl_check(lan(), ACL_INVITE_PACKET, "192.0.2.7"), 0);
    EXPECT_EQ(acl_check(lan(), ACL_OPTIONS_PACKET, "192.0.2.7"), 1) << "OPTIONS are not limited here";
    EXPECT_EQ(input_rules(), "-A INPUT -s 192.0.2.7/32 -i eth1 -j DROP\n");
    ASSERT_EQ(lan()->blacklist_size, 1);
    std::string line = read_text_file(lan()->blacklist_path);
    long when = atol(line.c_str());
    EXPECT_GE(when, before);
    EXPECT_LE(when, before + 2);
    EXPECT_EQ(line.substr(line.find(' ')), " 192.0.2.7\n");
    // Another source is counted on its own; a new frame forgets the counts
    // but not the block.
    EXPECT_EQ(acl_check(lan(), ACL_INVITE_PACKET, "192.0.2.8"), 1);
    acl_clear_attempts(lan(), ACL_INVITE_PACKET);
    EXPECT_EQ(lan()->call_attempts_size[ACL_INVITE_PACKET], 0);
    EXPECT_EQ(acl_check(lan(), ACL_INVITE_PACKET, "192.0.2.7"), 0) << "still blacklisted";

    // A restart deletes the rule and empties the file.
    start(invite_limits);
    EXPECT_EQ(input_rules(), "");
    EXPECT_EQ(read_text_file(root + "/tmp/tarn.blacklist.lan"), "");
    EXPECT_EQ(lan()->blacklist_size, 0);
}

TEST_F(Acl, WhatIsNeverCounted)
{
    start("blacklist_max_invite_packets_lan = 1\nblacklist_invite_timeframe_lan = 60\n"
          "blacklist_max_options_packets_lan = 5\nblacklist_options_timeframe_lan = 0\n");
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(acl_check(lan(), ACL_OPTIONS_PACKET, "192.0.2.1"), 1) << "time frame 0";
        EXPECT_EQ(acl_check(lan(), ACL_REGISTER_PACKET, "192.0.2.1"), 1) << "maximum 0";
        EXPECT_EQ(acl_check(lan(), ACL_INVITE_PACKET, "2001:db8::1"), 1) << "not IPv4";
        EXPECT_EQ(acl_check(lan(), ACL_INVITE_PACKET, "1.2.3.4;touch /tmp/p"), 1);
    }
    EXPECT_EQ(acl_check(lan(), 4, "192.0.2.1"), 0) << "unknown type";
    EXPECT_EQ(acl_check(lan(), -1, "192.0.2.1"), 0);
    EXPECT_EQ(acl_check(nullptr, ACL_INVITE_PACKET, "192.0.2.1"), 1);
    for (int t = 0; t < ACL_PACKET_TYPES; t++)
        EXPECT_EQ(lan()->call_attempts_size[t], 0) << t;
    EXPECT_EQ(input_rules(), "");
}

TEST_F(Acl, WhitelistLines)
{
    write("usr/conf/tarn.whitelist", "10.0.0.0/8/LAN\n"       // LAN only
                                     "172.16.0.1/16\n"        // one '/': skipped
                                     "192.168.1.1/33/any\n"   // prefix too long: skipped
                                     "198.51.100.0/24/both\n" // any other word: both stacks
                                     "peers.example/32/wan\n" // a name: each of its addresses
                                     "gone.example/32/any\n");  // did not resolve: nothing
    // The names come from the DNS cache's overrides; the second one is the
    // cache's mark of a name that did not resolve.
    write("tmp/tarn.dns", "a:peers.example:203.0.113.5|203.0.113.6\na:gone.example:128.0.0.1\n");
    dns_cache_update_overrides();
    start(invite_limits);
    ASSERT_EQ(lan()->whitelist_size, 2);
    ASSERT_EQ(wan()->whitelist_size, 3);
    EXPECT_STREQ(wan()->whitelist[1].ip, "peers.example");
    EXPECT_STREQ(wan()->whitelist[2].ip_resolved, "203.0.113.6");
    EXPECT_EQ(lan()->whitelist[0].netmask, get_netmask_from_prefix(8));
    EXPECT_EQ(lan()->whitelist[0].stack_type, STACK_LAN);
    EXPECT_EQ(lan()->whitelist[1].stack_type, STACK_ANY);

    for (int i = 0; i < 20; i++) {
        EXPECT_EQ(acl_check(lan(), ACL_INVITE_PACKET, "10.200.3.4"), 1);
        EXPECT_EQ(acl_check(wan(), ACL_INVITE_PACKET, "203.0.113.6"), 1);
        EXPECT_EQ(acl_check(wan(), ACL_INVITE_PACKET, "198.51.100.77"), 1);
    }
    EXPECT_EQ(lan()->call_attempts_size[ACL_INVITE_PACKET], 0);
    EXPECT_EQ(wan()->call_attempts_size[ACL_INVITE_PACKET], 0);
    EXPECT_EQ(acl_check(wan(), ACL_INVITE_PACKET, "10.200.3.4"), 1);
    EXPECT_EQ(wan()->call_attempts_size[ACL_INVITE_PACKET], 1) << "10/8 is the LAN's";
}

TEST_F(Acl, WhitelistCutAt2048BytesLosesItsPartialLine)
{
    // Padding lines (skipped: no '/'), then a line that byte 2048 cuts
    // after "/3": read as it stands it would whitelist 0.0.0.0/3.
    std::string text;
    while (text.size() < 2048 - 10)
        text += std::string(60, '#') + "\n";
    text.resize(2048 - 10);
    text.back() = '\n';
    text += "10.1.2.3/32/LAN\n";
    ASSERT_EQ(text.substr(2038, 10), "10.1.2.3/3");
    write("usr/conf/tarn.whitelist", text);
    start(invite_limits);
    EXPECT_EQ(lan()->whitelist_size, 0);
    acl_check(lan(), ACL_INVITE_PACKET, "5.5.5.5");
    EXPECT_EQ(lan()->call_attempts_size[ACL_INVITE_PACKET], 1);
}

TEST_F(Acl, BlacklistFileIsReadWholeAndCheckedLineByLine)
{
    gp->experimental_options->eo_syscall_mode = 2; // through the shell
    std::string text = "1 1.2.3.4;touch /tmp/p\n"
                       "2 1.2.3.5 extra\n"
                       "x 1.2.3.6\n"
                       "3 300.1.1.1\n";
    for (int i = 0; i < 120; i++)
        text += "1700000000 198.18." + std::to_string(i / 100) + "." + std::to_string(i % 100) + "\n";
    ASSERT_GT(text.size(), 2048u);
    write("tmp/tarn.blacklist.lan", text);
    start("");
    EXPECT_EQ(access("/tmp/p", F_OK), -1);
    int deletions = 0, skipped = 0;
    for (const std::string &l : debug_lines) {
        deletions += l.rfind("|iptables -D INPUT -s 198.18.", 0) == 0;
        skipped += l.find("skipping line") != std::string::npos;
    }
    EXPECT_EQ(deletions, 120) << "every valid line, not 2048 bytes of them";
    EXPECT_EQ(skipped, 4);
    EXPECT_EQ(read_text_file(root + "/tmp/tarn.blacklist.lan"), "");
}

TEST_F(Acl, ExpiryAndReleases)
{
    start("blacklist_max_other_packets_lan = 1\nblacklist_other_timeframe_lan = 60\n"
          "blacklist_blockduration_lan = 100\n");
    int first_id = -1;
    for (const char *ip : {"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4"}) {
        acl_check(lan(), ACL_OTHER_PACKET, ip);
        acl_check(lan(), ACL_OTHER_PACKET, ip);
    }
    ASSERT_EQ(lan()->blacklist_size, 4);
    first_id = lan()->blacklist[0].id;
    EXPECT_EQ(lan()->blacklist[3].id, first_id + 3);

    // The entry older than its block duration goes at the next expiry run.
    lan()->blacklist[1].insert_time -= 101;
    acl_check_blacklist(lan());
    ASSERT_EQ(lan()->blacklist_size, 3);
    EXPECT_STREQ(lan()->blacklist[1].ip, "192.0.2.3");
    EXPECT_EQ(input_rules(), "-A INPUT -s 192.0.2.4/32 -i eth1 -j DROP\n"
                             "-A INPUT -s 192.0.2.3/32 -i eth1 -j DROP\n"
                             "-A INPUT -s 192.0.2.1/32 -i eth1 -j DROP\n");

    // By id: the rule goes, the counters of the address start again.
    acl_unblock_ip_from_blacklist_by_id(lan(), first_id + 99, 1);
    EXPECT_EQ(lan()->blacklist_size, 3);
    acl_unblock_ip_from_blacklist_by_id(lan(), first_id + 2, 1);
    ASSERT_EQ(lan()->blacklist_size, 2);
    EXPECT_STREQ(lan()->blacklist[1].ip, "192.0.2.4");
    EXPECT_EQ(acl_check(lan(), ACL_OTHER_PACKET, "192.0.2.3"), 1);
    std::string file = read_text_file(lan()->blacklist_path);
    EXPECT_NE(file.find(" 192.0.2.1\n"), std::string::npos);
    EXPECT_EQ(file.find(" 192.0.2.3\n"), std::string::npos);

    acl_unblock_all_ips_from_blacklist(lan(), 1);
    EXPECT_EQ(lan()->blacklist_size, 0);
    EXPECT_EQ(input_rules(), "");
    EXPECT_EQ(read_text_file(lan()->blacklist_path), "");
}

TEST_F(Acl, HousekeepingDrivesFramesAndExpiry)
{
    start("blacklist_max_invite_packets_lan = 5\nblacklist_invite_timeframe_lan = 10\n"
          "blacklist_max_options_packets_lan = 5\nblacklist_options_timeframe_lan = 7\n"
          "blacklist_max_other_packets_lan = 1\nblacklist_other_timeframe_lan = 3600\n"
          "blacklist_blockduration_lan = 0\n");
    auto count = [this](int type) {
        acl_check(lan(), type, "192.0.2.9");
        return lan()->call_attempts_size[type];
    };
    EXPECT_EQ(count(ACL_INVITE_PACKET), 1);
    EXPECT_EQ(count(ACL_OPTIONS_PACKET), 1);
    acl_housekeeping(10); // the first 20 seconds do nothing
    EXPECT_EQ(lan()->call_attempts_size[ACL_INVITE_PACKET], 1);
    acl_housekeeping(30);
    EXPECT_EQ(lan()->call_attempts_size[ACL_INVITE_PACKET], 0);
    EXPECT_EQ(lan()->call_attempts_size[ACL_OPTIONS_PACKET], 1);
    acl_housekeeping(35);
    EXPECT_EQ(lan()->call_attempts_size[ACL_OPTIONS_PACKET], 0);

    acl_check(lan(), ACL_OTHER_PACKET, "192.0.2.9");
    acl_check(lan(), ACL_OTHER_PACKET, "192.0.2.9");
    ASSERT_EQ(lan()->blacklist_size, 1);
    lan()->blacklist[0].insert_time -= 1;
    acl_housekeeping(61);
    EXPECT_EQ(lan()->blacklist_size, 1) << "expiry runs on whole minutes";
    acl_housekeeping(120);
    EXPECT_EQ(lan()->blacklist_size, 0);
}

TEST_F(Acl, SettingsAndTheirLimits)
{
    start("blacklist_max_invite_packets_wan = -4\nblacklist_invite_timeframe_wan = 5000\n"
          "blacklist_register_timeframe_wan = -1\nblacklist_blockduration_wan = 7\n"
          "blacklist_max_other_packets_lan = 3\n");
    EXPECT_EQ(wan()->blacklist_max_invite_packets_per_timeframe, 0);
    EXPECT_EQ(wan()->blacklist_invite_timeframe_length, 3600);
    EXPECT_EQ(wan()->blacklist_register_timeframe_length, 0);
    EXPECT_EQ(wan()->blacklist_block_duration, 7);
    EXPECT_EQ(wan()->blacklist_max_other_packets_per_timeframe, 0);
    EXPECT_EQ(lan()->blacklist_max_other_packets_per_timeframe, 3);
    EXPECT_EQ(lan()->blacklist_block_duration, 86400);
    acl_set_blacklisting_other_timeframe(lan(), 3601);
    EXPECT_EQ(lan()->blacklist_other_timeframe_length, 3600);

    in_addr a;
    a.s_addr = get_netmask_from_prefix(24);
    EXPECT_STREQ(inet_ntoa(a), "255.255.255.0");
    EXPECT_EQ(calculate_netmask_from_prefix(24), 0xFFFFFF00u);
    EXPECT_EQ(get_netmask_from_prefix(0), 0u);
    EXPECT_EQ(get_netmask_from_prefix(32), 0xFFFFFFFFu);
    EXPECT_STREQ(acl_packet_type_to_string(ACL_REGISTER_PACKET), "REGISTER");
    EXPECT_STREQ(acl_packet_type_to_string(9), "UNKNOWN");
}

TEST_F(Acl, BlacklistFileNeverFollowsALink)
{
    write("victim", "keep\n");
    ASSERT_EQ(symlink((root + "/victim").c_str(), (root + "/tmp/tarn.blacklist.lan").c_str()), 0);
    start("blacklist_max_invite_packets_lan = 1\nblacklist_invite_timeframe_lan = 60\n");
    acl_check(lan(), ACL_INVITE_PACKET, "192.0.2.50");
    acl_check(lan(), ACL_INVITE_PACKET, "192.0.2.50");
    EXPECT_EQ(lan()->blacklist_size, 1);
    EXPECT_EQ(read_text_file(root + "/victim"), "keep\n");
    acl_unblock_all_ips_from_blacklist(lan(), 1);
}

} // namespace
