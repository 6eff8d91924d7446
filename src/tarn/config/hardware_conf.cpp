// Reading hardware.conf, numbering the ports of every technology, the
// listing and the connection check of the CAS lines.
#include "hardware_conf.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "isdn_lib.h"
#include "log.h"
#include "platform_path.h"

// ---- names ----------------------------------------------------------------------------

static const char *const line_interface_names[] = {
    "LI_UNKNOWN", "LI_1S0",  "LI_2S0",  "LI_4S0",     "LI_1E1",  "LI_2E1",   "LI_2FXO",
    "LI_4FXO",    "LI_1FXS", "LI_2FXS", "LI_4FXS",    "LI_8FXS", "LI_2S02FXS", "LI_1GSM",
    "LI_2GSM",    "LI_1E1T1", "LI_2E1T1", "LI_4E1T1", "LI_2LTE",
};
static_assert(sizeof line_interface_names / sizeof line_interface_names[0] == LI_2LTE + 1, "one name per type");

const char *print_line_interface(int type)
{
    if (type < 0 || type > LI_2LTE)
        return "LI_UNDEFINED";
    return line_interface_names[type];
}

// ---- module words ---------------------------------------------------------------------

// The slots a module word presets, one letter a slot from slot 0: E an ISDN
// E1 line (point-to-point), B an ISDN basic-rate line, A analog, G GSM.
struct module_word {
    const char *word;
    line_interface_types li_type;
    const char *slots;
    int total, isdn, analog, gsm;
};

static const module_word module_words[] = {
    {"dv2t1e1", LI_2E1T1, "", 2, 0, 0, 0}, // CAS and ISDN counted once the file is read
    {"dv1t1e1", LI_1E1T1, "", 1, 0, 0, 0},
    {"dv2E1", LI_2E1, "EE", 2, 2, 0, 0},
    {"dv1E1", LI_1E1, "E", 1, 1, 0, 0},
    {"dv1S0", LI_4S0, "B", 1, 1, 0, 0},
    {"dv2S0", LI_4S0, "BB", 2, 2, 0, 0},
    {"dv4S0", LI_4S0, "BBBB", 4, 4, 0, 0},
    {"dv2S02FXS", LI_2S02FXS, "BBAA", 4, 2, 2, 0},
    {"dv2GSM", LI_2GSM, "GG", 2, 0, 0, 2},
    {"dv2LTE", LI_2LTE, "GG", 2, 0, 0, 2},
    {"dv4FXO", LI_4FXO, "AAAA", 4, 0, 4, 0},
    {"dv1FXS", LI_4FXS, "A", 1, 0, 1, 0},
    {"dv2FXS", LI_4FXS, "AA", 2, 0, 2, 0},
    {"dv4FXS", LI_4FXS, "AAAA", 4, 0, 4, 0},
    {"dv8FXS", LI_4FXS, "AAAAAAAA", 8, 0, 8, 0},
};

static bool is_t1e1(const line_interface &li)
{
    return li.li_type == LI_1E1T1 || li.li_type == LI_2E1T1;
}

// A type= line: the module's type, counts and preset slots. Any other word
// leaves the module without type and slots.
static void preset_module(line_interface &li, const char *word)
{
    li.li_type = LI_UNKNOWN;
    li.port_count_total = li.port_count_isdn = li.port_count_analog = li.port_count_gsm = li.port_count_cas = 0;
    for (const module_word &m : module_words) {
        if (strcmp(word, m.word) != 0)
            continue;
        li.li_type = m.li_type;
        li.port_count_total = m.total;
        li.port_count_isdn = m.isdn;
        li.port_count_analog = m.analog;
        li.port_count_gsm = m.gsm;
        for (int s = 0; m.slots[s] && s < HWCONF_SLOTS; s++) {
            switch (m.slots[s]) {
            case 'E':
                li.interface_types[s] = HWCONF_INTERFACE_TYPE_HDLC;
                li.isdncas_protocol_types[s] = HWCONF_ISDN_PROTOCOL_E1;
                li.isdn_ptp_settings[s] = HWCONF_PTP;
                break;
            case 'B':
                li.interface_types[s] = HWCONF_INTERFACE_TYPE_HDLC;
                li.isdncas_protocol_types[s] = HWCONF_ISDN_PROTOCOL_BRI;
                break;
            case 'A': li.interface_types[s] = HWCONF_INTERFACE_TYPE_ANALOG; break;
            case 'G': li.interface_types[s] = HWCONF_INTERFACE_TYPE_GSM; break;
            }
        }
        return;
    }
}

