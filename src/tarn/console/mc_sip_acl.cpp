// Console commands of the SIP side: re-INVITE tests on running calls, the
// SIP access control (whitelist, call attempts, blacklist, settings), the
// DNS cache, the packet-filter rules of the SIP port groups, outgoing
// registrations, SIP INFO tests and the ISDN information test.
#include "mc_sip_acl.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_lookups.h"
#include "call_object.h"
#include "acl.h"
#include "confman.h"
#include "console_hooks.h"
#include "dns_cache.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "isdn_events.h"
#include "kvfwd.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "platform_path.h"
#include "pools.h"
#include "reg_object.h"
#include "registration.h"
#include "registrations.h"
#include "schema.h"
#include "sip_peer_chains.h"
#include "sip_request_order.h"
#include "sip_stack.h"
#include "sm_defs.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/sip_tag.h>

namespace {

struct global_hold {
    pthread_mutex_t *m;
    global_hold() : m(g_lock_manager ? g_lock_manager->global_lock : nullptr)
    {
        if (m)
            pthread_mutex_lock(m);
    }
    ~global_hold()
    {
        if (m)
            pthread_mutex_unlock(m);
    }
    global_hold(const global_hold &) = delete;
    global_hold &operator=(const global_hold &) = delete;
};

// Every stack's access control, in stack order.
std::vector<tarn_acl *> acls()
{
    std::vector<tarn_acl *> v;
    for (int i = 0; gp && i < gp->sip_stack_size && i < SIP_STACKS_CAPACITY; i++)
        if (gp->sip_stacks[i].acl)
            v.push_back(gp->sip_stacks[i].acl);
    return v;
}

const char *stack_word(int type)
{
    return type == STACK_LAN ? "LAN" : type == STACK_WAN ? "WAN" : "ANY";
}

int queue_on_call(const char *arg, FILE *out, int event, const char *what)
{
    int idx = atoi(arg ? arg : "");
    global_hold hold;
    call_object *co = gp && idx >= 0 && idx < OPERATIONARRAYSIZE ? get_operation_by_index(idx) : nullptr;
    if (!co) {
        fprintf(out, "Do not have active call on index %i\n", idx);
        return 0;
    }
    if (event == sm_general(GENERAL_EVENT_MSP_FAX_TONE_DETECTED)) {
        co->f.t38_invite_sent = 0;
        co->f.t38_invite_received = 0;
    }
    fprintf(out, "Sending %s reinvite on call on index %i\n", what, idx);
    mc_hooks().add_sm_task(co, event);
    return 0;
}

void list_attempts(FILE *out, tarn_acl *acl)
{
    const int frames[ACL_PACKET_TYPES] = {acl->blacklist_options_timeframe_length, acl->blacklist_invite_timeframe_length,
                                          acl->blacklist_register_timeframe_length, acl->blacklist_other_timeframe_length};
    const int maxima[ACL_PACKET_TYPES] = {
        acl->blacklist_max_options_packets_per_timeframe, acl->blacklist_max_invite_packets_per_timeframe,
        acl->blacklist_max_register_packets_per_timeframe, acl->blacklist_max_other_packets_per_timeframe};
    pthread_mutex_lock(&acl->acl_lock);
    time_t now = time(nullptr);
    for (int t = 0; t < ACL_PACKET_TYPES; t++) {
        const char *type = acl_packet_type_to_string(t);
        if (frames[t] == 0 || maxima[t] == 0) {
            fprintf(out, "Blacklisting not activated for %s:%s\n", acl->name, type);
            continue;
        }
        int since = (int)(now - acl->last_call_attempt_cleanup[t]);
        fprintf(out, "Listing Call Attempts for %s:%s (since %i seconds, next cleanup in %i seconds)\n", acl->name, type,
                since, frames[t] - since);
        for (int i = 0; i < acl->call_attempts_size[t] && i < ACL_TABLE_SIZE; i++)
            fprintf(out, "idx:%i cnt:%i ip:|%s|\n", i, acl->call_attempts[t][i].counter, acl->call_attempts[t][i].ip);
    }
    pthread_mutex_unlock(&acl->acl_lock);
}

tarn_acl *lan_or_wan(const char *arg)
{
    return acl_get_acl_by_stackname(arg && strcasecmp(arg, "wan") == 0 ? "wan" : "lan");
}

// The main configuration as a configuration manager "TARN"; null (with the
// standard error line) when it cannot be read.
cm *load_main_config()
{
    static bool initialised = false;
    if (!initialised) {
        cm_init();
        initialised = true;
    }
    cm *c = configman_create("TARN");
    if (!c) {
        fprintf(stderr, "Problems with configman_create!\n");
        return nullptr;
    }
    std::string path = platform_path("/usr/conf/tarn.conf");
    if (gp && gp->path_config_tarn[0])
        path = gp->path_config_tarn;
    if (cm_load(&c, path.c_str()) != 0) {
        fprintf(stderr, "Failed reading tarn config during acl reload, check your file!\n");
        cm_destroy(c);
        return nullptr;
    }
    return c;
}

} // namespace

