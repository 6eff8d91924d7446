// The stack table from tarn.sip (the SIP stack parameters) and its look-ups.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "cli.h"
#include "confman.h"
#include "log.h"
#include "network_config.h"
#include "platform_path.h"
#include "rtp_ports.h"
#include "schema.h"
#include "sip_stack.h"

namespace {

// The keys of one stack in tarn.sip, in the order they are read.
struct stack_keys {
    const char *label;
    int type;
    int active, interface, bindport, rtpports, selection, tls_verification, transport, ssl_version, ssl_port,
        cert_dir, tos_sip, tos_rtp, useragent, registration_offset;
};

const stack_keys lan_keys = {"lan", STACK_LAN,
                             CFG_SIP_STACK_ACTIVE_LAN, CFG_SIP_INTERFACE_NAME_LAN, CFG_SIP_SIP_BINDPORT_LAN,
                             CFG_SIP_RTPPORTS_LAN, CFG_SIP_RTP_PORT_SELECTION_LAN,
                             CFG_SIP_TLS_VERIFICATION_SELECTION_LAN, CFG_SIP_SIP_TRANSPORT_LAN,
                             CFG_SIP_SSL_VERSION_LAN, CFG_SIP_SSL_PORT_LAN, CFG_SIP_CERT_DIR_LAN,
                             CFG_SIP_TOS_SIP_LAN, CFG_SIP_TOS_RTP_LAN, CFG_SIP_SIP_USERAGENT_LAN,
                             CFG_SIP_REGISTRATION_OFFSET_LAN};
const stack_keys wan_keys = {"wan", STACK_WAN,
                             CFG_SIP_STACK_ACTIVE_WAN, CFG_SIP_INTERFACE_NAME_WAN, CFG_SIP_SIP_BINDPORT_WAN,
                             CFG_SIP_RTPPORTS_WAN, CFG_SIP_RTP_PORT_SELECTION_WAN,
                             CFG_SIP_TLS_VERIFICATION_SELECTION_WAN, CFG_SIP_SIP_TRANSPORT_WAN,
                             CFG_SIP_SSL_VERSION_WAN, CFG_SIP_SSL_PORT_WAN, CFG_SIP_CERT_DIR_WAN,
                             CFG_SIP_TOS_SIP_WAN, CFG_SIP_TOS_RTP_WAN, CFG_SIP_SIP_USERAGENT_WAN,
                             CFG_SIP_REGISTRATION_OFFSET_WAN};

// The two scratch tables of the RTP port preparation; they become the
// tables of the application's RTP_ports.
uint8_t *rtp_port_table, *rtp_stack_table;

int get_key(int key, char *buf, size_t size)
{
    return cm_get(gp->config_sip, buf, size, 0, key);
}

// "Failed getting <what>_<label> setting from sip config, check your settings!"
int failed(const char *what, const char *label)
{
    fprintf(stderr, "Failed getting %s_%s setting from sip config, check your settings!\n", what, label);
    return -1;
}

const char *transport_text(int t)
{
    return t == SIP_TRANSPORT_TLS ? "tls" : t == SIP_TRANSPORT_TCP ? "tcp" : "udp";
}

} // namespace

int sip_transport_bits(const char *value)
{
    if (!value || !value[0])
        return SIP_TRANSPORT_UDP | SIP_TRANSPORT_TCP;
    int bits = 0;
    if (strcasestr(value, "udp"))
        bits |= SIP_TRANSPORT_UDP;
    if (strcasestr(value, "tcp"))
        bits |= SIP_TRANSPORT_TCP;
    if (strcasestr(value, "tls"))
        bits |= SIP_TRANSPORT_TLS;
    return bits ? bits : SIP_TRANSPORT_UDP | SIP_TRANSPORT_TCP;
}

int sip_registration_offset(int value)
{
    if (value <= 0)
        return 0;
    if (value < 10)
        return 10;
    return value > 1000 ? 1000 : value;
}

void sip_user_agent(const char *configured, char *out, size_t size)
{
    std::string ua = configured;
    const std::string mark = "{FIRMWARE}";
    for (size_t at = ua.find(mark); at != std::string::npos; at = ua.find(mark, at + strlen(appfs_version)))
        ua.replace(at, mark.size(), appfs_version);
    snprintf(out, size, "%s", ua.c_str());
}

