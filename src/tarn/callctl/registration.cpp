#include "registration.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sofia-sip/msg_header.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/su_tag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "call_configuration.h"
#include "dns_cache.h"
#include "experimental_options.h"
#include "log.h"
#include "log_backend.h"
#include "outbound_options.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "reg_object.h"
#include "registrations.h"
#include "sip_headers.h"
#include "sip_stack.h"
#include "sm_run.h"
#include "sm_tasks.h"
#include "state_names.h"
#include "state_table_actions.h"
#include "timer.h"

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};
const statemachine_handle_retval KEEP = {SM_KEEP_STATE, SM_NO_EVENT};

const char *text(const char *s) { return s ? s : ""; }

const experimental_options *eo() { return gp ? gp->experimental_options : nullptr; }
int eo_value(int32_t experimental_options::*field)
{
    const experimental_options *o = eo();
    return o ? o->*field : 0;
}

// The registrar URL of REGISTER and OPTIONS: the user's request URL for a
// group with its own SIP domain, else the group's registrar address.
const char *request_url(const reg_object *ro)
{
    const port_group_sip *pgs = ro->pgs;
    if (pgs->pgs_sip_domain_set && ro->pgsu && ro->pgsu->pgsu_nutag_request_url_string)
        return ro->pgsu->pgsu_nutag_request_url_string;
    return text(pgs->pgs_nutag_registrar_address_string);
}

// The refresh timer runs on with a new interval, counted from now.
void restart_timer(reg_object *ro, long ms)
{
    if (ro->timer && ms > 0)
        timer_reset_interval(ro->timer, ms / 1000, (ms % 1000) * 1000);
}

// The failure interval: the last answer's Retry-After, an hour while
// registrations pause for a validating peer, else the group's failure
// interval (seconds).
int failure_interval(reg_object *ro)
{
    ro->is_pausing_registrations = 0;
    const sip_t *sip = (const sip_t *)ro->tmpsip;
    if (sip && sip->sip_retry_after)
        return (int)sip->sip_retry_after->af_delta;
    if (eo_value(&experimental_options::eo_pause_reregister_on_validation_fail) && ro->pgs &&
        ro->pgs->pgs_do_validate) {
        ro->is_pausing_registrations = 1;
        return 3600;
    }
    return ro->pgs ? ro->pgs->pgs_refresh_interval_failed : 0;
}

// The stack handle of the object, unbound and destroyed.
void drop_handle(reg_object *ro)
{
    if (ro->nh) {
        reg_sip_ops.destroy_handle(ro->nh);
        ro->nh = nullptr;
    }
}

nua_t *stack_of(const reg_object *ro)
{
    const sip_stack *ss = ro->pgs ? ro->pgs->pgs_sip_stack : nullptr;
    return ss && ss->nua ? ss->nua : ro->nua;
}

void close_probe_socket(reg_object *ro)
{
    // 0 means "none" as well: descriptor 0 is the console's standard input.
    if (ro->register_probe_socket_fd > 0)
        close(ro->register_probe_socket_fd);
    ro->register_probe_socket_fd = -1;
}

} // namespace

// ---- pieces -----------------------------------------------------------------------

int reg_refresh_interval_for_success(int base)
{
    if (base > 30)
        return base - 5;
    if (base >= 2)
        return base - 1;
    return base;
}

int reg_event_word(int callinfo, nua_event_t event, int status)
{
    if (status == 401 || status == 407 || status == 484 || (status == 403 && callinfo == CI_REGISTER))
        return sm_sip(status, event);
    if (event == nua_i_terminated)
        return sm_sip(1000, nua_i_terminated);
    if (status >= 400 && status <= 699)
        return sm_sip(1000, event);
    return sm_sip(status, event);
}

