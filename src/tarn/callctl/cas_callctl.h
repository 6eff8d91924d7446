// Call control of T1/E1 CAS channels: the line callback, the admission of
// calls that start on a channel and of SIP calls toward a channel with its
// channel selection, the commands to a channel with their trace, and the
// MFC/R2 register signals played on the media processor. Everything runs
// under global_lock unless said otherwise.
#pragma once
#include <sofia-sip/nua.h>
#include <sofia-sip/sip.h>

#include <cstdint>

struct call_object;
struct mfcr2_profile;

// Line callback handed to the CAS library at start; takes global_lock.
// Returns 0.
int cas_cb_events(int port, unsigned int event);

// Starts a call from a CAS channel (FXO-KS ringing, FXS-KS off-hook, MFC/R2
// seize); oad is a caller id already received (may be empty); retco (may be
// null) gets the call object. -1 when no call was started.
int init_incoming_cas_call(int port, int event, const char *oad, call_object **retco);

// SIP admission of a call whose dial plan line points to a CAS group: -1
// when the dial plan should go on, else 0 (call set up or refused).
int init_incoming_sip_to_cas_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                  char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                  call_object *co, sip_t const *sip);

// Claims a channel of the CAS group named by "G:name" (or "g:name") in the
// group's order; the channel (also in the call's cas_port), or -1.
int get_free_cas_port_by_dialplan_string(call_object *co, const char *target);

// The out-event sender of the SIP-to-CAS machines; 0.
int32_t tarn_cas_send_event(void *p, void *arg, int32_t out_event);
// Traces and sends one CAS command; the driver's result (ringing on an
// FXS-KS channel starts the ring cadence and gives 0).
int verbose_cas_send_event(int port, unsigned int event);

// Plays MFC/R2 signal (mf_signals) toward the line for duration ms, forward
// (direction 3) or backward (4); signal 0 ends the dialling instead.
void send_mfcr2_tone(call_object *co, int direction, int signal, int duration_ms);
// The signal of combination value (1-15) in direction 3 (10 + value) or 4
// (55 + value); 0 otherwise.
int cas_passthrough_map(int direction, int value);
// Plays the next play-out character as a forward signal; 1 while
// characters remain, 0 when none remains.
int process_cas_e1_flush_buffer(call_object *co);

// The Q.441 frequencies of a signal in a direction: true with both
// frequencies (Hz), false for a signal without a tone.
bool mfcr2_signal_frequencies(int direction, int signal, int *f1, int *f2);
// The combination (1-15) of a signal, 0 for none.
int mfcr2_signal_combination(int signal);

// Register state bits of cas_e1_signal_state (incoming MFC/R2).
enum mfcr2_state_bits {
    MFCR2_STATE_BACKWARD_REQUESTING_DAD = 1 << 1,
    MFCR2_STATE_BACKWARD_REQUESTING_DAD_FINISHED = 1 << 2,
    MFCR2_STATE_BACKWARD_REQUESTING_OAD = 1 << 3,
    MFCR2_STATE_BACKWARD_REQUESTING_OAD_FINISHED = 1 << 4,
    MFCR2_STATE_BACKWARD_REQUESTING_SUBSCRIBER = 1 << 5,
    MFCR2_STATE_BACKWARD_REQUESTING_SUBSCRIBER_FINISHED = 1 << 6,
    MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B = 1 << 7,
    MFCR2_STATE_BACKWARD_REQUESTING_GROUP_B_FINISHED = 1 << 8,
    MFCR2_STATE_BACKWARD_SIGNALLING_FINISHED = 1 << 9,
};

// What the registers use, replaceable by tests: the waits (ms) between
// signals, the signals they play (send_mfcr2_tone) and the MFC/R2 profile of
// a channel (cas_port_mfcr2_profile).
extern void (*cas_register_wait_ms)(int ms);
extern void (*cas_register_tone)(call_object *co, int direction, int signal, int duration_ms);
extern void (*cas_register_profile)(int port, mfcr2_profile *out);

// The order in which a group's channels are tried, as indexes into its
// port list (order has room for count): round robin starts at *next_index
// and moves it on by one, random starts anywhere, standard at 0;
// descending walks from the end. The number of entries (0 for an empty
// group).
int cas_channel_order(int method, int direction, int count, int32_t *next_index, int *order);
