// RTP passthrough of SIP-to-SIP calls: kernel NAT rules or a relay thread
// per call, and the NAT opener probes.
#include "media_passthrough.h"

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "application.h"
#include "call_lookups.h"
#include "csm_message.h"
#include "experimental_options.h"
#include "log.h"
#include "pools.h"
#include "system_command.h"

namespace {

constexpr int SYSCALL_MODE_NAT = 6;
constexpr int RULE_SIZE = 512;
constexpr int RFC2833_PACKET = 16;
constexpr size_t DATAGRAM_MAX = 65536;

const experimental_options *eo()
{
    return gp ? gp->experimental_options : nullptr;
}
int eo_value(int32_t experimental_options::*member)
{
    const experimental_options *e = eo();
    return e ? e->*member : 0;
}

std::atomic<uint32_t> probe_bursts{0};   // send_nat_probe
std::atomic<uint32_t> relay_bursts{0};   // the relay threads

// ---- NAT rules -----------------------------------------------------------------

bool stack_complete(const call_leg_sip *leg)
{
    return leg && leg->ss && leg->ss->interface[0] && leg->ss->ip[0];
}

// Peers' SDP addresses and configured names go into command lines: only
// what reads as an address or an interface name is taken.
bool rule_inputs_safe(const call_leg_sip *a, const call_leg_sip *b)
{
    for (const call_leg_sip *l : {a, b})
        if (!is_safe_ifname(l->ss->interface) || !is_ipv4_address(l->ss->ip) || !is_ipv4_address(l->rtp_remote_ip))
            return false;
    return true;
}

void store_removal(call_object *co, int slot, const char *rule)
{
    char *removal = strdup(rule);
    if (!removal)
        return;
    removal[17] = 'D';
    free(co->iptables_clean_commands[slot]);
    co->iptables_clean_commands[slot] = removal;
}

void stop_nat_rules(call_object *co)
{
    for (char *&c : co->iptables_clean_commands) {
        if (!c)
            continue;
        run_system_command("%s", c);
        free(c);
        c = nullptr;
    }
}

// ---- relay slots ---------------------------------------------------------------

t38_proxy_info *slot_info(int i)
{
    if (!gp->t38_proxy_thread_info[i])
        gp->t38_proxy_thread_info[i] = new (std::nothrow) t38_proxy_info();
    return gp->t38_proxy_thread_info[i];
}

void clear_slot(int i)
{
    t38_proxy_info *s = gp->t38_proxy_thread_info[i];
    if (!s)
        return;
    s->running = 0;
    s->pid = 0;
    s->localport_leg1 = s->remoteport_leg1 = s->localport_leg2 = s->remoteport_leg2 = 0;
    s->remoteip_leg1[0] = s->remoteip_leg2[0] = '\0';
    s->rtp_payload_type_telephony_leg1 = s->rtp_payload_type_telephony_leg2 = 0;
    s->tos_leg1 = s->tos_leg2 = s->nat_opener = s->codec1 = s->codec2 = 0;
}

void stop_relay(int pid)
{
    for (int i = 0; i < PASSTHROUGH_SLOTS; i++) {
        pthread_t *handle = gp->t38_proxy_threads[i];
        t38_proxy_info *s = gp->t38_proxy_thread_info[i];
        if (!handle || !s || s->pid != pid)
            continue;
        s->running = 0;
        pthread_join(*handle, nullptr);
        delete handle;
        gp->t38_proxy_threads[i] = nullptr;
        clear_slot(i);
    }
}

void fill_leg(const call_leg_sip *l, int &local, int &remote, char *ip, size_t size, int &te, int &tos)
{
    local = l ? l->rtp_local_port : 0;
    remote = l ? l->rtp_remote_port : 0;
    snprintf(ip, size, "%.31s", l ? l->rtp_remote_ip : "");
    te = l ? l->pt_telephony_event : 0;
    tos = l && l->ss ? l->ss->tos_rtp : 0;
}

void start_relay(call_object *co)
{
    int i = 0;
    while (i < PASSTHROUGH_SLOTS && gp->t38_proxy_threads[i])
        i++;
    if (i == PASSTHROUGH_SLOTS) {
        LOGD(TARN, 0, cinfo(co), "CRITICAL: no free passthrough slot, call has no media path");
        return;
    }
    t38_proxy_info *s = slot_info(i);
    auto *handle = new (std::nothrow) pthread_t;
    if (!s || !handle) {
        delete handle;
        return;
    }
    clear_slot(i);
    fill_leg(co->cl_sip_in, s->localport_leg1, s->remoteport_leg1, s->remoteip_leg1, sizeof s->remoteip_leg1,
             s->rtp_payload_type_telephony_leg1, s->tos_leg1);
    fill_leg(co->cl_sip_out, s->localport_leg2, s->remoteport_leg2, s->remoteip_leg2, sizeof s->remoteip_leg2,
             s->rtp_payload_type_telephony_leg2, s->tos_leg2);
    s->pid = co->pid;
    s->nat_opener = (int)co->cc.s2s_nat_opener;
    s->running = 1;
    gp->t38_proxy_threads[i] = handle;
    if (pthread_create(handle, nullptr, proxy_rtp, s) != 0) {
        LOGD(TARN, 0, cinfo(co), "CRITICAL: couldn't start the passthrough thread: %s", strerror(errno));
        delete handle;
        gp->t38_proxy_threads[i] = nullptr;
        clear_slot(i);
    }
}

int relay_socket(int port, int tos)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons((uint16_t)port);
    bind(fd, (sockaddr *)&a, sizeof a); // a failed bind is ignored: nothing arrives
    return fd;
}

