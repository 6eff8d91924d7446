// The Q.931 message table: each message joined to its mISDN primitive, its
// library event, its parser and builder and its printable name; lookups by
// received frame and by event; the per-message trace text and its log lines.
#pragma once
#include <cstdint>

#include "isdn_lib_types.h"
#include "misdn_msg.h"
#include "strtools.h"

struct misdn_bchannel;
struct isdn_msg;

typedef int (*isdn_msg_parser)(const isdn_msg *msgs, msg_t *msg, misdn_bchannel *bc, int nt);
typedef msg_t *(*isdn_msg_builder)(const isdn_msg *msgs, misdn_bchannel *bc, int nt);

struct isdn_msg {
    uint32_t misdn_msg;   // 0x03MM00, MM the message type
    layer_e layer;
    event_e event;
    isdn_msg_parser msg_parser;
    isdn_msg_builder msg_builder;
    const char *info;
};

enum { ISDN_MSG_ROWS = 31, GLOBAL_IE_BUF_SIZE = 2048 };

// 31 rows and the all-zero end row.
extern const isdn_msg msgs_g[ISDN_MSG_ROWS + 1];

// Names of the events that have no message.
extern const char EVENT_TONE_GENERATE_INFO[];
extern const char EVENT_BCHAN_DATA_INFO[];
extern const char EVENT_BCHAN_ACTIVATED_INFO[];
extern const char EVENT_BCHAN_ERROR_INFO[];
extern const char EVENT_CLEAN_INFO[];
extern const char EVENT_DTMF_TONE_INFO[];
extern const char EVENT_NEW_L3ID_INFO[];
extern const char EVENT_NEW_BC_INFO[];
extern const char EVENT_PORT_ALARM_INFO[];
extern const char EVENT_NEW_CHANNEL_INFO[];

// The readable trace of the message being parsed or built. Each thread has
// its own, so parsing and building on different threads never mix. It is
// only written while global_ie_trace says the message's trace line will be
// logged (level 66 on for the port when its head was written).
extern thread_local char global_ie_buf[GLOBAL_IE_BUF_SIZE];
extern thread_local bool global_ie_trace;

int isdn_msg_get_index(const isdn_msg *msgs, const msg_t *frm, int nt);
int isdn_msg_get_index_by_event(const isdn_msg *msgs, event_e event, int nt);
event_e isdn_msg_get_event(const isdn_msg *msgs, const msg_t *frm, int nt);
// Name of the frame's message, null when it has no row.
const char *isdn_msg_get_info(const isdn_msg *msgs, const msg_t *frm, int nt);
// Name of an event (message or internal), null when it has none.
const char *isdn_get_info(const isdn_msg *msgs, event_e event, int nt);
// Runs the parser of the frame's row: 0, or -1 when the type has no row.
int isdn_msg_parse_event(const isdn_msg *msgs, msg_t *frm, misdn_bchannel *bc, int nt);
// Runs the builder of the event's row: its frame, or null.
msg_t *isdn_msg_build_event(const isdn_msg *msgs, misdn_bchannel *bc, event_e event, int nt);

// Starts the trace of a message on a port: decides whether it is traced and
// if so writes its head (" MT_<name>\n"), replacing the trace.
void isdn_trace_head(int port, const char *name);
// Appends to the trace, cut at its size; the arguments are only evaluated
// when the message is traced.
#define isdn_trace_add(...)                                                 \
    do {                                                                    \
        if (global_ie_trace)                                                \
            st_safe_strcat(global_ie_buf, GLOBAL_IE_BUF_SIZE, __VA_ARGS__); \
    } while (0)
// Log lines of a sent and of a received message with the trace.
void tx_log(const misdn_bchannel *bc);
void rx_log(const misdn_bchannel *bc);
