// The SIP stack table from tarn.sip, read in this process with its thread
// inside a namespace that has the interfaces the stacks name.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "application.h"
#include "cli.h"
#include "confman.h"
#include "e2e.h"
#include "debug_lines.h"
#include "schema.h"
#include "sip_stack.h"

namespace {

class SipParams : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!gp)
            application_create();
        cm_init();
    }
    void TearDown() override
    {
        if (gp->config_sip) {
            cm_destroy(gp->config_sip);
            gp->config_sip = nullptr;
        }
    }
    // tarn.sip from text, then the stack table: its result; stderr in *err.
    int read(e2e_world &w, const std::string &text, std::string *err)
    {
        TearDown();
        w.root.write("usr/conf/tarn.sip", text);
        gp->config_sip = configman_create("SIP");
        if (cm_load(&gp->config_sip, w.root.path("usr/conf/tarn.sip").c_str()) != 0)
            return -2;
        gp->stack_active_lan = gp->stack_active_wan = 0;
        log.clear();
        e2e_namespace::net_guard inside(w.ns);
        if (!inside.ok())
            return -3;
        setenv("TARN_ROOT", w.root.dir.c_str(), 1);
        testing::internal::CaptureStderr();
        int r = init_global_sip_parameters();
        *err = testing::internal::GetCapturedStderr();
        unsetenv("TARN_ROOT");
        return r;
    }
    debug_lines log{TARN, SIP};
    static e2e_options options()
    {
        e2e_options o;
        o.ifaces.push_back({"eth0", "10.0.1.5/24"});
        o.media_processor = false;
        o.capture = false;
        return o;
    }
};

#define REQUIRE_ROOT()                                                                  \
    do {                                                                                \
        if (geteuid() != 0)                                                             \
            GTEST_SKIP() << "entering the namespace in-process needs root";             \
    } while (0)

TEST_F(SipParams, LanAndWanStacks)
{
    e2e_world w(options());
    E2E_REQUIRE(w);
    REQUIRE_ROOT();
    std::string err;
    ASSERT_EQ(read(w,
                   "[general]\nsip_bindport_localhost = 5099\n"
                   "stack_active_lan = 1\ninterface_name_lan = eth0\nsip_bindport_lan = 5070\n"
                   "sip_transport_lan = udp,tls\nrtpports_lan = 6000-6398\nrtp_port_selection_lan = RoundRobin\n"
                   "tls_verification_selection_lan = Incoming\nssl_version_lan = tls1.1\ntos_sip_lan = 96\n"
                   "sip_useragent_lan = GW/{FIRMWARE}\nregistration_offset_lan = 5\n"
                   "stack_active_wan = 1\ninterface_name_wan = eth9\n",
                   &err),
              0)
        << err;
    EXPECT_EQ(gp->sip_stack_size, 2);
    const sip_stack &lo = gp->sip_stacks[0], &lan = gp->sip_stacks[1];
    EXPECT_STREQ(lo.name, "localhost");
    EXPECT_STREQ(lo.ip, "127.0.0.1");
    EXPECT_EQ(lo.sip_port, 5099);
    EXPECT_EQ(lo.transport, SIP_TRANSPORT_UDP);
    EXPECT_STREQ(lo.rtp_port_string, "10000-10200");
    EXPECT_STREQ(lan.name, "lan");
    EXPECT_STREQ(lan.interface, "eth0");
    EXPECT_STREQ(lan.ip, "10.0.1.5");
    EXPECT_EQ(lan.mac, w.ns.mac("eth0"));
    EXPECT_EQ(lan.sip_stack_type, STACK_LAN);
    EXPECT_EQ(lan.transport, SIP_TRANSPORT_UDP | SIP_TRANSPORT_TLS);
    EXPECT_EQ(lan.sip_port, 5070);
    EXPECT_EQ(lan.sip_ssl_port, 5071);
    EXPECT_EQ(lan.rtp_port_selection_method, 2);
    EXPECT_EQ(lan.tls_verification_mode, 1);
    EXPECT_EQ(lan.ssl_version, SIP_SSL_TLS11);
    EXPECT_EQ(lan.tos_sip, 96);
    EXPECT_EQ(lan.tos_rtp, 160);
    EXPECT_EQ(std::string(lan.user_agent_string), std::string("GW/") + appfs_version);
    EXPECT_EQ(lan.registration_offset, 10);
    EXPECT_EQ(std::string(lan.cert_path), w.root.dir + "/usr/conf/certs/lan/");
    EXPECT_EQ(gp->stack_active_lan, 1);
    EXPECT_EQ(gp->stack_active_wan, 0);
    EXPECT_EQ(err, "get_net_info: dev eth0, mac " + w.ns.mac("eth0") +
                       ", ip 10.0.1.5\nget_net_info failed: dev eth9, mac unknown, ip unknown\n"
                       "disabling SIP stack wan, couldn't open eth9!");
    EXPECT_TRUE(log.has("CRITICAL: disabling SIP stack wan, couldn't open eth9!"));
    EXPECT_EQ(gp->rtp_ports->lanstart, 6000);
    EXPECT_EQ(gp->rtp_ports->lostart, 10000);
    EXPECT_EQ(gp->sip_stacks[1].rtp_ports, gp->rtp_ports);

    // The WAN stack takes the next slot, with its offsets clamped.
    struct {
        const char *offset;
        int ms;
    } offsets[] = {{"5", 10}, {"5000", 1000}, {"-3", 0}};
    for (auto &o : offsets) {
        ASSERT_EQ(read(w,
                       std::string("[general]\nstack_active_wan = 1\ninterface_name_wan = eth0\n"
                                   "sip_transport_wan =\nregistration_offset_wan = ") +
                           o.offset + "\n",
                       &err),
                  0)
            << err;
        ASSERT_EQ(gp->sip_stack_size, 2);
        EXPECT_STREQ(gp->sip_stacks[1].name, "wan");
        EXPECT_EQ(gp->sip_stacks[1].registration_offset, o.ms) << o.offset;
        EXPECT_EQ(gp->sip_stacks[1].transport, SIP_TRANSPORT_UDP | SIP_TRANSPORT_TCP);
        EXPECT_EQ(gp->stack_active_wan, 1);
    }

    // The certificate directory: a board path goes below the root, a path
    // that already lies below it (or is the root itself) is kept, another
    // that merely begins like the root goes below it, a relative one is kept.
    struct {
        std::string given, stored;
    } dirs[] = {{"/usr/conf/certs/x", w.root.dir + "/usr/conf/certs/x"},
                {w.root.dir + "/usr/conf/certs/x", w.root.dir + "/usr/conf/certs/x"},
                {w.root.dir, w.root.dir},
                {w.root.dir + "x/certs", w.root.dir + w.root.dir + "x/certs"},
                {"certs/lan", "certs/lan"}};
    for (auto &d : dirs) {
        ASSERT_EQ(read(w, "[general]\nstack_active_lan = 1\ninterface_name_lan = eth0\ncert_dir_lan = " + d.given + "\n",
                       &err),
                  0)
            << err;
        EXPECT_EQ(std::string(gp->sip_stacks[1].cert_path), d.stored) << d.given;
    }
}

