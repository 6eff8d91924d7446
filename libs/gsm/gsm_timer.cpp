#include "gsm_port.h"

#include <sys/prctl.h>
#include <unistd.h>

std::atomic<int> gsm_time{0};

void *gsm_timer_function(void *arg)
{
    (void)arg;
    prctl(PR_SET_NAME, "tarn.gsmtimer", 0, 0, 0);
    for (;;) {
        usleep(100000);
        gsm_time++;
    }
    return nullptr;
}
