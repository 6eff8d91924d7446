// Look-ups of the line port groups by name and by port number.
#include <cstring>

#include "application.h"
#include "pg_port_groups.h"

static port_groups *groups()
{
    return gp ? gp->port_groups : nullptr;
}

template <class G>
static G *by_name(G *const *list, int count, const char *name)
{
    for (int i = 0; name && i < count; i++)
        if (strcmp(list[i]->name, name) == 0)
            return list[i];
    return nullptr;
}

// The first group whose settings hold the port, and the index of the setting.
template <class G>
static G *by_port(G *const *list, int count, int port, int *index = nullptr)
{
    for (int i = 0; i < count; i++)
        for (int k = 0; k < list[i]->port_count; k++)
            if (list[i]->port_settings[k].port == port) {
                if (index)
                    *index = k;
                return list[i];
            }
    return nullptr;
}

template <class G, int N>
static G *mapped(G *const (&map)[N], int port)
{
    return port >= 0 && port < N ? map[port] : nullptr;
}

port_group_isdn *pg_get_port_group_isdn_by_port(int port)
{
    port_groups *pg = groups();
    for (int i = 0; pg && i < pg->port_groups_isdn_count; i++)
        for (int k = 0; k < pg->port_groups_isdn[i]->port_count; k++)
            if (pg->port_groups_isdn[i]->ports[k] == port)
                return pg->port_groups_isdn[i];
    return nullptr;
}

port_group_gsm *pg_get_port_group_gsm_by_name(const char *name)
{
    port_groups *pg = groups();
    return pg ? by_name(pg->port_groups_gsm, pg->port_groups_gsm_count, name) : nullptr;
}

port_group_analog *pg_get_port_group_analog_by_name(const char *name)
{
    port_groups *pg = groups();
    return pg ? by_name(pg->port_groups_analog, pg->port_groups_analog_count, name) : nullptr;
}

port_group_cas *pg_get_port_group_cas_by_name(const char *name)
{
    port_groups *pg = groups();
    return pg ? by_name(pg->port_groups_cas, pg->port_groups_cas_count, name) : nullptr;
}

port_group_gsm *pg_get_port_group_gsm_by_port(int port)
{
    port_groups *pg = groups();
    return pg ? by_port(pg->port_groups_gsm, pg->port_groups_gsm_count, port) : nullptr;
}

port_group_analog *pg_get_port_group_analog_by_port(int port)
{
    port_groups *pg = groups();
    return pg ? by_port(pg->port_groups_analog, pg->port_groups_analog_count, port) : nullptr;
}

port_group_cas *pg_get_port_group_cas_by_port(int port)
{
    port_groups *pg = groups();
    return pg ? by_port(pg->port_groups_cas, pg->port_groups_cas_count, port) : nullptr;
}

port_group_gsm_port_setting *pg_get_port_group_gsm_port_settings_by_port(int port)
{
    port_groups *pg = groups();
    int k = 0;
    port_group_gsm *g = pg ? by_port(pg->port_groups_gsm, pg->port_groups_gsm_count, port, &k) : nullptr;
    return g ? &g->port_settings[k] : nullptr;
}

port_group_analog_port_setting *pg_get_port_group_analog_port_setting_by_port(int port)
{
    port_groups *pg = groups();
    int k = 0;
    port_group_analog *g = pg ? by_port(pg->port_groups_analog, pg->port_groups_analog_count, port, &k) : nullptr;
    return g ? &g->port_settings[k] : nullptr;
}

port_group_cas_port_setting *pg_get_port_group_cas_port_setting_by_port(int port)
{
    port_groups *pg = groups();
    int k = 0;
    port_group_cas *g = pg ? by_port(pg->port_groups_cas, pg->port_groups_cas_count, port, &k) : nullptr;
    return g ? &g->port_settings[k] : nullptr;
}

template <class G>
static int index_in_group(const G *group, int port)
{
    for (int k = 0; group && k < group->port_count; k++)
        if (group->port_settings[k].port == port)
            return k;
    return -1;
}

int pg_analog_get_index_of_port_in_group(const port_group_analog *group, int port)
{
    return index_in_group(group, port);
}

int pg_cas_get_index_of_port_in_group(const port_group_cas *group, int port)
{
    return index_in_group(group, port);
}

int pg_analog_get_port_by_clip(const char *number)
{
    port_groups *pg = groups();
    for (int i = 0; pg && number && i < pg->port_groups_analog_count; i++)
        for (int k = 0; k < pg->port_groups_analog[i]->port_count; k++) {
            const port_group_analog_port_setting &s = pg->port_groups_analog[i]->port_settings[k];
            if (s.clip && strcmp(s.clip, number) == 0)
                return s.port;
        }
    return 0;
}

const char *pg_analog_get_clip_by_port(int port)
{
    port_group_analog_port_setting *s = pg_get_port_group_analog_port_setting_by_port(port);
    return s && s->clip ? s->clip : "";
}

const char *pg_analog_get_cnip_by_port(int port)
{
    port_group_analog_port_setting *s = pg_get_port_group_analog_port_setting_by_port(port);
    return s && s->cnip ? s->cnip : "";
}

const char *pg_cas_get_clip_by_port(int port)
{
    port_group_cas_port_setting *s = pg_get_port_group_cas_port_setting_by_port(port);
    return s && s->clip ? s->clip : "";
}

const char *pg_cas_get_cnip_by_port(int port)
{
    port_group_cas_port_setting *s = pg_get_port_group_cas_port_setting_by_port(port);
    return s && s->cnip ? s->cnip : "";
}

int pg_analog_get_fxs_wink_offset_by_port(int port)
{
    port_group_analog *g = pg_get_port_group_analog_by_port(port);
    return g ? g->fxs_wink_offset : 0;
}

int pg_analog_get_fxs_wink_duration_by_port(int port)
{
    port_group_analog *g = pg_get_port_group_analog_by_port(port);
    return g ? g->fxs_wink_duration : 0;
}

int pg_analog_get_complete_dialing_on_pound_or_star(int port)
{
    port_groups *pg = groups();
    port_group_analog *g = pg ? mapped(pg->analog_port_to_port_group_map, port) : nullptr;
    return g ? g->complete_dialing_on_pound_or_star : -1;
}

int pg_cas_get_complete_dialing_on_pound_or_star(int port)
{
    port_groups *pg = groups();
    port_group_cas *g = pg ? mapped(pg->cas_port_to_port_group_map, port) : nullptr;
    return g ? g->complete_dialing_on_pound_or_star : -1;
}

// The port's setting within its mapped GSM group.
static port_group_gsm_port_setting *mapped_gsm_setting(int port)
{
    port_groups *pg = groups();
    port_group_gsm *g = pg ? mapped(pg->gsm_port_to_port_group_map, port) : nullptr;
    for (int k = 0; g && k < g->port_count; k++)
        if (g->port_settings[k].port == port)
            return &g->port_settings[k];
    return nullptr;
}

const char *pg_gsm_get_call_extension(int port)
{
    port_group_gsm_port_setting *s = mapped_gsm_setting(port);
    return s && s->extension ? s->extension : "";
}

const char *pg_gsm_get_sms_extension(int port)
{
    port_group_gsm_port_setting *s = mapped_gsm_setting(port);
    return s && s->sms_extension ? s->sms_extension : "";
}
