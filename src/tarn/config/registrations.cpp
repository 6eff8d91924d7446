// The registration array and the start and end of every outgoing
// registration and validation.
#include "registrations.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sofia-sip/nua.h>
#include <sofia-sip/su_alloc_stat.h>

#include "application.h"
#include "call_configuration.h"
#include "dialplan_vars.h"
#include "experimental_options.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "sip_stack.h"

// ---- hooks ------------------------------------------------------------------------

static void not_built(std::atomic<bool> &told, const char *what)
{
    if (!told.exchange(true))
        LOGD(TARN, 0, nullptr, "CRITICAL: %s not built", what);
}

static statemachine *create_statemachine_sipreg_not_built(void *, int, statemachine_send_event)
{
    static std::atomic<bool> told{false};
    not_built(told, "create_statemachine_sipreg");
    return nullptr;
}
static int32_t tarn_send_event_not_built(void *, void *, int32_t)
{
    static std::atomic<bool> told{false};
    not_built(told, "tarn_send_event");
    return 0;
}
static int32_t cb_timer_event_not_built(int32_t, kv_timer *)
{
    static std::atomic<bool> told{false};
    not_built(told, "cb_timer_event");
    return 0;
}
static int do_reg_statemachine_run_not_built(reg_object *, int, int)
{
    static std::atomic<bool> told{false};
    not_built(told, "do_reg_statemachine_run");
    return 0;
}
static int send_default_register_request_not_built(reg_object *)
{
    static std::atomic<bool> told{false};
    not_built(told, "send_default_register_request");
    return -1;
}
static void reset_rop_not_built(reg_object *)
{
    static std::atomic<bool> told{false};
    not_built(told, "reset_rop");
}

static registration_hooks hooks = {
    create_statemachine_sipreg_not_built, tarn_send_event_not_built,
    cb_timer_event_not_built,             do_reg_statemachine_run_not_built,
    send_default_register_request_not_built, reset_rop_not_built,
};

void reg_set_hooks(const registration_hooks *in)
{
    if (!in)
        return;
    if (in->create_statemachine_sipreg)
        hooks.create_statemachine_sipreg = in->create_statemachine_sipreg;
    if (in->tarn_send_event)
        hooks.tarn_send_event = in->tarn_send_event;
    if (in->cb_timer_event)
        hooks.cb_timer_event = in->cb_timer_event;
    if (in->do_reg_statemachine_run)
        hooks.do_reg_statemachine_run = in->do_reg_statemachine_run;
    if (in->send_default_register_request)
        hooks.send_default_register_request = in->send_default_register_request;
    if (in->reset_rop)
        hooks.reset_rop = in->reset_rop;
}

const registration_hooks &reg_hooks()
{
    return hooks;
}

// ---- the SIP stack ---------------------------------------------------------------------

static nua_handle_t *create_handle(nua_t *nua, reg_object *ro, const char *from, const char *registrar,
                                   const char *contact)
{
    return nua_handle(nua, (nua_hmagic_t *)ro, SIPTAG_FROM_STR(from), SIPTAG_TO_STR(from),
                      NUTAG_REGISTRAR(URL_STRING_MAKE(registrar)), SIPTAG_CONTACT_STR(contact), TAG_END());
}

static void unregister(nua_handle_t *nh)
{
    nua_unregister(nh, TAG_END());
}

static void destroy_handle(nua_handle_t *nh)
{
    nua_handle_bind(nh, nullptr);
    nua_handle_destroy(nh);
}

static void pause_ms(int ms)
{
    usleep((useconds_t)ms * 1000);
}

registration_sip_ops reg_sip_ops = {create_handle, unregister, destroy_handle, pause_ms};

// ---- the array ----------------------------------------------------------------------------

// The SIP port groups of the current generation.
static int sip_group_count()
{
    return gp->port_groups ? gp->port_groups->port_groups_sip_count : 0;
}
static port_group_sip *sip_group(int i)
{
    return &gp->port_groups->port_groups_sip[i];
}

static bool registers_or_validates(const port_group_sip *pgs)
{
    return pgs->pgs_do_register || pgs->pgs_do_validate;
}

void reg_init_outbound_registration_array()
{
    int n = 0;
    for (int i = 0; i < sip_group_count(); i++)
        if (registers_or_validates(sip_group(i)))
            n += sip_group(i)->pgs_user_count;

    reg_object **old = gp->registrations;
    int old_size = REGISTRATIONARRAYSIZE;
    REGISTRATIONARRAYSIZE = n;
    gp->registrations = nullptr;
    if (n > 0) {
        reg_object **array = new reg_object *[n];
        for (int i = 0; i < n; i++)
            array[i] = init_reg_object(new reg_object(), i);
        gp->registrations = array;
    }
    if (old) {
        for (int i = 0; i < old_size; i++)
            delete old[i];
        delete[] old;
    }
}

