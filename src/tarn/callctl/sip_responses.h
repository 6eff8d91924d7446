// The header texts that ride on a call's SIP answers and requests: the
// gateway's own X-DV_CALL_ID and X-DV_ORIGIN lines and the passthrough
// headers of a SIP-to-SIP call; the debug print of a call's active leg.
#pragma once
#include <cstddef>

struct call_object;
struct port_group_sip;
struct misdn_bchannel;
struct nua_handle_s;

// Appends "X-DV_CALL_ID: ..." and "X-DV_ORIGIN: ..." lines (each ending CR
// LF) as the call's sip_xheaders bits ask, never beyond size bytes with the
// terminator; returns 0.
int xheader_add(call_object *co, char *buf, size_t size);

// Appends "%s\r\n" for each stored passthrough header of the incoming leg
// whose name no line of buf carries yet (names compared without regard to
// case); returns 0.
int passthrough_headers_add(call_object *co, char *buf, size_t size);

// "name: value", the host part after "@" (up to ";" or ">") replaced by the
// group's SIP domain; returns 0.
int patch_passthrough_header_url(char *out, size_t size, const char *name, const char *value,
                                 const port_group_sip *pgs);

// "LEG1 active", "LEG2 active" or "NO LEG active": on standard output, or
// with a line end as the result.
void print_call_leg(const call_object *co);
const char *print_call_leg_info(const call_object *co);

// The ISDN information of a B-channel as "X-DV_...: ...\r\n" lines, built
// with the SIP-to-ISDN headers. Unfilled: logs once and leaves buf empty.
struct sip_response_hooks {
    void (*isdn_ie_to_sip_header_str)(misdn_bchannel *bc, char *buf, int size);
};
// Takes the non-null members; null puts every member back to unfilled.
void sip_response_set_hooks(const sip_response_hooks *hooks);
// buf empty, then the lines of the hook (for a call with a B-channel).
void sip_isdn_headers(call_object *co, char *buf, int size);

// The reason phrase of an answer as a copy on the handle's own memory: the
// stack reads the phrase from its thread after nua_respond returned, when a
// reused buffer or a reloaded cause map may hold another text. "" for a null
// phrase, a null handle or no memory.
const char *sip_answer_phrase(nua_handle_s *nh, const char *phrase);
