#include "nua_stack.h"

#include <sofia-sip/nta_tag.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_alloc_stat.h>
#include <sofia-sip/tport_tag.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "application.h"
#include "confman.h"
#include "experimental_options.h"
#include "log.h"
#include "log_backend.h"
#include "log_sip.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "platform_path.h"
#include "pools.h"
#include "schema.h"
#include "sdp_guard.h"
#include "sip_overload.h"
#include "sip_stack.h"

namespace {

void finish_call_not_built(call_object *, FILE *, int)
{
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        LOGD(TARN, 0, nullptr, "CRITICAL: shutdown_nua: finishing calls is not part of this build");
}

// shutdown_nua asked the first stack's user agent to shut down; once it
// reports the end (stop_nua_stack), the end of its loop frees it.
std::atomic<bool> shutdown_requested{false};
std::atomic<bool> first_stack_shut_down{false};

// How long bring-up waits for a stack's event loop.
const auto LOOP_START_LIMIT = std::chrono::seconds(5);

int eo_flags()
{
    return gp && gp->experimental_options ? gp->experimental_options->eo_debug_flags : 0;
}

} // namespace

nua_stack_hooks nua_hooks = {nua_interim_event_callback, finish_call_not_built};

void nua_stack_set_hooks(const nua_stack_hooks *hooks)
{
    nua_stack_hooks h = hooks ? *hooks : nua_stack_hooks{};
    if (!h.event_callback)
        h.event_callback = nua_interim_event_callback;
    if (!h.finish_call)
        h.finish_call = finish_call_not_built;
    nua_hooks = h;
}

std::string sofia_bind_url(const char *url)
{
    // Debian's library crashes on a transport list in a bind URL; without a
    // transport parameter it binds UDP and TCP, which is what the list asks.
    std::string u = url;
    size_t at = u.find(";transport=udp,tcp");
    if (at != std::string::npos)
        u.erase(at, strlen(";transport=udp,tcp"));
    return u;
}

const char *sip_stack_supported(const sip_stack *ss, int enable_prack)
{
    bool stream_only = (ss->transport & (SIP_TRANSPORT_TCP | SIP_TRANSPORT_TLS)) && !(ss->transport & SIP_TRANSPORT_UDP);
    return enable_prack && !stream_only ? "timer, 100rel, replaces" : "timer, replaces";
}

void *run_nua_event_loop_ss(void *arg)
{
    sip_stack *ss = static_cast<sip_stack *>(arg);
    prctl(PR_SET_NAME, "tarn.sofia", 0, 0, 0);
    su_root_t *root = su_root_create(nullptr);
    ss->nua = nullptr;
    su_init();
    ss->app_home = (su_home_t *)calloc(1, sizeof(su_home_t));
    if (ss->app_home) {
        su_home_init(ss->app_home);
        if (eo_flags() & 2)
            su_home_init_stats(ss->app_home);
    }
    if (root) {
        // What bring-up waits for.
        __atomic_store_n(&ss->app_root, root, __ATOMIC_RELEASE);
        su_root_run(root);
        if (ss->nua && ss == &gp->sip_stacks[0] && first_stack_shut_down.load()) {
            nua_destroy(ss->nua);
            ss->nua = nullptr;
        }
        if (!ss->nua)
            su_root_destroy(root); // a user agent still holding it keeps it
    } else {
        LOGD(TARN, 0, nullptr, "CRITICAL: couldn't create the event loop of SIP stack %s", ss->name);
    }
    if (ss->app_home) {
        su_home_deinit(ss->app_home);
        free(ss->app_home);
        ss->app_home = nullptr;
    }
    su_deinit();
    __atomic_store_n(&ss->app_root, (su_root_t *)nullptr, __ATOMIC_RELEASE);
    return nullptr;
}

// The TLS listener answers a handshake only with the key and certificate
// in <cert_path>/agent.pem: say so once at start-up when it cannot be read.
// The stack still comes up on its other transports, and its TLS transport
// still serves as a client.
static void check_tls_certificate(const sip_stack *ss)
{
    std::string agent = ss->cert_path;
    if (!agent.empty() && agent.back() != '/')
        agent += '/';
    agent += "agent.pem";
    if (access(agent.c_str(), R_OK) != 0)
        LOGD(TARN, 0, nullptr, "CRITICAL: SIP stack %s: cannot read TLS certificate %s (%s): TLS clients get no handshake",
             ss->name, agent.c_str(), strerror(errno));
}