// One LAN or WAN stack into *slot: 1 when it took the slot, 0 when the stack
// is off or its interface cannot be opened, -1 for an unreadable key.
static int read_stack(const stack_keys &k, int *slot)
{
    char buf[256];
    if (get_key(k.active, buf, sizeof buf) != 0)
        return failed("stack_active", k.label);
    if (atoi(buf) == 0)
        return 0;
    sip_stack *ss = &gp->sip_stacks[*slot];
    *ss = sip_stack{};
    ss->sip_stack_type = k.type;
    ss->active = 1;
    snprintf(ss->name, sizeof ss->name, "%s", k.label);
    if (get_key(k.interface, buf, sizeof buf) != 0)
        return failed("interface_name", k.label);
    snprintf(ss->interface, sizeof ss->interface, "%.31s", buf);
    char mac[32] = "", ip[64] = "";
    if (get_net_info(ss->interface, mac, sizeof mac, ip, sizeof ip) != 0) {
        fprintf(stderr, "disabling SIP stack %s, couldn't open %s!", k.label, ss->interface);
        LOGD(TARN, 0, nullptr, "CRITICAL: disabling SIP stack %s, couldn't open %s!", k.label, ss->interface);
        ss->active = 0;
        ss->interface[0] = '\0';
        return 0; // the next stack takes this slot
    }
    (k.type == STACK_LAN ? gp->stack_active_lan : gp->stack_active_wan) = 1;
    snprintf(ss->ip, sizeof ss->ip, "%s", ip);
    snprintf(ss->mac, sizeof ss->mac, "%s", mac);

    if (get_key(k.bindport, buf, sizeof buf) != 0)
        return failed("sip_bindport", k.label);
    ss->sip_port = atoi(buf);
    if (get_key(k.rtpports, buf, sizeof buf) != 0)
        return failed("rtpports", k.label);
    snprintf(ss->rtp_port_string, sizeof ss->rtp_port_string, "%s", buf);
    if (get_key(k.selection, buf, sizeof buf) != 0)
        return failed("rtp_port_selection", k.label);
    ss->rtp_port_selection_method = strcasecmp(buf, "roundrobin") == 0 ? 2 : 1;
    if (get_key(k.tls_verification, buf, sizeof buf) != 0)
        return failed("tls_verification_selection", k.label);
    ss->tls_verification_mode = strcasecmp(buf, "none") == 0       ? 0
                                : strcasecmp(buf, "incoming") == 0 ? 1
                                : strcasecmp(buf, "outgoing") == 0 ? 2
                                                                   : 3;
    if (get_key(k.transport, buf, sizeof buf) != 0)
        return failed("sip_transport", k.label);
    ss->transport = sip_transport_bits(buf);
    if (get_key(k.ssl_version, buf, sizeof buf) != 0)
        return failed("ssl_version", k.label);
    ss->ssl_version = strcmp(buf, "tls1.0") == 0 ? SIP_SSL_TLS10 : strcmp(buf, "tls1.1") == 0 ? SIP_SSL_TLS11 : SIP_SSL_ANY;
    if (get_key(k.ssl_port, buf, sizeof buf) != 0)
        return failed("ssl_port", k.label);
    ss->sip_ssl_port = atoi(buf);
    if (ss->sip_ssl_port == 0 && (ss->transport & SIP_TRANSPORT_TLS))
        ss->sip_ssl_port = ss->sip_port + 1;
    if (get_key(k.cert_dir, buf, sizeof buf) != 0)
        return failed("cert_dir", k.label);
    // Board paths live below the root, like the other directories of the files.
    snprintf(ss->cert_path, sizeof ss->cert_path, "%s", platform_config_path(buf).c_str());
    if (get_key(k.tos_sip, buf, sizeof buf) != 0)
        return failed("tos_sip", k.label);
    ss->tos_sip = atoi(buf);
    if (get_key(k.tos_rtp, buf, sizeof buf) != 0)
        return failed("tos_rtp", k.label);
    ss->tos_rtp = atoi(buf);
    if (get_key(k.useragent, buf, sizeof buf) != 0) {
        fprintf(stderr, "Failed getting sip_useragent_%s from sip config. check your settings!\n", k.label);
        return -1;
    }
    sip_user_agent(buf, ss->user_agent_string, sizeof ss->user_agent_string);
    if (get_key(k.registration_offset, buf, sizeof buf) != 0) {
        fprintf(stderr, "Failed getting registration_offset_%s from sip config. check your settings!\n", k.label);
        return -1;
    }
    ss->registration_offset = sip_registration_offset(atoi(buf));
    ss->registration_offset_iteration = 0;
    prepare_rtp_ports(ss, rtp_port_table, rtp_stack_table);
    (*slot)++;
    return 1;
}

