// Unified diagnostics of the media processor from the console: the UDP
// destination the processor copies commands, TDM samples, packets and
// internal parameters to, its set-up on the device, and the per-channel and
// device-level switches; the TDM clock query.
#include "mc_unified_diag.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "arp.h"
#include "call_info.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "mc_listings.h"
#include "msp_link.h"
#include "msp_queue.h"
#include "network_config.h"

ud_option mc_ud_option = {4, {}, {}, UD_UDP_PORT_SRC, {}, {}, UD_UDP_PORT_DST, 0, 0};

// The defaults that every "uddst" starts from: identifier, the host's LAN
// address and MAC, both UDP ports.
static void ud_set_defaults(ud_option &u)
{
    u.client_identifier = 4;
    u.ip_src = {};
    u.mac_src = {};
    if (gp) {
        u.ip_src.part1 = ip_to_short(gp->netconf.host_ip_lan, 1);
        u.ip_src.part2 = ip_to_short(gp->netconf.host_ip_lan, 2);
        u.mac_src.part1 = gp->netconf.host_mac_1;
        u.mac_src.part2 = gp->netconf.host_mac_2;
        u.mac_src.part3 = gp->netconf.host_mac_3;
    }
    u.udp_port_src = UD_UDP_PORT_SRC;
    u.udp_port_dst = UD_UDP_PORT_DST;
}

// A decimal field of at most 5 digits, or -1.
static int decimal(const std::string &s)
{
    if (s.empty() || s.size() > 5)
        return -1;
    for (char c : s)
        if (!isdigit((unsigned char)c))
            return -1;
    return atoi(s.c_str());
}

static void mac_bytes(const csm_mac_address &m, uint8_t b[6])
{
    const unsigned w[3] = {m.part1, m.part2, m.part3};
    for (int i = 0; i < 3; i++) {
        b[2 * i] = (uint8_t)(w[i] >> 8);
        b[2 * i + 1] = (uint8_t)w[i];
    }
}

int mc_configure_address_dst(const char *arg, FILE *out, int *)
{
    ud_option &u = mc_ud_option;
    ud_set_defaults(u);
    std::vector<std::string> f = mc_split_fields(arg, 5);
    if (f.size() < 4) {
        fputs("\r\tError input: not enough argument. Please follow this exemple X:Y:Z:A:B corresponding to your "
              "IP-address X.Y.Z.A:B\n\r",
              out);
        return 0;
    }
    int a[4];
    for (int i = 0; i < 4; i++) {
        a[i] = decimal(f[i]);
        if (a[i] < 0 || a[i] > 255) {
            fputs("\r\tError input: your IP-address given is incorrect. The IP-Address numbers must belong between "
                  "0 and 255 (0 <= (X, Y, Z, A) <= 255)\n\r",
                  out);
            return 0;
        }
    }
    int port = f.size() > 4 ? decimal(f[4]) : -1;
    if (port < 1025 || port > 60000) {
        fputs("\r\tError input: the UDP-port given is incorrect. The UDP-port number must belong between 0 and 65000 "
              "(1025 <= B <= 60000)\n\r",
              out);
        return 0;
    }
    csm_ip_address dst = {(uint32_t)(a[0] << 8 | a[1]), (uint32_t)(a[2] << 8 | a[3])};
    if (dst.part1 == u.ip_src.part1 && dst.part2 == u.ip_src.part2) {
        fprintf(out, "\r\tError input: impossible to use %d.%d.%d.%d as destination IP-address\n\r", a[0], a[1], a[2],
                a[3]);
        return 0;
    }
    if ((unsigned)port == u.udp_port_src) {
        fprintf(out, "\r\tError input: impossible to use %d as destination UDP-port\n\r", port);
        return 0;
    }
    uint8_t mac[6];
    uint32_t target = htonl((uint32_t)(a[0] << 24 | a[1] << 16 | a[2] << 8 | a[3]));
    if (get_target_mac(target, mac, UD_ARP_TIMEOUT_USEC) != 0) {
        fputs("\r\tFailed getting MAC-address: please check your internet connection (DNS, connectivity, and so on)"
              "\n\r",
              out);
        return 0;
    }
    uint8_t host[6];
    mac_bytes(u.mac_src, host);
    if (dst.part1 == u.ip_src.part1 && dst.part2 == u.ip_src.part2 && memcmp(mac, host, 6) == 0) {
        fprintf(out, "\r\tImpossible to use %02x:%02x:%02x:%02x:%02x:%02x as destination MAC-Address\n\r", mac[0],
                mac[1], mac[2], mac[3], mac[4], mac[5]);
        return 0;
    }
    u.ip_dst = dst;
    u.mac_dst = {(uint32_t)(mac[0] << 8 | mac[1]), (uint32_t)(mac[2] << 8 | mac[3]), (uint32_t)(mac[4] << 8 | mac[5])};
    u.udp_port_dst = (unsigned)port;
    u.flag_dst_configured = 1;
    fprintf(out,
            "\r\tDestination parameters configured: MAC-Address = %02x:%02x:%02x:%02x:%02x:%02x \tIP-Address = "
            "%d.%d.%d.%d \tUDP-Port = %d\n\r",
            mac[0], mac[1], mac[2], mac[3], mac[4], mac[5], a[0], a[1], a[2], a[3], port);
    return 0;
}

