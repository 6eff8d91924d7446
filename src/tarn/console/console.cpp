#include "console.h"

#include <pthread.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "console_hooks.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "global_lock.h"
#include "init_logging.h"
#include "log.h"
#include "mc_options.h"
#include "msp_queue.h"
#include "msp_resource.h"

// Timeslots a query may name.
enum { MC_TIMESLOT_MAX = 511 };

int mc_handle_input(const char *input, FILE *out, int *state)
{
    int local = 0;
    if (!state)
        state = &local;
    if (!input)
        input = "";
    if (!out)
        return *state;
    LOGD(TARN, 9, nullptr, "|%s| on fd %i", input, fileno(out));

    if (*state != 0) {
        mc_handle_extrainfo(input, out, state);
        *state = 0;
        return 0;
    }

    size_t len = strlen(input);
    const mc_option *hit = nullptr;
    const char *arg = "";
    for (int k = 0; k < MC_OPTIONS_COUNT && !hit; k++) {
        const mc_option &o = mc_options[mc_options[k].index];
        if (o.command_length > 0) {
            if (len > (size_t)o.command_length && strncmp(input, o.command, (size_t)o.command_length) == 0) {
                hit = &o;
                arg = input + o.command_length;
            }
        } else if (strcmp(input, o.command) == 0) {
            hit = &o;
        }
    }

    int result = 0;
    if (hit) {
        mc_set_current_option(hit);
        result = hit->mc_function(arg, out, state);
        mc_set_current_option(nullptr);
    } else {
        fprintf(out, "Unknown input: %s\n", input);
    }
    fputs("\r\n", out);
    fflush(out);
    if (result >= 1) {
        *state = result;
        return result;
    }
    return *state;
}

// "5" of a timeslot question: digits only, 0 to 511.
static bool parse_timeslot(const char *text, int *ts)
{
    if (!*text || strlen(text) > 3)
        return false;
    for (const char *p = text; *p; p++)
        if (!isdigit((unsigned char)*p))
            return false;
    *ts = atoi(text);
    return *ts <= MC_TIMESLOT_MAX;
}

static void query_timeslot(const char *input, FILE *out)
{
    int ts;
    if (!parse_timeslot(input, &ts)) {
        fprintf(out, "Ignoring invalid value %s\n", input);
        fputs("\r\n", out);
        return;
    }
    fprintf(out, "Channel Usage: %i/%i\n", msp_get_channel_usage(), msp_get_total_channels());
    fprintf(out, "Printing info for timeslot %i\n", ts);
    if (!gp)
        return;
    pthread_mutex_t *ql = g_lock_manager ? g_lock_manager->msp_queue_lock : nullptr;
    if (ql)
        pthread_mutex_lock(ql);
    int index = gp->msp_counter++;
    if (ql)
        pthread_mutex_unlock(ql);
    magic_csm q = create_query_csm_msg(FC_SUPVSR_CREATE_CHANNEL, CSM_CLASS_DEVICE, CSM_TYPE_QUERY, index);
    if (csm_msg_is_null(q))
        return;
    q.u_csmdev_create_channel_query->timeslot = (uint32_t)ts;
    _msp_queue_command(q, MSP_ADDRESS_DEVICE, nullptr, 0, 0, __FILE__, __func__, __LINE__);
}

// A call index: a first character that is a digit or the end of the line.
static void show_call_configuration(const char *input, FILE *out)
{
    if (*input && !isdigit((unsigned char)*input)) {
        fprintf(out, "Ignoring invalid value %s\n", input);
        fputs("\r\n", out);
        return;
    }
    long n = strtol(input, nullptr, 10); // digits only from here: never negative
    if (n >= OPERATIONARRAYSIZE || !gp) {
        fprintf(out, "Ignoring invalid value %i\n", n > INT_MAX ? INT_MAX : (int)n);
        return;
    }
    int idx = (int)n;
    call_object *co = gp->operations[idx];
    if (!co || co->callinfo == 0) {
        fprintf(out, "No call at index %i\n", idx);
        return;
    }
    mc_hooks().cc_print_call_configuration(out, &co->cc, 0, 0);
}

int mc_handle_extrainfo(const char *input, FILE *out, int *state)
{
    int s = *state;
    *state = 0;
    switch (s) {
    case 2:
        if (strcmp(input, "y") == 0) {
            fputs("Shutting down application!\n", out);
            fputs("\r\n", out);
            fflush(out);
            mc_hooks().shutdown_nua();
        } else {
            fputs("Cancelling request!\n", out);
            fputs("\r\n", out);
        }
        break;
    case 3:
    case 4:
        if (isdigit((unsigned char)input[0])) {
            set_loglevels(s == 3 ? log_levels_debug : log_levels_message, input);
            mc_hooks().list_loglevels(out);
        } else {
            fputs("Cancelling request!\n", out);
            fputs("\r\n", out);
        }
        break;
    case 5:
        mc_hooks().parse_and_update_netlog_target(out, input);
        break;
    case 6:
        query_timeslot(input, out);
        break;
    case 7:
        show_call_configuration(input, out);
        break;
    default:
        break;
    }
    fflush(out);
    return 0;
}

