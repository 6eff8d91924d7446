// Admission of an incoming ISDN call (a SETUP without a call): a call object
// with its outgoing SIP leg, the ISDN-to-SIP machine in a dialling state,
// the dial timer, and the machine's first run with the SETUP.
#pragma once

struct misdn_bchannel;

// RESPONSE_OK (4) when admitted, -1 when refused. A refusal after the call
// object was taken answers RELEASE COMPLETE (with the cause set where one
// is) and gives the object back with its machine and timers; during
// shutdown RELEASE is sent; without a free call object nothing is sent.
// The caller (the ISDN event callback) holds global_lock.
int init_incoming_isdn_call(misdn_bchannel *bc);
