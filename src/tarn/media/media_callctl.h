// What the media channel operations need of call control. Call control
// fills one record of function pointers at start; until an entry is filled
// the step that needs it is skipped, with one level-2 line the first time.
#pragma once
#include <cstdint>

#include "csm_records.h"
#include "timer.h"

struct call_object;

struct media_callctl_iface {
    // Stops the call's voice, T.38, HDLC and tone processing on the media
    // processor (lock flag as the channel operations have it).
    int (*call_stop_rtp)(call_object *co, int lock_msp_queue);
    // 1 when the call's line port uses u-law, 0 for A-law.
    int (*call_get_law_setting)(call_object *co);
    // Runs one step (a crypto_offer value) of the active leg's SRTP state.
    void (*call_crypto_update)(call_object *co, int crydir);
    // The timer callback that turns a call timer's expiry into its event.
    TimerEvent cb_timer_event;
    // The six DTMF detector tuning values of a "a:b:c:d:e:f" text.
    void (*parse_dtmf_tune_params)(const char *text, int *frequency_deviation, int *negative_twist,
                                   int *positive_twist, int *minimum_level, int *snr_adjustment,
                                   int *control);
    // Relays a digit (0-15) detected on the call's line side; the first
    // argument 0 for the tone detector.
    void (*process_dtmf)(int from_ip, call_object *co, int digit);
    // Queues an event word for the call's machine on the task list.
    int (*add_sm_task)(call_object *co, int event);
    // Runs one event through the call's machine (global_lock held).
    int (*do_statemachine_run)(call_object *co, int event, int arg);
    // Arms the call's dismantling timer.
    int (*start_dismantling_timer)(call_object *co);
    // The character of a tone detector's digit code, 0 for none.
    char (*tonedetect_to_ascii)(int code);
    // Decodes a received FSK caller ID into the call's number and name.
    void (*parse_analog_callerid)(call_object *co, const csmchan_cndrxmsg_indication *ind);
    // Plays an MFC/R2 signal on the call's channel (direction 3 or 4).
    void (*send_mfcr2_tone)(call_object *co, int direction, int signal, int duration_ms);
    // The passthrough code of a CAS signal 1-15 for direction 3 or 4, else 0.
    int (*cas_passthrough_map)(int direction, int value);
    // Queue the end of every call whose RTP peer has the address (takes
    // global_lock), or the address and port (global_lock held).
    void (*finish_all_calls_by_remote_ip)(const char *ip);
    void (*finish_call_by_remote_ip_and_port)(const char *ip, int port);
};

// Installs the filled entries of the record; entries left null keep what is
// installed, so each part of call control can fill its own. Null clears
// every entry. At start, before calls exist.
void media_set_callctl_iface(const media_callctl_iface *iface);
// The installed record.
const media_callctl_iface &media_callctl();

// Each of these reports whether its entry is filled; an empty one logs its
// level-2 line once and the caller skips its step.
bool media_has_call_stop_rtp();
bool media_has_call_get_law_setting();
bool media_has_call_crypto_update();
bool media_has_cb_timer_event();
bool media_has_parse_dtmf_tune_params();
bool media_has_process_dtmf();
bool media_has_add_sm_task();
bool media_has_do_statemachine_run();
bool media_has_start_dismantling_timer();
bool media_has_tonedetect_to_ascii();

// The calls with the step skipped when the entry is empty: stop_rtp then
// does nothing (-1), the law setting is A-law (0).
int media_call_stop_rtp(call_object *co, int lock_msp_queue);
int media_call_get_law_setting(call_object *co);
void media_call_crypto_update(call_object *co, int crydir);

// Hands the media channel operations to the parts that use them (the FXO
// caller-ID watchdog's voice channel, call control's media start and stop)
// and installs the entries call control already has. Before start-up.
void media_install();
