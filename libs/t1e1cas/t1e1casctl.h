// T1/E1 channel-associated signalling: FXS-KS and FXO-KS loop signalling on
// T1 channels and the MFC/R2 line signalling on E1 channels, through the line
// driver's per-channel devices /dev/cas<dev>/<chan> that carry the four ABCD
// bits as a text line ("0101\n") in each direction.
//
// Channels ("ports") are numbered 1 to 149; every per-port table has
// CAS_PORT_TABLE entries and entry 0 stays empty. Every access by port number
// checks the number first.
#pragma once
#include <pthread.h>
#include <sys/time.h>

#include <atomic>
#include <cstdio>

enum {
    CAS_PORT_TABLE = 150,
    CAS_PORT_MIN = 1,
    CAS_PORT_MAX = 149,
    CAS_HISTORY = 10,   // entries of each event history
    CAS_LINE_SIZE = 256 // one read of at most 255 bytes
};

enum cas_signalling_type {
    CAS_SIGNALLING_UNKNOWN = 0,
    CAS_SIGNALLING_T1_FXSKS = 1,
    CAS_SIGNALLING_T1_FXOKS = 2,
    CAS_SIGNALLING_E1_MFCR2 = 3
};

enum cas_protocol_type {
    HWCONF_PROTOCOL_NONE = 0,
    HWCONF_ISDN_PROTOCOL_E1 = 1,
    HWCONF_ISDN_PROTOCOL_T1 = 2,
    HWCONF_ISDN_PROTOCOL_BRI = 3
};

enum cas_direction {
    CAS_DIRECTION_NONE = 0,
    CAS_DIRECTION_INBOUND = 1,
    CAS_DIRECTION_OUTBOUND = 2,
    CAS_DIRECTION_FORWARD = 3,
    CAS_DIRECTION_BACKWARD = 4
};

// CAS_PATTERN_0000 .. CAS_PATTERN_1111: the four bits as a number, plus 1.
enum cas_event_pattern {
    CAS_PATTERN_UNDEFINED = 0,
    CAS_PATTERN_0000 = 1, CAS_PATTERN_0001, CAS_PATTERN_0010, CAS_PATTERN_0011,
    CAS_PATTERN_0100, CAS_PATTERN_0101, CAS_PATTERN_0110, CAS_PATTERN_0111,
    CAS_PATTERN_1000, CAS_PATTERN_1001, CAS_PATTERN_1010, CAS_PATTERN_1011,
    CAS_PATTERN_1100, CAS_PATTERN_1101, CAS_PATTERN_1110,
    CAS_PATTERN_1111 = 16
};

enum cas_timer_events {
    CAS_TIMER_EVENT_ONHOOK = 0,
    CAS_TIMER_EVENT_RING = 1,
    CAS_TIMER_EVENT_RINGOFF = 2
};

enum cas_port_state {
    CAS_STATE_UNKNOWN = 0,
    CAS_STATE_E1_IDLE = 1,
    CAS_STATE_E1_SEIZE = 2,
    CAS_STATE_E1_SEIZE_ACKNOWLEDGED = 3,
    CAS_STATE_E1_CONNECTED = 4,
    CAS_STATE_T1_IDLE = 5,
    CAS_STATE_T1_RINGING_INBOUND = 6,
    CAS_STATE_T1_RINGING_OUTBOUND = 7,
    CAS_STATE_T1_OFFHOOK = 8
};

