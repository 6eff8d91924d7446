// The status server: the operator console on a local TCP port. One thread
// ("tarn.status") accepts clients, greets them, splits what they send into
// command lines for the dispatcher and closes them; with the experimental
// option itapi_support each connection is also a channel that a
// console-driven call can be bound to.
#pragma once
#include <pthread.h>

#include <cstdio>
#include <ctime>

struct call_object;

enum {
    STATUS_SERVER_FDS = 512,     // descriptors 0 to 511
    STATUS_SERVER_BACKLOG = 5,
    STATUS_SERVER_READ_MAX = 2047,
};

// ITAPI state of a descriptor.
enum itapi_fd_state {
    ITAPI_CLOSED = 0,
    ITAPI_INBOUND_FREE = 1,
    ITAPI_INBOUND_IN_USE = 2,
    ITAPI_OUTBOUND_FREE = 3,
    ITAPI_OUTBOUND_IN_USE = 4,
    ITAPI_OUTBOUND_CONNECTING = 5,
};

// Per-descriptor tables, indexed by the socket descriptor. The ITAPI
// entries and the release requests are read and written under itapi_lock.
extern FILE *fstreams[STATUS_SERVER_FDS];
extern int extrainfos[STATUS_SERVER_FDS];
extern int itapi_fds_current_states[STATUS_SERVER_FDS];
extern call_object *itapi_fds_current_call_objects[STATUS_SERVER_FDS];
extern char itapi_fds_remote_ips[STATUS_SERVER_FDS][16];
extern int itapi_fds_remote_ports[STATUS_SERVER_FDS];
extern int itapi_fds_local_ports[STATUS_SERVER_FDS];
extern int release_telnet_fstreams[STATUS_SERVER_FDS];
extern int release_telnet_fd_flag;

// Wall-clock seconds at the start of the server loop's latest pass: the
// liveness stamp the housekeeping watches (stored atomically).
extern volatile time_t telnet_server_time;

// The listening socket on 127.0.0.1 (every address with the experimental
// option telnet_remote_access) and the port `statusport`; 0 on failure.
int init_status_server();
// The server loop; returns once run_status_server is cleared (an atomic
// store, as its load here) and a pass runs idle.
void run_status_server();
// Thread body around run_status_server for pthread_create.
void *status_server_thread(void *);

// Accepts one connection: its descriptor, or -1.
int new_client(int listen_fd);
// The same, with the peer's dotted address and port.
int new_client2(int listen_fd, char *address, int size, int *port);
// Reads at most *len bytes (errno cleared first); *len becomes the count
// (0 after a failure). 1 when more than 0 bytes came, else 0.
int read_tcp(int fd, char *buffer, int *len);
// 1 when every byte was written, else 0.
int write_tcp(int fd, const char *buffer, int len);

// True while the status server dispatches a line of a connection with a
// bound call: it holds global_lock for that line.
bool mc_dispatch_holds_global_lock();

// Posts the release of a console descriptor after a call (any thread).
void add_telnet_fd_to_release(int fd, FILE *stream);
void lock_itapi();
void unlock_itapi();
// Name of a descriptor's ITAPI state ("UNKNOWN" for other values).
const char *itapi_print_fd_state(int state);

// Detaches a client stream from the verbose, debug and notification
// streams (under fp_lock).
void close_attached_telnet_fds(FILE *stream);
// Debug lines to standard output, when it exists.
void set_debugfp_to_stdout();

// Commands "greeting" and "c".
int mc_util_print_greeting(const char *arg, FILE *out, int *state);
int mc_util_clear_screen(const char *arg, FILE *out, int *state);
