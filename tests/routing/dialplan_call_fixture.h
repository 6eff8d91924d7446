// A call object for the dial plan's templates and rewriting: the
// application with its default call configuration, a SIP-to-ISDN call with a
// dial plan line toward port 1, test doubles of the records that other
// parts own, port groups from configuration texts, a directory per test.
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
#include "misdn_bchannel.h"
#include "pg_port_groups.h"
#include "reg_object.h"
#include "schema.h"

// What the test doubles of the records of other parts answer.
struct fake_records {
    std::map<int, std::string> address;
    const char *account_user = nullptr;
    const char *account_domain = nullptr;
};
inline fake_records fake;

inline const char *f_address(const call_object *, int part)
{
    auto it = fake.address.find(part);
    return it == fake.address.end() ? nullptr : it->second.c_str();
}
inline const char *f_account_user(const call_object *) { return fake.account_user; }
inline const char *f_account_domain(const call_object *) { return fake.account_domain; }
inline const char *f_reg_user(const reg_object *) { return "reguser"; }
inline const char *f_reg_domain(const reg_object *) { return "reg.example.test"; }

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
        fake = fake_records{};
        dialplan_vars_iface i{f_address, f_account_user, f_account_domain, f_reg_user, f_reg_domain};
        dialplan_set_vars_iface(&i);
        co = (call_object *)calloc(1, sizeof *co);
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
        cc_cleanup_call_configuration(&co->cc);
        free(co);
        delete bc;
        gp->test_dp_auto = 0;
        pg_free_line_port_groups();
        for (cm **c : {&gp->config_isdn, &gp->config_analog, &gp->config_cas})
            if (*c) {
                cm_destroy(*c);
                *c = nullptr;
            }
        dialplan_set_vars_iface(nullptr);
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
    call_object *co = nullptr;
    misdn_bchannel *bc = nullptr;
    std::string dir;
};