enum cas_events {
    CAS_EVENT_UNKNOWN = 32768,
    CAS_EVENT_OFFHOOK = 32769,
    CAS_EVENT_ONHOOK = 32770,
    CAS_EVENT_POLARITY = 32771,
    CAS_EVENT_RINGING = 32772,
    CAS_EVENT_IDLE = 32773,
    CAS_EVENT_RINGOFF = 32774,
    CAS_EVENT_FLASHHOOK = 32775,
    CAS_EVENT_DISMANTLE = 32776,
    CAS_EVENT_BUSY_TONE = 32777,
    CAS_EVENT_UNOBTAINABLE_TONE = 32778,
    CAS_EVENT_MESSAGE_WAITING_DELIVERED = 32779,
    CAS_EVENT_TAXPULSE12 = 32780,
    CAS_EVENT_TAXPULSE16 = 32781,
    CAS_EVENT_INBOUND_RINGING_ONHOOK = 32782,
    CAS_EVENT_RINGING_START = 32783,
    CAS_EVENT_RINGING_PAUSE = 32784,
    CAS_EVENT_SEIZE = 32785,
    CAS_EVENT_SEIZE_ACKNOWLEDGE = 32786,
    CAS_EVENT_DIAL_OUTBOUND = 32787,
    CAS_EVENT_MFDIAL_FINISHED = 32788,
    CAS_EVENT_MFBUSY = 32789,
    CAS_EVENT_GENERATE_CID = 32790
};

