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
    char tmpl[] = "/tmp/tarn-s2i-admission.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string path = std::string(tmpl) + "/tarn.isdn";
    std::ofstream(path) << "[a]\nports=1\n[down]\nports=7\n";
    gp->config_isdn = configman_create("ISDN");
    ASSERT_EQ(cm_load(&gp->config_isdn, path.c_str()), 0);
    unlink(path.c_str());
    rmdir(tmpl);
    pg_init_isdn_port_group_struct();
    misdn_lib_init_port_groups("a(1);down(7)");
    ASSERT_EQ(create_call_object_pools(4), 0);
}

void s2i_locked(const std::function<void()> &fn)
{
    with_global_lock(fn);
}
