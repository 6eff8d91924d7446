#include "sm_tasks.h"

#include <sofia-sip/nua.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "analog_watchdog.h"
#include "application.h"
#include "call_info.h"
#include "call_lookups.h"
#include "call_reset.h"
#include "log.h"
#include "pools.h"
#include "reg_object.h"
#include "sm_run.h"
#include "statemachine.h"
#include "timer.h"

void (*nh_destroy_fn)(nua_handle_s *nh) = nua_handle_destroy;

namespace {

bool runner_started = false;

// The event a registration task code stands for; 0 for a call task.
int registration_word(int code)
{
    switch (code) {
    case SM_REG_TASK_REG_REFRESH: return SM_WORD_REG_REFRESH_TIMER;
    case SM_REG_TASK_REGISTRATION_REFRESH: return SM_WORD_REGISTRATION_REFRESH;
    case SM_REG_TASK_VALIDATE_OPTIONS: return SM_WORD_VALIDATE_OPTIONS;
    case SM_REG_TASK_REGISTER_408: return SM_WORD_REGISTER_408;
    default: return 0;
    }
}

task_list *app_task_list()
{
    if (!gp)
        return nullptr;
    task_list *l = __atomic_load_n(&gp->smrunlist, __ATOMIC_ACQUIRE);
    if (l)
        return l;
    // Made at start-up before any producer runs; made here for code that
    // queues earlier (tests, start-up steps).
    static pthread_mutex_t make_lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&make_lock);
    l = gp->smrunlist;
    if (!l) {
        l = create_task_list();
        __atomic_store_n(&gp->smrunlist, l, __ATOMIC_RELEASE);
    }
    pthread_mutex_unlock(&make_lock);
    return l;
}

int append_task(void *object, int event, int pid, int check_pid)
{
    task_list *l = app_task_list();
    if (!l)
        return -1;
    sm_run_info *t = (sm_run_info *)calloc(1, sizeof *t);
    if (!t)
        return -1;
    t->co = object;
    t->event = event;
    t->pid = pid;
    t->check_pid = check_pid;
    pthread_mutex_lock(&l->lock);
    if (l->last)
        l->last->list = t;
    else
        l->first = t;
    l->last = t;
    return pthread_mutex_unlock(&l->lock);
}

sm_run_info *take_task(task_list *l)
{
    pthread_mutex_lock(&l->lock);
    sm_run_info *t = l->first;
    if (t) {
        l->first = t->list;
        if (!l->first)
            l->last = nullptr;
    }
    pthread_mutex_unlock(&l->lock);
    return t;
}

pthread_mutex_t *global_lock()
{
    return g_lock_manager ? g_lock_manager->global_lock : nullptr;
}

void lock_global()
{
    if (pthread_mutex_t *m = global_lock())
        pthread_mutex_lock(m);
}

void unlock_global()
{
    if (pthread_mutex_t *m = global_lock())
        pthread_mutex_unlock(m);
}

void run_registration_task(reg_object *ro, int word)
{
    lock_global();
    if (ro && ro->sm)
        do_reg_statemachine_run(ro, word, 0);
    else
        LOGD(TARN, 5, nullptr, "registration object %p has no state machine", (void *)ro);
    unlock_global();
}

void run_call_task(const sm_run_info *t)
{
    call_object *co = (call_object *)t->co;
    if (!co) {
        LOGD(TARN, 1, nullptr, "CRITICAL: call object==NULL!");
        return;
    }
    lock_global();
    if (t->check_pid && co->pid != t->pid) {
        // Queued for a call that has ended since; the object now carries
        // another call (or none), which the task must not touch.
        unlock_global();
        LOGD(TARN, 5, nullptr, "dropping task 0x%x for pid %i: the call object now has pid %i",
             (unsigned)t->event, t->pid, co->pid);
        return;
    }
    if (!co->sm) {
        unlock_global();
        LOGD(TARN, 5, nullptr, "call object sm==NULL!");
        return;
    }
    if (t->event == SM_WORD_FINISH_CALL && co->special_termination_reason == 0)
        co->special_termination_reason = 1;
    if ((uint32_t)statemachine_get_state(co->sm) == SM_DESTROYING) {
        LOGD_CALL(TARN, 5, co, "ignoring sm event -- co->sm already in state SM_DESTROYING");
        unlock_global();
        return;
    }
    do_statemachine_run(co, t->event, 0);
    uint32_t state = (uint32_t)statemachine_get_state(co->sm);
    if (state == SM_DESTROYING) {
        int analog_port = co->analog_port;
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        LOGD(TARN, 5, nullptr, "calling reset_op for %p", (void *)co);
        // The reset runs under global_lock like every other reset of a call.
        reset_op(co);
        unlock_global();
        start_analog_watchdog_on_port(analog_port, 1);
        return;
    }
    if (state == SM_DISMANTLING)
        start_dismantling_timer(co);
    unlock_global();
}