void reg_outbound_option_text(int options, char *out, size_t size)
{
    static const struct {
        int bit;
        const char *on, *off;
    } words[] = {
        {NUA_OUTBOUND_OPTION_GRUUIZE, "gruuize ", "no-gruuize "},
        {NUA_OUTBOUND_OPTION_OUTBOUND, "outbound ", "no-outbound "},
        {NUA_OUTBOUND_OPTION_VALIDATE, "validate ", "no-validate "},
        {NUA_OUTBOUND_OPTION_NATIFY, "natify ", "no-natify "},
        {NUA_OUTBOUND_OPTION_USE_RPORT, "use-rport ", "no-use-rport "},
        {NUA_OUTBOUND_OPTION_OPTIONS_KEEPALIVE, "options-keepalive ", "no-options-keepalive "},
    };
    if (!out || size == 0)
        return;
    out[0] = '\0';
    size_t used = 0;
    for (const auto &w : words) {
        int n = snprintf(out + used, size - used, "%s", (options & w.bit) ? w.on : w.off);
        if (n < 0 || (size_t)n >= size - used) {
            out[used] = '\0'; // whole words only
            break;
        }
        used += (size_t)n;
    }
}

bool reg_peer_answered(int status)
{
    return status < 500 && status != 408;
}

// ---- requests ---------------------------------------------------------------------

int send_default_register_request(reg_object *ro)
{
    if (!ro || !ro->pgs || !ro->nh)
        return -1;
    LOGD(TARN, 3, rinfo(ro), "Sending manual re-register request with new handle");
    const port_group_sip *pgs = ro->pgs;
    char expires[16];
    snprintf(expires, sizeof expires, "%i", pgs->pgs_refresh_interval);
    char outbound[256];
    reg_outbound_option_text(ro->outbound_options, outbound, sizeof outbound);
    bool keepalive = (ro->outbound_options & (NUA_OUTBOUND_OPTION_VALIDATE | NUA_OUTBOUND_OPTION_OPTIONS_KEEPALIVE)) != 0;
    unsigned keepalive_ms = (unsigned)pgs->pgs_keepalive_interval * 1000u;
    const sip_stack *ss = pgs->pgs_sip_stack;
    const char *user_agent = ss && ss->user_agent_string[0] ? ss->user_agent_string : nullptr;
    const char *headers = ro->cc.tr119 ? "Security-Client: sdes-srtp;mediasec\r\n"
                                         "Proxy-Require: mediasec\r\n"
                                         "Require: mediasec\r\n"
                                       : "";
    nua_register(ro->nh, SIPTAG_HEADER_STR(headers),
                 NTATAG_DEFAULT_PROXY(URL_STRING_MAKE(text(pgs->pgs_nutag_registrar_address_string))),
                 TAG_IF(keepalive && keepalive_ms != 0, NUTAG_KEEPALIVE(keepalive_ms)),
                 TAG_IF(user_agent, SIPTAG_USER_AGENT_STR(user_agent)),
                 NUTAG_REGISTRAR(URL_STRING_MAKE(request_url(ro))), NUTAG_APPL_METHOD("OPTIONS"),
                 NUTAG_M_USERNAME(ro->pgsu ? text(ro->pgsu->pgsu_user) : ""), SIPTAG_EXPIRES_STR(expires),
                 NUTAG_OUTBOUND(outbound),
                 // A Retry-After is the registration table's to honour (on a
                 // new handle), not the stack's on this one.
                 NUTAG_MAX_RETRY_AFTER(0), TAG_END());
    return 0;
}

// ---- the SIP stack's own refresh of a registration --------------------------------

// After every 2xx to a REGISTER, nua_register() schedules a re-REGISTER of
// its own at a random point between a quarter and three quarters of the
// granted time, and no tag of the stack turns that off. The registration
// machine owns the refresh (the granted time less its margin, on its own
// timer), so for REGISTER usages the stack's schedule is cleared: the stack
// calls this function through its symbol table, so this definition takes
// the place of the library's, which it calls for every other usage
// (session timers, subscriptions). A REGISTER sent again by the stack when
// its connection to the registrar closes is left as it is.
extern "C" {
struct nua_dialog_usage;
char const *nua_dialog_usage_name(nua_dialog_usage const *du);
void nua_dialog_usage_reset_refresh(nua_dialog_usage *du);
void nua_dialog_usage_set_refresh(nua_dialog_usage *du, unsigned delta);
}

