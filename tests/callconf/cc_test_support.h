// Shared by the call-configuration tests: an application object with the
// default record, and the TARN debug lines of each test.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "debug_lines.h"

class CallConf : public ::testing::Test {
protected:
    void SetUp() override
    {
        application_create();
        init_locks();
        init_default_call_configuration();
        cc_clean_call_configuration_pool();
        log = std::make_unique<debug_lines>(std::initializer_list<int>{TARN}, true);
    }
    void TearDown() override { log.reset(); }

    std::unique_ptr<debug_lines> log; // "<tag>|<text>"

    static const call_configuration &defaults() { return gp->default_call_configuration; }
    static call_configuration fresh()
    {
        call_configuration cc;
        cc_init_call_configuration(&cc);
        return cc;
    }
    // Texts of the lines logged so far (without their tags), then forgets them.
    std::vector<std::string> take_lines()
    {
        std::vector<std::string> out;
        for (auto &l : log->lines())
            out.push_back(l.substr(l.find('|') + 1));
        log->clear();
        return out;
    }
};
