// SRTP keys of a SIP leg, keyed through SDP security descriptions
// ("a=crypto:" lines): the gateway's own keys and lines, the far side's lines
// and decoded keys, and the suite both sides agree on. Every function works
// on the call's active leg (cl_sip) and runs under global_lock.
#pragma once
#include <cstdint>

struct call_object;
struct crypto_settings;

enum { CRYPTO_KEY_BYTES = 30, CRYPTO_KEY_BASE64 = 40 };

// Runs one step (a crypto_offer_state value) of the active leg's crypto
// state; CRYPTO_OFFER_NONE (and any unknown value) frees the record.
void call_crypto_update(call_object *co, int crydir);
// One fresh key of 30 bytes for suite cs with tag index: the raw bytes go to
// *key_out and the attribute text ("1 AES_CM_128_HMAC_SHA1_80 inline:...")
// to *line_out (both owned by the caller, freed with free()); returns the
// text. An unknown suite gives an empty text. When the system cannot give
// random bytes, *key_out stays null and the text is empty.
char *call_crypto_generate_value(int cs, int index, char **key_out, char **line_out);
// Decodes the received lines of the active leg that are not decoded yet.
void call_crypto_parse_sdp(call_object *co);
// Picks the agreed suite of the active leg.
void call_crypto_choose_suite(call_object *co);

// The suite code of a received line (found by substring), 0 when none.
int call_crypto_suite_of_line(const char *line);
