// DTMF digits on a call: relayed between the line side (the tone detector,
// "from TDM") and the SIP side (RTP events or SIP INFO, "from packet"),
// in-band filter and regeneration flags, in-call feature codes that hold
// back the digits of a possible code, the timed play-out of buffered digits
// (also the dialling of FXO and CAS lines), the tone-code mapping, the DTMF
// detector tuning text and the MFC/R2 forward signal of a dialled digit.
// Everything runs inside machine runs under global_lock.
#pragma once
#include <cstddef>

#include "sm_defs.h"

struct call_object;

// Tone code (0-9, 10 '*', 11 '#', 12-15 'A'-'D') and character, both ways:
// 255 for a code outside 0-15, -1 for a character without a tone ('a'-'d'
// are taken as 'A'-'D').
char tonedetect_to_ascii(int code);
int ascii_to_tonedetect(char c);

// Directions of a digit handed to process_dtmf and check_featurecode.
enum { DTMF_FROM_TDM = 0, DTMF_FROM_PACKET = 1 };
// Targets of the play-out (_fcbuf_to_flushbuf).
enum { DTMF_FLUSH_TO_TDM = 2, DTMF_FLUSH_TO_PACKET = 3 };

// Results of the feature code step.
enum fc_result {
    FC_NONE = 0,         // no code for the digit's party: pass it on
    FC_FLUSH_F = 1,      // the calling party's digits can form no code
    FC_FLUSH_T = 2,      // the same for the called party
    FC_WAIT_F = 3,       // a code of the calling party may still follow
    FC_WAIT_T = 4,       // the same for the called party
    FC_MATCH_F = 5,      // the calling party dialled a code (index out)
    FC_MATCH_T = 6,      // the called party dialled a code
};

// One digit (tone code 0-15) of the call, from TDM (0) or packet (1).
void process_dtmf(int tonedir, call_object *co, int tonedetect_value);
// The feature code step of a digit; index_out gets the code's index on a
// match (5, 6). Result 0-6 as fc_result.
int check_featurecode(int tonedir, call_object *co, int tonedetect_value, int *index_out);
// Runs a feature code's event (IFC_MCID, IFC_AFH).
void do_fc_event(call_object *co, int event);

// Moves buffer's digits (emptied) behind the call's play-out buffer toward
// TDM (2) or packet (3); on the first digit the play-out timer is made and
// the digit played. 0, or what the first play returned.
int _fcbuf_to_flushbuf(int dir, call_object *co, char *buffer);
// Plays the first buffered digit; 1 while digits remain, else 0. taken (may
// be null) gets the character taken off, 0 when the buffer was empty.
int process_dtmf_flush_buffer(call_object *co, char *taken = nullptr);

// The play-out buffers hold at most this many characters each.
enum { DTMF_FLUSH_BUFFER_MAX = 63 };
// The play-out interval of dtmfinterval ms: 20 at least, 990 at most.
int dtmf_bounded_interval(int dtmfinterval);

// Filter, regeneration and feature-code flags of the call from its
// configuration; -1 without a dial plan result, else 0.
int set_dtmf_generation_and_filter_options(call_object *co);

// The six DTMF detector tuning values of "a:b:c:d:e:f" (defaults
// 18:80:40:320:0:6; missing values keep their default).
void parse_dtmf_tune_params(const char *text, int *frequency_deviation, int *negative_twist, int *positive_twist,
                            int *minimum_level_threshold, int *snr_threshold_adjustment, int *dtmf_control);

// A dialled digit as an MFC/R2 forward signal for duration ms (only with
// regenerate_inband_dtmf_to_tdm); characters without a signal send nothing.
void send_cas_e1_digit_to_tdm(call_object *co, char digit, int duration);
// The forward signal of a dialled character, 0 for none.
int cas_e1_forward_signal(char digit);

SM_ACTION(sm_call_fcf_buffer_to_flashbuf);
SM_ACTION(sm_call_fct_buffer_to_flashbuf);
SM_ACTION(sm_call_flush_dtmf_digit);

// What the digits need of the line drivers built elsewhere. Unfilled
// members log once and send nothing.
struct dtmf_line_hooks {
    // An analog port event with its trace (the flash-hook of IFC_AFH).
    void (*verbose_analog_send_event)(call_object *co, int port, int event);
    // Plays the next play-out character as an MFC/R2 forward signal; 1
    // while characters remain, 0 when none remains.
    int (*process_cas_e1_flush_buffer)(call_object *co);
};
// Takes the non-null members; null clears all.
void dtmf_set_line_hooks(const dtmf_line_hooks *hooks);

// Where the digits go: the media processor's senders. Tests replace them;
// null puts the real ones back.
struct dtmf_senders {
    void (*send_dtmf_to_sip)(call_object *co, int code, int duration);
    void (*send_inband_dtmf)(call_object *co, const char *digit, int direction, int duration);
};
void dtmf_set_senders(const dtmf_senders *senders);

// Fills call control's DTMF entries of the media record and of the call
// configuration. At start, before calls.
void dtmf_install();
