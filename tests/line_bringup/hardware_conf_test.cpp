// The hardware description: module words, slot keys, port numbering of every
// technology, the CAS channel mappings, the listing and the CAS connection
// check.
#include "bringup_fixture.h"
#include "hardware_conf.h"
#include "line_bringup.h"

namespace {

class HardwareConf : public bringup_test {
protected:
    // Parses the text as hardware.conf; what went to standard output.
    std::string parse(const std::string &text, int *rc = nullptr)
    {
        write("usr/conf/hardware.conf", text);
        testing::internal::CaptureStdout();
        int r = parse_hardware_conf();
        if (rc)
            *rc = r;
        return testing::internal::GetCapturedStdout();
    }
    const line_interface &li(int m) { return gp->hwconf.hwc_li[m]; }
};

TEST_F(HardwareConf, IsdnPortsAcrossModules)
{
    std::string out = parse("[lif0]\ntype=dv2E1\n[lif1]\ntype=dv4S0\nptp=1,0\npermanentl1=0,1\n");
    EXPECT_EQ(li(0).li_type, LI_2E1);
    EXPECT_EQ(li(1).li_type, LI_4S0);
    EXPECT_EQ(li(0).port_numbers[0], 1);
    EXPECT_EQ(li(0).port_numbers[1], 2);
    for (int s = 0; s < 4; s++)
        EXPECT_EQ(li(1).port_numbers[s], 3 + s);
    for (int p = 1; p <= 6; p++) {
        SCOPED_TRACE(p);
        EXPECT_EQ(gp->isdn_ptp_settings[p], p == 4 ? 0 : 1);
        // the ISDN library does not run yet: lengths resolve as primary rate
        EXPECT_EQ(gp->isdn_crlen_settings[p], 2);
        EXPECT_EQ(gp->isdn_cidlen_settings[p], 2);
    }
    EXPECT_EQ(li(0).isdncas_protocol_types[0], HWCONF_ISDN_PROTOCOL_E1);
    EXPECT_EQ(li(1).isdncas_protocol_types[3], HWCONF_ISDN_PROTOCOL_BRI);
    EXPECT_EQ(hw_get_permanent_l1(4), 1);
    EXPECT_EQ(hw_get_permanent_l1(3), 0);
    EXPECT_EQ(hw_get_permanent_l1(9), 0);
    EXPECT_TRUE(has(out, "LINE INTERFACE 0: LI_2E1 (=5) (port count 2 2 0 0 0)\n"
                         "ISDN\t1\tNONE\tPTP\tE1\tPERM_L1:0\tCRLEN:2\tCIDLEN:2\t\n"))
        << out;
    EXPECT_TRUE(has(out, "LINE INTERFACE 1: LI_4S0 (=3) (port count 4 4 0 0 0)\n"
                         "ISDN\t3\tNONE\tPTP\tBRI\tPERM_L1:0\tCRLEN:2\tCIDLEN:2\t\n"
                         "ISDN\t4\tNONE\tPMP\tBRI\tPERM_L1:1\tCRLEN:2\tCIDLEN:2\t\n"))
        << out;
    EXPECT_FALSE(has(out, "LINE INTERFACE 2"));
}

TEST_F(HardwareConf, ExplicitLengthsAndOtherTechnologies)
{
    std::string out = parse("[lif0]\ntype=dv2S02FXS\ncrlen=1,x\ncidlen=2\n"
                            "[lif1]\ntype=dv2GSM\n[lif2]\ntype=dv2LTE\n");
    EXPECT_EQ(gp->isdn_crlen_settings[1], 1);
    EXPECT_EQ(gp->isdn_crlen_settings[2], 2); // "x": by port type
    EXPECT_EQ(gp->isdn_cidlen_settings[1], 2);
    EXPECT_EQ(li(0).port_numbers[2], 1); // analog
    EXPECT_EQ(li(0).port_numbers[3], 2);
    EXPECT_EQ(li(1).port_numbers[1], 2); // GSM
    EXPECT_EQ(li(1).gsm_ports[0], 1);
    EXPECT_EQ(li(1).gsm_ports[1], 2);
    EXPECT_EQ(li(2).gsm_ports[0], 3);
    EXPECT_EQ(li(2).gsm_ports[1], 4);
    EXPECT_EQ(li(0).gsm_ports[0], 0);
    EXPECT_TRUE(hw_has_line_interface(LI_2LTE));
    EXPECT_TRUE(has(out, "ANALOG\t1\tNONE\tNONE\tNONE\tPERM_L1:0\tCRLEN:NA\tCIDLEN:NA\t\n")) << out;
    EXPECT_TRUE(has(out, "GSM\t2\t")) << out;
}

// Every module word: its type and its counts (total, ISDN, analog, GSM).
TEST_F(HardwareConf, ModuleWords)
{
    struct row {
        const char *word;
        int type, total, isdn, analog, gsm;
    } rows[] = {
        {"dv2E1", 5, 2, 2, 0, 0},  {"dv1E1", 4, 1, 1, 0, 0},     {"dv1S0", 3, 1, 1, 0, 0},
        {"dv2S0", 3, 2, 2, 0, 0},  {"dv4S0", 3, 4, 4, 0, 0},     {"dv2S02FXS", 12, 4, 2, 2, 0},
        {"dv2GSM", 14, 2, 0, 0, 2}, {"dv2LTE", 18, 2, 0, 0, 2},  {"dv4FXO", 7, 4, 0, 4, 0},
        {"dv1FXS", 10, 1, 0, 1, 0}, {"dv2FXS", 10, 2, 0, 2, 0},  {"dv4FXS", 10, 4, 0, 4, 0},
        {"dv8FXS", 10, 8, 0, 8, 0}, {"dv1GSM", 0, 0, 0, 0, 0},   {"dv2FXO", 0, 0, 0, 0, 0},
        {"dv4t1e1", 0, 0, 0, 0, 0}, {"DV2E1", 0, 0, 0, 0, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.word);
        parse(std::string("[lif1]\ntype=") + r.word + "\n");
        EXPECT_EQ(li(1).li_type, r.type);
        EXPECT_EQ(li(1).port_count_total, r.total);
        EXPECT_EQ(li(1).port_count_isdn, r.isdn);
        EXPECT_EQ(li(1).port_count_analog, r.analog);
        EXPECT_EQ(li(1).port_count_gsm, r.gsm);
    }
    EXPECT_STREQ(print_line_interface(17), "LI_4E1T1");
    EXPECT_STREQ(print_line_interface(19), "LI_UNDEFINED");
    EXPECT_STREQ(print_line_interface(-1), "LI_UNDEFINED");
}

TEST_F(HardwareConf, SectionsAndKeyOrder)
{
    // termination= counts only after a T1/E1 type line of the same section,
    // ntteSW= anywhere; lines under a foreign header are ignored.
    parse("[lif0]\ntermination=nt\nntteSW=te,nt\ntype=dv2S0\ntermination=nt\n"
          "[lif1]\ntype=dv1t1e1\ntermination=nt\ninterface_type=hdlc\n"
          "[other]\ntype=dv4S0\n[lif2]\n type=dv4S0\nTYPE=dv4S0\n");
    EXPECT_EQ(li(0).isdn_ntte_types[0], HWCONF_NTTE_TYPE_TE);
    EXPECT_EQ(li(0).isdn_ntte_types[1], HWCONF_NTTE_TYPE_NT);
    EXPECT_EQ(li(1).isdn_ntte_types[0], HWCONF_NTTE_TYPE_NT);
    EXPECT_EQ(li(1).port_count_isdn, 1);
    EXPECT_EQ(li(1).port_numbers[0], 3);
    EXPECT_EQ(li(2).li_type, LI_UNKNOWN);
    EXPECT_EQ(li(2).port_count_total, 0);
}

TEST_F(HardwareConf, CasChannelMappings)
{
    std::string out = parse("[lif0]\ntype=dv2t1e1\ninterface_type=cas,cas\nprotocol=t1,e1\n");
    EXPECT_EQ(li(0).port_count_cas, 2);
    EXPECT_EQ(li(0).port_count_isdn, 0);
    EXPECT_EQ(li(0).cas_port_numbers[0], 1);
    EXPECT_EQ(li(0).cas_port_numbers[1], 2);
    EXPECT_STREQ(li(0).cas_sys_connected_path[0], "0:0");
    EXPECT_STREQ(li(0).cas_sys_connected_path[1], "0:1");
    struct {
        int port, iface, dev, chan;
    } cases[] = {{1, 1, 0, 1}, {24, 1, 0, 24}, {25, 2, 1, 1}, {39, 2, 1, 15}, {40, 0, 0, 0},
                 {41, 2, 1, 16}, {55, 2, 1, 30}, {56, 0, 0, 0}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.port);
        EXPECT_EQ(cas_port_mappings[c.port].port, c.iface);
        EXPECT_EQ(cas_port_mappings[c.port].dev_index, c.dev);
        EXPECT_EQ(cas_port_mappings[c.port].chan_index, c.chan);
    }
    EXPECT_TRUE(has(out, "T1MAPPING port 24: cas0/24\n"));
    EXPECT_TRUE(has(out, "E1MAPPING port 25: cas1/1\n"));
    EXPECT_FALSE(has(out, "port 40:"));
    EXPECT_TRUE(has(out, "E1MAPPING port 41: cas1/16\n"));
    EXPECT_TRUE(has(out, "LINE INTERFACE 0: LI_2E1T1 (=16) (port count 2 0 0 0 2)\n"
                         "CAS\t0\tNONE\tNONE\tT1\t"))
        << out;
}

