#include "acl.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "confman.h"
#include "dns_cache.h"
#include "log.h"
#include "platform_path.h"
#include "schema.h"
#include "system_command.h"

// Blacklist ids of both stacks; raised on every block, listed or not.
static std::atomic<int> acl_blacklist_id;

static const char *const WHITELIST_PATH = "/usr/conf/tarn.whitelist";
static const char *const BLACKLIST_PATH = "/tmp/tarn.blacklist.%s";

// ------------------------------------------------------------ small helpers

static int stack_type_of(const tarn_acl *acl)
{
    return acl && acl->ss ? acl->ss->sip_stack_type : 0;
}

static const char *interface_of(const tarn_acl *acl)
{
    return acl && acl->ss ? acl->ss->interface : "";
}

static bool is_lan_or_wan(const char *name)
{
    return strcasecmp(name, "lan") == 0 || strcasecmp(name, "wan") == 0;
}

uint32_t calculate_netmask_from_prefix(int prefix)
{
    if (prefix <= 0)
        return 0;
    if (prefix >= 32)
        return 0xFFFFFFFFu;
    return 0xFFFFFFFFu << (32 - prefix);
}

uint32_t get_netmask_from_prefix(int prefix)
{
    return htonl(calculate_netmask_from_prefix(prefix));
}

const char *acl_packet_type_to_string(int type)
{
    switch (type) {
    case ACL_OPTIONS_PACKET: return "OPTIONS";
    case ACL_INVITE_PACKET: return "INVITE";
    case ACL_REGISTER_PACKET: return "REGISTER";
    case ACL_OTHER_PACKET: return "OTHER";
    default: return "UNKNOWN";
    }
}

// The time frame and maximum of a type, as members.
struct type_settings {
    int tarn_acl::*timeframe;
    int tarn_acl::*maximum;
};
static const type_settings settings_of[ACL_PACKET_TYPES] = {
    {&tarn_acl::blacklist_options_timeframe_length, &tarn_acl::blacklist_max_options_packets_per_timeframe},
    {&tarn_acl::blacklist_invite_timeframe_length, &tarn_acl::blacklist_max_invite_packets_per_timeframe},
    {&tarn_acl::blacklist_register_timeframe_length, &tarn_acl::blacklist_max_register_packets_per_timeframe},
    {&tarn_acl::blacklist_other_timeframe_length, &tarn_acl::blacklist_max_other_packets_per_timeframe},
};

static bool valid_type(int type)
{
    return type >= 0 && type < ACL_PACKET_TYPES;
}

// An IPv4 address text in its canonical form; false for anything else.
static bool canonical_ipv4(const char *text, char out[ACL_IP_SIZE], in_addr *addr = nullptr)
{
    in_addr a;
    if (!text || inet_pton(AF_INET, text, &a) != 1)
        return false;
    inet_ntop(AF_INET, &a, out, ACL_IP_SIZE);
    if (addr)
        *addr = a;
    return true;
}

static int blacklist_index(const tarn_acl *acl, const char *ip)
{
    for (int i = 0; i < acl->blacklist_size; i++)
        if (strcmp(acl->blacklist[i].ip, ip) == 0)
            return i;
    return -1;
}

// The filter rule of one blocked address on the stack's interface.
static void drop_rule(const tarn_acl *acl, const char *verb, const char *ip)
{
    const char *ifname = interface_of(acl);
    if (!is_safe_ifname(ifname) || !is_ipv4_address(ip)) {
        LOGD(TARN, 1, nullptr, "CRITICAL: acl %s: no filter rule for |%s| on interface |%s|", acl->name, ip, ifname);
        return;
    }
    if (verb[0] == 'I')
        run_system_command("iptables -I INPUT 1 -s %s -i %s -j DROP", ip, ifname);
    else
        run_system_command("iptables -D INPUT -s %s -i %s -j DROP", ip, ifname);
}

// Sets the counter of the first counted entry of the address to 0 in every
// packet type.
static void reset_counters(tarn_acl *acl, const char *ip)
{
    for (int t = 0; t < ACL_PACKET_TYPES; t++)
        for (int i = 0; i < acl->call_attempts_size[t]; i++)
            if (strcmp(acl->call_attempts[t][i].ip, ip) == 0) {
                acl->call_attempts[t][i].counter = 0;
                break;
            }
}

// ---------------------------------------------------------------- checking

