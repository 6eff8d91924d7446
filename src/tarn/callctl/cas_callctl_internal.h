// What the CAS call-control files share among themselves.
#pragma once
#include <cstddef>

#include "sm_defs.h"

struct call_object;
struct mfcr2_profile;

constexpr statemachine_handle_retval CAS_ROW = {SM_NO_DECISION, SM_ROW_EVENT};

enum { CAS_PORT_SECTION = 1, CAS_NUMBER_FIELD = 64 };

// A channel's key of the CAS configuration (the schema default when the
// channel's group has none). 0, or -1 (buf empty) when there is no value.
int cas_port_setting(int port, int key, char *buf, size_t size);
// The channel's dial-tone digit count (0-9).
int cas_dialtone_digits(int port);
// The MFC/R2 profile of the channel's call configuration string (defaults:
// no limits, number first, ITU, no immediate accept).
void cas_port_mfcr2_profile(int port, mfcr2_profile *out);

// The end of a machine run: a machine left in SM_DESTROYING is destroyed
// and the call reset, one in SM_DISMANTLING gets its dismantling timer.
void cas_finish_machine_run(call_object *co);

// Appends c to a number field of CAS_NUMBER_FIELD characters unless it is
// full (false, logged by the caller).
bool cas_append_digit(char *number, char c);
