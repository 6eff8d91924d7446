// The device's identity: serial number and hardware revision from the
// kernel command line, the model that follows from the serial number, and
// the line-interface module in each of the three slots.
#pragma once
#include <cstdio>

enum { HWI_SLOTS = 3 };

struct hardware_info {
    char hwi_serial_number[32];
    char hwi_hardware_revision[16];
    char hwi_host_mac_lan_dotted[32];
    char hwi_host_mac_wan_dotted[32];
    char hwi_host_mac_vpn_dotted[32];
    char hwi_device_name[32];
    int hwi_msp_channels;
    int hwi_numlif; // line interfaces present (slots 0 and 1)
    char hwi_li_internal_name[HWI_SLOTS][32];
    char hwi_li_verbose_name[HWI_SLOTS][32];
    char hwi_li_type[HWI_SLOTS][32];
    int hwi_li_ports[HWI_SLOTS];
    int hwi_li_channels[HWI_SLOTS];
};

// One row of the model table: characters 3-4 of the serial number.
struct hwi_model_row {
    const char *digits; // null: any other
    const char *device_name;
    int msp_channels;
};
extern const hwi_model_row hwi_model_rows[];
extern const int hwi_model_row_count;

// One row of the module table: a slot's internal module name.
struct hwi_module_row {
    const char *internal_name; // null: any other
    const char *type;
    int ports;
    int channels;
    const char *verbose_name;
};
extern const hwi_module_row hwi_module_rows[];
extern const int hwi_module_row_count;

// Fills the application's hardware_info (allocated on first use).
void get_device_info();
// The identity from one kernel command line, into hi (the two texts only).
// Returns a bit set: 1 serial number found, 2 revision found.
int hwi_parse_cmdline(hardware_info *hi, const char *line);
// The model and channel count for a serial number.
const hwi_model_row &hwi_model_for_serial(const char *serial);
// The slot's fields from its internal name.
void hwi_derive_slot(hardware_info *hi, int slot);

// Prints whether the POSIX extended pattern matches the whole text.
void regexp_test(FILE *out, const char *pattern, const char *text);
