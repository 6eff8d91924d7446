// What the destination of a dial plan line means for the lines: its port
// list, the ISDN B-channel for it, and whether a SIP peer carries a call.
// Callers hold global_lock.
#pragma once

struct call_object;
struct misdn_bchannel;
struct port_group_sip;

// The ports of a destination text into array (at most capacity of them):
// "g:name" gives the ports of that ISDN port group (0 when there is none),
// anything else is a comma-separated list of decimal ports, empty pieces
// skipped. Returns the number written.
int isdn_dpstring_to_int_array(const char *text, int *array, int capacity);

// A prepared B-channel for the call's destination, or null. target is
// "g:name" for an ISDN port group; otherwise the ports of the call's dial
// plan line (to_ports) are used. *ports_down is set to 1 when a port that
// could have taken the call was down.
misdn_bchannel *get_isdn_channel_by_dialplan_string(call_object *co, const char *target, int *ports_down);

// 1 when a call's dial plan line uses the SIP port group on its SIP side.
int is_call_on_sip_peer_active(const port_group_sip *pgs);
