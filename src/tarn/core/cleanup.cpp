#include "cleanup.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "application.h"
#include "cause_map.h"
#include "confman.h"
#include "dialplan.h"
#include "log.h"
#include "pools.h"
#include "tones.h"

void stop_threads()
{
    if (!gp)
        return;
    __atomic_store_n(&gp->run_sm_helper, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&gp->run_pcm_server, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&gp->run_status_server, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&gp->run_msp_safeguard, 0, __ATOMIC_RELEASE);
    usleep(100 * 1000);
}

namespace {

void not_built(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(TARN, 0, nullptr, "CRITICAL: cleanup_memory: %s is not part of this build", what);
}

void reset_call_not_built(call_object *)
{
    static std::atomic<bool> said{false};
    not_built(said, "the call reset");
}

void reset_registration_not_built(reg_object *)
{
    static std::atomic<bool> said{false};
    not_built(said, "the registration reset");
}

void free_task_list_not_built(task_list *)
{
    static std::atomic<bool> said{false};
    not_built(said, "the state-machine task list");
}

cleanup_hooks hooks = {reset_call_not_built, reset_registration_not_built, free_task_list_not_built};

} // namespace

void cleanup_set_hooks(const cleanup_hooks *in)
{
    if (!in) {
        hooks = {reset_call_not_built, reset_registration_not_built, free_task_list_not_built};
        return;
    }
    // Each owner fills its own members; the others stay as they are.
    if (in->reset_call)
        hooks.reset_call = in->reset_call;
    if (in->reset_registration)
        hooks.reset_registration = in->reset_registration;
    if (in->free_task_list)
        hooks.free_task_list = in->free_task_list;
}

void cleanup_memory()
{
    application_object *app = gp;
    if (!app)
        return;
    // 1. The thread handles of the task runner and the status server are
    // held by value in the application object: nothing to free.

    // 2. call objects
    for (call_object *&co : app->operations) {
        if (!co)
            continue;
        hooks.reset_call(co);
        delete co;
        co = nullptr;
    }

    // 3. registration objects
    if (app->registrations) {
        for (int i = 0; i < REGISTRATIONARRAYSIZE; i++) {
            reg_object *&ro = app->registrations[i];
            if (!ro)
                continue;
            hooks.reset_registration(ro);
            delete ro;
            ro = nullptr;
        }
        delete[] app->registrations;
        app->registrations = nullptr;
    }

    // 4. the command line stays (main owns it for the life of the process);
    // tone sets, task list, RTP port pool (the dial plan path is part of the
    // object)
    free_tone_list(app->tonelist);
    app->tonelist = nullptr;
    if (app->smrunlist) {
        hooks.free_task_list(app->smrunlist);
        app->smrunlist = nullptr;
    }
    if (app->rtp_ports) {
        for (sip_stack &ss : app->sip_stacks)
            if (ss.rtp_ports == app->rtp_ports)
                ss.rtp_ports = nullptr;
        free(app->rtp_ports);
        app->rtp_ports = nullptr;
    }

    // 5. dial plan
    dialplan_free_table();

    // 6. configuration managers, in this order
    for (cm **c : {&app->config_tones, &app->config_tarn, &app->config_isdn, &app->config_sip,
                   &app->config_analog, &app->config_cas, &app->config_gsm}) {
        if (*c)
            cm_destroy(*c);
        *c = nullptr;
    }

    // 7. cause map
    clean_causes_map();
}
