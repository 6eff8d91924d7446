// Debug dumps of a call's ISDN message counts, SDP bodies, SIP messages and
// ISDN B-channel records, for operators and developers reading the logs.
#pragma once
#include <cstdio>

struct call_object;
struct misdn_bchannel;
struct sdp_session_s;
struct sip_s;

enum { REMOTE_SDP_TEXT_SIZE = 2048 };

// The received and sent counts of the call's ISDN leg per message, as a
// table with a header line.
void tarn_list_isdn_event_history(FILE *out, const call_object *co);

// One level-5 line with the call's tag: "Remote SDP: " with the session's
// connection address, each media line's connection address and each payload
// format's name, type and rate; cut at REMOTE_SDP_TEXT_SIZE - 1 characters.
// Nothing for a null session.
void dbg_log_remote_sdp(const call_object *co, const sdp_session_s *sdp);

// Level-5 lines describing the local and then the remote session's
// connection, media lines and payload formats; a null session is skipped.
void dbg_sip_analyze_sdp(const sdp_session_s *local, const sdp_session_s *remote);

// The message's flags, size and the From and To addresses part by part, on
// standard output; "SIPNULL" for a null message.
void dbg_sip_analyze(const sip_s *sip);

// Every field of a B-channel record, several to a line, on standard output
// (nothing for a null record).
void dbg_info_bchannel(const misdn_bchannel *bc);
// The same to a stream.
void dbg_info_bchannel_to(FILE *out, const misdn_bchannel *bc);