// Queues one device or channel command and waits for it; its result code
// (-1 when no answer came: the stored word is cleared before).
static int ud_command(magic_csm m, int address)
{
    csm_ud_response = -1;
    msp_queue_command(m, address, nullptr, 1, 0);
    return csm_ud_response;
}

static void ud_error(FILE *out, int function_code, int result)
{
    fprintf(out, "\r\tError: Function code = 0x%04x (%s) \t result code = 0x%04x (%s)\n\r", function_code,
            get_function_code_extended(function_code), (unsigned)result & 0xFFFF, get_result_code(result));
}

static bool is_active_call(const call_object *co)
{
    static const int kinds[] = {CI_SIP_TO_SIP,  CI_SIP_TO_ISDN,   CI_SIP_TO_ANALOG, CI_SIP_TO_GSM, CI_SIP_TO_CAS,
                                CI_ISDN_TO_SIP, CI_ANALOG_TO_SIP, CI_GSM_TO_SIP,    CI_CAS_TO_SIP};
    if (!co || co->tdm_logical_timeslot == -1)
        return false;
    if (co->sm)
        return true;
    for (int k : kinds)
        if (co->callinfo == k)
            return true;
    return false;
}

int ud_count_active_calls()
{
    int n = 0;
    for (int i = 0; gp && i < OPERATIONARRAYSIZE; i++)
        n += is_active_call(mc_call_at(i));
    return n;
}

static int next_index()
{
    return gp ? gp->msp_counter++ : 0;
}

int mc_set_unified_diag(const char *, FILE *out, int *)
{
    ud_option &u = mc_ud_option;
    if (!u.flag_dst_configured) {
        fputs("\r\tPlease configure the destination IP-Address before to configure Unified Diagnostics features. "
              "Command = uddstX:Y:Z:A:B\n\r",
              out);
        return 0;
    }
    if (ud_count_active_calls() > 0) {
        fputs("\r\tPlease close all your activate calls before setting Unified Diagnostics\n\r", out);
        return 0;
    }
    magic_csm eth = create_default_csm_msg(FC_SET_ETH_HDR, next_index());
    if (csm_msg_is_null(eth))
        return 0;
    csmdev_set_eth_hdr *e = eth.u_csmdev_set_eth_hdr;
    e->hostmac_1 = u.mac_dst.part1, e->hostmac_2 = u.mac_dst.part2, e->hostmac_3 = u.mac_dst.part3;
    e->assigned_mac_1 = u.mac_src.part1, e->assigned_mac_2 = u.mac_src.part2, e->assigned_mac_3 = u.mac_src.part3;
    int result = ud_command(eth, MSP_ADDRESS_DEVICE);
    if (result != 0) {
        ud_error(out, FC_SET_ETH_HDR, result);
        return 0;
    }
    magic_csm red = create_default_csm_msg(REDIRECT_OVER_IP_UDP, next_index());
    if (csm_msg_is_null(red))
        return 0;
    csmdev_redirect_over_ip_udp *r = red.u_csmdev_redirect_over_ip_udp;
    r->client_identifier = u.client_identifier;
    r->destination_mac = u.mac_dst;
    r->source_mac = u.mac_src;
    r->source_ip = u.ip_src;
    r->destination_ip = u.ip_dst;
    r->assigned_udp_header.source_port = u.udp_port_src;
    r->assigned_udp_header.destination_port = u.udp_port_dst;
    result = ud_command(red, MSP_ADDRESS_DEVICE);
    if (result != 0) {
        ud_error(out, REDIRECT_OVER_IP_UDP, result);
        return 0;
    }
    u.flag_ud_configured = 1;
    fputs("\r\tMindspeed successly configured to send and receive unified diagnostics commands\n\r", out);
    return 0;
}

int mc_unset_unified_diag(const char *, FILE *, int *)
{
    mc_ud_option.flag_ud_configured = 0;
    mc_ud_option.flag_dst_configured = 0;
    return 0;
}

// One diagnostics switch: its function code, whether Y names the call, and
// whether at most two calls below 30 ms packet time may run.
struct ud_switch {
    int function_code;
    const char *usage;
    bool reads_call;
    bool call_limit;
};

