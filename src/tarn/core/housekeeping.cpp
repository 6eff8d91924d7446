#include "housekeeping.h"

#include <malloc.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "acl.h"
#include "application.h"
#include "call_statistics.h"
#include "csm_message.h"
#include "dns_refresh.h"
#include "experimental_options.h"
#include "gsm_port.h"
#include "gsm_queue.h"
#include "gsm_settings.h"
#include "gsm_sms.h"
#include "gsm_status.h"
#include "hardware_conf.h"
#include "housekeeping_internal.h"
#include "isdn_lib.h"
#include "log.h"
#include "misdn_stack.h"
#include "msp_queue.h"
#include "nonce_list.h"
#include "pg_port_groups.h"
#include "platform_path.h"
#include "status_server.h"

// ---- hooks ---------------------------------------------------------------------------

namespace {

void not_built(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(TARN, 0, nullptr, "CRITICAL: housekeeping: %s is not part of this build", what);
}

#define HK_UNFILLED(name, text, params, ...)    \
    void no_##name params                       \
    {                                           \
        static std::atomic<bool> said{false};   \
        not_built(said, text);                  \
    }

int no_add_sm_task(call_object *, int)
{
    static std::atomic<bool> said{false};
    not_built(said, "the state-machine task list");
    return -1;
}
HK_UNFILLED(check_bchannels, "the B-channel sweep", ())
HK_UNFILLED(nua_handle_cleanup_queue, "the SIP handle clean-up", ())
HK_UNFILLED(fxs_message_waiting_refresh, "the FXS message-waiting refresh", ())
HK_UNFILLED(mc_send_restart_now, "the console's restart report", (int))

const housekeeping_hooks unfilled = {
    no_add_sm_task,           no_check_bchannels,     no_nua_handle_cleanup_queue,
    no_fxs_message_waiting_refresh, no_mc_send_restart_now,
};
housekeeping_hooks hooks = unfilled;

template <typename F>
void take(F &slot, F value)
{
    if (value)
        slot = value;
}

void real_sleep_ms(int ms)
{
    usleep((useconds_t)ms * 1000);
}

int real_memory_percentage(pid_t pid)
{
    return get_current_memory_usage_as_percentage(pid);
}

void real_queue_device_query(int counter)
{
    magic_csm q = create_query_csm_msg(HK_DEVICE_STATUS_FUNCTION_CODE, HK_DEVICE_STATUS_CLASS,
                                       HK_DEVICE_STATUS_TYPE, counter);
    msp_queue_command(q, MSP_ADDRESS_DEVICE, nullptr, 0, 1);
}

const housekeeping_clock real_clock = {real_sleep_ms, real_memory_percentage, get_number_of_active_calls};
housekeeping_clock clock_in_use = real_clock;

int real_port_up(int port)
{
    return misdn_lib_port_up(port, 0);
}

const housekeeping_isdn_ops real_isdn = {real_port_up, misdn_lib_get_port_up, misdn_lib_port_restart,
                                         misdn_lib_is_te_ptp_l2_down, misdn_is_port_configured};

} // namespace

housekeeping_isdn_ops hk_isdn = real_isdn;
void (*hk_queue_device_query)(int counter) = real_queue_device_query;

void housekeeping_set_hooks(const housekeeping_hooks *in)
{
    if (!in)
        return;
    take(hooks.add_sm_task, in->add_sm_task);
    take(hooks.check_bchannels, in->check_bchannels);
    take(hooks.nua_handle_cleanup_queue, in->nua_handle_cleanup_queue);
    take(hooks.fxs_message_waiting_refresh, in->fxs_message_waiting_refresh);
    take(hooks.mc_send_restart_now, in->mc_send_restart_now);
}

void housekeeping_reset_hooks()
{
    hooks = unfilled;
    clock_in_use = real_clock;
    hk_isdn = real_isdn;
    hk_queue_device_query = real_queue_device_query;
}

const housekeeping_hooks &hk_hooks()
{
    return hooks;
}

void housekeeping_set_clock(const housekeeping_clock *c)
{
    if (!c)
        return;
    take(clock_in_use.sleep_ms, c->sleep_ms);
    take(clock_in_use.memory_percentage, c->memory_percentage);
    take(clock_in_use.active_calls, c->active_calls);
}

