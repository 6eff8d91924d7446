// The codes of every event source, for the state tables and the code that
// reads event words: 0-56 the SIP stack's nua_event_e and the two codes
// after it, 1002 the 183 with the wait-for-cancel header, 512-554 event_e
// of the ISDN library, 1024-1054 tarn_timer_events, 4096-4136 the general
// events (sm_defs.h), 8192-8211 analog_events, 16384-16443
// _gsm_event_type_t, 32768-32790 cas_events.
//
// It includes the SIP stack's headers: code that includes the ISDN
// layer's (platform/misdn) includes sm_defs.h only.
#pragma once
#include <sofia-sip/nua.h>

#include "analogctl.h"
#include "gsm_types.h"
#include "isdn_lib_types.h"
#include "sm_defs.h"
#include "t1e1casctl.h"
#include "timer.h"

// The stack we build on ends its enumeration at nua_i_register; the two
// codes after it are ours.
enum sip_event_codes_ext : int32_t {
    nua_r_unref = 55,
    nua_r_handle_unref = 56,
    // The 183 answer that carries the wait-for-cancel header on a call
    // toward ISDN.
    SIP_EVENT_183_WAIT_FOR_CANCEL = 1002,
};
static_assert(nua_i_register == 54, "the SIP stack's event codes moved");
static_assert(nua_r_unref == nua_i_register + 1, "codes 55 and 56 follow the stack's own");
static_assert((int)SIP_CODE_NUA_R_REGISTER == (int)nua_r_register && (int)SIP_CODE_NUA_R_INVITE == (int)nua_r_invite,
              "the SIP codes of the queued words are the stack's");
