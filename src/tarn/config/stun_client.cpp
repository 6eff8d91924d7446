#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct stun_context;
#define STUN_DISCOVERY_MAGIC_T struct stun_context
#define SU_ROOT_MAGIC_T struct stun_context

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sofia-sip/stun.h>
#include <sofia-sip/stun_tag.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_wait.h>

#include "application.h"
#include "dns_cache.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "housekeeping.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "reg_object.h"
#include "registrations.h"
#include "stun_client.h"

// What a discovery hands to its callback.
struct stun_context {
    su_root_t *root;
    su_socket_t socket;
    int sc_flags; // 2: discovery running
    int server_index;
};

enum { STUN_SC_DISCOVERING = 2 };

void stunc_bind_cb(stun_context *ctx, stun_handle_t *sh, stun_discovery_t *sd, stun_action_t action,
                   stun_state_t state);

namespace {

// The address the last discovery delivered (owned; STUN thread only).
char *stun_last_retrieved_ip;
std::atomic<bool> stop_requested{false};
std::atomic<bool> started{false};

bool stopping()
{
    return stop_requested.load();
}

pthread_mutex_t *stun_lock()
{
    return gp && gp->locks ? gp->locks->stun_lock : nullptr;
}

struct stun_hold {
    pthread_mutex_t *m;
    stun_hold() : m(stun_lock()) { if (m) pthread_mutex_lock(m); }
    ~stun_hold() { if (m) pthread_mutex_unlock(m); }
};

// The server's name by index while the list still has it.
bool server_name(int index, std::string *name)
{
    stun_hold h;
    if (!gp || index < 0 || index >= gp->stunserver_count || !gp->stunservers)
        return false;
    *name = gp->stunservers[index].stunserver;
    return true;
}

bool reload_requested()
{
    stun_hold h;
    return gp && gp->stunserver_reload;
}

// Stores the address as the external address of the server of that name:
// 1 when it is new or changed, 0 when the same or the server is gone.
int store_external_ip(int index, const std::string &name, const char *ip)
{
    stun_hold h;
    stunserver_entry *e = nullptr;
    if (index >= 0 && index < gp->stunserver_count && name == gp->stunservers[index].stunserver)
        e = &gp->stunservers[index];
    for (int i = 0; !e && i < gp->stunserver_count; i++)
        if (name == gp->stunservers[i].stunserver)
            e = &gp->stunservers[i];
    if (!e || strcmp(e->externip, ip) == 0)
        return 0;
    snprintf(e->externip, sizeof e->externip, "%s", ip);
    return 1;
}

// A new address of a server: the registrations whose first STUN server it
// is register again; the groups that do not register get a new Contact.
void address_changed(const std::string &name)
{
    lock_hold pgs(&lock_manager::pgs_lock);
    lock_hold global(&lock_manager::global_lock);
    for (int i = 0; gp->registrations && i < REGISTRATIONARRAYSIZE; i++) {
        reg_object *ro = gp->registrations[i];
        const port_group_sip *pgs = ro ? ro->pgs : nullptr;
        if (pgs && pgs->pgs_stunserver_count > 0 && pgs->pgs_stunserver[0] && name == pgs->pgs_stunserver[0])
            hk_hooks().add_sm_task((call_object *)ro, SM_REG_TASK_REGISTRATION_REFRESH);
    }
    port_groups *pg = gp->port_groups;
    for (int i = 0; pg && i < pg->port_groups_sip_count; i++)
        if (!pg->port_groups_sip[i].pgs_do_register)
            pg_sip_update_contact_string(&pg->port_groups_sip[i]);
}

void ask_server(su_root_t *root, stun_context *ctx, int j)
{
    std::string name;
    if (!server_name(j, &name))
        return;
    if (gp->experimental_options && gp->experimental_options->eo_stun_extra_check) {
        char pattern[128] = "";
        resolve_address_to_regexp_nocache(name.c_str(), pattern, sizeof pattern);
        if (!pattern[0])
            LOGD(SIP, 5, nullptr, "couldn't resolve stun_server |%s|", name.c_str());
    }
    stun_handle_t *sh = stun_handle_init(root, STUNTAG_SERVER(name.c_str()), STUNTAG_REQUIRE_INTEGRITY(0), TAG_END());
    if (!sh) {
        LOGD(SIP, 0, nullptr, "%s: %s failed => idx %i : |%s|", "stun_client_loop", "stun_handle_init()", j,
             name.c_str());
        return;
    }
    su_socket_t s = su_socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        stun_handle_destroy(sh);
        LOGD(SIP, 0, nullptr, "%s: %s  failed: %s", "stun_client_loop", "su_socket()", su_strerror(su_errno()));
        return;
    }
    // A server that stays silent must not hand on another's address.
    free(stun_last_retrieved_ip);
    stun_last_retrieved_ip = nullptr;
    ctx->socket = s;
    ctx->sc_flags = STUN_SC_DISCOVERING;
    ctx->server_index = j;
    if (stun_bind(sh, stunc_bind_cb, ctx, STUNTAG_SOCKET(s), STUNTAG_REGISTER_EVENTS(1), TAG_END()) >= 0) {
        // The callback ends the discovery; the steps stay short so that a
        // stop is seen.
        while ((ctx->sc_flags & STUN_SC_DISCOVERING) && !stopping())
            su_root_step(root, 100);
    } else {
        ctx->sc_flags = 0;
    }
    if (stun_last_retrieved_ip) {
        std::string ip = stun_last_retrieved_ip;
        free(stun_last_retrieved_ip);
        stun_last_retrieved_ip = nullptr;
        if (store_external_ip(j, name, ip.c_str()))
            address_changed(name);
    }
    stun_handle_destroy(sh); // before the socket it watches is closed
    su_close(s);
}

} // namespace

