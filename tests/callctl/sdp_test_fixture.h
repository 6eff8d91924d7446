// A call with two SIP legs and the call's own configuration, for the SDP
// and SRTP tests; far SDPs are parsed by the SIP stack's parser.
#pragma once
#include <gtest/gtest.h>

#include <sofia-sip/sdp.h>
#include <sofia-sip/su_alloc.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "call_reset.h"
#include "experimental_options.h"
#include "sdp_offer_answer.h"

class SdpCall : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gp)
            application_create();
        init_default_call_configuration();
        cc_allow_codecs(&gp->all_supported_codecs, "pcma:pcmu:g729:g726-32");
    }
    void SetUp() override
    {
        home = (su_home_t *)su_home_new(sizeof(su_home_t));
        co = (call_object *)calloc(1, sizeof *co);
        cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
        co->callinfo = CI_SIP_TO_ISDN;
        for (call_leg_sip *l : {&in, &out}) {
            l->pt_telephony_event = PAYLOAD_TYPE_DYNAMIC_RFC2833;
            l->sdp_media_offerings_accepted_index = 0;
        }
        snprintf(in.using_ip, sizeof in.using_ip, "%s", "10.0.0.1");
        snprintf(out.using_ip, sizeof out.using_ip, "%s", "10.0.0.1");
        in.rtp_local_port = 4000;
        out.rtp_local_port = 4002;
        co->cl_sip = co->cl_sip_in = &in;
        co->cl_sip_out = &out;
        cc_allow_codecs(&co->cc.codecs, "pcma:pcmu");
        co->cc.sdp_codec_selection = 0;
        co->cc.comfort_noise = 0;
        co->cc.rtp_packet_size = 20;
        co->cc.t38 = 1;
        co->cc.t38_ignore_offer = 0;
        co->cc.t38_max_rate = 14400;
        co->cc.srtp_mode = CC_SRTP_OFF;
        co->cc.srtp_crypto_suites = 0;
        co->cc.tr119 = 0;
        co->cc.s2s_rtp_handling_method = 0;
    }
    void TearDown() override
    {
        for (call_leg_sip *l : {&in, &out}) {
            free_crypto_settings(l->crypto);
            free(l->incoming_sdp);
        }
        free(co);
        su_home_unref(home);
    }
    // The session lines in front of a media section.
    static std::string session(const std::string &media)
    {
        return "v=0\r\no=- 1 1 IN IP4 10.0.0.9\r\ns=-\r\nt=0 0\r\n" + media;
    }
    // A parsed SDP (null when the parser refused it; the error is noted).
    const sdp_session_t *parse(const std::string &text)
    {
        sdp_parser_t *p = sdp_parse(home, text.data(), (isize_t)text.size(), 0);
        last_error = sdp_parsing_error(p) ? sdp_parsing_error(p) : "";
        return last_error.empty() ? sdp_session(p) : nullptr;
    }
    // Reads a far SDP (media section with a session connection line).
    void read_far(const std::string &media, const char *address = "192.0.2.7")
    {
        std::string text = session(std::string("c=IN IP4 ") + address + "\r\n" + media);
        const sdp_session_t *s = parse(text);
        ASSERT_NE(s, nullptr) << last_error << "\n" << text;
        sdp_read_remote(co, s, 0, 1, 0, 0, 0);
    }
    std::string write(int offer, int port = 4000, const codec_settings *codecs = nullptr)
    {
        char buf[4096];
        create_sdp_string(co, buf, sizeof buf, codecs ? codecs : &co->cc.codecs, port, offer);
        return buf;
    }

public:
    call_leg_sip &in_leg() { return in; }
    call_leg_sip &out_leg() { return out; }

protected:
    su_home_t *home = nullptr;
    call_object *co = nullptr;
    call_leg_sip in{}, out{};
    std::string last_error;
};
