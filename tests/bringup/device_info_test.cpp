// The device's identity from the kernel command line and the module files,
// and the regular-expression test against grep -Ex.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "application.h"
#include "debug_lines.h"
#include "device_info.h"
#include "run_process.h"

namespace {

TEST(DeviceInfo, CommandLineRows)
{
    std::string long_serial(40, 'S');
    struct {
        std::string line;
        int found;
        std::string serial, revision;
    } cases[] = {
        {"console=ttyS0 carduuid=AB04CDEF revision=0102 quiet", 3, "AB04CDEF", "0102"},
        {"revision=0a1b5 carduuid=XY16Z", 3, "XY16Z", "0a1b"},
        {"carduuid=0123456789ABCDEFGHIJ", 1, "0123456789ABCDE", ""},
        {"carduuid=" + long_serial + " rest", 1, std::string(31, 'S'), ""},
        {"revision=01", 2, "", "01"},
        {"root=/dev/mtd", 0, "", ""},
    };
    for (auto &c : cases) {
        hardware_info hi = {};
        EXPECT_EQ(hwi_parse_cmdline(&hi, c.line.c_str()), c.found) << c.line;
        EXPECT_EQ(hi.hwi_serial_number, c.serial) << c.line;
        EXPECT_EQ(hi.hwi_hardware_revision, c.revision) << c.line;
    }
}

TEST(DeviceInfo, ModelRows)
{
    struct {
        const char *serial, *name;
        int channels;
    } cases[] = {{"AB04CDEF", "davnoleA", 16}, {"xx16", "davnoleB", 64}, {"0064", "davnoleC", 128},
                 {"AB99", "davnoleunknown", 0}, {"ab0", "davnoleunknown", 0}, {"", "davnoleunknown", 0}};
    for (auto &c : cases) {
        EXPECT_STREQ(hwi_model_for_serial(c.serial).device_name, c.name) << c.serial;
        EXPECT_EQ(hwi_model_for_serial(c.serial).msp_channels, c.channels) << c.serial;
    }
}

TEST(DeviceInfo, ModuleRows)
{
    struct {
        const char *internal, *type, *verbose;
        int ports, channels;
    } cases[] = {
        {"dv4S0", "BRI", "DV4S0", 4, 4},          {"dv1E1", "PRI", "DV1E1", 1, 30},
        {"dv2E1", "PRI", "DV2E1", 2, 60},         {"dv4FXO", "FXO", "DV4FXO", 4, 4},
        {"dv4FXS", "FXS", "DV4FXS", 4, 4},        {"dv2S02FXS", "BRI/FXS", "DV2S02FXS", 4, 6},
        {"dv2GSM", "GSM", "DV2GSM", 2, 2},        {"dv2LTE", "LTE", "DV2LTE", 2, 2},
        {"DV2GSM", "none", "none", 0, 0},         {"none", "none", "none", 0, 0},
    };
    for (auto &c : cases) {
        hardware_info hi = {};
        snprintf(hi.hwi_li_internal_name[1], 32, "%s", c.internal);
        hwi_derive_slot(&hi, 1);
        EXPECT_STREQ(hi.hwi_li_type[1], c.type) << c.internal;
        EXPECT_STREQ(hi.hwi_li_verbose_name[1], c.verbose) << c.internal;
        EXPECT_EQ(hi.hwi_li_ports[1], c.ports) << c.internal;
        EXPECT_EQ(hi.hwi_li_channels[1], c.channels) << c.internal;
    }
}

class DeviceInfoFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/devinfo.XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("TARN_ROOT", dir.c_str(), 1);
        if (!gp)
            application_create();
    }
    void TearDown() override
    {
        unsetenv("TARN_ROOT");
        std::filesystem::remove_all(dir);
    }
    void write(const std::string &rel, const std::string &text)
    {
        std::filesystem::create_directories(std::filesystem::path(dir + "/" + rel).parent_path());
        std::ofstream(dir + "/" + rel) << text;
    }
    std::string dir;
};

TEST_F(DeviceInfoFiles, SlotsAndCount)
{
    write("proc/cmdline", "mem=64M carduuid=DV04123456789 revision=0301\n");
    write("sys/class/quilmar/li0/module", "dv2GSM\n");
    write("sys/class/quilmar/li1/module", "unknown\n");
    write("sys/class/quilmar/li2/module", "dv4FXS\n");
    testing::internal::CaptureStdout();
    get_device_info();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "I 0 |dv2GSM|\nI 1 |unknown|\nI 2 |dv4FXS|\n");
    hardware_info *hi = gp->hi;
    ASSERT_NE(hi, nullptr);
    EXPECT_STREQ(hi->hwi_serial_number, "DV04123456789");
    EXPECT_STREQ(hi->hwi_hardware_revision, "0301");
    EXPECT_STREQ(hi->hwi_device_name, "davnoleA");
    EXPECT_EQ(hi->hwi_msp_channels, 16);
    EXPECT_STREQ(hi->hwi_li_verbose_name[0], "DV2GSM");
    EXPECT_STREQ(hi->hwi_li_internal_name[1], "none");
    EXPECT_STREQ(hi->hwi_li_type[1], "none");
    EXPECT_STREQ(hi->hwi_li_verbose_name[1], "none");
    EXPECT_STREQ(hi->hwi_li_type[2], "FXS");
    EXPECT_EQ(hi->hwi_numlif, 1); // slot 2 does not count

    // Again without files: the missing parts are logged and the count starts afresh.
    std::filesystem::remove_all(dir + "/proc");
    std::filesystem::remove_all(dir + "/sys/class/quilmar/li0");
    debug_lines log({TARN});
    testing::internal::CaptureStdout();
    get_device_info();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(log.has("Couldn't get serial number and revision"));
    EXPECT_TRUE(log.has("Couldn't get line interface 0 info"));
    EXPECT_STREQ(hi->hwi_device_name, "davnoleunknown");
    EXPECT_STREQ(hi->hwi_li_verbose_name[0], "none");
    EXPECT_EQ(hi->hwi_numlif, 0);

    write("proc/cmdline", "quiet\n");
    testing::internal::CaptureStdout();
    get_device_info();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(log.has("Couldn't get serial number"));
    EXPECT_TRUE(log.has("Couldn't get hardware revision"));
}

std::string regexp_line(const char *pattern, const char *text)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    regexp_test(f, pattern, text);
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

TEST(RegexpTest, AgreesWithGrep)
{
    struct {
        const char *pattern, *text;
    } cases[] = {
        {"12", "123"},      {"12.*", "123"},        {"1|12", "12"},   {"a+", "aaa"},   {"(ab)*c", "ababc"},
        {"[0-9]{3}", "1234"}, {"[0-9]{3}", "123"}, {"x", "ax"},      {"^4.*", "4711"}, {"(0|49)?30.*", "4930123"},
    };
    for (auto &c : cases) {
        process_result g = run_process({"grep", "-Ex", "--", c.pattern}, std::string(c.text) + "\n");
        int want = g.status == 0 ? 1 : 0;
        char line[256];
        snprintf(line, sizeof line, "REGEXP='%s' STRING='%s' MATCH='%i'\n", c.pattern, c.text, want);
        EXPECT_EQ(regexp_line(c.pattern, c.text), line);
    }
    EXPECT_EQ(regexp_line("12", "123"), "REGEXP='12' STRING='123' MATCH='0'\n");
    EXPECT_EQ(regexp_line("([", "1"), "Couldn't build RegExp from '(['\n");
}

} // namespace