// The MFC/R2 register signals (they travel in the media processor's MF
// channel; this library only names them).
enum mf_signals {
    MF_SIGNAL_SPECIAL_SMEVENT = 0,
    MF_SIGNAL_FORWARD_INT_A1_FRENCH,
    MF_SIGNAL_FORWARD_INT_A2_ENGLISH,
    MF_SIGNAL_FORWARD_INT_A3_GERMAN,
    MF_SIGNAL_FORWARD_INT_A4_RUSSIAN,
    MF_SIGNAL_FORWARD_INT_A5_SPANISH,
    MF_SIGNAL_FORWARD_INT_A10_DISCRIMINATING,
    MF_SIGNAL_FORWARD_INT_A11_COUNTRY_CODE_INDICATOR_HALF_ECHO_SUPPRESSOR_REQUIRED,
    MF_SIGNAL_FORWARD_INT_A12_COUNTRY_CODE_INDICATOR_NO_ECHO_SUPPRESSOR_REQUIRED,
    MF_SIGNAL_FORWARD_INT_A13_TEST_CALL_INDICATOR,
    MF_SIGNAL_FORWARD_INT_A14_COUNTRY_CODE_INDICATOR_HALF_ECHO_SUPPRESSOR_INSERTED,
    MF_SIGNAL_FORWARD_A1_DIGIT_1, // 11
    MF_SIGNAL_FORWARD_A2_DIGIT_2,
    MF_SIGNAL_FORWARD_A3_DIGIT_3,
    MF_SIGNAL_FORWARD_A4_DIGIT_4,
    MF_SIGNAL_FORWARD_A5_DIGIT_5,
    MF_SIGNAL_FORWARD_A6_DIGIT_6,
    MF_SIGNAL_FORWARD_A7_DIGIT_7,
    MF_SIGNAL_FORWARD_A8_DIGIT_8,
    MF_SIGNAL_FORWARD_A9_DIGIT_9,
    MF_SIGNAL_FORWARD_A10_DIGIT_0,
    MF_SIGNAL_FORWARD_A11_DONT_KNOW,
    MF_SIGNAL_FORWARD_A12_DONT_KNOW,
    MF_SIGNAL_FORWARD_A13_DONT_KNOW,
    MF_SIGNAL_FORWARD_A14_DONT_KNOW,
    MF_SIGNAL_FORWARD_A15_END_OF_PULSING, // 25
    MF_SIGNAL_FORWARD_B1_SUBSCRIBER_WITHOUT_PRIORITY,
    MF_SIGNAL_FORWARD_B2_SUBSCRIBER_WITH_PRIORITY,
    MF_SIGNAL_FORWARD_B3_MAINTENANCE_EQUIPMENT,
    MF_SIGNAL_FORWARD_B4_SPARE,
    MF_SIGNAL_FORWARD_B5_OPERATOR,
    MF_SIGNAL_FORWARD_B6_DATA_TRANSMISSION,
    MF_SIGNAL_FORWARD_B7_SUBSCRIBER_INTERNATIONAL,
    MF_SIGNAL_FORWARD_B8_DATA_TRANSMISSION_INTERNATIONAL,
    MF_SIGNAL_FORWARD_B9_SUBSCRIBER_WITH_PRIORITY_INTERNATIONAL,
    MF_SIGNAL_FORWARD_B10_OPERATOR_WITH_FORWARD_TRANSFER_FACILITY, // 35
    MF_SIGNAL_FORWARD_B11_SPARE,
    MF_SIGNAL_FORWARD_B12_SPARE,
    MF_SIGNAL_FORWARD_B13_SPARE,
    MF_SIGNAL_FORWARD_B14_SPARE,
    MF_SIGNAL_FORWARD_B15_SPARE, // 40
    MF_SIGNAL_BACKWARD_A1_SEND_NEXT_DIGIT,
    MF_SIGNAL_BACKWARD_A2_SEND_LAST_BUT_ONE_DIGIT,
    MF_SIGNAL_BACKWARD_A3_ADDRESS_COMPLETE_CONTINUE_WITH_GROUP_B,
    MF_SIGNAL_BACKWARD_A4_CONGESTION,
    MF_SIGNAL_BACKWARD_A5_SEND_CALLING_PARTY_CATEGORY,
    MF_SIGNAL_BACKWARD_A6_ADDRESS_COMPLETE_SETUP_SPEECH,
    MF_SIGNAL_BACKWARD_A7_SEND_LAST_BUT_TWO_DIGITS,
    MF_SIGNAL_BACKWARD_A8_SEND_LAST_BUT_THREE_DIGITS,
    MF_SIGNAL_BACKWARD_A9_SPARE,
    MF_SIGNAL_BACKWARD_A10_SPARE, // 50
    MF_SIGNAL_BACKWARD_A11_SEND_COUNTRY_CODE_INDICATOR,
    MF_SIGNAL_BACKWARD_A12_SEND_LANGUAGE_OR_DISCRIMINATION_DIGIT,
    MF_SIGNAL_BACKWARD_A13_SEND_NATURE_OF_CIRCUIT,
    MF_SIGNAL_BACKWARD_A14_REQUEST_ECHO_SUPPRESSOR_INFORMATION,
    MF_SIGNAL_BACKWARD_A15_CONGESTION_IN_INTERNATIONAL_EXCHANGE, // 55
    MF_SIGNAL_BACKWARD_B1_SPARE_FOR_NATIONAL_USE,
    MF_SIGNAL_BACKWARD_B2_SEND_SPECIAL_INFORMATION_TONE,
    MF_SIGNAL_BACKWARD_B3_SUBSCRIBER_LINE_BUSY,
    MF_SIGNAL_BACKWARD_B4_CONGESTION_AFTER_CHANGEOVER,
    MF_SIGNAL_BACKWARD_B5_UNALLOCATED_NUMBER,
    MF_SIGNAL_BACKWARD_B6_SUBSCRIBERS_LINE_FREE_CHARGE,
    MF_SIGNAL_BACKWARD_B7_SUBSCRIBERS_LINE_FREE_NOCHARGE,
    MF_SIGNAL_BACKWARD_B8_SUBSCRIBERS_LINE_OUT_OF_ORDER, // 63
    MF_SIGNAL_BACKWARD_B9_SPARE,
    MF_SIGNAL_BACKWARD_B10_SPARE,
    MF_SIGNAL_BACKWARD_B11_SPARE,
    MF_SIGNAL_BACKWARD_B12_SPARE,
    MF_SIGNAL_BACKWARD_B13_SPARE,
    MF_SIGNAL_BACKWARD_B14_SPARE,
    MF_SIGNAL_BACKWARD_B15_SPARE // 70
};

// The line callback: (port, cas_events code); its result is not used. It is
// called from the read thread and the dispatcher, without a library lock.
typedef int (*cas_event_callback)(int port, unsigned int event);

