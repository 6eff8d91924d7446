// What the line bring-up tests share: the application object, a private path
// root per test, configuration files loaded into the application's managers,
// and every line's log lines recorded.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "confman.h"
#include "linesim_client.h"
#include "log_capture.h"
#include "pg_port_groups.h"
#include "schema.h"

class bringup_test : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gp)
            application_create();
        cm_init();
    }
    void SetUp() override
    {
        root = make_test_root("tarn-bringup-test"); // also TARN_ROOT
        ASSERT_FALSE(root.empty());
        memset(gp->isdn_ptp_settings, 0, sizeof gp->isdn_ptp_settings);
        log_capture_start();
        log_capture_clear();
    }
    void TearDown() override
    {
        pg_free_line_port_groups();
        for (cm **c : {&gp->config_isdn, &gp->config_cas, &gp->config_analog, &gp->config_gsm})
            unload(c);
        unsetenv("TARN_ROOT");
        remove_tree(root);
    }
    // A file below the root.
    void write(const std::string &rel, const std::string &text) { write_text_file(root + "/" + rel, text); }
    // The text as the configuration file of a module ("ISDN", "CAS", ...),
    // loaded into the application's manager slot.
    void load(cm **slot, const char *module, const std::string &text)
    {
        unload(slot);
        std::string path = root + "/" + module + ".conf";
        write_text_file(path, text);
        *slot = configman_create(module);
        ASSERT_TRUE(*slot);
        ASSERT_EQ(cm_load(slot, path.c_str()), 0);
    }
    static void unload(cm **slot)
    {
        if (*slot)
            cm_destroy(*slot);
        *slot = nullptr;
    }
    std::string root;
};

inline bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}
