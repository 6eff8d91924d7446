// Parsing of the frames the media processor sends (command responses, query
// responses, indications, diagnostic responses, statistics replies) into the
// message records.
#pragma once
#include <cstdint>

#include "csm_records.h"

// Turns a received frame of `length` bytes from DSP channel `channel` into its
// record, or null (with a CRITICAL line) for a frame that is shorter than its
// header or than its own length byte, a type/class pair no parser takes, an
// unknown function code, or a frame shorter than its kind's layout. Bytes
// past the frame's length byte are never read. *success is set to 1 for a
// reply whose response_code is 0 and to 0 for the device's error report;
// otherwise it keeps what the caller put there.
magic_csm msp_buffer_to_struct(const uint8_t *frame, int length, int *success, int channel);

// The parsers msp_buffer_to_struct routes to. Each takes over the header
// (freed on failure); `frame` holds at least header->msg_length bytes.
magic_csm msp_buffer_to_struct_command_response(csm_header *header, const uint8_t *frame,
                                                int *success, int channel);
magic_csm msp_buffer_to_struct_query_response(csm_header *header, const uint8_t *frame,
                                              int *success, int channel);
magic_csm msp_buffer_to_struct_indication(csm_header *header, const uint8_t *frame, int *success,
                                          int channel);
magic_csm msp_buffer_to_struct_diag_response(csm_header *header, const uint8_t *frame,
                                             int *success, int channel);

// Shows a frame that could not be handled, logs the "cannot handle" line and
// frees the header; returns 0.
int msp_buffer_cleanup_failed(csm_header *header, const uint8_t *frame, int length);

// Reads a logged hex dump back (pairs of hex digits; blanks and colons
// skipped, text in parentheses skipped) into a zeroed frame and parses it
// as coming from channel 0.
magic_csm msp_create_csm_msg_from_dbg_text(const char *text);