void acl_block_ip(tarn_acl *acl, const char *ip)
{
    if (!acl || blacklist_index(acl, ip) >= 0)
        return;
    int id = acl_blacklist_id.fetch_add(1);
    if (acl->blacklist_size < ACL_MAX_ENTRIES) {
        acl_blacklist_element &e = acl->blacklist[acl->blacklist_size++];
        e.insert_time = time(nullptr);
        e.id = id;
        snprintf(e.ip, sizeof e.ip, "%s", ip);
    }
    acl_write_tarn_blacklist(acl, 0);
    drop_rule(acl, "I", ip);
}

int acl_check(tarn_acl *acl, int type, const char *ip)
{
    if (!acl)
        return 1;
    if (!valid_type(type))
        return 0;
    int frame = acl->*settings_of[type].timeframe;
    int maximum = acl->*settings_of[type].maximum;
    if (frame == 0 || maximum == 0)
        return 1;
    // Only IPv4 sources are counted; nothing else can be put in a rule.
    char text[ACL_IP_SIZE];
    in_addr src;
    if (!canonical_ipv4(ip, text, &src))
        return 1;

    pthread_mutex_lock(&acl->acl_lock);
    int stype = stack_type_of(acl);
    for (int i = 0; i < acl->whitelist_size; i++) {
        const acl_whitelist_element &w = acl->whitelist[i];
        if ((src.s_addr & w.netmask) == w.ipbytes_masked && (w.stack_type & stype)) {
            pthread_mutex_unlock(&acl->acl_lock);
            return 1;
        }
    }
    bool over = false;
    acl_call_attempt *attempts = acl->call_attempts[type];
    int &size = acl->call_attempts_size[type];
    int i = 0;
    while (i < size && strcmp(attempts[i].ip, text) != 0)
        i++;
    if (i < size) {
        over = ++attempts[i].counter > maximum;
        if (over)
            acl_block_ip(acl, text);
    } else if (size < ACL_MAX_ENTRIES) {
        snprintf(attempts[size].ip, sizeof attempts[size].ip, "%s", text);
        attempts[size].counter = 1;
        size++;
    }
    int result = over || blacklist_index(acl, text) >= 0 ? 0 : 1;
    pthread_mutex_unlock(&acl->acl_lock);
    return result;
}

void acl_clear_attempts(tarn_acl *acl, int type)
{
    if (!acl || !valid_type(type))
        return;
    pthread_mutex_lock(&acl->acl_lock);
    acl->call_attempts_size[type] = 0;
    memset(acl->call_attempts[type], 0, sizeof acl->call_attempts[type]);
    acl->last_call_attempt_cleanup[type] = time(nullptr);
    pthread_mutex_unlock(&acl->acl_lock);
}

// ---------------------------------------------------------------- releasing

// Takes entry i out of the list (filter rule deleted, counters reset),
// keeping the order of the rest.
static void release_entry(tarn_acl *acl, int i)
{
    char ip[ACL_IP_SIZE];
    snprintf(ip, sizeof ip, "%s", acl->blacklist[i].ip);
    reset_counters(acl, ip);
    drop_rule(acl, "D", ip);
    memmove(&acl->blacklist[i], &acl->blacklist[i + 1], (acl->blacklist_size - i - 1) * sizeof acl->blacklist[0]);
    acl->blacklist_size--;
}

void acl_check_blacklist(tarn_acl *acl)
{
    if (!acl)
        return;
    pthread_mutex_lock(&acl->acl_lock);
    time_t now = time(nullptr);
    int kept = 0, released = 0;
    for (int i = 0; i < acl->blacklist_size; i++) {
        acl_blacklist_element &e = acl->blacklist[i];
        if (e.insert_time + acl->blacklist_block_duration < now) {
            drop_rule(acl, "D", e.ip);
            released++;
        } else {
            acl->blacklist[kept++] = e;
        }
    }
    acl->blacklist_size = kept;
    if (released)
        acl_write_tarn_blacklist(acl, 0);
    pthread_mutex_unlock(&acl->acl_lock);
}

void acl_unblock_all_ips_from_blacklist(tarn_acl *acl, int lock)
{
    if (!acl)
        return;
    if (lock)
        pthread_mutex_lock(&acl->acl_lock);
    if (acl->blacklist_size > 0) {
        for (int i = 0; i < acl->blacklist_size; i++) {
            reset_counters(acl, acl->blacklist[i].ip);
            drop_rule(acl, "D", acl->blacklist[i].ip);
        }
        acl->blacklist_size = 0;
        acl_write_tarn_blacklist(acl, 0);
    }
    if (lock)
        pthread_mutex_unlock(&acl->acl_lock);
}

