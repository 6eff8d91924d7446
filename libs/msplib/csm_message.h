// Life of a CSM message record: constructors with their defaults, the frame
// header in and out of the wire, and freeing.
#pragma once
#include <cstdint>

#include "csm_records.h"

// A serialised frame fits this buffer (the length byte limits a frame to 255).
constexpr int CSM_FRAME_SIZE = 256;

inline bool csm_msg_is_null(magic_csm msg) { return msg.u_raw == nullptr; }
inline magic_csm csm_null_msg()
{
    magic_csm m;
    m.u_raw = nullptr;
    return m;
}

// A new command record of the function code with its defaults, its header's
// function_text set to the code's name; null for a code without a record.
// Callers pass the running message counter as index.
magic_csm create_default_csm_msg(int function_code, int index);
// As above without function_text; null, without a log line, for an unknown code.
magic_csm create_default_csm_msg2(int function_code, int index);
// A query record (length 8, or 10 with one word for the create-channel and
// create-participant queries); null with a CRITICAL line for other codes.
magic_csm create_query_csm_msg(int function_code, int command_class, int command_type, int index);
// A header-only statistics query; null when memory is short.
magic_csm create_stat_query_csm_msg(int function_code, int command_class, int command_type,
                                    int index);
// Frees the header, then the record; a null message is ignored.
void delete_csm_msg(magic_csm msg);
// The record's header (null for a null message).
csm_header *get_header(magic_csm msg);
// A leftover without callers: prints "HOIHOIH" and returns 0.
int msp_query_struct_to_buffer(magic_csm msg, uint8_t *buffer);

// Writes the eight header bytes: length, index, type, class, function code
// and reserved word, the last two low byte first.
void msp_header_to_buffer(const csm_header *header, uint8_t *buffer);
// A new header with the first six header bytes of a frame of `length`
// received bytes; null for a frame shorter than the header.
csm_header *extract_header(const uint8_t *frame, int length);