// ---- helpers -------------------------------------------------------------------------

int memory_percentage_from_status(const char *path)
{
    FILE *f = fopen(path, "r");
    if (!f)
        return 0;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, f)) {
        const char *p = line;
        while (*p == ' ' || *p == '\t')
            p++;
        if (strncmp(p, "VmRSS:", 6) == 0) {
            kb = strtol(p + 6, nullptr, 10);
            break;
        }
    }
    fclose(f);
    return kb < 0 ? 0 : (int)(kb * 100 / HK_BOARD_MEMORY_KB);
}

int get_current_memory_usage_as_percentage(pid_t pid)
{
    if (pid == 0)
        return 0;
    char path[64];
    snprintf(path, sizeof path, "/proc/%i/status", (int)pid);
    return memory_percentage_from_status(path);
}

int parse_cpms_answer(const char *answer, int *used, int *total)
{
    if (!answer || strncmp(answer, "+CPMS: ", 7) != 0)
        return -1;
    // "+CPMS: "SM",3,30,..." : the second and third fields.
    const char *p = strchr(answer, ',');
    if (!p)
        return -1;
    *used = atoi(p + 1);
    p = strchr(p + 1, ',');
    if (!p)
        return -1;
    *total = atoi(p + 1);
    return 0;
}

int get_sms_usage(int port, int *used, int *total)
{
    *used = 10;
    *total = 10;
    char *answer = nullptr;
    if (gsm_queue_command(port, GSM_EVENT_TYPE_CPMS, "AT+CPMS?", nullptr, &answer, 1, 0) != 0) {
        free(answer);
        return -1;
    }
    // The first line of the answer decides.
    std::string first = answer ? answer : "";
    free(answer);
    size_t start = first.find_first_not_of("\r\n");
    first = start == std::string::npos ? "" : first.substr(start);
    size_t end = first.find_first_of("\r\n");
    if (end != std::string::npos)
        first.resize(end);
    return parse_cpms_answer(first.c_str(), used, total);
}

int get_safeguard_enabled()
{
    std::string path = platform_path("/sys/class/quilmar/safeguard/enabled");
    FILE *f = fopen(path.c_str(), "r");
    if (!f)
        return 0;
    int v = 0;
    if (fscanf(f, "%d", &v) != 1)
        v = 0;
    fclose(f);
    return v;
}

int isdn_layer_fix_get_sysfs_name(int port, const char *action, char *buf, size_t size)
{
    if (size)
        buf[0] = 0;
    if (!gp)
        return -1;
    int t1e1_module = 0;
    for (const line_interface &li : gp->hwconf.hwc_li) {
        if (li.li_type != LI_1E1T1 && li.li_type != LI_2E1T1)
            continue;
        int te_index = 0;
        for (int j = 0; j < HWCONF_SLOTS; j++) {
            if (li.interface_types[j] != HWCONF_INTERFACE_TYPE_HDLC || li.isdn_ntte_types[j] != HWCONF_NTTE_TYPE_TE)
                continue;
            if (li.port_numbers[j] == port) {
                char rel[96];
                snprintf(rel, sizeof rel, "/sys/class/dvxt1e1/%i:%i/%s", t1e1_module, te_index, action);
                snprintf(buf, size, "%s", platform_path(rel).c_str());
                return 0;
            }
            te_index++;
        }
        t1e1_module++;
    }
    return -1;
}

int hk_run_lte_init_hook(int port, const char *hook)
{
    char copy[2048];
    snprintf(copy, sizeof copy, "%s", hook ? hook : "");
    int queued = 0;
    char *save = nullptr;
    for (char *piece = strtok_r(copy, "\t", &save); piece; piece = strtok_r(nullptr, "\t", &save)) {
        if (piece[0] < 'A' || piece[0] > 'Z')
            continue;
        if (gsm_queue_command(port, HK_LTE_HOOK_COMMAND, piece, nullptr, nullptr, 0, 0) == 0)
            queued++;
    }
    return queued;
}

// ---- run_tasks1 ----------------------------------------------------------------------

