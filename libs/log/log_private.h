// Helpers shared by the back-end files; not for callers of the library.
#pragma once
#include <cstddef>
#include <cstdio>

// Module name for a line; writes the bad-module notice for unknown numbers.
const char *log_line_module_name(int module);

// Writes one line to a rotating log file, whole, in one write (caller holds
// fp_lock).
struct log_rotation {
    char **&list;
    int &count;
    FILE *&fp;
    long limit;
    const char *fail_format; // "failed opening ... %s for writing\n"
};
void log_rotation_write(log_rotation r, const char *line, size_t len);
log_rotation log_debug_rotation();
log_rotation log_nmessage_rotation();

// Sends one datagram on the network log / local log socket when open.
void log_send_netlog(const char *line, size_t len);
void log_send_locallog(const char *line, size_t len);
