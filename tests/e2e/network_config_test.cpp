// The network facts: the address helpers, get_network_config run in-process
// against the interfaces of a private namespace, and the daemon's start-up
// and -A probe that depend on them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "application.h"
#include "confman.h"
#include "e2e.h"
#include "network_config.h"
#include "schema.h"

namespace {

TEST(NetworkConfig, AddressHelpers)
{
    struct {
        const char *in, *out;
        int result;
    } ips[] = {{"10.0.0.1", "10.0.0.2", 0}, {"10.0.0.11", "10.0.0.12", 0}, {"10.0.0.3", "10.0.0.3", -1},
               {"", "", -1}, {"1", "2", 0}};
    for (auto &c : ips) {
        char buf[32];
        snprintf(buf, sizeof buf, "%s", c.in);
        EXPECT_EQ(increase_ip_by_one(buf), c.result) << c.in;
        EXPECT_STREQ(buf, c.out);
    }
    EXPECT_EQ(ip_to_short("10.1.2.3", 1), 0x0a01);
    EXPECT_EQ(ip_to_short("10.1.2.3", 2), 0x0203);
    EXPECT_EQ(ip_to_short("10.1.2.3", 3), 0);
    EXPECT_EQ(ip_to_short("nonsense", 1), 0);

    char mac[32] = "02:AB:cd:00:00:7F";
    uint16_t w[3];
    EXPECT_EQ(mac_char_to_ushort(mac, &w[0], &w[1], &w[2]), 0);
    EXPECT_STREQ(mac, "02abcd00007f"); // cleaned in place
    EXPECT_EQ(w[0], 0x02ab);
    EXPECT_EQ(w[1], 0xcd00);
    EXPECT_EQ(w[2], 0x007f);
    uint8_t b[6];
    for (const char *bad : {"zz", "00:11:22", "00:11:22:33:44:55:66", ""}) {
        snprintf(mac, sizeof mac, "%s", bad);
        EXPECT_EQ(mac_char_to_bytearray(mac, b), -1) << bad;
    }
    snprintf(mac, sizeof mac, "00-11-22-33-44-5a");
    EXPECT_EQ(mac_char_to_bytearray(mac, b), 0);
    EXPECT_EQ(b[5], 0x5a);
}

// get_network_config in this process, its thread inside the namespace.
class Facts : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!gp)
            application_create();
        cm_init();
        gp->netconf = network_config{};
    }
    void TearDown() override
    {
        for (cm **c : {&gp->config_tarn, &gp->config_sip})
            if (*c) {
                cm_destroy(*c);
                *c = nullptr;
            }
    }
    // Loads the two files from the world's root and reads the facts there.
    int facts(e2e_world &w, const std::string &tarn_conf, const std::string &tarn_sip, std::string *err)
    {
        TearDown();
        w.root.write("usr/conf/tarn.conf", tarn_conf);
        w.root.write("usr/conf/tarn.sip", tarn_sip);
        gp->config_tarn = configman_create("TARN");
        gp->config_sip = configman_create("SIP");
        if (cm_load(&gp->config_tarn, w.root.path("usr/conf/tarn.conf").c_str()) != 0 ||
            cm_load(&gp->config_sip, w.root.path("usr/conf/tarn.sip").c_str()) != 0)
            return -2;
        e2e_namespace::net_guard inside(w.ns);
        if (!inside.ok())
            return -3;
        testing::internal::CaptureStderr();
        int r = get_network_config();
        *err = testing::internal::GetCapturedStderr();
        return r;
    }
    static e2e_options world_options(std::vector<e2e_iface> ifaces)
    {
        e2e_options o;
        o.ifaces = std::move(ifaces);
        o.media_processor = false;
        o.capture = false;
        return o;
    }
};

