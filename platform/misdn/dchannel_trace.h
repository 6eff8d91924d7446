// Per-port trace of D-channel frames in the hex-dump form that
// `text2pcap -D -t "%H:%M:%S.%f" -l 203` turns into a LAPD capture.
// The direction letter tells tshark which side sent the frame: "O" for the
// user side, "I" for the network side, so an NT port marks its own frames
// with "I" and a TE port with "O".
#pragma once
#include <cstdint>
#include <cstdio>

struct dchannel_trace {
    FILE *f = nullptr;
    bool nt = false;
};

// Opens (appends to) the trace file; 0, or -1 when it cannot be opened.
int dchannel_trace_open(dchannel_trace *t, const char *path, bool nt);
void dchannel_trace_close(dchannel_trace *t);
// One frame; outgoing = sent by this port.
void dchannel_trace_frame(dchannel_trace *t, bool outgoing, const uint8_t *frame, int len);
