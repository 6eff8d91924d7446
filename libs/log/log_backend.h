// Log back-ends: they format the lines the front-end (log.h) dispatches and
// write them to their targets: the debug stream, the debug and nmessage log
// files (size-limited, numbered generations), the UDP network log in syslog
// style, the local UDP log on 127.0.0.1, the CAS trace file, the verbose
// stream and file and the SNMP notification stream. The SIP stack's hooks
// are in log_sip.h.
//
// Start-up installs the handlers below into the front-end's slots and feeds
// the settings (facility, file lists, limits, UDP targets) into
// log_backend(); the console changes them at run time.
#pragma once
#include <pthread.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>

struct log_backend_state {
    int syslog_facility; // 16..23; lines carry priority facility * 8 + 7

    // Debug log file: generations, current first; size limit in bytes.
    char **logrotate_list;
    int logrotate_listcount;
    FILE *logrotate_fp;
    long logsizelimit;
    // Nmessage log file, the same.
    char **nlogrotate_list;
    int nlogrotate_listcount;
    FILE *nlogrotate_fp;
    long nlogsizelimit;

    // Network log target and its connected UDP socket (0 or below = closed).
    char logip[64];
    char logport[64];
    std::atomic<int> netlogfd;
    // Local UDP log towards 127.0.0.1:locallogport.
    char locallogport[64];
    std::atomic<int> locallogfd;
    std::atomic<int> local_log_active; // debug and legacy lines go there too

    // CAS trace "<cas_log_path>/tarn_cas.log", one old generation.
    char cas_log_path[256];
    long cas_log_filesize_limit;
    FILE *cas_fp;

    // SIP stack log file, reopened (truncated) past its limit.
    FILE *sofia_log_fp;
    long sofia_log_max_filesize;
    char sofia_log_path[256];

    // Streams: debug (console connection or stdout), verbose, SNMP; the
    // verbose file stops growing at vlogfilemaxsize.
    FILE *debug_fp;
    FILE *verbose_fp;
    FILE *snmp_notify_fp;
    std::atomic<int> verbose_outfile_logging;
    char vlogfilepath[256];
    long vlogfilemaxsize;
    FILE *verbose_outfile_fp;

    // Guards the UDP sockets against being closed while a line is sent.
    pthread_rwlock_t udp_lock;
};

// The one state record, created on first use with the built-in values and
// never destroyed (logging goes on in other threads while the process exits).
log_backend_state *log_backend();

// Handlers for the front-end's slots.
void tarn_log_out_debug(int level, int module, const char *file, int line, const char *function,
                        const char *calltag, const char *format, va_list ap);
void tarn_log_out_legacy(int level, int module, const char *file, int line, const char *format,
                         va_list ap);
void tarn_log_out_message(int level, int module, const char *file, int line, const char *format,
                          va_list ap);
void tarn_log_out_nmessage(int level, int module, const char *file, int line, const char *format,
                           va_list ap);
void tarn_log_out_cas(int port, int msgtype, const char *format, va_list ap);
// Like tarn_log_out_debug, but every line under the SIP module name and with
// trailing CR/LF removed from the text; not installed by start-up.
void tarn_log_out_debug_sip_debug(int level, int module, const char *file, int line,
                                  const char *function, const char *calltag, const char *format,
                                  va_list ap);

// CAS trace message types.
enum { CAS_LOG_BSND = 0, CAS_LOG_BRCV = 1, CAS_LOG_TSND = 2, CAS_LOG_TRCV = 3, CAS_LOG_INFO = 4 };

// Module name as written into lines ("unknown module" for other numbers).
const char *tarn_log_get_module_name(int module);
// "yy/mm/dd-hh:mm:ss:uuuuuu" of local time now.
void format_current_time(char *buf, size_t size);
// "CRITICAL: " for levels 0 to 2, "" otherwise.
const char *get_text_for_loglevel(int level);

// Rotation lists from comma-separated names (empty items ignored).
void update_logrotate_list(const char *names);
void update_nlogrotate_list(const char *names);
// Moves every generation one up; the open file keeps being written under
// its new name. The caller holds fp_lock.
void rotate_logfiles();
void rotate_nlogfiles();

// A UDP socket connected to host:port (IPv4), or -1.
int set_udp_log(const char *host, const char *port);
// Network log from a "host:port" text (the logserver setting; null when it
// cannot be read): -1 when it cannot be read or a part is missing, else 0;
// the socket is opened when the port is above 0.
int init_netlog(const char *logserver);
void start_netlog();
void stop_netlog();
void toggle_netlog();
int update_netlog_target(const char *host, const char *port);
// Local UDP log towards 127.0.0.1 and the port text (null keeps the current
// one); nothing when it is already open.
void init_locallog(const char *port);

// Call-progress summary: to the verbose file and stream, and as a debug line.
void _verbose_msg(const char *file, int line, const char *function, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// SNMP notification text to the SNMP stream.
void _tarn_snmp_msg(const char *format, ...) __attribute__((format(printf, 1, 2)));

// fp_lock and cas_lock of the lock manager (a private pair before it exists).
pthread_mutex_t *log_fp_lock();
pthread_mutex_t *log_cas_lock();
