// The media processor link of the test process against the simulator: one
// per test binary, registered with
//     const auto *env = ::testing::AddGlobalTestEnvironment(new msp_link_environment);
// Events are accepted and dropped; the application object and the locks
// exist before the link starts.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

#include "application.h"
#include "msp_dispatch.h"
#include "msp_link.h"
#include "msp_manager.h"
#include "mspsim_runner.h"

class msp_link_environment : public ::testing::Environment {
public:
    // The simulator, while the environment lives.
    static mspsim_runner *&sim()
    {
        static mspsim_runner *s = nullptr;
        return s;
    }
    void SetUp() override
    {
        application_create();
        init_locks();
        sim() = new mspsim_runner({"--device-mac", "00:11:22:33:44:55"});
        ASSERT_TRUE(sim()->ok());
        setenv("TARN_MSP_SIM", sim()->socket.c_str(), 1);
        // Room for the simulator's answers on a loaded machine.
        setenv("TARN_MSP_SIM_WAIT_MS", "10000", 1);
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        ASSERT_EQ(msp_init_interface("lo", mac), 0);
        ASSERT_EQ(msp_init_lib(drop_event, no_text), 0);
        cman->msplib_initializing = 0;
    }
    void TearDown() override
    {
        msp_stop_lib(); // its threads end before the simulator goes
        delete sim();
        sim() = nullptr;
    }

private:
    static intptr_t drop_event(magic_csm, int, int) { return 0; }
    static void no_text(void *, char *buffer, int size)
    {
        if (size > 0)
            buffer[0] = '\0';
    }
};