TEST_F(SipParams, CustomStacksAndUnreadableKeys)
{
    e2e_world w(options());
    E2E_REQUIRE(w);
    REQUIRE_ROOT();
    std::string err;
    // Two peers want port 5070 of the LAN stack, one over UDP and one over
    // TLS: one custom stack; the second cannot have the port.
    ASSERT_EQ(read(w,
                   "[general]\nstack_active_lan = 1\ninterface_name_lan = eth0\n"
                   "[peer1]\nsip_custom_port = 5070\nsip_stack = lan\ntransport = udp\n"
                   "[peer2]\nsip_custom_port = 5070\nsip_stack = lan\ntransport = tls\n"
                   "[peer3]\nsip_custom_port = 5070\nsip_stack = lan\ntransport = udp\n"
                   "[peer4]\nsip_custom_port = 80\nsip_stack = lan\n"
                   "[peer5]\nsip_custom_port = 5080\nsip_stack = vpn\n",
                   &err),
              0)
        << err;
    ASSERT_EQ(gp->sip_stack_size, 3);
    const sip_stack &custom = gp->sip_stacks[2];
    EXPECT_STREQ(custom.name, "lan_udp_5070");
    EXPECT_EQ(custom.transport, SIP_TRANSPORT_UDP);
    EXPECT_EQ(custom.sip_port, 5070);
    EXPECT_EQ(custom.sip_ssl_port, 0);
    EXPECT_STREQ(custom.ip, "10.0.1.5");
    EXPECT_NE(err.find("Couldn't create custom tls stack for lan on port 5070!\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("Couldn't create custom udp stack"), std::string::npos) << "peer3 found its stack";

    // A TLS custom stack takes the port as its TLS port.
    ASSERT_EQ(read(w,
                   "[general]\nstack_active_lan = 1\ninterface_name_lan = eth0\n"
                   "[peer1]\nsip_custom_port = 5090\nsip_stack = lan\ntransport = tls\n",
                   &err),
              0);
    ASSERT_EQ(gp->sip_stack_size, 3);
    EXPECT_STREQ(gp->sip_stacks[2].name, "lan_tls_5090");
    EXPECT_EQ(gp->sip_stacks[2].sip_port, 0);
    EXPECT_EQ(gp->sip_stacks[2].sip_ssl_port, 5090);

    // Past the table's 64 stacks each further one is refused by name.
    std::string many = "[general]\nstack_active_lan = 1\ninterface_name_lan = eth0\n";
    for (int i = 0; i < 70; i++)
        many += "[p" + std::to_string(i) + "]\nsip_custom_port = " + std::to_string(6000 + i) +
                "\nsip_stack = lan\n";
    ASSERT_EQ(read(w, many, &err), 0);
    EXPECT_EQ(gp->sip_stack_size, 64);
    EXPECT_NE(err.find("Couldn't create custom udp stack for lan on port 6062!\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Couldn't create custom udp stack for lan on port 6069!\n"), std::string::npos);

    // Keys that cannot be read end the reading with their message.
    std::string too_long(300, '1');
    struct {
        const char *key, *message;
    } rows[] = {
        {"stack_active_lan", "Failed getting stack_active_lan setting from sip config, check your settings!\n"},
        {"sip_bindport_lan", "Failed getting sip_bindport_lan setting from sip config, check your settings!\n"},
        {"tos_rtp_lan", "Failed getting tos_rtp_lan setting from sip config, check your settings!\n"},
        {"sip_useragent_lan", "Failed getting sip_useragent_lan from sip config. check your settings!\n"},
        {"registration_offset_lan", "Failed getting registration_offset_lan from sip config. check your settings!\n"},
    };
    for (auto &r : rows) {
        std::string text = "[general]\nstack_active_lan = 1\ninterface_name_lan = eth0\n" + std::string(r.key) +
                           " = " + too_long + "\n";
        EXPECT_EQ(read(w, text, &err), -1) << r.key;
        EXPECT_NE(err.find(r.message), std::string::npos) << err;
    }
}

} // namespace
