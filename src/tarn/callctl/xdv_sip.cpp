// The SIP side of the ISDN headers: a message's extension headers onto
// the B-channel, the SIP INFO body's DTMF line, and the two table actions.
// Apart from xdv_headers.cpp because the SIP stack's headers and the ISDN
// library's clash.
#include "xdv_headers.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "call_object.h"
#include "log.h"
#include "log_backend.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "strtools.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/sip.h>

namespace {

const statemachine_handle_retval ROW = {SM_NO_DECISION, SM_ROW_EVENT};

} // namespace

int apply_sip_extension_headers(misdn_bchannel *bc, const sip_s *sip, const char *only_name)
{
    if (!bc || !sip)
        return 0;
    int n = 0;
    for (const sip_unknown_t *u = sip->sip_unknown; u; u = u->un_next) {
        if (!u->un_name)
            continue;
        if (only_name && strcasecmp(u->un_name, only_name) != 0)
            continue;
        apply_sipx_to_bc(bc, u->un_name, u->un_value ? u->un_value : "");
        n++;
        if (only_name)
            break;
    }
    return n;
}

int sip_has_extension_header(const sip_s *sip, const char *name)
{
    for (const sip_unknown_t *u = sip ? sip->sip_unknown : nullptr; u; u = u->un_next)
        if (u->un_name && strcasecmp(u->un_name, name) == 0)
            return 1;
    return 0;
}

// ---- actions ------------------------------------------------------------------------

int sip_body_last_signal(const char *body, size_t len, char *value, size_t size)
{
    if (!value || size == 0)
        return 0;
    value[0] = 0;
    if (!body)
        return 0;
    std::string text(body, len);
    bool found = false;
    std::string last;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 6 && strncasecmp(line.c_str(), "Signal", 6) == 0) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) {
                last = line.substr(eq + 1);
                found = true;
            }
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (!found)
        return 0;
    snprintf(value, size, "%s", last.c_str());
    st_trimstring(value);
    return 1;
}

SM_ACTION(sm_sip_handle_incoming_information_element_outside_connect)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    call_leg_sip *leg = co ? co->cl_sip : nullptr;
    const sip_t *sip = leg ? (const sip_t *)leg->tmpsip : nullptr;
    misdn_bchannel *bc = co ? co->bc : nullptr;
    if (!co)
        return ROW;
    if (co->cc.ie_on_sip && sip && bc) {
        apply_sip_extension_headers(bc, sip, nullptr);
        isdn_send_facility_now(bc);
    }
    if (sip && sip->sip_payload && sip->sip_payload->pl_data && sip->sip_payload->pl_len > 0 && bc) {
        char value[512];
        if (sip_body_last_signal(sip->sip_payload->pl_data, sip->sip_payload->pl_len, value, sizeof value)) {
            snprintf(bc->info_dad, sizeof bc->info_dad, "%.63s", value);
            isdn_send_event(co, EVENT_INFORMATION);
        }
    }
    return ROW;
}

SM_ACTION(sm_sip_to_isdn_send_setup)
{
    (void)arg, (void)state, (void)event;
    call_object *co = (call_object *)p;
    misdn_bchannel *bc = co ? co->bc : nullptr;
    if (!bc)
        return ROW;
    _verbose_msg(__FILE__, __LINE__, __func__,
                 "I SETUP|REQUEST|CID=%05i<br>port=%d, channel=%d<br>dad=%s, dton=%i<br>oad=%s, oton=%i\n", co->pid,
                 bc->port, bc->channel, bc->dad, (int)bc->dton, bc->oad, (int)bc->oton);
    bc->law = (int)co->cc.bearer_codec;
    if (co->cl_sip && co->cl_sip->using_codec == 200 && co->cc.clearmode_auto)
        bc->capability = 8;
    if (co->cc.isdn_no_sending_complete)
        bc->sending_complete = 0;
    isdn_send_event(co, EVENT_SETUP);
    return ROW;
}