int mc_sip_send_t38_reinvite(const char *arg, FILE *out, int *)
{
    return queue_on_call(arg, out, sm_general(GENERAL_EVENT_MSP_FAX_TONE_DETECTED), "T.38");
}

int mc_sip_send_g711_reinvite(const char *arg, FILE *out, int *)
{
    return queue_on_call(arg, out, sm_general(GENERAL_EVENT_ANALOG_DIALTONE_DETECTED), "G71");
}

int mc_test_refer(const char *arg, FILE *out, int *)
{
    fprintf(out, "SENDING |%s|\n", arg ? arg : "");
    global_hold hold;
    call_object *co = gp && OPERATIONARRAYSIZE > 0 ? gp->operations[0] : nullptr;
    if (co && co->callinfo != CI_FREE && co->cl_sip && co->cl_sip->nh)
        nua_refer(co->cl_sip->nh, SIPTAG_HEADER_STR(arg ? arg : ""), TAG_END());
    return 0;
}

// ---------------------------------------------------------------------------
// Access control

int mc_acl_list_whitelist(const char *, FILE *out, int *)
{
    fputs("Listing Whitelist Entries\n", out);
    for (tarn_acl *acl : acls()) {
        fprintf(out, "%s:\n", acl->name);
        pthread_mutex_lock(&acl->acl_lock);
        for (int i = 0; acl->whitelist && i < acl->whitelist_size; i++) {
            const acl_whitelist_element &e = acl->whitelist[i];
            fprintf(out, "idx:%i address:|%s| resolved:|%s| netmask |%i| stack |%s|\n", i, e.ip, e.ip_resolved,
                    e.netmask_prefix, stack_word(e.stack_type));
        }
        pthread_mutex_unlock(&acl->acl_lock);
    }
    return 0;
}

int mc_acl_list_call_attempts(const char *arg, FILE *out, int *)
{
    if (arg && *arg) {
        if (tarn_acl *acl = lan_or_wan(arg))
            list_attempts(out, acl);
        return 0;
    }
    for (tarn_acl *acl : acls())
        list_attempts(out, acl);
    return 0;
}

int mc_acl_list_blacklist(const char *, FILE *out, int *)
{
    time_t now = time(nullptr);
    for (tarn_acl *acl : acls()) {
        pthread_mutex_lock(&acl->acl_lock);
        fprintf(out, "Listing Blacklisted IPs for stack %s (contained for %i seconds)\n", acl->name,
                acl->blacklist_block_duration);
        for (int i = 0; i < acl->blacklist_size && i < ACL_TABLE_SIZE; i++) {
            const acl_blacklist_element &e = acl->blacklist[i];
            long left = (long)(e.insert_time + acl->blacklist_block_duration - now);
            fprintf(out, "id:%i blocked:%li ip:%s stack:%s\n", e.id, left < 0 ? 0 : left, e.ip, acl->name);
        }
        pthread_mutex_unlock(&acl->acl_lock);
    }
    return 0;
}

