// The media processor library's one state record: the command queue, the
// dispatch queue, the DSP budget and the initialising flag.
#pragma once
#include <semaphore.h>

#include "msp_dispatch.h"
#include "msp_queue.h"

struct msp_command_manager {
    _listhead *csm_queue;
    _listhead2 *dispatch_queue;
    sem_t dispatcher_semaphore;
    int msp_free_channels;
    int msp_max_channels;
    const int *msp_channel_cost_table;
    int msp_arch;
    // 1 from the library's start until the device bring-up clears it;
    // meanwhile indications and other unsolicited messages are dropped.
    volatile int msplib_initializing;
};

// Null until the library's state exists.
extern msp_command_manager *cman;

// Creates the state (queues, default budget, free timeslot map) when it does
// not exist yet, without starting threads; null when memory is short.
msp_command_manager *msp_create_command_manager();
