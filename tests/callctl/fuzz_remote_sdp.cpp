// Far SDP text through the SIP stack's parser into the reading of a leg, the
// first-SDP check, the codec prediction and the answer that follows. The
// first byte picks the call's settings, the rest is the SDP.
#include <sofia-sip/sdp.h>
#include <sofia-sip/su_alloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "call_configuration.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "call_reset.h"
#include "log.h"
#include "sdp_offer_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        application_create();
        init_locks();
        init_default_call_configuration();
        cc_allow_codecs(&gp->all_supported_codecs, "pcma:pcmu:g729:g726-32");
        log_levels_debug_enabled = 0;
        log_levels_message_enabled = 0;
        return true;
    }();
    (void)ready;
    if (size < 1)
        return 0;
    const uint8_t knobs = data[0];
    static call_object co;
    static call_leg_sip in, out;
    memset(&co, 0, sizeof co);
    in = call_leg_sip{};
    out = call_leg_sip{};
    cc_clone_call_configuration(&co.cc, &gp->default_call_configuration);
    co.callinfo = knobs & 0x80 ? CI_SIP_TO_SIP : CI_SIP_TO_GSM;
    co.cl_sip = co.cl_sip_in = &in;
    co.cl_sip_out = &out;
    if (knobs & 0x40)
        co.cl_sip = &out;
    snprintf(in.using_ip, sizeof in.using_ip, "%s", "10.0.0.1");
    snprintf(out.using_ip, sizeof out.using_ip, "%s", "10.0.0.1");
    in.pt_telephony_event = out.pt_telephony_event = 101;
    cc_allow_codecs(&co.cc.codecs, "pcma:pcmu:CLEARMODE");
    co.cc.sdp_codec_selection = knobs & 3;
    co.cc.comfort_noise = (knobs >> 2) & 1;
    co.cc.t38 = (knobs >> 3) & 1;
    co.cc.s2s_t38_passthrough = (knobs >> 3) & 1;
    co.cc.srtp_mode = (knobs & 0x10) ? CC_SRTP_OPTIONAL : CC_SRTP_OFF;
    co.cc.srtp_crypto_suites = (knobs & 0x10) ? cc_parse_crypto_suites("AES_CM_80:AES_CM_32:F8_80") : 0;
    co.cc.t38_ignore_offer = (knobs >> 5) & 1;
    co.f.sdp_offer_sent = (knobs >> 5) & 1;

    const char *text = (const char *)data + 1;
    size_t len = size - 1;
    su_home_t *home = (su_home_t *)su_home_new(sizeof(su_home_t));
    // Media lines the stack's parser cannot end on are never handed to it.
    sdp_parser_t *p = sdp_media_lines_parsable(text, len) ? sdp_parse(home, text, (isize_t)len, 0) : nullptr;
    const sdp_session_t *sdp = !p || sdp_parsing_error(p) ? nullptr : sdp_session(p);
    sdp_read_remote(&co, sdp, 0, 1, 0, 0, 0);
    sdp_first_check(&co, sdp);
    sdp_predict_using_codec_text(&co, text, (int)len);
    char buf[4096];
    create_sdp_string(&co, buf, sizeof buf, &co.cc.codecs, 4000, 0);
    // Both legs' far texts relayed to the other.
    co.cl_sip = co.cl_sip == &in ? &out : &in;
    create_sdp_string(&co, buf, sizeof buf, &co.cc.codecs, 123, 1);
    if (p)
        sdp_parser_free(p);
    su_home_unref(home);
    for (call_leg_sip *l : {&in, &out}) {
        free_crypto_settings(l->crypto);
        free(l->incoming_sdp);
    }
    return 0;
}
