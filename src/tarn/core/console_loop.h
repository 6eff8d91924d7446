// The foreground console on standard input.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

typedef int (*console_input_fn)(const char *input, FILE *out, int *state);

enum { CONSOLE_LINE_MAX = 511 };

// Splits one console line at every semicolon not escaped by a backslash;
// "\;" stands for a literal ";". Pieces are trimmed; empty ones are dropped.
std::vector<std::string> console_split_line(const char *line);

// Reads lines from fd and hands every piece to handler with out as stream.
// Returns when fd ends (after printing "read_commandline: end of input") or
// fails ("read_commandline: error reading from stdin"), or, at a 100 ms
// pause, when *leave_flag is 1.
void read_commandline_fd(int fd, FILE *out, console_input_fn handler, volatile int *leave_flag);

// The daemon's loop: standard input, mc_handle_input, gp->reject_calls.
void read_commandline();
