// Bring-up of the line technologies at start: ISDN through the ISDN library,
// the analog FXS/FXO ports and the T1/E1 CAS channels through their line
// libraries, each from its configuration file and the hardware description.
#pragma once
#include <vector>

#include "analogctl.h"
#include "misdn_lib_iface.h"
#include "t1e1casctl.h"

struct cm;

// The port numbers a line configuration file lists, in the manager's
// (ascending) order; empty for a file that is not loaded.
std::vector<int> configured_port_numbers(cm *c);

// ---- ISDN ----

// Starts the ISDN library on the ports of tarn.isdn and hands it every port's
// and group's settings. 0, or -1 (the caller ends the process).
int init_isdn();
// "1ptp,2,3": the configured ports, "ptp" marking point-to-point ones. 0, or
// -1 with a CRITICAL line.
int get_isdn_port_list(char *portstring, int stringsize);
// "pbx(1,2);trunk(3);": every group of tarn.isdn with its ports. 0, or -1
// when the text does not fit (with a CRITICAL line).
int create_port_group_string(char *buffer, int bufsize);
// Nothing calls it; 0.
int parse_cli_ptp();

// The number of ISDN and GSM port numbers tarn.isdn and tarn.gsm configure
// (0 for a file that is not loaded).
void count_ports(int *isdn_ports, int *gsm_ports);

// The ports of tarn.isdn the ISDN library runs as primary-rate ports, and
// the others (all of them before the library is started).
void count_isdn_ports_by_rate(int *pri, int *other);

// The callbacks start-up hands the ISDN library: call control's event,
// log and jitter-buffer callbacks (isdn_events.h; chan_misdn_log_on is the
// log callback's filter).
extern const misdn_lib_iface startup_isdn_iface;

// ---- analog and CAS ----

// The analog line library on the ports of tarn.analog; its result.
int init_analog();
// The CAS library on the channels of the CAS groups; 0 without a CAS group.
int init_cas();
// Nothing calls it; 0.
int init_t1();

// The analog ports as the driver reported them at start, indexed by analog
// port number (the driver's 32 entries fill ports 1..32).
enum { ANALOG_INFO_PORTS = 33 };
struct analog_port_info {
    int type[ANALOG_INFO_PORTS]; // 1 FXS, 2 FXO, 0 none
    int in_use[ANALOG_INFO_PORTS];
    int fxo_portup_voltage[ANALOG_INFO_PORTS]; // volts, for configured FXO ports
    int cid_mode[ANALOG_INFO_PORTS];
    int offhook_mode[ANALOG_INFO_PORTS];
    int size; // entries filled so far
};

// Fixed slots of analog_lang_mapping for the tone codes the media processor
// knows; any other code takes slot 0 as the host-programmable country.
int analog_lang_slot(const char *code);

// Programs the call-progress detection of a tone set into the media
// processor as host-programmable country index
// (set_host_programmable_language_code; tests put a recorder here).
extern int (*set_host_programmable_language_code_hook)(char *lang, int index);
