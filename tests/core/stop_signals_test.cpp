// SIGTERM and SIGINT in a process of their own (a forked child): the first
// runs the stop once start-up has finished, a second ends the process at
// once, a stop that hangs is ended after its time limit, and a signal
// ignored at start stays ignored.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include "stop_signals.h"

namespace {

int report_fd = -1; // the child tells the parent what happened

void say(const char *what)
{
    if (write(report_fd, what, strlen(what)) < 0) {
    }
}

void stop_returns()
{
    say("stop ");
}

void stop_hangs()
{
    say("stop ");
    for (;;)
        pause();
}

struct child {
    pid_t pid = -1;
    int from = -1;
    std::string heard;

    // Runs the stop signals in a child with begin_stop; running says
    // whether start-up has finished. Returns once the child is waiting.
    child(void (*begin_stop)(), bool running, bool ignore_int = false)
    {
        int p[2];
        if (pipe(p) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            close(p[0]);
            report_fd = p[1];
            if (ignore_int)
                signal(SIGINT, SIG_IGN);
            if (stop_signals_install() != 0 || stop_signals_start(begin_stop) != 0)
                _exit(3);
            if (running)
                stop_signals_running();
            say("ready ");
            for (;;)
                pause();
        }
        close(p[1]);
        from = p[0];
        wait_for("ready ");
    }
    ~child()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (from >= 0)
            close(from);
    }
    bool wait_for(const std::string &what, int ms = 5000)
    {
        for (int i = 0; i < ms / 10 && heard.find(what) == std::string::npos; i++) {
            char buf[64];
            fd_set rf;
            FD_ZERO(&rf);
            FD_SET(from, &rf);
            struct timeval tv = {0, 10000};
            if (select(from + 1, &rf, nullptr, nullptr, &tv) > 0) {
                ssize_t n = read(from, buf, sizeof buf);
                if (n > 0)
                    heard.append(buf, n);
            }
        }
        return heard.find(what) != std::string::npos;
    }
    // The child's end within ms: its status (128 + signal), else -1.
    int status(int ms)
    {
        int st = 0;
        for (int i = 0; i < ms / 10; i++) {
            if (waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
};

TEST(StopSignals, FirstSignalStopsOnceASecondEndsAtOnce)
{
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        child c(stop_hangs, true);
        ASSERT_GT(c.pid, 0);
        kill(c.pid, sig);
        ASSERT_TRUE(c.wait_for("stop "));
        EXPECT_EQ(c.status(300), -1) << "the first signal does not end the process";
        kill(c.pid, sig);
        EXPECT_EQ(c.status(5000), 128 + sig);
    }
}

TEST(StopSignals, ASignalDuringStartUpWaitsForItsEnd)
{
    child c(stop_returns, false);
    ASSERT_GT(c.pid, 0);
    kill(c.pid, SIGTERM);
    EXPECT_FALSE(c.wait_for("stop ", 300));
    // The child cannot be told that start-up ended; a second signal still
    // ends it at once.
    kill(c.pid, SIGTERM);
    EXPECT_EQ(c.status(5000), 128 + SIGTERM);
    EXPECT_EQ(c.heard, "ready ");
}

TEST(StopSignals, AStopThatHangsIsEndedAfterItsLimit)
{
    child c(stop_hangs, true);
    ASSERT_GT(c.pid, 0);
    auto t0 = std::chrono::steady_clock::now();
    kill(c.pid, SIGTERM);
    ASSERT_TRUE(c.wait_for("stop "));
    EXPECT_EQ(c.status(STOP_SIGNAL_LIMIT_MS + 10000), 1);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_GE(took.count(), STOP_SIGNAL_LIMIT_MS);
}

TEST(StopSignals, ASignalIgnoredAtStartStaysIgnored)
{
    child c(stop_returns, true, true);
    ASSERT_GT(c.pid, 0);
    kill(c.pid, SIGINT);
    EXPECT_FALSE(c.wait_for("stop ", 300));
    EXPECT_EQ(c.status(100), -1);
    kill(c.pid, SIGTERM);
    EXPECT_TRUE(c.wait_for("stop "));
}

} // namespace