TEST_F(Facts, TheLinkAndTheLanAreRead)
{
    e2e_world w(world_options({{"eth1", "10.0.0.1/24"}, {"eth0", "10.0.1.5/24"}}));
    E2E_REQUIRE(w);
    if (geteuid() != 0)
        GTEST_SKIP() << "entering the namespace in-process needs root";
    std::string err;
    ASSERT_EQ(facts(w, "[general]\nmsp_device_mac = 02:AB:cd:00:00:7F\n", "[general]\ninterface_name_lan = eth0\n", &err),
              0)
        << err;
    const network_config &n = gp->netconf;
    std::string mac1 = w.ns.mac("eth1"), mac0 = w.ns.mac("eth0");
    EXPECT_NE(err.find("get_net_info: dev eth1, mac " + mac1 + ", ip 10.0.0.1\n"), std::string::npos) << err;
    EXPECT_STREQ(n.msp_ifname, "eth1");
    EXPECT_STREQ(n.msp_ip, "10.0.0.1");
    EXPECT_EQ(n.msp_mac, mac1);
    EXPECT_STREQ(n.msp_devip, "10.0.0.2");
    EXPECT_STREQ(n.msp_devmac, "02:AB:cd:00:00:7F");
    EXPECT_EQ(n.msp_mspside_ip_1, 0x0a00);
    EXPECT_EQ(n.msp_mspside_ip_2, 0x0002);
    const uint8_t devmac[6] = {0x02, 0xab, 0xcd, 0x00, 0x00, 0x7f};
    EXPECT_EQ(memcmp(n.msp_bin_devmac, devmac, 6), 0);
    EXPECT_EQ(n.msp_hostside_mac_1, std::stoul(mac1.substr(0, 2) + mac1.substr(3, 2), nullptr, 16));
    EXPECT_STREQ(n.host_ifname_lan, "eth0");
    EXPECT_STREQ(n.host_ip_lan, "10.0.1.5");
    EXPECT_EQ(n.host_mac_lan, mac0);
    EXPECT_EQ(n.host_mac_3, std::stoul(mac0.substr(12, 2) + mac0.substr(15, 2), nullptr, 16));
    EXPECT_STREQ(n.host_ifname_wan, "");
    EXPECT_STREQ(n.host_ip_wan, "");
}

TEST_F(Facts, EdgeCases)
{
    e2e_world w(world_options({{"eth1", "10.0.0.11/24"}, {"eth2", "10.0.2.3/24"}, {"eth3", ""}}));
    E2E_REQUIRE(w);
    if (geteuid() != 0)
        GTEST_SKIP() << "entering the namespace in-process needs root";
    struct row {
        const char *what, *tarn_conf, *tarn_sip;
        int result;
        const char *devip, *msp_ip, *lan_ip, *lan_mac, *err_line;
    } rows[] = {
        {"address ending in 11", "[general]\n", "[general]\n", 0, "10.0.0.12", "10.0.0.11", "", "",
         "get_net_info: dev eth1, mac "},
        {"address ending in 3", "[general]\ninterface_msp = eth2\n", "[general]\n", -1, "", "", "", "",
         "get_net_info: dev eth2, mac "},
        {"loopback is refused", "[general]\ninterface_msp = lo\n", "[general]\n", -1, "", "", "", "",
         "get_net_info failed: dev lo, mac unknown, ip unknown\n"},
        {"no IPv4 address", "[general]\ninterface_msp = eth3\n", "[general]\n", -1, "", "", "", "",
         "get_net_info failed: dev eth3, mac unknown, ip unknown\n"},
        {"missing interface", "[general]\ninterface_msp = eth9\n", "[general]\n", -1, "", "", "", "",
         "get_net_info failed: dev eth9, mac unknown, ip unknown\n"},
        // A LAN interface that cannot be read leaves the link's facts alone.
        {"LAN lookup fails", "[general]\n", "[general]\ninterface_name_lan = eth9\n", 0, "10.0.0.12", "10.0.0.11",
         "0.0.0.0", "00:00:00:00:00:00", "get_net_info failed: dev eth9, mac unknown, ip unknown\n"},
        {"device MAC unreadable", "[general]\nmsp_device_mac = zz\n", "[general]\n", -1, "10.0.0.12", "10.0.0.11",
         "", "", "get_net_info: dev eth1, mac "},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        gp->netconf = network_config{};
        std::string err;
        EXPECT_EQ(facts(w, r.tarn_conf, r.tarn_sip, &err), r.result) << err;
        EXPECT_STREQ(gp->netconf.msp_devip, r.devip);
        EXPECT_STREQ(gp->netconf.msp_ip, r.msp_ip);
        EXPECT_STREQ(gp->netconf.host_ip_lan, r.lan_ip);
        EXPECT_STREQ(gp->netconf.host_mac_lan, r.lan_mac);
        EXPECT_NE(err.find(r.err_line), std::string::npos) << err;
    }
}

