// The SIP stacks: one sofia-sip user agent (nua) per listening interface,
// each with its own event-loop thread "tarn.sofia". The table
// (gp->sip_stacks, gp->sip_stack_size) is filled at start from tarn.sip by
// init_global_sip_parameters: the localhost stack, the LAN and WAN stacks,
// and custom stacks for SIP peers that want their own listening port.
#pragma once
#include <pthread.h>

#include <cstddef>
#include <cstdint>

struct nua_s;
struct su_home_s;
struct su_root_s;
struct tarn_acl;
struct RTP_ports;

enum sip_stack_types {
    STACK_LOCALHOST = 1,
    STACK_LAN = 2,
    STACK_WAN = 4,
    STACK_VPN = 8,
};

enum { SIP_TRANSPORT_UDP = 1, SIP_TRANSPORT_TCP = 2, SIP_TRANSPORT_TLS = 4 };

// ssl_version codes as configured: "tls1.0", "tls1.1", anything else.
enum { SIP_SSL_TLS10 = 4, SIP_SSL_TLS11 = 8, SIP_SSL_ANY = 16 };

struct sip_stack {
    char name[64]; // "localhost", "lan", "wan", or a custom "lan_udp_5070"
    char interface[32];
    char mac[32];
    char ip[64];
    char rtp_port_string[256];
    char cert_path[256];
    int32_t sip_stack_type; // sip_stack_types
    int32_t active;
    int32_t transport; // SIP_TRANSPORT_ bits
    int32_t sip_port;
    int32_t sip_ssl_port;
    int32_t rtp_port_selection_method; // 1 standard, 2 round robin
    int32_t tls_verification_mode;     // 0 none, 1 incoming, 2 outgoing, 3 both
    int32_t tos_sip;
    int32_t tos_rtp;
    int32_t ssl_version; // SIP_SSL_ codes
    int32_t registration_offset; // milliseconds between registrations of peers
    int32_t registration_offset_iteration;
    char user_agent_string[256]; // empty: no User-Agent of ours
    char nua_sip_string[320];     // sip: bind URL, or empty
    char nua_sip_ssl_string[320]; // sips: bind URL, or empty
    RTP_ports *rtp_ports;
    // The running stack: set by its event-loop thread and bring-up.
    su_home_s *app_home;
    su_root_s *volatile app_root; // null until the loop runs
    nua_s *nua;
    pthread_t *nua_thread;
    tarn_acl *acl;
};

// Fills the stack table from tarn.sip and prepares the RTP port pools: 0, or
// -1 after printing the message of the first key it cannot read.
int init_global_sip_parameters();

// Pieces of the parameters, for whoever needs the same reading: the
// transport bits of a sip_transport_ value (none known or empty: UDP and
// TCP), the clamped registration offset, and the user agent text with
// "{FIRMWARE}" replaced by the version.
int sip_transport_bits(const char *value);
int sip_registration_offset(int value);
void sip_user_agent(const char *configured, char *out, size_t size);

// The bind URLs of one stack (nua_sip_string, nua_sip_ssl_string), settling
// the ports as bring-up does: a TLS port of 0 becomes sip_port + 1 (5061 when
// both are 0), a TLS port equal to sip_port moves one up; sip_port 0 becomes
// 5060 when UDP or TCP is on.
void sip_stack_bind_urls(sip_stack *ss);

// The stack's own Contact for a dialog that came in over TLS: "<sips:ip:port>"
// when the request asked for sips:, else "<sip:ip:port;transport=tls>", with
// the TLS port. -1 (out empty) when the stack has no TLS or out is too small.
int sip_stack_tls_contact(const sip_stack *ss, bool sips, char *out, size_t size);

// Look-ups over the first sip_stack_size stacks (callers hold global_lock
// once calls run). Names agree in their first three characters.
sip_stack *get_sip_stack_by_name(const char *name);
sip_stack *get_sip_stack_by_nua(const nua_s *nua);
const char *get_sip_stack_name_by_nua(const nua_s *nua); // "unknown" when none
sip_stack *get_sip_stack_by_name_transport_and_port(const char *name, int transport, int port);
