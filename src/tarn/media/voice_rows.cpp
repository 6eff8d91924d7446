#include "voice_rows.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arp.h"
#include "call_lookups.h"
#include "csm_codes.h"
#include "csm_layout.h"
#include "media_callctl.h"
#include "media_voice.h"
#include "msp_resource.h"
#include "msp_queue.h"
#include "network_config.h"
#include "pools.h"
#include "t1e1casctl.h"
#include "timer.h"

namespace {

constexpr int DEFAULT_TOS = 160;
constexpr int SRTP_KEY_BYTES = 30;  // master key and salt
constexpr int SRTP_KEY_DERIVATION_LENGTH = 83;

const call_configuration &cc_of(const voice_ctx &ctx)
{
    return ctx.co->cc;
}

bool text_set(const char *t)
{
    return t && t[0];
}

// ---- rows 1-3: the channel and its packet headers -------------------------

void queue_create(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_SUPVSR_CREATE_CHANNEL);
    if (csm_msg_is_null(m))
        return;
    m.u_csmdev_create_channel->timeslot = (uint32_t)ctx.timeslot;
    voice_set_cid(m, ctx.co);
    voice_put(ctx, m);
}

bool when_eth_header(const voice_ctx &ctx)
{
    return gp->rtp_traffic == 1 && strcmp(ctx.leg->rtp_remote_ip, "127.0.0.1") != 0;
}

void queue_eth_header(voice_ctx &ctx)
{
    uint8_t mac[6] = {};
    in_addr a = {};
    if (inet_pton(AF_INET, ctx.leg->rtp_remote_ip, &a) != 1 || get_target_mac(a.s_addr, mac, 100000) != 0) {
        // Without the next hop's address the header would send the
        // channel's packets nowhere: none is queued.
        fprintf(stderr, "failed getting mac\n");
        return;
    }
    magic_csm m = voice_msg(FC_SET_ETH_HDR_CHAN);
    if (csm_msg_is_null(m))
        return;
    csmchan_set_eth_hdr_chan *r = m.u_csmchan_set_eth_hdr_chan;
    r->destination_mac_word1 = (uint32_t)(mac[0] << 8 | mac[1]);
    r->destination_mac_word2 = (uint32_t)(mac[2] << 8 | mac[3]);
    r->destination_mac_word3 = (uint32_t)(mac[4] << 8 | mac[5]);
    r->comcerto_mac_word1 = gp->netconf.host_mac_1;
    r->comcerto_mac_word2 = gp->netconf.host_mac_2;
    r->comcerto_mac_word3 = gp->netconf.host_mac_3;
    voice_put(ctx, m);
}

void queue_ip_header(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_SET_IP_HDR_CHANNEL);
    if (csm_msg_is_null(m))
        return;
    call_leg_sip *leg = ctx.leg;
    csmchan_set_ip_hdr_chan *r = m.u_csmchan_set_ip_hdr_chan;
    r->tos = (uint32_t)(leg->ss ? leg->ss->tos_rtp : DEFAULT_TOS);
    r->source_address_word_1 = ip_to_short(gp->netconf.host_ip_lan, 1);
    r->source_address_word_2 = ip_to_short(gp->netconf.host_ip_lan, 2);
    if (ctx.dummy) {
        r->destination_address_word_1 = ip_to_short(gp->dummy_rtp_address, 1);
        r->destination_address_word_2 = ip_to_short(gp->dummy_rtp_address, 2);
        r->udp_destination_port = (uint32_t)gp->dummy_rtp_port;
    } else {
        if (!ctx.keep_loopback && strcmp(leg->rtp_remote_ip, "127.0.0.1") == 0)
            snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", gp->netconf.host_ip_lan);
        r->destination_address_word_1 = ip_to_short(leg->rtp_remote_ip, 1);
        r->destination_address_word_2 = ip_to_short(leg->rtp_remote_ip, 2);
        r->udp_destination_port = (uint32_t)leg->rtp_remote_port;
    }
    r->udp_source_port = (uint32_t)leg->rtp_local_port;
    voice_put(ctx, m);
}

// ---- rows 4-6: voice, tone and echo canceller options --------------------

