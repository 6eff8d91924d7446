// The GSM driver's sysfs files: port count, line-interface numbering, modem
// power, LEDs and the line-interface reset.
#include "gsm_fixture.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class GsmSysfs : public ::testing::Test {
protected:
    std::string root;
    void SetUp() override
    {
        root = gsm_test_root();
        gsm_test_clock(5);
        for (const char *d : {"/sys", "/sys/class", "/sys/class/kvxgsm", "/sys/class/quilmar"})
            mkdir((root + d).c_str(), 0770);
    }
    void TearDown() override { remove_tree(root); }
    std::string gsm(const std::string &rel) { return root + "/sys/class/kvxgsm/" + rel; }
    void module(int li, const char *text)
    {
        std::string d = root + "/sys/class/quilmar/li" + std::to_string(li);
        mkdir(d.c_str(), 0770);
        write_file(d + "/module", text);
    }
    void port_files(int count)
    {
        write_file(gsm("count"), std::to_string(count) + "\n");
        for (int i = 0; i < count; i++) {
            mkdir(gsm(std::to_string(i)).c_str(), 0770);
            write_file(gsm(std::to_string(i) + "/enabled"), "0\n");
            write_file(gsm(std::to_string(i) + "/led_state"), "0\n");
        }
    }
};

TEST_F(GsmSysfs, CountFileDecidesWhetherThereAreAnyPorts)
{
    gsm_config_t cfg[GSM_PORT_TABLE] = {};
    gsm_global_config global = {1, nullptr};
    struct {
        const char *content; // null: no file
        int count;
    } cases[] = {{nullptr, 0}, {"", 0}, {"0\n", 0}, {"2\n", 2}, {"9\n", 6}};
    for (auto &c : cases) {
        unlink(gsm("count").c_str());
        if (c.content)
            write_file(gsm("count"), c.content);
        EXPECT_EQ(gsm_port_get_count(), c.count) << (c.content ? c.content : "(none)");
        if (c.count == 0) {
            errno = 0;
            EXPECT_EQ(gsm_init(gsm_test_callback, cfg, &global), 0);
            EXPECT_EQ(errno, ENODEV);
            EXPECT_EQ(gsm_port_is_ready(1), 0);
            EXPECT_EQ(libgsm_port_fetch(1), 0);
        }
    }
    EXPECT_EQ(gsm_init(nullptr, cfg, &global), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(gsm_cfg_init(nullptr), 0);
}

TEST_F(GsmSysfs, PortsAreNumberedOverTheGsmModules)
{
    module(0, "DV2GSM\n");
    module(1, "DV4FXS analog\n");
    module(2, "DV2LTE\n");
    gsm_liftype_init();
    struct {
        int port, lif, lte;
    } rows[] = {{1, 0, 0}, {2, 0, 0}, {3, 2, 1}, {4, 2, 1}, {5, -1, 0}, {0, -1, 0}};
    for (auto &r : rows) {
        EXPECT_EQ(gsm_port_get_lif(r.port), r.lif) << r.port;
        EXPECT_EQ(gsm_port_is_lte(r.port), r.lte) << r.port;
    }
    EXPECT_EQ(gsm_lif_get_type(1), 0);
    EXPECT_EQ(gsm_lif_get_type(2), 2);
}

TEST_F(GsmSysfs, PowerLedAndLineInterfaceReset)
{
    port_files(2);
    write_file(gsm("li0_power"), "1\n");
    gsm_config_t cfg[GSM_PORT_TABLE] = {};
    gsm_global_config global = {1, nullptr};
    ASSERT_EQ(gsm_init(gsm_test_callback, cfg, &global), 1);
    libgsm_ctlport[1].port = 1;
    libgsm_ctlport[2].port = 2;

    EXPECT_EQ(libgsm_modem_enable(1), 1);
    EXPECT_EQ(read_file(gsm("0/enabled")), "1");
    EXPECT_EQ(libgsm_modem_enable(1), 1); // already on
    EXPECT_EQ(libgsm_modem_disable(1), 1);
    EXPECT_EQ(read_file(gsm("0/enabled")), "0");
    unlink(gsm("1/enabled").c_str());
    EXPECT_EQ(libgsm_modem_enable(2), 0);
    EXPECT_EQ(errno, ENOENT);

    EXPECT_EQ(libgsm_ctrl_led(1, 1, GSM_LED_BLINK), 1);
    EXPECT_EQ(read_file(gsm("0/led_state")), "1");
    EXPECT_EQ(libgsm_ctrl_led(4, 1, GSM_LED_ON), 0);
    EXPECT_EQ(errno, ENODEV);
    unlink(gsm("1/led_state").c_str());
    EXPECT_EQ(libgsm_ctrl_led(2, 1, GSM_LED_ON), 0);
    EXPECT_EQ(errno, EACCES);

    write_file(gsm("1/enabled"), "1\n");
    libgsm_ctlport[1].successfully_initialized = 1;
    EXPECT_EQ(gsm_reset_line_interface(0, 1, 2), 1);
    EXPECT_EQ(read_file(gsm("1/enabled")), "0");
    EXPECT_EQ(read_file(gsm("li0_power")), "1");
    EXPECT_EQ(libgsm_ctlport[1].successfully_initialized.load(), 0);
    EXPECT_EQ(gsm_reset_line_interface(3, 1, 2), 0);
    EXPECT_EQ(gsm_reset_line_interface(1, 0, 0), 0); // no li1_power file

    // Port claim for calls.
    libgsm_ctlport[1].port_state = GSM_PORT_STATE_IDLE;
    EXPECT_EQ(libgsm_port_fetch(1), 1);
    EXPECT_EQ(gsm_port_get_inuse(1), 1);
    EXPECT_EQ(libgsm_port_fetch(1), 0);
    EXPECT_EQ(libgsm_port_release(1), 1);
    EXPECT_STREQ(libsm_get_port_state_string(1), "IDLE");
    // A release never undoes a pending stop.
    libgsm_ctlport[1].port_state = GSM_PORT_STATE_KILLME;
    EXPECT_EQ(libgsm_port_release(1), 1);
    EXPECT_STREQ(libsm_get_port_state_string(1), "KILLME");
    EXPECT_STREQ(libsm_get_port_state_string(6), "UNKNOWN");
    EXPECT_STREQ(libsm_get_modem_name(6), "UNDEFINED");
    char cid[32];
    gsm_format_cid_string(3, cid, sizeof cid);
    EXPECT_STREQ(cid, "CID:000000:g3");
    libgsm_ctlport[1].port = libgsm_ctlport[2].port = 0;
}

} // namespace