// Everything an object holds, let go of; the object itself is freed.
static void release_object(reg_object *ro)
{
    if (ro->timer) {
        timer_remove(ro->timer);
        ro->timer = nullptr;
    }
    if (ro->nh) {
        reg_sip_ops.destroy_handle(ro->nh);
        ro->nh = nullptr;
    }
    if (ro->pgs) {
        pg_sip_release(ro->pgs);
        ro->pgs = nullptr;
        ro->pgsu = nullptr;
    }
    hooks.reset_rop(ro);
    delete ro;
}

void reg_clear_outbound_registration_array()
{
    reg_object **array = gp->registrations;
    if (!array)
        return;
    for (int i = 0; i < REGISTRATIONARRAYSIZE; i++) {
        if (array[i])
            release_object(array[i]);
        array[i] = nullptr;
    }
    delete[] array;
    gp->registrations = nullptr;
}

void reg_remove_from_outbound_registration_array(int idx)
{
    pthread_mutex_lock(gp->locks->pgs_lock);
    pthread_mutex_lock(gp->locks->global_lock);
    reg_object **array = gp->registrations;
    if (array && idx >= 0 && idx < REGISTRATIONARRAYSIZE) {
        if (array[idx])
            release_object(array[idx]);
        for (int i = idx; i + 1 < REGISTRATIONARRAYSIZE; i++)
            array[i] = array[i + 1];
        array[REGISTRATIONARRAYSIZE - 1] = nullptr;
        REGISTRATIONARRAYSIZE--;
    }
    pthread_mutex_unlock(gp->locks->global_lock);
    pthread_mutex_unlock(gp->locks->pgs_lock);
}

int format_registrar_url_string(reg_object *ro, char *regaddress, int regaddress_size, int add_sip_intro)
{
    if (!ro || !ro->pgs || !regaddress || regaddress_size <= 0)
        return 0;
    const port_group_sip *pgs = ro->pgs;
    const char *intro = add_sip_intro ? "sip:" : "";
    const char *domain = pgs->pgs_sip_domain ? pgs->pgs_sip_domain : "";
    int n = pgs->pgs_sip_proxy_port
                ? snprintf(regaddress, (size_t)regaddress_size, "%s%s:%i", intro, domain, pgs->pgs_sip_proxy_port)
                : snprintf(regaddress, (size_t)regaddress_size, "%s%s", intro, domain);
    return n < 0 ? 0 : n < regaddress_size ? n : regaddress_size - 1;
}

// ---- start ---------------------------------------------------------------------------------

static const char *text_or_empty(const char *s)
{
    return s ? s : "";
}

void reg_format_contact(reg_object *ro, const port_group_sip_user *user, char *out, int size)
{
    const char *contact = text_or_empty(user->pgsu_contact_string);
    if (!ro->cc.sip_contact_all_setting_set) {
        snprintf(out, (size_t)size, "%s", contact);
        return;
    }
    int positions[10], lengths[10], count = 0;
    dialplan_find_variables_in_string(contact, positions, lengths, &count, 10);
    dialplan_replace_variables(ro, contact, out, size, positions, lengths, count);
}

// A new timer of the registration, due after ms.
static void arm_timer(reg_object *ro, int event, long ms)
{
    kv_timer *t = (kv_timer *)calloc(1, sizeof(kv_timer));
    if (!t)
        return;
    t->tv.tv_sec = ms / 1000;
    t->tv.tv_usec = (ms % 1000) * 1000;
    t->user_data = ro;
    if (timer_add(hooks.cb_timer_event, event, t) != 0) {
        LOGD(TARN, 0, rinfo(ro), "CRITICAL: registration timer of %li ms not armed", ms);
        free(t);
        return;
    }
    ro->timer = t;
}

