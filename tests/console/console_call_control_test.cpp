// Console commands for call control and test aids: ending calls, the
// shutdown question, the audio loop of one call, the forced T.38 event, the
// test variables, and the abnormal and numbered ends of the process.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <utility>
#include <vector>

#include "call_info.h"
#include "console_hooks.h"
#include "console_test_util.h"
#include "mc_call_control.h"
#include "mc_options.h"
#include "sm_defs.h"
#include "timer.h"

namespace {

std::vector<std::pair<call_object *, int>> tasks;

int record_task(call_object *co, int event)
{
    tasks.push_back({co, event});
    return 0;
}

class ConsoleCallControl : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        console_test_application(3);
        mc_init_options();
    }
    void SetUp() override
    {
        console_hooks h{};
        h.add_sm_task = record_task;
        mc_set_hooks(&h);
        tasks.clear();
        for (int i = 0; i < 3; i++) {
            gp->operations[i]->callinfo = CI_FREE;
            gp->operations[i]->tdm_logical_timeslot = -1;
        }
    }
    void TearDown() override { mc_reset_hooks(); }
};

TEST_F(ConsoleCallControl, TestVariables)
{
    std::string want;
    for (int i = 0; i < 10; i++)
        want += "var[" + std::to_string(i) + "] = " + (i == 3 ? "7" : "0") + "\n";
    EXPECT_EQ(dispatcher_answer("tti37"), want + "\r\n");
    EXPECT_EQ(mc_test_variables[3], 7);
    EXPECT_EQ(dispatcher_answer("tti"), want + "\r\n");
    dispatcher_answer("ttix5");
    EXPECT_EQ(mc_test_variables[0], 5);
    dispatcher_answer("tti30");
    dispatcher_answer("tti00");
}

TEST_F(ConsoleCallControl, EndingCalls)
{
    EXPECT_EQ(dispatcher_answer("finall"), "\r\n");
    EXPECT_EQ(dispatcher_answer("fin1"), "Call at index 1 is not active\n\r\n");
    gp->operations[1]->callinfo = CI_SIP_TO_ISDN;
    gp->operations[2]->callinfo = CI_GSM_TO_SIP;
    EXPECT_EQ(dispatcher_answer("finall"),
              "Terminating call at index 1 (from 7)\nTerminating call at index 2 (from 7)\n\r\n");
    EXPECT_EQ(dispatcher_answer("dmw"), "no dmalloc support\n\r\n");
}

TEST_F(ConsoleCallControl, ShutdownAsksFirst)
{
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    int state = 0;
    EXPECT_EQ(mc_handle_input("x", f, &state), 2);
    EXPECT_EQ(mc_handle_input("n", f, &state), 0);
    fclose(f);
    EXPECT_EQ(std::string(buf, size), "Are you sure you want to shutdown tarn? [y/n]\n\r\nCancelling request!\n\r\n");
    free(buf);
}

TEST_F(ConsoleCallControl, LoopTouchesOnlyItsCall)
{
    // Two calls with the same configuration: the loop is the first one's.
    for (int i : {1, 2}) {
        gp->operations[i]->callinfo = CI_ISDN_TO_SIP;
        gp->operations[i]->tdm_logical_timeslot = 10 + i;
        gp->operations[i]->cc = gp->default_call_configuration;
    }
    EXPECT_EQ(dispatcher_answer("loop0"), "Do not have active call on index 0\n\r\n");
    EXPECT_EQ(dispatcher_answer("loop1"), "Looping call on index 1\n\r\n");
    EXPECT_EQ(gp->operations[1]->cc.rtp_loopback, 1);
    EXPECT_EQ(gp->operations[2]->cc.rtp_loopback, 0);
    EXPECT_EQ(gp->default_call_configuration.rtp_loopback, 0);
    gp->operations[2]->tdm_logical_timeslot = -1;
    EXPECT_EQ(dispatcher_answer("loop2"), "Do not have active call on index 2\n\r\n");
    EXPECT_EQ(dispatcher_answer("t38r2"), "\r\n");
    EXPECT_EQ(dispatcher_answer("t38r0"), "\r\n");
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].first, gp->operations[1]);
    EXPECT_EQ(tasks[0].second, sm_general(GENERAL_EVENT_RTP_LOOPBACK));
    EXPECT_EQ(tasks[1].first, gp->operations[2]);
    EXPECT_EQ(tasks[1].second, sm_timer(T_EVENT_FORCE_T38));
}

TEST_F(ConsoleCallControl, KillAndDmallocExit)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(dispatcher_answer("kill"), ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(dispatcher_answer("dx"), ::testing::ExitedWithCode(81), "dmalloc exit");
}

} // namespace