sockaddr_in destination(const char *ip, int port)
{
    sockaddr_in d = {};
    d.sin_family = AF_INET;
    d.sin_port = htons((uint16_t)port);
    if (inet_pton(AF_INET, ip, &d.sin_addr) != 1)
        d.sin_addr.s_addr = htonl(INADDR_ANY);
    return d;
}

void send_burst(int fd, const sockaddr_in *to, int codec, int payload, uint32_t burst)
{
    int count = eo_value(&experimental_options::eo_nat_probes_count);
    unsigned char packet[NAT_PROBE_SIZE];
    for (int n = 0; n < count; n++) {
        nat_probe_packet(packet, codec, payload, burst, n);
        sendto(fd, packet, sizeof packet, 0, (const sockaddr *)to, sizeof *to);
    }
}

void log_burst(const char *ip, int port, int codec, int payload)
{
    LOGD(TARN, 5, nullptr, "Sending %i nat opener packets, codec=%i payload=%i ip=%s port=%i\n",
         eo_value(&experimental_options::eo_nat_probes_count), codec, payload, ip ? ip : "", port);
}

// ---- NAT probes of a transcoding call --------------------------------------------

struct probe_leg {
    int port;
    int codec;
    int payload;
};
struct vopena_capture {
    const void *vopena; // the queued record, the key
    int pid;
    char msp_ip[32];
    probe_leg legs[2];
};
constexpr int CAPTURES = 64;
std::mutex captures_lock;
vopena_capture captures[CAPTURES];
int next_capture = 0;

probe_leg leg_facts(const call_leg_sip *l)
{
    if (!l)
        return {0, 8, 8};
    return {l->rtp_local_port & 0xFFFF, l->using_codec, l->using_payload};
}

} // namespace

// ---- probes ----------------------------------------------------------------------

void nat_probe_packet(unsigned char *out, int codec, int payload, uint32_t burst, int n)
{
    static const unsigned char head_ulaw[12] = {0x80, 0x00, 0x3b, 0x9e, 0xd0, 0xb5, 0x4c, 0x60, 0x70, 0xec, 0x09, 0x9d};
    static const unsigned char head_alaw[12] = {0x80, 0x08, 0x3b, 0x9e, 0xd0, 0xb5, 0x4c, 0x60, 0x70, 0xec, 0x09, 0x9d};
    bool ulaw = codec == 0 || codec == 18;
    memcpy(out, ulaw ? head_ulaw : head_alaw, 12);
    memset(out + 12, ulaw ? 0xFF : 0xD5, NAT_PROBE_SIZE - 12);
    out[1] = (unsigned char)payload;
    uint16_t seq = (uint16_t)((out[2] << 8 | out[3]) + n);
    uint32_t ts = ((uint32_t)out[4] << 24 | (uint32_t)out[5] << 16 | (uint32_t)out[6] << 8 | out[7]) + 160u * (uint32_t)n;
    uint32_t ssrc = ((uint32_t)out[8] << 24 | (uint32_t)out[9] << 16 | (uint32_t)out[10] << 8 | out[11]) + burst;
    out[2] = (unsigned char)(seq >> 8);
    out[3] = (unsigned char)seq;
    for (int k = 0; k < 4; k++) {
        out[4 + k] = (unsigned char)(ts >> (24 - 8 * k));
        out[8 + k] = (unsigned char)(ssrc >> (24 - 8 * k));
    }
}

