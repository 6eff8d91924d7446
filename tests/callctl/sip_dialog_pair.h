// A SIP dialog between two stacks on 127.0.0.1 for tests of the actions
// that answer an INVITE: the far end (UAC) records every answer to its
// INVITE, the near end hands the INVITE's handle to the test.
#pragma once
#include <string>
#include <vector>

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nua.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

namespace sip_pair {

// One answer as the far end saw it.
struct answer {
    int status = 0;
    std::string phrase;
    std::string body;
    std::string xheaders; // "Name: value\n" per extension header
    std::string reason;
};

struct far_end {
    std::vector<answer> answers;
    bool shut = false;
};

inline void far_event(nua_event_t event, int status, char const *phrase, nua_t *, nua_magic_t *magic, nua_handle_t *,
               nua_hmagic_t *, sip_t const *sip, tagi_t[])
{
    far_end *f = (far_end *)(void *)magic;
    if (event == nua_r_invite && status > 100) {
        answer a;
        a.status = status;
        a.phrase = phrase ? phrase : "";
        if (sip && sip->sip_payload)
            a.body.assign(sip->sip_payload->pl_data, sip->sip_payload->pl_len);
        for (const sip_unknown_t *u = sip ? sip->sip_unknown : nullptr; u; u = u->un_next)
            a.xheaders += std::string(u->un_name) + ": " + (u->un_value ? u->un_value : "") + "\n";
        if (sip && sip->sip_reason) {
            char buf[256];
            sip_header_e(buf, sizeof buf, (sip_header_t const *)sip->sip_reason, 0);
            a.reason = buf;
        }
        f->answers.push_back(a);
    } else if (event == nua_r_shutdown) {
        f->shut = true;
    }
}

struct near_end {
    nua_handle_t *invited = nullptr;
    bool shut = false;
};

inline void near_event(nua_event_t event, int, char const *, nua_t *, nua_magic_t *magic, nua_handle_t *nh,
                nua_hmagic_t *, sip_t const *, tagi_t[])
{
    near_end *n = (near_end *)(void *)magic;
    if (event == nua_i_invite)
        n->invited = nh;
    else if (event == nua_r_shutdown)
        n->shut = true;
}

} // namespace sip_pair