// ---- keys -----------------------------------------------------------------------------

static ntte_type ntte_of(const char *v)
{
    return !strcmp(v, "nt") ? HWCONF_NTTE_TYPE_NT : !strcmp(v, "te") ? HWCONF_NTTE_TYPE_TE : HWCONF_NTTE_TYPE_NONE;
}
static void set_termination(line_interface &li, int s, const char *v) { li.isdn_ntte_types[s] = ntte_of(v); }
static void set_interface_type(line_interface &li, int s, const char *v)
{
    li.interface_types[s] = !strcmp(v, "cas") ? HWCONF_INTERFACE_TYPE_CAS : HWCONF_INTERFACE_TYPE_HDLC;
}
static void set_protocol(line_interface &li, int s, const char *v)
{
    li.isdncas_protocol_types[s] = !strcmp(v, "e1") ? HWCONF_ISDN_PROTOCOL_E1 : HWCONF_ISDN_PROTOCOL_T1;
}
static void set_ptp(line_interface &li, int s, const char *v)
{
    li.isdn_ptp_settings[s] = !strcmp(v, "0") ? HWCONF_PMP : HWCONF_PTP;
}
static void set_permanent_l1(line_interface &li, int s, const char *v)
{
    li.isdn_permanent_l1_settings[s] = strcmp(v, "0") != 0;
}
static int length_of(const char *v)
{
    return !strcmp(v, "1") ? 1 : !strcmp(v, "2") ? 2 : 3;
}
static void set_crlen(line_interface &li, int s, const char *v) { li.isdn_crlen_settings[s] = length_of(v); }
static void set_cidlen(line_interface &li, int s, const char *v) { li.isdn_cidlen_settings[s] = length_of(v); }

// The list keys: each entry of the comma-separated value goes to its slot.
struct slot_key {
    const char *key; // with its "="
    void (*set)(line_interface &li, int slot, const char *entry);
    bool t1e1_only;  // only after a type= line of a T1/E1 word in the same section
};

static const slot_key slot_keys[] = {
    {"termination=", set_termination, true},
    {"ntteSW=", set_termination, false},
    {"interface_type=", set_interface_type, false},
    {"protocol=", set_protocol, false},
    {"ptp=", set_ptp, false},
    {"permanentl1=", set_permanent_l1, false},
    {"crlen=", set_crlen, false},
    {"cidlen=", set_cidlen, false},
};

static void apply_list(line_interface &li, const slot_key &k, const char *value)
{
    char work[256];
    snprintf(work, sizeof work, "%s", value); // values are read up to 255 characters
    char *p = work;
    for (int slot = 0; slot < HWCONF_SLOTS; slot++) {
        char *comma = strchr(p, ',');
        if (comma)
            *comma = '\0';
        k.set(li, slot, p);
        if (!comma)
            break;
        p = comma + 1;
    }
}

