// Modem initialisation: the synchronous send-and-expect exchange, model
// detection and the per-model tables of initialisation steps.
#pragma once
#include "gsm_port.h"

struct gsm_init_command {
    const char *send;    // command text or special step name
    const char *expect;  // the line that counts as a match
    int errnocode;       // _gsm_error_t when the step fails fatally
    int fail_match;      // 0: failure when the line did not come, 1: when it came
    int return_on_error; // a failed step ends initialisation
    int timeout;         // seconds each received byte may take
};

struct gsm_init_table {
    const char *model;
    const gsm_init_command *steps;
    int count;
};

extern const gsm_init_command GE865_init_commands[28];
extern const gsm_init_command LE910EUV2_init_commands[29];
extern const gsm_init_command LE910C1_init_commands[29];

struct _libgsm_errstr_t {
    int code;
    char text[256];
};
extern const _libgsm_errstr_t libgsm_errors[];

struct _libgsm_status_trans_t {
    int code;
    const char *text;
};
extern const _libgsm_status_trans_t libgsm_status[];

const char *libgsm_strerror(int code);
// A copy of the status text ("unknown" for other values); the caller frees it.
char *gsm_status_to_string(int status);

int libgsm_send_expect(_libgsm_ctlport_t *ctl, const char *command, const char *expect, int wait,
                       char **answer, int pause_ms, int seconds);
int libgsm_modem_init(_libgsm_ctlport_t *ctl);

// The step table for a model text from AT+GMM, or null for an unknown model.
// name receives the modem name to keep.
const gsm_init_table *gsm_init_table_for_model(const char *model, char *name, int size);
