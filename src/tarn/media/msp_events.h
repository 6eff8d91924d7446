// What the media processor reports reaches the calls: the application's
// event handler of the media processor library, the classification of
// call-progress tones detected on analog and CAS lines and the console's
// tone test. Channel messages arrive under global_lock, device messages
// without it.
#pragma once
#include <sys/time.h>

#include <cstdint>

#include "csm_records.h"

struct call_object;

// Results that code waiting on a blocking device command reads afterwards.
extern volatile int msp_mdio_response_code;
extern volatile int msp_mdio_read_data;
extern volatile int msp_cleanup_conference_id;
extern volatile int msp_cleanup_participant_id;

// The handler given to msp_init_lib: the pid (event type 12345678) or ISDN
// channel record (12345679) of a call context, else 0.
intptr_t handle_msp_event(magic_csm msg, int eventtype, int channel);

// Call-progress tone classification of analog and CAS calls, and its
// console test form. Both return 0.
int handle_msp_event_eventdet_analog(call_object *co, const csmchan_voip_eventdet_indication *ind,
                                     const struct timeval *now);
int handle_msp_event_eventdet_tonetest(call_object *co, const csmchan_voip_eventdet_indication *ind,
                                       const struct timeval *now);

// The clock the handler stamps events with (tests replace it; null restores
// the time of day).
void msp_events_set_clock(void (*clock)(struct timeval *now));

// Bytes of a call's HDLC receive buffer.
enum { HDLC_RECEIVE_BUFFER = 2048 };
