// Modem control ports: the port table, opening and closing the modem devices,
// the reader threads' lifecycle, the port claim for calls, modem power and
// LED through the GSM driver's sysfs files, and the line-interface types.
#pragma once
#include "gsm_types.h"

#include <atomic>
#include <pthread.h>
#include <semaphore.h>

enum { GSM_READ_BUFFER_SIZE = 8192 };

struct _libgsm_ctlport_t {
    std::atomic<int> port;                  // 1-based; 0 marks a free record (start-up looks it up while other ports start)
    int fd_r;                               // modem device, read-only
    int fd_w;                               // modem device, write-only
    pthread_t thread;                       // reader thread
    bool thread_running;                    // a reader thread exists and must be joined
    sem_t ready;                            // posted once per initialisation
    bool ready_valid;                       // `ready` is initialised
    std::atomic<int> successfully_initialized;
    std::atomic<int> lte_hook_applied;
    gsm_config_t *cfg;
    char read_buffer[GSM_READ_BUFFER_SIZE]; // buffered reader, NUL-terminated
    int read_len;
    std::atomic<int> port_state;            // _libgsm_ctlport_state_t
    int modem_state;                        // _libgsm_modem_state_t
    char modem_name[32];
    std::atomic<int> hung_up;               // the device reported a hang-up
    int cds_header_seen;                    // reader: last line was "+CDS:"
};

extern _libgsm_ctlport_t libgsm_ctlport[GSM_PORT_TABLE];
extern gsm_event_callback libgsm_event_new_callback;
extern gsm_global_config *libgsm_global_config;
extern pthread_mutex_t gsmlib_send_lock[GSM_PORT_TABLE];

// Line-interface type per GSM port: 1 GSM module, 2 LTE module, 0 none.
struct gsm_liftype { int lif; int type; };
extern gsm_liftype gsm_liftype_arr[8];

extern std::atomic<int> gsm_ready_counter;

// Start and stop.
int gsm_cfg_init(gsm_config_t *cfg);
int gsm_init(gsm_event_callback cb, gsm_config_t *cfg, gsm_global_config *global);
int libgsm_port_init(int port, gsm_config_t *cfg);
int libgsm_port_shutdown(int port);
void gsm_shutdown();
int libgsm_port_close(_libgsm_ctlport_t *ctl);
int libgsm_end_gsm_event_thread(int port);

// The record of a port number (searching records 1..count), or null after
// logging "libgsm_getctlport failed" and setting errno to ENODEV.
_libgsm_ctlport_t *libgsm_getctlport(int port);
int gsm_port_get_count();

// Port state queries and changes.
int gsm_port_is_ready(int port);
int gsm_port_is_successfully_initialized(int port);
int gsm_port_get_inuse(int port);
int libgsm_port_fetch(int port);
int libgsm_port_release(int port);
const char *libsm_get_port_state_string(int port);
const char *libsm_get_modem_name(int port);
int gsm_port_wants_lte_hook(int port);
int gsm_port_set_lte_hook_applied(int port, int applied);
void gsm_format_cid_string(int port, char *buf, int size);

// Line-interface types.
void gsm_liftype_init_element(int lif, int *port);
void gsm_liftype_init();
int gsm_lif_get_type(int lif);
int gsm_port_is_lte(int port);
int gsm_port_get_lif(int port);

// Modem power and LED.
int libgsm_modem_enable(int port);
int libgsm_modem_disable(int port);
int libgsm_modem_disable_wait(int port);
int libgsm_ctrl_led(int port, int led, int state);
int gsm_reset_line_interface(int li, int port_a, int port_b);

// Thread body of the modem library's clock ("tarn.gsmtimer"), which
// bring-up starts in a thread of its own beside gsm_init.
void *gsm_timer_function(void *arg);
// Ends the clock's loop within one tick (100 ms); whoever started the
// thread then waits for it. For the orderly stop, after gsm_shutdown.
void gsm_timer_stop(void);
extern std::atomic<int> gsm_time;

// The reader thread body ("tarn.gsm%i").
void *new_gsm_event_thread(void *arg);
