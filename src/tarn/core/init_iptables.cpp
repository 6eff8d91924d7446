#include "init_iptables.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "experimental_options.h"
#include "log.h"
#include "network_config.h"
#include "rtp_ports.h"
#include "schema.h"
#include "strtools.h"
#include "system_command.h"

// The T.38 sub-range of the "lan", "wan" or "vpn" stack's RTP ports; 0 and
// 0 when it has none.
static void t38_range(const char *stack_name, int *start, int *stop)
{
    *start = *stop = 0;
    const RTP_ports *r = gp->rtp_ports;
    if (!r)
        return;
    if (strcmp(stack_name, "lan") == 0) {
        *start = r->lan_t38start;
        *stop = r->lan_t38stop;
    } else if (strcmp(stack_name, "wan") == 0) {
        *start = r->wan_t38start;
        *stop = r->wan_t38stop;
    } else if (strcmp(stack_name, "vpn") == 0) {
        *start = r->vpn_t38start;
        *stop = r->vpn_t38stop;
    }
}

// A port number text of up to five digits; -1 for anything else.
static long port_number(const std::string &s)
{
    if (s.empty() || s.size() > 5 || st_string_has_non_digits(s.c_str()))
        return -1;
    return atol(s.c_str());
}

bool parse_multicast_entry(const char *entry, char address[16], char port[6])
{
    address[0] = port[0] = '\0';
    if (strncmp(entry, "224.0.", 6) != 0)
        return false;
    const char *colon = strchr(entry, ':');
    size_t alen = colon ? (size_t)(colon - entry) : strlen(entry);
    char text[16];
    if (alen >= sizeof text)
        return false;
    memcpy(text, entry, alen);
    text[alen] = '\0';
    if (!is_ipv4_address(text))
        return false;
    if (colon) {
        long p = port_number(colon + 1);
        if (p < 1 || p > 65535)
            return false;
        snprintf(port, 6, "%ld", p);
    }
    snprintf(address, 16, "%s", text);
    return true;
}

// The three stacks that carry multicast and RTP rules, with the interface
// names of the network facts.
struct nat_stack {
    const char *name;
    const char *ifname;
    int active_key; // stack_active_ of tarn.sip
    int rtpports_key;
    bool remembered;
};

static void t38_drop_rules()
{
    for (int i = 0; i < gp->sip_stack_size && i < SIP_STACKS_CAPACITY; i++) {
        const sip_stack &ss = gp->sip_stacks[i];
        if (strcmp(ss.name, "lan") != 0 && strcmp(ss.name, "wan") != 0)
            continue;
        int start, stop;
        t38_range(ss.name, &start, &stop);
        // Without a T.38 range there is nothing to keep from the host.
        if (start <= 0 || stop < start || !is_safe_ifname(ss.interface))
            continue;
        run_system_command("iptables -D INPUT -i %s -p udp --dport %i:%i -j DROP", ss.interface, start, stop);
        run_system_command("iptables -I INPUT 1 -i %s -p udp --dport %i:%i -j DROP", ss.interface, start, stop);
    }
}

