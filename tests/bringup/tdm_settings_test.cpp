// The TDM map from tarn.tdm: the keyword rows with their messages, the
// choice of the transcoding bus, the numbering across buses, and the
// address helpers of the device bring-up.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "application.h"
#include "confman.h"
#include "debug_lines.h"
#include "experimental_options.h"
#include "msp_device.h"
#include "network_config.h"
#include "platform_path.h"
#include "schema.h"
#include "tdm_settings.h"

namespace {

TEST(TdmFile, KeywordRowsAndTheirMessages)
{
    struct {
        const char *line;
        int rc;
        const char *logged; // "" for nothing
    } cases[] = {
        {"", 0, ""},
        {"   ; a comment", 0, ""},
        {"# another", 0, ""},
        {"timeslot 1 3 2 7", 0, ""},
        {"timeslot 1 3 2", -1, "Error parsing device config file - timeslot line: timeslot 1 3 2!"},
        {"timeslot 4 3 2 7", -1, "Error parsing timeslot - invalid bus number 4"},
        {"tdm_delay 2 5 6", 0, ""},
        {"tdm_delay 2 5", -1, "Error parsing device config file - tdm_delay line: tdm_delay 2 5!"},
        {"tdm_delay -1 5 6", -1, "Error parsing tdm_delay - invalid bus number -1"},
        {"clock_mode 3 single_clock double", 0, ""},
        {"clock_mode 3 single_clock", -1, "Error parsing device config file - clock_mode line: clock_mode 3 single_clock!"},
        {"clock_mode 9 a b", -1, "Error parsing clock_mode - invalid bus number 9"},
        {"receive_clock_edge 1 on_falling", 0, ""},
        {"receive_clock_edge 1", -1, "Error parsing device config file - receive_clock_edge line: receive_clock_edge 1!"},
        {"receive_clock_edge 5 on_falling", -1, "Error parsing clock_mode - invalid bus number 5"},
        {"transmit_clock_edge 0 on_rising", 0, ""},
        {"transmit_clock_edge 0 on_rising x", -1,
         "Error parsing device config file - transmit_clock_edge line: transmit_clock_edge 0 on_rising x!"},
        {"transmit_clock_edge 4 on_rising", -1, "Error parsing clock_mode - invalid bus number 4"},
        {"frame_edge 2 on_falling", 0, ""},
        {"frame_edge 4 on_falling", -1, "Error parsing frame_edge - invalid bus number 4"},
        {"frame_edge 2", -1, "Error parsing device config file - frame_edge line: frame_edge 2!"},
        {"  frame_edge   2    on_falling  ", 0, ""},
        {"a b c d e f", -1, "Error parsing device config file - line 7: a b c d e f!"},
        {"timeslot 0 1 1 1 1", -1, "Error parsing device config file - line 7: timeslot 0 1 1 1 1!"},
        {"no_such_word 1", 0, "unknown line in device config: no_such_word 1!"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.line);
        debug_lines log({TARN});
        tdm_settings t;
        tdm_reset(&t);
        EXPECT_EQ(tdm_parse_line(&t, c.line, 7), c.rc);
        if (*c.logged) {
            EXPECT_TRUE(log.has(c.logged)) << (log.lines().empty() ? "" : log.lines()[0]);
        } else {
            EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
        }
    }
}

TEST(TdmFile, ValuesLandInTheirBus)
{
    tdm_settings t;
    tdm_reset(&t);
    for (int b = 0; b < TDM_BUSES; b++) {
        EXPECT_EQ(t.receive_clock_edge[b], 1);
        EXPECT_EQ(t.transmit_clock_edge[b], 1);
        EXPECT_EQ(t.frame_edge[b] + t.clock_mode_transmitter[b] + t.delay_receiver[b], 0);
    }
    for (const char *l : {"tdm_delay 2 5 6", "clock_mode 3 single_clock double", "receive_clock_edge 1 on_falling",
                          "transmit_clock_edge 0 on_falling", "frame_edge 2 rising", "timeslot 1 3 2 7"})
        ASSERT_EQ(tdm_parse_line(&t, l, 1), 0) << l;
    EXPECT_EQ(t.delay_transmitter[2], 5);
    EXPECT_EQ(t.delay_receiver[2], 6);
    EXPECT_EQ(t.clock_mode_transmitter[3], 0);
    EXPECT_EQ(t.clock_mode_receiver[3], 1);
    EXPECT_EQ(t.receive_clock_edge[1], 0);
    EXPECT_EQ(t.transmit_clock_edge[0], 0);
    EXPECT_EQ(t.frame_edge[2], 1);
    ASSERT_EQ(t.timeslot_size, 1);
    EXPECT_EQ(t.timeslots[0].bus, 1);
    EXPECT_EQ(t.timeslots[0].port, 3);
    EXPECT_EQ(t.timeslots[0].channel, 2);
    EXPECT_EQ(t.timeslots[0].timeslot, 7);
}

TEST(TdmFile, TimeslotPastTheRoomFailsTheFile)
{
    tdm_settings t;
    tdm_reset(&t);
    for (int i = 0; i < TDM_TIMESLOT_ROOM; i++)
        ASSERT_EQ(tdm_parse_line(&t, "timeslot 0 1 1 1", i + 1), 0);
    debug_lines log({TARN});
    EXPECT_EQ(tdm_parse_line(&t, "timeslot 0 1 1 1", 513), -1);
    EXPECT_EQ(t.timeslot_size, TDM_TIMESLOT_ROOM);
    EXPECT_EQ(log.lines().size(), 1u);
}

// A map with entries on the given timeslots of each bus.
tdm_settings map_with(std::initializer_list<std::pair<int, int>> bus_ts)
{
    tdm_settings t;
    tdm_reset(&t);
    for (auto [bus, ts] : bus_ts)
        t.timeslots[t.timeslot_size++] = {(uint8_t)bus, 1, 1, (uint16_t)ts, 0};
    return t;
}

TEST(TdmTranscodingBus, Choice)
{
    struct {
        const char *name;
        tdm_settings map;
        int eo_bus, eo_virtual;
        tdm_s2s_choice want; // find, bmax, s2s, activate, first, slots
        const char *logged;
    } cases[] = {
        {"empty map: bus 0 whole", map_with({}), -1, 0, {0, 0, 0, 0, 0, 126}, "Setting s2s_bus to bus 0, 126 slots, "},
        {"bus 0 used: the first empty bus", map_with({{0, 1}, {0, 30}}), -1, 0, {1, 0, 1, 1, 0, 126},
         "Setting s2s_bus to bus 1, 126 slots, "},
        {"only timeslot 0 used: start above it", map_with({{0, 0}, {1, 0}, {2, 0}, {3, 0}}), -1, 0,
         {0, 0, 0, 0, 1, 126}, "Setting s2s_bus to bus 0, 126 slots, "},
        {"all used: lowest highest, not activated", map_with({{0, 30}, {1, 10}, {2, 20}, {3, 40}}), -1, 0,
         {1, 10, 1, -1, 11, 52}, "Setting s2s_bus(2) to bus 1, 52 slots, "},
        {"tie: the first bus", map_with({{0, 30}, {1, 5}, {2, 5}, {3, 40}}), -1, 0, {1, 5, 1, -1, 6, 57},
         "Setting s2s_bus(2) to bus 1, 57 slots, "},
        {"all full: none", map_with({{0, 62}, {1, 70}, {2, 62}, {3, 100}}), -1, 0, {0, 62, -1, -1, 0, 0}, ""},
        {"override: one above the highest", map_with({{0, 1}, {2, 20}}), 2, 0, {1, 0, 2, 2, 21, 42},
         "Overriding s2s_bus to bus 2, 42 slots, "},
        {"override of an empty bus", map_with({{0, 1}}), 1, 0, {1, 0, 1, 1, 0, 62},
         "Overriding s2s_bus to bus 1, 62 slots, "},
        {"override refused: too little room", map_with({{0, 1}, {2, 58}}), 2, 0, {1, 0, 1, 1, 0, 126},
         "Not overriding s2s_bus to bus 2, already uses 58 slots, "},
        {"virtual transcoding on a full bus: no slots", map_with({{3, 70}}), 3, 1, {0, 0, 3, 3, 71, 0},
         "Overriding s2s_bus to bus 3, 0 slots, "},
        {"out-of-range option: automatic", map_with({}), 4, 0, {0, 0, 0, 0, 0, 126},
         "Setting s2s_bus to bus 0, 126 slots, "},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        debug_lines log({TARN});
        tdm_s2s_choice got = tdm_choose_s2s_bus(&c.map, c.eo_bus, c.eo_virtual);
        EXPECT_EQ(got.find_bus, c.want.find_bus);
        EXPECT_EQ(got.bmax, c.want.bmax);
        EXPECT_EQ(got.s2s_bus, c.want.s2s_bus);
        EXPECT_EQ(got.activate_bus, c.want.activate_bus);
        EXPECT_EQ(got.first, c.want.first);
        EXPECT_EQ(got.slots, c.want.slots);
        if (*c.logged) {
            EXPECT_TRUE(log.has(c.logged));
        }
        // Transcoding slots never land on a used timeslot of their bus.
        tdm_settings t = c.map;
        int used = t.timeslot_size;
        tdm_finish_map(&t, got);
        for (int i = used; i < t.timeslot_size; i++)
            for (int j = 0; j < used; j++)
                EXPECT_FALSE(t.timeslots[i].bus == t.timeslots[j].bus &&
                             t.timeslots[i].timeslot == t.timeslots[j].timeslot)
                    << "timeslot " << t.timeslots[i].timeslot << " twice";
    }
}

TEST(TdmNumbering, CountsAndLogicalTimeslots)
{
    // 128 PCM bridging slots on bus 0, two lines on bus 1, one on bus 3.
    tdm_settings t;
    tdm_reset(&t);
    for (int i = 0; i < 128; i++)
        t.timeslots[t.timeslot_size++] = {0, 100, (uint16_t)i, (uint16_t)i, 0};
    ASSERT_EQ(tdm_parse_line(&t, "timeslot 1 1 1 1", 1), 0);
    ASSERT_EQ(tdm_parse_line(&t, "timeslot 1 1 2 2", 2), 0);
    ASSERT_EQ(tdm_parse_line(&t, "timeslot 3 2 1 4", 3), 0);
    tdm_s2s_choice c = tdm_choose_s2s_bus(&t, -1, 0);
    EXPECT_EQ(c.s2s_bus, 2); // bus 2 is empty
    tdm_finish_map(&t, c);
    EXPECT_EQ(t.bus_configure_count[0], 129);
    EXPECT_EQ(t.bus_configure_count[1], 4);
    EXPECT_EQ(t.bus_configure_count[2], 127);
    EXPECT_EQ(t.bus_configure_count[3], 6);
    ASSERT_EQ(t.timeslot_size, 128 + 3 + 126);
    EXPECT_EQ(t.timeslots[127].logical_timeslot, 127);
    EXPECT_EQ(t.timeslots[128].logical_timeslot, 129 + 1);
    EXPECT_EQ(t.timeslots[130].logical_timeslot, 129 + 4 + 127 + 4);
    const timeslot_def &first_tc = t.timeslots[131];
    EXPECT_EQ(first_tc.bus, 2);
    EXPECT_EQ(first_tc.port, 10001);
    EXPECT_EQ(first_tc.channel, 1);
    EXPECT_EQ(first_tc.timeslot, 0);
    EXPECT_EQ(first_tc.logical_timeslot, 129 + 4);
    EXPECT_EQ(t.timeslots[t.timeslot_size - 1].port, 10001 + 125);
}

TEST(TdmNumbering, TranscodingSlotsCutToTheRoomLeft)
{
    tdm_settings t;
    tdm_reset(&t);
    for (int i = 0; i < 500; i++)
        t.timeslots[t.timeslot_size++] = {1, 1, 1, 1, 0};
    tdm_s2s_choice c = tdm_choose_s2s_bus(&t, -1, 0);
    ASSERT_EQ(c.slots, 126);
    tdm_finish_map(&t, c);
    EXPECT_EQ(t.timeslot_size, TDM_TIMESLOT_ROOM);
}

// read_device_config over a private root and tarn.conf.
class TdmRead : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tdm-read.XXXXXX";
        dir = mkdtemp(tmpl);
        std::filesystem::create_directories(dir + "/sys/class/quilmar/pcm");
        std::filesystem::create_directories(dir + "/sys/class/quilmar/li0");
        setenv("TARN_ROOT", dir.c_str(), 1);
        if (!gp)
            application_create();
        ASSERT_EQ(cm_init(), 0);
    }
    void TearDown() override
    {
        unsetenv("TARN_ROOT");
        std::filesystem::remove_all(dir);
    }
    void write(const std::string &rel, const std::string &text)
    {
        std::ofstream(dir + "/" + rel) << text;
    }
    int read(const std::string &conf, const std::string &tdm)
    {
        write("tarn.conf", conf);
        write("tarn.tdm", tdm);
        if (gp->config_tarn)
            cm_destroy(gp->config_tarn);
        gp->config_tarn = configman_create("TARN");
        if (!gp->config_tarn || cm_load(&gp->config_tarn, (dir + "/tarn.conf").c_str()) != 0)
            return -99;
        return read_device_config((dir + "/tarn.tdm").c_str());
    }
    std::string slurp(const std::string &rel)
    {
        std::ifstream f(dir + "/" + rel);
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
    std::string dir;
};