void nua_dialog_usage_set_refresh(nua_dialog_usage *du, unsigned delta)
{
    using set_refresh_fn = void (*)(nua_dialog_usage *, unsigned);
    static const set_refresh_fn stack_set_refresh =
        reinterpret_cast<set_refresh_fn>(dlsym(RTLD_NEXT, "nua_dialog_usage_set_refresh"));
    if (du && strcasecmp(nua_dialog_usage_name(du), "register") == 0) {
        nua_dialog_usage_reset_refresh(du);
        return;
    }
    if (stack_set_refresh)
        stack_set_refresh(du, delta);
}

// ---- the TCP probe of a registrar ---------------------------------------------------

int reg_object_probe_peer(reg_object *ro)
{
    const port_group_sip *pgs = ro ? ro->pgs : nullptr;
    if (!pgs || !(pgs->pgs_transport & (SIP_TRANSPORT_TCP | SIP_TRANSPORT_TLS)))
        return 0;
    int port = pgs->pgs_sip_registrar_port;
    if (port == 0)
        port = (pgs->pgs_transport & SIP_TRANSPORT_TLS) ? 5061 : 5060;
    const char *resolved = pgs->pgs_sip_registrar_using_address_resolved;
    const char *address = resolved && resolved[0] && strcmp(resolved, DNS_DUMMY_ADDRESS) != 0
                              ? resolved
                              : text(pgs->pgs_sip_registrar);
    close_probe_socket(ro);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        LOGD(TARN, 2, rinfo(ro), "failed connect to registrar: %s:%i\n", address, port);
        return -1;
    }
    ro->register_probe_socket_fd = fd;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)port);
    // An address that is no dotted IPv4 text leaves the connect unstarted:
    // the probe then reads as failed.
    if (inet_pton(AF_INET, address, &sa.sin_addr) == 1)
        connect(fd, (const sockaddr *)&sa, sizeof sa);
    else
        close_probe_socket(ro);
    return 0;
}

int check_peer_connect(reg_object *ro)
{
    if (!ro || ro->evaluate_registrar_connect != 1 || ro->register_probe_socket_fd <= 0)
        return -1;
    pollfd p{ro->register_probe_socket_fd, POLLOUT, 0};
    int result = -1;
    // The connect has had the whole check interval to finish: a glance.
    const timespec glance{0, 10000};
    if (ppoll(&p, 1, &glance, nullptr) == 1 && (p.revents & POLLOUT)) {
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
            result = 0;
    }
    close_probe_socket(ro);
    return result;
}

// ---- actions ------------------------------------------------------------------------

SM_ACTION(sm_reg_offset_reg_init)
{
    (void)arg, (void)state, (void)event;
    reg_object *ro = (reg_object *)p;
    LOGD(TARN, 5, rinfo(ro), "sm_reg_offset_reg_init");
    if (ro->pgs)
        restart_timer(ro, 1000L * ro->pgs->pgs_refresh_interval_failed);
    send_default_register_request(ro);
    return ROW;
}

SM_ACTION(sm_reg_offset_validate_init)
{
    (void)arg, (void)state, (void)event;
    reg_object *ro = (reg_object *)p;
    if (ro->pgs)
        restart_timer(ro, 1000L * ro->pgs->pgs_keepalive_interval);
    return ROW;
}