// Six E1 lines would number 186 channel ports; the CAS library holds 149.
TEST_F(HardwareConf, CasPortsStopAt149)
{
    std::string mod = "type=dv2t1e1\ninterface_type=cas,cas\nprotocol=e1,e1\n";
    std::string out = parse("[lif0]\n" + mod + "[lif1]\n" + mod + "[lif2]\n" + mod);
    EXPECT_EQ(li(2).cas_port_numbers[1], 6);
    EXPECT_STREQ(li(2).cas_sys_connected_path[1], "2:1");
    EXPECT_TRUE(has(out, "E1MAPPING port 149: cas4/24\n")) << out;
    EXPECT_FALSE(has(out, "port 150:"));
    int critical = 0;
    for (const std::string &l : log_capture_lines())
        critical += has(l, "CRITICAL: CAS channel ports above 149");
    EXPECT_EQ(critical, 1);
}

TEST_F(HardwareConf, T1E1SlotNeitherIsdnNorCasEndsTheProcess)
{
    write("usr/conf/hardware.conf", "[lif0]\ntype=dv2t1e1\ninterface_type=cas\n");
    EXPECT_EXIT(parse_hardware_conf(), testing::ExitedWithCode(85),
                "TARN EXITCODE 85: hardware.conf not configured correctly!");
}

