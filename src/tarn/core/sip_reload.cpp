#include "sip_reload.h"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_statistics.h"
#include "confman.h"
#include "dialplan.h"
#include "global_lock.h"
#include "log.h"
#include "log_backend.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "reg_object.h"
#include "registrations.h"
#include "schema.h"
#include "sip_peer_chains.h"

namespace {

// Set before pgs_lock is taken: a second request never waits behind the
// first one to reload again.
std::atomic<bool> reload_running{false};

struct reload_guard {
    ~reload_guard() { reload_running = false; }
};

// Registration objects, not validation-only, whose machine says
// unregistered.
int count_unregistered()
{
    int n = 0;
    for (int i = 0; gp->registrations && i < REGISTRATIONARRAYSIZE; i++) {
        reg_object *ro = gp->registrations[i];
        if (ro && !ro->only_validate && ro->sm_state == SM_SIP_REGISTRATION_UNREGISTERED)
            n++;
    }
    return n;
}

} // namespace

bool sip_reload_running()
{
    return reload_running.load();
}

int reload_sip_peers(int iptables_has_been_flushed)
{
    if (reload_running.exchange(true)) {
        LOGD(TARN, 2, nullptr, "Reregister already in progress!");
        return 0;
    }
    reload_guard running;
    pthread_mutex_t *pgs_lock = gp->locks->pgs_lock;
    pthread_mutex_t *global_lock = gp->locks->global_lock;

    // 1.-4.
    pthread_mutex_lock(pgs_lock);
    pthread_mutex_lock(global_lock);
    _tarn_snmp_msg("SNMP:SIP_RELOAD:started\n");
    if (iptables_has_been_flushed)
        pg_remove_all_iptables_rules();
    if (gp->reregister_in_progress) {
        LOGD(TARN, 2, nullptr, "Reregister already in progress!");
        pthread_mutex_unlock(global_lock);
        pthread_mutex_unlock(pgs_lock);
        return 0;
    }

    // 5.-6. the registrations end while global_lock is free
    gp->reregister_in_progress = 1;
    unregister_users();
    pthread_mutex_unlock(global_lock);
    for (int pass = 0; pass < 50; pass++) {
        pthread_mutex_lock(global_lock);
        int ended = count_unregistered();
        pthread_mutex_unlock(global_lock);
        if (ended == REGISTRATIONARRAYSIZE)
            break;
        usleep(10 * 1000);
    }

    // 7.-8.
    pthread_mutex_lock(global_lock);
    reg_clear_outbound_registration_array();
    cm_destroy(gp->config_sip);
    gp->config_sip = configman_create("SIP");
    _tarn_snmp_msg("SNMP:SIP_RELOAD:cleared\n");
    if (!gp->config_sip)
        TARN_EXIT(99, "Failed creating sip config!");
    if (cm_load(&gp->config_sip, gp->path_config_sip) != 0)
        TARN_EXIT(99, "Failed reading sip config, check your file!");

    // 9.-10.
    pg_free_sip_port_group_struct();
    if (pg_init_sip_port_group_struct() != 0)
        TARN_EXIT(99, "Reloading: failed getting config settings in init_sip_port_group_struct, check your settings!");
    collect_stun_servers();

    // 11.-14.
    reg_init_outbound_registration_array();
    register_users();
    snmp_notify_sip_peers(nullptr, 0);
    dialplan_load(gp->dialplan_path);
    pg_update_all_iptables_rules();

    // 15.
    gp->reregister_in_progress = 0;
    pthread_mutex_unlock(global_lock);
    pthread_mutex_unlock(pgs_lock);
    return 0;
}

void *run_reload_sip_peers_thread(void *arg)
{
    reload_sip_peers((int)(intptr_t)arg);
    return nullptr;
}

int collect_stun_servers()
{
    port_groups *pg = gp ? gp->port_groups : nullptr;
    std::vector<char *> names;
    for (int i = 0; pg && i < pg->port_groups_sip_count; i++) {
        const port_group_sip *pgs = &pg->port_groups_sip[i];
        for (int s = 0; s < pgs->pgs_stunserver_count; s++)
            if (pgs->pgs_stunserver[s])
                names.push_back(pgs->pgs_stunserver[s]);
    }
    if (!names.empty())
        qsort(names.data(), names.size(), sizeof(char *), comp_char_pointers);
    std::vector<std::string> unique;
    for (const char *n : names)
        if (unique.empty() || unique.back() != n)
            unique.push_back(n);

    pthread_mutex_t *stun_lock = gp->locks ? gp->locks->stun_lock : nullptr;
    if (stun_lock)
        pthread_mutex_lock(stun_lock);
    bool same = gp->stunserver_count == (int)unique.size() && (unique.empty() || gp->stunservers);
    for (size_t i = 0; same && i < unique.size(); i++)
        same = unique[i] == gp->stunservers[i].stunserver;
    if (!same) {
        // The STUN thread reads the array only under stun_lock, so it is
        // swapped there.
        stunserver_entry *fresh =
            unique.empty() ? nullptr : (stunserver_entry *)calloc(unique.size(), sizeof(stunserver_entry));
        for (size_t i = 0; fresh && i < unique.size(); i++)
            snprintf(fresh[i].stunserver, sizeof fresh[i].stunserver, "%s", unique[i].c_str());
        free(gp->stunservers);
        gp->stunservers = fresh;
        gp->stunserver_count = fresh ? (int)unique.size() : 0;
        gp->stunserver_reload = 1;
    }
    if (stun_lock)
        pthread_mutex_unlock(stun_lock);
    if (!same)
        usleep(200 * 1000);
    return 0;
}