// One user of a group: object, handle, machine, timer, first request.
static int start_registration(port_group_sip *pgs, port_group_sip_user *user)
{
    reg_object *ro = get_free_registration_handle();
    if (!ro)
        return -1;
    ro->pgsu = user;
    ro->pgs = pgs;
    pg_sip_hold(pgs);
    pg_sip_get_host_ip_for_port_group(pgs, ro->ro_active_ip, sizeof ro->ro_active_ip);
    if (!ro->pd)
        ro->pd = create_proxy_definition_by_pgs(pgs, user, SIP_OUTBOUND);
    bool do_register = pgs->pgs_do_register != 0;
    ro->is_validated = pgs->pgs_do_validate ? 0 : -1;
    ro->outbound_options = pgs->pgs_outbound_options;
    cc_parse_call_configuration_reg(ro, &ro->cc, text_or_empty(pgs->pgs_config_string));

    const char *registrar = text_or_empty(pgs->pgs_nutag_proxy_address_string);
    LOGD(TARN, 5, rinfo(ro), "sending registration request to %s", registrar);

    char contact[512];
    reg_format_contact(ro, user, contact, sizeof contact);
    sip_stack *ss = pgs->pgs_sip_stack;
    if (ss && ss->nua) {
        const char *from = text_or_empty(user->pgsu_siptag_register_from_string);
        ro->nh = reg_sip_ops.create_handle(ss->nua, ro, from, registrar, contact);
        ro->nua = ss->nua;
    } else {
        LOGD(TARN, 0, rinfo(ro), "CRITICAL: SIP peer %s has no running SIP stack", text_or_empty(pgs->pgs_name));
    }
    ro->register_handle_create_time = get_proc_uptime_seconds();
    experimental_options *eo = gp->experimental_options;
    if (ro->nh && eo && (eo->eo_debug_flags & 2))
        su_home_init_stats(nua_handle_home(ro->nh));

    // The machine and its first timer: later registrations of a stack wait
    // for their slot, offset times the number started before them.
    int offset = ss ? ss->registration_offset : 0;
    int iteration = ss ? ss->registration_offset_iteration : 0;
    bool staggered = offset > 0 && iteration > 0;
    uint32_t state;
    long ms;
    if (staggered) {
        state = SM_SIP_WAITING_FOR_SLOT;
        ms = (long)offset * iteration;
    } else if (do_register) {
        state = SM_SIP_REGISTRATION_PENDING;
        ms = 1000L * pgs->pgs_refresh_interval_failed;
    } else {
        state = SM_SIP_NOT_VALIDATED_BY_OPTIONS;
        ms = 1000L * pgs->pgs_keepalive_interval;
    }
    ro->sm = hooks.create_statemachine_sipreg(ro, (int)state, hooks.tarn_send_event);
    ro->sm_state = state;
    arm_timer(ro, do_register ? T_EVENT_REG_REFRESH : T_EVENT_NONREGISTRATION_VALIDATE_OPTIONS, ms);
    if (!do_register) {
        ro->only_validate = 1;
        if (!staggered)
            hooks.do_reg_statemachine_run(ro, SM_WORD_VALIDATE_OPTIONS, 0);
    }

    if (ss)
        ss->registration_offset_iteration++;
    if (do_register && !staggered)
        hooks.send_default_register_request(ro);
    return 0;
}

int register_users()
{
    for (int i = 0; i < sip_group_count(); i++)
        if (sip_stack *ss = sip_group(i)->pgs_sip_stack)
            ss->registration_offset_iteration = 0;
    for (int i = 0; i < sip_group_count(); i++) {
        port_group_sip *pgs = sip_group(i);
        pg_sip_update_contact_string(pgs);
        if (!registers_or_validates(pgs))
            continue;
        for (int u = 0; u < pgs->pgs_user_count; u++)
            if (!pgs->pgs_users[u] || start_registration(pgs, pgs->pgs_users[u]) != 0)
                break; // no object left: the next group
    }
    return 0;
}

// ---- end -----------------------------------------------------------------------------------

int unregister_users()
{
    for (int i = 0; gp->registrations && i < REGISTRATIONARRAYSIZE; i++) {
        reg_object *ro = gp->registrations[i];
        if (!ro)
            continue;
        if (ro->timer) {
            timer_remove(ro->timer);
            ro->timer = nullptr;
        }
        if (ro->only_validate)
            continue;
        if (ro->sm) {
            if ((uint32_t)statemachine_get_state(ro->sm) == SM_SIP_REGISTRATION_FAILED) {
                statemachine_set_state(ro->sm, SM_SIP_REGISTRATION_UNREGISTERED);
                ro->sm_state = SM_SIP_REGISTRATION_UNREGISTERED;
                continue;
            }
            statemachine_set_state(ro->sm, SM_SIP_REGISTRATION_CLEANUP);
            ro->sm_state = SM_SIP_REGISTRATION_CLEANUP;
        }
        if (ro->nh)
            reg_sip_ops.unregister(ro->nh);
        const sip_stack *ss = ro->pgs ? ro->pgs->pgs_sip_stack : nullptr;
        if (ss && ss->registration_offset != 0)
            reg_sip_ops.pause_ms(ss->registration_offset);
    }
    return 0;
}
