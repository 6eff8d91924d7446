// Console listing of the experimental options ("leo": one "name=value" line
// each, the hidden ones only while show_hidden_eo is set) and the look-up of
// one option ("seo").
#pragma once
#include <cstdio>

void mc_list_experimental_options_to(FILE *out);
int mc_list_experimental_options(const char *arg, FILE *out, int *state);
int mc_show_experimental_option(const char *arg, FILE *out, int *state);