// ---------------------------------------------------------------------------
// The daemon.

TEST(NetworkFacts, StartUpPrintsTheFactsAndRefusesAWrongLinkAddress)
{
    e2e_world w;
    E2E_REQUIRE(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::string err = w.tarn_err();
    EXPECT_NE(err.find("get_net_info: dev eth1, mac " + w.ns.mac("eth1") + ", ip 10.0.0.1\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find("host_ifname_lan: \nhost_ip_lan: \nhost_ifname_wan: \nhost_ip_wan: \n"
                       "host_ifname_vpn: \nhost_ip_vpn: \n"),
              std::string::npos)
        << err;
    w.stop_tarn();

    e2e_options o;
    o.ifaces = {{"eth1", "10.0.0.3/24"}};
    e2e_world w3(o);
    E2E_REQUIRE(w3);
    EXPECT_EQ(w3.run_tarn_to_exit(), 99);
    EXPECT_NE(w3.tarn_err().find("TARN EXITCODE 99: Couldn't get network config!"), std::string::npos)
        << w3.tarn_err();
    EXPECT_TRUE(w3.root.msp()->frames().empty());
}

TEST(NetworkFacts, MediaProcessorProbe)
{
    {
        e2e_world w;
        E2E_REQUIRE(w);
        EXPECT_EQ(w.run_tarn_to_exit({"-A"}), 0) << w.tarn_err();
        std::vector<json_value> in = w.root.msp()->frames("in");
        ASSERT_EQ(in.size(), 1u) << w.tarn_err();
        EXPECT_EQ(in[0]["name"].str(), "FC_SUPVSR_GET_DEVICE_TYPE");
        EXPECT_EQ(w.root.msp()->frames("out").size(), 1u);
    }
    struct row {
        const char *what, *tarn_conf;
        bool sim;
        int status;
        const char *line;
    } rows[] = {
        {"bad device MAC", "[general]\nmsp_device_mac = zz\n", true, 1,
         "TARN EXITCODE 1: Couldn't parse MSP_MSPSIDEMAC!"},
        {"no link interface", "[general]\ninterface_msp = eth7\n", true, 1,
         "TARN EXITCODE 1: Couldn't parse MSP_MSPSIDEMAC!"},
        {"no device", "[general]\n", false, 95, "TARN EXITCODE 95: Error setting up mindspeed interface eth1!"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        e2e_options o;
        o.media_processor = r.sim;
        o.capture = false;
        e2e_world w(o);
        E2E_REQUIRE(w);
        w.root.write("usr/conf/tarn.conf", r.tarn_conf);
        std::vector<std::string> env;
        if (!r.sim)
            env.push_back("TARN_MSP_SIM=" + w.root.path("tmp/nobody.sock"));
        EXPECT_EQ(w.run_tarn_to_exit({"-A"}, env), r.status);
        EXPECT_NE(w.tarn_err().find(r.line), std::string::npos) << w.tarn_err();
        if (r.sim) {
            EXPECT_TRUE(w.root.msp()->frames().empty());
        }
    }
}

} // namespace
