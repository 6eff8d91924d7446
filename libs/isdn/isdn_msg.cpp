#include "isdn_msg.h"

#include <cstdio>

#include "isdn_msg_parser.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "strtools.h"

constexpr isdn_msg msgs_g[ISDN_MSG_ROWS + 1] = {
    {0x30200, L3, EVENT_PROCEEDING, parse_proceeding, build_proceeding, "PROCEEDING"},
    {0x30100, L3, EVENT_ALERTING, parse_alerting, build_alerting, "ALERTING"},
    {0x30300, L3, EVENT_PROGRESS, parse_progress, build_progress, "PROGRESS"},
    {0x30500, L3, EVENT_SETUP, parse_setup, build_setup, "SETUP"},
    {0x30700, L3, EVENT_CONNECT, parse_connect, build_connect, "CONNECT"},
    {0x30D00, L3, EVENT_SETUP_ACKNOWLEDGE, parse_setup_acknowledge, build_setup_acknowledge, "SETUP_ACKNOWLEDGE"},
    {0x30F00, L3, EVENT_CONNECT_ACKNOWLEDGE, parse_connect_acknowledge, build_connect_acknowledge, "CONNECT_ACKNOWLEDGE "},
    {0x32000, L3, EVENT_USER_INFORMATION, parse_user_information, build_user_information, "USER_INFORMATION"},
    {0x32100, L3, EVENT_SUSPEND_REJECT, parse_suspend_reject, build_suspend_reject, "SUSPEND_REJECT"},
    {0x32200, L3, EVENT_RESUME_REJECT, parse_resume_reject, build_resume_reject, "RESUME_REJECT"},
    {0x32400, L3, EVENT_HOLD, parse_hold, build_hold, "HOLD"},
    {0x32500, L3, EVENT_SUSPEND, parse_suspend, build_suspend, "SUSPEND"},
    {0x32600, L3, EVENT_RESUME, parse_resume, build_resume, "RESUME"},
    {0x32800, L3, EVENT_HOLD_ACKNOWLEDGE, parse_hold_acknowledge, build_hold_acknowledge, "HOLD_ACKNOWLEDGE"},
    {0x32D00, L3, EVENT_SUSPEND_ACKNOWLEDGE, parse_suspend_acknowledge, build_suspend_acknowledge, "SUSPEND_ACKNOWLEDGE"},
    {0x32E00, L3, EVENT_RESUME_ACKNOWLEDGE, parse_resume_acknowledge, build_resume_acknowledge, "RESUME_ACKNOWLEDGE"},
    {0x33000, L3, EVENT_HOLD_REJECT, parse_hold_reject, build_hold_reject, "HOLD_REJECT"},
    {0x33100, L3, EVENT_RETRIEVE, parse_retrieve, build_retrieve, "RETRIEVE"},
    {0x33300, L3, EVENT_RETRIEVE_ACKNOWLEDGE, parse_retrieve_acknowledge, build_retrieve_acknowledge, "RETRIEVE_ACKNOWLEDGE"},
    {0x33700, L3, EVENT_RETRIEVE_REJECT, parse_retrieve_reject, build_retrieve_reject, "RETRIEVE_REJECT"},
    {0x34500, L3, EVENT_DISCONNECT, parse_disconnect, build_disconnect, "DISCONNECT"},
    {0x34600, L3, EVENT_RESTART, parse_restart, build_restart, "RESTART"},
    {0x34D00, L3, EVENT_RELEASE, parse_release, build_release, "RELEASE"},
    {0x35A00, L3, EVENT_RELEASE_COMPLETE, parse_release_complete, build_release_complete, "RELEASE_COMPLETE"},
    {0x36200, L3, EVENT_FACILITY, parse_facility, build_facility, "FACILITY"},
    {0x36E00, L3, EVENT_NOTIFY, parse_notify, build_notify, "NOTIFY"},
    {0x37500, L3, EVENT_STATUS_ENQUIRY, parse_status_enquiry, build_status_enquiry, "STATUS_ENQUIRY"},
    {0x37B00, L3, EVENT_INFORMATION, parse_information, build_information, "INFORMATION"},
    {0x37D00, L3, EVENT_STATUS, parse_status, build_status, "STATUS"},
    {0x3FF00, L3, EVENT_TIMEOUT, parse_timeout, build_timeout, "TIMEOUT"},
    {0x36400, L3, EVENT_REGISTER, parse_register, build_register, "REGISTER"},
    {0, L3, (event_e)0, nullptr, nullptr, nullptr},
};

const char EVENT_TONE_GENERATE_INFO[] = "TONE_GENERATE";
const char EVENT_BCHAN_DATA_INFO[] = "BCHAN_DATA";
const char EVENT_BCHAN_ACTIVATED_INFO[] = "BCHAN_ACTIVATED";
const char EVENT_BCHAN_ERROR_INFO[] = "BCHAN_ERROR";
const char EVENT_CLEAN_INFO[] = "CLEAN_UP";
const char EVENT_DTMF_TONE_INFO[] = "DTMF_TONE";
const char EVENT_NEW_L3ID_INFO[] = "NEW_L3ID";
const char EVENT_NEW_BC_INFO[] = "NEW_BC";
const char EVENT_PORT_ALARM_INFO[] = "ALARM";
const char EVENT_NEW_CHANNEL_INFO[] = "NEW_CHANNEL";

thread_local char global_ie_buf[GLOBAL_IE_BUF_SIZE];
thread_local bool global_ie_trace;