SM_ACTION(sm_reg_authenticate_user_reg)
{
    (void)arg, (void)state, (void)event;
    reg_object *ro = (reg_object *)p;
    LOGD(TARN, 5, rinfo(ro), "authenticate_user for ro %p (index %i)!", (void *)ro, ro->index);
    if (!ro->pd) {
        LOGD(TARN, 0, rinfo(ro), "CRITICAL: Trying to authenticate invalid reg_object!");
        return ROW;
    }
    int limit = eo_value(&experimental_options::eo_auth_workaround);
    if (limit != 0 && ro->auth_counter >= limit) {
        LOGD(TARN, 5, rinfo(ro), "failing registration because auth counter = %i!", ro->auth_counter);
        return {SM_REG_INACTIVE, SM_NO_EVENT};
    }
    ro->auth_counter++;
    char auth[512];
    if (format_digest_credentials((const sip_t *)ro->tmpsip, ro->pd->auth_user, ro->pd->pass, auth, sizeof auth) !=
        0) {
        LOGD(TARN, 0, rinfo(ro), "CRITICAL: Couldn't send authentication for call!");
        return ROW;
    }
    const char *headers =
        ro->cc.tr119 ? "Security-Verify: msrp-tls;mediasec, sdes-srtp;mediasec, dtls-srtp;mediasec\r\n" : "";
    if (ro->nh)
        nua_authenticate(ro->nh, NUTAG_AUTH(auth), SIPTAG_HEADER_STR(headers), TAG_END());
    return ROW;
}

SM_ACTION(sm_sip_set_regrefresh_interval_for_success)
{
    (void)arg, (void)state, (void)event;
    reg_object *ro = (reg_object *)p;
    ro->auth_counter = 0;
    ro->manual_reregister_tried = 0;
    ro->simulate_register_fail = 0;
    if (ro->timer && (ro->hard_reregister == 0 || ro->hard_reregister == 1)) {
        if (ro->hard_reregister == 1)
            ro->hard_reregister = 2;
        int base = ro->pgsu && ro->pgsu->pgsu_refresh_interval_server > 0 ? ro->pgsu->pgsu_refresh_interval_server
                   : ro->pgs                                               ? ro->pgs->pgs_refresh_interval
                                                                           : 0;
        restart_timer(ro, 1000L * reg_refresh_interval_for_success(base));
    }
    ro->is_pausing_registrations = 0;
    return ROW;
}

SM_ACTION(sm_sip_set_regrefresh_interval_for_failed)
{
    (void)arg, (void)state, (void)event;
    reg_object *ro = (reg_object *)p;
    if (ro->timer)
        restart_timer(ro, 1000L * failure_interval(ro));
    return ROW;
}

SM_ACTION(sm_sipreg_check_server_expires)
{
    (void)arg, (void)state, (void)event;
    reg_object *ro = (reg_object *)p;
    const sip_t *sip = (const sip_t *)ro->tmpsip;
    if (sip && ro->pgsu) {
        int granted = 0;
        if (sip->sip_expires) {
            granted = (int)sip->sip_expires->ex_delta;
        } else if (sip->sip_contact && sip->sip_contact->m_expires) {
            long v = strtol(sip->sip_contact->m_expires, nullptr, 10);
            if (v > 0)
                granted = v > 0x7fffffff ? 0x7fffffff : (int)v;
        } else {
            return ROW; // neither: the group's failure mark stays
        }
        if (granted > 0)
            ro->pgsu->pgsu_refresh_interval_server = granted;
        LOGD(TARN, 5, rinfo(ro), "Registration Expires set to %i seconds", ro->pgsu->pgsu_refresh_interval_server);
    }
    if (ro->pgs)
        ro->pgs->pgs_registration_failed = 0;
    return ROW;
}

SM_ACTION(sm_sip_check_switch_to_alternative_peer)
{
    (void)arg, (void)state, (void)event;
    reg_object *ro = (reg_object *)p;
    if (!eo_value(&experimental_options::eo_no_failover_register) && ro->pgs && ro->pgs->pgs_srv_dns_requested) {
        if (gp)
            gp->need_reregister_check = 1;
        ro->pgs->pgs_registration_failed = 1;
    }
    return ROW;
}

