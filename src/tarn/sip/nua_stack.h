// Bring-up and shutdown of the SIP stacks: one sofia-sip user agent per
// stack of the table, each on its own event-loop thread "tarn.sofia", and
// the orderly stop of the SIP side.
#pragma once
#include <sofia-sip/nua.h>

#include <cstdio>
#include <string>

struct sip_stack;
struct call_object;

// What other parts of the daemon plug in here. An unset hook falls back to
// the interim behaviour described with it; none of them is ever null after
// nua_stack_set_hooks.
struct nua_stack_hooks {
    // The SIP event hub, every stack's event callback (call control's hub
    // installs it). Unset: nua_interim_event_callback.
    nua_callback_f event_callback;
    // Ends one call for shutdown_nua, reporting to the stream (call control).
    // Unset: logs once and does nothing.
    void (*finish_call)(call_object *co, FILE *report, int origin);
};
// Installs hooks (before bring-up); null fields take their fallbacks.
void nua_stack_set_hooks(const nua_stack_hooks *hooks);
extern nua_stack_hooks nua_hooks;

// Brings up every stack of the table in order: 0, or -1 as soon as one
// fails (stacks already started stay up). Without an application object it
// logs "Event loop not initialized" and returns 0.
int init_nua_instance();

// The body of one stack's event-loop thread; returns null when its loop ends.
void *run_nua_event_loop_ss(void *ss);

// Breaks the first stack's event loop (called on that stack's own thread
// once its user agent has shut down; the main thread does the join).
void stop_nua_stack();

// The orderly stop of the SIP side: no new calls, every call finished, the
// media processor drained, then the first stack's user agent shut down.
void shutdown_nua();

// Main's last wait: the first stack's event-loop thread has ended; its
// handle is released. Returns at once when it never ran.
void wait_for_first_sip_stack();

// Until the event hub is installed: readiness check, OPTIONS answered 200,
// shutdown reported, every other handle destroyed (takes global_lock).
void nua_interim_event_callback(nua_event_t event, int status, char const *phrase, nua_t *nua,
                                nua_magic_t *magic, nua_handle_t *nh, nua_hmagic_t *hmagic,
                                sip_t const *sip, tagi_t tags[]);

// The bind URL handed to the SIP stack library for a stack's nua_sip_string.
std::string sofia_bind_url(const char *url);

// The Supported header text of a stack.
const char *sip_stack_supported(const sip_stack *ss, int enable_prack);
