// The caller-ID watchdog: which ports get one, the cid_mode each port is
// given, and the call object parked on a port through recording doubles of
// call control's machine and voice channel.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "analog_watchdog.h"
#include "application.h"
#include "call_lookups.h"
#include "confman.h"
#include "debug_lines.h"
#include "line_bringup.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"

namespace {

std::vector<call_object *> machines, voices;

statemachine *record_machine(call_object *co, uint32_t state)
{
    EXPECT_EQ(state, SM_ANALOG_FXO_CID_WATCHDOG);
    machines.push_back(co);
    return nullptr;
}

int record_voice(call_object *co, int)
{
    voices.push_back(co);
    return 0;
}

class AnalogWatchdog : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gp)
            application_create();
        init_locks();
        cm_init();
        ASSERT_EQ(create_call_object_pools(8), 0);
    }
    void SetUp() override
    {
        machines.clear();
        voices.clear();
        analog_watchdog_set_hooks(nullptr);
        // Ports 1-3 FXO, 4 FXS, 5 none.
        if (!gp->analog_info)
            gp->analog_info = static_cast<analog_port_info *>(calloc(1, sizeof(analog_port_info)));
        *gp->analog_info = analog_port_info{};
        const int types[] = {0, 2, 2, 2, 1, 0};
        for (int p = 1; p <= 5; p++)
            gp->analog_info->type[p] = types[p];
        gp->analog_info->size = 5;
        load("[plain]\nports=1\n[dtmf]\nports=2\nfxo_cid_detection_mode=ETSI-DTMF\n"
             "[ar]\nports=3\nfxo_cid_detection_mode=etsi-dtmf-ar\n[phones]\nports=4\n");
        // Port 1's timeslot: port 101, channel 1.
        tdm_reset(&gp->tdm_map);
        gp->tdm_map.timeslots[0] = {1, 101, 1, 5, 37};
        gp->tdm_map.timeslot_size = 1;
    }
    void TearDown() override
    {
        for (int i = 0; i < OPERATIONARRAYSIZE; i++)
            init_call_object(gp->operations[i], i);
        pg_free_line_port_groups();
        analog_watchdog_set_hooks(nullptr);
    }
    void load(const std::string &text)
    {
        char path[] = "/tmp/watchdog-analog.XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        std::ofstream(path) << text;
        if (gp->config_analog)
            cm_destroy(gp->config_analog);
        gp->config_analog = configman_create("ANALOG");
        ASSERT_EQ(cm_load(&gp->config_analog, path), 0);
        unlink(path);
        pg_free_line_port_groups();
        pg_init_analog_port_group_struct();
    }
    static void set_hooks()
    {
        analog_watchdog_hooks h = {record_machine, record_voice};
        analog_watchdog_set_hooks(&h);
    }
};

TEST_F(AnalogWatchdog, PortKindsAndModes)
{
    struct {
        int port, fxo, fxs;
    } ports[] = {{0, 0, 0}, {1, 1, 0}, {3, 1, 0}, {4, 0, 1}, {5, 0, 0}, {6, 0, 0}, {-1, 0, 0}, {99, 0, 0}};
    for (auto &p : ports) {
        EXPECT_EQ(analog_port_is_fxo(p.port), p.fxo) << p.port;
        EXPECT_EQ(analog_port_is_fxs(p.port), p.fxs) << p.port;
    }
    struct {
        const char *text;
        int mode;
    } modes[] = {{"etsi-dtmf", 1}, {"ETSI-DTMF-AR", 2}, {"bellcore", 0}, {"", 0}, {"etsi", 0}, {nullptr, 0}};
    for (auto &m : modes)
        EXPECT_EQ(analog_cid_mode_of(m.text), m.mode) << (m.text ? m.text : "null");
}

TEST_F(AnalogWatchdog, WithoutCallControlNothingIsParked)
{
    debug_lines log({ANALOG});
    ASSERT_EQ(init_analog_watchdog(), 0);
    const int *mode = gp->analog_info->cid_mode;
    EXPECT_EQ(mode[1], 0);
    EXPECT_EQ(mode[2], 1);
    EXPECT_EQ(mode[3], 2);
    EXPECT_EQ(mode[4], 0);
    EXPECT_TRUE(log.has("Starting Analog CID watchdog on port 1"));
    EXPECT_TRUE(log.has("Starting Analog CID watchdog on port 2"));
    EXPECT_EQ(log.count("Starting Analog CID watchdog"), 2); // not the AR port, not the FXS port
    for (int p = 1; p <= 4; p++)
        EXPECT_EQ(get_operation_by_analog_port(p), nullptr) << p;
}

TEST_F(AnalogWatchdog, ParksOneCallPerFxoPort)
{
    set_hooks();
    ASSERT_EQ(init_analog_watchdog(), 0);
    ASSERT_EQ(machines.size(), 2u);
    EXPECT_EQ(voices, machines);
    call_object *co = get_operation_by_analog_port(1);
    ASSERT_NE(co, nullptr);
    EXPECT_EQ(co, machines[0]);
    EXPECT_EQ(co->callinfo, CI_ANALOG_TO_SIP);
    EXPECT_EQ(co->sm_state, SM_ANALOG_FXO_CID_WATCHDOG);
    EXPECT_EQ(co->f.dummy_rtp, 1u);
    EXPECT_EQ(co->tdm_logical_timeslot, 37);
    ASSERT_NE(co->cl_sip, nullptr);
    EXPECT_EQ(co->cl_sip, co->cl_sip_out);
    EXPECT_EQ(get_operation_by_analog_port(2)->tdm_logical_timeslot, -1); // not in the map
    EXPECT_EQ(get_operation_by_analog_port(3), nullptr);
    EXPECT_EQ(get_operation_by_analog_port(4), nullptr);

    // A port that has its call already is left alone.
    start_analog_watchdog_on_port(1, 1);
    EXPECT_EQ(machines.size(), 2u);
    // A busy port: another call holds it.
    call_object *busy = get_free_operation_handle(1);
    busy->analog_port = 5;
    gp->analog_info->type[5] = 2;
    start_analog_watchdog_on_port(5, 0);
    EXPECT_EQ(machines.size(), 2u);
}

// Call control and the media channel control each install their own half;
// the later one keeps the earlier one's.
TEST_F(AnalogWatchdog, EachPartInstallsItsOwnHook)
{
    analog_watchdog_hooks voice = {nullptr, record_voice};
    analog_watchdog_hooks machine = {record_machine, nullptr};
    analog_watchdog_set_hooks(&voice);
    analog_watchdog_set_hooks(&machine);
    ASSERT_EQ(init_analog_watchdog(), 0);
    EXPECT_EQ(machines.size(), 2u);
    EXPECT_EQ(voices, machines);
}

} // namespace