void acl_unblock_ip_from_blacklist_by_id(tarn_acl *acl, int id, int lock)
{
    if (!acl)
        return;
    if (lock)
        pthread_mutex_lock(&acl->acl_lock);
    for (int i = 0; i < acl->blacklist_size; i++)
        if (acl->blacklist[i].id == id) {
            release_entry(acl, i);
            acl_write_tarn_blacklist(acl, 0);
            break;
        }
    if (lock)
        pthread_mutex_unlock(&acl->acl_lock);
}

void acl_housekeeping(long k)
{
    if (!gp || k <= 19)
        return;
    for (int s = 0; s < gp->sip_stack_size && s < SIP_STACKS_CAPACITY; s++) {
        tarn_acl *acl = gp->sip_stacks[s].acl;
        if (!acl)
            continue;
        for (int t = 0; t < ACL_PACKET_TYPES; t++) {
            int frame = acl->*settings_of[t].timeframe;
            if (frame > 0 && k % frame == 0)
                acl_clear_attempts(acl, t);
        }
        if (k % 60 == 0)
            acl_check_blacklist(acl);
    }
}

// ---------------------------------------------------------------- files

static char *trim(char *s)
{
    while (isspace((unsigned char)*s))
        s++;
    size_t n = strlen(s);
    while (n && isspace((unsigned char)s[n - 1]))
        s[--n] = '\0';
    return s;
}

int acl_write_tarn_blacklist(tarn_acl *acl, int lock)
{
    if (!acl)
        return -1;
    if (lock)
        pthread_mutex_lock(&acl->acl_lock);
    // The file lies in the shared /tmp: never follow a planted link.
    int fd = open(acl->blacklist_path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        std::string text;
        char line[64];
        for (int i = 0; i < acl->blacklist_size; i++) {
            snprintf(line, sizeof line, "%lld %s\n", (long long)acl->blacklist[i].insert_time, acl->blacklist[i].ip);
            text += line;
        }
        if (write(fd, text.data(), text.size()) < 0) {
        }
        close(fd);
    }
    if (lock)
        pthread_mutex_unlock(&acl->acl_lock);
    return fd >= 0 ? 0 : -1;
}

int acl_read_tarn_blacklist(tarn_acl *acl, int lock)
{
    if (!acl)
        return -1;
    if (lock)
        pthread_mutex_lock(&acl->acl_lock);
    FILE *f = fopen(acl->blacklist_path, "re");
    if (f) {
        char line[256];
        int number = 0;
        while (fgets(line, sizeof line, f) && acl->blacklist_size < ACL_MAX_ENTRIES) {
            number++;
            char *save = nullptr;
            char *when = strtok_r(line, " \t\r\n", &save);
            char *ip = strtok_r(nullptr, " \t\r\n", &save);
            char *extra = strtok_r(nullptr, " \t\r\n", &save);
            if (!when && !ip)
                continue;
            char *end = nullptr;
            long long t = when ? strtoll(when, &end, 10) : 0;
            acl_blacklist_element e{};
            if (!ip || extra || !end || *end || !canonical_ipv4(ip, e.ip)) {
                LOGD(TARN, 1, nullptr, "acl %s: skipping line %i of %s", acl->name, number, acl->blacklist_path);
                continue;
            }
            e.insert_time = (time_t)t;
            e.id = 0;
            acl->blacklist[acl->blacklist_size++] = e;
        }
        fclose(f);
    }
    if (lock)
        pthread_mutex_unlock(&acl->acl_lock);
    return f ? 0 : -1;
}