namespace {

// Step 2 of the refresh: the TCP probe of a registrar before a REGISTER.
// True when the refresh goes on.
bool registrar_check_passed(reg_object *ro)
{
    LOGD(TARN, 5, rinfo(ro), "registrar check for %s", text(ro->pgs ? ro->pgs->pgs_name : nullptr));
    int failed_ms = ro->pgs ? 1000 * ro->pgs->pgs_refresh_interval_failed : 0;
    if (ro->evaluate_registrar_connect == 0) {
        ro->evaluate_registrar_connect = 1;
        reg_object_probe_peer(ro);
        restart_timer(ro, eo_value(&experimental_options::eo_registrar_check_timeout));
        return false;
    }
    int result = check_peer_connect(ro);
    close_probe_socket(ro);
    ro->evaluate_registrar_connect = 0;
    if (result != 0) {
        LOGD(TARN, 5, rinfo(ro), "registrar_check to %s:%s failed", text(ro->pgs ? ro->pgs->pgs_name : nullptr),
             ro->ro_active_ip);
        restart_timer(ro, failed_ms);
        ro->simulate_register_fail = 1;
        return false;
    }
    restart_timer(ro, failed_ms);
    return true;
}

} // namespace

SM_ACTION(sm_sip_send_regrefresh)
{
    (void)arg, (void)event;
    reg_object *ro = (reg_object *)p;
    LOGD(TARN, 5, rinfo(ro), "for ro %p (index %i) -- nh %p!", (void *)ro, ro->index, (void *)ro->nh);
    bool failed_or_pending = state == SM_SIP_REGISTRATION_FAILED || state == SM_SIP_REGISTRATION_PENDING;

    // 1. a simulated failure: the table's failure rows take it
    if (ro->simulate_register_fail) {
        ro->simulate_register_fail = 0;
        if (failed_or_pending) {
            add_sm_task_reg(ro, SM_REG_TASK_REGISTER_408);
            return KEEP;
        }
    }
    // 2. a TCP or TLS registrar must accept a connect first
    const port_group_sip *pgs = ro->pgs;
    if (eo_value(&experimental_options::eo_registrar_check) && pgs &&
        (pgs->pgs_transport & (SIP_TRANSPORT_TCP | SIP_TRANSPORT_TLS)) && failed_or_pending &&
        !registrar_check_passed(ro))
        return KEEP;

    // 3. the refresh
    bool successful = state == SM_SIP_REGISTRATION_SUCCESSFUL && ro->nh && !ro->force_reregister_with_new_handle;
    if (successful && ro->manual_reregister_tried) {
        LOGD(TARN, 5, rinfo(ro), "Unregistering");
        nua_unregister(ro->nh, TAG_END());
        if (ro->timer)
            restart_timer(ro, 1000L * failure_interval(ro));
        ro->manual_reregister_tried = 0;
        return {SM_SIP_REGISTRATION_DISMANTLING, SM_NO_EVENT};
    }
    if (successful) {
        LOGD(TARN, 5, rinfo(ro), "Manual Reregister");
        send_default_register_request(ro);
        restart_timer(ro, 5000);
        ro->manual_reregister_tried = 1;
        return {SM_SIP_REGISTRATION_PENDING, SM_NO_EVENT};
    }
    if (!ro->nh || !ro->pgs || !ro->pgsu)
        return KEEP;
    LOGD(TARN, 5, rinfo(ro), "Reregister with new handle");
    ro->force_reregister_with_new_handle = 0;
    drop_handle(ro);
    if (ro->hard_reregister != 0)
        ro->hard_reregister = 1;
    pg_sip_update_contact_string(ro->pgs);
    nua_t *nua = stack_of(ro);
    if (nua) {
        ro->nh = reg_sip_ops.create_handle(nua, ro, text(ro->pgsu->pgsu_siptag_from_string),
                                           text(ro->pgs->pgs_nutag_proxy_address_string),
                                           text(ro->pgsu->pgsu_contact_string));
        ro->nua = nua;
    }
    ro->register_handle_create_time = get_proc_uptime_seconds();
    if (ro->nh)
        send_default_register_request(ro);
    return {SM_SIP_REGISTRATION_PENDING, SM_NO_EVENT};
}

