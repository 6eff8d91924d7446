// Calls carried between two gateways over their consoles: a peer that
// writes "dial:" on its console connection gets an ISDN call placed for it
// (inbound), and a SIP call whose dial plan target is a console peer is
// carried to it as a "dial:" line (outbound). Signalling is text lines on
// the status server's connections; the voice flows as RTP between the
// SIP-side legs of both units.
#pragma once
#include <cstdio>

struct call_object;

// Items of a "dial:" or "update:" line, each cut to 31 characters.
enum { ITAPI_TEXT = 32 };
struct itapi_items {
    char tech[ITAPI_TEXT];
    char group[ITAPI_TEXT];
    char codec[ITAPI_TEXT];
    char rtp_ip[ITAPI_TEXT];
    char oad[ITAPI_TEXT];
    char dad[ITAPI_TEXT];
    int rtp_port; // -1: missing or not a port (1 to 65535)
    int pid;      // -1: not given
    bool has_tech, has_group, has_codec, has_rtp_ip, has_oad, has_dad;
};

// Splits "key=value,key=value,..." (any order, unknown keys ignored).
void itapi_parse_items(const char *arg, itapi_items *it);
// A dotted IPv4 address of four decimal parts 0-255 and nothing else.
bool itapi_valid_ipv4(const char *text);
// A number or group that may go into a ";dial:" line: no ";", ",", "=",
// "\\" and no control byte.
bool itapi_safe_text(const char *text);

// Console commands (hidden): "dial:", "hangup", "hangup:", "update:", "ifd".
// "dial:" answers 1 (close the connection) on the refusals that leave no
// usable state.
int mc_telnet_init_call(const char *arg, FILE *out, int *state);
int mc_telnet_hangup_call(const char *arg, FILE *out, int *state);
int mc_telnet_update_call(const char *arg, FILE *out, int *state);
int mc_itapi_list_fds(const char *arg, FILE *out, int *state);

// A line from the peer of an outbound call (the status server hands every
// line of a connection bound to such a call here). Returns 0.
int mc_handle_itapi_response(const char *line, FILE *out, call_object *co);

// An idle outbound connection to the call's target for the call: its
// descriptor (and *reused = 1), or 0 when the status server has to connect
// one first. Takes itapi_lock.
int mc_itapi_get_free_socket(call_object *co, int *reused);
void mc_itapi_set_outbound_fd_to_used(int fd);