void run_task(const sm_run_info *t)
{
    if (int word = registration_word(t->event))
        run_registration_task((reg_object *)t->co, word);
    else
        run_call_task(t);
}

} // namespace

task_list *create_task_list()
{
    task_list *l = (task_list *)calloc(1, sizeof *l);
    if (l)
        pthread_mutex_init(&l->lock, nullptr);
    return l;
}

void free_task_list(task_list *l)
{
    if (!l)
        return;
    for (sm_run_info *t = l->first; t;) {
        sm_run_info *next = t->list;
        free(t);
        t = next;
    }
    pthread_mutex_destroy(&l->lock);
    free(l);
}

int add_sm_task(call_object *co, int event) { return append_task(co, event, 0, 0); }

int add_sm_task_reg(reg_object *ro, int code) { return append_task(ro, code, 0, 0); }

int add_sm_task_check_pid(call_object *co, int event)
{
    return append_task(co, event, co ? co->pid : 0, 1);
}

int sm_run_pending_tasks()
{
    task_list *l = app_task_list();
    if (!l)
        return 0;
    // Only what is queued now: tasks the runs append wait for the next call.
    pthread_mutex_lock(&l->lock);
    sm_run_info *end = l->last;
    pthread_mutex_unlock(&l->lock);
    int n = 0;
    while (end) {
        sm_run_info *t = take_task(l);
        if (!t)
            break;
        bool last = t == end;
        run_task(t);
        free(t);
        n++;
        if (last)
            break;
    }
    return n;
}

void *sm_run_helper(void *)
{
    prctl(PR_SET_NAME, "tarn.smhelper", 0, 0, 0);
    task_list *l = app_task_list();
    while (l) {
        sm_run_info *t = take_task(l);
        if (!t) {
            if (!gp || __atomic_load_n(&gp->run_sm_helper, __ATOMIC_ACQUIRE) == 0)
                break;
            usleep(10000);
            continue;
        }
        run_task(t);
        free(t);
    }
    return nullptr;
}

int start_sm_helper()
{
    if (!gp || !app_task_list())
        return -1;
    if (runner_started)
        return 0;
    __atomic_store_n(&gp->run_sm_helper, 1, __ATOMIC_RELEASE);
    if (pthread_create(&gp->smhelper_thread, nullptr, sm_run_helper, nullptr) != 0) {
        gp->run_sm_helper = 0;
        LOGD(TARN, 0, nullptr, "CRITICAL: couldn't start the state-machine task runner");
        return -1;
    }
    runner_started = true;
    return 0;
}

void join_sm_helper()
{
    if (!runner_started || !gp)
        return;
    __atomic_store_n(&gp->run_sm_helper, 0, __ATOMIC_RELEASE);
    if (tarn_join_thread(gp->smhelper_thread, "the state-machine task runner") == 0)
        runner_started = false;
}

// ---- the common timer callback ---------------------------------------------

