// Call control of analog FXS and FXO ports: the line callback, the
// admission of calls from a port, commands to a port with their trace, the
// console's forced off-hook, message waiting toward a telephone and the
// helpers the analog table actions share. Everything runs under
// global_lock unless said otherwise.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "sm_defs.h"

struct call_object;
struct csmchan_cndrxmsg_indication;

// A call's analog_port carries this bit while the port is suspended (its
// call is on hold and the other call of the pair holds the line).
enum { ANALOG_PORT_SUSPENDED = 0x800 };
// The port number without the suspended bit.
inline int analog_port_number(int analog_port) { return analog_port & ~ANALOG_PORT_SUSPENDED; }

// Line callback handed to the analog library at start; takes global_lock.
// Returns 0.
int analog_cb_events(int port, unsigned int event);

// Starts a call from an analog port (FXO ringing, FXS off-hook); oad is a
// caller id already received (may be empty); hold set skips the port-in-use
// test (a second call of a telephone on hold). -1 when no call was started.
int init_incoming_analog_call(int port, int event, const char *oad, call_object **retco, int hold);

// Picks and reserves a port for the dial plan target ("G:group" or a port
// list); 0 when none. ports_down counts FXO ports skipped for low voltage.
int get_free_analog_port_by_dialplan_string(call_object *co, const char *target, int *ports_down);

// Marks a port in use.
void mark_analog_port_as_used(int port);
// The out-event sender of the SIP-to-analog machines; 0.
int32_t tarn_analog_send_event(void *p, void *arg, int32_t out_event);
// Traces and sends one analog command to the port; the driver's result.
int verbose_analog_send_event(call_object *co, int port, int event);
// The console's forced off-hook of an FXO port (enable 1 = off hook); 0, or
// -1 with the reason in answer.
int set_fxo_offhooked(int port, int enable, char *answer, int size);
// Message-waiting indication toward an idle FXS port; 0.
int analog_fxs_send_message_waiting_fsk(int port, int on);
// Housekeeping's periodic refresh: every FXS port whose message-waiting
// state is not yet delivered gets its indication.
void fxs_message_waiting_refresh();

// The caller id of an FSK indication of the media processor into the
// call's analog_oad and analog_display.
void parse_analog_callerid(call_object *co, const csmchan_cndrxmsg_indication *ind);

// An FSK caller-id message (on-hook generator) for an FXS telephone:
// message type 128, or 130 with the visual indicator for message waiting,
// then date and time, number and name, each only while the message stays
// below 128 bytes.
struct fsk_callerid_message {
    int type;
    int length; // parameter bytes
    uint8_t bytes[128];
};
// Fills m; returns its parameter bytes.
int fsk_callerid_build(fsk_callerid_message *m, const char *oad, const char *display, int message_waiting,
                       int message_waiting_on, const struct tm *now);
// Queues the message as FC_CND_ONHOOK_GEN on the call's timeslot (takes
// msp_queue_lock); 0, or -1.
int fsk_callerid_queue(call_object *co, const fsk_callerid_message *m);
// Arms the call timer that sends the caller id: cid_gen_time ms, or one
// second when that is 0 or less (T_EVENT_DIALING).
void analog_arm_caller_id_timer(call_object *co);

// The suspended bit of a call's port on and off.
void analog_port_suspend(call_object *co);
void analog_port_unsuspend(call_object *co);

// A port's key of the analog configuration (the schema default when the
// port has none); the bit of a suspended port is ignored. 0, or -1 (buf
// empty) when there is no such value.
int analog_port_setting(int port, int key, char *buf, size_t size);
// The number of digits after which the dial tone stops (0-9).
int analog_dialtone_digits(int port);

// The current time in seconds; tests replace it.
extern time_t (*analog_clock)(time_t *);

// A test action that no table names: prints "hallo"; {-1, -1}.
SM_ACTION(sm_print_hallo);