// Does any stack named like name offer the transport on the port?
static bool listens(const char *name, int transport, int port)
{
    for (int i = 0; i < gp->sip_stack_size; i++) {
        const sip_stack &s = gp->sip_stacks[i];
        if (strncmp(s.name, name, 3) == 0 && (s.transport & transport) &&
            (transport == SIP_TRANSPORT_TLS ? s.sip_ssl_port : s.sip_port) == port)
            return true;
    }
    return false;
}

static bool port_taken(const char *name, int port)
{
    for (int i = 0; i < gp->sip_stack_size; i++) {
        const sip_stack &s = gp->sip_stacks[i];
        if (strncmp(s.name, name, 3) == 0 && (s.sip_port == port || s.sip_ssl_port == port))
            return true;
    }
    return false;
}

// Custom stacks of SIP peers that listen on a port of their own.
static void add_custom_stacks()
{
    char peer[256] = "", next[256];
    const char *prev = nullptr;
    while (cm_get_next_cat(gp->config_sip, 1, prev, next, sizeof next) == 1) {
        snprintf(peer, sizeof peer, "%s", next);
        prev = peer;
        char buf[256], stack_name[256], transport_word[256];
        if (cm_get_by_cat(gp->config_sip, buf, sizeof buf, 1, CFG_SIP_NAME_SIP_CUSTOM_PORT, peer) != 0)
            continue;
        int port = atoi(buf);
        if (port < 1024 || port > 65535)
            continue;
        if (cm_get_by_cat(gp->config_sip, stack_name, sizeof stack_name, 1, CFG_SIP_NAME_SIP_STACK, peer) != 0)
            stack_name[0] = '\0';
        if (cm_get_by_cat(gp->config_sip, transport_word, sizeof transport_word, 1, CFG_SIP_NAME_TRANSPORT, peer) != 0)
            transport_word[0] = '\0';
        int transport = strcmp(transport_word, "tcp") == 0   ? SIP_TRANSPORT_TCP
                        : strcmp(transport_word, "tls") == 0 ? SIP_TRANSPORT_TLS
                                                             : SIP_TRANSPORT_UDP;
        if (listens(stack_name, transport, port))
            continue;
        sip_stack *base = get_sip_stack_by_name(stack_name);
        if (!base)
            continue;
        if (port_taken(stack_name, port) || gp->sip_stack_size >= SIP_STACKS_CAPACITY) {
            LOGD(SIP, 0, nullptr, "Couldn't create custom %s stack for %s on port %i!", transport_text(transport),
                 stack_name, port);
            fprintf(stderr, "Couldn't create custom %s stack for %s on port %i!\n", transport_text(transport),
                    stack_name, port);
            continue;
        }
        sip_stack *ss = &gp->sip_stacks[gp->sip_stack_size++];
        *ss = *base;
        ss->transport = transport;
        snprintf(ss->name, sizeof ss->name, "%.20s_%s_%i", base->name, transport_text(transport), port);
        ss->sip_ssl_port = transport == SIP_TRANSPORT_TLS ? port : 0;
        ss->sip_port = transport == SIP_TRANSPORT_TLS ? 0 : port;
    }
}

int init_global_sip_parameters()
{
    // 1.
    if (!rtp_port_table)
        rtp_port_table = (uint8_t *)calloc(RTP_PORT_TABLE_SIZE, 1);
    if (!rtp_stack_table)
        rtp_stack_table = (uint8_t *)calloc(RTP_PORT_TABLE_SIZE, 1);
    if (!rtp_port_table || !rtp_stack_table)
        return -1;
    gp->sip_stack_size = 0;

    // 2. the localhost stack
    sip_stack *lo = &gp->sip_stacks[0];
    *lo = sip_stack{};
    snprintf(lo->name, sizeof lo->name, "localhost");
    snprintf(lo->interface, sizeof lo->interface, "lo");
    snprintf(lo->rtp_port_string, sizeof lo->rtp_port_string, "10000-10200");
    lo->sip_stack_type = STACK_LOCALHOST;
    lo->active = 1;
    char buf[64];
    if (get_key(CFG_SIP_SIP_BINDPORT_LOCALHOST, buf, sizeof buf) != 0) {
        fprintf(stderr, "Failed getting sip_bindport_localhost setting from sip config, check your settings!\n");
        return -1;
    }
    lo->sip_port = atoi(buf);
    lo->transport = SIP_TRANSPORT_UDP;
    snprintf(lo->ip, sizeof lo->ip, "127.0.0.1");
    snprintf(lo->mac, sizeof lo->mac, "00:00:00:00:00:00");
    prepare_rtp_ports(lo, rtp_port_table, rtp_stack_table);

    // 3. LAN and WAN
    int slot = 1;
    for (const stack_keys *k : {&lan_keys, &wan_keys})
        if (read_stack(*k, &slot) < 0)
            return -1;
    gp->sip_stack_size = slot;

    // 4.-5.
    add_custom_stacks();
    nsetup_rtp_ports(rtp_port_table, rtp_stack_table);
    return 0;
}

