// The three callbacks through which the ISDN library reports to call
// control, and the library's logging front on top of them.
#pragma once
#include "isdn_lib_types.h"

struct misdn_bchannel;

typedef event_response_e (*misdn_cb_event)(event_e event, misdn_bchannel *bc, void *user_data);
typedef void (*misdn_cb_log)(int level, int port, int pid, const char *file, int line,
                             const char *function, const char *format, ...)
    __attribute__((format(printf, 7, 8)));
typedef int (*misdn_cb_jb_empty)(misdn_bchannel *bc, char *buffer, int length);

struct misdn_lib_iface {
    misdn_cb_event cb_event;
    misdn_cb_log cb_log;
    misdn_cb_jb_empty cb_jb_empty;
};

// The library's copies of the callbacks; null until the library is started.
extern misdn_cb_event cb_event;
extern misdn_cb_log _cb_log;
extern misdn_cb_jb_empty cb_jb_empty;

// Stores the callbacks (start-up; tests).
void misdn_lib_set_iface(const misdn_lib_iface *iface);

// Whether the log callback would write a line of this level for this port.
// The owner of the callback installs it so that the library neither formats
// nor hands over lines nobody reads; without one every line goes to the
// callback. It must answer exactly as the callback decides, and is called
// from every library thread; install it with the callbacks, before
// misdn_lib_init starts the threads (the bench in bench/q931 shows one for
// a callback that routes lines by level to the log front-end).
typedef int (*misdn_cb_log_on)(int level, int port);
extern misdn_cb_log_on cb_log_on;
void misdn_lib_set_log_filter(misdn_cb_log_on filter);

// True when a line of the level would be written.
inline bool misdn_log_wanted(int level, int port)
{
    return _cb_log && (!cb_log_on || cb_log_on(level, port));
}

// One log line of the library: level, port (0 none), the call's pid (-1 none).
#define cb_log(level, port, pid, ...)                                                    \
    do {                                                                                 \
        if (misdn_log_wanted((level), (port)))                                           \
            _cb_log((level), (port), (pid), __FILE__, __LINE__, __func__, __VA_ARGS__); \
    } while (0)
// The same under a function name of the caller's choice.
#define cb_log_as(function, level, port, pid, ...)                                       \
    do {                                                                                 \
        if (misdn_log_wanted((level), (port)))                                           \
            _cb_log((level), (port), (pid), __FILE__, __LINE__, (function), __VA_ARGS__); \
    } while (0)
