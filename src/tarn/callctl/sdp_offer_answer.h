// The media description of a SIP leg: the gateway's own offer or answer
// (connection line and media lines; the session lines come from the SIP
// stack's offer/answer engine), the reading of the far side's SDP that
// chooses codec, port, address, payload numbers, T.38 or HDLC and SRTP keys,
// the first-SDP check of a call and the codec prediction of an INVITE.
// Everything runs under global_lock on the call's active leg (cl_sip).
#pragma once
#include <cstdint>

#include "sdp_guard.h"
#include "sm_defs.h"

struct call_object;
struct call_leg_sip;
struct codec_settings;
struct sip_s;
struct sip_stack;
struct sdp_session_s;
struct tagi_s;

// Pseudo payload numbers.
enum {
    SDP_PAYLOAD_T38 = 9999,
    SDP_PAYLOAD_HDLC = 9998,
    SDP_PAYLOAD_CLEARMODE = 200,
    SDP_PAYLOAD_CN = 13,
    SDP_BEST_MATCH_NONE = 9999,
    SDP_MEDIA_LINES_MAX = 30,
};

enum sdp_media_proto {
    SDP_MEDIA_PROTO_RTP_AVP = 0,
    SDP_MEDIA_PROTO_UDPTL = 1,
    SDP_MEDIA_PROTO_RTP_SAVP = 2,
};
enum sdp_media_type {
    SDP_MEDIA_TYPE_AUDIO = 0,
    SDP_MEDIA_TYPE_IMAGE = 1,
};

// The address the SIP stack is to name in the origin line of the leg's
// descriptions (SOATAG_ADDRESS, given with every description), or null to
// let the stack find one. Left to itself the stack lists every address of
// the host, a netlink round trip, for each description it makes, and names
// the session's connection address when that is among them (loopback and
// link-local addresses are passed over). The leg announces its own stack's
// address in most calls: that address is given straight away.
const char *sdp_origin_address(const call_leg_sip *cl);
// The same for a handle before its first description (its capability
// description takes the origin address then): the stack's own address,
// or null for a loopback or link-local one.
const char *sip_stack_origin_address(const sip_stack *ss);

// Writes the media section of the active leg into sdplocal (at most seqlen
// bytes): codecs is the list to offer or to answer from, port the media port
// to announce, offer 1 for an offer and 0 for an answer. Returns the length
// the formatting gave.
int create_sdp_string(call_object *co, char *sdplocal, int seqlen, const codec_settings *codecs, int port,
                      int offer);
// The T.38 media section of an answer.
int create_t38_answer_sdp(call_object *co, char *sdplocal, int seqlen);

// Reads the far SDP of the active leg from the offer/answer tags of the last
// SIP call-state event (the leg's tmptags).
void _update_sdp_information(call_object *co);
// The reading itself over a parsed SDP (null: the event had none) and the
// event's offer/answer values.
void sdp_read_remote(call_object *co, const sdp_session_s *sdp, int callstate, int offer_recv, int answer_recv,
                     int offer_sent, int answer_sent);

SM_ACTION(sm_sip_update_sdp_information);
SM_ACTION(sm_sip_first_sdp_compatible);
SM_ACTION(sm_sip_first_sdp_compatible_ir);
SM_ACTION(sm_sip_set_first_sdp_answered);

// The first-SDP check over a parsed SDP (null: none); 0 when the call goes
// on, -1 when it was refused.
int sdp_first_check(call_object *co, const sdp_session_s *sdp);


// The codec number the gateway would choose for the SDP body of sip, or -1.
int sip_predict_using_codec(call_object *co, const sip_s *sip);
// The same over an SDP text of len bytes (no SIP message around it).
int sdp_predict_using_codec_text(call_object *co, const char *text, int len);

// Answers the INVITE of a leg with a refusal and destroys its handle; the
// CDR's terminated_by becomes 0. The _by_cause form takes the response that
// the cause map gives for a gateway pseudo cause (901, 916, 917).
void sip_refuse_leg(call_object *co, call_leg_sip *cl, int code, const char *text);
void sip_refuse_leg_by_cause(call_object *co, call_leg_sip *cl, int pseudo_cause);
// The same for a refusal of the gateway's own (no call object, no media
// resource): the call's special_termination_reason becomes reason and the
// answer carries its Reason header.
void sip_refuse_leg_for_reason(call_object *co, call_leg_sip *cl, int pseudo_cause, int reason);

// 1 when the call's line port uses u-law, 0 for A-law.
int call_get_law_setting(call_object *co);

// What the refusal of a first SDP needs of parts built elsewhere. A member
// left null is skipped with one level-2 line the first time.
struct sdp_callctl_hooks {
    // Sends an ISDN message of the call's B-channel (EVENT_DISCONNECT).
    int (*tarn_misdn_lib_send_event)(call_object *co, int event);
    // Sends an event (ANALOG_EVENT_RINGOFF) to an analog port with its trace.
    void (*verbose_analog_send_event)(call_object *co, int port, int event);
    // Appends a task (object, event word) to the task list under its lock.
    int (*add_sm_task)(call_object *co, int event);
};
// Takes the non-null members (null keeps what is there); null clears all.
void sdp_set_callctl_hooks(const sdp_callctl_hooks *hooks);