namespace {

bool is_isdn_kind(int ci) { return ci == CI_SIP_TO_ISDN || ci == CI_ISDN_TO_SIP; }
bool is_analog_kind(int ci) { return ci == CI_SIP_TO_ANALOG || ci == CI_ANALOG_TO_SIP; }
bool is_cas_kind(int ci) { return ci == CI_SIP_TO_CAS || ci == CI_CAS_TO_SIP; }

// The TIMER word of the event for the call, when it has a machine.
void queue_timer_word(call_object *co, int32_t event)
{
    if (co && co->sm)
        add_sm_task(co, sm_timer(event));
}

void queue_word(call_object *co, int32_t word)
{
    if (co && co->sm)
        add_sm_task(co, word);
}

bool is_failover_cause(const call_object *co, int status)
{
    for (int i = 0; i < co->cc.sip_failover_causes_size && i < 20; i++)
        if (co->cc.sip_failover_causes[i] == status)
            return true;
    return false;
}

void sip_timer_expired(call_object *co, int status)
{
    if (!co || !co->sm)
        return;
    if (co->cl_sip)
        co->cl_sip->last_nua_status_code = status;
    bool failover = is_failover_cause(co, status) && (co->cc.sip_failover_proxy[0] || co->cc.dialplan_go_on);
    add_sm_task(co, failover ? SM_WORD_INVITE_FAILOVER : SM_WORD_INVITE_FINAL);
}

void registration_timer(int32_t event, kv_timer *timer, int code)
{
    LOGD(TARN, 5, nullptr, "got event %i for timer %p", event, (void *)timer);
    if (reg_object *ro = get_registration_by_timer(timer))
        if (ro->sm)
            add_sm_task_reg(ro, code);
}

void other_timer(int32_t event, kv_timer *timer)
{
    LOGD(TARN, 5, nullptr, "got event %i for timer %p", event, (void *)timer);
    call_object *co = get_operation_by_timer(timer);
    if (!co) {
        LOGD(TARN, 5, nullptr, "couldn't find call object for timer %p", (void *)timer);
        return;
    }
    if ((is_isdn_kind(co->callinfo) && co->bc) || is_analog_kind(co->callinfo) || is_cas_kind(co->callinfo)) {
        queue_timer_word(co, event);
        return;
    }
    if (!co->bc)
        LOGD(TARN, 5, nullptr, "call object for timer %p hasn't got a bchannel", (void *)timer);
}

void rtp_check(kv_timer *timer)
{
    call_object *co = get_operation_by_rtp_stat_timer(timer);
    if (!co)
        return;
    // The media clean-up removes timers while it holds msp_queue_lock, and
    // this thread holds the timer list: waiting here could deadlock. A busy
    // queue skips this tick; the timer comes again.
    pthread_mutex_t *q = g_lock_manager ? g_lock_manager->msp_queue_lock : nullptr;
    if (q && pthread_mutex_trylock(q) != 0) {
        LOGD(TARN, 9, nullptr, "media queue busy: RTP check of timer %p skipped", (void *)timer);
        return;
    }
    callctl_media().call_rtp_stat(co);
    if (q)
        pthread_mutex_unlock(q);
}

} // namespace

