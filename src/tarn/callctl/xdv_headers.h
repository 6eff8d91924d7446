// ISDN information across SIP: the B-channel's received information
// elements as "X-DV_" header lines, those headers read back into the
// B-channel before an ISDN message goes out, user-user data from a SIP
// "User-to-User" header, the PAE and user-name records and the eCall
// location record carried in user-user data, the malicious-call
// identification, and the notice of a received facility to the
// authorization server.
//
// Everything runs under global_lock (machine runs and admission).
#pragma once
#include <cstddef>
#include <cstdint>

#include "sm_defs.h"

struct call_object;
struct misdn_bchannel;
struct sip_s;

// The eCall record's header byte and provider identification.
struct ecall_parsed {
    unsigned char anbieter_kennung[2];
    unsigned char standort_angabe;           // bits 0-3 of byte 2
    unsigned char geografische_beschreibung; // bits 4-6
    unsigned char ecall;                     // bit 7
};

// The header lines of every non-empty raw IE text of bc, in their fixed
// order, each "X-DV_<NAME>: <text>\r\n" (at most 511 characters); isdnbuf
// starts empty and never holds more than bufsize bytes (a line that does
// not fit is cut).
void isdn_ie_to_sip_header_str(misdn_bchannel *bc, char *isdnbuf, int bufsize);

// Applies one SIP header to bc. Headers that are not "X-DV_" ISDN headers,
// unknown keys and items without "=" change nothing; every field is written
// within its size, lengths are capped at their fields.
void apply_sipx_to_bc(misdn_bchannel *bc, const char *name, const char *value);
// Every extension header of the SIP message (those the SIP stack does not
// parse into a field of its own), in message order, through
// apply_sipx_to_bc. With only_name set, only the first header of that name
// (compared without case). Returns the number of headers applied.
int apply_sip_extension_headers(misdn_bchannel *bc, const sip_s *sip, const char *only_name);
// 1 when the message carries an extension header of that name (any case).
int sip_has_extension_header(const sip_s *sip, const char *name);

// The value of a SIP "User-to-User" header onto the call's B-channel
// ("hex data;purpose=isdn-uui;encoding=hex"). Returns 0.
int apply_sip_user_user_to_bc(call_object *co, const char *value);

// The first two PAE records (82 10 kind 01 value, kind 09 or 0A) of the
// user-user data as "X-DV_PAE_ACT: 0x.." / "X-DV_PAE_NVR: 0x.." into
// command1 and command2 (each cut to its length). Returns 0.
int parse_pae_uu(misdn_bchannel *bc, char *command1, int command1_len, char *command2, int command2_len);
// 0 when the user-user data holds a user name (stored in userusername),
// else -1.
int parse_isdn_userusername(misdn_bchannel *bc);

// 0 when the user-user data is a valid eCall record (ecall_simple and
// ecall_parsed of the call set), else -1.
int parse_user_information_ecall(call_object *co, misdn_bchannel *bc, ecall_parsed *ecp);
const char *print_ecall_standort(int standort);
const char *print_ecall_geografische_beschreibung(int geografische_beschreibung);
// The 8 bits of byte, most significant first, as '0'/'1' and a terminator:
// 0, or -1 with an empty buf when bufsize is below 9.
int format_byte(unsigned char byte, char *buf, int bufsize);

// A FACILITY with facility slot 0 on the B-channel at once (not recorded
// on the call), when slot 0 is used and the port is point-to-point or a
// point-to-multipoint port in TE mode; nothing on a point-to-multipoint NT
// port.
void isdn_send_facility_now(misdn_bchannel *bc);

// Malicious-call identification: a FACILITY with the MCID invoke on the
// call's B-channel.
void _send_mcid(call_object *co);

// The notice of a received facility to the authorization server: one HTTP
// GET (1 s time-out). Returns 1 when the call's
// call_authorization_default_policy is clear, else 0.
int isdn_authserver_notify_facility(call_object *co, const char *authorization_server,
                                    const char *authorization_credentials, const char *technology, int port,
                                    int pid, const char *called_party_number, const char *calling_party_number,
                                    const char *base64_encoded_facility, const char *fac_decoded);
// The notice's body handler: keeps the text in curl_response_buffer_fac.
size_t curl_write_fac(void *ptr, size_t size, size_t nmemb, void *stream);
extern char curl_response_buffer_fac[1024];

SM_ACTION(sm_sip_handle_incoming_information_element_outside_connect);
SM_ACTION(sm_sip_to_isdn_send_setup);

// What these actions need of parts built elsewhere; a member left null is
// skipped with one CRITICAL line the first time.
struct isdn_callctl_hooks {
    // Sends an ISDN message of the call (records it, applies the X-DV_
    // headers of the current SIP message first).
    void (*tarn_misdn_lib_send_event)(call_object *co, int isdn_event);
};
// Takes the non-null members (null keeps what is there); null clears all.
void isdn_callctl_set_hooks(const isdn_callctl_hooks *hooks);
// The call through the hook (nothing happens while unfilled).
void isdn_send_event(call_object *co, int isdn_event);

// The value after "=" of the last line of a SIP INFO body that begins
// "Signal" (any case), trimmed, into value: 1, or 0 with an empty value
// when there is none. Lines end in CR LF; a bare LF ends one too.
int sip_body_last_signal(const char *body, size_t len, char *value, size_t size);