TEST_F(TdmRead, CommentsOnlyActivatesBusZero)
{
    write("sys/class/quilmar/pcm/tdm_config", "");
    write("sys/class/quilmar/li0/tdm_config", "");
    ASSERT_EQ(read("[general]\npcm_server = 0\n", "; nothing\n# at all\n"), 0);
    EXPECT_EQ(slurp("sys/class/quilmar/pcm/tdm_config"), "32\n");
    EXPECT_EQ(slurp("sys/class/quilmar/li0/tdm_config"), "");
    EXPECT_EQ(gp->tdm_map.timeslot_size, 126);
    EXPECT_EQ(gp->tdm_map.bus_configure_count[0], 127);
}

TEST_F(TdmRead, PcmBridgingEntriesFirst)
{
    ASSERT_EQ(read("[general]\npcm_server = 1\n", "timeslot 1 1 1 1\n"), 0);
    const tdm_settings &t = gp->tdm_map;
    EXPECT_EQ(t.timeslots[5].port, 100);
    EXPECT_EQ(t.timeslots[5].timeslot, 5);
    EXPECT_EQ(t.timeslots[128].bus, 1);
    // Bus 2 is empty; its sysfs file does not exist, so nothing is written.
    EXPECT_EQ(t.timeslots[129].bus, 2);
    EXPECT_FALSE(std::filesystem::exists(dir + "/sys/class/quilmar/li1/tdm_config"));
}

