// Building the ISDN, CAS, analog and GSM port groups from the port sections
// of their configuration files.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "pg_port_groups.h"
#include "schema.h"
#include "strtools.h"

enum { PORT_SECTION = 1 };

port_groups *pg_port_groups()
{
    if (!gp->port_groups)
        gp->port_groups = (port_groups *)calloc(1, sizeof(port_groups));
    return gp->port_groups;
}

// ---- words ---------------------------------------------------------------------------

int pg_parse_chansel_method(const char *word, int gsm)
{
    if (!strcasecmp(word, "random"))
        return CHANSEL_RANDOM;
    if (!strcasecmp(word, "roundrobin"))
        return gsm ? CHANSEL_RANDOM : CHANSEL_ROUNDROBIN;
    return CHANSEL_STANDARD;
}

int pg_parse_chansel_direction(const char *word)
{
    return strcasecmp(word, "descending") == 0 ? CHANSEL_DIRECTION_DESCENDING : CHANSEL_DIRECTION_ASCENDING;
}

int pg_parse_chansel_behaviour(const char *word)
{
    if (!strcasecmp(word, "exclusive"))
        return CHANNEL_EXCLUSIVE;
    if (!strcasecmp(word, "any") || !strcasecmp(word, "anychannel") || !strcasecmp(word, "any_channel"))
        return CHANNEL_ANY;
    if (!strcasecmp(word, "alternative"))
        return CHANNEL_ALTERNATIVE;
    return CHANNEL_DEFAULT;
}

int pg_parse_message_waiting_method(const char *text)
{
    int m = 0;
    if (strcasestr(text, "stutter"))
        m |= PG_MWI_STUTTER;
    if (strcasestr(text, "fsk"))
        m |= PG_MWI_FSK;
    if (strcasestr(text, "off"))
        m = PG_MWI_OFF;
    return m;
}

char *pg_parse_lte_init_hook(const char *value)
{
    std::string s;
    for (const char *p = value; *p; p++) {
        if (p[0] == '\\' && p[1] == '"')
            continue; // the quote itself is taken next
        s += *p;
    }
    if (s.size() > 1 && s.front() == '"' && s.back() == '"')
        return strdup(s.substr(1, s.size() - 2).c_str());
    return strdup("");
}

