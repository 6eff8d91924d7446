// The pool of transcoding timeslots: the TDM timeslots that no line uses and
// that SIP-to-SIP transcoding gives each leg's voice channel. The TDM map
// sets them aside (rows whose port is above 9999); the pool is built from it
// once the map is read.
//
// Pool entry i stands for logical timeslot tc_offset + i and holds that
// number while the timeslot is free, -1 while it is in use. The pool has a
// guard of its own, so takes and releases may come from any thread.
#pragma once
#include <cstdio>

// Builds the pool from the application's TDM map (an earlier pool is
// dropped) and lists it. Transcoding timeslots that are not consecutive from
// the first one get a CRITICAL line: a release of them cannot find its entry.
void init_transcoding_timeslots_array();

// Takes the first free timeslot: its number, or -1 when none is free.
int transcoding_get_free_timeslot();

// Gives a timeslot back; a value outside the pool is ignored. Always 0.
int transcoding_release_timeslot(int timeslot);

// The timeslots in use in the debug log (module MSP, level 5), naming the
// caller's function and line; only with the experimental option
// extra_debugging. The underscore form lists regardless of the option.
int transcoding_list_timeslots(const char *function, int line);
int _transcoding_list_timeslots(const char *function, int line);

// Every entry of the pool on a console stream; only with extra_debugging.
// The underscore form prints regardless of the option.
int transcoding_list_timeslots_fprintf(FILE *out);
int _transcoding_list_timeslots_fprintf(FILE *out);