void queue_vceopt(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_VCEOPT);
    if (csm_msg_is_null(m))
        return;
    call_object *co = ctx.co;
    const call_configuration &cc = cc_of(ctx);
    int interval = (int)cc.rtp_packet_size;
    if (co->callinfo == CI_SIP_TO_SIP) {
        interval = cc_get_rtp_packet_size_of_sipleg(co, 0);
    } else if (voice_is_buddy(co)) {
        if (call_object *owner = voice_buddy_owner(co))
            interval = cc_get_rtp_packet_size_of_sipleg(owner, 1);
    }
    voice_fill_vceopt(m.u_csmchan_voip_vceopt, co, ctx.leg, interval, media_call_get_law_setting(co));
    voice_put(ctx, m);
}

void queue_toneopt(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_TONEOPT);
    if (csm_msg_is_null(m))
        return;
    csmchan_voip_toneopt *r = m.u_csmchan_voip_toneopt;
    r->programmable_tone_detector_control = 1;
    r->answer_tone_detection_control_2225Hz = 0;
    r->phase_reversal_2100Hz_answer_tone_detection_control = 0;
    r->ansam_2100Hz_answer_tone_detection_control = 0;
    r->confirmed_2100Hz_answer_tone_detection_control = 1;
    r->early_2100Hz_answer_tone_detection_control = 0;
    voice_put(ctx, m);
}

void queue_echocan(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_ECHOCAN);
    if (csm_msg_is_null(m))
        return;
    const call_configuration &cc = cc_of(ctx);
    csmchan_voip_echocan *r = m.u_csmchan_voip_echocan;
    if (cc.echo_cancel) {
        const echo_canceller_sparse_params &e = cc.ec_sparse_params;
        r->network_echo_canceller_tail_length = cc.echo_cancel_tail_length & 0xF;
        r->dc_removal_filter_disable = e.dc_removal_filter_disable;
        r->g168_ec_initialization = e.g168_ec_initialization;
        r->initialization_request = e.initialization_request;
        r->hardware_echo_canceller_coefficient_freeze = e.hardware_echo_canceller_coefficient_freeze;
        r->nlp_control = e.nlp_control;
        r->nlp_tune_field = e.nlp_tune_field;
        r->comfort_noise_generation_disable = e.comfort_noise_generation_disable;
    } else {
        disable_csm_echo_canceller_values(r);
    }
    voice_put(ctx, m);
}

// ---- rows 7-10: DTMF ---------------------------------------------------------

void queue_dtmfdpar(voice_ctx &ctx)
{
    call_object *co = ctx.co;
    const call_configuration &cc = cc_of(ctx);
    if (!text_set(cc.dtmfdpar)) {
        co->f.dtmf_as_eventdet = 0;
        return;
    }
    int on = 0, off = 0, dropout = 0;
    cc_parse_dtmf_params(cc.dtmfdpar, &on, &off, &dropout);
    co->f.dtmf_as_eventdet = 1;
    magic_csm m = voice_msg(FC_VOIP_DTMFDPAR);
    if (csm_msg_is_null(m))
        return;
    csmchan_voip_dtmfdpar *r = m.u_csmchan_voip_dtmfdpar;
    r->minimum_valid_tone_on_time = (uint32_t)on;
    r->minimum_valid_tone_off_time = (uint32_t)off;
    r->minimum_valid_tone_dropout_time = (uint32_t)dropout;
    voice_put(ctx, m);
}

void queue_dtmftune(voice_ctx &ctx)
{
    const call_configuration &cc = cc_of(ctx);
    if (!text_set(cc.dtmftune) || !media_has_parse_dtmf_tune_params())
        return;
    int v[6] = {18, 80, 40, 320, 0, 6};
    media_callctl().parse_dtmf_tune_params(cc.dtmftune, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    magic_csm m = voice_msg(FC_VOIP_DTMFTUNE);
    if (csm_msg_is_null(m))
        return;
    csmchan_voip_dtmftune *r = m.u_csmchan_voip_dtmftune;
    r->frequency_deviation = (uint32_t)v[0];
    r->negative_twist = (uint32_t)v[1];
    r->positive_twist = (uint32_t)v[2];
    r->minimum_level_threshold = (uint32_t)v[3];
    r->snr_threshold_adjustment = (uint32_t)v[4];
    r->dtmf_control = (uint32_t)v[5];
    voice_put(ctx, m);
}

void put_dtmfopt(voice_ctx &ctx, bool relay)
{
    magic_csm m = voice_msg(FC_VOIP_DTMFOPT);
    if (csm_msg_is_null(m))
        return;
    csmchan_voip_dtmfopt *r = m.u_csmchan_voip_dtmfopt;
    bool filter = ctx.co->f.filter_inband_dtmf_from_tdm;
    r->enable_silence_voice_packet = filter ? 0 : 1;
    r->dtmf_in_voice = filter ? 0 : 1;
    r->rfc2833_event_report_to_host = 1;
    if (relay) {
        r->rfc2833_packet_payload_format = 0;
        r->dtmf_in_rtp = 1;
        r->dtmf_in_rtp_redundancy_scheme = 1;
    }
    voice_put(ctx, m);
}

void queue_dtmfopt(voice_ctx &ctx)
{
    put_dtmfopt(ctx, ctx.relay);
}

void queue_ipdtmf_ctrl(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_IPDTMF_CTRL);
    if (csm_msg_is_null(m))
        return;
    csmchan_ipdtmf_ctrl *r = m.u_csmchan_ipdtmf_ctrl;
    r->dtmf_removal_delay = 0;
    r->enable_inband_dtmf_detection = (cc_of(ctx).tonedetect_disable & 1) ? 0 : 1;
    r->enable_inband_dtmf_removal = ctx.co->f.filter_inband_dtmf_from_packet;
    voice_put(ctx, m);
}

