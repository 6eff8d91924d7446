// The console's analog port listing over the sysfs files of the simulated
// analog line driver: port 1 a telephone set (FXS), port 2 an exchange line
// (FXO) with its own line values, port 3 present in sysfs but not opened.
#include <gtest/gtest.h>

#include "analogctl.h"
#include "application.h"
#include "console_test_util.h"
#include "line_bringup.h"
#include "linesim_client.h"
#include "mc_options.h"

namespace {

std::string root;
linesim *sim = nullptr;

int ignore_event(int, unsigned int)
{
    return 0;
}

class AnalogListingEnv : public testing::Environment {
public:
    void SetUp() override
    {
        root = make_test_root("consoleanalog");
        ASSERT_FALSE(root.empty());
        sim = new linesim("sim/analogsim/analogsim.py", root,
                          {"--port", "1:type=FXS", "--port", "2:type=FXO,linevoltage=46,polarity=0,rtlc=7",
                           "--port", "3:type=FXS"});
        ASSERT_TRUE(sim->running());
        analog_port_configuration cfg[ANALOG_PORT_TABLE] = {};
        cfg[1] = {1, 1, 0};
        cfg[2] = {1, 2, 0};
        ASSERT_EQ(analog_init(ignore_event, cfg, 0), 0);
        console_test_application(1);
        static analog_port_info info{};
        info.offhook_mode[2] = 1;
        gp->analog_info = &info;
        mc_init_options();
    }
    void TearDown() override
    {
        analog_shutdown();
        delete sim;
        remove_tree(root);
    }
};
testing::Environment *const env = testing::AddGlobalTestEnvironment(new AnalogListingEnv);

TEST(ConsoleAnalogListing, OneLinePerOpenedPortFromTheDriversFiles)
{
    ASSERT_TRUE(sim->request({"state", "2", "FXO_CONNECTED"}));
    EXPECT_EQ(dispatcher_answer("a"), "LISTING ANALOG STATE\n"
                                      "* Analog Port 1\ttype:FXS\tstate:FXS_IDLE\tlinevoltage:48\tpol:1\trtlc:0\t"
                                      "admin_offhook:0\n"
                                      "* Analog Port 2\ttype:FXO\tstate:FXO_CONNECTED\tlinevoltage:46\tpol:0\trtlc:7\t"
                                      "admin_offhook:1\n\r\n");
}

} // namespace