TEST_F(TdmRead, FileErrors)
{
    debug_lines log({TARN});
    EXPECT_EQ(read_device_config((dir + "/missing.tdm").c_str()), -1);
    EXPECT_TRUE(log.has("CRITICAL: Cannot load timeslots config (" + dir + "/missing.tdm)!"));
    EXPECT_EQ(read("[general]\n", "frame_edge 4 on_falling\n"), -1);
    EXPECT_TRUE(log.has("Error parsing frame_edge - invalid bus number 4"));
    EXPECT_EQ(read("[general]\n", "timeslot 0 1 1\n"), -1);
    // A timeslot beyond what the media processor has.
    EXPECT_EQ(read("[general]\n", "timeslot 3 1 1 600\n"), -1);
    if (geteuid() != 0) {
        write("locked.tdm", "");
        chmod((dir + "/locked.tdm").c_str(), 0);
        EXPECT_EQ(read_device_config((dir + "/locked.tdm").c_str()), -1);
        EXPECT_TRUE(log.has("CRITICAL: Failed opening timeslots config (" + dir + "/locked.tdm)!"));
    }
}

TEST(DeviceAddresses, MulticastItems)
{
    struct {
        const char *item;
        bool usable;
        uint8_t b4, b5;
    } cases[] = {
        {"224.0.0.251:5353", true, 0, 251}, {"224.0.0.18", true, 0, 18}, {"224.0.1.75:5060", true, 1, 75},
        {"224.5.6.7", false, 0, 0},         {"225.0.0.1", false, 0, 0},  {"224.1.2", false, 0, 0},
        {"224.0.1.2.3", false, 0, 0},       {"224.0.x.1", false, 0, 0},  {"224.0.0.256", false, 0, 0},
        {"", false, 0, 0},                  {"224.0..1", false, 0, 0},
    };
    for (auto &c : cases) {
        uint8_t b4 = 0, b5 = 0;
        EXPECT_EQ(multicast_item_usable(c.item, &b4, &b5), c.usable) << c.item;
        if (c.usable) {
            EXPECT_EQ(b4, c.b4) << c.item;
            EXPECT_EQ(b5, c.b5) << c.item;
        }
    }
    EXPECT_EQ(multicast_mac_text(1, 75), "01:00:5e:00:01:4b");
}

TEST(DeviceAddresses, MacTexts)
{
    struct {
        const char *text;
        int rc;
    } cases[] = {
        {"00:11:22:33:44:55", 0}, {"001122334455", 0}, {"00-11-22-33-44-5A", 0},
        {"00:11:22:33:44:5", -1}, {"0011223344556", -1}, {"", -1},
    };
    for (auto &c : cases) {
        char mac[32];
        uint8_t b[6];
        uint16_t w[3];
        snprintf(mac, sizeof mac, "%s", c.text);
        EXPECT_EQ(mac_char_to_bytearray(mac, b), c.rc) << c.text;
        snprintf(mac, sizeof mac, "%s", c.text);
        EXPECT_EQ(mac_char_to_ushort(mac, &w[0], &w[1], &w[2]), c.rc) << c.text;
    }
    EXPECT_EQ(ip_to_short("192.168.1.2", 1), 0xc0a8);
    EXPECT_EQ(ip_to_short("192.168.1.2", 2), 0x0102);
}

TEST(DeviceSteps, SixteenInOrder)
{
    ASSERT_EQ(msp_device_step_count, 16);
    for (int i = 0; i < msp_device_step_count; i++)
        EXPECT_EQ(msp_device_steps[i].step, i + 1);
}

} // namespace
