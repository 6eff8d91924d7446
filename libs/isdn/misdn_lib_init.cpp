// Start-up of the ISDN library: the library record and the channel book,
// the device, one stack with its slots per configured port, and the three
// threads.
#include <pthread.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "global_lock.h"
#include "isdn_lib_intern.h"
#include "log.h"
#include "misdn_device.h"
#include "q931_hooks.h"

misdn_lib *glob_mgr = nullptr;
std::atomic<bool> isdn_stopping{false};
static std::atomic<bool> threads_running{false};
sem_t handler_started;
unsigned char flip_table[256];
unsigned char tone_425[192];
unsigned char tone_SILENCE[80];
unsigned char tone_425_flip[192];
unsigned char tone_silence_flip[80];
int misdn_cw_reject_code = 34;
int g_queue_full = 0;
int global_state = MISDN_INITIALIZING;
isdnlib_global_options isdnlib_options;

// G.711 A-law of a 16-bit sample.
static unsigned char alaw(int sample)
{
    int sign = sample >= 0 ? 0x80 : 0;
    int mag = sample >= 0 ? sample : -sample - 1;
    if (mag > 32767)
        mag = 32767;
    int exp = 7;
    for (int mask = 0x4000; exp > 0 && !(mag & mask); mask >>= 1)
        exp--;
    int mant = exp ? (mag >> (exp + 3)) & 0x0F : (mag >> 4) & 0x0F;
    return (unsigned char)((sign | (exp << 4) | mant) ^ 0x55);
}

// The tone samples: 425 Hz and silence at 8 kHz in A-law.
static void make_tones(void)
{
    for (int i = 0; i < (int)sizeof tone_425; i++)
        tone_425[i] = alaw((int)lround(8000.0 * sin(2.0 * M_PI * 425.0 * i / 8000.0)));
    memset(tone_SILENCE, alaw(0), sizeof tone_SILENCE);
}

static void make_flip_tables(void)
{
    for (int v = 0; v < 256; v++) {
        int r = 0;
        for (int b = 0; b < 8; b++)
            if (v & (1 << b))
                r |= 0x80 >> b;
        flip_table[v] = (unsigned char)r;
    }
    for (size_t i = 0; i < sizeof tone_425; i++)
        tone_425_flip[i] = flip_table[tone_425[i]];
    for (size_t i = 0; i < sizeof tone_SILENCE; i++)
        tone_silence_flip[i] = flip_table[tone_SILENCE[i]];
}

static void sem_make(sem_t *s)
{
    if (sem_init(s, 1, 0) < 0)
        sem_init(s, 0, 0);
}

// What the message coders ask about a port.
static int port_facts(int port, q931_port_facts *out)
{
    misdn_stack *s = get_stack_by_isdn_port(port);
    if (!s)
        return -1;
    out->pri = s->pri;
    out->cidlen = s->cidlen;
    out->nt = s->nt;
    return 0;
}

static void start_thread(pthread_t *t, void *(*fn)(void *), void *arg)
{
    pthread_create(t, nullptr, fn, arg);
}