namespace {

experimental_options *eo()
{
    return gp ? gp->experimental_options : nullptr;
}

int eo_value(int32_t experimental_options::*member)
{
    experimental_options *e = eo();
    return e ? e->*member : 0;
}

struct tasks1_row {
    const char *name;
    int period; // ticks; 0: the row computes its own period
    int (*period_of)();
    bool (*condition)();
    void (*duty)(tasks1_state *s);
};

void age_nonces(tasks1_state *)
{
    if (gp && gp->noncelist)
        nonce_list_age(gp->noncelist);
}

void count_gsm_ready(tasks1_state *)
{
    int v = gsm_ready_counter.load();
    while (v >= 0 && !gsm_ready_counter.compare_exchange_weak(v, v + 1)) {
    }
}

bool device_watch_wanted()
{
    return gp && (gp->sys_safeguard_kernel_reboot_enabled ||
                  eo_value(&experimental_options::eo_no_device_status_query) == 0);
}

int device_query_period()
{
    return gp && gp->sys_safeguard_refresh_interval > 0 ? gp->sys_safeguard_refresh_interval * 10 : 0;
}

void query_device_status(tasks1_state *)
{
    hk_queue_device_query(++gp->msp_counter);
}

void check_msp_loop(tasks1_state *)
{
    // An exit in progress stops the command loop itself.
    if (tarn_exiting())
        return;
    if (msp_running.load() == 0)
        TARN_EXIT(HK_EXIT_MSP_LOOP_DOWN, "MSP LOOP SEEMS DOWN => EXITING");
    msp_running = 0;
}

bool gsm_poll_due()
{
    if (!gp || !gp->gsm_initialized)
        return false;
    int interval = eo_value(&experimental_options::eo_gsm_status_interval);
    return gsm_ready_counter.load() >= interval * 10;
}

void poll_gsm(tasks1_state *)
{
    gsm_ready_counter = 0;
    gsm_acquire_status(0);
    if (!gp->sms_cleanup) {
        port_groups *pg = gp->port_groups;
        for (int g = 0; pg && g < pg->port_groups_gsm_count; g++) {
            port_group_gsm *grp = pg->port_groups_gsm[g];
            for (int i = 0; grp && i < grp->port_count; i++) {
                int port = grp->port_settings[i].port;
                int used, total;
                if (get_sms_usage(port, &used, &total) == 0 && used > 0)
                    gsm_port_read_sms_from_sim(port, total);
            }
        }
        gp->sms_cleanup = 1;
    }
    if (gp->gsm_sms_spool_out)
        gsm_sms_outgoing(gp->gsm_sms_spool_out);
}

void sweep_bchannels(tasks1_state *)
{
    hooks.check_bchannels();
}

bool always()
{
    return true;
}

// The duties of run_tasks1, in the order they run within a tick.
const tasks1_row tasks1_rows[] = {
    {"nonce aging", 10, nullptr, always, age_nonces},
    {"GSM ready count", 1, nullptr, always, count_gsm_ready},
    {"device status query", 0, device_query_period, device_watch_wanted, query_device_status},
    {"media processor loop check", 150, nullptr, device_watch_wanted, check_msp_loop},
    {"GSM status poll", 1, nullptr, gsm_poll_due, poll_gsm},
    {"B-channel sweep", 1200, nullptr, always, sweep_bchannels},
};

} // namespace

void tasks1_begin(tasks1_state *s)
{
    *s = tasks1_state{};
    prctl(PR_SET_NAME, "tarn.tasks1", 0, 0, 0);
    if (!gp)
        return;
    gp->sys_safeguard_timeout = 120;
    gp->sys_safeguard_refresh_interval = 30;
    gp->sys_safeguard_kernel_reboot_enabled = get_safeguard_enabled();
}

void tasks1_tick(tasks1_state *s)
{
    s->tick++;
    for (const tasks1_row &r : tasks1_rows) {
        int period = r.period ? r.period : r.period_of();
        if (period > 0 && s->tick % period == 0 && r.condition())
            r.duty(s);
    }
}