enum { TRACE_LEVEL = 66 };

// The first row of each message type and of each event of msgs_g, so that
// the lookups in the library's own table need no walk.
struct msg_rows {
    int8_t by_type[256];
    int8_t by_event[EVENT_UNKNOWN - EVENT_NOTHING + 1];
    constexpr msg_rows() : by_type(), by_event()
    {
        for (int8_t &r : by_type)
            r = -1;
        for (int8_t &r : by_event)
            r = -1;
        for (int i = ISDN_MSG_ROWS - 1; i >= 0; i--) {
            by_type[(msgs_g[i].misdn_msg >> 8) & 0xFF] = (int8_t)i;
            by_event[msgs_g[i].event - EVENT_NOTHING] = (int8_t)i;
        }
    }
};
static constexpr msg_rows rows_g;

int isdn_msg_get_index(const isdn_msg *msgs, const msg_t *frm, int nt)
{
    uint32_t prim = l3_frame_prim(frm, nt);
    if (msgs == msgs_g)
        return rows_g.by_type[(prim >> 8) & 0xFF];
    for (int i = 0; i < ISDN_MSG_ROWS; i++)
        if ((prim & 0xFF00) == (msgs[i].misdn_msg & 0xFF00))
            return i;
    return -1;
}

int isdn_msg_get_index_by_event(const isdn_msg *msgs, event_e event, int nt)
{
    (void)nt;
    if (msgs == msgs_g && event >= EVENT_NOTHING && event <= EVENT_UNKNOWN) {
        int i = rows_g.by_event[event - EVENT_NOTHING];
        if (i >= 0)
            return i;
    } else {
        for (int i = 0; i <= ISDN_MSG_ROWS; i++)
            if (msgs[i].event == event)
                return i;
    }
    cb_log_as("isdn_msg_get_index_by_event", 10, 0, -1, "get_index: event not found!\n");
    return -1;
}

event_e isdn_msg_get_event(const isdn_msg *msgs, const msg_t *frm, int nt)
{
    int i = isdn_msg_get_index(msgs, frm, nt);
    return i < 0 ? EVENT_UNKNOWN : msgs[i].event;
}

const char *isdn_msg_get_info(const isdn_msg *msgs, const msg_t *frm, int nt)
{
    int i = isdn_msg_get_index(msgs, frm, nt);
    return i < 0 ? nullptr : msgs[i].info;
}

const char *isdn_get_info(const isdn_msg *msgs, event_e event, int nt)
{
    int i = isdn_msg_get_index_by_event(msgs, event, nt);
    if (i >= 0)
        return msgs[i].info;
    switch (event) {
    case EVENT_TONE_GENERATE: return EVENT_TONE_GENERATE_INFO;
    case EVENT_BCHAN_DATA: return EVENT_BCHAN_DATA_INFO;
    case EVENT_BCHAN_ACTIVATED: return EVENT_BCHAN_ACTIVATED_INFO;
    case EVENT_BCHAN_ERROR: return EVENT_BCHAN_ERROR_INFO;
    case EVENT_CLEANUP: return EVENT_CLEAN_INFO;
    case EVENT_DTMF_TONE: return EVENT_DTMF_TONE_INFO;
    case EVENT_NEW_L3ID: return EVENT_NEW_L3ID_INFO;
    case EVENT_NEW_BC: return EVENT_NEW_BC_INFO;
    case EVENT_PORT_ALARM: return EVENT_PORT_ALARM_INFO;
    case EVENT_NEW_CHANNEL: return EVENT_NEW_CHANNEL_INFO;
    default: return nullptr;
    }
}

int isdn_msg_parse_event(const isdn_msg *msgs, msg_t *frm, misdn_bchannel *bc, int nt)
{
    int i = isdn_msg_get_index(msgs, frm, nt);
    if (i < 0 || !bc)
        return -1;
    msgs[i].msg_parser(msgs, frm, bc, nt);
    return 0;
}

msg_t *isdn_msg_build_event(const isdn_msg *msgs, misdn_bchannel *bc, event_e event, int nt)
{
    int i = isdn_msg_get_index_by_event(msgs, event, nt);
    if (i < 0 || !msgs[i].msg_builder || !bc)
        return nullptr;
    return msgs[i].msg_builder(msgs, bc, nt);
}

void isdn_trace_head(int port, const char *name)
{
    global_ie_trace = misdn_log_wanted(TRACE_LEVEL, port);
    if (global_ie_trace)
        snprintf(global_ie_buf, sizeof(global_ie_buf), " MT_%s\n", name);
}

void tx_log(const misdn_bchannel *bc)
{
    if (!global_ie_trace)
        return;
    cb_log(TRACE_LEVEL, bc->port, bc->pid, "ISDN TX: %s, %s, Port %i, Channel %i \n>>>>>>>>\n%s\n>>>>>>>>\n",
           bc->nt ? "NT" : "TE", q931_port_is_pri(bc->port) ? "PRI" : "BRI", bc->port, bc->channel,
           global_ie_buf);
}

void rx_log(const misdn_bchannel *bc)
{
    if (!global_ie_trace)
        return;
    cb_log(TRACE_LEVEL, bc->port, bc->pid, "ISDN RX: %s, %s, Port %i, Channel %i \n<<<<<<<<\n%s\n<<<<<<<<\n",
           bc->nt ? "NT" : "TE", q931_port_is_pri(bc->port) ? "PRI" : "BRI", bc->port, bc->channel,
           global_ie_buf);
}
