// In-process set-up of the SIP port-group tests: the application object with
// a LAN and a localhost SIP stack, the packet-filter commands ignored, and one
// dnsmasq answering every name the tests resolve (the resolver is pointed at
// it, nothing reaches the machine's own).
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "dns_cache.h"
#include "config_text.h"
#include "dnsmasq_runner.h"
#include "experimental_options.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "schema.h"

inline std::vector<std::string> sip_group_dns_records()
{
    return {
        "--host-record=peer.test,10.1.1.1",
        "--host-record=multi.test,10.2.0.1",
        "--host-record=multi.test,10.2.0.2",
        "--host-record=multi.test,10.2.0.3",
        "--srv-host=_sip._udp.dom.test,sip1.dom.test,5070,10,60",
        "--host-record=sip1.dom.test,10.1.1.2",
        "--srv-host=_sip._udp.two.test,a.two.test,5080,10,60",
        "--srv-host=_sip._udp.two.test,b.two.test,5082,20,60",
        "--host-record=a.two.test,10.6.0.1",
        "--host-record=b.two.test,10.6.0.2",
    };
}

// A LAN stack (10.0.0.5) with every transport and the localhost stack.
inline void sip_groups_test_stacks()
{
    gp->sip_stack_size = 2;
    sip_stack &lan = gp->sip_stacks[0];
    lan = sip_stack{};
    snprintf(lan.name, sizeof lan.name, "lan");
    snprintf(lan.ip, sizeof lan.ip, "10.0.0.5");
    lan.active = 1;
    lan.transport = SIP_TRANSPORT_UDP | SIP_TRANSPORT_TCP | SIP_TRANSPORT_TLS;
    lan.sip_port = 5060;
    lan.sip_ssl_port = 5061;
    sip_stack &local = gp->sip_stacks[1];
    local = sip_stack{};
    snprintf(local.name, sizeof local.name, "localhost");
    snprintf(local.ip, sizeof local.ip, "127.0.0.1");
    local.active = 1;
    local.transport = SIP_TRANSPORT_UDP;
    local.sip_port = 5062;
}

class SipGroupsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new dnsmasq_runner(sip_group_dns_records());
        application_create();
        init_locks();
        cm_init();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->ok()) << "dnsmasq did not start";
        server->export_env();
        char tmpl[] = "/tmp/tarn-sipgroups-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
        setenv("TARN_ROOT", dir.c_str(), 1); // the overrides file /tmp/tarn.dns, absent
        // Packet-filter commands of the group chains are ignored.
        _parse_experimental_options("syscall_mode=99");
        init_default_call_configuration();
        dns_cache_clear();
        stacks();
        snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "10.0.0.5");
        pg_init_sip_port_group_local();
        queries_seen = server->queries().size();
    }
    void TearDown() override
    {
        pg_free_all_sip_port_groups();
        pg_free_line_port_groups();
        for (cm **c : {&gp->config_sip, &gp->config_isdn})
            if (*c) {
                cm_destroy(*c);
                *c = nullptr;
            }
        unsetenv("TARN_ROOT");
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str())) {
        }
    }
    static void stacks() { sip_groups_test_stacks(); }
    cm *load(const char *module, const std::string &text)
    {
        return load_config_text(dir, module, text);
    }
    // Builds the SIP groups of a tarn.sip text; the result of the build.
    int build(const std::string &text)
    {
        if (gp->config_sip)
            cm_destroy(gp->config_sip);
        gp->config_sip = load("SIP", text);
        return pg_init_sip_port_group_struct();
    }
    void build_isdn(const std::string &text)
    {
        if (gp->config_isdn)
            cm_destroy(gp->config_isdn);
        gp->config_isdn = load("ISDN", text);
        testing::internal::CaptureStderr();
        pg_init_isdn_port_group_struct();
        testing::internal::GetCapturedStderr();
    }
    static port_group_sip *group(int i) { return &gp->port_groups->port_groups_sip[i]; }
    static int count() { return gp->port_groups->port_groups_sip_count; }
    // Queries dnsmasq received since the test began.
    std::vector<std::string> new_queries() const
    {
        std::vector<std::string> q = server->queries();
        return std::vector<std::string>(q.begin() + (long)std::min(queries_seen, q.size()), q.end());
    }

    static inline dnsmasq_runner *server = nullptr;
    std::string dir;
    size_t queries_seen = 0;
};