void *run_tasks1(void *)
{
    tasks1_state s;
    tasks1_begin(&s);
    while (gp && __atomic_load_n(&gp->run_msp_safeguard, __ATOMIC_ACQUIRE)) {
        clock_in_use.sleep_ms(100);
        if (!__atomic_load_n(&gp->run_msp_safeguard, __ATOMIC_ACQUIRE))
            break;
        tasks1_tick(&s);
    }
    return nullptr;
}

// ---- run_tasks2 ----------------------------------------------------------------------

namespace {

struct tasks2_row {
    const char *name;
    int period; // seconds; 1: every second (the duty may look at k itself)
    bool (*condition)(const tasks2_state *s);
    void (*duty)(tasks2_state *s);
};

bool every(const tasks2_state *)
{
    return true;
}

void cleanup_sip_handles(tasks2_state *)
{
    hooks.nua_handle_cleanup_queue();
}

bool from_second_20(const tasks2_state *s)
{
    return s->k >= 20;
}

void refresh_message_waiting(tasks2_state *)
{
    hooks.fxs_message_waiting_refresh();
}

void age_access_control(tasks2_state *s)
{
    acl_housekeeping(s->k);
}

bool telnet_watchdog_on(const tasks2_state *)
{
    return eo_value(&experimental_options::eo_telnet_watchdog) > 0;
}

void watch_console(tasks2_state *s)
{
    long stamp = (long)__atomic_load_n(&telnet_server_time, __ATOMIC_RELAXED);
    if (stamp == 0)
        return;
    if (stamp != s->telnet_last_stamp) {
        s->telnet_last_stamp = stamp;
        s->telnet_stuck_seconds = 0;
        return;
    }
    int limit = eo_value(&experimental_options::eo_telnet_watchdog);
    if (++s->telnet_stuck_seconds >= limit) {
        fprintf(stderr, "exiting tarn, telnet interface stuck for %i seconds\n", limit);
        TARN_EXIT(HK_EXIT_TELNET_STUCK, "exiting tarn, telnet interface stuck for %i seconds", limit);
    }
}

void restart_isdn_ports(tasks2_state *)
{
    int &need = isdnlib_options.isdnlib_ports_need_restart;
    int v = __atomic_load_n(&need, __ATOMIC_ACQUIRE);
    if (v > 1) {
        __atomic_store_n(&need, v - 1, __ATOMIC_RELEASE);
        return;
    }
    if (v != 1)
        return;
    __atomic_store_n(&need, 0, __ATOMIC_RELEASE);
    for (int port = 1; port <= 32 && port < ISDNLIB_RESTART_PORTS; port++) {
        if (!__atomic_load_n(&isdnlib_options.isdnlib_restart_ports[port], __ATOMIC_ACQUIRE))
            continue;
        LOGD(TARN, 5, nullptr, "restarting isdn port %i", port);
        hk_isdn.port_restart(port);
        hooks.mc_send_restart_now(port);
        __atomic_store_n(&isdnlib_options.isdnlib_restart_ports[port], 0, __ATOMIC_RELEASE);
    }
}

bool memory_check_due(const tasks2_state *s)
{
    return s->memory_armed && s->memory_interval > 0 && s->k % s->memory_interval == 0;
}

void watch_memory(tasks2_state *s)
{
    int current = clock_in_use.memory_percentage(s->memory_pid);
    if (current == 0)
        return;
    int calls = clock_in_use.active_calls();
    int graceful = eo_value(&experimental_options::eo_options_memory_watchdog_graceful_restart_threshold);
    int reject = eo_value(&experimental_options::eo_options_memory_watchdog_reject_calls_threshold);
    int instant = eo_value(&experimental_options::eo_options_memory_watchdog_instant_restart_threshold);
    if (graceful) {
        if (current < graceful) {
            if (s->memory_exceeded)
                LOGM(TARN, 16,
                     "Memory threshold for graceful exit not exceeded anymore (%i active calls) (current %i%%, threshold %i%%)",
                     calls, current, graceful);
            s->memory_exceeded = 0;
            s->memory_interval = 60;
        } else if (calls == 0) {
            TARN_EXIT(HK_EXIT_MEMORY,
                      "Exiting gracefully because memory threshold has been exceeded (current %i%%, threshold %i%%)",
                      current, graceful);
        } else {
            if (!s->memory_exceeded)
                LOGM(TARN, 16,
                     "Memory threshold has been exceeded, waiting for good time to exit (%i active calls) (current %i%%, threshold %i%%)",
                     calls, current, graceful);
            s->memory_exceeded = 1;
            s->memory_interval = 10;
        }
    }
    if (reject) {
        int mode = __atomic_load_n(&gp->reject_calls, __ATOMIC_ACQUIRE);
        if (current >= reject) {
            if (mode == REJECT_CALLS_NONE)
                LOGM(TARN, 16,
                     "Rejecting calls now, because memory threshold has been exceeded (%i active calls) (current mem %i%%, threshold %i%%)",
                     calls, current, reject);
            if (mode != REJECT_CALLS_STOPPING)
                __atomic_store_n(&gp->reject_calls, (int)REJECT_CALLS_MEMORY, __ATOMIC_RELEASE);
        } else if (mode == REJECT_CALLS_MEMORY) {
            LOGM(TARN, 16,
                 "Allowing calls now again, because memory threshold is not exceeded anymore (%i active calls) (current mem %i%%, threshold %i%%)",
                 calls, current, reject);
            __atomic_store_n(&gp->reject_calls, (int)REJECT_CALLS_NONE, __ATOMIC_RELEASE);
        }
    }
    if (instant && current >= instant)
        TARN_EXIT(HK_EXIT_MEMORY,
                  "Exiting instantly (%i active calls terminated) because memory threshold has been exceeded (current %i%%, threshold %i%%)",
                  calls, current, instant);
}

bool layer_fix_on(const tasks2_state *)
{
    return eo_value(&experimental_options::eo_isdn_layer_fix) == 1;
}

// Writes "1\n" to the port's driver file; false when it has none or the
// file cannot be opened.
bool write_layer_fix(int port, const char *action, char *path, size_t size)
{
    if (isdn_layer_fix_get_sysfs_name(port, action, path, size) != 0)
        return false;
    FILE *f = fopen(path, "w");
    if (!f)
        return false;
    fputs("1\n", f);
    fclose(f);
    return true;
}

void fix_isdn_layers(tasks2_state *s)
{
    char path[256];
    if (s->k % 30 == 0) {
        port_groups *pg = gp ? gp->port_groups : nullptr;
        for (int g = 0; pg && g < pg->port_groups_isdn_count; g++) {
            port_group_isdn *grp = pg->port_groups_isdn[g];
            for (int i = 0; grp && i < grp->port_count; i++) {
                int port = grp->ports[i];
                if (port < 1 || port > 32 || !hk_isdn.te_ptp_l2_down(port))
                    continue;
                s->layer_fix_marks[port] = 1;
                s->layer_fix_pending = 1;
                if (write_layer_fix(port, "l1_reset_port", path, sizeof path))
                    LOGD(TARN, 0, nullptr, "isdn_layer_fix_reset_port |%s|", path);
                else
                    LOGD(TARN, 0, nullptr, "isdn_layer_fix_reset_port FAILED |%s|", path);
                LOGD(TARN, 0, nullptr, "isdn_layer_fix, resetting port");
            }
        }
        return;
    }
    if (!s->layer_fix_pending)
        return;
    for (int port = 1; port <= 32; port++) {
        if (!s->layer_fix_marks[port])
            continue;
        if (write_layer_fix(port, "l1_reset_layer", path, sizeof path))
            LOGD(TARN, 0, nullptr, "isdn_layer_fix_reset_layer |%s|", path);
        else
            LOGD(TARN, 0, nullptr, "isdn_layer_fix_reset_layer FAILED |%s|", path);
        LOGD(TARN, 0, nullptr, "isdn_layer_fix, resetting layer");
        s->layer_fix_marks[port] = 0;
    }
    s->layer_fix_pending = 0;
}

bool l1down_due(const tasks2_state *s)
{
    int w = eo_value(&experimental_options::eo_isdn_l1down_workaround);
    return w >= 60 && s->k % w == 0;
}

void work_around_l1down(tasks2_state *)
{
    int w = eo_value(&experimental_options::eo_isdn_l1down_workaround);
    for (int port = 1; port <= 32; port++) {
        if (!hk_isdn.port_configured(port) || hk_isdn.port_up(port) != 0)
            continue;
        if (w % 2) {
            LOGD(TARN, 5, nullptr, "l1down_workaround: Trying to get up port %i up with misdn_lib_get_port_up", port);
            hk_isdn.get_port_up(port);
        } else {
            LOGD(TARN, 5, nullptr, "l1down_workaround: Trying to restart port %i up", port);
            hk_isdn.port_restart(port);
            hooks.mc_send_restart_now(port);
        }
    }
}

bool cds_wait_on(const tasks2_state *)
{
    return eo_value(&experimental_options::eo_gsm_pdu_mode) == 1 &&
           eo_value(&experimental_options::eo_gsm_wait_for_cds) > 0;
}

void count_down_cds(tasks2_state *)
{
    for (int port = 1; port <= 7; port++) {
        int v = global_gsm_cds_waiting[port].load();
        while (v > 0 && !global_gsm_cds_waiting[port].compare_exchange_weak(v, v - 1)) {
        }
    }
}

bool lte_register_workaround_on(const tasks2_state *)
{
    return eo_value(&experimental_options::eo_lte_register_workaround) != 0;
}

void reregister_lte(tasks2_state *)
{
    int min_time = eo_value(&experimental_options::eo_lte_register_workaround_min_time);
    for (int port = 1; port <= 7; port++) {
        if (!__atomic_load_n(&global_gsm_port_needs_reregister[port], __ATOMIC_ACQUIRE))
            continue;
        __atomic_store_n(&global_gsm_port_needs_reregister[port], 0, __ATOMIC_RELEASE);
        int now = (int)time(nullptr);
        int last = __atomic_load_n(&global_gsm_port_needs_reregister_timestamp[port], __ATOMIC_ACQUIRE);
        if (abs(now - last) > min_time) {
            __atomic_store_n(&global_gsm_port_needs_reregister_timestamp[port], now, __ATOMIC_RELEASE);
            gsm_try_reregistering_to_network(port, 0);
        } else {
            LOGD(TARN, 0, nullptr, "LTE Re-Registration requested on port %i", port);
        }
    }
}

void run_lte_hooks(tasks2_state *)
{
    port_groups *pg = gp ? gp->port_groups : nullptr;
    for (int g = 0; pg && g < pg->port_groups_gsm_count; g++) {
        port_group_gsm *grp = pg->port_groups_gsm[g];
        if (!grp || !grp->lte_init_hook || !grp->lte_init_hook[0])
            continue;
        for (int i = 0; i < grp->port_count; i++) {
            int port = grp->port_settings[i].port;
            if (!gsm_port_wants_lte_hook(port))
                continue;
            LOGD(TARN, 0, nullptr, "Running LTE init hook on port %i", port);
            hk_run_lte_init_hook(port, grp->lte_init_hook);
            gsm_port_set_lte_hook_applied(port, 1);
        }
    }
}

// Freed memory stays with the allocator: a burst of SIP requests fills the
// stacks' thread arenas with transactions (a refused INVITE holds about
// 11 kB until its transaction ends, 5 s after the ACK of its answer, 32 s
// without one), and their pages would count against the memory watchdog
// long after they are free. Once a good deal of memory is free and that
// amount has moved since the last time, the free pages go back.
void release_free_heap(tasks2_state *s)
{
    struct mallinfo2 mi = mallinfo2();
    size_t free_bytes = mi.fordblks;
    size_t moved = free_bytes > s->heap_free_released ? free_bytes - s->heap_free_released
                                                      : s->heap_free_released - free_bytes;
    if (free_bytes < HK_HEAP_RELEASE_BYTES || moved < HK_HEAP_RELEASE_BYTES / 4)
        return;
    malloc_trim(0);
    s->heap_free_released = free_bytes;
    LOGD(TARN, 8, nullptr, "%zu bytes of free heap handed back", free_bytes);
}

bool message_waiting_due(const tasks2_state *s)
{
    return from_second_20(s);
}

// The duties of run_tasks2, in the order they run within a second.
const tasks2_row tasks2_rows[] = {
    {"SIP handle clean-up", 1, every, cleanup_sip_handles},
    {"message-waiting refresh", 20, message_waiting_due, refresh_message_waiting},
    {"access-control aging", 1, every, age_access_control},
    {"console watchdog", 1, telnet_watchdog_on, watch_console},
    {"ISDN port restarts", 1, every, restart_isdn_ports},
    {"free heap release", 5, every, release_free_heap},
    {"memory watchdog", 1, memory_check_due, watch_memory},
    {"ISDN layer fix", 1, layer_fix_on, fix_isdn_layers},
    {"layer-1 workaround", 1, l1down_due, work_around_l1down},
    {"delivery report wait", 1, cds_wait_on, count_down_cds},
    {"LTE re-registration", 1, lte_register_workaround_on, reregister_lte},
    {"LTE init hooks", 1, every, run_lte_hooks},
};

} // namespace

