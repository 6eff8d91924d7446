// The library's start and its event dispatch. The application installs an
// event handler (every message of the media processor meant for it, and two
// questions about call contexts) and a context formatter (the call tag of
// log lines). Messages that the command thread does not hand to the handler
// itself are queued here and delivered one at a time, in order, by the
// dispatcher thread "tarn.msp_disp": channel messages under global_lock,
// device messages without it.
#pragma once
#include <pthread.h>
#include <semaphore.h>

#include <cstdint>

#include "csm_log.h"
#include "csm_records.h"

// Event types handed to the handler.
enum msp_event_type {
    MSP_EVENT_MESSAGE = 0,           // a message of the media processor
    MSP_EVENT_VOPENA_SENT = 0x8000,  // a VOPENA with notify went out (its own record)
    MSP_EVENT_QUERY_PID = 12345678,  // the pid of the context given as message
    MSP_EVENT_QUERY_BC = 12345679,   // the ISDN channel record of that context
};

// (message, event type, channel): the answer to the two questions, else
// ignored. The message is freed when the handler returns.
typedef intptr_t (*IndicationHandler)(magic_csm message, int eventtype, int channel);

// One queued event.
struct csmcontainer {
    csmcontainer *list;
    magic_csm csm_msg; // owned until delivered
    int eventtype;
    int channel;
};

struct _listhead2 {
    csmcontainer *first;
    csmcontainer *last;
    pthread_mutex_t lock;
};

extern IndicationHandler msp_event_handler;
// Logs that nothing handles indications; returns 0.
intptr_t msp_dummyhandler(magic_csm message, int eventtype, int channel);

// Starts the library: callbacks (null keeps the default), its state, the
// dispatcher thread and the command thread. 0, or -1 when an allocation or
// a thread start fails. A second call only installs the callbacks.
int msp_init_lib(IndicationHandler handler, ContextInfo formatter);
// The orderly end: the command thread leaves its loop after the command or
// idle wait it is in, the dispatcher after the event it delivers; both are
// waited for (except the calling thread, when it is one of them). Commands
// still queued are dropped and their blocking callers get -1; undelivered
// events are dropped (not from _tarn_exit: the queues stay as they are). The library's state stays for late callers, who find
// no thread to run their commands (-1 for blocking ones). Safe to call twice
// and without msp_init_lib; msp_init_lib starts the threads again.
void msp_stop_lib(void);
// True from msp_init_lib until msp_stop_lib.
bool msp_lib_running(void);
// Queues one message for delivery (the queue owns it from here).
void msp_dispatch_event(magic_csm message, int eventtype, int channel);
// The dispatcher thread.
void *msp_dispatcher(void *);