void send_nat_probe(call_object *, const char *ip, int port, int codec, int payload)
{
    log_burst(ip, port, codec, payload);
    in_addr a;
    if (!ip || inet_pton(AF_INET, ip, &a) != 1)
        return;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in to = destination(ip, port);
    send_burst(fd, &to, codec, payload, ++probe_bursts);
    close(fd);
}

void send_nat_probe_passthrough(int fd, const struct sockaddr_in *to, const char *ip, int port, int codec,
                                int payload)
{
    log_burst(ip, port, codec, payload);
    send_burst(fd, to, codec, payload, ++relay_bursts);
}

void nat_probe_note_vopena(magic_csm vopena, call_object *owner)
{
    if (csm_msg_is_null(vopena) || !owner || !gp)
        return;
    std::lock_guard<std::mutex> g(captures_lock);
    vopena_capture &c = captures[next_capture];
    next_capture = (next_capture + 1) % CAPTURES;
    c.vopena = vopena.u_raw;
    c.pid = owner->pid;
    snprintf(c.msp_ip, sizeof c.msp_ip, "%s", gp->netconf.msp_devip);
    c.legs[0] = leg_facts(owner->cl_sip_in);
    c.legs[1] = leg_facts(owner->cl_sip_out);
}

void nat_probe_vopena_sent(magic_csm vopena, int)
{
    if (csm_msg_is_null(vopena) || vopena.u_csmchan_voip_vopena->notification_flag != NAT_PROBE_MARKER)
        return;
    vopena_capture c = {};
    {
        std::lock_guard<std::mutex> g(captures_lock);
        for (vopena_capture &k : captures)
            if (k.vopena == vopena.u_raw) {
                c = k;
                k.vopena = nullptr;
            }
    }
    if (!c.vopena) {
        LOGD(TARN, 5, nullptr, "no NAT probe facts for this VOPENA, nothing sent");
        return;
    }
    for (const probe_leg &l : c.legs)
        send_nat_probe(nullptr, c.msp_ip, l.port, l.codec, l.payload);
}

// ---- relay -----------------------------------------------------------------------

unsigned char *modify_rfc2833_payload(unsigned char *packet, size_t length, int payload)
{
    if (packet && length == RFC2833_PACKET && eo_value(&experimental_options::eo_s2s_transparent_modify_rfc2833_payload))
        packet[1] = (unsigned char)(payload & 0x7F);
    return packet;
}