// Where a channel sits: filled by bring-up, one per port.
struct cas_port_mapping {
    int port;       // CAS interface number, from 1
    int dev_index;  // interface number less 1: the device
    int chan_index; // channel within the line, from 1
    int connected;
    int configured;
};
extern cas_port_mapping cas_port_mappings[CAS_PORT_TABLE];

// The input of cas_init, one per port.
struct cas_port_configuration {
    int configured;
    int t1_signalling; // cas_signalling_type on a T1 line
    int e1_signalling; // ... on an E1 line
};

// One pattern of an event history: time relative to the start time, and
// the cas_event_pattern value.
struct cas_history {
    struct timeval time[CAS_PORT_TABLE][CAS_HISTORY];
    int pattern[CAS_PORT_TABLE][CAS_HISTORY];
    int counter[CAS_PORT_TABLE];       // only grows; slot = counter % 10
    int current_index[CAS_PORT_TABLE]; // only ever cleared
};

// The library's one record for all ports (arrays by port number). Guarded
// by the library's lock; callers read it through the query functions.
struct cas_ctlport {
    FILE **fpws; // left empty
    FILE **fprs;
    int *fdws;   // CAS_PORT_TABLE write descriptors (-1: none)
    int *fdrs;   // CAS_PORT_TABLE read descriptors (-1: none)
    pthread_t t; // read thread
    int configured[CAS_PORT_TABLE];
    int in_use[CAS_PORT_TABLE];
    int cas_last_event[CAS_PORT_TABLE];
    struct timeval cas_last_event_time[CAS_PORT_TABLE];
    int port_state[CAS_PORT_TABLE];
    int direction[CAS_PORT_TABLE];
    int signalling[CAS_PORT_TABLE];
    int protocol[CAS_PORT_TABLE];
    void *priv;
    cas_history read_history;
    cas_history write_history;
};

// Set by the console's CAS test pair: lines read on port 1 go to port 32 and
// back, and nothing else happens with them.
extern std::atomic<int> cas_passthrough;

// Bring-up: the line protocol (cas_protocol_type) of a port, before cas_init.
void cas_set_protocol(int port, int protocol);
// Opens every configured port, sends it on hook, starts the read thread
// "tarn.cas" and the dispatcher "tarn.cashelper". 0, or -1 when a device
// cannot be opened. The timer service must be running (ring cadence and
// on-hook timers).
int cas_init(cas_event_callback cb, const cas_port_configuration *config, int sysdebug);

// The orderly end: stops the read thread and the dispatcher and waits for
// them, takes the ports' timers out of the timer service, drops queued tasks
// and closes the devices; no callback runs once it returns. Safe to call
// twice, without cas_init, and from the callback (the calling thread is then
// not waited for). Call it before timer_exit.
void cas_shutdown(void);

// Call control's decisions and the line commands.
int cas_send_event(int port, int event);
int cas_send(int port, const char *pattern);
int cas_fetch_port(int port);
int cas_release_port(int port);
int cas_start_ringing(int port);
int cas_stop_ringing(int port);
void cas_set_direction(int port, int direction);

// Queries.
int cas_port_is_configured(int port);
int cas_get_port_in_use(int port);
int cas_get_signalling(int port);
int cas_get_signalling_by_port(int port);
const char *cas_get_signalling_string_by_port(int port);
const char *cas_print_port_state_of_port(int port);
const char *print_cas_call_direction_of_port(int port);
const char *cas_print_direction(int direction);
const char *cas_print_port_state(int state);
const char *cas_print_protocol(int protocol);
const char *cas_print_signalling(int signalling);
const char *cas_event_to_text(void *ctx, int event);
const char *cas_print_mf_signal(int signal);
// The pattern value of a line: exactly four '0'/'1' characters, else undefined.
int cas_pattern_of(const char *line);
// The four bits of a pattern value, "9999" for an undefined one.
const char *cas_pattern_text(int pattern);
long cas_get_starttime();
void cas_set_starttime(long seconds);

// Console listings.
void cas_list_configured_ports(FILE *fp);
void cas_print_event_history(FILE *fp, int port);
void cas_clear_event_history(FILE *fp);
