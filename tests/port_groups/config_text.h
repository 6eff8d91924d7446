// Configuration managers loaded from texts written into a test's directory.
#pragma once
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "confman.h"
#include "schema.h"

// Writes text as dir/<module>.conf and loads it into a new manager of the
// module ("SIP", "ISDN", "CAS", "ANALOG", "GSM").
inline cm *load_config_text(const std::string &dir, const char *module, const std::string &text)
{
    std::string path = dir + "/" + module + ".conf";
    std::ofstream(path) << text;
    cm *c = configman_create(module);
    EXPECT_TRUE(c);
    EXPECT_EQ(cm_load(&c, path.c_str()), 0);
    return c;
}
