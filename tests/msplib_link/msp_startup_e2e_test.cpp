// The daemon's start-up against the simulated media processor: the link is
// opened, the processor's type and firmware are asked one at a time, and the
// ends the start-up takes when the device is unknown, silent or absent.
#include <gtest/gtest.h>

#include <net/if.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "conf_root.h"
#include "e2e.h"
#include "mspsim_runner.h"
#include "run_process.h"

namespace {

struct run_result {
    process_result proc;
    std::vector<json_value> frames;
};

e2e_options with_sim(const std::vector<std::string> &sim_args)
{
    e2e_options o;
    o.msp_args = sim_args;
    return o;
}

// tarn in the whole-daemon world, expected to end during start-up.
run_result run_tarn(const std::vector<std::string> &sim_args, const std::string &conf =
                    "[general]\ninterface_msp = eth1\n", const std::string &extra_env = "")
{
    run_result r;
    e2e_world w(with_sim(sim_args));
    if (!w.ok()) {
        ADD_FAILURE() << w.error();
        return r;
    }
    w.root.write("usr/conf/tarn.conf", conf);
    std::vector<std::string> env;
    if (!extra_env.empty())
        env.push_back(extra_env);
    r.proc.status = w.run_tarn_to_exit({"-o", "-l", "999"}, env);
    r.proc.out = w.tarn_out();
    r.proc.err = w.tarn_err();
    r.frames = w.root.msp()->frames();
    return r;
}

// The interface index of eth1 inside the world.
int eth1_index(const e2e_world &w)
{
    process_result r = w.ns.run({"ip", "-o", "link", "show", "eth1"});
    return atoi(r.out.c_str());
}

std::string tshark_fields(const std::string &pcap)
{
    std::string cmd = "tshark -r " + pcap +
                      " -T fields -e csm_encaps.channel -e csm_encaps.function_code"
                      " -e csm_encaps.type -e csm_encaps.class -e csm_encaps.index 2>/dev/null";
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    return out;
}

TEST(MspStartup, QueriesTheDeviceOneAtATimeInOrder)
{
    e2e_world w(with_sim({"--device-mac", "02:ab:cd:00:00:7f", "--processor-id", "1"}));
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.conf", "[general]\ninterface_msp = eth1\nmsp_device_mac = 02:AB:cd:00:00:7F\n");
    mspsim_runner &sim = *w.root.msp();
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "999"})) << w.tarn_err();
    w.stop_tarn();
    EXPECT_NE(w.tarn_out().find("FIRMWARE VERSION: mspsim-1.0"), std::string::npos);

    // The two queries come first; the device bring-up follows them.
    std::vector<json_value> f = sim.frames();
    ASSERT_GE(f.size(), 4u) << w.tarn_err();
    struct want {
        const char *dir, *name;
        int type;
    } order[] = {{"in", "FC_SUPVSR_GET_DEVICE_TYPE", 1},
                 {"out", "FC_SUPVSR_GET_DEVICE_TYPE", 4},
                 {"in", "FC_SUPVSR_GET_ARM_CODE_VERSION", 1},
                 {"out", "FC_SUPVSR_GET_ARM_CODE_VERSION", 4}};
    int eth1 = eth1_index(w);
    EXPECT_GT(eth1, 0);
    for (size_t i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f[i]["dir"].str(), order[i].dir);
        EXPECT_EQ(f[i]["name"].str(), order[i].name);
        EXPECT_EQ(f[i]["type"].num(), order[i].type);
        EXPECT_EQ(f[i]["class"].num(), 6);
        EXPECT_EQ(f[i]["channel"].num(), 0xFFFF);
        EXPECT_TRUE(f[i]["problems"].a.empty());
    }
    // Queries are eight bytes with the running counter as index, sent on
    // the configured interface to the configured MAC.
    EXPECT_EQ(f[0]["len"].num(), 8);
    EXPECT_EQ(f[2]["index"].num(), f[0]["index"].num() + 1);
    EXPECT_EQ(f[0]["addr"]["ifindex"].num(), eth1);
    EXPECT_EQ(f[0]["addr"]["devmac"].str(), "02:ab:cd:00:00:7f");
    EXPECT_EQ(f[1]["fields"]["processor_id"].num(), 1);

    // An outside decoder reads the same frames.
    std::string t = tshark_fields(sim.pcap);
    size_t end = 0;
    for (int line = 0; line < 4 && end != std::string::npos; line++)
        end = t.find('\n', end ? end + 1 : 0);
    t = end == std::string::npos ? t : t.substr(0, end + 1);
    std::ostringstream want_text;
    for (size_t i = 0; i < 4; i++)
        want_text << "0xffff\t" << (i < 2 ? "0x0031" : "0x0021") << "\t" << order[i].type << "\t6\t"
                  << f[i]["index"].num() << "\n";
    EXPECT_EQ(t, want_text.str());
}

TEST(MspStartup, ProcessorIdsTheStartUpCannotUse)
{
    for (const char *id : {"7", "12", "0"}) {
        run_result r = run_tarn({"--processor-id", id});
        EXPECT_EQ(r.proc.status, 92) << id;
        EXPECT_NE(r.proc.err.find("TARN EXITCODE 92: Couldn't identify mindspeed processor type!"),
                  std::string::npos)
            << r.proc.err;
        EXPECT_EQ(r.frames.size(), 2u) << "no query after the type: " << id;
    }
}

TEST(MspStartup, ADeadLinkEndsTheStartUp)
{
    struct row {
        const char *rule;
        int code;
        const char *text;
    } rows[] = {
        {R"({"fc": "FC_SUPVSR_GET_ARM_CODE_VERSION", "answer": "none"})", 110,
         "TARN EXITCODE 110: msp_command_loop: MSP device did not answer -> check your settings -> exiting..."},
        {R"({"fc": "FC_SUPVSR_GET_DEVICE_TYPE", "answer": "stop"})", 110,
         "TARN EXITCODE 110: msp_command_loop: MSP device did not answer"},
    };
    for (const row &r : rows) {
        run_result res = run_tarn({"--rule", r.rule}, "[general]\ninterface_msp = eth1\n",
                                  "TARN_MSP_SIM_WAIT_MS=500");
        EXPECT_EQ(res.proc.status, r.code) << r.rule << res.proc.err;
        EXPECT_NE(res.proc.err.find(r.text), std::string::npos) << res.proc.err;
    }

    // No device at all: the interface cannot be set up.
    e2e_options none;
    none.media_processor = false;
    e2e_world w(none);
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.conf", "[general]\ninterface_msp = eth1\n");
    EXPECT_EQ(w.run_tarn_to_exit({}, {"TARN_MSP_SIM=" + w.root.path("tmp/nobody.sock")}), 95);
    EXPECT_NE(w.tarn_err().find("TARN EXITCODE 95: Error setting up mindspeed interface eth1!"), std::string::npos)
        << w.tarn_err();
}

TEST(MspStartup, AnUnreadableDeviceMacStopsBeforeTheLink)
{
    run_result r = run_tarn({}, "[general]\ninterface_msp = eth1\nmsp_device_mac = 00:11:22\n");
    EXPECT_EQ(r.proc.status, 99);
    EXPECT_NE(r.proc.err.find("TARN EXITCODE 99: Couldn't get network config!"), std::string::npos);
    EXPECT_NE(r.proc.out.find("CRITICAL: Parsing MAC failed"), std::string::npos);
    EXPECT_TRUE(r.frames.empty());
}

} // namespace
