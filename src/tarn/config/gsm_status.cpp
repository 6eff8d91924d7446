#include "gsm_status.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_lookups.h"
#include "experimental_options.h"
#include "gsm_lib.h"
#include "line_bringup.h"
#include "log.h"
#include "pg_port_groups.h"

// ---- hooks --------------------------------------------------------------------

static void events_not_handled(gsm_command *)
{
    static std::atomic<bool> said;
    if (!said.exchange(true))
        LOGD(GSM, 2, nullptr, "GSM events are not handled in this build");
}

static std::atomic<bool> restart_hook_set;

static void restart_not_built(FILE *, int)
{
    static std::atomic<bool> said;
    if (!said.exchange(true))
        LOGD(GSM, 2, nullptr, "GSM port restart not available in this build");
}

gsm_hooks gsm_hook = {events_not_handled, restart_not_built};

void gsm_set_hooks(const gsm_hooks *h)
{
    if (!h) {
        restart_hook_set = false;
        gsm_hook = {events_not_handled, restart_not_built};
        return;
    }
    // Each owner fills its own member; the others stay as they are.
    if (h->event_handler)
        gsm_hook.event_handler = h->event_handler;
    if (h->restart_gsm_port) {
        gsm_hook.restart_gsm_port = h->restart_gsm_port;
        restart_hook_set = true;
    }
}

// ---- helpers ------------------------------------------------------------------------

static const experimental_options *eo() { return gp ? gp->experimental_options : nullptr; }
static int debug_level() { return eo() ? eo()->eo_gsm_debug_level : 0; }
static int cbm_enabled() { return eo() ? eo()->eo_gsm_cbm_enable : 0; }

static gsm_port_info *info_of(int port)
{
    return gp && port >= 1 && port < GSM_PORT_TABLE ? &gp->gsm_port_info.port_infos[port] : nullptr;
}

static void query(int port, int type, const char *command, int blocking, int notify)
{
    gsm_queue_command(port, type, command, nullptr, nullptr, blocking, notify);
}

// Calls in these states keep the modem busy.
enum { GSM_BUSY_STATES = 0x10000 | 0x20000 };

bool gsm_port_is_idle(int port)
{
    call_object *co = get_operation_by_gsm_port(port);
    return !co || !(co->sm_state & GSM_BUSY_STATES);
}

static bool usable(int port)
{
    gsm_port_info *pi = info_of(port);
    return pi && pi->ready && gsm_port_is_successfully_initialized(port);
}

// ---- status poll ------------------------------------------------------------------------

static bool pin_counter_due(const gsm_port_info &i, int debug, int) { return i.pin_counter < 1 || debug > 0; }
static bool always(const gsm_port_info &, int, int) { return true; }
static bool spn_due(const gsm_port_info &i, int debug, int) { return !i.spn || !i.spn[0] || debug > 0; }
static bool debug_above_1(const gsm_port_info &, int debug, int) { return debug > 1; }
static bool with_cbm(const gsm_port_info &, int, int cbm) { return cbm != 0; }

const gsm_poll_row gsm_poll_rows[] = {
    {"pin counter", GSM_EVENT_TYPE_PCT, nullptr, gsm_net_pin_counter, pin_counter_due},
    {"signal quality", GSM_EVENT_TYPE_CSQ, nullptr, gsm_net_get_signal_quality, always},
    {"registration", GSM_EVENT_TYPE_CREG, nullptr, gsm_net_get_status, always},
    {"service provider", GSM_EVENT_TYPE_SPN, "AT#SPN\r\n", nullptr, spn_due},
    {"serving cell", GSM_EVENT_TYPE_SERVINFO, "AT#SERVINFO\r\n", nullptr, always},
    {"digital voice", GSM_EVENT_TYPE_DVI, "AT#DVI?\r\n", nullptr, always},
    {"caller id", GSM_EVENT_TYPE_CLIP, "AT+CLIP?\r\n", nullptr, debug_above_1},
    {"called id", GSM_EVENT_TYPE_CDIP, "AT+CDIP?\r\n", nullptr, debug_above_1},
    {"broadcast channels", GSM_EVENT_TYPE_CSCB, "AT+CSCB?\r\n", nullptr, with_cbm},
    {"message indications", GSM_EVENT_TYPE_CNMI, "AT+CNMI?\r\n", nullptr, with_cbm},
};
const int gsm_poll_row_count = sizeof gsm_poll_rows / sizeof gsm_poll_rows[0];

