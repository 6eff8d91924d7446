// Shared state of the analog library's files (not for callers).
#pragma once
#include "analogctl.h"

#include <atomic>

extern analog_ctlport analog_ctlports[ANALOG_PORT_TABLE];
extern sem_t analog_ready[ANALOG_PORT_TABLE];
extern std::atomic<analog_event_callback> analog_callback;
extern std::atomic<int> analog_debug_flag;
// Set by analog_shutdown: the read threads leave their loops.
extern std::atomic<bool> analog_stopping;

// A debug line to the system log (priority 7), only while debugging.
void analog_debug(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Starts the read thread of an opened row; 0 or -1.
int analog_start_reader(analog_ctlport *row);
// Waits for the read thread of the row to end, when it was started (the
// calling thread is not waited for); analog_stopping must be set.
void analog_stop_reader(analog_ctlport *row);

// Splits one read into its lines (ended by CR or LF) and hands each line's
// event to the callback; a read that holds no text at all is one empty line.
// Returns the number of events delivered.
int analog_dispatch_read(analog_ctlport *row, char *buf, int len);
