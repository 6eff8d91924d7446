// The fatal ends of the command thread, each in a process of its own.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "mspsim_runner.h"
#include "run_process.h"

namespace {

std::string driver()
{
    return std::string(TARN_BINARY_DIR) + "/tests/msplib_link/msp_fatal_driver";
}

// How long the command thread waits for an answer. A simulator that answers
// may answer late on a busy machine, so those cases wait long (an answer ends
// the wait); only the case that tests silence waits the short time.
std::vector<std::string> sim_env(const mspsim_runner &sim, int wait_ms = 15000)
{
    return {"TARN_MSP_SIM=" + sim.socket, "TARN_MSP_SIM_WAIT_MS=" + std::to_string(wait_ms)};
}

struct scenario {
    const char *name;
    std::vector<std::string> sim_args;
    int code;
    const char *text;
    int wait_ms = 15000;
};

TEST(MspFatal, EachEndHasOneCode)
{
    const scenario rows[] = {
        // A refused creation: call control's handler ends the process with
        // the code of the refusal; without it the command thread does.
        {"create_refused_handled",
         {"--rule", R"({"fc": "FC_SUPVSR_CREATE_CHANNEL", "answer": "error", "result": 65518})"}, 113,
         "TARN EXITCODE 113: handle_msp_event: no more msp channels left"},
        {"create_refused",
         {"--rule", R"({"fc": "FC_SUPVSR_CREATE_CHANNEL", "answer": "error", "result": 65518})"}, 111,
         "TARN EXITCODE 111:  msp_command_loop: Error creating channel on timeslot 5"},
        {"no_answer", {"--rule", R"({"fc": "FC_SUPVSR_CREATE_CHANNEL", "answer": "none"})"}, 110,
         "TARN EXITCODE 110: msp_command_loop: MSP device did not answer -> check your settings -> exiting...", 1000},
        {"bad_timeslot", {"--timeslots", "1024"}, 105, "TARN EXITCODE 105: invalid  MSP timeslot 600:0"},
    };
    for (const scenario &s : rows) {
        SCOPED_TRACE(s.name);
        mspsim_runner sim(s.sim_args);
        ASSERT_TRUE(sim.ok());
        process_result r = run_process({driver(), s.name}, "", sim_env(sim, s.wait_ms), 40);
        EXPECT_EQ(r.status, s.code) << r.err;
        EXPECT_NE(r.err.find(s.text), std::string::npos) << r.err;
        // One outcome only.
        EXPECT_EQ(r.err.find("TARN EXITCODE"), r.err.rfind("TARN EXITCODE")) << r.err;
    }
}

TEST(MspFatal, ADeviceThatIsGoneEndsTheNextSend)
{
    mspsim_runner sim;
    ASSERT_TRUE(sim.ok());
    process_result r;
    std::thread t([&] {
        r = run_process({driver(), "send_fails"}, "", sim_env(sim), 20);
    });
    // Once the first command has been answered, the device goes.
    sim.wait_frames("out", 1);
    sim.request(R"({"cmd": "stop"})");
    t.join();
    EXPECT_EQ(r.status, 109) << r.err;
    EXPECT_NE(r.err.find("msp_command_loop: Sending csm command to channel 65535 / timeslot 65535 failed => exiting tarn"),
              std::string::npos)
        << r.err;
}

} // namespace