SM_ACTION(sm_sip_send_options)
{
    (void)arg, (void)state, (void)event;
    reg_object *ro = (reg_object *)p;
    if (!ro->nh || !ro->pgs)
        return ROW;
    int refresh_after = eo_value(&experimental_options::eo_validate_handle_refresh);
    if (refresh_after != 0 && ro->option_counter >= refresh_after) {
        drop_handle(ro);
        cc_parse_call_configuration_reg(ro, &ro->cc, text(ro->pgs->pgs_config_string));
        LOGD(TARN, 5, rinfo(ro), "recreating validation handle for |%s|", text(ro->pgs->pgs_name));
        char contact[512] = "";
        if (ro->pgsu)
            reg_format_contact(ro, ro->pgsu, contact, sizeof contact);
        nua_t *nua = stack_of(ro);
        if (nua && ro->pgsu) {
            ro->nh = reg_sip_ops.create_handle(nua, ro, text(ro->pgsu->pgsu_siptag_register_from_string),
                                               text(ro->pgs->pgs_nutag_proxy_address_string), contact);
            ro->nua = nua;
        }
        ro->option_counter = 0;
        if (!ro->nh)
            return ROW;
    }
    // The request goes to the URL itself: the stack would otherwise take
    // the Request-URI from the handle's To.
    const char *url = request_url(ro);
    nua_options(ro->nh, NTATAG_DEFAULT_PROXY(URL_STRING_MAKE(text(ro->pgs->pgs_nutag_registrar_address_string))),
                NUTAG_URL(URL_STRING_MAKE(url)), NUTAG_REGISTRAR(URL_STRING_MAKE(url)), TAG_END());
    ro->option_counter++;
    return ROW;
}

// ---- events -------------------------------------------------------------------------

const char *snmp_get_registration_info(reg_object *ro, int *last_status)
{
    int code = 0;
    const char *name = "REGISTRATION_DISABLED";
    if (ro && ro->pgs && ro->pgs->pgs_do_register) {
        name = print_sm_state_reg(ro, ro->sm_state);
        code = ro->last_response_code_register;
    }
    if (last_status)
        *last_status = code;
    return name;
}

const char *snmp_get_validation_info(reg_object *ro, int *last_status)
{
    int code = 0;
    const char *name = "VALIDATION_DISABLED";
    if (ro && ro->pgs && ro->pgs->pgs_do_validate) {
        name = ro->is_validated > 0 ? "VALIDATED" : "NOT_VALIDATED";
        code = ro->last_response_code_validate;
    }
    if (last_status)
        *last_status = code;
    return name;
}

namespace {

// Step 7: an answer of the outbound validation.
void outbound_validation(reg_object *ro, int status)
{
    port_group_sip *pgs = ro->pgs;
    bool layer_control = pgs->pgs_isdn_layer_control_group_count > 0;
    if (pgs->pgs_do_validate) {
        if (reg_peer_answered(status)) {
            if (layer_control && ro->is_validated > 0)
                ro->last_time_validation_successful = time(nullptr);
            ro->is_validated = 1;
            if (eo_value(&experimental_options::eo_pause_reregister_on_validation_fail) &&
                ro->is_pausing_registrations) {
                ro->is_pausing_registrations = 0;
                restart_timer(ro, 1000L * pgs->pgs_refresh_interval_failed);
            }
        } else {
            if (layer_control && ro->is_validated > 0)
                ro->last_time_validation_successful = time(nullptr);
            if (ro->is_validated > 0 && pgs->pgs_regrefresh_after_validation_fail)
                send_default_register_request(ro);
            ro->is_validated = 0;
        }
    }
    if (ro->is_validated <= 0 && layer_control)
        pull_isdn_layers_down(pgs, ro->last_time_validation_successful);
}

void snmp_line(reg_object *ro)
{
    int reg_code = 0, val_code = 0;
    const char *reg = snmp_get_registration_info(ro, &reg_code);
    const char *val = snmp_get_validation_info(ro, &val_code);
    _tarn_snmp_msg("SNMP:SIP_REGVAL:%i:%s:%i:%s:%i:%i:%s:%i\n", ro->index, text(ro->pgs->pgs_name),
                   ro->pgs->pgs_do_register, reg, reg_code, ro->pgs->pgs_do_validate, val, val_code);
}

} // namespace