void stunc_bind_cb(stun_context *ctx, stun_handle_t *, stun_discovery_t *sd, stun_action_t, stun_state_t state)
{
    LOGD(SIP, 7, nullptr, "%s: %s", "stunc_bind_cb", stun_str_state(state));
    ctx->sc_flags &= ~STUN_SC_DISCOVERING;
    if (!ctx->sc_flags && ctx->root)
        su_root_break(ctx->root);
    if (state != stun_discovery_done)
        return;
    su_sockaddr_t addr;
    memset(&addr, 0, sizeof addr);
    socklen_t len = sizeof addr;
    if (stun_discovery_get_address(sd, &addr, &len) < 0) {
        LOGD(SIP, 0, nullptr, "CRITICAL: %s: stun_discovery_get_address() failed", "stunc_bind_cb");
        return;
    }
    // An answer without a mapped address (an error response) comes as the
    // unspecified address: that is no address.
    char text[48] = "";
    if (addr.su_family == AF_INET && addr.su_sin.sin_addr.s_addr != htonl(INADDR_ANY))
        inet_ntop(AF_INET, &addr.su_sin.sin_addr, text, sizeof text);
    else if (addr.su_family == AF_INET6 && !IN6_IS_ADDR_UNSPECIFIED(&addr.su_sin6.sin6_addr))
        inet_ntop(AF_INET6, &addr.su_sin6.sin6_addr, text, sizeof text);
    if (text[0]) {
        free(stun_last_retrieved_ip);
        stun_last_retrieved_ip = strdup(text);
    }
}

namespace {

// Step 2: every server in turn, until the list's end or a reload request.
void run_pass(su_root_t *root, stun_context *ctx)
{
    for (int j = 0; !stopping(); j++) {
        int count;
        {
            stun_hold h;
            count = gp ? gp->stunserver_count : 0;
        }
        if (j >= count)
            break;
        ask_server(root, ctx, j);
        if (reload_requested())
            break;
    }
}

} // namespace

void stun_client_pass()
{
    stun_context ctx{};
    ctx.root = su_root_create(&ctx);
    if (!ctx.root)
        return;
    run_pass(ctx.root, &ctx);
    su_root_destroy(ctx.root);
}

void *stun_client_loop(void *)
{
    prctl(PR_SET_NAME, "tarn.stun", 0, 0, 0);
    su_init();
    stun_context ctx{};
    ctx.root = su_root_create(&ctx);
    if (!ctx.root)
        LOGD(SIP, 0, nullptr, "CRITICAL: %s: su_root_create() failed", "stun_client_loop");
    while (!stopping()) {
        if (ctx.root)
            run_pass(ctx.root, &ctx);
        // 60 s, or less when the list changes.
        for (int step = 0; step < 600 && !stopping(); step++) {
            {
                stun_hold h;
                if (gp->stunserver_reload) {
                    gp->stunserver_reload = 0;
                    break;
                }
            }
            usleep(100 * 1000);
        }
    }
    if (ctx.root)
        su_root_destroy(ctx.root);
    free(stun_last_retrieved_ip);
    stun_last_retrieved_ip = nullptr;
    su_deinit();
    return nullptr;
}

int stun_client_start()
{
    if (!gp || started.load())
        return 0;
    stop_requested = false;
    if (pthread_create(&gp->stun_thread, nullptr, stun_client_loop, nullptr) != 0) {
        LOGD(TARN, 0, nullptr, "CRITICAL: couldn't start the STUN thread");
        return -1;
    }
    started = true;
    return 0;
}

void stun_client_stop()
{
    if (!started.exchange(false))
        return;
    stop_requested = true;
    if (pthread_equal(gp->stun_thread, pthread_self()))
        pthread_detach(gp->stun_thread);
    else
        tarn_join_thread(gp->stun_thread, "STUN client");
}

int stun_learned_address(const char *stunserver, char *buf, size_t size)
{
    if (size)
        buf[0] = 0;
    stun_hold h;
    for (int i = 0; gp && stunserver && i < gp->stunserver_count; i++)
        if (strcmp(gp->stunservers[i].stunserver, stunserver) == 0 && gp->stunservers[i].externip[0]) {
            snprintf(buf, size, "%s", gp->stunservers[i].externip);
            return 1;
        }
    return 0;
}