// ---- rows 11-14: tone detection and country codes -------------------------

int cas_signalling_of(const call_object *co)
{
    return cas_get_signalling(co->cas_port);
}

bool when_fxs_to_sip(const voice_ctx &ctx)
{
    return ctx.co->callinfo == CI_ANALOG_TO_SIP && ctx.co->analog_type == 1;
}

bool when_isdn_faxdetect(const voice_ctx &ctx)
{
    return ctx.co->callinfo == CI_ISDN_TO_SIP && text_set(cc_of(ctx).faxdetect_extension);
}

bool when_fxo_or_cas(const voice_ctx &ctx)
{
    const call_object *co = ctx.co;
    if ((co->callinfo == CI_SIP_TO_ANALOG || co->callinfo == CI_ANALOG_TO_SIP) && co->analog_type == 2)
        return true;
    return (co->callinfo == CI_SIP_TO_CAS || co->callinfo == CI_CAS_TO_SIP) && cas_signalling_of(co) == 2;
}

bool when_tonetest(const voice_ctx &ctx)
{
    return gp->tonetest != 0 && ctx.co->callinfo == CI_SIP_TO_ISDN;
}

void queue_fax_tonectrl(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_TONECTRL);
    if (csm_msg_is_null(m))
        return;
    m.u_csmchan_voip_tonectrl->fax_calling_tone_detector_control = 1;
    m.u_csmchan_voip_tonectrl->dtmf_detection_indication = 1;
    get_header(m)->msg_length = 10;
    voice_put(ctx, m);
}

// Index of the call's country in analog_lang_mapping, 13 when not found.
int country_index(const call_object *co)
{
    const char *code = co->analog_call_progress_country_code;
    if (code[0])
        for (int i = 0; i < 16; i++)
            if (strncmp(gp->analog_lang_mapping[i], code, sizeof gp->analog_lang_mapping[i]) == 0)
                return i;
    return 13;
}

void queue_call_progress_tonectrl(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_TONECTRL);
    if (!csm_msg_is_null(m)) {
        csmchan_voip_tonectrl *r = m.u_csmchan_voip_tonectrl;
        r->bandpass_filter_call_progress_tone_indication = 1;
        r->fax_calling_tone_detector_control = 1;
        r->dtmf_detection_indication = 1;
        r->bandpass_filter_call_progress_tone_detection = 0;
        voice_put(ctx, m);
    }
    magic_csm c = voice_msg(FC_VOIP_CNTRYCODE);
    if (csm_msg_is_null(c))
        return;
    uint32_t idx = (uint32_t)country_index(ctx.co);
    csmchan_voip_cntrycode *r = c.u_csmchan_voip_cntrycode;
    r->tone1_country_code = r->tone2_country_code = r->tone3_country_code = r->tone4_country_code = idx;
    r->filter_country_code = idx;
    voice_put(ctx, c);
}

// ---- rows 15-18: jitter buffer, indications, payload types, gains --------

struct jbopt_values {
    long v[7];
};

