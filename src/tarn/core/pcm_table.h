// The PCM bridging table: for each PCM bridging timeslot (the row index),
// which gateway unit serves it and which RTP port stands for it. Guarded by
// pcm_table_lock.
#pragma once
#include <cstdint>

enum { PCM_TABLE_ROWS = 512, PCM_TABLE_MAX_SIZE = 390 };

struct pcm_bridging_timeslot_table {
    int ip[PCM_TABLE_ROWS];   // IPv4 address in network order, 0: empty row
    int port[PCM_TABLE_ROWS]; // RTP port
    int fd[PCM_TABLE_ROWS];   // server: the owning unit's connection, 0 for its own rows
    int size;                 // rows in use; rows at or above it are not looked at
    int max_size;
};