void *proxy_rtp(void *arg)
{
    auto *s = static_cast<t38_proxy_info *>(arg);
    prctl(PR_SET_NAME, "tarn.passthrough", 0, 0, 0);
    int fd1 = relay_socket(s->localport_leg1, s->tos_leg1);
    int fd2 = fd1 < 0 ? -1 : relay_socket(s->localport_leg2, s->tos_leg2);
    if (fd1 < 0 || fd2 < 0) {
        if (fd1 >= 0)
            close(fd1);
        return nullptr;
    }
    sockaddr_in to1 = destination(s->remoteip_leg1, s->remoteport_leg1);
    sockaddr_in to2 = destination(s->remoteip_leg2, s->remoteport_leg2);
    if (s->nat_opener) {
        send_nat_probe_passthrough(fd1, &to1, s->remoteip_leg1, s->remoteport_leg1, s->codec1,
                                   s->rtp_payload_type_telephony_leg1);
        send_nat_probe_passthrough(fd2, &to2, s->remoteip_leg2, s->remoteport_leg2, s->codec2,
                                   s->rtp_payload_type_telephony_leg2);
    }
    auto *buf = static_cast<unsigned char *>(malloc(DATAGRAM_MAX));
    while (buf && s->running.load()) {
        pollfd p[2] = {{fd1, POLLIN, 0}, {fd2, POLLIN, 0}};
        if (poll(p, 2, 1) <= 0) {
            usleep(10 * 1000);
            continue;
        }
        // Socket 1 first: its datagrams go out of socket 2 to leg 2's peer.
        struct way {
            int in, out;
            const sockaddr_in *to;
            int payload;
        };
        const way ways[2] = {{fd1, fd2, &to2, s->rtp_payload_type_telephony_leg2},
                             {fd2, fd1, &to1, s->rtp_payload_type_telephony_leg1}};
        for (int k = 0; k < 2; k++) {
            if (!(p[k].revents & POLLIN))
                continue;
            ssize_t n = recv(ways[k].in, buf, DATAGRAM_MAX, MSG_DONTWAIT);
            if (n <= 0)
                continue;
            modify_rfc2833_payload(buf, (size_t)n, ways[k].payload);
            sendto(ways[k].out, buf, (size_t)n, 0, (const sockaddr *)ways[k].to, sizeof *ways[k].to);
        }
    }
    free(buf);
    close(fd1);
    close(fd2);
    return nullptr;
}

// ---- own addresses and transparent peers ----------------------------------------

int udp_proxy_ip_is_ours(const char *ip)
{
    if (!ip || !*ip || !gp)
        return 0;
    const network_config &n = gp->netconf;
    if (!strcmp(ip, "127.0.0.1"))
        return 1;
    for (const char *own : {n.host_ip_lan, n.host_ip_wan, n.host_ip_vpn})
        if (own[0] && !strcmp(ip, own))
            return 1;
    for (int i = 0; i < gp->sip_stack_size && i < SIP_STACKS_CAPACITY; i++)
        if (gp->sip_stacks[i].active && !strcmp(ip, gp->sip_stacks[i].ip))
            return 1;
    return 0;
}

int udp_proxy_find_transparent_peer(call_object *co, call_leg_sip *leg, call_object **peer,
                                    call_leg_sip **peer_leg)
{
    if (!eo_value(&experimental_options::eo_allow_transparent_bridging) || !leg ||
        !udp_proxy_ip_is_ours(leg->rtp_remote_ip))
        return 0;
    for (int i = 0; i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        call_object *other = gp->operations[i];
        if (!other || other == co || other->callinfo == 0)
            continue;
        for (call_leg_sip *l : {other->cl_sip_in, other->cl_sip_out}) {
            if (!l || !leg->rtp_local_port || !leg->rtp_remote_port || !l->rtp_local_port || !l->rtp_remote_port)
                continue;
            if (!udp_proxy_ip_is_ours(l->rtp_remote_ip))
                continue;
            if (leg->rtp_remote_port == l->rtp_local_port && l->rtp_remote_port == leg->rtp_local_port) {
                *peer = other;
                *peer_leg = l;
                return 1;
            }
        }
    }
    return 0;
}

// ---- start and stop --------------------------------------------------------------