int mc_acl_clear_blacklists(const char *arg, FILE *out, int *)
{
    if (arg && *arg)
        return 0;
    for (tarn_acl *acl : acls()) {
        fputs("unblocking all blacklisted IPs\n", out);
        acl_unblock_all_ips_from_blacklist(acl, 1);
    }
    return 0;
}

static int clear_one(const char *stack, const char *arg, FILE *out)
{
    tarn_acl *acl = acl_get_acl_by_stackname(stack);
    if (!acl)
        return 0;
    if (arg && *arg) {
        int id = atoi(arg);
        fprintf(out, "unblocking blacklisted IP at index %i \n", id);
        acl_unblock_ip_from_blacklist_by_id(acl, id, 1);
    } else {
        fputs("unblocking all blacklisted IPs\n", out);
        acl_unblock_all_ips_from_blacklist(acl, 1);
    }
    return 0;
}

int mc_acl_clear_blacklist_lan(const char *arg, FILE *out, int *)
{
    return clear_one("lan", arg, out);
}

int mc_acl_clear_blacklist_wan(const char *arg, FILE *out, int *)
{
    return clear_one("wan", arg, out);
}

int mc_acl_attempt(const char *arg, FILE *out, int *)
{
    std::string a = arg ? arg : "";
    if (!a.empty() && a[0] == ':')
        a.erase(0, 1);
    size_t c1 = a.find(':');
    size_t c2 = c1 == std::string::npos ? std::string::npos : a.find(':', c1 + 1);
    if (c2 == std::string::npos)
        return 0;
    std::string stack = strcasecmp(a.substr(0, c1).c_str(), "wan") == 0 ? "wan" : "lan";
    std::string type = a.substr(c1 + 1, c2 - c1 - 1);
    std::string ip = a.substr(c2 + 1);
    int t = strcasecmp(type.c_str(), "options") == 0    ? ACL_OPTIONS_PACKET
            : strcasecmp(type.c_str(), "invite") == 0   ? ACL_INVITE_PACKET
            : strcasecmp(type.c_str(), "register") == 0 ? ACL_REGISTER_PACKET
                                                        : ACL_OTHER_PACKET;
    tarn_acl *acl = acl_get_acl_by_stackname(stack.c_str());
    if (!acl) {
        fprintf(out, "Error with stackname |%s| packet_type %i\n", stack.c_str(), t);
        return 0;
    }
    fprintf(out, "Simulating packet on stack |%s| type |%s| ip |%s|\n", stack.c_str(), type.c_str(), ip.c_str());
    acl_check(acl, t, ip.c_str());
    list_attempts(out, acl);
    return 0;
}

int mc_acl_test_ip(const char *arg, FILE *out, int *)
{
    tarn_acl *acl = acl_get_acl_by_stackname("lan");
    in_addr addr{};
    if (!acl || inet_pton(AF_INET, arg ? arg : "", &addr) != 1)
        return 0;
    pthread_mutex_lock(&acl->acl_lock);
    for (int i = 0; acl->whitelist && i < acl->whitelist_size; i++) {
        const acl_whitelist_element &e = acl->whitelist[i];
        bool match = (addr.s_addr & e.netmask) == e.ipbytes_masked;
        fprintf(out, "COMPARING |%s| with %s => %s/%i => %s\n", arg, e.ip, e.ip_resolved, e.netmask_prefix,
                match ? "MATCH" : "NOMATCH");
    }
    pthread_mutex_unlock(&acl->acl_lock);
    return 0;
}

