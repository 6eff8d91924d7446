// Console input: one command line, the stream for the answer and the caller's
// follow-up state word; returns the new state word.
#pragma once
#include <cstdio>

int mc_handle_input(const char *input, FILE *out, int state);
