// Analog bring-up: the port facts kept from the driver, the port-up voltage
// of configured FXO ports and the tone codes of the ports.
#include <string>
#include <vector>

#include "bringup_fixture.h"
#include "line_bringup.h"

namespace {

std::vector<std::pair<std::string, int>> programmed;
int record_programmed(char *lang, int index)
{
    programmed.emplace_back(lang, index);
    return 0;
}

class AnalogBringup : public bringup_test {
protected:
    void SetUp() override
    {
        bringup_test::SetUp();
        programmed.clear();
        set_host_programmable_language_code_hook = record_programmed;
    }
    // The driver's ports, one type word each, from index 0.
    void driver(const std::vector<std::string> &types)
    {
        for (size_t i = 0; i < types.size(); i++) {
            std::string d = root + "/sys/class/kvxanalog/" + std::to_string(i) + "/";
            write_text_file(d + "type", types[i] + "\n");
            for (const char *f : {"linevoltage", "polarity", "vbat", "rtlc"})
                write_text_file(d + f, "0\n");
            write_text_file(d + "state", "IDLE\n");
        }
    }
    // Loads tarn.analog and runs the bring-up (no device: the library itself
    // cannot open the ports here); what went to standard error.
    std::string bring_up(const std::string &text)
    {
        load(&gp->config_analog, "ANALOG", text);
        testing::internal::CaptureStderr();
        init_analog();
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(AnalogBringup, PortFactsAndToneCodes)
{
    driver({"FXS", "FXO", "FXO", "FXS"});
    std::string err = bring_up("[g1]\nports=1\ntones=de\n[g2]\nports=2,0\ntones=at\nfxo_portup_voltage=7\n"
                               "[g3]\nports=4\ntones=[ch]\n");
    EXPECT_NE(err.find("ignoring analog bogus port 0\n"), std::string::npos) << err;
    const analog_port_info *ai = gp->analog_info;
    ASSERT_TRUE(ai);
    EXPECT_EQ(ai->size, 32);
    std::vector<int> types(ai->type + 1, ai->type + 6);
    EXPECT_EQ(types, (std::vector<int>{1, 2, 2, 1, 0}));
    EXPECT_EQ(ai->fxo_portup_voltage[2], 7);
    EXPECT_EQ(ai->fxo_portup_voltage[3], 0); // FXO, but not configured
    EXPECT_STREQ(gp->analog_lang_mapping[13], "de");
    EXPECT_STREQ(gp->analog_lang_mapping[0], "ch");
    EXPECT_EQ(programmed, (std::vector<std::pair<std::string, int>>{{"at", 0}, {"ch", 0}}));
}

TEST_F(AnalogBringup, BracketedCodeTakesItsFixedSlot)
{
    driver({"FXS"});
    bring_up("[g]\nports=1\ntones=[us]\n");
    EXPECT_STREQ(gp->analog_lang_mapping[12], "us");
    EXPECT_STREQ(gp->analog_lang_mapping[0], "");
    EXPECT_TRUE(programmed.empty());
    for (auto [code, slot] : std::vector<std::pair<const char *, int>>{
             {"de", 13}, {"us", 12}, {"kr", 11}, {"jp", 10}, {"tw", 9}, {"cn", 8}, {"at", 0}, {"DE", 0}})
        EXPECT_EQ(analog_lang_slot(code), slot) << code;
}

} // namespace
