// The process-wide application object, reached through gp and
// global_application_p (always the same object).
#pragma once
#include <cstdint>

#include "cli.h"
#include "global_lock.h"

struct application_object {
    cli_args *cargs;
    lock_manager *locks;
    long tarn_start_time; // seconds of /proc/uptime at start

    // run flags of the long-running threads
    volatile int run_status_server;
    volatile int run_pcm_server;
    volatile int run_pcm_client;
    volatile int run_sm_helper;
    volatile int run_msp_safeguard;

    volatile int reject_calls; // set once the SIP stacks are shut down
    int init_lock;             // set when start-up has finished
    int pid_counter;
    int msp_counter;
    int socket_fd;     // status server
    int pcm_socket_fd; // PCM bridging server
};

extern application_object *gp;
extern application_object *global_application_p;

// Allocates the object zero-filled and sets both references.
application_object *application_create();

// Allocates the lock set and stores it in the application object (which must
// exist) and in g_lock_manager.
void init_locks();

// Integer seconds of the first line of /proc/uptime; 0 when unreadable.
long read_uptime_seconds(const char *path = "/proc/uptime");
