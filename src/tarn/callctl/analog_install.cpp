// Hands call control's analog functions to the parts that call them.
#include "analog_admission.h"
#include "analog_callctl.h"
#include "call_object.h"
#include "dtmf.h"
#include "housekeeping.h"
#include "media_callctl.h"
#include "sdp_offer_answer.h"
#include "sip_admission.h"

namespace {

// The SDP refusal rings off the telephone, a feature code flashes the
// line; the result is not used.
void send_analog_command(call_object *co, int port, int event)
{
    verbose_analog_send_event(co, port, event);
}

} // namespace

void analog_callctl_install()
{
    media_callctl_iface m{};
    m.parse_analog_callerid = parse_analog_callerid;
    media_set_callctl_iface(&m);

    housekeeping_hooks hk{};
    hk.fxs_message_waiting_refresh = fxs_message_waiting_refresh;
    housekeeping_set_hooks(&hk);

    sdp_callctl_hooks sdp{};
    sdp.verbose_analog_send_event = send_analog_command;
    sdp_set_callctl_hooks(&sdp);

    dtmf_line_hooks dtmf{};
    dtmf.verbose_analog_send_event = send_analog_command;
    dtmf_set_line_hooks(&dtmf);

    sip_admission_hooks sa{};
    sa.init_incoming_sip_to_analog_call = init_incoming_sip_to_analog_call;
    sip_admission_set_hooks(&sa);
}
