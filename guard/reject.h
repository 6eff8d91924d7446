/* Refusing a request with a CGI error answer. */
#ifndef GUARD_REJECT_H
#define GUARD_REJECT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum rejection {
    REJECT_NO_LENGTH,
    REJECT_PLAIN_TOO_LARGE,
    REJECT_MULTIPART_TOO_LARGE,
    REJECT_NO_SESSION,
    REJECT_EXEC_FAILED,
    REJECTION_COUNT
};

struct rejection_row {
    const char *status; /* status line, e.g. "411 Length Required" */
    const char *body;   /* answer body: the status without its number */
    const char *reason; /* logged reason */
};

extern const struct rejection_row rejection_table[REJECTION_COUNT];

/* Receives the alarm that ends a stalled body read; does nothing else. */
void on_alarm(int sig);

/* Logs the reason, reads away a body of content_length bytes (for at most
 * 10 s), writes the CGI answer and ends the process with status 0. */
__attribute__((noreturn)) void reject_request(enum rejection why, int32_t content_length);

#ifdef __cplusplus
}
#endif

#endif
