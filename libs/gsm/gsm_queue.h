// The per-port AT command lists: queuing typed commands, the command
// definitions (end pattern and time limit per type), and the execution of one
// command by the port's reader thread with echo check and answer collection.
#pragma once
#include "gsm_port.h"
#include "gsm_types.h"

#include <pthread.h>

struct _listheadgsm {
    gsm_command *first;
    gsm_command *last;
    pthread_mutex_t lock;
};

struct gsm_command_manager {
    _listheadgsm *gsm_command_queue[GSM_PORT_TABLE];
};

extern gsm_command_manager *gman;

struct _libgsm_command_definitions_t {
    int code;
    char end[256];
    int timeout;   // ms for the whole exchange
    int max_lines;
};

extern const _libgsm_command_definitions_t libgsm_command_definitions[37];

// Bound of a collected answer (a COPS or CSURV answer runs to 64 lines).
enum { GSM_ANSWER_SIZE = 8192, GSM_LINE_SIZE = 4096, GSM_ECHO_SIZE = 1024 };

// Per port: destination and message reference of the last CMGS.
extern char gsm_sms_last_cmgs_number[16][64];
extern int gsm_sms_last_cmgs_ids[16];

const _libgsm_command_definitions_t *get_event_description(int type);
const char *gsm_event_to_string(int type);

// Queues a command (text, copied; or for CMGS a gsm_outgoing_sms record that
// passes to the queue). 0 when queued (a blocking caller has its answer);
// -1 with errno when refused (no such port: ENODEV, port not up: EAGAIN,
// no memory: ENOMEM) - the queue then frees a CMGS record it was given.
int gsm_queue_command(int port, int event_type, const void *command, void *context,
                      char **answer, int blocking, int notify);
void gsm_lock_queue(int port);
void gsm_unlock_queue(int port);
void list_gsm_queue(int port, FILE *stream, int lock);
gsm_command *get_next_gsm_command(int port);
void delete_gsm_command(gsm_command *cmd);

// Reader side: runs one command to its end on the port's device.
void execute_gsm_command(_libgsm_ctlport_t *ctl, gsm_command *cmd);
// Finishes a command without sending it: empty answer, waiter woken, freed.
void finish_gsm_command_unanswered(gsm_command *cmd);

// Splits an indication off an echo line. Returns the indication's position in
// line (or null) and sets *complete when the collected echo equals expected.
const char *echo_collector(const char *expected, char *echobuf, int echobuf_size,
                           const char *line, int *complete);

// Tidies an answer after a line was appended (the rules of the collector).
void gsm_answer_tidy(char *answer);

