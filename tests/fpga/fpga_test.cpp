// FPGA probe and LTE HD switch against a fake sysfs tree, with a register
// model in place of the driver's register file.
#include "fpga.h"
#include "linesim_client.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// The register file as the driver implements it: "0x<r>\n" selects,
// "0x<r> 0x<v>\n" writes, a read shows the selected register.
struct reg_model {
    std::map<unsigned, unsigned> regs;
    unsigned selected = 0;
    std::vector<std::string> written; // every text written, in order
    bool present = true;
} model;

int model_write(const char *text)
{
    if (!model.present)
        return -1;
    model.written.push_back(text);
    unsigned r, v;
    char tail;
    if (sscanf(text, "0x%x 0x%x%c", &r, &v, &tail) == 3)
        model.regs[r] = v;
    else if (sscanf(text, "0x%x%c", &r, &tail) == 2)
        model.selected = r;
    return 0;
}

int model_read(char *buf, size_t size)
{
    if (!model.present)
        return -1;
    auto it = model.regs.find(model.selected);
    return snprintf(buf, size, "0x%x=0x%x", model.selected, it == model.regs.end() ? 0 : it->second);
}

const tarn_fpga_reg_io model_io = {model_write, model_read};

const std::vector<std::string> G722 = {"0xe2 0x2\n", "0xe1 0x9\n", "0xa1 0xea04\n"};
const std::vector<std::string> NARROW = {"0xe2 0x0\n", "0xe1 0x0\n", "0xa1 0xe204\n"};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> v;
    for (const auto &p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

int count_lines(const std::string &text)
{
    int n = 0;
    for (const auto &l : log_capture_lines())
        n += l.find(text) != std::string::npos;
    return n;
}

class Fpga : public testing::Test {
protected:
    void SetUp() override
    {
        root = make_test_root("fpga");
        ASSERT_FALSE(root.empty());
        log_capture_start();
        reset();
    }
    // Forgets the caches, the register model and the log.
    void reset()
    {
        log_capture_clear();
        model = reg_model{};
        tarn_fpga_set_reg_io(&model_io);
        tarn_fpga_version = -1;
        tarn_fpga_g722 = -1;
        memset(tarn_lte_hd_mode, 0, sizeof tarn_lte_hd_mode);
    }
    void TearDown() override
    {
        tarn_fpga_set_reg_io(nullptr);
        remove_tree(root);
    }
    void version(const char *text)
    {
        write_text_file(root + "/sys/class/quilmar/fpga/version", text);
    }
    std::string root;
};

} // namespace

TEST_F(Fpga, CorePresenceByVersionAndIdentification)
{
    struct {
        const char *version;
        long id;
        int present;
        bool reads_id;
        const char *line;
    } cases[] = {
        {"14\n", 0x67220001, 0, false, "LTE-HD: FPGA v14, G.722 core not present"},
        {"15\n", 0x67220001, 1, true, "LTE-HD: FPGA v15, G.722 core present"},
        {"16", 0x67220002, 0, true,
         "LTE-HD: FPGA v16 without G.722 core (0xE0 reads 0x67220002) - LTE stays narrowband"},
        {"15\n", 0, 0, true, "LTE-HD: FPGA v15 without G.722 core (0xE0 reads 0x0)"},
    };
    for (const auto &c : cases) {
        reset();
        version(c.version);
        model.regs[FPGA_REG_G722_ID] = (unsigned)c.id;
        EXPECT_EQ(tarn_fpga_has_g722(), c.present) << c.version;
        EXPECT_EQ(!model.written.empty(), c.reads_id) << c.version;
        if (c.reads_id) {
            EXPECT_EQ(model.written, std::vector<std::string>{"0xe0\n"});
        }
        EXPECT_TRUE(log_capture_has(c.line)) << c.line;
        // decided once: a second question reads nothing
        model.written.clear();
        EXPECT_EQ(tarn_fpga_has_g722(), c.present);
        EXPECT_TRUE(model.written.empty());
    }
}

TEST_F(Fpga, VersionIsRetriedUntilItCanBeRead)
{
    EXPECT_EQ(tarn_fpga_get_version(), -1);
    EXPECT_EQ(tarn_fpga_has_g722(), 0);
    version("no number\n");
    EXPECT_EQ(tarn_fpga_get_version(), -1);
    EXPECT_EQ(tarn_fpga_g722, -1); // not decided yet
    version("15\n");
    model.regs[FPGA_REG_G722_ID] = FPGA_G722_ID_VALUE;
    EXPECT_EQ(tarn_fpga_get_version(), 15);
    EXPECT_TRUE(log_capture_has("LTE-HD: FPGA version = 15"));
    EXPECT_EQ(tarn_fpga_has_g722(), 1);
    version("99\n"); // never read again
    EXPECT_EQ(tarn_fpga_get_version(), 15);
}

