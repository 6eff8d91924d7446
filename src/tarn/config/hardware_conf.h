// The hardware description /usr/conf/hardware.conf: which line-interface
// module sits in which of the board's three slots and how its line slots are
// set up. parse_hardware_conf numbers every port of every technology from it
// (ISDN, analog, GSM, the T1/E1 CAS interfaces and their channel ports);
// those numbers are what the other configuration files and the line
// libraries use.
#pragma once
#include <cstdio>

#include "t1e1casctl.h" // cas_protocol_type

enum {
    HWCONF_MODULES = 3,        // line-interface slots of the board: [lif0] .. [lif2]
    HWCONF_SLOTS = 8,          // line slots of one module
    HWCONF_CAS_INTERFACES = 16 // interfaces the connection check keeps a state for
};

enum line_interface_types {
    LI_UNKNOWN = 0,
    LI_1S0 = 1,
    LI_2S0 = 2,
    LI_4S0 = 3,
    LI_1E1 = 4,
    LI_2E1 = 5,
    LI_2FXO = 6,
    LI_4FXO = 7,
    LI_1FXS = 8,
    LI_2FXS = 9,
    LI_4FXS = 10,
    LI_8FXS = 11,
    LI_2S02FXS = 12,
    LI_1GSM = 13,
    LI_2GSM = 14,
    LI_1E1T1 = 15,
    LI_2E1T1 = 16,
    LI_4E1T1 = 17,
    LI_2LTE = 18
};

enum interface_type {
    HWCONF_INTERFACE_TYPE_NONE = 0,
    HWCONF_INTERFACE_TYPE_HDLC = 1, // ISDN
    HWCONF_INTERFACE_TYPE_CAS = 2,
    HWCONF_INTERFACE_TYPE_ANALOG = 3,
    HWCONF_INTERFACE_TYPE_GSM = 4
};

enum ntte_type { HWCONF_NTTE_TYPE_NONE = 0, HWCONF_NTTE_TYPE_NT = 1, HWCONF_NTTE_TYPE_TE = 2 };

enum { HWCONF_PTP = 1, HWCONF_PMP = 2 };

// One module.
struct line_interface {
    int number; // not set by the parser
    line_interface_types li_type;
    interface_type interface_types[HWCONF_SLOTS];
    cas_protocol_type isdncas_protocol_types[HWCONF_SLOTS];
    ntte_type isdn_ntte_types[HWCONF_SLOTS];
    int cas_port_numbers[HWCONF_SLOTS];          // per CAS interface (rank in the module): its number from 1
    char cas_sys_connected_path[HWCONF_SLOTS][8]; // per CAS interface: "module:rank"
    int cas_port_configured[HWCONF_SLOTS];       // per CAS interface: a CAS group uses it
    int isdn_ptp_settings[HWCONF_SLOTS];         // HWCONF_PTP, HWCONF_PMP, 0 not given
    int isdn_permanent_l1_settings[HWCONF_SLOTS];
    int isdn_crlen_settings[HWCONF_SLOTS];       // 1, 2; 3 or 0: by port type until resolved
    int isdn_cidlen_settings[HWCONF_SLOTS];
    int port_numbers[HWCONF_SLOTS];              // ISDN, analog or GSM port number; 0 for CAS and empty slots
    int port_count_total;
    int port_count_cas;
    int port_count_isdn;
    int port_count_analog;
    int port_count_gsm;
    int gsm_ports[2];
};

struct hardware_config {
    line_interface hwc_li[HWCONF_MODULES];
};

// Reads the file into the application's hwconf, numbers the ports, fills the
// application's per-ISDN-port settings and the CAS library's channel
// mappings, and prints the listing and the CAS mappings to standard output.
// 0; -1 when the file cannot be read ("CRITICAL: cannot read hardware.conf",
// hwconf cleared). A T1/E1 slot that is neither ISDN nor CAS ends the
// process with 85.
int parse_hardware_conf();

// The same on an open file, the listing and the CAS mappings written to out;
// -1 (instead of the end of the process) for the T1/E1 slot. Tests and the
// fuzz target use it.
int hwconf_parse(FILE *f, FILE *out);

// The listing of every module with slots; 0.
int list_hardware_conf(FILE *fp);

// The name of a module type, "LI_UNDEFINED" outside the table.
const char *print_line_interface(int type);

// Connection check of the CAS lines of LI_2E1T1 modules: reads each
// configured interface's sysfs "connected" file and sets connected in the
// channel mappings; the report goes to standard output. 0.
int cas_update_port_status();
// 1 when the sysfs file "/sys/class/dvxt1e1/<name>/connected" opens and
// its first byte is '1', else 0 (name: a CAS interface's "module:rank").
int hw_cas_port_connected(const char *name);

// The permanent layer-1 flag of an ISDN port (0 for a port no module holds),
// and whether the port is a T1 line.
int hw_get_permanent_l1(int port);
int hw_is_port_t1(int port);

// Whether any module is of this type.
bool hw_has_line_interface(line_interface_types type);
