#include "sip_isdn_admission_env.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "confman.h"
#include "experimental_options.h"
#include "isdn_test_support.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"
#include "timer.h"

void s2i_start_library()
{
    application_create();
    init_locks();
    gp->experimental_options = new experimental_options{};
    cm_init();
    init_default_call_configuration();
    ASSERT_EQ(timer_list_new(), 0);
    start_library("1 te bri ptmp - - -\n7 te bri ptp - - -\n", port_list({1, 7}, {0, 1}));
    gp->config_isdn = s2i_config("ISDN", "[a]\nports=1\n[down]\nports=7\n");
    ASSERT_NE(gp->config_isdn, nullptr);
    pg_init_isdn_port_group_struct();
    misdn_lib_init_port_groups("a(1);down(7)");
    ASSERT_EQ(create_call_object_pools(4), 0);
}

cm *s2i_config(const char *module, const std::string &text)
{
    char tmpl[] = "/tmp/tarn-s2i-admission.XXXXXX";
    if (!mkdtemp(tmpl))
        return nullptr;
    std::string path = std::string(tmpl) + "/module.conf";
    std::ofstream(path) << text;
    cm *c = configman_create(module);
    if (c && cm_load(&c, path.c_str()) != 0) {
        cm_destroy(c);
        c = nullptr;
    }
    unlink(path.c_str());
    rmdir(tmpl);
    return c;
}

void s2i_locked(const std::function<void()> &fn)
{
    with_global_lock(fn);
}