int mc_acl_list_settings(const char *, FILE *out, int *)
{
    for (tarn_acl *acl : acls()) {
        fprintf(out, "Stack: %s\n", acl->name);
        fprintf(out, "blacklist_max_options:      %i\n", acl->blacklist_max_options_packets_per_timeframe);
        fprintf(out, "blacklist_options_timeframe_length: %i\n", acl->blacklist_options_timeframe_length);
        fprintf(out, "blacklist_max_invite:      %i\n", acl->blacklist_max_invite_packets_per_timeframe);
        fprintf(out, "blacklist_invite_timeframe_length: %i\n", acl->blacklist_invite_timeframe_length);
        fprintf(out, "blacklist_max_register:      %i\n", acl->blacklist_max_register_packets_per_timeframe);
        fprintf(out, "blacklist_register_timeframe_length: %i\n", acl->blacklist_register_timeframe_length);
        fprintf(out, "blacklist_max_other:      %i\n", acl->blacklist_max_other_packets_per_timeframe);
        fprintf(out, "blacklist_other_timeframe_length: %i\n", acl->blacklist_other_timeframe_length);
        fprintf(out, "blacklist_block_duration    %i\n", acl->blacklist_block_duration);
    }
    return 0;
}

int mc_acl_reload_dos_settings(const char *, FILE *, int *)
{
    for (tarn_acl *acl : acls()) {
        const char *name = acl->ss ? acl->ss->name : acl->name;
        if (strcasecmp(name, "lan") != 0 && strcasecmp(name, "wan") != 0)
            continue;
        acl_read_tarn_whitelist(acl, 1);
        cm *c = load_main_config();
        if (!c)
            return -1;
        acl_set_configured_values(acl, c);
        cm_destroy(c);
    }
    return 0;
}

