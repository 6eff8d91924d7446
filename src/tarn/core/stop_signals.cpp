#include "stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "log.h"

namespace {

// The handler writes the signal's number; stop_signals_end writes 0.
int sig_pipe[2] = {-1, -1};
const int stop_signals[] = {SIGTERM, SIGINT};

void (*begin_stop_fn)() = nullptr;
std::atomic<bool> running{false};
std::atomic<bool> stop_begun{false};

pthread_t signal_thread, stop_thread;
bool signal_thread_started = false;
std::atomic<bool> stop_thread_started{false};

void on_stop_signal(int sig)
{
    int saved = errno;
    unsigned char b = (unsigned char)sig;
    if (write(sig_pipe[1], &b, 1) < 0) {
        // a full pipe already holds a signal: nothing is lost
    }
    errno = saved;
}

const char *signal_name(int sig)
{
    return sig == SIGTERM ? "SIGTERM" : sig == SIGINT ? "SIGINT" : "signal";
}

long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

[[noreturn]] void end_at_once(int sig)
{
    fprintf(stderr, "tarn: %s during the orderly stop, ending at once\n", signal_name(sig));
    signal(sig, SIG_DFL);
    raise(sig);
    _exit(128 + sig);
}

void *run_stop(void *)
{
    prctl(PR_SET_NAME, "tarn.stop", 0, 0, 0);
    stop_signals_begin_stop();
    return nullptr;
}

void *run_signal_thread(void *)
{
    prctl(PR_SET_NAME, "tarn.signal", 0, 0, 0);
    int first = 0;          // the signal that asked for the stop
    long long deadline = 0; // once the stop has begun
    for (;;) {
        int timeout = -1;
        if (deadline)
            timeout = (int)(deadline > now_ms() ? deadline - now_ms() : 0);
        else if (first)
            timeout = 50; // start-up still running: look again soon
        struct pollfd p = {sig_pipe[0], POLLIN, 0};
        int r = poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR) {
            LOGD(TARN, 0, nullptr, "CRITICAL: signal pipe: %m");
            return nullptr;
        }
        unsigned char got[16];
        ssize_t n = r > 0 ? read(sig_pipe[0], got, sizeof got) : 0;
        for (ssize_t i = 0; i < n; i++) {
            if (got[i] == 0)
                return nullptr; // the orderly stop is over
            if (first)
                end_at_once(got[i]);
            first = got[i];
            fputs("tarn: got termination requested!\n", stderr);
            LOGD(TARN, 1, nullptr, "orderly stop on %s", signal_name(first));
        }
        if (first && !deadline && running.load()) {
            deadline = now_ms() + STOP_SIGNAL_LIMIT_MS;
            if (pthread_create(&stop_thread, nullptr, run_stop, nullptr) == 0)
                stop_thread_started = true;
            else
                stop_signals_begin_stop(); // the wait on its time is lost, not the stop
        }
        if (deadline && now_ms() >= deadline) {
            fprintf(stderr, "tarn: the orderly stop did not end within %d ms, ending now\n", STOP_SIGNAL_LIMIT_MS);
            LOGD(TARN, 0, nullptr, "CRITICAL: the orderly stop did not end within %d ms, ending now",
                 STOP_SIGNAL_LIMIT_MS);
            _exit(1);
        }
    }
}

} // namespace

int stop_signals_install()
{
    if (sig_pipe[0] < 0 && pipe2(sig_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    struct sigaction sa = {};
    sa.sa_handler = on_stop_signal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int s : stop_signals)
        sigaddset(&sa.sa_mask, s);
    int rc = 0;
    for (int s : stop_signals) {
        // A signal the starter ignores stays ignored (a shell's background
        // job ignores SIGINT, so that Ctrl-C reaches only the shell).
        struct sigaction old = {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        if (sigaction(s, &sa, nullptr) != 0)
            rc = -1;
    }
    return rc;
}

int stop_signals_start(void (*begin_stop)())
{
    begin_stop_fn = begin_stop;
    if (sig_pipe[0] < 0 || signal_thread_started)
        return sig_pipe[0] < 0 ? -1 : 0;
    if (pthread_create(&signal_thread, nullptr, run_signal_thread, nullptr) != 0)
        return -1;
    signal_thread_started = true;
    return 0;
}

void stop_signals_running()
{
    running = true;
}

void stop_signals_begin_stop()
{
    if (stop_begun.exchange(true)) {
        LOGD(TARN, 2, nullptr, "the orderly stop has begun already");
        return;
    }
    if (begin_stop_fn)
        begin_stop_fn();
}

void stop_signals_end()
{
    if (signal_thread_started) {
        unsigned char quit = 0;
        if (write(sig_pipe[1], &quit, 1) == 1)
            pthread_join(signal_thread, nullptr);
        signal_thread_started = false;
    }
    // Its work ended before the first SIP stack's loop could.
    if (stop_thread_started.exchange(false))
        pthread_join(stop_thread, nullptr);
    // From here on a signal ends the process as it would any other.
    for (int s : stop_signals) {
        struct sigaction cur = {};
        if (sigaction(s, nullptr, &cur) == 0 && cur.sa_handler == on_stop_signal)
            signal(s, SIG_DFL);
    }
}
