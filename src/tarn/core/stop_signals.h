// SIGTERM and SIGINT (a service manager's stop, Ctrl-C on the console) start
// the orderly stop that the console's shutdown command starts: calls cleared
// toward both sides with their records written, then the stop of main. The
// handler only writes the signal's number into a pipe; a thread,
// "tarn.signal", reads it and does the work. A second signal ends the
// process at once, as does a stop that has not ended within
// STOP_SIGNAL_LIMIT_MS of its beginning (status 1): long enough for the
// stop's own bounded waits (up to 5 s for the media processor's channels,
// then the SIP stack's shutdown with the far ends' answers), short enough
// for a service manager.
//
// A signal that is ignored when the daemon starts stays ignored. The
// handler is installed, not the signals blocked: children the daemon
// starts (shell commands, configuration scripts) get the default actions
// back when they exec, where a blocked mask would stay with them.
#pragma once

enum { STOP_SIGNAL_LIMIT_MS = 8000 };

// Installs the handler for both signals (before the first thread).
// 0, or -1 when the pipe or a handler could not be set up.
int stop_signals_install();
// Starts the thread; begin_stop is what a first signal runs (on a thread of
// its own) once start-up has finished.
int stop_signals_start(void (*begin_stop)());
// Start-up has finished: a stop asked for earlier begins now.
void stop_signals_running();
// Runs begin_stop once, however many signals and console commands ask for
// it; the console's shutdown commands come through here as well.
void stop_signals_begin_stop();
// At the end of the orderly stop: ends the thread (and the watch on the
// stop's time).
void stop_signals_end();
