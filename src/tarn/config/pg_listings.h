// Console listings of the port groups of every line technology and of the
// SIP peer groups, and the words they and other console output use.
#pragma once
#include <cstddef>
#include <cstdio>

// Each listing prints nothing when there is no group of its kind. The SIP
// listing reads the current generation: the caller holds pgs_lock.
void pg_list_groups_isdn(FILE *out);
void pg_list_groups_analog(FILE *out);
void pg_list_groups_cas(FILE *out);
void pg_list_groups_gsm(FILE *out);
void pg_list_groups_sip(FILE *out);
// ISDN, analog, CAS, GSM, SIP.
void pg_list_groups(FILE *out);

const char *chansel_direction_to_string(int direction);
const char *chansel_method_to_string(int method);
const char *chansel_behaviour_to_string(int behaviour);
// A transport bit set (1 UDP, 2 TCP, 4 TLS).
const char *pg_sip_print_transport(int transport);

// GSM codec names by bit position of a port's gsmcodec value.
enum { GSM_CODEC_NAMES = 8 };
extern const char *const gsm_codec_names[GSM_CODEC_NAMES];
// The names of the bits set in gsmcodec, comma-separated, at most 255
// characters (and size - 1); empty when no named bit is set.
void pg_gsm_codec_list(int gsmcodec, char *buf, size_t size);