// One whitelist line "address/prefix/stack" into one entry per address it
// resolves to; a malformed line, or one for the other stack, adds nothing.
static void add_whitelist_line(tarn_acl *acl, char *line)
{
    char *first = strchr(line, '/');
    char *second = first ? strchr(first + 1, '/') : nullptr;
    if (!second)
        return;
    *first = *second = '\0';
    char *address = trim(line), *prefix_text = trim(first + 1), *stack_word = trim(second + 1);
    char *end = nullptr;
    long prefix = strtol(prefix_text, &end, 10);
    if (!*address || !*prefix_text || *end || prefix < 0 || prefix > 32)
        return;
    int type = strcasecmp(stack_word, "LAN") == 0   ? (int)STACK_LAN
               : strcasecmp(stack_word, "WAN") == 0 ? (int)STACK_WAN
                                                    : (int)STACK_ANY;
    int own = stack_type_of(acl);
    if (type != STACK_ANY && !(type & own))
        return;

    char pattern[2048] = "";
    bool literal = is_ipv4_address(address);
    if (literal) {
        snprintf(pattern, sizeof pattern, "%s", address);
    } else {
        // Host names through the DNS cache: "a|b|...", or its dummy address
        // when the name did not resolve.
        resolve_address_to_regexp(address, pattern, sizeof pattern);
        if (strcmp(pattern, DNS_DUMMY_ADDRESS) == 0)
            pattern[0] = '\0';
    }
    uint32_t mask = get_netmask_from_prefix((int)prefix);
    char *save = nullptr;
    for (char *a = strtok_r(pattern, "|", &save); a && acl->whitelist_size < ACL_WHITELIST_SIZE;
         a = strtok_r(nullptr, "|", &save)) {
        acl_whitelist_element &w = acl->whitelist[acl->whitelist_size];
        in_addr bytes;
        if (!canonical_ipv4(a, w.ip_resolved, &bytes))
            continue;
        snprintf(w.ip, sizeof w.ip, "%s", address);
        w.ipbytes = bytes.s_addr;
        w.netmask_prefix = (int)prefix;
        w.netmask = mask;
        w.ipbytes_masked = bytes.s_addr & mask;
        w.regexp = nullptr;
        w.stack_type = type;
        acl->whitelist_size++;
    }
}

int acl_read_tarn_whitelist(tarn_acl *acl, int lock)
{
    if (!acl)
        return -1;
    if (lock)
        pthread_mutex_lock(&acl->acl_lock);
    free(acl->whitelist);
    acl->whitelist = (acl_whitelist_element *)calloc(ACL_WHITELIST_SIZE, sizeof(acl_whitelist_element));
    acl->whitelist_size = 0;
    int rc = -1;
    int fd = acl->whitelist ? open(acl->whitelist_path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd >= 0) {
        char text[2049];
        ssize_t n = 0, got;
        while (n < 2048 && (got = read(fd, text + n, 2048 - n)) > 0)
            n += got;
        close(fd);
        text[n < 0 ? 0 : n] = '\0';
        // A file longer than what is read ends in a cut line: leave it out.
        if (n == 2048) {
            char *last = strrchr(text, '\n');
            if (last)
                last[1] = '\0';
            else
                text[0] = '\0';
        }
        char *save = nullptr;
        for (char *line = strtok_r(text, "\n", &save); line && acl->whitelist_size < ACL_WHITELIST_SIZE - 1;
             line = strtok_r(nullptr, "\n", &save))
            add_whitelist_line(acl, line);
        rc = 0;
    }
    if (lock)
        pthread_mutex_unlock(&acl->acl_lock);
    return rc;
}

// ---------------------------------------------------------------- settings

static int not_negative(int v)
{
    return v < 0 ? 0 : v;
}

static int frame_length(int v)
{
    return v < 0 ? 0 : v > 3600 ? 3600 : v;
}

void acl_set_blacklisting_block_duration(tarn_acl *acl, int v) { if (acl) acl->blacklist_block_duration = not_negative(v); }
void acl_set_blacklisting_max_options_packets(tarn_acl *acl, int v) { if (acl) acl->blacklist_max_options_packets_per_timeframe = not_negative(v); }
void acl_set_blacklisting_options_timeframe(tarn_acl *acl, int v) { if (acl) acl->blacklist_options_timeframe_length = frame_length(v); }
void acl_set_blacklisting_max_invite_packets(tarn_acl *acl, int v) { if (acl) acl->blacklist_max_invite_packets_per_timeframe = not_negative(v); }
void acl_set_blacklisting_invite_timeframe(tarn_acl *acl, int v) { if (acl) acl->blacklist_invite_timeframe_length = frame_length(v); }
void acl_set_blacklisting_max_register_packets(tarn_acl *acl, int v) { if (acl) acl->blacklist_max_register_packets_per_timeframe = not_negative(v); }
void acl_set_blacklisting_register_timeframe(tarn_acl *acl, int v) { if (acl) acl->blacklist_register_timeframe_length = frame_length(v); }
void acl_set_blacklisting_max_other_packets(tarn_acl *acl, int v) { if (acl) acl->blacklist_max_other_packets_per_timeframe = not_negative(v); }
void acl_set_blacklisting_other_timeframe(tarn_acl *acl, int v) { if (acl) acl->blacklist_other_timeframe_length = frame_length(v); }

