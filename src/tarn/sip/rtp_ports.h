// The RTP and T.38 port pools of the SIP stacks.
//
// One table indexed by UDP port: rtp_ports[p] is 1 when p is configured and
// free, and rtp_stacks[p] holds the bits (sip_stack_types) of the stacks
// whose range has p. Each stack's range (start..stop) comes from its
// rtp_port_string; a LAN or WAN range wider than 640 ports keeps its top 257
// ports as the T.38 pool, which serves fax, clear-channel and passthrough
// legs, all other legs are served from the rest. Ports are handed out lowest
// first. No lock of its own: callers hold global_lock (or run at start-up
// before calls exist).
#pragma once
#include <cstdint>

struct sip_stack;
struct call_object;
struct call_leg_sip;

enum { RTP_PORT_TABLE_SIZE = 65536 };

struct RTP_ports {
    uint8_t *rtp_ports;
    uint8_t *rtp_stacks;
    int lostart, lostop;
    int lanstart, lanstop;
    int wanstart, wanstop;
    int vpnstart, vpnstop;
    int lo_t38start, lo_t38stop;
    int lan_t38start, lan_t38stop;
    int wan_t38start, wan_t38stop;
    int vpn_t38start, vpn_t38stop;
};

// Marks the stack's ports (its rtp_port_string, cut to 255 characters) in
// the two tables: 0, or -1 for a stack of an unknown name. Bad tokens are
// logged "CRITICAL: ignoring token %s" and passed over.
int prepare_rtp_ports(sip_stack *ss, uint8_t *rtpports, uint8_t *rtpstacks);

// Builds (or refreshes) gp->rtp_ports over the two tables: each stack's
// start and stop and the T.38 sub-ranges.
void nsetup_rtp_ports(uint8_t *rtpports, uint8_t *rtpstacks);

// Allocates or re-checks the leg's port: from the T.38 pool when the call's
// hdlc flag is set; returns the leg's port (0 when none).
int update_rtp_port(call_object *co, call_leg_sip *cl);
// The same, always from the T.38 pool.
int get_free_passthrough_port(call_object *co, call_leg_sip *cl);
// The allocator: pool 1 is the T.38 pool; preferred_port 0 takes any port.
int _update_rtp_port(call_object *co, call_leg_sip *cl, int pool, int preferred_port);

// Frees one port (1..65535 only).
void release_rtp_port(int port);
// Frees the leg's rtp_local_port, rtp_local_port_extra and
// rtp_local_port_unreleased, and clears them.
void release_all_rtp_ports(call_leg_sip *cl);

// 1 when the port lies in a LAN, WAN or VPN T.38 range and t38 is set, or
// in none of them and t38 is 0.
int rtp_port_type_ok(int port, int t38);
// 1 when the port lies in the range of stack 1, 2 or 4.
int check_if_rtp_port_belongs_to_stack(int stack, int rtp_port);
// qsort comparator of ints.
int comp_int(const void *a, const void *b);

// The stack bit of a stack name: "localhost" 1, "lan*" 2, "wan*" 4, "vpn*"
// 8, else 0.
int rtp_stack_bit(const char *name);