// Exactly seven decimal fields within their limits.
bool parse_jbopt(char *text, jbopt_values *out)
{
    int n = 0;
    char *p = text;
    for (;;) {
        char *end = strchr(p, ':');
        if (end)
            *end = '\0';
        if (n >= 7 || !p[0] || strspn(p, "0123456789") != strlen(p) || strlen(p) > 9)
            return false;
        long v = strtol(p, nullptr, 10);
        switch (n) {
        case 0: if (v > 300) return false; break;
        case 1: if (v > 300 || v < out->v[0]) return false; break;
        case 2: if (v > 300) return false; break;
        case 3: if (v < 1000 || v > 65535) return false; break;
        case 6: if (v > 500) return false; break;
        default: break;
        }
        out->v[n++] = v;
        if (!end)
            break;
        p = end + 1;
    }
    return n == 7;
}

void queue_jbopt(voice_ctx &ctx)
{
    const char *text = cc_of(ctx).jbopt_string;
    if (!text_set(text))
        return;
    char *copy = strdup(text);
    if (!copy) {
        LOGD_CALL(TARN, 0, ctx.co, "CRITICAL: setup_msp_voice_channel: Memory error");
        return;
    }
    jbopt_values j = {};
    bool ok = parse_jbopt(copy, &j);
    free(copy);
    if (!ok) {
        LOGD_CALL(TARN, 3, ctx.co, "jbopt_string %s not valid -> ignoring it", text);
        return;
    }
    magic_csm m = voice_msg(FC_VOIP_JBOPT);
    if (csm_msg_is_null(m))
        return;
    csmchan_voip_jbopt *r = m.u_csmchan_voip_jbopt;
    r->delay_min = (uint32_t)j.v[0];
    r->delay_max = (uint32_t)j.v[1];
    r->delay_init = (uint32_t)j.v[2];
    r->adaption_period = (uint32_t)j.v[3];
    r->deletion_mode_mode = (uint32_t)(j.v[4] & 1);
    r->deletion_mode_adjust = (uint32_t)(j.v[5] & 1);
    r->deletion_threshold = (uint32_t)j.v[6];
    voice_put(ctx, m);
}

bool when_indctrl(const voice_ctx &ctx)
{
    return !cc_of(ctx).msp_indication_control.default_setting;
}

void queue_indctrl(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_INDCTRL);
    if (csm_msg_is_null(m))
        return;
    const cc_msp_indication_control &ic = cc_of(ctx).msp_indication_control;
    csmchan_voip_indctrl *r = m.u_csmchan_voip_indctrl;
    r->rfc2833_dtmf_detection_disable = ic.rfc_2833_dtmf_det;
    r->inband_dtmf_detection_disable = ic.inband_dtmf_det;
    r->dtmf_eventdet_detection_disable = ic.dtmf_eventdet;
    r->dtmf_tonedet_detection_disable = ic.dtmf_tonedet;
    r->intvchng_feature_disable = ic.intvchng;
    r->ssrcviol_message_disable = ic.ssrcviol;
    r->ssrcchg_message_disable = ic.ssrcchg;
    r->ptchng_message_disable = ic.ptchg;
    r->periodic_ptchng_indication_time = ic.periodic_ptchng_indication_time;
    voice_put(ctx, m);
}

void queue_ptmng(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_PTMNG);
    if (csm_msg_is_null(m))
        return;
    const call_leg_sip *leg = ctx.leg;
    const call_configuration &cc = cc_of(ctx);
    csmchan_voip_ptmng *r = m.u_csmchan_voip_ptmng;
    int codec = leg->using_codec, payload = leg->using_payload, te = leg->pt_telephony_event;
    if (codec == 9 || codec == 200) {
        r->dtmf = (uint32_t)te;
        r->clear_channel = (uint32_t)payload;
    } else if (payload == 8 && cc.clearmode_on_alaw != 0) {
        r->dtmf = (uint32_t)te;
        r->clear_channel = 8;
        r->g711a = 255;
    } else if (ctx.relay || payload != codec) {
        if (cc.rfc2833_dtmf_passthrough && te != payload)
            r->dtmf = (uint32_t)te;
        if (codec == 2)
            r->g726_32 = (uint32_t)payload;
    }
    voice_put(ctx, m);
}

bool when_dgain(const voice_ctx &ctx)
{
    return cc_of(ctx).dgain_pcm_to_packet != 0 || cc_of(ctx).dgain_packet_to_pcm != 0;
}