// ---------------------------------------------------------------------------

int sip_stack_tls_contact(const sip_stack *ss, bool sips, char *out, size_t size)
{
    if (!out || size == 0)
        return -1;
    out[0] = '\0';
    if (!ss || !(ss->transport & SIP_TRANSPORT_TLS) || ss->sip_ssl_port <= 0 || !ss->ip[0])
        return -1;
    int n = snprintf(out, size, sips ? "<sips:%s:%i>" : "<sip:%s:%i;transport=tls>", ss->ip, ss->sip_ssl_port);
    if (n < 0 || (size_t)n >= size) {
        out[0] = '\0'; // a cut Contact would send the dialog elsewhere
        return -1;
    }
    return 0;
}

void sip_stack_bind_urls(sip_stack *ss)
{
    ss->nua_sip_ssl_string[0] = ss->nua_sip_string[0] = '\0';
    if (ss->transport & SIP_TRANSPORT_TLS) {
        if (ss->sip_ssl_port == 0)
            ss->sip_ssl_port = ss->sip_port ? ss->sip_port + 1 : 5061;
        else if (ss->sip_ssl_port == ss->sip_port)
            ss->sip_ssl_port = ss->sip_port + 1;
        snprintf(ss->nua_sip_ssl_string, sizeof ss->nua_sip_ssl_string, "sips:%s:%i;transport=tls", ss->ip,
                 ss->sip_ssl_port);
        LOGD(SIP, 2, nullptr, "Sip stack binding to %s\n", ss->nua_sip_ssl_string);
    }
    if (ss->transport & (SIP_TRANSPORT_UDP | SIP_TRANSPORT_TCP)) {
        if (ss->sip_port == 0)
            ss->sip_port = 5060;
        const char *t = (ss->transport & SIP_TRANSPORT_UDP) && (ss->transport & SIP_TRANSPORT_TCP) ? "udp,tcp"
                        : (ss->transport & SIP_TRANSPORT_UDP)                                     ? "udp"
                                                                                                 : "tcp";
        snprintf(ss->nua_sip_string, sizeof ss->nua_sip_string, "sip:%s:%i;transport=%s", ss->ip, ss->sip_port, t);
        LOGD(SIP, 2, nullptr, "Sip stack binding to %s\n", ss->nua_sip_string);
    }
}

sip_stack *get_sip_stack_by_name(const char *name)
{
    for (int i = 0; name && i < gp->sip_stack_size; i++)
        if (strncmp(gp->sip_stacks[i].name, name, 3) == 0)
            return &gp->sip_stacks[i];
    return nullptr;
}

sip_stack *get_sip_stack_by_nua(const nua_s *nua)
{
    for (int i = 0; nua && i < gp->sip_stack_size; i++)
        if (gp->sip_stacks[i].nua == nua)
            return &gp->sip_stacks[i];
    return nullptr;
}

const char *get_sip_stack_name_by_nua(const nua_s *nua)
{
    sip_stack *ss = get_sip_stack_by_nua(nua);
    return ss ? ss->name : "unknown";
}

sip_stack *get_sip_stack_by_name_transport_and_port(const char *name, int transport, int port)
{
    if (!name)
        return nullptr;
    for (int pass = 1; pass <= 3; pass++)
        for (int i = 0; i < gp->sip_stack_size; i++) {
            sip_stack *s = &gp->sip_stacks[i];
            if (strncmp(s->name, name, 3) != 0)
                continue;
            bool offers = (s->transport & transport) != 0;
            if (pass == 1 && offers && (transport == SIP_TRANSPORT_TLS ? s->sip_ssl_port : s->sip_port) == port)
                return s;
            if (pass == 2 && offers && transport == SIP_TRANSPORT_TLS)
                return s;
            if (pass == 3)
                return s;
        }
    return nullptr;
}
