// Console tests of the SIP-to-SIP transcoding media path (console handler
// form; each returns 0).
#pragma once
#include <cstdio>

// "s2srrtp:" index:leg:address:port: a moved remote RTP end of one leg of an
// active SIP-to-SIP call, and the transcoding restarted by the task runner.
int mc_s2s_set_reinvite_rtp(const char *arg, FILE *out, int *state);
// "s2s": a transcoding test channel between two legs without signalling.
int mc_s2s_start_test_channel(const char *arg, FILE *out, int *state);