void gsm_acquire_status(int blocking)
{
    if (!gp)
        return;
    gsm_port_infos &all = gp->gsm_port_info;
    all.last_port = 1;
    all.aquire_start = (int)time(nullptr);
    const int debug = debug_level(), cbm = cbm_enabled();
    for (int port : configured_port_numbers(gp->config_gsm)) {
        gsm_port_info *pi = info_of(port);
        if (!pi)
            continue;
        pi->active = 1;
        if (!usable(port) || !gsm_port_is_idle(port))
            continue;
        all.last_port = port;
        for (const gsm_poll_row &r : gsm_poll_rows) {
            if (!r.when(*pi, debug, cbm))
                continue;
            if (r.command)
                query(port, r.event_type, r.command, blocking, 1);
            else
                r.query(port);
        }
        if (pi->reg_status == GSM_REG_STATUS_NOT && pi->was_successfully_registered)
            gsm_cbm_mark_for_rearm(port);
        else if (pi->reg_status == GSM_REG_STATUS_HOME || pi->reg_status == GSM_REG_STATUS_ROAMING)
            gsm_cbm_rearm_if_needed(port, blocking);
        if (eo() && eo()->eo_lte_register_workaround) {
            if (!pi->was_successfully_registered && pi->reg_status == GSM_REG_STATUS_HOME) {
                pi->was_successfully_registered = 1;
                global_gsm_port_needs_reregister[port] = 0;
            } else if (pi->was_successfully_registered && pi->reg_status == GSM_REG_STATUS_NOT) {
                global_gsm_port_needs_reregister[port] = 1;
            }
        }
    }
}

// ---- identity and profile ------------------------------------------------------------------

const gsm_advanced_row gsm_advanced_rows[] = {
    {"AT+CIMI\r\n", GSM_EVENT_TYPE_CIMI, &gsm_port_info::imsi, false},
    {"AT+CGSN\r\n", GSM_EVENT_TYPE_CGSN, &gsm_port_info::imei, false},
    {"AT+GSN\r\n", GSM_EVENT_TYPE_GSN, &gsm_port_info::serial, false},
    {"AT+CGMR\r\n", GSM_EVENT_TYPE_CGMR, &gsm_port_info::firmware, false},
    {"AT&V\r\n", GSM_EVENT_TYPE_ATV, &gsm_port_info::dte_speed, true},
    {"AT#SWPKGV\r\n", GSM_EVENT_TYPE_SWPKGV, &gsm_port_info::sw_pkgversion, false},
};
const int gsm_advanced_row_count = sizeof gsm_advanced_rows / sizeof gsm_advanced_rows[0];

void gsm_acquire_advanced_settings(int blocking)
{
    if (!gp)
        return;
    const bool no_atv = eo() && eo()->eo_lte_disable_atv;
    for (int port : configured_port_numbers(gp->config_gsm)) {
        gsm_port_info *pi = info_of(port);
        if (!pi)
            continue;
        pi->active = 1;
        if (!usable(port))
            continue;
        for (const gsm_advanced_row &r : gsm_advanced_rows) {
            char *value = pi->*r.field;
            if ((value && value[0]) || (r.skipped_without_atv && no_atv))
                continue;
            query(port, r.event_type, r.command, blocking, 1);
        }
    }
}

// The texts the advanced queries fill, in declaration order, and the
// software package version after them.
char *gsm_port_info::*const gsm_port_profile_texts[GSM_PORT_PROFILE_TEXTS] = {
    &gsm_port_info::serial,
    &gsm_port_info::imei,
    &gsm_port_info::imsi,
    &gsm_port_info::firmware,
    &gsm_port_info::dte_speed,
    &gsm_port_info::dte_format,
    &gsm_port_info::gsm_data_mode,
    &gsm_port_info::autobaud,
    &gsm_port_info::command_echo,
    &gsm_port_info::result_messages,
    &gsm_port_info::verbose_messages,
    &gsm_port_info::extended_messages,
    &gsm_port_info::line_speed,
    &gsm_port_info::constant_dte_speed,
    &gsm_port_info::flow_control_options,
    &gsm_port_info::error_correction_mode,
    &gsm_port_info::cts_c106_options,
    &gsm_port_info::dsr_c107_options,
    &gsm_port_info::dtr_c108_options,
    &gsm_port_info::dcd_c109_options,
    &gsm_port_info::ri_c125_options,
    &gsm_port_info::c1081_options,
    &gsm_port_info::power_saving_on_dtr,
    &gsm_port_info::default_profile,
};

void gsm_reset_advanced_settings(int port)
{
    gsm_port_info *pi = info_of(port);
    if (!pi || port > gp->gsm_port_info.last_port)
        return;
    for (auto field : gsm_port_profile_texts) {
        free(pi->*field);
        pi->*field = nullptr;
    }
    free(pi->sw_pkgversion);
    pi->sw_pkgversion = nullptr;
}

// ---- re-registration and SIM messages ------------------------------------------------

