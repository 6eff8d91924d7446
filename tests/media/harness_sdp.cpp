// mediaharness's SDP steps: a far SDP text parsed by the SIP stack's parser
// and read into a call's active leg, and the call's own offer. Apart from
// mediaharness.cpp, whose ISDN headers clash with the SIP stack's.
#include "harness_sdp.h"

#include <sofia-sip/sdp.h>
#include <sofia-sip/su_alloc.h>

#include <cstring>

#include "call_object.h"
#include "sdp_offer_answer.h"

int harness_read_far_sdp(call_object *co, const std::string &text)
{
    if (!sdp_media_lines_parsable(text.data(), text.size()))
        return -1;
    su_home_t *home = (su_home_t *)su_home_new(sizeof(su_home_t));
    sdp_parser_t *p = sdp_parse(home, text.data(), (isize_t)text.size(), 0);
    int rc = -1;
    if (!sdp_parsing_error(p)) {
        sdp_read_remote(co, sdp_session(p), 0, 0, 0, 0, 0);
        rc = 0;
    }
    sdp_parser_free(p);
    su_home_unref(home);
    return rc;
}

std::string harness_offer(call_object *co)
{
    char buf[4096];
    create_sdp_string(co, buf, sizeof buf, &co->cc.codecs, co->cl_sip ? co->cl_sip->rtp_local_port : 0, 1);
    co->f.sdp_offer_sent = 1; // as the SIP side does when it sends the offer
    return buf;
}