void tasks2_begin(tasks2_state *s)
{
    *s = tasks2_state{};
    prctl(PR_SET_NAME, "tarn.tasks2", 0, 0, 0);
    __atomic_store_n(&telnet_server_time, (time_t)0, __ATOMIC_RELAXED);
    s->memory_armed = eo_value(&experimental_options::eo_options_memory_watchdog_graceful_restart_threshold) ||
                      eo_value(&experimental_options::eo_options_memory_watchdog_reject_calls_threshold) ||
                      eo_value(&experimental_options::eo_options_memory_watchdog_instant_restart_threshold);
    if (s->memory_armed) {
        s->memory_pid = getpid();
        s->memory_interval = 60;
    }
}

void tasks2_tick(tasks2_state *s)
{
    for (const tasks2_row &r : tasks2_rows)
        if (s->k % r.period == 0 && r.condition(s))
            r.duty(s);
    s->k++;
}

void *run_tasks2(void *)
{
    tasks2_state s;
    tasks2_begin(&s);
    while (!housekeeping_stopping()) {
        tasks2_tick(&s);
        if (clock_in_use.sleep_ms == real_sleep_ms) {
            if (!housekeeping_pause_ms(1000))
                break;
        } else {
            clock_in_use.sleep_ms(1000);
        }
    }
    return nullptr;
}

