// The state of every GSM port by port group, for the console and for the
// admission of a call on a port that is already in use.
#pragma once
#include <cstdio>

// "Port Group: %s\n" per GSM port group, then "State Port %i => %s\n" per
// port of the group with the modem library's state word.
void mc_gsm_list_port_state(FILE *out);