// ---------------------------------------------------------------------------
// Help

static const char HELP_HEADING[] = "TARN Status Monitor\n";

const char *mc_util_format_command_type(int type)
{
    switch (type) {
    case MC_TYPE_STATUS: return "STATUS";
    case MC_TYPE_HIDDEN: return "HIDDEN";
    case MC_TYPE_INFO: return "INFO";
    case MC_TYPE_SIP: return "SIP";
    case MC_TYPE_ISDN: return "ISDN";
    case MC_TYPE_ANALOG: return "ANALOG";
    case MC_TYPE_GSM: return "GSM";
    case MC_TYPE_LOG: return "LOG";
    case MC_TYPE_CTRL: return "CTRL";
    case MC_TYPE_MISC: return "MISC";
    case MC_TYPE_CAS: return "CAS";
    case MC_TYPE_MSP: return "MSP";
    default: return "UNKNOWN";
    }
}

void mc_util_print_option(int row, FILE *out)
{
    if (row < 0 || row >= MC_OPTIONS_COUNT)
        return;
    const mc_option &o = mc_options[row];
    char usage[128];
    snprintf(usage, sizeof usage, "%s%s", o.command, o.parameters);
    fprintf(out, "%-12s: %s\n", usage, o.description);
}

static bool hidden(int row)
{
    return mc_options[row].command_type & MC_TYPE_HIDDEN;
}

// Rows in table order, or in sorted order, that pass `keep`.
template <typename Keep> static void print_rows(FILE *out, bool sorted, Keep keep)
{
    for (int k = 0; k < MC_OPTIONS_COUNT; k++) {
        int row = sorted ? (int)mc_options[k].index : k;
        if (keep(row))
            mc_util_print_option(row, out);
    }
}

int mc_util_print_help_filtered(int type, FILE *out)
{
    fprintf(out, "TARN Status Monitor [%s]\n", mc_util_format_command_type(type));
    if (type == MC_TYPE_HIDDEN)
        print_rows(out, false, [](int row) { return hidden(row); });
    else
        print_rows(out, false, [type](int row) { return (mc_options[row].command_type & type) && !hidden(row); });
    return 0;
}

int mc_util_print_help(const char *, FILE *out, int *)
{
    fputs(HELP_HEADING, out);
    print_rows(out, false, [](int row) { return !hidden(row); });
    return 0;
}

int mc_util_print_help_ordered(const char *, FILE *out, int *)
{
    fputs(HELP_HEADING, out);
    print_rows(out, true, [](int row) { return !hidden(row); });
    return 0;
}

int mc_util_print_help_selected(const char *arg, FILE *out, int *)
{
    fputs(HELP_HEADING, out);
    print_rows(out, true, [arg](int row) { return !hidden(row) && strstr(mc_options[row].command, arg); });
    return 0;
}

int mc_util_print_help_full(const char *, FILE *out, int *)
{
    fputs(HELP_HEADING, out);
    print_rows(out, false, [](int) { return true; });
    return 0;
}

int mc_util_print_help_full_ordered(const char *, FILE *out, int *)
{
    fputs(HELP_HEADING, out);
    print_rows(out, true, [](int) { return true; });
    return 0;
}

int mc_util_print_help_info(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_INFO, out);
}

int mc_util_print_help_sip(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_SIP, out);
}

int mc_util_print_help_isdn(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_ISDN, out);
}

int mc_util_print_help_analog(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_ANALOG, out);
}

int mc_util_print_help_gsm(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_GSM, out);
}

int mc_util_print_help_log(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_LOG, out);
}

int mc_util_print_help_misc(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_MISC, out);
}

int mc_util_print_help_msp_log(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_MSP, out);
}

int mc_util_print_help_hidden(const char *, FILE *out, int *)
{
    return mc_util_print_help_filtered(MC_TYPE_HIDDEN, out);
}

int mc_util_print_help_hidden_ordered(const char *, FILE *out, int *)
{
    fprintf(out, "TARN Status Monitor [%s]\n", mc_util_format_command_type(MC_TYPE_HIDDEN));
    print_rows(out, true, [](int row) { return hidden(row); });
    return 0;
}

// ---------------------------------------------------------------------------

int mc_tarn_client_disconnect(const char *arg, FILE *out, int *)
{
    if (out == stdout) {
        fprintf(out, "Unknown input: %s\n", arg);
        return 0;
    }
    fputs("Closing terminal\n", out);
    return 1;
}
