// DSP resource accounting: the processing budget of the media processor
// model, the cost of every media function per model, and the 32-bit words in
// which a call records what it holds (bit n: resource type n). Fifteen units
// count as one media processor channel in printouts.
//
// The functions take no lock: the budget changes only from call handling,
// which runs under global_lock.
#pragma once
#include <cstddef>
#include <cstdio>

enum msp_arch_types {
    MSP_M82501 = 0,
    MSP_M82505 = 1,
    MSP_M82506 = 2,
    MSP_M82510 = 3,
    MSP_M82511 = 4,
    MSP_M82514 = 5,
    MSP_M82515 = 6,
    MSP_M82520 = 7,
    MSP_M82524 = 8,
    MSP_M82530 = 9,
};

enum msp_resource_types {
    MSPRES_G711_20 = 0,
    MSPRES_G711_10 = 1,
    MSPRES_G711_5 = 2,
    MSPRES_G726_20 = 3,
    MSPRES_G726_10 = 4,
    MSPRES_G726_5 = 5,
    MSPRES_G729a = 6,
    MSPRES_G723_1 = 7,
    MSPRES_G728 = 8,
    MSPRES_G729e = 9,
    MSPRES_ILBC = 10,
    MSPRES_GSM_FR = 11,
    MSPRES_GSM_EFR = 12,
    MSPRES_GSM_AMR = 13,
    MSPRES_CDMA_EVRC = 14,
    MSPRES_CDMA_QCELP8 = 15,
    MSPRES_CDMA_QCELP13 = 16,
    MSPRES_SMV = 17,
    MSPRES_T38 = 18,
    MSPRES_CONFERENCING = 19,
    MSPRES_G711_20_TRANSCODE_LEG = 20,
    MSPRES_G726_20_TRANSCODE_LEG = 21,
    MSPRES_G729a_TRANSCODE_LEG = 22,
    MSPRES_G723_1_TRANSCODE_LEG = 23,
    MSPRES_GSM_AMR_TRANSCODE_LEG = 24,
    MSPRES_CDMA_EVRC_TRANSCODE_LEG = 25,
    MSPRES_TDM_HAIRPINNING = 26,
    MSPRES_TDM_HAIRPINNING_GUARANTEED = 27,
    MSPRES_LAST_VALUE = 28,
    MSPRES_LEFT_RESERVED = 30,
    MSPRES_RIGHT_RESERVED = 31,
};

// Channel states of a call (its msp_state bits).
enum msp_states {
    MSP_VOICE_ACTIVE = 1,
    MSP_TONEGEN_ACTIVE = 2,
    MSP_BRIDGED = 4,
    MSP_T38_ACTIVE = 8,
    MSP_REMOTE_BRIDGED = 16,
    MSP_HDLC_ACTIVE = 32,
    MSP_MFSIGNALLING_ACTIVE = 64,
};

// A type no budget covers.
constexpr int MSP_COST_IMPOSSIBLE = 1500000;
// Units of one channel in printouts.
constexpr int MSP_UNITS_PER_CHANNEL = 15;

extern const int msp_arch_channel_resources[16];
// Names of the 28 types and of bits 28-31.
extern const char *const *const msp_resource_names;
// Cost of each resource type, per model (the models without a table cannot
// be selected).
extern const int *const channel_cost_msp_82501;
extern const int *const channel_cost_msp_82505;
extern const int *const channel_cost_msp_82510;
extern const int *const channel_cost_msp_82511;
extern const int *const channel_cost_msp_82515;
extern const int *const channel_cost_msp_82520;
extern const int *const channel_cost_msp_82530;

// Selects the default model M82501 with its full budget.
void msp_init_resources();
// Selects the model of a processor id (the device-type answer); 0, or -1
// for an id of no model or a model without cost table.
int msp_set_processor_type(int processor_id);

int msp_request_resource(void *context, int *resource_field, int type);
int msp_request_partial_resource(void *context, int *reserve_field, int *active_field,
                                 int requested_type);
int msp_release_all_resources(void *context, int *resource_field);
int msp_get_resource_usage(int resource_field);
int msp_get_channel_usage();
int msp_get_total_channels();
int msp_get_free_channels();

// The lowest type (0-27) set, or -1.
int msp_get_resource_type_from_field(int field);
// The lowest type set into *right and the next higher into *left; 0, or -1
// when fewer than two are set.
int msp_get_resource_types_from_field(int field, int *left, int *right);

int msp_active_resource_to_buffer(int field, char *buffer, size_t size);
int msp_reserved_resource_to_buffer(int field, char *buffer, size_t size);
int msp_print_used_resources(FILE *stream, int field);
void msp_print_flags(FILE *stream, unsigned state);
int msp_print_flags_to_buffer(char *buffer, size_t size, unsigned state);
const char *msp_print_processor_id();
