#include "gsm_port.h"

#include <sys/prctl.h>
#include <unistd.h>

std::atomic<int> gsm_time{0};

namespace {

std::atomic<bool> clock_stop{false};

} // namespace

void *gsm_timer_function(void *arg)
{
    (void)arg;
    prctl(PR_SET_NAME, "tarn.gsmtimer", 0, 0, 0);
    while (!clock_stop.load()) {
        usleep(100000);
        gsm_time++;
    }
    return nullptr;
}

void gsm_timer_stop(void)
{
    clock_stop = true;
}
