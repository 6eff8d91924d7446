// Log front-end: five kinds of line (debug, message, nmessage, legacy, CAS
// trace), each with an enable switch and an installable handler; debug lines
// and messages are filtered per module by a level table. Formatting and
// output belong to the back-ends that start-up installs.
// Also home of the numbered exit _tarn_exit.
#pragma once
#include <pthread.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

enum module {
    TARN = 0,
    ISDN = 1,
    MSP = 2,
    SIP = 3,
    GSM = 4,
    TIMER = 5,
    STATEMACHINE = 6,
    ANALOG = 7,
    CAS = 8,
    MODULECOUNT = 9
};

extern const char *const log_module_names[MODULECOUNT];

// Message level word: bits 0-3 the level, 16 notice, 32 error, 64 to nmessage.
enum {
    LOG_MSG_LEVEL_MASK = 15,
    LOG_MSG_NOTICE = 16,
    LOG_MSG_ERROR = 32,
    LOG_MSG_TO_NMESSAGE = 64
};

typedef void (*LogFuncDebug)(int level, int module, const char *file, int line,
                             const char *function, const char *calltag,
                             const char *format, va_list ap);
typedef void (*LogFuncMessage)(int level, int module, const char *file, int line,
                               const char *format, va_list ap);
typedef void (*LogFuncCAS)(int port, int msgtype, const char *format, va_list ap);

extern unsigned char log_levels_debug_buf[128];
extern unsigned char log_levels_message_buf[128];
extern unsigned char *log_levels_debug;
extern unsigned char *log_levels_message;

extern int32_t log_levels_debug_enabled;
extern int32_t log_levels_message_enabled;
extern int32_t log_levels_nmessage_enabled;
extern int32_t log_cas_enabled;

extern LogFuncDebug log_out_debug;
extern LogFuncMessage log_out_message;
extern LogFuncMessage log_out_nmessage;
extern LogFuncMessage log_out_legacy;
extern LogFuncCAS log_out_cas;

void __log_out_legacy(int level, int module, const char *file, int line,
                      const char *format, va_list ap);

void log_msg_debug(int level, int module, const char *file, int line,
                   const char *function, const char *calltag, const char *format, ...)
    __attribute__((format(printf, 7, 8)));
void log_msg_message(int level, int module, const char *file, int line,
                     const char *format, ...) __attribute__((format(printf, 5, 6)));
void log_msg_nmessage(int level, int module, const char *file, int line,
                      const char *format, ...) __attribute__((format(printf, 5, 6)));
void log_msg_legacy(int level, int module, const char *file, int line,
                    const char *format, ...) __attribute__((format(printf, 5, 6)));
void log_msg_cas(int port, int msgtype, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

void log_set_log_handler_debug(LogFuncDebug f);
void log_set_log_handler_message(LogFuncMessage f);
void log_set_log_handler_nmessage(LogFuncMessage f);
void log_set_log_handler_legacy(LogFuncMessage f);
void log_set_log_handler_cas(LogFuncCAS f);

int log_get_loglevel(const unsigned char *table, int module);
void log_set_loglevel_debug(unsigned char *table, int module, int level);
void log_set_loglevel_message(int module, int level);

void log_set_logfile(FILE *f);
FILE *get_log_file();

// Formats into a new malloc'd string the caller frees; null when out of memory.
char *_strdup_vprintf(const char *format, va_list ap);

// The base name of a source path (the part after the last '/').
const char *log_basename(const char *path);

[[noreturn]] void _tarn_exit(int code, const char *file, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// The stop of the libraries' threads that _tarn_exit runs, on whatever
// thread called it, after its lines and before the process ends (start-up
// installs the daemon's; none by default). It runs once, also when several
// threads end the process at the same time.
typedef void (*tarn_exit_stop_fn)(void);
void tarn_set_exit_stop(tarn_exit_stop_fn stop);
// Set once _tarn_exit has begun.
bool tarn_exiting(void);

// A library's stop waits here for one of its threads. The calling thread
// itself is not waited for: it is detached and ends once it is back in its
// loop. During _tarn_exit the wait is bounded (the caller may hold a lock
// the thread waits for): 0 when the thread ended, -1 after the bound with a
// CRITICAL line naming `what`; the library then leaves alone what the
// thread may still use.
int tarn_join_thread(pthread_t thread, const char *what);

// Call-site shorthands: source position and function are filled in.
#define LOGD(module, level, tag, ...) \
    log_msg_debug((level), (module), __FILE__, __LINE__, __func__, (tag), __VA_ARGS__)
#define LOGM(module, levelword, ...) \
    log_msg_message((levelword), (module), __FILE__, __LINE__, __VA_ARGS__)
#define LOGN(module, level, ...) \
    log_msg_nmessage((level), (module), __FILE__, __LINE__, __VA_ARGS__)
#define TARN_EXIT(code, ...) _tarn_exit((code), __FILE__, __LINE__, __VA_ARGS__)
