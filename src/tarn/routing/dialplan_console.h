// What the console shows of the dial plan: the loaded table, and test calls
// that run the real search on a dummy incoming call built from key/value
// pairs and print what the call would become. Everything is written to the
// console connection's stream.
#pragma once
#include <cstdio>

struct dialplan_element;

// The table with its head line. No lock is taken: the console holds
// dialplan_lock around the listing.
void dialplan_list(FILE *out);
void dialplan_list_element(FILE *out, const dialplan_element *e);
// The same with the inbound and outbound proxy definitions after the line
// number.
void dialplan_list_dbg(FILE *out);
void dialplan_list_element_dbg(FILE *out, const dialplan_element *e);

// Test calls. The input is "key=value" pairs separated by '|' (its first
// 4095 characters; keys and values trimmed of blanks; parts without '=' or
// with an unknown or empty key are ignored). Each writes its help lines,
// the data of the dummy call, the search's result and what the call would
// become, then resets the dummy call. They take global_lock (the searches
// then take dialplan_lock): the caller holds neither.
void dialplan_make_test_from_sip(FILE *out, const char *input);
void dialplan_make_test_from_isdn(FILE *out, const char *input);
void dialplan_make_test_from_analog(FILE *out, const char *input);
void dialplan_make_test_from_gsm(FILE *out, const char *input);
