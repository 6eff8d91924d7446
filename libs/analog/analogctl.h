// Analog FXS/FXO control ports: the analog line driver's control devices
// (/dev/analog<n>, command words in, event lines out) and its sysfs class
// kvxanalog (type and electrical state of each port).
//
// Ports are numbered 1 to 31; port p uses /dev/analog<p-1> and
// /sys/class/kvxanalog/<p-1>/. Every table below is indexed by port number
// and has ANALOG_PORT_TABLE rows (row 0 stays empty); every access checks the
// index first.
#pragma once
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstdio>

enum {
    ANALOG_PORT_TABLE = 32,
    ANALOG_PORT_MIN = 1,
    ANALOG_PORT_MAX = 31,
    ANALOG_LINE_SIZE = 256 // one read of at most 255 bytes
};

enum analog_port_type { ANALOG_TYPE_NONE = 0, ANALOG_TYPE_FXS = 1, ANALOG_TYPE_FXO = 2 };

enum analog_events {
    ANALOG_EVENT_UNKNOWN = 8192,
    ANALOG_EVENT_OFFHOOK = 8193,
    ANALOG_EVENT_ONHOOK = 8194,
    ANALOG_EVENT_POLARITY = 8195,
    ANALOG_EVENT_RINGING = 8196,
    ANALOG_EVENT_RINGING_PENDING = 8197,
    ANALOG_EVENT_IDLE = 8198,
    ANALOG_EVENT_IDLE_PENDING = 8199,
    ANALOG_EVENT_RINGOFF = 8200,
    ANALOG_EVENT_FLASHHOOK = 8201,
    ANALOG_EVENT_DISMANTLE = 8202,
    ANALOG_EVENT_BUSY_TONE = 8203,
    ANALOG_EVENT_UNOBTAINABLE_TONE = 8204,
    ANALOG_EVENT_MESSAGE_WAITING_DELIVERED = 8205,
    ANALOG_EVENT_TAXPULSE12 = 8206,
    ANALOG_EVENT_TAXPULSE16 = 8207,
    ANALOG_EVENT_POLARITY_STANDARD = 8208,
    ANALOG_EVENT_POLARITY_CONNECT = 8209,
    ANALOG_EVENT_POLARITY_DISCONNECT = 8210,
    ANALOG_EVENT_WINK = 8211
};

enum analog_port_states {
    ANALOG_STATE_UNKNOWN = 0,
    ANALOG_STATE_BROKEN = 1,
    ANALOG_STATE_FXO_IDLE = 2,
    ANALOG_STATE_FXO_IDLE_PENDING = 3,
    ANALOG_STATE_FXO_RINGING = 4,
    ANALOG_STATE_FXO_RINGING_PENDING = 5,
    ANALOG_STATE_FXO_OFFHOOK = 6,
    ANALOG_STATE_FXO_CONNECTED = 7,
    ANALOG_STATE_FXO_POLARITY_REVERSAL = 8,
    ANALOG_STATE_FXO_PENDING_IDLE = 9,
    ANALOG_STATE_FXS_IDLE = 10,
    ANALOG_STATE_FXS_RINGING = 11,
    ANALOG_STATE_FXS_OFFHOOK = 12,
    ANALOG_STATE_FXS_CONNECTED = 13,
    ANALOG_STATE_FXS_POLARITY_REVERSAL = 14,
    ANALOG_STATE_FXS_PENDING_IDLE = 15
};

// The line callback: (port, analog_events code). Its result is not used.
typedef int (*analog_event_callback)(int port, unsigned int event);

// One row of the bring-up's port configuration (32 rows, by port number).
struct analog_port_configuration {
    int configured;    // nonzero: open this port
    int type;          // 1 FXS, 2 FXO
    int wink_duration; // sent with a wink command
};

// The sysfs state of one port.
struct analog_proc_info {
    int type; // 1 FXS, 2 FXO
    analog_port_states state;
    int linevoltage;
    int polarity;
    int vbat;
    int rtlc;
};

// One control port.
struct analog_ctlport {
    FILE *fpw;                   // stream handles: left empty
    FILE *fpr;
    int fdw;                     // control device, write-only
    int fdr;                     // control device, read-only
    pthread_t t;                 // read thread
    void *ct;                    // kept empty
    int fd;                      // kept empty (-1)
    char *initfile;              // kept empty
    int port;                    // 0: row not opened
    int configured;
    int type;                    // 1 FXS, 2 FXO
    std::atomic<int> fxs_wink_duration; // the console may change it at run time
    int aport_in_use;
    std::atomic<int> aport_fxs_offhook; // last event read was an off-hook
    void *priv;
};

// Start: stores the callback, reads sysfs, opens every configured port 1..31
// and waits until each read thread runs. 0, or -1 after
// "Couldn't initialize analog port %i\n" on standard error.
int analog_init(analog_event_callback cb, const analog_port_configuration *config, int sysdebug);
// The orderly end: every read thread leaves its loop and is waited for (not
// the calling thread, when it is one of them), then the devices are closed
// and the rows emptied; no callback runs once it returns. Safe to call twice
// and without analog_init.
void analog_shutdown(void);

// Sends the command word of an event to the port; always 0.
int analog_send_event(int port, int event);
// Writes a raw string to the port's control device; 0, or -1 when the port
// is not open ("CRITICAL: no ctrl for port %i").
int analog_send(int port, const char *text);

// The row of an opened port 1..31, or null.
analog_ctlport *get_analog_ctlport(int port);

int analog_port_is_valid(int port);
int analog_get_type_by_port(int port);
int analog_is_fxs_in_offhook_state(int port);

// Fills states[0..] from /sys/class/kvxanalog/<i>/ until the first port
// without files; 0.
int read_analog_state(analog_proc_info states[ANALOG_PORT_TABLE]);

// Names and decoders.
const char *analog_state_to_string(int state);
const char *analog_event_to_str(int type, int event);
const char *analog_porttype_to_string(int type);
int analog_str_to_event(const char *line);
analog_port_states analog_str_to_state(int type, const char *text);
