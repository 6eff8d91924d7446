#include "daemon.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "log.h"

void fork_daemon()
{
    LOGD(TARN, 2, nullptr, "\nForking of daemon.");
    if (getppid() == 1)
        return;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        TARN_EXIT(101, "fork_daemon: Forking failed");
    if (pid > 0)
        TARN_EXIT(0, "Forked off!");
    umask(0);
    if (setsid() < 0)
        TARN_EXIT(102, "fork_daemon: Could not create sid");
    if (chdir("/") < 0)
        TARN_EXIT(103, "fork_daemon: Could not change to /");
    if (!freopen("/dev/null", "r", stdin) || !freopen("/dev/null", "w", stdout) ||
        !freopen("/dev/null", "w", stderr)) {
        // Nothing left to report to: the streams are gone either way.
    }
}
