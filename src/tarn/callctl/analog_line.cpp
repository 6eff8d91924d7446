// Commands to analog ports and what goes with them: the trace of each
// command, the out-event sender of the SIP-to-analog machines, the port's
// in-use mark and suspended bit, the port's configuration keys, the
// console's forced off-hook and the reject-with-off-hook action.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analog_callctl.h"
#include "analog_callctl_internal.h"
#include "analogctl.h"
#include "application.h"
#include "call_object.h"
#include "confman.h"
#include "line_bringup.h"
#include "log.h"
#include "log_backend.h"
#include "pools.h"
#include "schema.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "timer.h"

time_t (*analog_clock)(time_t *) = time;

namespace {

enum { PORT_SECTION = 1 };

analog_port_info *port_info(int port)
{
    if (!gp || !gp->analog_info || port < 1 || port >= ANALOG_INFO_PORTS)
        return nullptr;
    return gp->analog_info;
}

// The verbose trace of the commands that have one.
const char *command_trace(int event)
{
    switch (event) {
    case ANALOG_EVENT_OFFHOOK:
        return "A OFFHOOK|REQUEST|CID=%05i<br>port=%d\n";
    case ANALOG_EVENT_ONHOOK:
        return "A ONHOOK|REQUEST|CID=%05i<br>port=%d\n";
    case ANALOG_EVENT_RINGING:
        return "A RINGING|REQUEST|CID=%05i<br>port=%d\n";
    case ANALOG_EVENT_RINGOFF:
        return "A RINGOFF|REQUEST|CID=%05i<br>port=%d\n";
    case ANALOG_EVENT_FLASHHOOK:
        return "A FLASHHOOK|REQUEST|CID=%05i<br>port=%d\n";
    case ANALOG_EVENT_WINK:
        return "A WINK|REQUEST|CID=%05i<br>port=%d\n";
    default:
        return nullptr;
    }
}

int answer(char *buf, int size, const char *format, int port)
{
    if (buf && size > 0)
        snprintf(buf, (size_t)size, format, port);
    return -1;
}

} // namespace

void mark_analog_port_as_used(int port)
{
    port = analog_port_number(port);
    if (analog_port_info *ai = port_info(port))
        ai->in_use[port] = 1;
}

void analog_port_suspend(call_object *co)
{
    if (co)
        co->analog_port |= ANALOG_PORT_SUSPENDED;
}

void analog_port_unsuspend(call_object *co)
{
    if (co)
        co->analog_port ^= ANALOG_PORT_SUSPENDED;
}

int analog_port_setting(int port, int key, char *buf, size_t size)
{
    if (!buf || size == 0)
        return -1;
    buf[0] = '\0';
    port = analog_port_number(port);
    if (!gp || !gp->config_analog || port < 1 || port >= ANALOG_INFO_PORTS)
        return -1;
    if (cm_get(gp->config_analog, buf, size, PORT_SECTION, key, port) != 0) {
        buf[0] = '\0';
        return -1;
    }
    return 0;
}

int analog_dialtone_digits(int port)
{
    char value[32];
    int n = analog_port_setting(port, CFG_ANALOG_PORT_DIALTONE_DIGITS, value, sizeof value) == 0 ? atoi(value) : 0;
    return n < 0 || n > 9 ? 0 : n;
}

int verbose_analog_send_event(call_object *co, int port, int event)
{
    port = analog_port_number(port);
    if (const char *trace = command_trace(event))
        _verbose_msg(__FILE__, __LINE__, __func__, trace, co ? co->pid : 0, port);
    LOGM(ANALOG, 17, "%s A SEND: %s", co ? cinfo(co) : "", analog_event_to_str(analog_get_type_by_port(port), event));
    return analog_send_event(port, event);
}

int32_t tarn_analog_send_event(void *p, void *arg, int32_t out_event)
{
    (void)arg;
    call_object *co = (call_object *)p;
    if (!co || co->analog_port == 0)
        return 0;
    int type = 0, code = 0, status = 0;
    decode_complex_event(out_event, &type, &code, &status);
    LOGD(ANALOG, 0, cinfo(co), "port%d, out_ev:%d type:%d, noute:%d, status:%d", analog_port_number(co->analog_port),
         out_event, type, code, status);
    verbose_analog_send_event(co, co->analog_port, code);
    return 0;
}

int set_fxo_offhooked(int port, int enable, char *buf, int size)
{
    if (port < 1 || port > ANALOG_PORT_MAX || !port_info(port) || !analog_port_is_valid(port))
        return answer(buf, size, "analog_port_%i_invalid", port);
    if (analog_get_type_by_port(port) != ANALOG_TYPE_FXO)
        return answer(buf, size, "analog_port_%i_not_fxo", port);
    analog_port_info *ai = port_info(port);
    if (ai->in_use[port])
        return answer(buf, size, "analog_port_%i_in_use", port);
    // The console says 1 for off hook and 2 for on hook: only 1 seizes.
    if (enable == 1) {
        ai->offhook_mode[port] = 1;
        verbose_analog_send_event(nullptr, port, ANALOG_EVENT_OFFHOOK);
    } else if (ai->offhook_mode[port]) {
        verbose_analog_send_event(nullptr, port, ANALOG_EVENT_ONHOOK);
        ai->offhook_mode[port] = 0;
    }
    return 0;
}

// Off hook now, on hook again in a second: the caller hears the line
// answer and drop instead of ringing on.
statemachine_handle_retval analog_reject_with_offhook(call_object *co)
{
    verbose_analog_send_event(co, co->analog_port, ANALOG_EVENT_OFFHOOK);
    analog_arm_timer(&co->timer, 1, 0, T_EVENT_ANALOG_ONHOOK);
    return {SM_CALL_ACTIVE, SM_NO_EVENT};
}

SM_ACTION(sm_check_for_reject_with_offhook)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    if (co->cc.reject_with_offhook && co->analog_port)
        return analog_reject_with_offhook(co);
    return ANALOG_ROW;
}

void analog_remove_timer(kv_timer **slot)
{
    if (*slot) {
        timer_remove(*slot);
        *slot = nullptr;
    }
}

void analog_arm_timer(kv_timer **slot, long sec, long usec, int event)
{
    analog_remove_timer(slot);
    if (sec < 0)
        sec = 0;
    if (usec < 0)
        usec = 0;
    // The timer service takes no period below one tick.
    if (sec == 0 && usec < TIMER_TICK_MS * 1000)
        usec = TIMER_TICK_MS * 1000;
    kv_timer *t = (kv_timer *)calloc(1, sizeof *t);
    if (!t)
        return;
    t->tv.tv_sec = sec;
    t->tv.tv_usec = usec;
    if (timer_add(cb_timer_event, event, t) == 0)
        *slot = t;
    else
        free(t);
}

bool analog_is_cas_call(const call_object *co)
{
    return co->callinfo == CI_SIP_TO_CAS || co->callinfo == CI_CAS_TO_SIP;
}

bool analog_append_char(char *dst, size_t size, char c)
{
    size_t n = strnlen(dst, size);
    if (n + 1 >= size)
        return false;
    dst[n] = c;
    dst[n + 1] = '\0';
    return true;
}
