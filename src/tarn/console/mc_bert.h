// Bit-error-rate test commands of the media processor's voice channels.
#pragma once
#include <cstdio>

// The stored statistics of one media processor channel (0..254).
void list_bert_for_channel(FILE *out, int channel);

int mc_bert_test_start_for_call(const char *arg, FILE *out, int *state);
int mc_bert_test_fetch_statistics_for_call(const char *arg, FILE *out, int *state);
int mc_bert_test_list_statistics_for_call(const char *arg, FILE *out, int *state);
int mc_bert_test_list_statistics_for_channel(const char *arg, FILE *out, int *state);
int mc_bert_test_set_custom_test_pattern(const char *arg, FILE *out, int *state);
int mc_bert_test_set_test_mode(const char *arg, FILE *out, int *state);