void nua_event_callback_register(nua_event_t event, int status, char const *phrase, nua_t *nua,
                                 nua_magic_t *magic, nua_handle_t *nh, reg_object *ro, sip_t const *sip,
                                 tagi_t tags[])
{
    (void)nua, (void)magic;
    if (!ro || !ro->pgs)
        return;
    if (!phrase)
        phrase = "";
    // 1.
    bool register_event = false, validation_event = false;
    if (ro->only_validate) {
        ro->last_response_code_validate = status;
        validation_event = true;
    } else if (event == nua_r_register) {
        ro->last_response_code_register = status;
        register_event = true;
    } else if (event == nua_i_outbound) {
        ro->last_response_code_validate = status;
        validation_event = true;
    }
    // 2.
    port_group_sip *pgs = ro->pgs;
    if (pgs->pgs_externip && pgs->pgs_externip[0] && sip && sip->sip_via && sip->sip_via->v_rport) {
        int rport = atoi(sip->sip_via->v_rport);
        if (rport > 0 && rport <= 65535)
            pgs->pgs_via_rport = rport;
    }
    // 3.
    LOGM(SIP, 17, "%s S IND : %s[%i] \"%s\"", rinfo(ro), nua_event_name(event), status, phrase);
    // 4.
    if (!ro->sm) {
        LOGD(SIP, 5, rinfo(ro), "ignoring nua event  %s -- co->sm==NULL!", nua_event_name(event));
        return;
    }
    if (nh != ro->nh) {
        LOGD(SIP, 5, rinfo(ro), "ignoring nua event  %s -- invalid nua handle!", nua_event_name(event));
        return;
    }
    // 5.
    ro->tmpsip = sip;
    ro->tmptags = reinterpret_cast<tagi_s *>(tags);
    // 6.
    if (event == nua_i_state) {
        int cs = nua_callstate_init;
        tl_gets(tags, NUTAG_CALLSTATE_REF(cs), TAG_END());
        LOGD(SIP, 5, rinfo(ro), "nua callstate: %s", nua_callstate_name((nua_callstate)cs));
    } else {
        ro->last_nua_event = event;
        ro->last_nua_status_code = status;
        snprintf(ro->last_nua_status_text, sizeof ro->last_nua_status_text, "%s", phrase);
    }
    if (event == nua_i_outbound) {
        // 7.
        outbound_validation(ro, status);
    } else if (event == nua_r_options && ro->only_validate) {
        // 8.
        bool answered = reg_peer_answered(status);
        ro->is_validated = answered ? 1 : 0;
        do_reg_statemachine_run(ro, sm_sip(answered ? 200 : 500, nua_r_options), 0);
    } else {
        // 9.
        do_reg_statemachine_run(ro, reg_event_word(ro->callinfo, event, status), 0);
    }
    // 10.
    if (register_event && pgs->pgs_do_register && ro->sm_state != ro->snmp_last_register_sm_state) {
        snmp_line(ro);
        ro->snmp_last_register_sm_state = ro->sm_state;
    }
    if (validation_event) {
        if (ro->is_validated != ro->snmp_last_is_validated)
            snmp_line(ro);
        ro->snmp_last_is_validated = ro->is_validated;
    }
    // 11.
    ro->tmpsip = nullptr;
    ro->tmptags = nullptr;
}