static void multicast_rules(const char *list, nat_stack *const *stacks, int count)
{
    std::string copy = list;
    std::vector<std::string> entries;
    size_t at = 0;
    for (;;) {
        size_t comma = copy.find(',', at);
        entries.push_back(copy.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    for (int s = 0; s < count; s++) {
        const char *ifname = stacks[s]->ifname;
        for (const std::string &e : entries) {
            char address[16], port[6];
            if (!parse_multicast_entry(e.c_str(), address, port)) {
                fprintf(stderr, "init_iptables: ignoring invalid multicast address %s\n", e.c_str());
                continue;
            }
            if (port[0]) {
                run_system_command("iptables -t nat -A PREROUTING -p udp --dport %s -i %s -j ACCEPT -d %s", port,
                                   ifname, address);
                run_system_command("iptables -t nat --insert OUTPUT -p udp --dport %s -j ACCEPT -d %s", port,
                                   address);
            } else {
                run_system_command("iptables -t nat -A PREROUTING -i %s -j ACCEPT -d %s", ifname, address);
                run_system_command("iptables -t nat --insert OUTPUT -j ACCEPT -d %s", address);
            }
            run_system_command("iptables -t nat -A POSTROUTING -o %s -j MASQUERADE", ifname);
        }
    }
}

// "A-B" with 1 <= A <= B <= 65535.
static bool parse_range(const std::string &text, int *a, int *b)
{
    size_t dash = text.find('-');
    if (dash == std::string::npos)
        return false;
    long x = port_number(text.substr(0, dash)), y = port_number(text.substr(dash + 1));
    if (x < 1 || y < 1 || x > 65535 || y > 65535 || x > y)
        return false;
    *a = (int)x;
    *b = (int)y;
    return true;
}

static void rtp_rules(const nat_stack &st, const char *rtpports)
{
    const char *devip = gp->netconf.msp_devip;
    if (!is_ipv4_address(devip)) {
        LOGD(TARN, 0, nullptr, "CRITICAL: init_iptables: no media processor address |%s|", devip);
        return;
    }
    int start, stop;
    t38_range(st.name, &start, &stop);
    char t38[16] = "";
    if (start > 0 && stop >= start) {
        snprintf(t38, sizeof t38, "%i:%i", start, stop);
        run_system_command("iptables -t nat -I PREROUTING 1 -p udp --dport %s -i %s -j ACCEPT", t38, st.ifname);
    }
    std::string text = rtpports;
    size_t at = 0;
    for (;;) {
        size_t comma = text.find(',', at);
        std::string token = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        int a, b;
        if (!parse_range(token, &a, &b)) {
            LOGD(TARN, 1, nullptr, "init_iptables: ignoring RTP range |%s| of %s", token.c_str(), st.name);
        } else {
            // The part below the T.38 range goes to the media processor; a
            // range that lies wholly in or above it, or any range of a stack
            // without one, has no such part (a stack of 640 ports or fewer
            // keeps all its RTP on the host, where the SIP-to-SIP relay
            // threads listen on those ports).
            char range[16] = "";
            bool t38_part = false;
            if (start > 0 && b < start) {
                snprintf(range, sizeof range, "%i:%i", a, b);
            } else if (start > 0) {
                t38_part = true;
                if (a <= start - 1)
                    snprintf(range, sizeof range, "%i:%i", a, start - 1);
            }
            if (range[0])
                run_system_command("iptables -t nat -A PREROUTING -p udp --dport %s -i %s -j DNAT --to %s", range,
                                   st.ifname, devip);
            char mac[32] = "", own[32] = "";
            if ((range[0] || t38_part) && get_net_info(st.ifname, mac, sizeof mac, own, sizeof own) == 0 && is_ipv4_address(own)) {
                if (t38_part)
                    run_system_command("iptables -t nat -A OUTPUT -s %s  -p udp --sport %s  -j ACCEPT", own, t38);
                if (range[0])
                    run_system_command("iptables -t nat -A OUTPUT -p udp --dport %s -j DNAT -d %s  --to %s", range,
                                       own, devip);
            }
        }
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
}

static int read_ports()
{
    char text[128];
    cm *c = gp->config_tarn;
    if (cm_get(c, text, sizeof text, 0, CFG_TARN_STATUSPORT) != 0) {
        LOGD(TARN, 0, nullptr, "Couldn't read tcp status server port from config!");
        return 1;
    }
    int status = atoi(text);
    if (status < 1 || status > 65535) {
        LOGD(TARN, 0, nullptr, "Read invalid tcp status server port from config!");
        return 1;
    }
    snprintf(gp->statusport, sizeof gp->statusport, "%i", status);
    if (cm_get(c, gp->pcm_server, 128, 0, CFG_TARN_PCM_SERVER) != 0) {
        LOGD(TARN, 0, nullptr, "Couldn't read pcm status server string from config!");
        return 1;
    }
    if (cm_get(c, text, sizeof text, 0, CFG_TARN_PCM_SERVER_PORT) != 0) {
        LOGD(TARN, 0, nullptr, "Couldn't read tcp pcm server port from config!");
        return 1;
    }
    int pcm = atoi(text);
    if (pcm >= 1 && pcm <= 65535 && pcm != status) {
        gp->pcm_server_port = pcm;
        return 0;
    }
    LOGD(TARN, 0, nullptr, "Read invalid tcp pcm server port from config: %i!", pcm);
    return 1;
}

int init_iptables()
{
    application_object *app = gp;
    run_system_command("iptables -t nat -F");
    if (app->experimental_options && app->experimental_options->eo_syscall_mode == 6)
        t38_drop_rules();

    if (app->rtp_traffic == 0) {
        run_system_command("echo 1 > /proc/sys/net/ipv4/ip_forward");

        nat_stack stacks[] = {
            {"wan", app->netconf.host_ifname_wan, CFG_SIP_STACK_ACTIVE_WAN, CFG_SIP_RTPPORTS_WAN, false},
            {"lan", app->netconf.host_ifname_lan, CFG_SIP_STACK_ACTIVE_LAN, CFG_SIP_RTPPORTS_LAN, false},
            {"vpn", app->netconf.host_ifname_vpn, CFG_SIP_STACK_ACTIVE_VPN, CFG_SIP_RTPPORTS_VPN, false},
        };
        // The active stacks in table order, for the multicast rules.
        nat_stack *in_order[3];
        int count = 0;
        for (int i = 0; i < app->sip_stack_size && i < SIP_STACKS_CAPACITY; i++) {
            const sip_stack &ss = app->sip_stacks[i];
            for (nat_stack &st : stacks)
                if (ss.active && strcmp(ss.name, st.name) == 0 && !st.remembered) {
                    if (!is_safe_ifname(st.ifname)) {
                        LOGD(TARN, 0, nullptr, "CRITICAL: init_iptables: no rules for %s on interface |%s|",
                             st.name, st.ifname);
                        continue;
                    }
                    st.remembered = true;
                    in_order[count++] = &st;
                }
        }
        char list[4096];
        if (cm_get(app->config_tarn, list, sizeof list, 0, CFG_TARN_MULTICAST_ADDRESSES) != 0) {
            LOGD(TARN, 0, nullptr, "Couldn't read pcm multicast address list from config!");
            return -1;
        }
        list[1023] = '\0'; // the list is taken up to 1023 characters
        multicast_rules(list, in_order, count);

        for (nat_stack &st : stacks) {
            char active[16], rtpports[256];
            if (!st.remembered || !app->config_sip ||
                cm_get(app->config_sip, active, sizeof active, 0, st.active_key) != 0 || strcmp(active, "1") != 0 ||
                cm_get(app->config_sip, rtpports, sizeof rtpports, 0, st.rtpports_key) != 0)
                continue;
            rtp_rules(st, rtpports);
        }
    }
    return read_ports();
}
