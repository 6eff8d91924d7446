// The caller-ID watchdog of FXO ports: before the first ring a call object
// waits on each FXO port in the watchdog state of the FXO-to-SIP machine,
// with a media channel listening on the port's timeslot, so caller ID sent
// before the ring is not lost.
#pragma once
#include <cstdint>

#include "sm_defs.h"

struct call_object;
struct statemachine;

enum cid_detection_mode { CID_MODE_BELLCORE = 0, CID_MODE_ETSI_DTMF = 1, CID_MODE_ETSI_DTMF_AR = 2 };

// 1 when 1 <= port <= size of analog_info and the port is FXO (FXS), else 0.
int analog_port_is_fxo(int port);
int analog_port_is_fxs(int port);

// What call control provides for a parked call. While either is unset the
// watchdog picks its ports and logs, but parks nothing.
struct analog_watchdog_hooks {
    // The call's FXO-to-SIP machine in the given state, sending its events
    // with call control's sender.
    statemachine *(*create_statemachine_fxo_to_sip)(call_object *co, uint32_t state);
    // The call's voice channel between its timeslot and RTP.
    int (*call_msp_setup_voice_channel)(call_object *co, int lock_msp_queue);
};
// Takes the non-null members (null keeps what is there); null clears both.
void analog_watchdog_set_hooks(const analog_watchdog_hooks *hooks);

// The cid_mode of an FXO port's fxo_cid_detection_mode text.
int analog_cid_mode_of(const char *text);

// Sets every configured analog port's cid_mode and starts the watchdog on
// the ports that need it; 0.
int init_analog_watchdog();
// Starts the watchdog on one port, under global_lock when lock is set.
void start_analog_watchdog_on_port(int port, int lock);
