// The timeslot-to-channel map: for each of the 512 TDM logical timeslots the
// DSP channel created on it and the call that owns it. The command thread
// writes it when a create-channel answer arrives and when it sends a
// destroy-channel command; writers hold msp_queue_lock.
#pragma once
#include <cstdio>

struct csminstruction;

constexpr int MSP_TIMESLOTS = 512;
// Map values besides a channel number.
constexpr int MSP_CHANNEL_FREE = 0x10000;
constexpr int MSP_CHANNEL_PENDING = 0x10001;
constexpr int MSP_CINFO_SIZE = 32;

extern int timeslot_manager[MSP_TIMESLOTS];
extern void *timeslot_manager_context[MSP_TIMESLOTS];
extern int timeslot_manager_pid[MSP_TIMESLOTS];
extern void *timeslot_manager_bc[MSP_TIMESLOTS];
extern char timeslot_manager_cinfo[MSP_TIMESLOTS][MSP_CINFO_SIZE];

// Every timeslot free with no owner and an empty call tag; installs the
// map's lookups for the message logs.
void msp_init_timeslots();

// Records `channel` on `timeslot`, with the owner of `instruction` when one
// is given; returns 1. A timeslot outside 0-511 ends the process (105).
int msp_assign_channel_to_timeslot(int timeslot, int channel, csminstruction *instruction);
// Frees `timeslot` (owner and channel); 1, or 0 for the unset timeslot -1.
int msp_release_timeslot(void *context, int timeslot);
// Free -> pending: 0; -1 when the entry is not free or the timeslot invalid.
int msp_mark_timeslot_used(int timeslot);
// 1 when the timeslot holds a channel or is pending, else 0.
int msp_is_timeslot_in_use(int timeslot);
// The map entry of a timeslot, -1 outside 0-511.
int msp_timeslot_to_channel(int timeslot);
int get_channel_for_timeslot(int timeslot);
// The first timeslot whose entry is `channel`, -1 when none.
int msp_channel_to_timeslot(int channel);
int get_timeslot_for_channel(int channel);
// The call tag kept for a timeslot; "CID:000000:00" outside 0-511.
const char *get_cid_for_timeslot(int timeslot);
// Keeps at most 31 characters of `tag` for the timeslot; 0, or -1 outside 0-511.
int set_cid_for_timeslot(int timeslot, const char *tag);

// Listings of the timeslots that are not free. The plain names list only
// with extra debugging on; the underscored ones always.
int msp_list_timeslot_manager(const char *function = nullptr, int line = 0);
int _msp_list_timeslot_manager();
void msp_list_timeslot_manager_fprintf(FILE *stream);
void _msp_list_timeslot_manager_fprintf(FILE *stream);
void msp_print_tschan_map(FILE *stream);
void list_tschan_map();