// The keys of one stack in the order of tarn.conf's general section; the
// WAN keys follow the LAN keys at nine places higher.
static void (*const setters[])(tarn_acl *, int) = {
    acl_set_blacklisting_max_options_packets, acl_set_blacklisting_max_invite_packets,
    acl_set_blacklisting_max_register_packets, acl_set_blacklisting_max_other_packets,
    acl_set_blacklisting_options_timeframe, acl_set_blacklisting_invite_timeframe,
    acl_set_blacklisting_register_timeframe, acl_set_blacklisting_other_timeframe,
    acl_set_blacklisting_block_duration,
};
static_assert(CFG_TARN_BLACKLIST_BLOCKDURATION_LAN - CFG_TARN_BLACKLIST_MAX_OPTIONS_PACKETS_LAN == 8, "nine keys");
static_assert(CFG_TARN_BLACKLIST_MAX_OPTIONS_PACKETS_WAN - CFG_TARN_BLACKLIST_MAX_OPTIONS_PACKETS_LAN == 9, "WAN after LAN");

void acl_set_configured_values(tarn_acl *acl, cm *config)
{
    if (!acl || !config || !is_lan_or_wan(acl->name))
        return;
    int base = strcasecmp(acl->name, "lan") == 0 ? CFG_TARN_BLACKLIST_MAX_OPTIONS_PACKETS_LAN
                                                 : CFG_TARN_BLACKLIST_MAX_OPTIONS_PACKETS_WAN;
    for (int k = 0; k < 9; k++) {
        char value[32];
        if (cm_get(config, value, sizeof value, 0, base + k) != 0)
            continue;
        setters[k](acl, atoi(value));
    }
}

// ---------------------------------------------------------------- objects

tarn_acl *acl_get_acl_by_nua(nua_s *nua)
{
    if (!gp || !nua)
        return nullptr;
    for (int s = 0; s < gp->sip_stack_size && s < SIP_STACKS_CAPACITY; s++)
        if (gp->sip_stacks[s].nua == nua)
            return gp->sip_stacks[s].acl;
    return nullptr;
}

tarn_acl *acl_get_acl_by_stackname(const char *name)
{
    if (!gp || !name)
        return nullptr;
    for (int s = 0; s < gp->sip_stack_size && s < SIP_STACKS_CAPACITY; s++) {
        sip_stack &ss = gp->sip_stacks[s];
        if (ss.active && strcasecmp(ss.name, name) == 0)
            return ss.acl;
    }
    return nullptr;
}

void acl_init()
{
    if (!gp)
        return;
    for (int s = 0; s < gp->sip_stack_size && s < SIP_STACKS_CAPACITY; s++) {
        sip_stack &ss = gp->sip_stacks[s];
        if (!ss.active || !is_lan_or_wan(ss.name))
            continue;
        auto *acl = (tarn_acl *)calloc(1, sizeof(tarn_acl));
        if (!acl) {
            LOGD(TARN, 0, nullptr, "CRITICAL: no memory for the access control of %s", ss.name);
            continue;
        }
        snprintf(acl->name, sizeof acl->name, "%s", ss.name);
        acl->sip_stack = acl->ss = &ss;
        ss.acl = acl;
        acl_set_configured_values(acl, gp->config_tarn);
        pthread_mutex_init(&acl->acl_lock, nullptr);
        platform_path_buf(WHITELIST_PATH, acl->whitelist_path, sizeof acl->whitelist_path);
        char path[64];
        snprintf(path, sizeof path, BLACKLIST_PATH, ss.name);
        platform_path_buf(path, acl->blacklist_path, sizeof acl->blacklist_path);
        acl_read_tarn_whitelist(acl, 1);
        acl_read_tarn_blacklist(acl, 1);
        // The DROP rules of the last run go, and so does its list.
        acl_unblock_all_ips_from_blacklist(acl, 1);
        time_t now = time(nullptr);
        for (int t = 0; t < ACL_PACKET_TYPES; t++)
            acl->last_call_attempt_cleanup[t] = now;
    }
}
