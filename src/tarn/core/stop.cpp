#include "stop.h"

#include "analogctl.h"
#include "gsm_port.h"
#include "isdn_lib.h"
#include "msp_dispatch.h"
#include "t1e1casctl.h"
#include "timer.h"

void tarn_stop_libraries(void)
{
    cas_shutdown();
    analog_shutdown();
    gsm_timer_stop();
    misdn_lib_destroy();
    msp_stop_lib();
    timer_exit();
}