bool gsm_pin_is_sendable(const char *pin)
{
    size_t n = pin ? strlen(pin) : 0;
    if (n < 4 || n > 8)
        return false;
    for (size_t i = 0; i < n; i++)
        if (!isdigit((unsigned char)pin[i]))
            return false;
    return true;
}

void gsm_try_reregistering_to_network(int port, int blocking)
{
    query(port, GSM_EVENT_TYPE_CPIN, "AT#SIMDET=0\r\n", blocking, 0);
    sleep(1);
    query(port, GSM_EVENT_TYPE_CPIN, "AT#SIMDET=1\r\n", blocking, 0);
    port_group_gsm_port_setting *s = pg_get_port_group_gsm_port_settings_by_port(port);
    int wait = eo() ? eo()->eo_lte_register_workaround_pin_wait_time : 0;
    if (s && s->pin && s->pin[0] && wait != 0) {
        sleep((unsigned)wait);
        // The PIN goes into a command line: anything but digits could add
        // commands of its own.
        if (gsm_pin_is_sendable(s->pin)) {
            char cmd[32];
            snprintf(cmd, sizeof cmd, "AT+CPIN=%s\r\n", s->pin);
            query(port, GSM_EVENT_TYPE_CPIN, cmd, blocking, 0);
        } else {
            LOGD(GSM, 0, nullptr, "CRITICAL: PIN of GSM port %i is not 4 to 8 digits, not sent", port);
        }
    }
    sleep(1);
    query(port, GSM_EVENT_TYPE_CREG, "AT+CREG=2\r\n", blocking, 0);
    query(port, GSM_EVENT_TYPE_DVI, "AT#DVI=1,2,0\r\n", blocking, 1);
    gsm_cbm_mark_for_rearm(port);
}

// The answers go to the event callback, which files the messages; nothing
// is kept here.
void gsm_port_read_sms_from_sim(int port, int count)
{
    for (int slot = 1; slot <= count; slot++) {
        char cmd[32];
        snprintf(cmd, sizeof cmd, "AT+CMGR=%d\r\n", slot);
        query(port, GSM_EVENT_TYPE_CMGR, cmd, 0, 1);
        usleep(500 * 1000);
    }
}

void gsm_ports_delete_sms_from_sim(int count)
{
    if (!gp)
        return;
    gp->gsm_port_info.last_port = 1;
    gp->gsm_port_info.aquire_start = (int)time(nullptr);
    for (int port : configured_port_numbers(gp->config_gsm)) {
        gsm_port_info *pi = info_of(port);
        if (!pi)
            continue;
        pi->active = 1;
        if (!pi->ready || !gsm_port_is_idle(port))
            continue;
        gp->gsm_port_info.last_port = port;
        gsm_port_read_sms_from_sim(port, count);
    }
}

// ---- restarts ----------------------------------------------------------------------------

std::atomic<int> gsm_port_restart_necessary[GSM_PORT_TABLE];

enum { GSM_RESTART_DUE = 2, GSM_RESTART_RETRY = 30, GSM_ALIVE_PERIOD = 300 };

void set_gsm_port_restart_necessary(int port)
{
    if (port >= 1 && port <= GSM_MAX_PORTS)
        gsm_port_restart_necessary[port] = GSM_RESTART_DUE;
}

void gsm_port_restart_tick(int second)
{
    for (int port = 1; port <= GSM_MAX_PORTS; port++) {
        std::atomic<int> &c = gsm_port_restart_necessary[port];
        int n = c.load();
        if (n == 1) {
            LOGD(GSM, 0, nullptr, "CRITICAL: Restarting GSM port %i", port);
            gsm_hook.restart_gsm_port(nullptr, port);
            c = 0;
            gsm_port_info *pi = info_of(port);
            if (restart_hook_set && pi && pi->ready) {
                LOGD(GSM, 0, nullptr, "CRITICAL: Restarting GSM port %i successful", port);
            } else {
                LOGD(GSM, 0, nullptr,
                     "CRITICAL: Restarting GSM port %i not successful, scheduling new restart in %i seconds", port,
                     GSM_RESTART_RETRY);
                c = GSM_RESTART_RETRY;
            }
        } else if (n > 1) {
            // A new request set meanwhile wins over the count-down.
            c.compare_exchange_strong(n, n - 1);
        }
    }
    if (second % GSM_ALIVE_PERIOD == 0)
        LOGD(GSM, 5, nullptr, "alive for %i seconds", second);
}

void *gsm_port_restart_helper(void *)
{
    prctl(PR_SET_NAME, "tarn.gsmhelper", 0, 0, 0);
    for (int second = 0;; second++) {
        gsm_port_restart_tick(second);
        sleep(1);
    }
    return nullptr;
}
