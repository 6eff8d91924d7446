// Console requests of call diversion at the network ("cfact:", "cfdeact:",
// "cfquery:", "cfnum:") and the scratch records of facilities outside a
// call. The handlers answer 0.
#pragma once
#include <cstdio>

struct misdn_bchannel;

int mc_isdn_activate_diversion(const char *arg, FILE *out, int *state);
int mc_isdn_deactivate_diversion(const char *arg, FILE *out, int *state);
int mc_isdn_query_diversion(const char *arg, FILE *out, int *state);
int mc_isdn_interrogate_numbers(const char *arg, FILE *out, int *state);

// A type-of-number word or number: 1..6 unchanged, "international" 1,
// "national" 2, "netspecific" 3, "subscriber" 4, "alphanumeric" 5,
// "abbreviated" 6 (any case); anything else 0.
int string_to_ton(const char *text);
// Clear the record and set layer-3 id (0: the default), port, NT flag and
// channel; the default id is returned: -65534 (RESTART) for
// misdn_make_dummy, -65535 (diversion requests) for misdn_make_dummy2.
int misdn_make_dummy(misdn_bchannel *bc, int port, int l3id, int nt, int channel);
int misdn_make_dummy2(misdn_bchannel *bc, int port, int l3id, int nt, int channel);