// ---- start and stop ------------------------------------------------------------------

namespace {

// Never destroyed: a thread may still wait on them while the process ends
// (destroying a condition variable with a waiter blocks).
std::mutex &stop_mutex = *new std::mutex;
std::condition_variable &stop_cv = *new std::condition_variable;
bool stop_requested = false;

struct hk_thread {
    const char *what;
    void *(*body)(void *);
    pthread_t thread;
    bool started;
};

hk_thread hk_threads[] = {
    {"tasks1", run_tasks1, {}, false},
    {"tasks2", run_tasks2, {}, false},
    {"dns", dns_loop, {}, false},
};

} // namespace

bool housekeeping_stopping()
{
    std::lock_guard<std::mutex> g(stop_mutex);
    return stop_requested;
}

bool housekeeping_pause_ms(int ms)
{
    std::unique_lock<std::mutex> g(stop_mutex);
    return !stop_cv.wait_for(g, std::chrono::milliseconds(ms), [] { return stop_requested; });
}

int housekeeping_start()
{
    {
        std::lock_guard<std::mutex> g(stop_mutex);
        stop_requested = false;
    }
    int result = 0;
    for (hk_thread &t : hk_threads) {
        if (t.started)
            continue;
        if (pthread_create(&t.thread, nullptr, t.body, nullptr) == 0) {
            t.started = true;
        } else {
            LOGD(TARN, 0, nullptr, "CRITICAL: couldn't start the %s thread", t.what);
            result = -1;
        }
    }
    return result;
}

void housekeeping_stop()
{
    if (gp)
        __atomic_store_n(&gp->run_msp_safeguard, 0, __ATOMIC_RELEASE);
    {
        std::lock_guard<std::mutex> g(stop_mutex);
        stop_requested = true;
    }
    stop_cv.notify_all();
    for (hk_thread &t : hk_threads) {
        if (!t.started)
            continue;
        if (pthread_equal(t.thread, pthread_self()))
            pthread_detach(t.thread);
        else
            tarn_join_thread(t.thread, t.what);
        t.started = false;
    }
}
