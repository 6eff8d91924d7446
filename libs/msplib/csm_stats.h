// Statistics replies of the media processor: the process-wide stores that
// console threads poll (TDM synchronisation, voice playout errors), and the
// parsers of all four statistics replies.
//
// Readers note `sequence` and `error_sequence`, queue the query, then poll:
// a new `sequence` means new data (a new `error_sequence` beside it flags
// the values as doubtful); a new `error_sequence` alone means the device
// rejected the query or the reply was unusable (`last_error_code` says which).
#pragma once
#include <cstdint>

#include "csm_records.h"

struct msp_tdm_sync_statistics_store {
    uint32_t sequence;
    uint32_t error_sequence;
    long acquire_time;
    uint32_t requested_fc;
    uint32_t msg_length;
    uint32_t last_error_code;
    csmdev_tdm_sync_statistics_response data;
};

struct msp_plyerr_store {
    uint32_t sequence;
    uint32_t error_sequence;
    long acquire_time;
    uint32_t msg_length;
    uint32_t last_error_code;
    csmchan_voip_plyerr_response data;
};

constexpr int MSP_PLYERR_CHANNELS = 255;
constexpr uint32_t MSP_TDM_SYNC_REVISION = 1;
constexpr uint32_t MSP_PLYERR_REVISION = 2;

extern msp_tdm_sync_statistics_store msp_tdm_sync_stats;
extern msp_plyerr_store msp_plyerr_stats[MSP_PLYERR_CHANNELS];
// Function code of the TDM synchronisation query in flight; the console sets it.
extern uint32_t msp_tdm_sync_requested_fc;

// The parsers (called by msp_buffer_to_struct); each takes over the header and
// returns the reply record, or null when it is too short to hold one.
magic_csm msp_buffer_to_struct_tdm_sync_stats(csm_header *header, const uint8_t *frame,
                                              int *success, int channel);
magic_csm msp_buffer_to_struct_plyerr(csm_header *header, const uint8_t *frame, int *success,
                                      int channel);
magic_csm msp_buffer_to_struct_bert(csm_header *header, const uint8_t *frame, int *success,
                                    int channel);
magic_csm msp_buffer_to_struct_srtp(csm_header *header, const uint8_t *frame, int *success,
                                    int channel);

// The device rejected a command: when it was one of the two polled queries,
// the matching store counts an error and keeps the device's error code.
void msp_stats_note_rejected_query(int command_class, int command_type, int channel,
                                   int error_code);