void queue_dgain(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_DGAIN);
    if (csm_msg_is_null(m))
        return;
    m.u_csmchan_voip_dgain->dgain_packet_to_pcm = (uint32_t)cc_of(ctx).dgain_packet_to_pcm;
    m.u_csmchan_voip_dgain->dgain_pcm_to_packet = (uint32_t)cc_of(ctx).dgain_pcm_to_packet;
    voice_put(ctx, m);
}

// ---- row 19: SRTP ------------------------------------------------------------

// The raw key of a slot when it holds the 30 bytes the device is given.
const char *srtp_key(const crypto_row *rows, int index, int *length)
{
    *length = 0;
    if (index < 0 || index > 2 || !rows[index].key)
        return nullptr;
    *length = rows[index].key_length;
    return *length >= SRTP_KEY_BYTES ? rows[index].key : nullptr;
}

void put_srtp_direction(voice_ctx &ctx, const crypto_settings *cs, int d, const char *key)
{
    magic_csm o = voice_msg(FC_CIPHER_SRTP_OPT);
    if (!csm_msg_is_null(o)) {
        csmchan_cipher_srtp_opt *r = o.u_csmchan_cipher_srtp_opt;
        int suite = cs->suite_in_use;
        r->enable_srtp = 1;
        r->ssrc_byte_order = 0;
        r->layer = 2;
        r->direction_configuration = (uint32_t)d;
        r->key_material = 0;
        if (suite == CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_80 || suite == CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_32)
            r->encryption = 1;
        else if (suite == CRYPTO_SUITE_F8_128_HMAC_SHA1_80)
            r->encryption = 2;
        r->authentication = 1;
        r->key_derivation_rate = 0;
        r->master_key_identifier_size = 0;
        r->master_key_size = 0;
        r->encryption_session_key_size = 0;
        r->master_salt_key_size = 112;
        r->session_salt_key_size = 112;
        r->authentication_session_key_size = 20;
        r->authentication_tag_size = suite == CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_32 ? 4 : 10;
        r->authentication_prefix_size = 0;
        voice_put(ctx, o);
    }
    magic_csm k = voice_msg(FC_CIPHER_SRTP_KEY_DERIVATION);
    if (csm_msg_is_null(k))
        return;
    csmchan_cipher_srtp_key_derivation *r = k.u_csmchan_cipher_srtp_key_derivation;
    r->direction_configuration = (uint32_t)d;
    r->srtp_max_lifetime_bytes_5_and_4 = 0xFFFF;
    r->srtp_max_lifetime_bytes_3_and_2 = 0xFFFF;
    r->srtp_max_lifetime_bytes_1_and_0 = 0xFFFF;
    r->srtcp_max_lifetime_bytes_3_and_2 = 0xFFFF;
    r->srtcp_max_lifetime_bytes_1_and_0 = 0xFFFF;
    r->from_index_bytes_5_and_4 = r->from_index_bytes_3_and_2 = r->from_index_bytes_1_and_0 = 0;
    r->to_index_bytes_5_and_4 = r->to_index_bytes_3_and_2 = r->to_index_bytes_1_and_0 = 0;
    // Words 0-14: two bytes each, the earlier byte in the low half.
    memcpy(r->key_array, key, SRTP_KEY_BYTES);
    get_header(k)->msg_length = SRTP_KEY_DERIVATION_LENGTH;
    voice_put(ctx, k);
}

// The SRTP commands of the leg in ctx (the caller decides which leg that
// is); crypto_owner runs the crypto step first when needed. False when no
// SRTP was loaded.
bool queue_srtp_of_leg(voice_ctx &ctx, call_object *crypto_owner)
{
    call_object *co = ctx.co;
    const call_configuration &cc = cc_of(ctx);
    call_leg_sip *leg = ctx.leg;
    if (cc_get_srtp_mode_for_active_call_leg(co) == 1 || cc.srtp_crypto_suites == 0 || !leg || !leg->crypto ||
        !leg->crypto->in[0].key)
        return false;
    crypto_settings *cs = leg->crypto;
    if (cs->offer_state == CRYPTO_OFFER_RECEIVED && !cs->out[0].sdp_crypto) {
        media_call_crypto_update(crypto_owner, CRYPTO_ANSWER_SENT);
        cs = leg->crypto; // the step may have made a new record
        if (!cs)
            return false;
    }
    int out_len = 0, in_len = 0;
    const char *out_key = srtp_key(cs->out, cs->out_index, &out_len);
    const char *in_key = srtp_key(cs->in, cs->in_index, &in_len);
    if (!out_key || !in_key) {
        // The device reads 30 bytes of each key: shorter material is not
        // loaded at all.
        LOGD_CALL(TARN, 0, co, "CRITICAL: SRTP keys not loaded: outbound key %i bytes, inbound key %i bytes, %i needed",
                  out_len, in_len, SRTP_KEY_BYTES);
        return false;
    }
    put_srtp_direction(ctx, cs, 0, out_key);
    put_srtp_direction(ctx, cs, 1, in_key);
    return true;
}

