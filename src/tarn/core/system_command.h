// The system-command runner: every change the daemon makes to the system
// around it (packet-filter rules, network settings) is one formatted
// command carried out in the way the experimental option `syscall_mode`
// chooses:
//   6  (default) "iptables " and "iptables -t nat " commands in process
//      through the packet-filter parser, anything else through system()
//   1  worker threads "tarn.syscall%i" that are abandoned and replaced
//      when a command hangs
//   2  system() in the calling thread
//   3  a script and a lock file, the command run by /bin/sh -c in a vfork'd
//      child
//   5  a spool directory for an outside agent ("%05i", then ".do")
//   99 ignored
//   other: a pipe under fp_lock, its output thrown away
#pragma once
#include <pthread.h>

#include <atomic>

enum {
    SYSCALL_COMMAND_SIZE = 1024,
    SYSCALL_MAX_THREADS = 16,
};

// One queued command of the mode-1 workers.
struct syscall_info {
    char *syscall; // owned
    syscall_info *next;
};
struct headsyscalllist {
    syscall_info *first;
    syscall_info *last;
    pthread_mutex_t lock;
};

extern std::atomic<int> command_counter;
extern int syscall5_dir_checked;
extern int syscall_thread_counter;
extern pthread_t syscall_threads[SYSCALL_MAX_THREADS];
extern std::atomic<int> syscall_thread_active[SYSCALL_MAX_THREADS];
extern std::atomic<int> syscall_thread_done[SYSCALL_MAX_THREADS];
extern pthread_t syscall_thread;
extern int syscall_total_counter;
extern int syscall_failed_counter;

// Formats the command (at most 1023 characters), counts it, logs "|%s|" at
// level 5 with the caller's position and carries it out by mode.
void _run_system_command(const char *file, int line, const char *func, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
#define run_system_command(...) _run_system_command(__FILE__, __LINE__, __func__, __VA_ARGS__)

// Appends a copy of the text to the worker queue and counts it.
void add_syscall(const char *text);

// The body of mode-1 worker `index` (pthread start routine, the index cast
// to a pointer).
void *run_syscall_thread(void *index);

// Text from configuration, DNS or the network that goes into a command
// line must pass these first; nothing else is ever handed to a shell.
// Interface names: [A-Za-z0-9._-]{1,15}.
bool is_safe_ifname(const char *name);
// A dotted-quad IPv4 address (inet_pton).
bool is_ipv4_address(const char *text);
// The same as 1 or 0, as bring-up and call control ask it.
inline int is_it_an_ipv4_address(const char *address) { return is_ipv4_address(address) ? 1 : 0; }
