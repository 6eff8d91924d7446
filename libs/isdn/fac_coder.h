// The facility coder (ROSE components of the supplementary services in
// Facility elements) as the ISDN library uses it. The records (FacParm and
// its operations) are the coder's own; its calls are reached through a
// small table so that tests can stand in for it. The table starts out with
// the mISDN layer's coder.
#pragma once
#include <cstdint>

#include "suppserv.h"

struct fac_coder_ops {
    // Decodes the Facility element whose length octet is at `ie` (content
    // follows) into fac; 0 when decoded.
    int (*decode)(const unsigned char *ie, FacParm *fac);
    // Encodes fac as a whole Facility element (identifier, length, content)
    // into buf of size octets; the octet count, 0 or less on failure.
    int (*encode)(unsigned char *buf, int size, const FacParm *fac);
    // Decodes the argument of activateDiversionQ from arg up to end into two
    // numbers with their types of number (a type below 0: number absent).
    int (*activation_diversion)(const unsigned char *arg, const unsigned char *end,
                                char *number1, int size1, int *type1,
                                char *number2, int size2, int *type2);
    // Decodes the return result of an interrogation of call diversion (of
    // the forwardings or of the served numbers) in the Facility element at
    // `ie` into at most max entries and its operation value; the number of
    // entries listed, or below 0 when the element holds no such result.
    int (*interrogation_result)(const unsigned char *ie, int *operation, FacInterrogationEntry *entries, int max);
};

// Installs a coder; null goes back to the mISDN layer's.
void fac_coder_install(const fac_coder_ops *ops);

int fac_decode(const unsigned char *ie, FacParm *fac);
int fac_encode(unsigned char *buf, int size, const FacParm *fac);
int fac_activation_diversion(const unsigned char *arg, const unsigned char *end,
                             char *number1, int size1, int *type1,
                             char *number2, int size2, int *type2);

int fac_interrogation_result(const unsigned char *ie, int *operation, FacInterrogationEntry *entries, int max);

// BER length at p (p < end): the number of length octets, *len the length;
// 0 when the length runs past end or is indefinite or longer than 2 octets.
int fac_parse_len(const unsigned char *p, const unsigned char *end, int *len);
