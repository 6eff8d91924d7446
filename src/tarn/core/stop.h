// Stopping the libraries' threads: at the end of an orderly stop, and from
// _tarn_exit on whatever thread ends the process.
#pragma once

// Every library with threads ends them, takes its timers out of the timer
// service and only then lets go of what they use; the callers of the timer
// service first, the timer service last. Safe for a library that was never
// started, when called twice, and from a library's own thread (that thread
// is not waited for).
void tarn_stop_libraries(void);
