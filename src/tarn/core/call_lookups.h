// Finding the call object (or registration) an event belongs to, by the key
// its sender knows. Every look-up scans the pool from position 0 upwards and
// returns the first match, so the lowest position wins; nothing but the key
// is compared (a stale key left on a free object matches too, the reset
// clears keys). Callers hold global_lock.
#pragma once
#include <cstdint>

struct call_object;
struct reg_object;
struct kv_timer;
struct misdn_bchannel;
struct nua_handle_s;
struct port_group_sip;

call_object *find_operation_by_bc(const misdn_bchannel *bc);
call_object *get_operation_by_bchannel(const misdn_bchannel *bc);
call_object *get_operation_by_isdn_port(int port);
call_object *get_operation_by_analog_port(int port); // the exact value, marker bit included
call_object *get_operation_by_cas_port(int port);
call_object *get_operation_by_gsm_port(int port);
call_object *get_operation_by_dns_context(); // the first call waiting for DNS
call_object *get_operation_by_rtp_local_port(int port);
call_object *get_operation_by_bridged_call_object(const call_object *co);
call_object *get_operation_by_transcoding_buddy(const call_object *co);
// Only SIP-to-SIP calls.
call_object *get_call_object_by_transcoding_buddy(const call_object *co);
// The incoming leg of each object is tested before its outgoing leg.
call_object *get_operation_by_nua_handle(const nua_handle_s *nh);
call_object *get_operation_by_conference_request();
call_object *get_operation_by_conference_id(int conference_id);
call_object *get_operation_by_pid(int pid);
call_object *get_operation_by_telnet_fd(int fd);

// The timers of a call: one look-up per timer member.
call_object *get_operation_by_timer_member(kv_timer *call_object::*member, const kv_timer *t);
call_object *get_operation_by_timer(const kv_timer *t);
call_object *get_operation_by_force_t38_timer(const kv_timer *t);
call_object *get_operation_by_fcf_timer(const kv_timer *t);
call_object *get_operation_by_fct_timer(const kv_timer *t);
call_object *get_operation_by_fcflush_timer(const kv_timer *t);
call_object *get_operation_by_fxs_wink_timer(const kv_timer *t);
call_object *get_operation_by_dns_enum_timer(const kv_timer *t);
call_object *get_operation_by_failover_timer(const kv_timer *t);
call_object *get_operation_by_rtp_stat_timer(const kv_timer *t);
call_object *get_operation_by_sip_t0_timer(const kv_timer *t);
call_object *get_operation_by_sip_t180_timer(const kv_timer *t);
call_object *get_operation_by_sip_t183_timer(const kv_timer *t);
call_object *get_operation_by_sip_t200_timer(const kv_timer *t);
call_object *get_operation_by_dialtone_detection_timer(const kv_timer *t);
call_object *get_operation_by_state_event_missing_safeguard_timer(const kv_timer *t);
call_object *get_operation_by_fxo_cpt_timer(const kv_timer *t);
call_object *get_operation_by_fxo_alerting_ended_timer(const kv_timer *t);
call_object *get_operation_by_aoc_outgoing_timer(const kv_timer *t);

// Media processor channels and logical timeslots.
call_object *get_operation_by_msp_logical_timeslot(int timeslot);
call_object *get_operation_by_msp_channel(int channel);
call_object *get_operation_by_msp_channel_in_conference(int channel);

// Registrations (null entries of the array are skipped).
reg_object *get_registration_by_timer(const kv_timer *t);
reg_object *get_register_by_pgs(const port_group_sip *pgs);
