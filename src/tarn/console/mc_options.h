// The console's vocabulary: one constant row per command with its parameter
// hint, type bits, handler and help text, and the sorted order the
// dispatcher tries them in.
#pragma once
#include <cstdio>

// Handler form of every console command: argument text (the rest of the
// line after the command for commands with a parameter, else ""), the
// client's stream and the client's follow-up state. Result 0 done, 1 close
// the client, 2 to 7 the follow-up state the client's next line answers.
typedef int (*mc_function_t)(const char *arg, FILE *out, int *state);

// Command type bits.
enum mc_command_type {
    MC_TYPE_STATUS = 1,
    MC_TYPE_HIDDEN = 2,
    MC_TYPE_INFO = 4,
    MC_TYPE_SIP = 8,
    MC_TYPE_ISDN = 16,
    MC_TYPE_ANALOG = 32,
    MC_TYPE_GSM = 64,
    MC_TYPE_LOG = 128,
    MC_TYPE_CTRL = 256,
    MC_TYPE_MISC = 512,
    MC_TYPE_CAS = 1024,
    MC_TYPE_MSP = 2048,
};

struct mc_option {
    const char *command;     // as typed; a trailing blank belongs to it
    const char *parameters;  // hint shown by the help, "" for none
    int command_length;      // set by mc_init_options: strlen(command) with parameters, else 0
    int command_type;        // MC_TYPE_* bits
    mc_function_t mc_function;
    const char *description;
    unsigned int index;      // set by mc_init_options: row number at place k of the sorted order
};

enum { MC_OPTIONS_COUNT = 281 };

extern mc_option mc_options[MC_OPTIONS_COUNT];

// Prepares command_length and the sorted order once, before any console
// reads lines; returns 0.
int mc_init_options();
// Sort comparison over two row numbers: first character ascending, then the
// longer command first, then the shorter parameter hint first.
int comp_mc_options(const void *a, const void *b);

// The answer of every row whose command is not part of this build:
// "<command>: not available in this build", result 0.
int mc_not_available(const char *arg, FILE *out, int *state);
// The row the dispatcher runs on this thread (null outside a dispatch).
const mc_option *mc_current_option();
void mc_set_current_option(const mc_option *o);
