// The parser and the builder of every row of the message table, the QSIG
// name and facility handling they use, and the RELEASE COMPLETE for a
// layer-3 process without a call.
#pragma once
#include "isdn_msg.h"

struct misdn_bchannel;

// The port whose received CONNECT dates may set the system clock (0: none).
extern int misdn_set_time_from_isdn;

#define ISDN_MSG_CODER(name)                                                       \
    int parse_##name(const isdn_msg *msgs, msg_t *msg, misdn_bchannel *bc, int nt); \
    msg_t *build_##name(const isdn_msg *msgs, misdn_bchannel *bc, int nt);

ISDN_MSG_CODER(proceeding)
ISDN_MSG_CODER(alerting)
ISDN_MSG_CODER(progress)
ISDN_MSG_CODER(setup)
ISDN_MSG_CODER(connect)
ISDN_MSG_CODER(setup_acknowledge)
ISDN_MSG_CODER(connect_acknowledge)
ISDN_MSG_CODER(user_information)
ISDN_MSG_CODER(suspend_reject)
ISDN_MSG_CODER(resume_reject)
ISDN_MSG_CODER(hold)
ISDN_MSG_CODER(suspend)
ISDN_MSG_CODER(resume)
ISDN_MSG_CODER(hold_acknowledge)
ISDN_MSG_CODER(suspend_acknowledge)
ISDN_MSG_CODER(resume_acknowledge)
ISDN_MSG_CODER(hold_reject)
ISDN_MSG_CODER(retrieve)
ISDN_MSG_CODER(retrieve_acknowledge)
ISDN_MSG_CODER(retrieve_reject)
ISDN_MSG_CODER(disconnect)
ISDN_MSG_CODER(restart)
ISDN_MSG_CODER(release)
ISDN_MSG_CODER(release_complete)
ISDN_MSG_CODER(facility)
ISDN_MSG_CODER(notify)
ISDN_MSG_CODER(status_enquiry)
ISDN_MSG_CODER(information)
ISDN_MSG_CODER(status)
ISDN_MSG_CODER(timeout)
ISDN_MSG_CODER(register)

#undef ISDN_MSG_CODER

// RELEASE COMPLETE for a layer-3 process of an NT port that got no call
// record: an NT frame, with the call's out_cause when it is above 0.
msg_t *rejected_call_build_release_complete(int l3_id, misdn_bchannel *bc, int nt);

// ---- QSIG names and facilities ----

enum qsig_name_kind { QSIG_CALLING_NAME = 0, QSIG_CALLED_NAME = 1, QSIG_CONNECTED_NAME = 2 };

// Builds the QSIG name operation for a name of len octets into out (room for
// 25 + 50 octets); returns its length, or -1 when the name is longer than 50.
int qsig_name_facility_encode(int iso, int network_extension, int kind, int pres, const char *name,
                              int len, unsigned char *out, int size);
// Puts the call's local name as the next outgoing facility content (after
// any that call control placed); nothing when all buffers are taken.
void set_qsig_name_facility(misdn_bchannel *bc, int kind);
// Reads the remote party's name from the Facility elements of a frame.
void get_qsig_name_facility(misdn_bchannel *bc, const msg_t *msg, int nt);
// Scans the last received facility for diversion activation and MLPP.
int parse_infac(misdn_bchannel *bc);
// Places the facility list of the call (outfac buffers) into a frame.
void enc_facility_list(msg_t *msg, misdn_bchannel *bc, int nt);
// The facility step of the parsers: raw text and parse_infac.
void parse_facility_ie(const msg_t *msg, misdn_bchannel *bc, int nt);