static bool starts_with(const char *s, const char *prefix)
{
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

// ---- reading ----------------------------------------------------------------------------

enum { HWCONF_LINE_MAX = 8191 };

// One line without its CR and LF, cut to 8191 characters (the rest of a
// longer line is dropped, so it can never be read as a line of its own).
static bool read_line(FILE *f, std::string &line)
{
    line.clear();
    int c;
    bool any = false;
    while ((c = fgetc(f)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (c != '\r' && line.size() < HWCONF_LINE_MAX)
            line += (char)c;
    }
    return any;
}

static void read_file(FILE *f, hardware_config &hw)
{
    std::string line;
    line_interface *li = nullptr;
    bool t1e1_typed = false;
    while (read_line(f, line)) {
        const char *s = line.c_str();
        if (s[0] == '[') {
            li = nullptr;
            t1e1_typed = false;
            for (int m = 0; m < HWCONF_MODULES; m++) {
                char header[8];
                snprintf(header, sizeof header, "[lif%d]", m);
                if (line == header)
                    li = &hw.hwc_li[m];
            }
            continue;
        }
        if (!li)
            continue;
        if (starts_with(s, "type=")) {
            preset_module(*li, s + 5);
            t1e1_typed = is_t1e1(*li);
            continue;
        }
        for (const slot_key &k : slot_keys) {
            if (!starts_with(s, k.key))
                continue;
            if (!k.t1e1_only || t1e1_typed)
                apply_list(*li, k, s + strlen(k.key));
            break;
        }
    }
}

// T1/E1 modules: every slot a line of ISDN or CAS, counted; -1 for anything
// else (a description the board cannot run).
static int check_t1e1_modules(hardware_config &hw)
{
    for (line_interface &li : hw.hwc_li) {
        if (!is_t1e1(li))
            continue;
        int isdn = 0, cas = 0;
        for (int s = 0; s < li.port_count_total && s < HWCONF_SLOTS; s++) {
            if (li.interface_types[s] == HWCONF_INTERFACE_TYPE_HDLC) {
                isdn++;
                li.isdn_ptp_settings[s] = HWCONF_PTP;
            } else if (li.interface_types[s] == HWCONF_INTERFACE_TYPE_CAS) {
                cas++;
            } else {
                return -1;
            }
        }
        li.port_count_isdn = isdn;
        li.port_count_cas = cas;
    }
    return 0;
}

// A call-reference or call-id length not given as 1 or 2: 2 on a
// primary-rate port or one the ISDN library does not know (yet), else 1.
static int resolve_length(int given, int port)
{
    if (given == 1 || given == 2)
        return given;
    return misdn_lib_port_is_pri(port) != 0 ? 2 : 1;
}

static void number_ports(hardware_config &hw, application_object *app)
{
    int isdn = 1, analog = 1, gsm = 1;
    for (line_interface &li : hw.hwc_li) {
        for (int s = 0; s < li.port_count_total && s < HWCONF_SLOTS; s++) {
            switch (li.interface_types[s]) {
            case HWCONF_INTERFACE_TYPE_HDLC: {
                int p = isdn++;
                li.port_numbers[s] = p;
                li.isdn_cidlen_settings[s] = resolve_length(li.isdn_cidlen_settings[s], p);
                li.isdn_crlen_settings[s] = resolve_length(li.isdn_crlen_settings[s], p);
                if (p < ISDN_PORT_SETTINGS) {
                    app->isdn_ptp_settings[p] = li.isdn_ptp_settings[s] != HWCONF_PMP;
                    app->isdn_cidlen_settings[p] = li.isdn_cidlen_settings[s];
                    app->isdn_crlen_settings[p] = li.isdn_crlen_settings[s];
                }
                break;
            }
            case HWCONF_INTERFACE_TYPE_ANALOG: li.port_numbers[s] = analog++; break;
            case HWCONF_INTERFACE_TYPE_GSM: li.port_numbers[s] = gsm++; break;
            default: li.port_numbers[s] = 0; break;
            }
        }
    }
}

// The channel ports of the CAS interfaces: a T1 line takes 24 ports, an E1
// line 31 (timeslot 16 keeps its number but carries no channel). The CAS
// library holds ports up to 149; channels beyond get no mapping.
static void number_cas_channels(hardware_config &hw, FILE *out)
{
    int p = 1, d = 0;
    bool reported = false;
    memset(cas_port_mappings, 0, sizeof cas_port_mappings); // this description's channels only
    auto map = [&](int port, int chan, int protocol, const char *label) {
        if (port > CAS_PORT_MAX) {
            if (!reported)
                LOGD(TARN, 0, nullptr, "CRITICAL: CAS channel ports above %i get no mapping", CAS_PORT_MAX);
            reported = true;
            return;
        }
        cas_port_mappings[port] = {d + 1, d, chan, 0, 0};
        cas_set_protocol(port, protocol);
        fprintf(out, "%s port %i: cas%i/%i\n", label, port, d, chan);
    };
    for (int m = 0; m < HWCONF_MODULES; m++) {
        line_interface &li = hw.hwc_li[m];
        if (!is_t1e1(li))
            continue;
        int rank = 0;
        for (int j = 0; j < li.port_count_cas && j < HWCONF_SLOTS; j++) {
            if (li.interface_types[j] != HWCONF_INTERFACE_TYPE_CAS)
                continue;
            li.cas_port_numbers[j] = d + 1;
            // "module:rank", both single digits (3 modules of 8 slots)
            char *path = li.cas_sys_connected_path[j];
            path[0] = (char)('0' + m);
            path[1] = ':';
            path[2] = (char)('0' + rank++);
            path[3] = '\0';
            if (li.isdncas_protocol_types[j] == HWCONF_ISDN_PROTOCOL_T1) {
                for (int chan = 1; chan <= 24; chan++)
                    map(p++, chan, HWCONF_ISDN_PROTOCOL_T1, "T1MAPPING");
            } else {
                int chan = 1;
                for (int ts = 1; ts <= 31; ts++, p++)
                    if (ts != 16)
                        map(p, chan++, HWCONF_ISDN_PROTOCOL_E1, "E1MAPPING");
            }
            d++;
        }
    }
}

static void number_gsm_modules(hardware_config &hw)
{
    int n = 1;
    for (line_interface &li : hw.hwc_li) {
        li.gsm_ports[0] = li.gsm_ports[1] = 0;
        if (li.li_type == LI_2GSM || li.li_type == LI_2LTE) {
            li.gsm_ports[0] = n++;
            li.gsm_ports[1] = n++;
        } else if (li.li_type == LI_1GSM) {
            li.gsm_ports[0] = n++;
        }
    }
}

int hwconf_parse(FILE *f, FILE *out)
{
    hardware_config &hw = gp->hwconf;
    memset(&hw, 0, sizeof hw);
    read_file(f, hw);
    if (check_t1e1_modules(hw) != 0)
        return -1;
    number_ports(hw, gp);
    list_hardware_conf(out);
    number_cas_channels(hw, out);
    number_gsm_modules(hw);
    return 0;
}

int parse_hardware_conf()
{
    memset(&gp->hwconf, 0, sizeof gp->hwconf);
    std::string path = platform_path("/usr/conf/hardware.conf");
    FILE *f = fopen(path.c_str(), "re");
    if (!f) {
        LOGD(TARN, 0, nullptr, "CRITICAL: cannot read hardware.conf");
        return -1;
    }
    int rc = hwconf_parse(f, stdout);
    fclose(f);
    fflush(stdout);
    if (rc != 0)
        TARN_EXIT(85, "hardware.conf not configured correctly!");
    return 0;
}

// ---- listing --------------------------------------------------------------------------

static const char *slot_type_column(int t)
{
    switch (t) {
    case HWCONF_INTERFACE_TYPE_HDLC: return "ISDN\t";
    case HWCONF_INTERFACE_TYPE_CAS: return "CAS\t";
    case HWCONF_INTERFACE_TYPE_ANALOG: return "ANALOG\t";
    case HWCONF_INTERFACE_TYPE_GSM: return "GSM\t";
    default: return "NONE\t";
    }
}

static const char *protocol_column(int p)
{
    switch (p) {
    case HWCONF_ISDN_PROTOCOL_E1: return "E1\t";
    case HWCONF_ISDN_PROTOCOL_T1: return "T1\t";
    case HWCONF_ISDN_PROTOCOL_BRI: return "BRI\t";
    default: return "NONE\t";
    }
}

int list_hardware_conf(FILE *fp)
{
    const hardware_config &hw = gp->hwconf;
    for (int m = 0; m < HWCONF_MODULES; m++) {
        const line_interface &li = hw.hwc_li[m];
        if (li.port_count_total <= 0)
            continue;
        fprintf(fp, "LINE INTERFACE %i: %s (=%i) (port count %i %i %i %i %i)\n", m, print_line_interface(li.li_type),
                li.li_type, li.port_count_total, li.port_count_isdn, li.port_count_analog, li.port_count_gsm,
                li.port_count_cas);
        for (int s = 0; s < li.port_count_total && s < HWCONF_SLOTS; s++) {
            int proto = li.isdncas_protocol_types[s];
            bool line = proto == HWCONF_ISDN_PROTOCOL_E1 || proto == HWCONF_ISDN_PROTOCOL_T1 ||
                        proto == HWCONF_ISDN_PROTOCOL_BRI;
            fputs(slot_type_column(li.interface_types[s]), fp);
            fprintf(fp, "%i\t", li.port_numbers[s]);
            int nt = li.isdn_ntte_types[s];
            fputs(nt == HWCONF_NTTE_TYPE_NT ? "NT\t" : nt == HWCONF_NTTE_TYPE_TE ? "TE\t" : "NONE\t", fp);
            int ptp = li.isdn_ptp_settings[s];
            fputs(ptp == HWCONF_PTP ? "PTP\t" : ptp == HWCONF_PMP ? "PMP\t" : "NONE\t", fp);
            fputs(protocol_column(proto), fp);
            fprintf(fp, "PERM_L1:%i\t", li.isdn_permanent_l1_settings[s]);
            if (line)
                fprintf(fp, "CRLEN:%i\tCIDLEN:%i\t", li.isdn_crlen_settings[s], li.isdn_cidlen_settings[s]);
            else
                fputs("CRLEN:NA\tCIDLEN:NA\t", fp);
            fputs("\n", fp);
        }
        fputs("\n", fp);
    }
    return 0;
}

// ---- CAS connection check -----------------------------------------------------------------

int hw_cas_port_connected(const char *name)
{
    char rel[64];
    snprintf(rel, sizeof rel, "/sys/class/dvxt1e1/%s/connected", name);
    FILE *f = fopen(platform_path(rel).c_str(), "re");
    if (!f)
        return 0;
    char buf[8] = {0};
    size_t n = fread(buf, 1, sizeof buf, f);
    fclose(f);
    return n > 0 && buf[0] == '1';
}

int cas_update_port_status()
{
    hardware_config &hw = gp->hwconf;
    int connected[HWCONF_CAS_INTERFACES] = {0}; // by interface number; higher numbers stay outside
    for (int m = HWCONF_MODULES - 1; m >= 0; m--) {
        line_interface &li = hw.hwc_li[m];
        if (li.li_type != LI_2E1T1)
            continue;
        for (int j = 0; j < li.port_count_cas && j < HWCONF_SLOTS; j++) {
            int number = li.cas_port_numbers[j];
            printf("CAS PORTNU %i\n", number);
            if (!li.cas_port_configured[j]) {
                printf("CAS NOT CONFIGURED %i\n", number);
                continue;
            }
            printf("CAS CONFIGURED %i\n", number);
            int state = hw_cas_port_connected(li.cas_sys_connected_path[j]);
            printf("CAS CONNECTED PORT %i %i\n", number, state);
            if (number >= 0 && number < HWCONF_CAS_INTERFACES)
                connected[number] = state;
        }
    }
    for (int p = CAS_PORT_MIN; p <= CAS_PORT_MAX; p++) {
        cas_port_mapping &m = cas_port_mappings[p];
        m.connected = m.port >= 0 && m.port < HWCONF_CAS_INTERFACES ? connected[m.port] : 0;
        printf("CAS NOW pp %i p %i conf %i conn %i\n", m.port, p, m.configured, m.connected);
    }
    fflush(stdout);
    return 0;
}

// ---- look-ups by ISDN port ------------------------------------------------------------------

// The first ISDN slot of any module with this port number, or null.
static const line_interface *isdn_slot(int port, int *slot)
{
    for (const line_interface &li : gp->hwconf.hwc_li)
        for (int s = 0; s < li.port_count_total && s < HWCONF_SLOTS; s++)
            if (li.interface_types[s] == HWCONF_INTERFACE_TYPE_HDLC && li.port_numbers[s] == port) {
                *slot = s;
                return &li;
            }
    return nullptr;
}

int hw_get_permanent_l1(int port)
{
    int s;
    const line_interface *li = isdn_slot(port, &s);
    return li ? li->isdn_permanent_l1_settings[s] : 0;
}

int hw_is_port_t1(int port)
{
    int s;
    const line_interface *li = isdn_slot(port, &s);
    return li && li->isdncas_protocol_types[s] == HWCONF_ISDN_PROTOCOL_T1;
}

bool hw_has_line_interface(line_interface_types type)
{
    for (const line_interface &li : gp->hwconf.hwc_li)
        if (li.li_type == type)
            return true;
    return false;
}
