// Inside of the ISDN library: the shared globals and the operations its
// parts call across files (start-up, threads, layer and call handling).
#pragma once
#include <atomic>
#include <semaphore.h>
#include <cstdint>

#include "isdn_lib.h"
#include "misdn_frame.h"
#include "misdn_msg.h"

extern misdn_lib *glob_mgr;
// Set by misdn_lib_destroy: the three threads leave their loops.
extern std::atomic<bool> isdn_stopping;
extern int entity;  // mISDN entity number from opening the device
extern sem_t handler_started;
extern unsigned char flip_table[256];
extern unsigned char tone_425_flip[192];
extern unsigned char tone_silence_flip[80];
extern unsigned char tone_425[192];    // 425 Hz, A-law, 8 kHz
extern unsigned char tone_SILENCE[80];

// ---- start-up and stacks ----
int te_lib_init(void);
misdn_stack *stack_init(int midev, int port, int ptp, int crlen, int cidlen);
int init_bc(misdn_stack *stack, misdn_bchannel *bc, int midev, int port, int bidx, const char *msn, int firsttime);
int setup_bc(misdn_bchannel *bc, int b_idx);
int _handle_event_nt(manager_t *mgr, msg_t *msg);
// Layer-2 message {prim, dinfo} and size zero octets; ends the process with 118 when memory stays short.
msg_t *create_l2msg(uint32_t prim, int dinfo, int size);
// A frame without data to the device, 1-second time-out; the result is not used.
void write_frame(uint32_t addr, uint32_t prim, int dinfo);
// The NT stack's layer-3 entry under the stack's lock; 0 taken, else not (the caller frees).
int nt_stack_down(misdn_stack *stack, msg_t *msg);
// Asks layer 2 up: through the NT stack on NT point-to-point ports, else a frame.
void request_l2_establish(misdn_stack *stack);

// Sets the TE process-id counter (tests): the next id uses value + 1.
void misdn_lib_set_te_l3id_counter(int value);

// ---- slots ----
// The slot preparation common to every search.
void prepare_bc(misdn_bchannel *bc, int channel, int generate_pid);
// Meta info of channel c of the stack (null for 0, 255 and channels without a B-stack).
misdn_bchannel_meta_info *meta_of_channel(misdn_stack *stack, int channel);
// Exact and masked (upper 16 bits) lookups; l3id 0 finds nothing.
misdn_bchannel *find_bc_by_masked_l3id(misdn_stack *stack, int l3id);
// The history: " " old ",I:" or ",S:" name, cut at 255 characters.
void bc_history_add(misdn_bchannel *bc, const char *dir, const char *name);
// Copies a call record into another, keeping the target's own send lock and audio ring.
void bc_copy_call(misdn_bchannel *dst, const misdn_bchannel *src);
// The stack whose upper id matches a frame address in the stack bits.
misdn_stack *find_stack_by_addr(uint32_t addr);

// empty_bc that keeps the received and the sent cause.
void empty_bc_keep_causes(misdn_bchannel *bc);
// The event of a received frame: looked up, logged at level 17, parsed into
// the call and added to its history; *name gets its name (null: none).
event_e take_event(misdn_stack *stack, msg_t *msg, misdn_bchannel *bc, int nt, const char **name);
// The book's answer to the channel an incoming SETUP asks for (exclusive,
// preferred or any): its result, *granted the channel on success.
int incoming_channel_request(misdn_stack *stack, misdn_bchannel *bc, int *granted);

// ---- threads ----
void *misdn_lib_isdn_event_catcher(void *arg);
void *manager_event_handler(void *arg);
void *application_event_sender(void *arg);
// Queues a frame for the handler thread (activatequeue).
void queue_activate_frame(msg_t *msg);
// Queues a TE frame for the sender thread.
void queue_sender_frame(msg_t *msg);
// Work the sender thread does under global_lock for the catcher: the
// clean-up when layer 1 went down, the restart after link loss.
enum sender_job_kind { JOB_L1_DOWN_CLEANUP = 1, JOB_LINKLOSS_RESTART = 2 };
void queue_sender_job(int port, int kind);
void run_sender_job(int port, int kind);
// A zeroed call record for a frame whose call is not known, one per
// thread; never kept beyond the frame.
misdn_bchannel *scratch_record(misdn_stack *stack, int l3id);
// One TE frame on the sender thread (global_lock held); frees it.
void handle_te_frame(msg_t *msg);

// ---- layer and call events ----
int manager_isdn_handler(iframe_t *frm, msg_t *msg);
int handle_cr(misdn_stack *stack, iframe_t *frm);
int handle_event_nt(void *dat, void *arg);
int handle_bchan(msg_t *msg);
