// PCM bridging between gateway units: one unit (configuration "pcm_server"
// "1") keeps the table of PCM bridging timeslots and hands it over TCP to
// the others, which announce their RTP ports and receive the table. Call
// control reads the table to recognise an RTP peer that is another unit's
// channel. The table lives in the application object under pcm_table_lock.
#pragma once
#include <cstddef>
#include <cstdio>

#define PCM_WELCOME "WELCOME_TO_THE_WORLD_OF_PCM_BRIDGING\n"
#define PCM_REQUEST "PCMREQUEST"
#define PCM_UPDATE "UPDATE_PCM_TABLE"

enum {
    PCM_READ_MAX = 2048,
    PCM_REQUEST_PORTS = 512,
    // An update names every row: 512 rows of "|a.b.c.d:port:index" fit.
    PCM_UPDATE_SIZE = 16384,
};

// The listening socket on pcm_server_port, or 0 after a CRITICAL line.
int pcm_init_server();
// Fills the server's own rows; returns the local channel count.
int pcm_init_bridging_timeslots();
// Thread bodies "tarn.pcmserver" and "tarn.pcmclient" (pthread form).
void *pcm_run_server(void *);
void *pcm_run_client(void *);
// After bring-up: the server or client thread as "pcm_server" says; the
// orderly stop ends it.
void pcm_start_threads();
void pcm_stop_threads();

// Applies an UPDATE_PCM_TABLE line (a client's whole table) under
// pcm_table_lock.
void pcm_update_client_table(const char *line);
// Ends the calls that run over other units when the server is lost.
void pcm_finish_all_bridging_calls();
// The console listing of the table.
void pcm_print_table(FILE *out);

// The client's request and the server's update line (the threads build
// theirs the same way).
void pcm_create_request(char *buf, size_t size);
void pcm_create_msg(char *buf, size_t size);

// Table operations; the caller holds pcm_table_lock. A unit's ports placed
// in the empty rows (after its old rows of that address are cleared), all
// rows cleared, the rows of one connection cleared, the address text of a
// connection's first row ("" when none).
void pcm_update_table(int ip, const int *ports, int count, int fd);
void pcm_clear_table();
void pcm_remove_client_from_table(int fd);
void pcm_get_ip_for_fd(int fd, char *buf, size_t size);
// The row holding the address and port, or -1 (pcm_table_lock held).
int pcm_table_find(const char *ip, int port);

// The local channels: ISDN B-channels plus analog ports.
int pcm_local_channel_count();
// The number of ids in the analog configuration.
int analog_get_channel_count();