static int clamp(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

// ---- reading the configuration ---------------------------------------------------------

// A value of the group's section, cut to size - 1 characters (empty when the
// key has no value).
static std::string group_text(cm *c, int dir, const char *group, size_t size)
{
    std::vector<char> buf(65536);
    if (cm_get_by_cat(c, buf.data(), buf.size(), PORT_SECTION, dir, group) != 0)
        return "";
    std::string s(buf.data());
    if (s.size() > size - 1)
        s.resize(size - 1);
    return s;
}

static int group_int(cm *c, int dir, const char *group)
{
    return atoi(group_text(c, dir, group, 512).c_str());
}

static int group_bool(cm *c, int dir, const char *group)
{
    return st_convert_boolstring_to_int(group_text(c, dir, group, 512).c_str());
}

static char *group_copy(cm *c, int dir, const char *group, size_t size)
{
    return strdup(group_text(c, dir, group, size).c_str());
}

static std::string without_brackets(std::string s)
{
    std::string out;
    for (char ch : s)
        if (ch != '[' && ch != ']')
            out += ch;
    return out;
}

// The values of a per-port list, one per port: values beyond the count are
// ignored, missing ones repeat the last value given.
static std::vector<std::string> per_port_values(const std::string &text, int count)
{
    std::vector<char> work(text.begin(), text.end());
    work.push_back('\0');
    std::vector<char *> items((size_t)count > 0 ? (size_t)count : 1, nullptr);
    int found = st_extract_comma_separated_values(items.data(), (int)items.size(), work.data());
    int stored = found < (int)items.size() ? found : (int)items.size();
    std::vector<std::string> out;
    for (int i = 0; i < count; i++)
        out.push_back(stored > 0 ? items[i < stored ? i : stored - 1] : "");
    for (int i = 0; i < stored; i++)
        free(items[i]);
    return out;
}

// ---- the common steps of every technology -------------------------------------------------

static void *zalloc(size_t n, size_t size)
{
    return calloc(n ? n : 1, size);
}

// The slots of a group: plain port numbers (ISDN) or setting records.
static int slot_port(const port_group_isdn *g, int i) { return g->ports[i]; }
static void make_slots(port_group_isdn *g) { g->ports = (int32_t *)zalloc((size_t)g->port_count, sizeof(int32_t)); }
static void fill_slot(port_group_isdn *g, int i, int port) { g->ports[i] = port; }

template <class G>
static int slot_port(const G *g, int i)
{
    return g->port_settings[i].port;
}
template <class G>
static void make_slots(G *g)
{
    g->port_settings = (decltype(g->port_settings))zalloc((size_t)g->port_count, sizeof(g->port_settings[0]));
}
template <class G>
static void fill_slot(G *g, int i, int port)
{
    g->port_settings[i].port = port;
    g->port_settings[i].port_group = g;
}

template <class G>
static G *group_by_name(G *const *groups, int count, const char *name)
{
    for (int i = 0; i < count; i++)
        if (strcmp(groups[i]->name, name) == 0)
            return groups[i];
    return nullptr;
}

// The accepted port ids of the file in the manager's order.
static std::vector<std::pair<int, std::string>> listed_ports(cm *c, const char *tech, int max_port)
{
    std::vector<std::pair<int, std::string>> out;
    int key = -1, next;
    for (int guard = 0; c && guard < 100000 && cm_get_next_id(c, PORT_SECTION, key, &next) == 1; guard++) {
        key = next;
        if (next < 1 || next > max_port) {
            fprintf(stderr, "ignoring %s bogus port %i\n", tech, next);
            continue;
        }
        char name[512];
        if (cm_get(c, name, sizeof name, PORT_SECTION, 0, next) != 0)
            name[0] = '\0';
        out.emplace_back(next, name);
    }
    return out;
}

// Steps 1 to 4: count, allocate, fill, map.
template <class G, int CAPACITY, int MAP>
static void build_groups(cm *c, const char *tech, int max_port, G *(&groups)[CAPACITY], int32_t *count,
                         G *(&map)[MAP])
{
    auto ports = listed_ports(c, tech, max_port);
    for (auto &[port, name] : ports) {
        if (G *g = group_by_name(groups, *count, name.c_str())) {
            g->port_count++;
        } else if (*count < CAPACITY) {
            g = (G *)zalloc(1, sizeof(G));
            g->name = strdup(name.c_str());
            g->port_count = 1;
            groups[(*count)++] = g;
        }
    }
    for (int i = 0; i < *count; i++)
        make_slots(groups[i]);
    for (auto &[port, name] : ports) {
        G *g = group_by_name(groups, *count, name.c_str());
        if (!g || g->port_count <= 0)
            continue;
        for (int i = 0; i < g->port_count; i++)
            if (slot_port(g, i) == 0) {
                fill_slot(g, i, port);
                break;
            }
    }
    for (auto &[port, name] : ports)
        if (port >= 0 && port < MAP)
            map[port] = group_by_name(groups, *count, name.c_str());
}

// ---- ISDN ---------------------------------------------------------------------------------

int pg_init_isdn_port_group_struct()
{
    port_groups *pg = pg_port_groups();
    cm *c = gp->config_isdn;
    build_groups(c, "isdn", PG_ISDN_PORT_MAX, pg->port_groups_isdn, &pg->port_groups_isdn_count,
                 pg->isdn_port_to_port_group_map);
    const size_t T = 512;
    for (int i = 0; i < pg->port_groups_isdn_count; i++) {
        port_group_isdn *g = pg->port_groups_isdn[i];
        const char *n = g->name;
        g->chansel_method = pg_parse_chansel_method(group_text(c, CFG_ISDN_PORT_CHANSEL, n, T).c_str(), 0);
        g->chansel_direction = pg_parse_chansel_direction(group_text(c, CFG_ISDN_PORT_CHANSEL_DIRECTION, n, T).c_str());
        g->chansel_behaviour = pg_parse_chansel_behaviour(group_text(c, CFG_ISDN_PORT_CHANSEL_BEHAVIOUR, n, T).c_str());
        g->complete_dialing_on_pound_or_star = group_bool(c, CFG_ISDN_PORT_COMPLETE_DIALING_ON_POUND_OR_STAR, n);
        g->overlap_dialing = group_bool(c, CFG_ISDN_PORT_OVERLAP_DIALING, n);
        g->qsig = group_bool(c, CFG_ISDN_PORT_QSIG, n);
        g->qsig_network_extension = group_bool(c, CFG_ISDN_PORT_QSIG_NETWORK_EXTENSION, n);
        g->port_pullup = group_int(c, CFG_ISDN_PORT_PORTPULLUP, n);
        g->interdigit_dialing_timeout = group_int(c, CFG_ISDN_PORT_INTERDIGIT_TIMEOUT, n);
        g->interdigit_dialing_timeout_initial = group_int(c, CFG_ISDN_PORT_INTERDIGIT_TIMEOUT_INITIAL, n);
        g->tones = group_copy(c, CFG_ISDN_PORT_TONES, n, T);
        g->country_code = group_copy(c, CFG_ISDN_PORT_COUNTRY_CODE, n, T);
        g->city_code = group_copy(c, CFG_ISDN_PORT_CITY_CODE, n, T);
        g->local_area_code = group_copy(c, CFG_ISDN_PORT_LOCAL_AREA_CODE, n, T);
        g->pgi_monitored_sip_peer = group_copy(c, CFG_ISDN_PORT_MONITORED_SIP_PEER, n, T);
        int offtime = group_int(c, CFG_ISDN_PORT_MONITORED_SIP_PEER_OFFTIME, n);
        g->pgi_monitored_sip_peer_offtime = offtime < 0 ? 0 : offtime;
    }
    return 0;
}

// ---- CAS ------------------------------------------------------------------------------------

template <class G>
static void per_port_clip_cnip(cm *c, G *g, int clip_dir, int cnip_dir, size_t size)
{
    std::vector<std::string> clip = per_port_values(group_text(c, clip_dir, g->name, size), g->port_count);
    std::vector<std::string> cnip = per_port_values(group_text(c, cnip_dir, g->name, size), g->port_count);
    for (int i = 0; i < g->port_count; i++) {
        g->port_settings[i].clip = strdup(clip[i].c_str());
        g->port_settings[i].cnip = strdup(cnip[i].c_str());
    }
}

int pg_init_cas_port_group_struct()
{
    port_groups *pg = pg_port_groups();
    cm *c = gp->config_cas;
    build_groups(c, "cas", PG_CAS_PORT_MAX, pg->port_groups_cas, &pg->port_groups_cas_count,
                 pg->cas_port_to_port_group_map);
    const size_t T = 512;
    for (int i = 0; i < pg->port_groups_cas_count; i++) {
        port_group_cas *g = pg->port_groups_cas[i];
        const char *n = g->name;
        g->t1signalling = strcasecmp(group_text(c, CFG_CAS_PORT_T1_SIGNALLING, n, T).c_str(), "fxs_ks") == 0
                              ? CAS_SIGNALLING_T1_FXSKS
                              : CAS_SIGNALLING_T1_FXOKS;
        group_text(c, CFG_CAS_PORT_E1_SIGNALLING, n, T); // "mfcr2" is its only value
        g->e1signalling = CAS_SIGNALLING_E1_MFCR2;
        g->interdigit_dialing_timeout_initial = group_int(c, CFG_CAS_PORT_INTERDIGIT_TIMEOUT_INITIAL, n);
        g->interdigit_dialing_timeout = group_int(c, CFG_CAS_PORT_INTERDIGIT_TIMEOUT, n);
        g->tones = strdup(without_brackets(group_text(c, CFG_CAS_PORT_TONES, n, T)).c_str());
        g->overlap_dialing = group_bool(c, CFG_CAS_PORT_OVERLAP_DIALING, n);
        g->chansel_method = pg_parse_chansel_method(group_text(c, CFG_CAS_PORT_CHANSEL, n, T).c_str(), 0);
        g->chansel_direction = pg_parse_chansel_direction(group_text(c, CFG_CAS_PORT_CHANSEL_DIRECTION, n, T).c_str());
        g->complete_dialing_on_pound_or_star = group_bool(c, CFG_CAS_PORT_COMPLETE_DIALING_ON_POUND_OR_STAR, n);
        per_port_clip_cnip(c, g, CFG_CAS_PORT_CLIP, CFG_CAS_PORT_CNIP, T);
    }
    return 0;
}

// ---- analog -----------------------------------------------------------------------------------

int pg_init_analog_port_group_struct()
{
    port_groups *pg = pg_port_groups();
    cm *c = gp->config_analog;
    build_groups(c, "analog", PG_ANALOG_PORT_MAX, pg->port_groups_analog, &pg->port_groups_analog_count,
                 pg->analog_port_to_port_group_map);
    const size_t T = 4096;
    for (int i = 0; i < pg->port_groups_analog_count; i++) {
        port_group_analog *g = pg->port_groups_analog[i];
        const char *n = g->name;
        g->interdigit_dialing_timeout_initial = group_int(c, CFG_ANALOG_PORT_INTERDIGIT_TIMEOUT_INITIAL, n);
        g->interdigit_dialing_timeout = group_int(c, CFG_ANALOG_PORT_INTERDIGIT_TIMEOUT, n);
        g->tones = strdup(without_brackets(group_text(c, CFG_ANALOG_PORT_TONES, n, T)).c_str());
        g->fxo_connect = strcasecmp(group_text(c, CFG_ANALOG_PORT_FXO_CONNECT, n, T).c_str(), "polarity") == 0;
        g->fxo_wait_for_oad = strcasecmp(group_text(c, CFG_ANALOG_PORT_FXO_WAIT_FOR_OAD, n, T).c_str(), "wait") == 0;
        g->fxo_dialtone_passthrough = group_bool(c, CFG_ANALOG_PORT_FXO_DIALTONE_PASSTHROUGH, n);
        g->fxo_call_ending_signal = group_copy(c, CFG_ANALOG_PORT_FXO_CALL_ENDING_SIGNAL, n, T);
        g->fxo_portup_voltage = group_int(c, CFG_ANALOG_PORT_FXO_PORTUP_VOLTAGE, n);
        g->overlap_dialing = group_bool(c, CFG_ANALOG_PORT_OVERLAP_DIALING, n);
        g->fxo_dialtone_detection_timeout = group_int(c, CFG_ANALOG_PORT_FXO_DIALTONE_DETECTION_TIMEOUT, n);
        g->fxo_callerid_detection_timeout = group_int(c, CFG_ANALOG_PORT_FXO_CALLERID_DETECTION_TIMEOUT, n);
        g->pga_config = group_copy(c, CFG_ANALOG_PORT_CONFIG, n, T);
        // The group's own options: the defaults with its option text applied.
        cc_init_call_configuration(&g->pga_cc);
        cc_parse_call_configuration_direct(nullptr, &g->pga_cc, g->pga_config);
        g->chansel_method = pg_parse_chansel_method(group_text(c, CFG_ANALOG_PORT_CHANSEL, n, T).c_str(), 0);
        g->chansel_direction = pg_parse_chansel_direction(group_text(c, CFG_ANALOG_PORT_CHANSEL_DIRECTION, n, T).c_str());
        g->complete_dialing_on_pound_or_star = group_bool(c, CFG_ANALOG_PORT_COMPLETE_DIALING_ON_POUND_OR_STAR, n);
        g->fxo_cid_detection_mode = group_copy(c, CFG_ANALOG_PORT_FXO_CID_DETECTION_MODE, n, T);
        g->message_waiting_method =
            pg_parse_message_waiting_method(group_text(c, CFG_ANALOG_PORT_MESSAGE_WAITING_METHOD, n, T).c_str());
        g->fxo_verify_ringing = group_int(c, CFG_ANALOG_PORT_FXO_VERIFY_RINGING, n);
        g->fxs_wink_duration = clamp(group_int(c, CFG_ANALOG_PORT_FXS_WINK_DURATION, n), 0, 2000);
        g->fxs_wink_offset = clamp(group_int(c, CFG_ANALOG_PORT_FXS_WINK_OFFSET, n), 0, 5000);
        per_port_clip_cnip(c, g, CFG_ANALOG_PORT_CLIP, CFG_ANALOG_PORT_CNIP, T);
    }
    return 0;
}

// ---- GSM ----------------------------------------------------------------------------------------

int pg_init_gsm_port_group_struct()
{
    port_groups *pg = pg_port_groups();
    cm *c = gp->config_gsm;
    build_groups(c, "gsm", PG_GSM_PORT_MAX, pg->port_groups_gsm, &pg->port_groups_gsm_count,
                 pg->gsm_port_to_port_group_map);
    const size_t T = 128;
    for (int i = 0; i < pg->port_groups_gsm_count; i++) {
        port_group_gsm *g = pg->port_groups_gsm[i];
        const char *n = g->name;
        g->chansel_method = pg_parse_chansel_method(group_text(c, CFG_GSM_PORT_CHANSEL, n, T).c_str(), 1);
        g->chansel_direction = pg_parse_chansel_direction(group_text(c, CFG_GSM_PORT_CHANSEL_DIRECTION, n, T).c_str());
        std::string webhook = group_text(c, CFG_GSM_PORT_SMS_WEBHOOK, n, T);
        std::string user = group_text(c, CFG_GSM_PORT_SMS_WEBHOOK_USER, n, T);
        std::string secret = group_text(c, CFG_GSM_PORT_SMS_WEBHOOK_SECRET, n, T);
        std::string id = group_text(c, CFG_GSM_PORT_SMS_WEBHOOK_ID, n, T);
        std::string type = group_text(c, CFG_GSM_PORT_SMS_WEBHOOK_TYPE, n, T);
        int cid_wait = clamp(group_int(c, CFG_GSM_PORT_WAIT_FOR_CID_TIMEOUT, n), 1, 10);
        g->lte_init_hook = pg_parse_lte_init_hook(group_text(c, CFG_GSM_PORT_LTE_INIT_HOOK, n, 2048).c_str());
        std::vector<std::string> ext = per_port_values(group_text(c, CFG_GSM_PORT_EXTENSIONS, n, T), g->port_count);
        std::vector<std::string> sms = per_port_values(group_text(c, CFG_GSM_PORT_SMS_EXTENSIONS, n, T), g->port_count);
        for (int p = 0; p < g->port_count; p++) {
            port_group_gsm_port_setting &s = g->port_settings[p];
            s.sms_webhook = strdup(webhook.c_str());
            s.sms_webhook_user = strdup(user.c_str());
            s.sms_webhook_secret = strdup(secret.c_str());
            s.sms_webhook_id = strdup(id.c_str());
            s.sms_webhook_type = strdup(type.c_str());
            s.cbm_webhook = strdup("");
            s.cid_wait_time = cid_wait;
            int k = s.port - 1; // GSM ports 1 to 6
            bool known = k >= 0 && k < 8;
            s.pin = strdup(known && gp->gsm_pins[k] ? gp->gsm_pins[k] : "");
            s.smsc = strdup(known && gp->gsm_sms_centrals[k] ? gp->gsm_sms_centrals[k] : "");
            s.gsmcodec = known ? gp->gsm_codecs[k] : 0;
            s.provider_mode = known ? gp->gsm_provider_mode[k] : 0;
            s.provider_id = known ? gp->gsm_provider_numeric[k] : 0;
            s.access_technology = known ? gp->gsm_access_technology[k] : 0;
            s.extension = strdup(ext[p].c_str());
            s.sms_extension = strdup(sms[p].c_str());
        }
    }
    return 0;
}

// ---- freeing ------------------------------------------------------------------------------------

static void free_group(port_group_isdn *g)
{
    free(g->ports);
    for (char *s : {g->name, g->tones, g->country_code, g->city_code, g->local_area_code, g->pgi_monitored_sip_peer})
        free(s);
    free(g);
}

// CAS and analog groups: per-port calling numbers and names.
template <class G>
static void free_numbers_and_group(G *g, std::initializer_list<char *> texts)
{
    for (int i = 0; i < g->port_count; i++) {
        free(g->port_settings[i].clip);
        free(g->port_settings[i].cnip);
    }
    free(g->port_settings);
    for (char *s : texts)
        free(s);
    free(g);
}

static void free_group(port_group_cas *g)
{
    free_numbers_and_group(g, {g->name, g->tones});
}

static void free_group(port_group_analog *g)
{
    free_numbers_and_group(g, {g->name, g->tones, g->fxo_call_ending_signal, g->fxo_cid_detection_mode, g->pga_config});
}

static void free_group(port_group_gsm *g)
{
    for (int i = 0; i < g->port_count; i++) {
        port_group_gsm_port_setting &s = g->port_settings[i];
        for (char *t : {s.pin, s.smsc, s.extension, s.sms_extension, s.sms_webhook, s.sms_webhook_user,
                        s.sms_webhook_secret, s.sms_webhook_type, s.sms_webhook_id, s.cbm_webhook})
            free(t);
    }
    free(g->port_settings);
    free(g->name);
    free(g->lte_init_hook);
    free(g);
}

template <class G, int CAPACITY, int MAP>
static void free_groups(G *(&groups)[CAPACITY], int32_t *count, G *(&map)[MAP])
{
    for (int i = 0; i < *count; i++) {
        free_group(groups[i]);
        groups[i] = nullptr;
    }
    *count = 0;
    for (auto &m : map)
        m = nullptr;
}

void pg_free_line_port_groups()
{
    port_groups *pg = gp ? gp->port_groups : nullptr;
    if (!pg)
        return;
    free_groups(pg->port_groups_isdn, &pg->port_groups_isdn_count, pg->isdn_port_to_port_group_map);
    free_groups(pg->port_groups_cas, &pg->port_groups_cas_count, pg->cas_port_to_port_group_map);
    free_groups(pg->port_groups_analog, &pg->port_groups_analog_count, pg->analog_port_to_port_group_map);
    free_groups(pg->port_groups_gsm, &pg->port_groups_gsm_count, pg->gsm_port_to_port_group_map);
}