static int ud_send_switch(const ud_switch &sw, const char *arg, FILE *out)
{
    const ud_option &u = mc_ud_option;
    if (!u.flag_dst_configured) {
        fputs("\r\tDestination IP-address must be configured. Please refer to and use the following command: uddst\n\r",
              out);
        return 0;
    }
    if (!u.flag_ud_configured) {
        fputs("\r\tUnified Diagnostics parameters must be configured. Please refer to and use the following command: "
              "setud\n\t",
              out);
        return 0;
    }
    int active = ud_count_active_calls();
    if (active == 0) {
        fprintf(out, "\r\tNo one active call. Please establish a call before to use '%s' command\n\r", sw.usage);
        return 0;
    }
    if (sw.call_limit && active > 2) {
        fprintf(out,
                "\r\tSimultaneously active calls are limited for '%s' command. Please limit the number of call at "
                "only 2.\n\r",
                sw.usage);
        return 0;
    }
    int x = isdigit((unsigned char)arg[0]) ? arg[0] - '0' : 0;
    if (x > 1) {
        fprintf(out, "\r\tWrong command input: use '%s' with X=0 to deactivate or X=1 to activate\n\r", sw.usage);
        return 0;
    }
    int address = MSP_ADDRESS_DEVICE;
    if (sw.reads_call) {
        if (arg[0] == '\0' || arg[1] != ':') {
            fprintf(out,
                    "\r\tWrong command input: use '%s' with Y the call index value (0 <= Y <= 254 for the call index "
                    "and Y = 255 for the SUPERVISOR level)\n\r",
                    sw.usage);
            return 0;
        }
        int y = isdigit((unsigned char)arg[2]) ? arg[2] - '0' : 0;
        const call_object *co = mc_call_at(y);
        if (!is_active_call(co)) {
            fprintf(out, "\r\tWrong command inpput: call index %d not related to a timeslot\n\r", y);
            return 0;
        }
        if (sw.call_limit && co->cc.rtp_packet_size >= 30) {
            fprintf(out, "\r\tImpossible to use '%s'-command with the G.711 driver cadenced at more than 30ms\n\r",
                    sw.usage);
            return 0;
        }
        address = co->tdm_logical_timeslot;
    }
    magic_csm m = create_default_csm_msg(sw.function_code, next_index());
    if (csm_msg_is_null(m))
        return 0;
    m.u_csmdev_set_unified_diag->set_diagnostic = (uint32_t)x;
    int result = ud_command(m, address);
    if (result != 0)
        ud_error(out, sw.function_code, result);
    else
        fprintf(out, "\r\tUnified Diagnostic command (%s) successly configured\n\r",
                get_function_code_extended(sw.function_code));
    return 0;
}

static const ud_switch sw_reportcmd = {DIAG_REPORTCMD, "udcmdX:Y", true, false};
static const ud_switch sw_tdm_rx = {DIAG_TDM_RX, "udtdmrxX:Y", true, false};
static const ud_switch sw_tdm_tx = {DIAG_TDM_TX, "udtdmtxX:Y", true, false};
static const ud_switch sw_packet_rx = {DIAG_PACKET_RX, "udpcktrxX:Y", true, true};
static const ud_switch sw_packet_tx = {DIAG_PACKET_TX, "udpckttxX:Y", true, true};
static const ud_switch sw_spu_ioparams = {DIAG_SPU_IOPARAMS, "udspuiopX", false, false};
// The instream switch sends the ioparams code, as the device expects.
static const ud_switch sw_spu_instream = {DIAG_SPU_IOPARAMS, "udspuisX", false, false};
static const ud_switch sw_spu_outstream = {DIAG_SPU_OUTSTREAM, "udspuosX", false, false};
static const ud_switch sw_dsp_task = {DIAG_DSP_TASK_IOPARAMS, "uddspX:Y", true, false};

int mc_log_unified_diag_reportcmd(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_reportcmd, arg, out);
}
int mc_log_unified_diag_tdm_rx(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_tdm_rx, arg, out);
}
int mc_log_unified_diag_tdm_tx(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_tdm_tx, arg, out);
}
int mc_log_unified_diag_packet_rx(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_packet_rx, arg, out);
}
int mc_log_unified_diag_packet_tx(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_packet_tx, arg, out);
}
int mc_log_unified_diag_spu_ioparams(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_spu_ioparams, arg, out);
}
int mc_log_unified_diag_spu_instream(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_spu_instream, arg, out);
}
int mc_log_unified_diag_spu_outstream(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_spu_outstream, arg, out);
}
int mc_log_unified_diag_dsp_task_ioparams(const char *arg, FILE *out, int *)
{
    return ud_send_switch(sw_dsp_task, arg, out);
}

int mc_tdm_clock_status(const char *, FILE *, int *)
{
    magic_csm q = create_query_csm_msg(FC_EXT_CLOCK_STATUS, CSM_CLASS_DEVICE, CSM_TYPE_QUERY, next_index());
    if (!csm_msg_is_null(q))
        msp_queue_command(q, MSP_ADDRESS_DEVICE, nullptr, 0, 0);
    return 0;
}