TEST_F(Fpga, LteHdSwitchWritesTheRegisterSequence)
{
    version("15\n");
    model.regs[FPGA_REG_G722_ID] = FPGA_G722_ID_VALUE;
    tarn_lte_hd_apply("CID:000007:g3", 3, 1);
    tarn_lte_hd_apply("CID:000008:g3", 3, 1);
    tarn_lte_hd_apply("CID:000008:g3", 3, 0);
    tarn_lte_hd_apply("CID:000009:g3", 3, 0);
    EXPECT_EQ(model.written, concat({{"0xe0\n"}, G722, G722, NARROW, NARROW}));
    EXPECT_EQ(model.regs[0xE2], 0u);
    EXPECT_EQ(model.regs[0xE1], 0u);
    EXPECT_EQ(model.regs[0xA1], 0xE204u);
    EXPECT_EQ(count_lines("LTE-HD: armed G.722 (FPGA g722 core) on gsm port 3 (lif"), 1);
    EXPECT_EQ(count_lines("LTE-HD: reverted to A-law narrowband (FPGA g722 off) on gsm port 3"), 1);
    EXPECT_EQ(count_lines("LTE-HD entry: port=3 want_g722=1 fpga_ver=15"), 2);
    EXPECT_EQ(tarn_lte_hd_mode[3], 0);

    // other ports keep their own mode; ports outside 1..6 are ignored
    model.written.clear();
    tarn_lte_hd_apply(nullptr, 6, 7);
    EXPECT_EQ(model.written, G722);
    EXPECT_EQ(tarn_lte_hd_mode[6], 1);
    model.written.clear();
    log_capture_clear();
    for (int port : {0, 7, -1, 1000}) {
        tarn_lte_hd_apply(nullptr, port, 1);
        tarn_lte_hd_apply(nullptr, port, 0);
    }
    EXPECT_TRUE(model.written.empty());
    EXPECT_TRUE(log_capture_lines().empty());
}

TEST_F(Fpga, WithoutTheCoreNothingIsWritten)
{
    version("14\n");
    tarn_lte_hd_apply("CID:000011:g2", 2, 1);
    tarn_lte_hd_apply("CID:000011:g2", 2, 0);
    EXPECT_TRUE(model.written.empty());
    EXPECT_EQ(count_lines("CID:000011:g2 LTE-HD: G.722 negotiated on gsm port 2, but the FPGA has "
                          "no G.722 core"),
              1);
}

TEST_F(Fpga, RegisterFileFailures)
{
    // the sysfs file itself: missing, then a plain file that cannot answer
    tarn_fpga_set_reg_io(nullptr);
    version("15\n");
    EXPECT_EQ(tarn_fpga_reg_read(0xE0), -1);
    EXPECT_TRUE(log_capture_has("LTE-HD: cannot open /sys/class/quilmar/fpga/reg to select 0xe0"));
    EXPECT_EQ(tarn_fpga_reg_write(0xA1, 0xEA04), -1);
    EXPECT_TRUE(log_capture_has("LTE-HD: cannot open /sys/class/quilmar/fpga/reg for 0xa1=0xea04"));
    EXPECT_EQ(tarn_fpga_has_g722(), 0);

    std::string reg = root + "/sys/class/quilmar/fpga/reg";
    write_text_file(reg, "");
    EXPECT_EQ(tarn_fpga_reg_write(0xE1, 9), 0);
    FILE *f = fopen(reg.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char text[32] = "";
    EXPECT_NE(fgets(text, sizeof text, f), nullptr);
    fclose(f);
    EXPECT_STREQ(text, "0xe1 0x9\n");
    EXPECT_EQ(tarn_fpga_reg_read(0xE0), -1); // reads back "0xe0\n": no value

    // a write that fails is logged and the next one is still tried
    tarn_fpga_set_reg_io(&model_io);
    tarn_fpga_g722 = 1;
    int calls = 0;
    static int *counter;
    counter = &calls;
    static const tarn_fpga_reg_io flaky = {
        [](const char *text) {
            return ++*counter == 1 ? -1 : model_write(text);
        },
        model_read};
    tarn_fpga_set_reg_io(&flaky);
    tarn_lte_hd_apply(nullptr, 1, 1);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(model.written, (std::vector<std::string>{"0xe1 0x9\n", "0xa1 0xea04\n"}));
    EXPECT_TRUE(log_capture_has("LTE-HD: cannot open /sys/class/quilmar/fpga/reg for 0xe2=0x2"));
}
