// In-dialog requests in an order the SIP stack sends them.
#include "sip_request_order.h"

#include <cstdlib>
#include <cstring>

#include "call_leg_sip.h"
#include "call_object.h"
#include "log.h"
#include "pools.h"
#include "sdp_offer_answer.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su_tag.h>

namespace {

void invite_now(call_leg_sip *leg, const char *sdp, const char *contact)
{
    nua_set_hparams(leg->nh, SOATAG_ORDERED_USER(1), TAG_END());
    if (contact)
        nua_invite(leg->nh, SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)),
                   SIPTAG_CONTACT_STR(contact), TAG_END());
    else
        nua_invite(leg->nh, SOATAG_USER_SDP_STR(sdp), SOATAG_ADDRESS(sdp_origin_address(leg)), TAG_END());
}

char *copy_or_null(const char *s)
{
    return s ? strdup(s) : nullptr;
}

} // namespace

void sip_info_sent(call_leg_sip *leg)
{
    if (leg)
        leg->info_pending++;
}

void sip_send_reinvite(call_object *co, call_leg_sip *leg, const char *sdp, const char *contact)
{
    if (!leg || !leg->nh)
        return;
    if (leg->info_pending <= 0) {
        invite_now(leg, sdp, contact);
        return;
    }
    // A later re-INVITE replaces one still waiting: it carries the newer offer.
    sip_request_order_reset(leg);
    leg->waiting_reinvite_sdp = copy_or_null(sdp ? sdp : "");
    leg->waiting_reinvite_contact = copy_or_null(contact);
    LOGD_CALL(SIP, 3, co, "re-INVITE waits for the answer to %i INFO", (int)leg->info_pending);
}

void sip_info_answered(call_object *co, call_leg_sip *leg, int status)
{
    if (!leg || status < 200 || leg->info_pending <= 0)
        return;
    if (--leg->info_pending > 0 || !leg->waiting_reinvite_sdp)
        return;
    LOGD_CALL(SIP, 3, co, "INFO answered (%i), sending the waiting re-INVITE", status);
    if (leg->nh)
        invite_now(leg, leg->waiting_reinvite_sdp, leg->waiting_reinvite_contact);
    sip_request_order_reset(leg);
}

void sip_request_order_reset(call_leg_sip *leg)
{
    free(leg->waiting_reinvite_sdp);
    free(leg->waiting_reinvite_contact);
    leg->waiting_reinvite_sdp = nullptr;
    leg->waiting_reinvite_contact = nullptr;
}
