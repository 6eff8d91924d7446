// A call object for the dial plan's templates and rewriting: the
// application with its default call configuration, a SIP-to-ISDN call with a
// dial plan line toward port 1 whose SIP leg carries the incoming request's
// address record, a second leg for the outgoing side, line and SIP port
// groups from configuration texts, a directory per test.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "confman.h"
#include "dialplan.h"
#include "dialplan_vars.h"
#include "experimental_options.h"
#include "misdn_bchannel.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "proxy_def.h"
#include "reg_object.h"
#include "schema.h"

class DialplanCall : public ::testing::Test {
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
        char tmpl[] = "/tmp/tarn-dpvars-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
        co = (call_object *)calloc(1, sizeof *co);
        in_leg = call_leg_sip{};
        out_leg = call_leg_sip{};
        in_leg.address_info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
        co->cl_sip = &in_leg;
        cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
        co->callinfo = CI_SIP_TO_ISDN;
        co->configured_ton = -1;
        line = dialplan_element{};
        line.to_id = strdup("1");
        co->dp = &line;
    }
    void TearDown() override
    {
        for (char *s : {co->new_source, co->new_destination, co->new_source_auto, co->new_destination_auto})
            free(s);
        free(line.to_id);
        for (call_leg_sip *leg : {&in_leg, &out_leg}) {
            free_address_info(leg->address_info);
            free_proxy_def(leg->pd);
        }
        cc_cleanup_call_configuration(&co->cc);
        free(co);
        delete bc;
        gp->test_dp_auto = 0;
        pg_free_line_port_groups();
        pg_free_all_sip_port_groups();
        for (cm **c : {&gp->config_isdn, &gp->config_analog, &gp->config_cas, &gp->config_sip})
            if (*c) {
                cm_destroy(*c);
                *c = nullptr;
            }
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str())) {
        }
    }
    void groups(const char *module, cm **slot, int (*build)(), const std::string &text)
    {
        std::string path = dir + "/" + module + ".conf";
        std::ofstream(path) << text;
        cm *c = configman_create(module);
        ASSERT_TRUE(c);
        ASSERT_EQ(cm_load(&c, path.c_str()), 0);
        *slot = c;
        testing::internal::CaptureStderr();
        build();
        testing::internal::GetCapturedStderr();
    }
    misdn_bchannel *new_bc()
    {
        bc = new misdn_bchannel{};
        co->bc = bc;
        return bc;
    }
    std::string expand(const char *tmpl, int size = 256, int *counter = nullptr)
    {
        char out[1024];
        int dummy = 0;
        dialplan_find_and_replace_variables_in_string(co, tmpl, out, size, counter ? counter : &dummy);
        return out;
    }
    // SIP port groups of a tarn.sip text, on a LAN stack with every
    // transport; proxies given as addresses need no DNS.
    void sip_groups(const std::string &text)
    {
        _parse_experimental_options("syscall_mode=99"); // no packet-filter commands
        gp->sip_stack_size = 1;
        sip_stack &lan = gp->sip_stacks[0];
        lan = sip_stack{};
        snprintf(lan.name, sizeof lan.name, "lan");
        snprintf(lan.ip, sizeof lan.ip, "10.0.0.5");
        lan.active = 1;
        lan.transport = SIP_TRANSPORT_UDP | SIP_TRANSPORT_TCP | SIP_TRANSPORT_TLS;
        lan.sip_port = 5060;
        lan.sip_ssl_port = 5061;
        snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "10.0.0.5");
        groups("SIP", &gp->config_sip, pg_init_sip_port_group_struct, text);
    }
    // A part of the incoming request's address record.
    void address(char *sip_address_info_object::*part, const char *value)
    {
        free(in_leg.address_info->*part);
        in_leg.address_info->*part = strdup(value);
    }
    // The outgoing leg's proxy definition (group name may be null).
    proxy_def *proxy(call_leg_sip &leg, const char *user, const char *group)
    {
        free_proxy_def(leg.pd);
        leg.pd = (proxy_def *)calloc(1, sizeof(proxy_def));
        leg.pd->user = user ? strdup(user) : nullptr;
        leg.pd->name = group ? strdup(group) : nullptr;
        return leg.pd;
    }
    void set(char **slot, const char *v)
    {
        free(*slot);
        *slot = v ? strdup(v) : nullptr;
    }
    void destination(const char *to_id)
    {
        free(line.to_id);
        line.to_id = to_id ? strdup(to_id) : nullptr;
    }
    dialplan_element line{};
    call_leg_sip in_leg{}, out_leg{};
    call_object *co = nullptr;
    misdn_bchannel *bc = nullptr;
    std::string dir;
};