int32_t cb_timer_event(int32_t event, kv_timer *timer)
{
    switch (event) {
    case T_EVENT_REG_REFRESH:
        registration_timer(event, timer, SM_REG_TASK_REG_REFRESH);
        return 1;
    case T_EVENT_NONREGISTRATION_VALIDATE_OPTIONS:
        registration_timer(event, timer, SM_REG_TASK_VALIDATE_OPTIONS);
        return 1;
    case T_EVENT_CLEANUP:
    case T_EVENT_RINGBACK_TIMEOUT:
    case T_EVENT_ANALOG_WAIT_FOR_CID_TIMEOUT:
    case T_EVENT_ANALOG_ONHOOK:
    case T_EVENT_GSM_WAIT_FOR_CID_TIMEOUT:
        queue_timer_word(get_operation_by_timer(timer), event);
        return 0;
    case T_EVENT_FEATURE_TIMER_F:
        queue_timer_word(get_operation_by_fcf_timer(timer), event);
        return 0;
    case T_EVENT_FEATURE_TIMER_T:
        queue_timer_word(get_operation_by_fct_timer(timer), event);
        return 0;
    case T_EVENT_FEATURE_TIMER_FLUSH: {
        call_object *co = get_operation_by_fcflush_timer(timer);
        if (co && co->feature_code_flush_buffer[0])
            queue_timer_word(co, event);
        return 1;
    }
    case T_EVENT_FORCE_T38:
        queue_timer_word(get_operation_by_force_t38_timer(timer), event);
        return 0;
    case T_EVENT_FXS_WINK_TIMER:
        queue_timer_word(get_operation_by_fxs_wink_timer(timer), event);
        return 0;
    case T_EVENT_DNS_ENUM_TIMER:
        queue_timer_word(get_operation_by_dns_enum_timer(timer), event);
        return 1;
    case T_EVENT_FXO_ALERTING_ENDED_TIMER:
        queue_timer_word(get_operation_by_fxo_alerting_ended_timer(timer), event);
        return 0;
    case T_EVENT_FXO_CPT_DIALING_TIMER:
    case T_EVENT_FXO_CPT_POLREV_TIMER:
        queue_timer_word(get_operation_by_fxo_cpt_timer(timer), event);
        return 0;
    case T_EVENT_AOC_OUTGOING_TIMER:
        queue_timer_word(get_operation_by_aoc_outgoing_timer(timer), event);
        return 0;
    case T_EVENT_DIALTONE_DETECTION_TIMEOUT: {
        call_object *co = get_operation_by_dialtone_detection_timer(timer);
        if (co) {
            LOGD(TARN, 5, nullptr, "T_EVENT_DIALTONE_DETECTION_TIMEOUT");
            queue_word(co, sm_general(GENERAL_EVENT_ANALOG_DIALTONE_DETECTED));
        }
        return 0;
    }
    case T_EVENT_STATE_EVENT_MISSING_SAFEGUARD: {
        call_object *co = get_operation_by_state_event_missing_safeguard_timer(timer);
        if (co && co->sm)
            finish_call(stderr, get_index_of_operation(co), 3);
        return 0;
    }
    case T_EVENT_RTP_CHECK_INBOUND_TRAFFIC:
        rtp_check(timer);
        return 1;
    case T_EVENT_SIP_T0_TIMEOUT:
        sip_timer_expired(get_operation_by_sip_t0_timer(timer), SIP_TIMER_STATUS_T0);
        return 0;
    case T_EVENT_SIP_T180_TIMEOUT:
        sip_timer_expired(get_operation_by_sip_t180_timer(timer), SIP_TIMER_STATUS_T180);
        return 0;
    case T_EVENT_SIP_T183_TIMEOUT:
        sip_timer_expired(get_operation_by_sip_t183_timer(timer), SIP_TIMER_STATUS_T183);
        return 0;
    case T_EVENT_SIP_T200_TIMEOUT:
        sip_timer_expired(get_operation_by_sip_t200_timer(timer), SIP_TIMER_STATUS_T200);
        return 0;
    case T_EVENT_FAILOVER_TIMEOUT:
        sip_timer_expired(get_operation_by_failover_timer(timer), SIP_TIMER_STATUS_FAILOVER);
        return 0;
    default:
        other_timer(event, timer);
        return 0;
    }
}

// ---- SIP handles waiting for destruction ---------------------------------------

namespace {

nua_handle_dismantler *dismantler()
{
    if (!gp)
        return nullptr;
    if (!gp->nh_dismantler)
        gp->nh_dismantler = calloc(1, sizeof(nua_handle_dismantler));
    return (nua_handle_dismantler *)gp->nh_dismantler;
}

} // namespace

void nua_handle_insert_into_destroy_queue(nua_handle_s *nh)
{
    if (!nh)
        return;
    lock_hold hold(&lock_manager::nua_handle_cleanup_lock);
    nua_handle_dismantler *d = dismantler();
    for (int i = 0; d && i < NH_DESTROY_SLOTS; i++) {
        if (!d->destroy_nh_list[i]) {
            d->destroy_nh_list[i] = nh;
            d->destroy_times[i] = time(nullptr);
            d->count++;
            return;
        }
    }
    nh_destroy_fn(nh);
}

int nua_handle_destroy_in_destroy_queue(nua_handle_s *nh)
{
    if (!nh)
        return -1;
    lock_hold hold(&lock_manager::nua_handle_cleanup_lock);
    nua_handle_dismantler *d = dismantler();
    for (int i = 0; d && i < NH_DESTROY_SLOTS; i++) {
        if (d->destroy_nh_list[i] == nh) {
            nh_destroy_fn(nh);
            d->destroy_nh_list[i] = nullptr;
            d->count--;
            return 0;
        }
    }
    return -1;
}

void nua_handle_cleanup_queue()
{
    lock_hold hold(&lock_manager::nua_handle_cleanup_lock);
    nua_handle_dismantler *d = gp ? (nua_handle_dismantler *)gp->nh_dismantler : nullptr;
    if (!d || d->count < 1)
        return;
    time_t now = time(nullptr);
    for (int i = 0; i < NH_DESTROY_SLOTS && d->count > 0; i++) {
        if (!d->destroy_nh_list[i])
            continue;
        if (labs((long)(now - d->destroy_times[i])) > 2) {
            nh_destroy_fn(d->destroy_nh_list[i]);
            d->destroy_nh_list[i] = nullptr;
            d->count--;
        }
    }
}