// Starts the stack's thread and waits until its loop exists: its root, or null.
static su_root_t *start_event_loop(sip_stack *ss)
{
    ss->nua_thread = (pthread_t *)calloc(1, sizeof(pthread_t));
    if (!ss->nua_thread)
        return nullptr;
    if (pthread_create(ss->nua_thread, nullptr, run_nua_event_loop_ss, ss) != 0) {
        free(ss->nua_thread);
        ss->nua_thread = nullptr;
        return nullptr;
    }
    auto begin = std::chrono::steady_clock::now();
    su_root_t *root;
    while (!(root = __atomic_load_n(&ss->app_root, __ATOMIC_ACQUIRE)) &&
           std::chrono::steady_clock::now() - begin < LOOP_START_LIMIT)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    if (root) {
        long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - begin).count();
        LOGD(TARN, 5, nullptr, "had to wait %i nanoseconds for event loop to become active!",
             (int)(ns > 2000000000 ? 2000000000 : ns));
    }
    return root;
}

// The SIP stack log file of tarn.conf, and the library's log to it.
static void open_sofia_log()
{
    log_backend_state *b = log_backend();
    char limit[64] = "", path[256] = "";
    if (gp->config_tarn) {
        cm_get(gp->config_tarn, limit, sizeof limit, 0, CFG_TARN_SOFIALOGSIZELIMIT);
        cm_get(gp->config_tarn, path, sizeof path, 0, CFG_TARN_SOFIA_LOG_PATH);
    }
    b->sofia_log_max_filesize = strtol(limit, nullptr, 10);
    if (b->sofia_log_max_filesize > 0) {
        snprintf(b->sofia_log_path, sizeof b->sofia_log_path, "%s", platform_config_path(path).c_str());
        FILE *f = fopen(b->sofia_log_path, "w");
        if (!f)
            LOGD(TARN, 1, nullptr, "CRITICAL: couldn't redirect sofia log to %s", b->sofia_log_path);
        else
            b->sofia_log_fp = f;
    }
    tarn_sofia_log_redirect();
}

int init_nua_instance()
{
    if (!gp) {
        LOGD(TARN, 0, nullptr, "Event loop not initialized");
        return 0;
    }
    // The TLS flavour (the LAN key, for every stack), set before any stack
    // thread runs.
    char ssl[64] = "";
    if (gp->config_sip)
        cm_get(gp->config_sip, ssl, sizeof ssl, 0, CFG_SIP_SSL_VERSION_LAN);
    if (strcmp(ssl, "sslv2") == 0)
        setenv("TPORT_SSL", "YES", 1);
    else
        unsetenv("TPORT_SSL");
    int prack = gp->experimental_options ? gp->experimental_options->eo_enable_prack : 0;

    for (int i = 0; i < gp->sip_stack_size; i++) {
        sip_stack *ss = &gp->sip_stacks[i];
        sip_stack_bind_urls(ss);
        if (ss->nua_sip_ssl_string[0])
            check_tls_certificate(ss);
        const char *supported = sip_stack_supported(ss, prack);
        std::string bind_url = sofia_bind_url(ss->nua_sip_string);
        su_root_t *root = start_event_loop(ss);
        if (!root) {
            LOGD(TARN, 0, nullptr, "CRITICAL: nua_create failed!");
            return -1;
        }
        errno = 0;
        ss->nua = nua_create(root, nua_hooks.event_callback, (nua_magic_t *)gp,
                             NTATAG_MCLASS(sdp_guarded_mclass()),
                             NTATAG_UDP_MTU(64000),
                             NTATAG_PASS_100(1),
                             // A 3xx is the call's to judge (deflection,
                             // a 302 passed back, failover): the stack
                             // must not send its own request to a Contact
                             // or through a Use-Proxy.
                             NUTAG_AUTO302(0),
                             NUTAG_AUTO305(0),
                             // Load shedding: refusals keep their
                             // transaction briefly, copies of answers
                             // are timed so that the stack's retry list
                             // stays cheap, a burst waits in the socket
                             // rather than losing its ACKs, and no more
                             // INVITEs wait for call control than it can
                             // take.
                             NTATAG_SIP_T4(SIP_T4_MS),
                             NTATAG_SIP_T2(SIP_T2_MS),
                             TPTAG_UDP_RMEM(SIP_UDP_RECEIVE_BUFFER),
                             NTATAG_MAX_PROCEEDING(SIP_PROCEEDING_LIMIT_AT_START),
                             TAG_IF(ss->nua_sip_string[0], NUTAG_URL(bind_url.c_str())),
                             TAG_IF(ss->nua_sip_ssl_string[0], NUTAG_SIPS_URL(ss->nua_sip_ssl_string)),
                             // Debian's library builds every TLS context from
                             // TLS_method() whatever this says, so OpenSSL's
                             // policy (TLS 1.2 and 1.3) holds for every code.
                             TPTAG_TLS_VERSION(ss->ssl_version),
                             TAG_IF(ss->user_agent_string[0], SIPTAG_USER_AGENT_STR(ss->user_agent_string)),
                             SIPTAG_SUPPORTED_STR(supported),
                             NUTAG_CERTIFICATE_DIR(ss->cert_path),
                             TPTAG_TOS(ss->tos_sip),
                             NUTAG_ALLOW("INFO"),
                             NUTAG_ALLOW("REGISTER"),
                             NUTAG_APPL_METHOD("REGISTER"),
                             NUTAG_APPL_METHOD("OPTIONS"),
                             NUTAG_APPL_METHOD("NOTIFY"),
                             NUTAG_APPL_METHOD("MESSAGE"),
                             NUTAG_ALLOW("NOTIFY"),
                             NUTAG_ALLOW_EVENTS("message-summary, resync"),
                             TPTAG_TLS_VERIFY_POLICY(ss->tls_verification_mode),
                             TAG_END());
        if (errno == EFAULT)
            LOGD(TARN, 0, nullptr, "root=%p or callback=%p nua=%p!", (void *)root,
                 (void *)nua_hooks.event_callback, (void *)ss->nua);
        if (!ss->nua) {
            LOGD(TARN, 0, nullptr, "CRITICAL: nua_create failed!");
            return -1;
        }
        if (eo_flags() & 2)
            su_home_init_stats((su_home_t *)ss->nua);
    }
    open_sofia_log();
    return 0;
}

