// The line side of SDP handling: the law of a call's line port and the ISDN
// steps of a refused first SDP. Kept apart from the SIP stack's headers,
// which clash with the ISDN layer's.
#include "sdp_line_side.h"

#include <strings.h>

#include <cstdio>

#include "analogctl.h"
#include "application.h"
#include "call_object.h"
#include "causes.h"
#include "confman.h"
#include "hardware_conf.h"
#include "isdn_lib.h"
#include "isdn_lib_types.h"
#include "log_backend.h"
#include "misdn_bchannel.h"
#include "schema.h"
#include "sdp_offer_answer.h"

static_assert(SDP_ANALOG_EVENT_RINGOFF == ANALOG_EVENT_RINGOFF, "the analog driver's ring-off event");

void sdp_release_bchannel(call_object *co)
{
    if (co && co->bc)
        misdn_lib_release(co->bc);
}

void sdp_disconnect_isdn_side(call_object *co, int (*send_event)(call_object *co, int event))
{
    send_event(co, EVENT_DISCONNECT);
    int cause = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_TARN, TECH_ISDN, 916, &cause, &text);
    _verbose_msg(__FILE__, __LINE__, __func__,
                 "I DISCONNECT|REQUEST|CID=%05i<br>port=%d<br>channel=%d<br>dad=%s<br>oad=%s<br>cause=%i (%s)\n",
                 co->pid, co->bc ? co->bc->port : 0, co->bc ? co->bc->channel : 0, co->bc_dad ? co->bc_dad : "",
                 co->bc_oad ? co->bc_oad : "", cause, text ? text : "");
}

// ---- line law ----------------------------------------------------------------------------

namespace {

enum { PORT_SECTION = 1 };

int port_law(cm *c, int key, int port, bool isdn)
{
    char buf[64] = "";
    if (!c || cm_get(c, buf, sizeof buf, PORT_SECTION, key, port) != 0)
        return 0;
    if (strcasecmp(buf, "ulaw") == 0)
        return 1;
    if (isdn && strcasecmp(buf, "default") == 0)
        return hw_is_port_t1(port) ? 1 : 0;
    return 0;
}

} // namespace

int call_get_law_setting(call_object *co)
{
    if (!co || !gp)
        return 0;
    switch (co->callinfo) {
    case CI_ISDN_TO_SIP:
    case CI_SIP_TO_ISDN:
        if (!co->bc || co->bc->port <= 0)
            return 0;
        return port_law(gp->config_isdn, CFG_ISDN_PORT_PCMLAW, co->bc->port, true);
    case CI_CAS_TO_SIP:
    case CI_SIP_TO_CAS:
        return co->cas_port > 0 ? port_law(gp->config_cas, CFG_CAS_PORT_PCMLAW, co->cas_port, false) : 0;
    case CI_ANALOG_TO_SIP:
    case CI_SIP_TO_ANALOG: {
        int port = co->analog_port & 0x7ff;
        return port > 0 ? port_law(gp->config_analog, CFG_ANALOG_PORT_PCMLAW, port, false) : 0;
    }
    case CI_GSM_TO_SIP:
    case CI_SIP_TO_GSM:
        return co->gsm_port > 0 ? port_law(gp->config_gsm, CFG_GSM_PORT_PCMLAW, co->gsm_port, false) : 0;
    default:
        return 0;
    }
}
