#include "sm_events.h"

#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su_tag.h>

#include "call_leg_sip.h"
#include "call_object.h"
#include "log.h"
#include "pools.h"
#include "reg_object.h"
#include "state_names.h"

// Every SIP code a table names is the stack's own number.
static_assert(nua_i_error == 0 && nua_i_invite == 1 && nua_i_cancel == 2 && nua_i_ack == 3 && nua_i_active == 5 &&
              nua_i_terminated == 6 && nua_i_state == 7 && nua_i_bye == 9 && nua_i_options == 10 &&
              nua_i_refer == 11 && nua_i_prack == 13 && nua_i_info == 14 && nua_i_update == 15 &&
              nua_i_message == 16 && nua_i_notify == 20 && nua_r_set_params == 23 && nua_r_shutdown == 25 &&
              nua_r_register == 29 && nua_r_unregister == 30 && nua_r_invite == 31 && nua_r_cancel == 32 &&
              nua_r_bye == 33 && nua_r_options == 34 && nua_r_refer == 35 && nua_r_info == 38 &&
              nua_r_prack == 39 && nua_r_update == 40 && nua_r_message == 41 && nua_r_notify == 45 &&
              nua_r_destroy == 49 && nua_i_register == 54,
              "SIP stack event codes");

void decode_complex_event(int32_t word, int *type, int *event, int *status)
{
    if (type)
        *type = sm_event_type_of(word);
    if (event)
        *event = sm_event_code_of(word);
    if (status)
        *status = sm_event_status_of(word);
}

const char *format_sm_type_string(int type)
{
    switch (type) {
    case SM_EVENT_TYPE_ISDN: return "ISDN";
    case SM_EVENT_TYPE_SIP: return "SIP";
    case SM_EVENT_TYPE_TIMER: return "TIMER";
    case SM_EVENT_TYPE_GENERAL: return "GENERAL";
    case SM_EVENT_TYPE_GSM: return "GSM";
    case SM_EVENT_TYPE_ANALOG: return "ANALOG";
    case SM_EVENT_TYPE_CAS: return "CAS";
    default: return "UNKNOWN";
    }
}

static bool tags_carry_remote_sdp(const tagi_s *tags)
{
    if (!tags)
        return false;
    // The leg keeps the tag list of the message in hand as an opaque record.
    const tagi_t *t = tl_find(reinterpret_cast<const tagi_t *>(tags), soatag_remote_sdp_str);
    return t && t->t_value && *(const char *)t->t_value;
}

SM_ACTION(sm_call_list_unhandled)
{
    (void)arg;
    call_object *co = (call_object *)p;
    int type = 0, code = 0, status = 0;
    decode_complex_event(event, &type, &code, &status);
    const char *src = format_sm_type_string(type);
    const char *state_name = print_sm_state_call(co, (uint32_t)state);
    const char *event_name = print_event(code);
    LOGD(TARN, 5, co ? cinfo(co) : nullptr, "STATEMACHINE IGNORING %s-EVENT for co %p -- %s -- %s(%i) [%i:%i]", src,
         (void *)co, state_name, event_name, status, type, code);
    if (co && co->cl_sip && tags_carry_remote_sdp(co->cl_sip->tmptags))
        LOGD(TARN, 0, cinfo(co),
             "CRITICAL: \n\n\n\n------------------------------ATTENTION: \n\nIGNORING EVENT CONTAINING SDP "
             "INFORMATION\n%s-EVENT for co %p -- %s -- %s(%i)\n\n\n",
             src, (void *)co, state_name, event_name, status);
    return {SM_NO_DECISION, SM_ROW_EVENT};
}

SM_ACTION(sm_reg_list_unhandled_reg)
{
    (void)arg;
    reg_object *ro = (reg_object *)p;
    int type = 0, code = 0, status = 0;
    decode_complex_event(event, &type, &code, &status);
    const char *src = format_sm_type_string(type);
    const char *state_name = print_sm_state_reg(ro, (uint32_t)state);
    const char *event_name = print_event(code);
    LOGD(TARN, 5, ro ? rinfo(ro) : nullptr, "STATEMACHINE IGNORING %s-EVENT for ro %p -- %s -- %s(%i) [%i:%i]", src,
         (void *)ro, state_name, event_name, status, type, code);
    if (ro && tags_carry_remote_sdp(ro->tmptags))
        LOGD(TARN, 0, rinfo(ro),
             "CRITICAL: \n\n\n\n------------------------------ATTENTION: \n\nIGNORING EVENT CONTAINING SDP "
             "INFORMATION\n%s-EVENT for co %p -- %s -- %s(%i)\n\n\n",
             src, (void *)ro, state_name, event_name, status);
    return {SM_NO_DECISION, SM_ROW_EVENT};
}
