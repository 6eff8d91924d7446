#include "reject.h"

#include <signal.h>
#include <stdio.h>
#include <syslog.h>
#include <unistd.h>

const struct rejection_row rejection_table[REJECTION_COUNT] = {
    [REJECT_NO_LENGTH] = {"411 Length Required", "Length Required",
                          "POST/PUT without a valid Content-Length"},
    [REJECT_PLAIN_TOO_LARGE] = {"413 Request Entity Too Large", "Request Entity Too Large",
                                "non-multipart body over 64 KiB"},
    [REJECT_MULTIPART_TOO_LARGE] = {"413 Request Entity Too Large", "Request Entity Too Large",
                                    "multipart body over 20 MiB"},
    [REJECT_NO_SESSION] = {"403 Forbidden", "Forbidden", "multipart upload without a valid session"},
    [REJECT_EXEC_FAILED] = {"500 Internal Server Error", "Internal Server Error",
                            "cannot exec /usr/bin/php-cgi"},
};

enum { DRAIN_PIECE = 16384, DRAIN_SECONDS = 10 };

void on_alarm(int sig)
{
    (void)sig;
}

/* Reads the request body away so that the client sees the answer instead of
 * a reset connection. The alarm interrupts a read that blocks on a client
 * that stopped sending (no SA_RESTART). */
static void drain_body(int32_t content_length)
{
    struct sigaction sa;
    char piece[DRAIN_PIECE];
    int32_t left = content_length;

    sa.sa_handler = on_alarm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGALRM, &sa, NULL);
    alarm(DRAIN_SECONDS);
    while (left > 0) {
        size_t want = left < DRAIN_PIECE ? (size_t)left : DRAIN_PIECE;
        ssize_t n = read(STDIN_FILENO, piece, want);
        if (n <= 0)
            break;
        left -= (int32_t)n;
    }
    alarm(0);
}

void reject_request(enum rejection why, int32_t content_length)
{
    const struct rejection_row *row = &rejection_table[why];

    syslog(LOG_WARNING, "postwarden: %s", row->reason);
    if (content_length > 0)
        drain_body(content_length);
    printf("Status: %s\r\n", row->status);
    puts("Content-Type: text/plain\r\n\r");
    printf("%s\r\n", row->body);
    fflush(stdout);
    _exit(0);
}
