// Start-up packet-filter rules: the command texts in their order (the
// runner's log lines, nothing run), then the same start-up applied to the
// filter of a private network namespace with eth1 as one end of a veth
// pair.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "debug_lines.h"
#include "confman.h"
#include "experimental_options.h"
#include "init_iptables.h"
#include "log.h"
#include "private_netns.h"
#include "rtp_ports.h"
#include "schema.h"
#include "system_command.h"

namespace {

std::string why_not;
const bool isolated = enter_private_mounts(&why_not) && enter_private_network(&why_not);


class InitIptables : public ::testing::Test {
protected:
    std::unique_ptr<debug_lines> rec;
    std::vector<std::string> commands() const { return commands_in(*rec); }
    std::vector<std::string> lines() const { return other_lines_in(*rec); }
    std::string root;
    void SetUp() override
    {
        if (!isolated)
            GTEST_SKIP() << why_not;
        static bool link = system("ip link add eth1 type veth peer name eth1p && ip addr add 10.0.0.1/24 dev eth1 && "
                                  "ip link set eth1 up && ip link set eth1p up") == 0;
        if (!link)
            GTEST_SKIP() << "no veth pair";
        application_create();
        init_locks();
        _parse_experimental_options("");
        gp->experimental_options->eo_syscall_mode = 99; // commands are only logged
        gp->rtp_traffic = 0;
        char tmpl[] = "/tmp/ipt.XXXXXX";
        root = mkdtemp(tmpl);
        memset(gp->sip_stacks, 0, sizeof gp->sip_stacks);
        const char *names[] = {"localhost", "lan", "wan"}, *ifs[] = {"lo", "eth1", "eth2"};
        for (int i = 0; i < 3; i++) {
            snprintf(gp->sip_stacks[i].name, sizeof gp->sip_stacks[i].name, "%s", names[i]);
            snprintf(gp->sip_stacks[i].interface, sizeof gp->sip_stacks[i].interface, "%s", ifs[i]);
            gp->sip_stacks[i].active = 1;
        }
        gp->sip_stack_size = 3;
        network_config &n = gp->netconf;
        snprintf(n.host_ifname_lan, sizeof n.host_ifname_lan, "eth1");
        snprintf(n.host_ifname_wan, sizeof n.host_ifname_wan, "eth2");
        snprintf(n.msp_devip, sizeof n.msp_devip, "10.0.0.2");
        // The LAN stack's RTP ports end in a T.38 range, the WAN's do not.
        static RTP_ports ports;
        ports = RTP_ports();
        ports.lan_t38start = 6300;
        ports.lan_t38stop = 6398;
        gp->rtp_ports = &ports;
        load("", "stack_active_lan = 1\nrtpports_lan = 6000-6398,5000-5100\n"
                 "stack_active_wan = 1\nrtpports_wan = 8000-8100\n");
        rec = std::make_unique<debug_lines>(std::initializer_list<int>{TARN});
    }
    void TearDown() override
    {
        rec.reset();
        gp->rtp_ports = nullptr;
    }
    void load(const std::string &tarn, const std::string &sip)
    {
        static const int once = cm_init();
        (void)once;
        struct {
            cm **slot;
            const char *type, *file;
            std::string text;
        } files[] = {{&gp->config_tarn, "TARN", "/tarn.conf", tarn}, {&gp->config_sip, "SIP", "/tarn.sip", sip}};
        for (auto &f : files) {
            if (*f.slot)
                cm_destroy(*f.slot);
            std::string path = root + f.file;
            FILE *out = fopen(path.c_str(), "w");
            fprintf(out, "[general]\n%s", f.text.c_str());
            fclose(out);
            *f.slot = configman_create(f.type);
            ASSERT_EQ(cm_load(f.slot, path.c_str()), 0);
        }
    }
};

TEST_F(InitIptables, TextsInTheirOrder)
{
    EXPECT_EQ(init_iptables(), 0);
    EXPECT_EQ(commands(), (std::vector<std::string>{
                            "iptables -t nat -F",
                            "echo 1 > /proc/sys/net/ipv4/ip_forward",
                            // multicast: the LAN stack comes first in the table
                            "iptables -t nat -A PREROUTING -p udp --dport 5353 -i eth1 -j ACCEPT -d 224.0.0.251",
                            "iptables -t nat --insert OUTPUT -p udp --dport 5353 -j ACCEPT -d 224.0.0.251",
                            "iptables -t nat -A POSTROUTING -o eth1 -j MASQUERADE",
                            "iptables -t nat -A PREROUTING -i eth1 -j ACCEPT -d 224.0.0.18",
                            "iptables -t nat --insert OUTPUT -j ACCEPT -d 224.0.0.18",
                            "iptables -t nat -A POSTROUTING -o eth1 -j MASQUERADE",
                            "iptables -t nat -A PREROUTING -p udp --dport 5060 -i eth1 -j ACCEPT -d 224.0.1.75",
                            "iptables -t nat --insert OUTPUT -p udp --dport 5060 -j ACCEPT -d 224.0.1.75",
                            "iptables -t nat -A POSTROUTING -o eth1 -j MASQUERADE",
                            "iptables -t nat -A PREROUTING -p udp --dport 5353 -i eth2 -j ACCEPT -d 224.0.0.251",
                            "iptables -t nat --insert OUTPUT -p udp --dport 5353 -j ACCEPT -d 224.0.0.251",
                            "iptables -t nat -A POSTROUTING -o eth2 -j MASQUERADE",
                            "iptables -t nat -A PREROUTING -i eth2 -j ACCEPT -d 224.0.0.18",
                            "iptables -t nat --insert OUTPUT -j ACCEPT -d 224.0.0.18",
                            "iptables -t nat -A POSTROUTING -o eth2 -j MASQUERADE",
                            "iptables -t nat -A PREROUTING -p udp --dport 5060 -i eth2 -j ACCEPT -d 224.0.1.75",
                            "iptables -t nat --insert OUTPUT -p udp --dport 5060 -j ACCEPT -d 224.0.1.75",
                            "iptables -t nat -A POSTROUTING -o eth2 -j MASQUERADE",
                            // RTP: WAN first (no T.38 range: nothing forwarded), then LAN
                            "iptables -t nat -I PREROUTING 1 -p udp --dport 6300:6398 -i eth1 -j ACCEPT",
                            "iptables -t nat -A PREROUTING -p udp --dport 6000:6299 -i eth1 -j DNAT --to 10.0.0.2",
                            "iptables -t nat -A OUTPUT -s 10.0.0.1  -p udp --sport 6300:6398  -j ACCEPT",
                            "iptables -t nat -A OUTPUT -p udp --dport 6000:6299 -j DNAT -d 10.0.0.1  --to 10.0.0.2",
                            "iptables -t nat -A PREROUTING -p udp --dport 5000:5100 -i eth1 -j DNAT --to 10.0.0.2",
                            "iptables -t nat -A OUTPUT -p udp --dport 5000:5100 -j DNAT -d 10.0.0.1  --to 10.0.0.2",
                        }));
    EXPECT_STREQ(gp->statusport, "54322");
    EXPECT_EQ(gp->pcm_server_port, 54329);
    EXPECT_STREQ(gp->pcm_server, "0");
}

TEST_F(InitIptables, RangesAtOrAboveTheT38RangeAreNotForwarded)
{
    load("", "stack_active_lan = 1\nrtpports_lan = 6300-6398,6350-7000,bad,7-3\n");
    gp->sip_stacks[2].active = 0;
    EXPECT_EQ(init_iptables(), 0);
    std::vector<std::string> all = commands();
    std::vector<std::string> rtp(all.begin() + 11, all.end());
    EXPECT_EQ(rtp, (std::vector<std::string>{
                       "iptables -t nat -I PREROUTING 1 -p udp --dport 6300:6398 -i eth1 -j ACCEPT",
                       "iptables -t nat -A OUTPUT -s 10.0.0.1  -p udp --sport 6300:6398  -j ACCEPT",
                       "iptables -t nat -A OUTPUT -s 10.0.0.1  -p udp --sport 6300:6398  -j ACCEPT",
                   }));
}

TEST_F(InitIptables, MulticastEntries)
{
    const struct {
        const char *entry;
        bool ok;
        const char *address, *port;
    } cases[] = {
        {"224.0.0.251:5353", true, "224.0.0.251", "5353"},
        {"224.0.0.18", true, "224.0.0.18", ""},
        {"239.1.1.1", false, "", ""},
        {"224.1.0.1", false, "", ""},
        {"224.0.0.1;touch x", false, "", ""},
        {"224.0.0.1:0", false, "", ""},
        {"224.0.0.1:65536", false, "", ""},
        {"224.0.0.1:", false, "", ""},
        {"224.0.0.1:53 ", false, "", ""},
        {"224.0.999.1", false, "", ""},
        {"224.0.", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto &c : cases) {
        char address[16], port[6];
        EXPECT_EQ(parse_multicast_entry(c.entry, address, port), c.ok) << c.entry;
        EXPECT_STREQ(address, c.address) << c.entry;
        EXPECT_STREQ(port, c.port) << c.entry;
    }
    load("multicast_addresses = 239.1.1.1,224.0.0.1\\;touch x,224.0.0.9:5060\n", "");
    gp->sip_stacks[2].active = 0;
    process_result r = run_forked([] { return init_iptables(); });
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("init_iptables: ignoring invalid multicast address 239.1.1.1\n"
                         "init_iptables: ignoring invalid multicast address 224.0.0.1;touch x\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("224.0.0.9"), std::string::npos) << r.err;
}

TEST_F(InitIptables, PortSettings)
{
    const struct {
        const char *conf;
        int result;
        const char *message;
        const char *statusport;
        int pcm_port;
    } cases[] = {
        {"statusport = 70000\n", 1, "Read invalid tcp status server port from config!", "", 1},
        {"statusport = 5000\npcm_server_port = 5000\n", 1, "Read invalid tcp pcm server port from config: 5000!",
         "5000", 1},
        {"statusport = 5000\npcm_server_port = 0\n", 1, "Read invalid tcp pcm server port from config: 0!", "5000", 1},
        {"statusport = 5000\npcm_server = 1\npcm_server_port = 5001\n", 0, nullptr, "5000", 5001},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.conf);
        load(c.conf, "");
        gp->statusport[0] = '\0';
        gp->pcm_server_port = 1;
        rec->clear();
        EXPECT_EQ(init_iptables(), c.result);
        EXPECT_STREQ(gp->statusport, c.statusport);
        EXPECT_EQ(gp->pcm_server_port, c.pcm_port);
        if (c.message) {
            EXPECT_EQ(lines().back(), c.message);
        }
    }
}

TEST_F(InitIptables, RtpTrafficLeavesOnlyTheFlush)
{
    gp->rtp_traffic = 1;
    EXPECT_EQ(init_iptables(), 0);
    EXPECT_EQ(commands(), std::vector<std::string>{"iptables -t nat -F"});
    gp->rtp_traffic = 0;
    cm_destroy(gp->config_tarn);
    gp->config_tarn = nullptr;
    EXPECT_EQ(init_iptables(), -1);
    EXPECT_EQ(lines().back(), "Couldn't read pcm multicast address list from config!");
}

TEST_F(InitIptables, AppliedInProcess)
{
    gp->experimental_options->eo_syscall_mode = 6;
    ASSERT_EQ(system("echo 0 > /proc/sys/net/ipv4/ip_forward"), 0);
    EXPECT_EQ(init_iptables(), 0);
    EXPECT_EQ(read_text_file("/proc/sys/net/ipv4/ip_forward"), "1\n");
    process_result r =
        run_process({"sh", "-c", "(iptables-legacy-save -t filter; iptables-legacy-save -t nat) | grep '^-A'"});
    EXPECT_EQ(r.out, "-A INPUT -i eth1 -p udp -m udp --dport 6300:6398 -j DROP\n"
                     "-A PREROUTING -i eth1 -p udp -m udp --dport 6300:6398 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.0.251/32 -i eth1 -p udp -m udp --dport 5353 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.0.18/32 -i eth1 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.1.75/32 -i eth1 -p udp -m udp --dport 5060 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.0.251/32 -i eth2 -p udp -m udp --dport 5353 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.0.18/32 -i eth2 -j ACCEPT\n"
                     "-A PREROUTING -d 224.0.1.75/32 -i eth2 -p udp -m udp --dport 5060 -j ACCEPT\n"
                     "-A PREROUTING -i eth1 -p udp -m udp --dport 6000:6299 -j DNAT --to-destination 10.0.0.2\n"
                     "-A PREROUTING -i eth1 -p udp -m udp --dport 5000:5100 -j DNAT --to-destination 10.0.0.2\n"
                     "-A OUTPUT -d 224.0.1.75/32 -p udp -m udp --dport 5060 -j ACCEPT\n"
                     "-A OUTPUT -d 224.0.0.18/32 -j ACCEPT\n"
                     "-A OUTPUT -d 224.0.0.251/32 -p udp -m udp --dport 5353 -j ACCEPT\n"
                     "-A OUTPUT -d 224.0.1.75/32 -p udp -m udp --dport 5060 -j ACCEPT\n"
                     "-A OUTPUT -d 224.0.0.18/32 -j ACCEPT\n"
                     "-A OUTPUT -d 224.0.0.251/32 -p udp -m udp --dport 5353 -j ACCEPT\n"
                     "-A OUTPUT -s 10.0.0.1/32 -p udp -m udp --sport 6300:6398 -j ACCEPT\n"
                     "-A OUTPUT -d 10.0.0.1/32 -p udp -m udp --dport 6000:6299 -j DNAT --to-destination 10.0.0.2\n"
                     "-A OUTPUT -d 10.0.0.1/32 -p udp -m udp --dport 5000:5100 -j DNAT --to-destination 10.0.0.2\n"
                     "-A POSTROUTING -o eth1 -j MASQUERADE\n"
                     "-A POSTROUTING -o eth1 -j MASQUERADE\n"
                     "-A POSTROUTING -o eth1 -j MASQUERADE\n"
                     "-A POSTROUTING -o eth2 -j MASQUERADE\n"
                     "-A POSTROUTING -o eth2 -j MASQUERADE\n"
                     "-A POSTROUTING -o eth2 -j MASQUERADE\n")
        << r.err;
    // A second start-up leaves one drop rule, not two.
    EXPECT_EQ(init_iptables(), 0);
    r = run_process({"sh", "-c", "iptables-legacy-save -t filter | grep -c '^-A INPUT'"});
    EXPECT_EQ(r.out, "1\n");
}

} // namespace
