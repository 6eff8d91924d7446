#include "mc_gsm_ports.h"

#include "gsm_port.h"
#include "pg_port_groups.h"

void mc_gsm_list_port_state(FILE *out)
{
    if (!out)
        return;
    const port_groups *pg = pg_port_groups();
    for (int g = 0; pg && g < pg->port_groups_gsm_count; g++) {
        const port_group_gsm *group = pg->port_groups_gsm[g];
        if (!group)
            continue;
        fprintf(out, "Port Group: %s\n", group->name ? group->name : "");
        for (int i = 0; i < group->port_count && group->port_settings; i++) {
            int port = group->port_settings[i].port;
            fprintf(out, "State Port %i => %s\n", port, libsm_get_port_state_string(port));
        }
    }
}
