// The housekeeping's modem duties against modemsim: the LTE init hook's
// pieces and the SIM message count.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gsm_fixture.h"
#include "housekeeping.h"
#include "modemsim_client.h"

namespace {

class HousekeepingModem : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<modemsim> sim;
    gsm_config_t cfg[GSM_PORT_TABLE] = {};
    gsm_global_config global = {1, nullptr};
    bool started = false;

    void SetUp() override
    {
        root = gsm_test_root();
        gsm_test_clock(5);
        sim = std::make_unique<modemsim>(root, std::vector<std::string>{"--lif", "0:DV2GSM", "--port",
                                                                        "1:model=GE865"});
        ASSERT_TRUE(sim->running());
        cfg[1].port = 1;
        ASSERT_EQ(gsm_cfg_init(&cfg[1]), 1);
        ASSERT_EQ(gsm_init(gsm_test_callback, cfg, &global), 1);
        started = true;
        ASSERT_EQ(gsm_port_is_ready(1), 1);
    }
    void TearDown() override
    {
        if (started)
            gsm_shutdown();
        sim.reset();
        remove_tree(root);
    }
};

// Only pieces that begin with a capital letter are modem commands.
TEST_F(HousekeepingModem, LteHookSendsOnlyCapitalPieces)
{
    EXPECT_EQ(hk_run_lte_init_hook(1, "AT+X\tat+y"), 1);
    EXPECT_NE(sim->expect(1, "^AT\\+X$"), "");
    EXPECT_EQ(hk_run_lte_init_hook(1, "\t\tAT+Z"), 1); // a marker behind it
    EXPECT_NE(sim->expect(1, "^AT\\+Z$"), "");
    for (const std::string &c : sim->commands(1))
        EXPECT_EQ(c.find("at+y"), std::string::npos) << c;
}

TEST_F(HousekeepingModem, SmsUsageOfTheSim)
{
    ASSERT_TRUE(sim->store(1, 1, "hello"));
    int used = 0, total = 0;
    ASSERT_EQ(get_sms_usage(1, &used, &total), 0);
    EXPECT_EQ(used, 1);
    EXPECT_GT(total, 1);
    EXPECT_NE(sim->expect(1, "^AT\\+CPMS\\?$"), "");
}

} // namespace
