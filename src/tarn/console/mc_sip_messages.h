// Console commands that send SIP test requests outside calls (MESSAGE and
// the NOTIFY provisioning trigger) and list the memory statistics of the
// SIP stacks' homes.
#pragma once
#include <cstdio>

// "smsg:" group|to|text; -1 when no call object is free.
int mc_sip_send_message(const char *arg, FILE *out, int *state);
// "tno" X: NOTIFY "Event: resync" through the SIP port group at index X.
int mc_sip_send_test_notify_provisioning_trigger(const char *arg, FILE *out, int *state);
// "ssm": the statistics of every stack's homes and of every registration's
// handle home.
int mc_sofia_statistics_memory(const char *arg, FILE *out, int *state);