int misdn_lib_init(isdn_init_info *iii, misdn_lib_iface *iface, void *)
{
    static bool debug_open = false;
    // A port list outside 1..31 is refused before anything is touched, so
    // that a library already running stays as it is.
    if (!iii || iii->port_count < 1 || iii->port_count > 31)
        return 1;
    misdn_lib *mgr = (misdn_lib *)calloc(1, sizeof(misdn_lib));
    channel_spender *cs = (channel_spender *)calloc(1, sizeof(channel_spender));
    if (!mgr || !cs) {
        free(mgr);
        free(cs);
        return 1;
    }
    misdn_lib_set_iface(iface);
    isdn_stopping = false;
    glob_mgr = mgr;
    chan_mgr = cs;

    msg_init();
    if (debug_open)
        debug_close();
    debug_init(0, nullptr, nullptr, nullptr);
    debug_open = true;

    if (!g_lock_manager)
        lock_manager_create();
    make_tones();
    make_flip_tables();

    mgr->midev = te_lib_init();
    int maxports = mgr->midev < 1 ? 0 : mISDN_get_stack_count(mgr->midev);
    if (maxports < 0)
        maxports = 0;
    channel_spender_init(cs, maxports);

    msg_queue_init(&mgr->activatequeue);
    msg_queue_init(&mgr->sender_queue);
    sem_make(&mgr->new_sender_msg);
    sem_make(&mgr->new_msg);

    q931_hooks hooks{};
    hooks.port_facts = port_facts;
    hooks.send_event = misdn_lib_send_event;
    q931_set_hooks(&hooks);

    misdn_stack **tail = &mgr->stack_list;
    for (int k = 0; k < iii->port_count; k++) {
        int port = iii->ports[k];
        if (port > maxports) {
            cb_log(0, port, -1, "misdn_lib_init: Couldn't Initialize this port %i since we have only %d ports\n",
                   port, maxports);
            fprintf(stderr, "misdn_lib_init: Couldn't Initialize this port %i since we have only %d ports\n", port,
                    maxports);
            TARN_EXIT(121, "misdn_lib_init: port %i above the %d ports of mISDN", port, maxports);
        }
        misdn_stack *stack = stack_init(mgr->midev, port, iii->ptp[k], iii->crlen[k], iii->cidlen[k]);
        if (!stack) {
            perror("init_stack");
            fprintf(stderr, "misdn_lib_init: no stack\n");
            TARN_EXIT(122, "misdn_lib_init: no stack for port %i", port);
        }
        *tail = stack;
        tail = &stack->next;
        for (int i = 0; i <= stack->b_num && i < MISDN_SLOTS; i++) {
            int r = init_bc(stack, &stack->bc[i], stack->midev, port, i < stack->b_num ? i : -1, "", 1);
            if (r < 0) {
                cb_log(0, port, -1, "Got Err @ init_bc :%d\n", r);
                if (k == 0) {
                    fprintf(stderr, "Got Err @ init_bc :%d\n", r);
                    TARN_EXIT(123, "Got Err @ init_bc :%d", r);
                }
                fprintf(stderr, "Got Err @ init_bc(2) :%d\n", r);
                TARN_EXIT(124, "Got Err @ init_bc(2) :%d", r);
            }
        }
    }

    sem_make(&handler_started);
    cb_log(8, 0, -1, "Starting Event Sender\n");
    start_thread(&mgr->event_sender, application_event_sender, mgr);
    cb_log(8, 0, -1, "Starting Event Handler\n");
    start_thread(&mgr->event_handler_thread, manager_event_handler, mgr);
    while (sem_wait(&handler_started) < 0) {
    }
    cb_log(8, 0, -1, "Starting Event Catcher\n");
    start_thread(&mgr->event_thread, misdn_lib_isdn_event_catcher, mgr);
    cb_log(8, 0, -1, "Event Catcher started\n");
    global_state = MISDN_INITIALIZED;
    threads_running = true;
    return 0;
}

void misdn_lib_destroy(void)
{
    misdn_lib *mgr = glob_mgr;
    if (!mgr || !threads_running.exchange(false))
        return;
    isdn_stopping = true;
    // Closing the device wakes the catcher from its read and ends the
    // device's timers (the network side's among them).
    mISDN_close(mgr->midev);
    sem_post(&mgr->new_msg);
    sem_post(&mgr->new_sender_msg);
    tarn_join_thread(mgr->event_thread, "tarn.isdn_evc");
    tarn_join_thread(mgr->event_handler_thread, "tarn.isdn_evh");
    tarn_join_thread(mgr->event_sender, "tarn.isdn_evs");
    global_state = MISDN_INITIALIZING;
    cb_log(2, 0, -1, "misdn_lib_destroy: threads stopped, device closed\n");
}