TEST_F(HardwareConf, MissingFileLeavesNoModules)
{
    parse("[lif0]\ntype=dv4S0\n");
    unlink((root + "/usr/conf/hardware.conf").c_str());
    log_capture_clear();
    EXPECT_EQ(parse_hardware_conf(), -1);
    EXPECT_EQ(li(0).port_count_total, 0);
    EXPECT_TRUE(log_capture_has("CRITICAL: cannot read hardware.conf"));
}

// An over-long line is cut, and its tail is not read as a line of its own.
TEST_F(HardwareConf, LongLineTailIsDropped)
{
    parse("[lif0]\nntteSW=" + std::string(9000, 'x') + "type=dv4S0\n");
    EXPECT_EQ(li(0).li_type, LI_UNKNOWN);
}

TEST_F(HardwareConf, CasConnectionCheck)
{
    parse("[lif1]\ntype=dv2t1e1\ninterface_type=cas,cas\nprotocol=t1,t1\n"
          "[lif2]\ntype=dv1t1e1\ninterface_type=cas\nprotocol=t1\n");
    gp->hwconf.hwc_li[1].cas_port_configured[0] = 1;
    gp->hwconf.hwc_li[1].cas_port_configured[1] = 1;
    gp->hwconf.hwc_li[2].cas_port_configured[0] = 1; // LI_1E1T1: not checked
    write("sys/class/dvxt1e1/1:0/connected", "1\n");
    write("sys/class/dvxt1e1/1:1/connected", "0\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(cas_update_port_status(), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(out, "CAS PORTNU 1\nCAS CONFIGURED 1\nCAS CONNECTED PORT 1 1\n"
                         "CAS PORTNU 2\nCAS CONFIGURED 2\nCAS CONNECTED PORT 2 0\n"))
        << out;
    EXPECT_FALSE(has(out, "CAS PORTNU 3"));
    EXPECT_EQ(cas_port_mappings[24].connected, 1);
    EXPECT_EQ(cas_port_mappings[25].connected, 0);
    EXPECT_TRUE(has(out, "CAS NOW pp 1 p 24 conf 0 conn 1\n"));
    EXPECT_TRUE(has(out, "CAS NOW pp 0 p 149 conf 0 conn 0\n"));

    gp->hwconf.hwc_li[1].cas_port_configured[1] = 0;
    testing::internal::CaptureStdout();
    cas_update_port_status();
    out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(out, "CAS PORTNU 2\nCAS NOT CONFIGURED 2\n")) << out;
}

// CAS bring-up marks the interfaces its groups use; a channel port without
// mapping (an E1 timeslot 16) marks none, not even slots without a number.
TEST_F(HardwareConf, CasGroupsMarkTheirInterfaces)
{
    parse("[lif0]\ntype=dv2t1e1\ninterface_type=cas,cas\nprotocol=e1,e1\n"
          "[lif1]\ntype=dv2t1e1\ninterface_type=hdlc,cas\n");
    load(&gp->config_cas, "CAS", "[r2]\nports=16,33\n");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    init_cas(); // no channel devices here: the library itself fails to open them
    std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(cas_port_mappings[16].configured, 1);
    EXPECT_EQ(cas_port_mappings[33].configured, 1);
    EXPECT_EQ(li(0).cas_port_configured[0], 0);
    EXPECT_EQ(li(0).cas_port_configured[1], 1); // port 33: second line, timeslot 2
    EXPECT_EQ(li(1).cas_port_configured[0], 0);
    EXPECT_EQ(li(1).cas_port_configured[1], 0);
    EXPECT_TRUE(has(out, "CAS PORTNU 2\nCAS CONFIGURED 2\nCAS CONNECTED PORT 2 0\n")) << out;
    EXPECT_TRUE(has(out, "LINE INTERFACE 0: LI_2E1T1")) << out;
}

} // namespace
