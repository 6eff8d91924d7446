// Analog and CAS bring-up: the port configurations handed to the line
// libraries, the analog port facts and tone codes, the CAS connection check.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analog_callctl.h"
#include "application.h"
#include "cas_callctl.h"
#include "confman.h"
#include "hardware_conf.h"
#include "line_bringup.h"
#include "log.h"
#include "pg_port_groups.h"
#include "schema.h"
#include "tones.h"

enum { PORT_SECTION = 1 };

// ---- hooks ----------------------------------------------------------

int (*set_host_programmable_language_code_hook)(char *lang, int index) = set_host_programmable_language_code;

// ---- analog ----------------------------------------------------------------------------------

static const struct {
    const char *code;
    int slot;
} fixed_lang_slots[] = {
    {"de", 13}, {"us", 12}, {"kr", 11}, {"jp", 10}, {"tw", 9}, {"cn", 8},
};

int analog_lang_slot(const char *code)
{
    for (const auto &f : fixed_lang_slots)
        if (strcmp(code, f.code) == 0)
            return f.slot;
    return 0;
}

std::vector<int> configured_port_numbers(cm *c)
{
    std::vector<int> ports;
    int key = -1, next;
    for (int guard = 0; c && guard < 100000 && cm_get_next_id(c, PORT_SECTION, key, &next) == 1; guard++) {
        ports.push_back(next);
        key = next;
    }
    return ports;
}

// The tone codes of the ports in order of first use, without brackets.
static std::vector<std::string> analog_tone_codes(cm *c)
{
    std::vector<std::string> codes;
    for (int p = ANALOG_PORT_MIN; p <= ANALOG_PORT_MAX; p++) {
        char buf[256];
        if (!c || cm_get(c, buf, sizeof buf, PORT_SECTION, CFG_ANALOG_PORT_TONES, p) != 0)
            continue;
        std::string code;
        for (const char *s = buf; *s; s++)
            if (*s != '[' && *s != ']')
                code += *s;
        bool known = false;
        for (const std::string &k : codes)
            known |= k == code;
        if (!known && codes.size() < 16)
            codes.push_back(code);
    }
    return codes;
}

int init_analog()
{
    cm *c = gp->config_analog;

    // 1.
    analog_port_configuration cfg[ANALOG_PORT_TABLE] = {};
    for (int p : configured_port_numbers(c)) {
        if (p >= ANALOG_PORT_MIN && p <= ANALOG_PORT_MAX)
            cfg[p].configured = 1;
        else
            fprintf(stderr, "ignoring analog bogus port %i\n", p);
    }

    // 2.-3.
    pg_init_analog_port_group_struct();
    analog_proc_info states[ANALOG_PORT_TABLE] = {};
    read_analog_state(states);

    // 4. the driver's entries name ports 1..32
    if (!gp->analog_info)
        gp->analog_info = (analog_port_info *)calloc(1, sizeof(analog_port_info));
    analog_port_info *ai = gp->analog_info;
    memset(ai, 0, sizeof *ai);
    for (const analog_proc_info &s : states) {
        int n = ++ai->size;
        ai->type[n] = s.type;
        ai->in_use[n] = 0;
        if (s.type == ANALOG_TYPE_FXO && n <= ANALOG_PORT_MAX && cfg[n].configured) {
            char v[64];
            if (cm_get(c, v, sizeof v, PORT_SECTION, CFG_ANALOG_PORT_FXO_PORTUP_VOLTAGE, n) == 0)
                ai->fxo_portup_voltage[n] = atoi(v);
        }
    }

    // 5.
    for (int p = ANALOG_PORT_MIN; p <= ANALOG_PORT_MAX; p++) {
        cfg[p].type = ai->type[p];
        if (port_group_analog *g = pg_get_port_group_analog_by_port(p))
            cfg[p].wink_duration = g->fxs_wink_duration;
    }

    // 6.-7.
    memset(gp->analog_lang_mapping, 0, sizeof gp->analog_lang_mapping);
    for (const std::string &code : analog_tone_codes(c)) {
        int slot = analog_lang_slot(code.c_str());
        char *entry = gp->analog_lang_mapping[slot];
        snprintf(entry, sizeof gp->analog_lang_mapping[0], "%s", code.c_str());
        if (slot == 0)
            set_host_programmable_language_code_hook(entry, 0);
    }

    // 8.
    return analog_init(analog_cb_events, cfg, 0);
}

// ---- CAS --------------------------------------------------------------------------------------

// Marks the CAS interface that carries the channel as used by a group.
static void mark_interface_configured(int iface)
{
    if (iface <= 0) // a channel without mapping (an E1 timeslot 16, or beyond the lines)
        return;
    for (line_interface &li : gp->hwconf.hwc_li) {
        if (li.li_type != LI_1E1T1 && li.li_type != LI_2E1T1)
            continue;
        for (int j = 0; j < HWCONF_SLOTS; j++)
            if (li.cas_port_numbers[j] == iface)
                li.cas_port_configured[j] = 1;
    }
}

int init_cas()
{
    // 1.
    pg_init_cas_port_group_struct();
    port_groups *pg = pg_port_groups();
    if (pg->port_groups_cas_count == 0)
        return 0;

    // 2.
    static cas_port_configuration cfg[CAS_PORT_TABLE];
    memset(cfg, 0, sizeof cfg);
    for (int i = 0; i < pg->port_groups_cas_count; i++) {
        const port_group_cas *g = pg->port_groups_cas[i];
        for (int k = 0; k < g->port_count; k++) {
            int port = g->port_settings[k].port;
            if (port < CAS_PORT_MIN || port > CAS_PORT_MAX)
                continue;
            cas_port_mappings[port].configured = 1;
            mark_interface_configured(cas_port_mappings[port].port);
            cfg[port] = {1, g->t1signalling, g->e1signalling};
        }
    }

    // 3.
    cas_update_port_status();
    list_hardware_conf(stdout);
    fflush(stdout);

    // 4.
    return cas_init(cas_cb_events, cfg, 0);
}

int init_t1()
{
    return 0;
}