void queue_srtp(voice_ctx &ctx)
{
    call_object *co = ctx.co;
    if (ctx.transconnect) {
        // The call's own leg, also for a buddy; srtp_enabled stays as it is.
        queue_srtp_of_leg(ctx, co);
        return;
    }
    call_object *owner = voice_is_buddy(co) ? voice_buddy_owner(co) : nullptr;
    call_leg_sip *own_leg = co->cl_sip;
    if (owner) {
        // The owner's outbound leg stands in for the buddy's for this row.
        co->cl_sip = owner->cl_sip_out;
        ctx.leg = co->cl_sip;
    }
    if (queue_srtp_of_leg(ctx, owner ? owner : co))
        co->f.srtp_enabled = 1;
    co->cl_sip = own_leg;
    ctx.leg = own_leg;
}

// ---- rows 20-22: energy detector, RTCP, voice on ---------------------------

bool when_ntenergy(const voice_ctx &ctx)
{
    const call_object *co = ctx.co;
    return co->callinfo == CI_SIP_TO_ANALOG && co->analog_type == 2 && co->analog_port != 0 &&
           text_set(cc_of(ctx).s2fxo_call_progress_table_name);
}

void queue_ntenergy(voice_ctx &ctx)
{
    int level = 320, period = 30, snr = 180;
    cc_parse_ntenergy_params(cc_of(ctx).ntdet_params, &level, &period, &snr);
    LOGD_CALL(TARN, 6, ctx.co, "NTDET PARAMS %i %i %i", level, period, snr);
    magic_csm m = voice_msg(FC_VOIP_NTENERGY_SET);
    if (csm_msg_is_null(m))
        return;
    csmchan_voip_ntenergy_set *r = m.u_csmchan_voip_ntenergy_set;
    r->non_tonal_energy_detector_disable = 0;
    r->energy_detector_minimum_level = (uint32_t)level;
    r->tone_measurement_period = (uint32_t)period;
    r->tone_detector_minimum_snr = (uint32_t)snr;
    voice_put(ctx, m);
}

bool when_rtcp(const voice_ctx &ctx)
{
    return !ctx.co->f.transcoding_call && cc_of(ctx).rtp_traffic_check != 0;
}

void queue_rtcp(voice_ctx &ctx)
{
    voice_put(ctx, voice_msg(FC_VOIP_RTCP_ENA));
}

bool when_vopena(const voice_ctx &ctx)
{
    return !ctx.co->f.transcoding_call;
}

void queue_vopena(voice_ctx &ctx)
{
    magic_csm m = voice_msg(FC_VOIP_VOPENA);
    if (csm_msg_is_null(m))
        return;
    int payload = ctx.leg->using_payload;
    if (ctx.dummy && payload < 0)
        payload = 8;
    m.u_csmchan_voip_vopena->payload_type = (uint32_t)payload;
    voice_put(ctx, m);
}

} // namespace

