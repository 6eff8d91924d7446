// The ISDN library as call control, bring-up, housekeeping and the console
// use it: start-up, ports and their stacks, call slots, sending call events,
// port restart, B-channel control, port groups and the channel book.
//
// Bring-up: misdn_lib_chansel_behaviour and misdn_set_check_queues_length
// first, then misdn_lib_init once with the port list and the callbacks,
// then misdn_lib_init_port_groups with the port-group text and the
// per-group (misdn_lib_set_channel_selection, misdn_lib_set_port_pullup)
// and per-port settings (misdn_set_t1, misdn_allow_qsig, ...).
//
// Events reach call control through cb_event: D-channel call events on the
// sender thread "tarn.isdn_evs" with global_lock held, one message at a
// time (so do the clean-ups when layer 1 goes down and at a restart after
// link loss); B-channel events (DTMF, tone generation, data) and the port
// alarm on the catcher thread "tarn.isdn_evc" without it.
#pragma once
#include <cstdio>

#include "channel_spender.h"
#include "isdn_lib_types.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"
#include "misdn_stack.h"
#include "port_groups.h"

// ---- start-up (bring-up) ----

// Opens the device, builds a stack and its slots for every port of the
// list and starts the three threads. 0; 1 when port_count is not in 1..31
// (nothing opened). Any other failure ends the process: 120 no entity, 121
// a port above the number of stacks, 122 no stack, 123/124 a slot failed.
int misdn_lib_init(isdn_init_info *iii, misdn_lib_iface *iface, void *user_data);

// The orderly end: the catcher, the handler and the sender leave their
// loops and are waited for (not the calling thread, when it is one of them),
// the device is closed, which ends its timers and the device layer's own
// thread. The stacks and call records stay for callers that still hold them;
// events sent afterwards go nowhere. Safe to call twice and without
// misdn_lib_init.
void misdn_lib_destroy(void);

extern int misdn_lib_chansel_behaviour[MISDN_MAX_PORTS];  // per port; 0 by mode
extern int misdn_cw_reject_code;   // cause when no slot or channel is left (34)
extern int g_check_queues_length;  // queued-frame limit for incoming SETUPs (0 off)
extern int g_queue_full;           // set by the B-channel choice of call admission
extern int global_state;           // MISDN_INITIALIZING until the threads run
void misdn_set_check_queues_length(int n);
int misdn_get_check_queues_length(void);

// Per-port settings after misdn_lib_init; a port without stack is ignored.
void misdn_set_t1(int port, int t1);
void misdn_set_permanent_l1(int port, int on);
void misdn_set_restart_after_linkloss(int port, int option);  // 0 off, 1 all, 2 NT, 3 TE
void misdn_allow_qsig(int port, int on);
void misdn_allow_qsig_network_extension(int port, int on);
void misdn_allow_qsig_iso(int port, int on);
void misdn_set_reject_unknown_facility(int port, int on);
void misdn_allow_complete_dialing_pound_star(int port, int on);

// ---- ports ----

misdn_stack *get_misdn_stack(void);
misdn_stack *get_stack_by_isdn_port(int port);
misdn_stack *get_stack_by_bc(const misdn_bchannel *bc);
int misdn_lib_get_port_up(int port);
int misdn_lib_get_port_down(int port);
int misdn_lib_port_up(int port, int check);  // 1 up, 0 down, -1 blocked or unconfigured
int is_port_up(int port, int pullup);
int misdn_is_port_up(int port, int pullup);
int misdn_is_port_up_by_stack(misdn_stack *stack, int pullup);
int misdn_lib_port_block(int port);
int misdn_lib_port_unblock(int port);
int misdn_lib_is_port_blocked(int port);
int misdn_is_port_blocked_by_stack(misdn_stack *stack);
int misdn_lib_is_l2_up(int port);
int misdn_lib_is_te_ptp_l2_down(int port);
void misdn_lib_reinit_nt_stack(int port);
int misdn_lib_is_ptp(int port);
int misdn_lib_port_is_pri(int port);
int misdn_port_is_nt(int port);
int misdn_port_has_stack(int port);
int misdn_is_port_configured(int port);
int misdn_get_channel_count(void);
int misdn_get_stack_count(void);
misdn_stack *misdn_get_stack_by_index(int index);
int misdn_get_port_by_stack(misdn_stack *stack);
int misdn_get_channelcount_by_stack(misdn_stack *stack);
int misdn_get_full_channelcount_by_stack(misdn_stack *stack);
misdn_bchannel *misdn_get_channel_by_stack_and_index(misdn_stack *stack, int index);
int misdn_lib_get_dchannel(int port);
int misdn_lib_maxports_get(void);
int misdn_queues_state(void);
const char *manager_isdn_get_info(event_e event);

// Console status lines; an empty text for a port without stack.
void get_show_stack_details(int port, char *buf, int size);
void get_show_stack_details_compact(int port, char *buf, int size);
void misdn_dump_chan_list_by_port(int port);
void misdn_lib_log_ies(misdn_bchannel *bc);

// ---- call slots ----

// A prepared free slot of the port (channel 0 any; inout set for outgoing
// calls; dec searches downwards), or null with a log line.
misdn_bchannel *misdn_lib_get_free_bc(int port, int channel, int inout, int dec, int generate_pid);
misdn_bchannel *find_bc_by_l3id(misdn_stack *stack, int l3id);
misdn_bchannel *find_bc_by_confid(int confid);
void stack_holder_add(misdn_stack *stack, misdn_bchannel *holder);
void stack_holder_remove(misdn_stack *stack, misdn_bchannel *holder);
misdn_bchannel *stack_holder_find(misdn_stack *stack, int l3id);
void misdn_holder_add_by_port(int port, misdn_bchannel *holder);
void misdn_holder_remove_by_port(int port, misdn_bchannel *holder);
int misdn_holder_bc_is_on_holder_stack(int port, misdn_bchannel *holder);
void free_bc(misdn_bchannel *bc);
void misdn_clean_ie_buffers(misdn_bchannel *bc);
void misdn_lib_attach_meta(misdn_bchannel *bc);
int misdn_is_channel_assigned(misdn_bchannel *bc, int port, int channel);

// ---- sending call events ----

// Builds the message of the event from the call and queues it: 0, or -1
// when nothing was sent.
int misdn_lib_send_event(misdn_bchannel *bc, event_e event);
int empty_bc(misdn_bchannel *bc);
int misdn_empty_bc(misdn_bchannel *bc);
void misdn_lib_release(misdn_bchannel *bc);
void misdn_clear_unassociated_bc(misdn_bchannel *bc);
void manager_bchannel_activate(misdn_bchannel *bc);
void manager_bchannel_deactivate(misdn_bchannel *bc);
void misdn_send_lock(misdn_bchannel *bc);
void misdn_send_unlock(misdn_bchannel *bc);

// ---- restart and B-channel ----

int misdn_lib_port_restart(int port);
void misdn_tx_jitter(misdn_bchannel *bc, int len);
void manager_ph_control(misdn_bchannel *bc, int c1, int c2);
void manager_ph_control_block(misdn_bchannel *bc, int c1, const void *data, int length);
int misdn_cap_is_speech(int cap);
void manager_ec_enable(misdn_bchannel *bc);
void bc_state_change(misdn_bchannel *bc, bchannel_state state);
int misdn_lib_tx2misdn_frm(misdn_bchannel *bc, const void *data, int length);