int mc_acl_reload_experimental_options(const char *, FILE *, int *)
{
    for (tarn_acl *acl : acls()) {
        acl_read_tarn_whitelist(acl, 1);
        cm *c = load_main_config();
        if (!c)
            return -1;
        char options[1024] = "";
        cm_get(c, options, sizeof options, 0, CFG_TARN_EXPERIMENTAL_OPTIONS);
        _parse_experimental_options(options);
        cm_destroy(c);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// DNS

int mc_dns_list_cache(const char *, FILE *out, int *)
{
    dns_cache_list(out);
    return 0;
}

int mc_dns_clear_cache(const char *, FILE *, int *)
{
    dns_cache_clear();
    return 0;
}

int mc_dns_query_srv(const char *arg, FILE *out, int *)
{
    for (int transport : {1, 2, 4})
        dns_cache_free_srv_record(dns_cache_resolve_to_srv_record(arg ? arg : "", transport, 0));
    dns_cache_list(out);
    return 0;
}

int mc_dns_query_a(const char *arg, FILE *out, int *)
{
    char buf[1024];
    resolve_address_to_regexp(arg ? arg : "", buf, sizeof buf);
    dns_cache_list(out);
    return 0;
}

int mc_dns_update_overrides(const char *, FILE *, int *)
{
    dns_cache_update_overrides();
    return 0;
}

// ---------------------------------------------------------------------------
// Packet filter

int mc_refresh_iptables(const char *, FILE *, int *)
{
    lock_hold hold(&lock_manager::pgs_lock);
    port_groups *pg = gp ? gp->port_groups : nullptr;
    for (int i = 0; pg && i < pg->port_groups_sip_count; i++)
        pg_refresh_active_ip_list(&pg->port_groups_sip[i]);
    pg_update_all_iptables_rules();
    return 0;
}

int mc_iptables_show(const char *, FILE *out, int *)
{
    pg_iptables_list(out);
    return 0;
}

int mc_cc_test_iptables_memleak(const char *, FILE *out, int *)
{
    static const char *const rules[] = {
        "PREROUTING -i eth0.10 -p udp --dport 5060 -j DNAT --to-destination 192.168.10.2:5060",
        "POSTROUTING -o eth0.10 -p udp --sport 5060 -j SNAT --to-source 192.168.10.1:5060",
        "PREROUTING -i eth0.10 -p udp --dport 5062 -j DNAT --to-destination 192.168.10.2:5062",
        "POSTROUTING -o eth0.10 -p udp --sport 5062 -j SNAT --to-source 192.168.10.1:5062",
    };
    for (const char *op : {"-I", "-D"}) {
        for (const char *r : rules) {
            char cmd[256];
            snprintf(cmd, sizeof cmd, "%s %s", op, r);
            fprintf(out, "%s\n", cmd);
            kvfwd_do_command("nat", cmd);
        }
        fflush(out);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Registrations and SIP tests

int mc_remove_sip_registration(const char *arg, FILE *out, int *)
{
    int idx = atoi(arg ? arg : "");
    // Only an index inside the array is removed (as "rsr" checks it).
    if (!gp || !gp->registrations || idx < 0 || idx >= REGISTRATIONARRAYSIZE)
        return 0;
    fprintf(out, "removing register handle at index %i\n", idx);
    global_hold hold;
    reg_remove_from_outbound_registration_array(idx);
    return 0;
}

int mc_refresh_sip_registration(const char *arg, FILE *out, int *)
{
    int idx = atoi(arg ? arg : "");
    if (!gp || !gp->registrations || idx < 0 || idx >= REGISTRATIONARRAYSIZE)
        return 0;
    fputs("\n\n=====================================\n", out);
    fputs("Sending Register\n\n", out);
    global_hold hold;
    if (gp->registrations[idx])
        send_default_register_request(gp->registrations[idx]);
    return 0;
}

int mc_nua_handle_debug_show(const char *, FILE *out, int *)
{
    fputs("nua handle debug not active\n", out);
    return 0;
}

static void send_info_disconnect(FILE *out, call_object *co, int idx)
{
    fprintf(out, "Sending Sip Info Disconnect Message to Call at index %i\n", idx);
    nua_info(co->cl_sip->nh, SIPTAG_HEADER_STR("X-DV_MESSAGE: DISCONNECT\r\n"), TAG_END());
    sip_info_sent(co->cl_sip);
}

int mc_isdn_send_sip_info_disconnect_for_call(const char *arg, FILE *out, int *)
{
    int idx = atoi(arg ? arg : "");
    global_hold hold;
    call_object *co = gp && idx >= 0 && idx < OPERATIONARRAYSIZE ? gp->operations[idx] : nullptr;
    if (!co || co->callinfo == CI_FREE || !co->cl_sip || !co->cl_sip->nh) {
        fprintf(out, "No Call Object at index %i\n", idx);
        return 0;
    }
    send_info_disconnect(out, co, idx);
    return 0;
}

int mc_isdn_send_sip_info_disconnect_for_isdn_port(const char *arg, FILE *out, int *)
{
    int port = atoi(arg ? arg : "");
    global_hold hold;
    for (int i = 0; gp && i < OPERATIONARRAYSIZE; i++) {
        call_object *co = gp->operations[i];
        if (co && co->callinfo != CI_FREE && co->cl_sip && co->cl_sip->nh && co->bc && co->bc->port == port)
            send_info_disconnect(out, co, i);
    }
    return 0;
}

int mc_send_isdn_information_event(const char *arg, FILE *out, int *)
{
    const char *a = arg ? arg : "";
    const char *colon = strchr(a, ':');
    if (!colon) {
        fputs("parse error, syntax isdnport:digit\n", out);
        return 0;
    }
    int port = atoi(a);
    global_hold hold;
    call_object *co = get_operation_by_isdn_port(port);
    if (!co || !co->bc) {
        fprintf(out, "no call with isdn port %i\n", port);
        return 0;
    }
    // The digits are cut to 63 characters.
    snprintf(co->bc->info_dad, sizeof co->bc->info_dad, "%.63s", colon + 1);
    tarn_misdn_lib_send_event(co, EVENT_INFORMATION);
    co->bc->info_dad[0] = '\0';
    return 0;
}
