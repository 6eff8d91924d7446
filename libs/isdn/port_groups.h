// ISDN port groups and the choice of a port and B-channel for an outgoing
// call from a group: standard, round-robin and random methods, ascending or
// descending order, and the pull-up of a port that is down.
//
// The table and its rotating positions have no lock of their own: choices
// are made by call admission and the console under global_lock.
#pragma once

struct misdn_bchannel;

enum chansel_method { CHANSEL_STANDARD = 1, CHANSEL_ROUNDROBIN = 2, CHANSEL_RANDOM = 3 };
enum chansel_direction { CHANSEL_DIRECTION_ASCENDING = 0, CHANSEL_DIRECTION_DESCENDING = 1 };

// Sizes of the port maps a call hands to the group search: the call's
// blocked-port marks (one for every port number up to 32) and the
// allowed-port set, both indexed by port number. Ports beyond the allowed
// set are not in it.
enum { ISDN_BLOCKED_PORTS_MAP = 33, ISDN_ALLOWED_PORTS_MAP = 16 };

struct misdn_chansel_settings {
    char *chansel_name;          // null for an entry left empty
    int chansel_method;
    int *chansel_ports;          // in the order written
    int *chansel_channels;       // per port: where its next search starts
    int chansel_number_of_ports;
    int chansel_current_index;   // where the next search starts in the port list
    int chansel_portpullup;      // 0 off, 2 try once and go on, else wait for the port
    int chansel_direction;
};

struct misdn_port_group_settings {
    misdn_chansel_settings *chansel_settings;
    int count;
};
extern misdn_port_group_settings isdn_port_group_settings;

// Parses "name(p,p,...);name(p);..." into the table (replacing an older
// one); a group cut off before its ")" is left out. Always 0.
int misdn_lib_init_port_groups(const char *port_group_string);
int misdn_lib_set_channel_selection(const char *port_group, int method, int direction);
int misdn_lib_set_port_pullup(const char *port_group, int value);
misdn_chansel_settings *misdn_lib_get_port_group_settings_by_name(const char *name);
misdn_chansel_settings *misdn_lib_get_port_group_settings_by_port(int port);
// A prepared slot on a port of the group, or null. ports_down (may be null)
// is set to 1 when a port of the group was down; allowed_channels is a
// mask of channel numbers (bit n: channel n; 0 all); blocked_ports
// (ISDN_BLOCKED_PORTS_MAP entries) and allowed_ports
// (ISDN_ALLOWED_PORTS_MAP entries) are optional.
misdn_bchannel *misdn_lib_get_free_bc_by_port_group(const char *port_group_name, int *ports_down,
                                                    unsigned int allowed_channels,
                                                    const unsigned char *blocked_ports,
                                                    const unsigned char *allowed_ports);
