// Call detail records: one comma-separated line per released call, to the
// message and verbose logs and, with CDR logging on, to the CDR file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

struct call_object;

struct cdr_info {
    int32_t from;          // technology of the calling side
    int32_t to;            // technology of the called side
    int32_t terminated_by; // technology of the side that ended the call
    int32_t tc_incoming_event;
    int32_t tc_incoming_status;
    int32_t tc_outgoing_event;
    int32_t tc_outgoing_status;
    time_t call_start;
    time_t call_stop;
    time_t connect_start; // 0: never answered
    time_t connect_stop;
};

enum { CDR_LINE_MAX = 1023 };

// Technologies 7, events and statuses -1, times 0; returns cdr.
cdr_info *cdr_reset(cdr_info *cdr);
// "YY/MM/DD-hh:mm:ss" of a broken-down local time.
void cdr_format_datetime(char *buf, size_t size, const struct tm *t);
// The text of an internal termination cause; "UNKNOWN" for others.
const char *cdr_get_tarn_termination_cause(int cause);
// Writes the record of one call (none for internal calls and SIP messages).
void cdr_write_out(call_object *co);

// Event names come from call control's event table, built elsewhere; until
// it fills this the writer logs once and prints an empty name.
extern const char *(*cdr_print_event)(int event);
