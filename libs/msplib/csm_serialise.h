// Serialisation of CSM commands into the frame image sent to the media
// processor.
#pragma once
#include <cstdint>

#include "csm_records.h"

// Writes the frame image of a command record into `buffer` (CSM_FRAME_SIZE
// bytes). The whole buffer is cleared first, so no byte of an earlier message
// survives. The frame to send is the first buffer[0] bytes (the header's
// length); the result is that length (12 for the short VOPENA form), or 0
// when the message is refused, after a CRITICAL line: an unknown function
// code, a length below the header, a length the record cannot fill, too
// many tones for one frame. A result of 0 must not be sent.
int msp_struct_to_buffer(magic_csm msg, uint8_t *buffer);
// The frame image of a query (command type 1): the header, and the timeslot
// or participant word of the create-channel and create-participant queries.
// Same buffer and result rules as msp_struct_to_buffer.
int msp_struct_to_buffer_query(magic_csm msg, uint8_t *buffer);