// The set-up's command sequence, in its order.
const voice_row voice_rows[VOICE_ROWS] = {
    /*  1 */ {1, "FC_SUPVSR_CREATE_CHANNEL", nullptr, queue_create},
    /*  2 */ {2, "FC_SET_ETH_HDR_CHAN", when_eth_header, queue_eth_header},
    /*  3 */ {3, "FC_SET_IP_HDR_CHANNEL", nullptr, queue_ip_header},
    /*  4 */ {4, "FC_VOIP_VCEOPT", nullptr, queue_vceopt},
    /*  5 */ {5, "FC_VOIP_TONEOPT", nullptr, queue_toneopt},
    /*  6 */ {6, "FC_VOIP_ECHOCAN", nullptr, queue_echocan},
    /*  7 */ {7, "FC_VOIP_DTMFDPAR", nullptr, queue_dtmfdpar},
    /*  8 */ {8, "FC_VOIP_DTMFTUNE", nullptr, queue_dtmftune},
    /*  9 */ {9, "FC_VOIP_DTMFOPT", nullptr, queue_dtmfopt},
    /* 10 */ {10, "FC_IPDTMF_CTRL", nullptr, queue_ipdtmf_ctrl},
    /* 11 */ {11, "FC_VOIP_TONECTRL", when_fxs_to_sip, queue_fax_tonectrl},
    /* 12 */ {12, "FC_VOIP_TONECTRL", when_isdn_faxdetect, queue_fax_tonectrl},
    /* 13 */ {13, "FC_VOIP_TONECTRL, FC_VOIP_CNTRYCODE", when_fxo_or_cas, queue_call_progress_tonectrl},
    /* 14 */ {14, "FC_VOIP_TONECTRL, FC_VOIP_CNTRYCODE", when_tonetest, queue_call_progress_tonectrl},
    /* 15 */ {15, "FC_VOIP_JBOPT", nullptr, queue_jbopt},
    /* 16 */ {16, "FC_VOIP_INDCTRL", when_indctrl, queue_indctrl},
    /* 17 */ {17, "FC_VOIP_PTMNG", nullptr, queue_ptmng},
    /* 18 */ {18, "FC_VOIP_DGAIN", when_dgain, queue_dgain},
    /* 19 */ {19, "FC_CIPHER_SRTP_OPT, FC_CIPHER_SRTP_KEY_DERIVATION (twice)", nullptr, queue_srtp},
    /* 20 */ {20, "FC_VOIP_NTENERGY_SET", when_ntenergy, queue_ntenergy},
    /* 21 */ {21, "FC_VOIP_RTCP_ENA", when_rtcp, queue_rtcp},
    /* 22 */ {22, "FC_VOIP_VOPENA", when_vopena, queue_vopena},
};
static_assert(sizeof voice_rows / sizeof voice_rows[0] == 22, "22 rows as given");

const voice_row &voice_row_at(int number)
{
    return voice_rows[number - 1];
}

void voice_queue_dtmfopt_passthrough(voice_ctx &ctx)
{
    put_dtmfopt(ctx, ctx.co->cc.rfc2833_dtmf_passthrough);
}

void voice_fill_vceopt(csmchan_voip_vceopt *r, const call_object *co, const call_leg_sip *leg, int interval, int law)
{
    const call_configuration &cc = co->cc;
    int clearmode = cc.clearmode_on_alaw;
    if (leg->using_payload == 8 && (clearmode == 5 || clearmode == 10 || clearmode == 15 || clearmode == 20))
        interval = clearmode;
    r->voice_packetization_interval = (uint32_t)interval;
    r->pcm_coding_standard = (uint32_t)law;
    r->silence_handling_to_pcm = 1;
    if (cc.comfort_noise == 1 || (cc.comfort_noise == 2 && co->f.cng_allowed)) {
        r->voice_activity_detector = 1;
        r->vad_tune = cc.vad_tune;
    }
}

void voice_queue_dtmfopt(voice_ctx &ctx, bool relay)
{
    put_dtmfopt(ctx, relay);
}

void disable_ptmng_payload_type(csmchan_voip_ptmng *rec, int payload_type)
{
    // Only a dynamic type is ever cleared: a static one (0 PCMU, 8 PCMA ...)
    // names a codec, not the telephone events.
    if (!rec || payload_type < 96 || payload_type > 127)
        return;
    const csm_command_layout *layout = csm_find_command_layout(FC_VOIP_PTMNG);
    if (!layout)
        return;
    for (size_t i = 0; i < layout->nrows; i++) {
        const csm_field &f = layout->rows[i];
        if (f.get && f.set && f.get(rec) == (uint32_t)payload_type)
            f.set(rec, 255);
    }
}

bool voice_dummy_rtp(const call_object *co)
{
    if (co->callinfo == CI_SIP_TO_SIP)
        return co->cl_sip && co->cl_sip->dummy_rtp_wanted;
    return co->f.dummy_rtp;
}

bool voice_is_buddy(const call_object *co)
{
    return co->callinfo == CI_INTERNAL;
}

call_object *voice_buddy_owner(const call_object *co)
{
    return get_operation_by_transcoding_buddy(co);
}

