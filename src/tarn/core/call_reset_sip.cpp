// Release of a call's SIP legs (the SIP stack's side of the call reset).
#include <cstdlib>
#include <initializer_list>

#include <sofia-sip/nua.h>

#include "call_leg_sip.h"
#include "call_reset.h"
#include "proxy_def.h"
#include "rtp_ports.h"

static void free_text(char *&p)
{
    free(p);
    p = nullptr;
}

void free_crypto_settings(crypto_settings *cs)
{
    if (!cs)
        return;
    for (int i = 0; i < 3; i++) {
        free(cs->out[i].key);
        free(cs->out[i].sdp_crypto);
        free(cs->in[i].key);
        free(cs->in[i].sdp_crypto);
    }
    free(cs);
}

void reset_sip_leg(call_leg_sip *cl)
{
    if (!cl)
        return;
    // 1. handles
    for (nua_handle_t **nh : {&cl->nh, &cl->nh_referring}) {
        if (*nh)
            nua_handle_destroy(*nh);
        *nh = nullptr;
    }
    // 2. proxy definition and address record
    free_proxy_def(cl->pd);
    cl->pd = nullptr;
    free_address_info(cl->address_info);
    cl->address_info = nullptr;
    // 3. RTP ports
    if (cl->rtp_local_port != 0)
        release_all_rtp_ports(cl);
    // 4. texts
    free_crypto_settings(cl->crypto);
    cl->crypto = nullptr;
    free_text(cl->incoming_sdp);
    free_text(cl->waiting_reinvite_sdp);
    free_text(cl->waiting_reinvite_contact);
    for (char *&h : cl->passthrough_headers)
        free_text(h);
    // 5. back to the pool, or gone
    cl->in_use = 0;
    if (cl->allocated == 1) {
        delete cl;
        return;
    }
    int index = cl->index;
    *cl = call_leg_sip{};
    cl->index = index;
}

