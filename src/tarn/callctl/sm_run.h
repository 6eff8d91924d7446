// Running the machines of calls and registrations, the bookkeeping on
// their state changes, the dismantling timer, and ending calls from
// outside (console, PCM bridging, shutdown, the safeguard timer).
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "sm_defs.h"

struct call_object;
struct reg_object;
struct port_group_sip;

// One event through a call's machine; the caller holds global_lock and has
// checked that co->sm exists. Logs "[event:status] old => new", keeps the
// call statistics and CDR fields, starts the media channel on entering
// SM_CALL_ACTIVE and arms the force-T.38 timer. Returns 0.
int do_statemachine_run(call_object *co, int event, int arg);
// The same for a registration (global_lock held); pulls the ISDN layers of
// the registration's layer-control groups down after a failure and up
// while it stays registered. Returns 0.
int do_reg_statemachine_run(reg_object *ro, int event, int arg);

// The ISDN layer control of a SIP peer that stays unreachable: for each
// layer-control group of pgs whose off time has passed since last_success,
// every idle port of the ISDN port groups of that name that is up goes
// down ("Pulling Layer Down on ISDN port %i"). Caller holds global_lock.
void pull_isdn_layers_down(const port_group_sip *pgs, time_t last_success);

// "%s %s INSTATE %i complex event: type %i, event %i, state%i\n" on
// standard output.
void print_statemachine_event(const char *text, call_object *co, int state, int event);

// Arms the call's dismantling timer (T_EVENT_CLEANUP after
// dismantling_timeout seconds) once; 0.
int start_dismantling_timer(call_object *co);

// Ending calls from outside: each queues GENERAL_EVENT_FINISH_CALL for the
// task runner. fp (may be null) receives the report lines.
void finish_call(FILE *fp, int index, int from);
void finish_call_by_pid(FILE *fp, int pid);
// Takes global_lock; an empty or null address does nothing.
void finish_all_calls_by_remote_ip(const char *ip);
void finish_all_calls_by_remote_ip_and_port(const char *ip, const int *ports, int count);
// The caller holds global_lock.
void finish_call_by_remote_ip_and_port(const char *ip, int port);

// The statistics slot of a call's port: 0 for no port, an unknown kind or
// a port beyond the per-port arrays.
int sm_statistics_port_index(const call_object *co);

// What a machine run needs of the media side, built elsewhere. Unfilled
// members log once and do nothing.
struct callctl_media_hooks {
    // Starts the call's media channel (voice, T.38, bridging).
    int (*start_channel_processing)(call_object *co);
    // Stops the tone generator of the call; lock 1: takes msp_queue_lock.
    int (*call_stop_msp_tone)(call_object *co, int lock);
    // Checks the inbound RTP counters of a call (periodic timer); the
    // caller holds msp_queue_lock.
    void (*call_rtp_stat)(call_object *co);
};
// Takes the non-null members; null puts every member back to unfilled.
void callctl_set_media_hooks(const callctl_media_hooks *hooks);
const callctl_media_hooks &callctl_media();
