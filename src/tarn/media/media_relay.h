// Tones the media processor detects on a call (DTMF digits, fax tones) and
// the decisions on them, the T.38 fax channel, the DTMF senders towards the
// line and the SIP side, and the tone actions of the call state tables.
// Callers hold global_lock.
#pragma once
#include <sys/time.h>

#include "csm_records.h"
#include "statemachine.h"

struct call_object;

// Tone values of the tone detector.
enum {
    DTMF_STAR = 10,
    DTMF_POUND = 11,
    V25_WITHOUT_PHASE_REVERSAL = 16,
    T30_CNG_START_DETECTED = 32,
    V21_FLAGS_DETECTED = 34,
    END_OF_TONE = 255,
};

// Tone directions of a generated tone.
enum { FROM_TDM = 0, FROM_PACKET = 1, TO_TDM = 2, TO_PACKET = 3 };

// 1 only while the IP-side tone detection runs the fax-tone handler.
extern int ip_fax_tonedetect;

// The processor's tone time stamp in the units of the history (eighths).
int32_t msp_tone_timestamp(uint32_t lsb, uint32_t msb);

// A tone detected on the call's TDM side: stored in the call's history and
// handed on by call kind and state. Always 0.
int handle_msp_event_tonedet(call_object *co, const csmchan_voip_tonedet_indication *ind,
                             const struct timeval *received);
// The fax decisions on a fax tone (also for tones found on the IP side). 0.
int handle_msp_fax_tone(call_object *co, const csmchan_voip_tonedet_indication *ind,
                        const struct timeval *received);

// Clears the call's echo_cancel and queues one all-zero FC_VOIP_ECHOCAN
// (canceller, filters and NLP off) on its timeslot.
void media_echo_canceller_off(call_object *co);

// Replaces whatever channel serves the call's timeslot by a T.38 fax
// channel towards the SIP leg's remote UDPTL endpoint.
void setup_msp_t38_channel(call_object *co, int lock_msp_queue);

// Plays the first character of `digit` as a DTMF tone pair for `duration`
// ms towards the line (FROM_TDM, TO_TDM) or the IP side (FROM_PACKET,
// TO_PACKET), when the call's regeneration flag for that side is set.
void send_inband_dtmf(call_object *co, const char *digit, int direction, int duration);
// Relays a digit code (0-15) to the SIP side in the leg's DTMF mode.
void send_dtmf_to_sip(call_object *co, int code, int duration);
// The SIP INFO body of a digit code: false for a code outside 0-15.
bool dtmf_info_body(int code, int duration, char *buf, size_t size);

// Tone actions of the call state tables; each returns {-1, -1}.
statemachine_handle_retval sm_msp_start_tone_hangup(void *owner, void *data, int32_t state, int32_t event);
statemachine_handle_retval sm_msp_start_tone_none(void *owner, void *data, int32_t state, int32_t event);
statemachine_handle_retval sm_msp_start_tone_alerting(void *owner, void *data, int32_t state, int32_t event);
statemachine_handle_retval sm_msp_send_tone_busy(void *owner, void *data, int32_t state, int32_t event);
statemachine_handle_retval sm_release_logical_timeslot(void *owner, void *data, int32_t state, int32_t event);
// The tone-set name of a port's section ("tones", at most 15 characters,
// brackets removed) in the ISDN, analog or CAS configuration.
void media_port_tone_set(int kind, int port, char *buf, size_t size);
enum { TONESET_ISDN, TONESET_ANALOG, TONESET_CAS };