int udp_proxy_add_iptables_pair(call_object *co, call_leg_sip *leg1, call_leg_sip *leg2)
{
    if (!stack_complete(leg1) || !stack_complete(leg2)) {
        LOGD(TARN, 0, co ? cinfo(co) : nullptr,
             "Cannot create udp proxy iptables rules: incomplete sip stack information");
        return 0;
    }
    if (!rule_inputs_safe(leg1, leg2)) {
        LOGD(TARN, 0, co ? cinfo(co) : nullptr,
             "CRITICAL: udp proxy iptables rules not made: an address or interface name is not well-formed");
        return 0;
    }
    char rules[4][RULE_SIZE];
    snprintf(rules[0], RULE_SIZE, "iptables -t nat -I POSTROUTING -o %s -p udp --dport %i -d %s -j SNAT --to-source %s:%i",
             leg1->ss->interface, leg1->rtp_remote_port, leg1->rtp_remote_ip, leg1->ss->ip, leg1->rtp_local_port);
    snprintf(rules[1], RULE_SIZE, "iptables -t nat -I POSTROUTING -o %s -p udp --dport %i -d %s -j SNAT --to-source %s:%i",
             leg2->ss->interface, leg2->rtp_remote_port, leg2->rtp_remote_ip, leg2->ss->ip, leg2->rtp_local_port);
    snprintf(rules[2], RULE_SIZE, "iptables -t nat -I PREROUTING -i %s -p udp --dport %i -j DNAT --to-destination %s:%i",
             leg1->ss->interface, leg1->rtp_local_port, leg2->rtp_remote_ip, leg2->rtp_remote_port);
    snprintf(rules[3], RULE_SIZE, "iptables -t nat -I PREROUTING -i %s -p udp --dport %i -j DNAT --to-destination %s:%i",
             leg2->ss->interface, leg2->rtp_local_port, leg1->rtp_remote_ip, leg1->rtp_remote_port);
    if (!co)
        return 1;
    const int removal_slot[4] = {1, 3, 0, 2};
    for (int k = 0; k < 4; k++) {
        _run_system_command(__FILE__, __LINE__, "udp_proxy_add_iptables_rule", "%s", rules[k]);
        store_removal(co, removal_slot[k], rules[k]);
    }
    return 1;
}

void stop_udp_proxy_thread(call_object *co)
{
    if (!co || !gp)
        return;
    if (eo_value(&experimental_options::eo_syscall_mode) == SYSCALL_MODE_NAT)
        stop_nat_rules(co);
    else
        stop_relay(co->pid);
}

namespace {

call_leg_sip *other_leg(call_object *co, call_leg_sip *leg)
{
    return leg == co->cl_sip_in ? co->cl_sip_out : co->cl_sip_in;
}

void probe_leg_of(call_object *co, call_leg_sip *l)
{
    send_nat_probe(co, l->rtp_remote_ip, l->rtp_remote_port, l->using_codec, l->using_payload);
}

bool transparent_bridge(call_object *co)
{
    call_object *peer = nullptr;
    call_leg_sip *peer_leg = nullptr;
    call_leg_sip *mine = co->cl_sip_in;
    if (!udp_proxy_find_transparent_peer(co, mine, &peer, &peer_leg)) {
        mine = co->cl_sip_out;
        if (!udp_proxy_find_transparent_peer(co, mine, &peer, &peer_leg))
            return false;
    }
    call_leg_sip *own_other = other_leg(co, mine);
    call_leg_sip *peer_other = other_leg(peer, peer_leg);
    if (!stack_complete(own_other) || !stack_complete(peer_other))
        return false;
    LOGD(TARN, 3, cinfo(co), "transparent bridging: local %s:%i <-> %s:%i, media %s:%i <-> %s:%i, peer pid %i",
         own_other->ss->ip, own_other->rtp_local_port, peer_other->ss->ip, peer_other->rtp_local_port,
         own_other->rtp_remote_ip, own_other->rtp_remote_port, peer_other->rtp_remote_ip,
         peer_other->rtp_remote_port, peer->pid);
    stop_udp_proxy_thread(peer);
    if (!udp_proxy_add_iptables_pair(co, own_other, peer_other))
        return false;
    if (co->cc.s2s_nat_opener || peer->cc.s2s_nat_opener) {
        probe_leg_of(co, own_other);
        probe_leg_of(peer, peer_other);
    }
    return true;
}

} // namespace

void start_udp_proxy_thread(call_object *co)
{
    if (!co || !gp)
        return;
    stop_udp_proxy_thread(co);
    if (eo_value(&experimental_options::eo_syscall_mode) != SYSCALL_MODE_NAT) {
        start_relay(co);
        return;
    }
    if (!co->cl_sip_in || !co->cl_sip_out)
        return;
    if (eo_value(&experimental_options::eo_allow_transparent_bridging) && transparent_bridge(co))
        return;
    if (udp_proxy_add_iptables_pair(co, co->cl_sip_in, co->cl_sip_out) && co->cc.s2s_nat_opener) {
        probe_leg_of(co, co->cl_sip_in);
        probe_leg_of(co, co->cl_sip_out);
    }
}