bool voice_relay_flag(call_object *co, bool keep_passthrough)
{
    call_object *pair = co;
    int index = 0;
    if (voice_is_buddy(co)) {
        pair = voice_buddy_owner(co);
        index = 0;
    } else if (co->callinfo == CI_SIP_TO_SIP) {
        index = co->transcoding_buddy ? 1 : 0;
    }
    bool relay = false;
    int mode = -1;
    if (pair) {
        mode = cc_get_dtmfmode_of_sipleg(pair, index);
        int other = cc_get_dtmfmode_of_sipleg(pair, 1 - index);
        if (other == 1 || other == 2 || mode == 1 || mode == 2) {
            if (mode == 1)
                co->f.filter_inband_dtmf_from_tdm = 0;
        } else {
            relay = pair->cc.rfc2833_dtmf_passthrough;
        }
    }
    if (!keep_passthrough && co->callinfo != CI_SIP_TO_SIP && (mode == 1 || mode == 2))
        co->cc.rfc2833_dtmf_passthrough = 0;
    return relay;
}

magic_csm voice_msg(int function_code)
{
    return create_default_csm_msg(function_code, gp->msp_counter++);
}

void media_put(call_object *owner, int timeslot, magic_csm msg)
{
    if (!csm_msg_is_null(msg))
        msp_queue_command_nolock(msg, timeslot, owner, 0);
}

void voice_put(const voice_ctx &ctx, magic_csm msg)
{
    media_put(ctx.co, ctx.timeslot, msg);
}

void media_queue_destroy(call_object *owner, int timeslot)
{
    media_put(owner, timeslot, voice_msg(FC_SUPVSR_DESTROY_CHANNEL));
}

void media_queue_voice_off(call_object *owner, int timeslot)
{
    magic_csm m = voice_msg(FC_VOIP_VOPENA);
    if (!csm_msg_is_null(m))
        m.u_csmchan_voip_vopena->channel_mode = 0;
    media_put(owner, timeslot, m);
}

void voice_set_cid(magic_csm msg, const call_object *co)
{
    csm_header *h = get_header(msg);
    snprintf(h->cid, sizeof h->cid, "%s", cinfo(co));
}

void voice_rewrite_buddy_remote(call_object *co)
{
    call_leg_sip *leg = co->cl_sip;
    if (!voice_is_buddy(co) || !leg)
        return;
    const network_config &n = gp->netconf;
    bool host = (n.host_ip_lan[0] && strcmp(leg->rtp_remote_ip, n.host_ip_lan) == 0) ||
                (n.host_ip_wan[0] && strcmp(leg->rtp_remote_ip, n.host_ip_wan) == 0);
    if (host && get_operation_by_rtp_local_port(leg->rtp_remote_port))
        snprintf(leg->rtp_remote_ip, sizeof leg->rtp_remote_ip, "%s", n.msp_devip);
}

void voice_arm_traffic_check(call_object *co)
{
    if (co->cc.rtp_traffic_check <= 0 || co->rtp_stat_timer || !media_has_cb_timer_event())
        return;
    auto *t = static_cast<kv_timer *>(calloc(1, sizeof(kv_timer)));
    if (!t)
        return;
    t->tv.tv_sec = co->cc.rtp_traffic_check;
    t->tv.tv_usec = 0;
    if (timer_add(media_callctl().cb_timer_event, T_EVENT_RTP_CHECK_INBOUND_TRAFFIC, t) != 0) {
        free(t);
        return;
    }
    co->rtp_stat_timer = t;
}

int voice_take_resource(call_object *co, bool dummy)
{
    return voice_take_resource_of_type(co, dummy ? MSPRES_G711_20
                                                 : call_get_resource_type_by_codec(co->cl_sip->using_codec));
}

int voice_take_resource_of_type(call_object *co, int type)
{
    if (type == -1) {
        LOGD(MSP, 0, cinfo(co), "CRITICAL: Couldn't evaluate codec %i", co->cl_sip->using_codec);
        return -1;
    }
    if (msp_request_resource(co, &co->msp_resources_active, type) == -1) {
        LOGD(MSP, 0, cinfo(co), "CRITICAL: Failed getting MSP resources for voice processing (%i)", type);
        return -1;
    }
    return 0;
}

void voice_log_sending(const call_object *co, bool dummy)
{
    const call_leg_sip *l = co->cl_sip;
    LOGD_CALL(TARN, 5, co, "sending now to %s:%i / receiving at port %i", dummy ? gp->dummy_rtp_address : l->rtp_remote_ip,
              dummy ? gp->dummy_rtp_port : l->rtp_remote_port, l->rtp_local_port);
}
