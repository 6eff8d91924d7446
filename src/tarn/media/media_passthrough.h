// RTP passthrough of SIP-to-SIP calls whose media the media processor does
// not touch: either four kernel NAT rules per pair of legs (syscall mode 6),
// or a user-space relay thread "tarn.passthrough" per call (at most 128).
// NAT opener probes open the peers' NAT bindings first. Start and stop run
// under global_lock.
#pragma once
#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "csm_records.h"

struct call_object;
struct call_leg_sip;

enum {
    PASSTHROUGH_SLOTS = 128,
    NAT_PROBE_SIZE = 172,
    NAT_PROBE_MARKER = 12345, // notification_flag of a VOPENA whose sending opens NATs
};

// One relay slot.
struct t38_proxy_info {
    int pid;
    int localport_leg1;
    int remoteport_leg1;
    char remoteip_leg1[32];
    int rtp_payload_type_telephony_leg1;
    int tos_leg1;
    int localport_leg2;
    int remoteport_leg2;
    char remoteip_leg2[32];
    int rtp_payload_type_telephony_leg2;
    int tos_leg2;
    int nat_opener;
    int codec1;
    int codec2;
    std::atomic<int> running;
};

// Stops any passthrough of the call, then starts one for its two legs.
void start_udp_proxy_thread(call_object *co);
// Runs the call's stored NAT rule removals, or stops and joins its relay.
void stop_udp_proxy_thread(call_object *co);
// The four NAT rules joining leg 1 and leg 2; with a call they are run and
// their removals stored in the call. 1 done, 0 refused.
int udp_proxy_add_iptables_pair(call_object *co, call_leg_sip *leg1, call_leg_sip *leg2);
// Another call whose leg mirrors this leg (both pointing their media at this
// gateway): 1 and the peer call and leg, or 0.
int udp_proxy_find_transparent_peer(call_object *co, call_leg_sip *leg, call_object **peer,
                                    call_leg_sip **peer_leg);
// Whether an address is one of this gateway's.
int udp_proxy_ip_is_ours(const char *ip);

// One burst of NAT opener packets from a fresh UDP socket.
void send_nat_probe(call_object *co, const char *ip, int port, int codec, int payload);
// The same from the relay's socket.
void send_nat_probe_passthrough(int fd, const struct sockaddr_in *destination, const char *ip, int port,
                                int codec, int payload);
// The relay thread's body (the slot as argument).
void *proxy_rtp(void *slot);
// The relay's in-place rewrite of an RFC 2833 event packet (16 bytes): byte
// 1 becomes the payload type (marker cleared) when the option is set.
unsigned char *modify_rfc2833_payload(unsigned char *packet, size_t length, int payload);

// The probe packet `n` of a burst (0 first) into out[NAT_PROBE_SIZE].
void nat_probe_packet(unsigned char *out, int codec, int payload, uint32_t burst, int n);

// What the NAT probes of a transcoding call's legs need, taken when the
// marked VOPENA is queued (global_lock held); the notice of its sending on
// the command thread then uses only this copy.
void nat_probe_note_vopena(magic_csm vopena, call_object *owner);
// The command thread's notice that a VOPENA with notification went out.
void nat_probe_vopena_sent(magic_csm vopena, int channel);