void stop_nua_stack()
{
    LOGD(SIP, 2, nullptr, "stopping event loop!");
    if (shutdown_requested.load())
        first_stack_shut_down = true;
    su_root_t *root = gp ? __atomic_load_n(&gp->sip_stacks[0].app_root, __ATOMIC_ACQUIRE) : nullptr;
    if (root)
        su_root_break(root);
}

void wait_for_first_sip_stack()
{
    sip_stack *ss = gp && gp->sip_stack_size > 0 ? &gp->sip_stacks[0] : nullptr;
    if (!ss || !ss->nua_thread)
        return;
    pthread_join(*ss->nua_thread, nullptr);
    free(ss->nua_thread);
    ss->nua_thread = nullptr;
    LOGD(SIP, 2, nullptr, "nua cleanup finished!");
}

void shutdown_nua()
{
    // 1.
    gp->reject_calls = 1;
    // 2.
    for (int i = 0; i < OPERATIONARRAYSIZE; i++) {
        call_object *co = gp->operations[i];
        if (co && co->callinfo != CI_FREE) {
            nua_hooks.finish_call(co, stderr, 4);
            usleep(20 * 1000);
        }
    }
    // 3.-5.
    fputs("Waiting for MSP resources to get freed\n", stderr);
    int channels = 0;
    for (int pass = 0; pass < 50; pass++) {
        channels = msp_get_channel_usage();
        msp_queue_lock_take();
        bool queued = cman && cman->csm_queue && cman->csm_queue->first;
        msp_queue_lock_release();
        if (!channels && !queued)
            break;
        usleep(100 * 1000);
    }
    fputs(channels ? "Couldn't clean up all msp resources\n" : "Cleaned up all msp resources\n", stderr);
    // 6.-7.
    LOGD(TARN, 2, nullptr, "Closing NUA event loop");
    sip_stack *first = gp->sip_stack_size > 0 ? &gp->sip_stacks[0] : nullptr;
    if (first && first->nua) {
        shutdown_requested = true;
        nua_shutdown(first->nua);
    }
    else
        stop_nua_stack();
}

// ---------------------------------------------------------------------------

static void interim_event_locked(nua_event_t event, int status, char const *phrase, nua_t *nua, nua_handle_t *nh,
                                 sip_t const *)
{
    // 1.
    if (!gp->init_lock) {
        LOGD(SIP, 1, nullptr, "TARN not initialized completely, ignoring SIP event %s", nua_event_name(event));
        return;
    }
    // 12.
    switch (event) {
    case nua_i_error:
        LOGM(SIP, 33, "%s nua_cb(%p): nua error for co %p , status %i : %s", cinfo(nullptr), (void *)nua, nullptr,
             status, phrase ? phrase : "");
        return;
    case nua_i_options:
        nua_respond(nh, 200, "OK", NUTAG_WITH(nua_current_request(nua)), TAG_END());
        LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[200] \"OK\"", cinfo(nullptr));
        nua_handle_destroy(nh);
        return;
    case nua_r_shutdown:
        if (status == 200 || status >= 500)
            stop_nua_stack();
        return;
    default:
        break;
    }
    // 13. no call can own the handle yet
    LOGD(SIP, 5, nullptr, "ignoring nua event %s -- co==NULL -> destroying handle!", nua_event_name(event));
    if (nh)
        nua_handle_destroy(nh);
}

void nua_interim_event_callback(nua_event_t event, int status, char const *phrase, nua_t *nua, nua_magic_t *,
                                nua_handle_t *nh, nua_hmagic_t *, sip_t const *sip, tagi_t[])
{
    pthread_mutex_lock(gp->locks->global_lock);
    interim_event_locked(event, status, phrase, nua, nh, sip);
    pthread_mutex_unlock(gp->locks->global_lock);
}
