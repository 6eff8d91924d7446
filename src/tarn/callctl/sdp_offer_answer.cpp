// SDP offer and answer of a SIP leg.
#include "sdp_offer_answer.h"

#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sdp.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su_alloc.h>
#include <sofia-sip/su_tag.h>

#include <arpa/inet.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_crypto.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "causes.h"
#include "debug_dumps.h"
#include "experimental_options.h"
#include "log.h"
#include "log_backend.h"
#include "pools.h"
#include "rtp_ports.h"
#include "sdp_line_side.h"
#include "sip_headers.h"
#include "sip_stack.h"
#include "strtools.h"
#include "t38.h"

namespace {

enum { SDP_WORK = 1024, SDP_RELAY = 4096, CANDIDATE_ADDRESS = 128, CANDIDATE_NAME = 64, };

sdp_callctl_hooks hooks;
bool hook_logged[4];

bool hook_ready(const void *fn, int which, const char *name)
{
    if (fn)
        return true;
    if (!hook_logged[which]) {
        hook_logged[which] = true;
        LOGD(TARN, 2, "", "%s not connected: step skipped", name);
    }
    return false;
}

// "S SEND" and "S IND" lines go to the SIP messages with the call's tag.
#define SDP_LOG(co, ...) LOGM(SIP, 17, __VA_ARGS__)

call_leg_sip *inbound_leg(call_object *co) { return co->cl_sip_in; }
call_leg_sip *outbound_leg(call_object *co) { return co->cl_sip_out; }

bool relay_mode(const call_object *co)
{
    return co->callinfo == CI_SIP_TO_SIP && co->cc.sdp_codec_selection == 2;
}

bool srtp_usable(const call_object *co)
{
    return cc_get_srtp_mode_for_active_call_leg(co) != CC_SRTP_OFF && co->cc.srtp_crypto_suites != 0;
}

int proto_of(const sdp_media_t *m)
{
    const char *name = m->m_proto_name ? m->m_proto_name : "";
    if (strcasecmp(name, "udptl") == 0)
        return SDP_MEDIA_PROTO_UDPTL;
    if (strcasecmp(name, "RTP/SAVP") == 0)
        return SDP_MEDIA_PROTO_RTP_SAVP;
    return SDP_MEDIA_PROTO_RTP_AVP;
}

const char *proto_name(int proto)
{
    switch (proto) {
    case SDP_MEDIA_PROTO_UDPTL:
        return "udptl";
    case SDP_MEDIA_PROTO_RTP_SAVP:
        return "RTP/SAVP";
    default:
        return "RTP/AVP";
    }
}

// The payload numbers of a media line as "8 0 101" (or "8 0 101 " with a
// blank after each for the relay text). The parser keeps the numbers of RTP
// lines as codec maps and the formats of other lines as texts.
void format_list(const sdp_media_t *m, char *buf, size_t size, bool trailing)
{
    buf[0] = 0;
    bool first = true;
    auto item = [&](const char *text) {
        if (trailing)
            st_safe_strcat(buf, size, "%s ", text);
        else
            st_safe_strcat(buf, size, "%s%s", first ? "" : " ", text);
        first = false;
    };
    if (m->m_rtpmaps) {
        for (const sdp_rtpmap_t *rm = m->m_rtpmaps; rm; rm = rm->rm_next)
            item(std::to_string((int)rm->rm_pt).c_str());
    } else {
        for (const sdp_list_t *l = m->m_format; l; l = l->l_next)
            item(l->l_text ? l->l_text : "");
    }
}

// One candidate of a reading: a codec map (or an image line) the gateway
// could use.
struct candidate {
    int ordinal;
    int port;
    int payload;
    int codec;
    char address[CANDIDATE_ADDRESS];
    char name[CANDIDATE_NAME];
    int media_index;
};

struct reading {
    candidate c[SDP_MEDIA_LINES_MAX];
    int count = 0;
    int best_allowed = SDP_BEST_MATCH_NONE; // list position of the best allowed codec
    int best = SDP_BEST_MATCH_NONE;         // its candidate
    bool t38_allowed = false;
    bool have_audio = false;
    bool quiet = false; // codec prediction: no logs, no flags, no crypto
    bool crypto_walk_done = false;
};

const codec_settings *codec_list_for(const call_object *co, int mode)
{
    if (mode == 1 && gp)
        return &gp->all_supported_codecs;
    return &co->cc.codecs;
}

// The allowed codec a codec map matches (static numbers by number, dynamic
// ones by name), or -1; *position is its place in the list.
int match_codec(const codec_settings *list, const sdp_rtpmap_t *rm, int *position)
{
    for (int i = 0; i < list->count && i < CC_MAX_CODECS; i++) {
        const audio_codec *a = list->allowed_codecs[i];
        if (!a)
            continue;
        bool ok = rm->rm_pt < 96 ? a->payload_type == (int)rm->rm_pt
                                 : (rm->rm_encoding && strcasecmp(a->name, rm->rm_encoding) == 0);
        if (ok) {
            *position = i;
            return a->payload_type;
        }
    }
    return -1;
}

// A usable address fits rtp_remote_ip and is IPv4.
bool usable_address(const char *address)
{
    in_addr a;
    return address && strlen(address) < sizeof(((call_leg_sip *)nullptr)->rtp_remote_ip) &&
           inet_pton(AF_INET, address, &a) == 1;
}

bool add_candidate(reading &r, int ordinal, int port, int payload, int codec, const char *address,
                   const char *name, int media_index)
{
    if (r.count >= SDP_MEDIA_LINES_MAX)
        return false;
    candidate &c = r.c[r.count++];
    c.ordinal = ordinal;
    c.port = port;
    c.payload = payload;
    c.codec = codec;
    snprintf(c.address, sizeof c.address, "%s", address ? address : "");
    snprintf(c.name, sizeof c.name, "%s", name ? name : "");
    c.media_index = media_index;
    return true;
}

// The codec maps of one usable audio line (step d of the reading).
void collect_audio(call_object *co, reading &r, const sdp_media_t *m, int mode, int ordinal, const char *address,
                   int media_index, bool offer, std::string *mode1_list, char *relay, size_t relay_size)
{
    call_leg_sip *cl = co->cl_sip;
    const codec_settings *list = codec_list_for(co, mode);
    for (const sdp_rtpmap_t *rm = m->m_rtpmaps; rm && r.count < SDP_MEDIA_LINES_MAX; rm = rm->rm_next) {
        const char *enc = rm->rm_encoding ? rm->rm_encoding : "";
        bool televent = strcmp(enc, "telephone-event") == 0;
        bool accepted = false;
        if (mode == 2) {
            add_candidate(r, ordinal, (int)m->m_port, rm->rm_pt, rm->rm_pt, address, enc, media_index);
            st_safe_strcat(relay, relay_size, "a=rtpmap:%i %s/%i\r\n", (int)rm->rm_pt, enc, (int)rm->rm_rate);
            if (rm->rm_fmtp)
                st_safe_strcat(relay, relay_size, "a=fmtp:%i %s\r\n", (int)rm->rm_pt, rm->rm_fmtp);
            accepted = true;
        } else if (rm->rm_rate == 8000) {
            if (televent) {
                accepted = add_candidate(r, ordinal, (int)m->m_port, rm->rm_pt, rm->rm_pt, address, enc,
                                         media_index);
                if (accepted && !r.quiet)
                    cl->pt_telephony_event = rm->rm_pt;
            } else {
                int position = 0;
                int codec = match_codec(list, rm, &position);
                if (codec >= 0 &&
                    add_candidate(r, ordinal, (int)m->m_port, rm->rm_pt, codec, address, enc, media_index)) {
                    accepted = true;
                    // Our order rules only in mode 0; mode 1 keeps the far
                    // side's order.
                    if (mode == 0 && position < r.best_allowed) {
                        r.best_allowed = position;
                        r.best = r.count - 1;
                    }
                    if (mode == 1 && mode1_list)
                        *mode1_list += std::string(enc) + ":";
                }
            }
        }
        if (r.quiet)
            continue;
        if (!accepted && rm->rm_pt == SDP_PAYLOAD_CN && co->cc.comfort_noise)
            co->f.cng_allowed = 1;
        SDP_LOG(co, "%s S IND : sdp: a=rtpmap: %i/%s/%i [%s:%s]", cinfo(co), (int)rm->rm_pt, enc,
                (int)rm->rm_rate, offer ? "OFFER" : "ANSWER", accepted ? "ok" : "not ok");
        if (rm->rm_fmtp)
            SDP_LOG(co, "%s S IND : sdp: a=fmtp:%i %s", cinfo(co), (int)rm->rm_pt, rm->rm_fmtp);
    }
}

// The crypto attributes of an audio line (modes 0 and 1). At most one far
// line is stored per SDP: *walk_done ends the walk for the lines after.
void read_crypto(call_object *co, const sdp_media_t *m, bool offer, bool answer, bool *walk_done)
{
    call_leg_sip *cl = co->cl_sip;
    for (const sdp_attribute_t *a = m->m_attributes; a; a = a->a_next) {
        if (!a->a_name)
            continue;
        if (strcasecmp(a->a_name, "3ge2ae") == 0) {
            co->f.tr119_crypto_attribute_requested = 1;
            continue;
        }
        if (strcasecmp(a->a_name, "crypto") != 0 || *walk_done)
            continue;
        *walk_done = true;
        if (offer) {
            call_crypto_update(co, CRYPTO_OFFER_RECEIVED);
            if (!cl->crypto)
                break;
            cl->crypto->in[0].sdp_crypto = strdup(a->a_value ? a->a_value : "");
            cl->crypto->offer_state = CRYPTO_OFFER_RECEIVED;
        } else if (answer) {
            if (!cl->crypto)
                cl->crypto = (crypto_settings *)calloc(1, sizeof(crypto_settings));
            if (!cl->crypto)
                break;
            crypto_row &row = cl->crypto->in[0];
            free(row.sdp_crypto);
            free(row.key);
            row.key = nullptr;
            row.key_length = 0;
            row.sdp_crypto = strdup(a->a_value ? a->a_value : "");
            cl->crypto->offer_state = CRYPTO_OFFER_RECEIVED;
            call_crypto_update(co, CRYPTO_ANSWER_RECEIVED);
        }
    }
    if (offer)
        call_crypto_parse_sdp(co);
    // The inbound leg's answer key of a SIP-to-SIP call is made when the
    // outbound leg reads its far SDP.
    call_leg_sip *in = inbound_leg(co);
    if (co->callinfo == CI_SIP_TO_SIP && cl == outbound_leg(co) && in && in->crypto) {
        co->cl_sip = in;
        call_crypto_update(co, CRYPTO_ANSWER_SENT);
        co->cl_sip = cl;
    }
}

const char *connection_address(const sdp_connection_t *c)
{
    return c && c->c_address ? c->c_address : nullptr;
}

// The selection mode of the active leg.
int selection_mode(const call_object *co)
{
    int v = co->cc.sdp_codec_selection;
    if (co->cl_sip && co->cl_sip == co->cl_sip_in && (v == 1 || v == 2))
        return v;
    if (co->cl_sip && co->cl_sip == co->cl_sip_out && v == 2)
        return 2;
    return 0;
}

bool t38_allowed_for(const call_object *co)
{
    return co->callinfo == CI_SIP_TO_SIP ? co->cc.s2s_t38_passthrough != 0 : co->cc.t38 != 0;
}

bool has_format(const sdp_media_t *m, const char *fmt)
{
    for (const sdp_list_t *l = m->m_format; l; l = l->l_next)
        if (l->l_text && strcasecmp(l->l_text, fmt) == 0)
            return true;
    return false;
}

// The candidate collection over every media line. With quiet set (codec
// prediction) nothing of the call is changed.
void collect(call_object *co, const sdp_session_t *sdp, reading &r, int mode, bool offer, bool answer,
             char *relay, size_t relay_size)
{
    call_leg_sip *cl = co->cl_sip;
    std::string mode1_list;
    int ordinal = 0, media_index = 0;
    const char *session_address = connection_address(sdp->sdp_connection);
    for (const sdp_media_t *m = sdp->sdp_media; m; m = m->m_next, media_index++) {
        int proto = proto_of(m);
        const char *type_name = m->m_type_name ? m->m_type_name : "";
        bool usable = true;
        if (proto == SDP_MEDIA_PROTO_RTP_SAVP && !srtp_usable(co)) {
            usable = false;
            if (!r.quiet)
                SDP_LOG(co, "%s S IND : sdp: m=%s %i %s: cannot be used, srtp not allowed on our side", cinfo(co),
                        type_name, (int)m->m_port, proto_name(proto));
        }
        if (!r.quiet) {
            // Only the first 30 lines are remembered; later ones are never
            // chosen.
            if (cl->sdp_media_offerings_count < SDP_MEDIA_LINES_MAX) {
                cl->sdp_media_offerings_proto[cl->sdp_media_offerings_count] = proto;
                cl->sdp_media_offerings_type[cl->sdp_media_offerings_count] =
                    m->m_type == sdp_media_image ? SDP_MEDIA_TYPE_IMAGE : SDP_MEDIA_TYPE_AUDIO;
                cl->sdp_media_offerings_count++;
            } else {
                usable = false;
            }
        } else if (media_index >= SDP_MEDIA_LINES_MAX) {
            usable = false;
        }
        ordinal++;
        const char *media_address = connection_address(m->m_connections);
        if (!r.quiet && media_address && !cl->rtp_remote_ip[0] && usable_address(media_address))
            snprintf(cl->rtp_remote_ip, sizeof cl->rtp_remote_ip, "%s", media_address);
        const char *address = media_address ? media_address : session_address;
        if (!address) {
            if (!r.quiet)
                SDP_LOG(co, "%s S IND : sdp: no connection parameter, skipping media", cinfo(co));
            continue;
        }
        // An address that is not IPv4 or does not fit makes the line
        // unusable.
        if (!usable_address(address))
            usable = false;
        char formats[SDP_WORK];
        if (!r.quiet) {
            format_list(m, formats, sizeof formats, false);
            SDP_LOG(co, "%s S IND : sdp: c=IN IP4 %s", cinfo(co), address);
            SDP_LOG(co, "%s S IND : sdp: m=%s %i %s %s", cinfo(co), type_name, (int)m->m_port,
                    m->m_proto_name ? m->m_proto_name : "", formats);
        }
        if (mode == 2 && relay) {
            format_list(m, formats, sizeof formats, true);
            st_safe_strcat(relay, relay_size, "m=%s XXXXX %s %s\r\n", type_name, m->m_proto_name ? m->m_proto_name : "",
                formats);
        }
        if (m->m_type == sdp_media_audio && usable) {
            r.have_audio = true;
            if (!r.quiet) {
                co->f.cng_allowed = 0;
                bool dummy = m->m_mode == sdp_inactive || m->m_mode == sdp_sendonly;
                co->f.dummy_rtp = dummy;
                cl->dummy_rtp_wanted = dummy;
            }
            collect_audio(co, r, m, mode, ordinal, address, media_index, offer, mode == 1 ? &mode1_list : nullptr,
                          relay, relay_size);
            if (mode == 2 && relay) {
                for (const sdp_attribute_t *a = m->m_attributes; a; a = a->a_next)
                    st_safe_strcat(relay, relay_size, "a=%s:%s\r\n", a->a_name ? a->a_name : "", a->a_value ? a->a_value : "");
                if (m->m_mode == sdp_sendonly)
                    st_safe_strcat(relay, relay_size, "a=sendonly\r\n");
                else if (m->m_mode == sdp_recvonly)
                    st_safe_strcat(relay, relay_size, "a=recvonly\r\n");
                else if (m->m_mode == sdp_inactive)
                    st_safe_strcat(relay, relay_size, "a=inactive\r\n");
            } else if (!r.quiet && co->cc.srtp_crypto_suites) {
                read_crypto(co, m, offer, answer, &r.crypto_walk_done);
            }
        } else if (m->m_type == sdp_media_image && usable) {
            if (proto == SDP_MEDIA_PROTO_UDPTL && t38_allowed_for(co)) {
                add_candidate(r, ordinal, (int)m->m_port, SDP_PAYLOAD_T38, SDP_PAYLOAD_T38, address, "t38",
                              media_index);
                r.t38_allowed = true;
                if (!r.quiet)
                    SDP_LOG(co, "%s => allow %s T.38 %s:%i", cinfo(co), offer ? "OFFER" : "ANSWER", address,
                            (int)m->m_port);
            } else if (has_format(m, "isohdlc")) {
                add_candidate(r, ordinal, (int)m->m_port, SDP_PAYLOAD_HDLC, SDP_PAYLOAD_HDLC, address, "isohdlc",
                              media_index);
                if (!r.quiet)
                    SDP_LOG(co, "%s => allow %s HDLC %s:%i", cinfo(co), offer ? "OFFER" : "ANSWER", address,
                            (int)m->m_port);
            } else if (!r.quiet) {
                SDP_LOG(co, "%s => disallow %s T.38 %s:%i", cinfo(co), offer ? "OFFER" : "ANSWER", address,
                        (int)m->m_port);
                co->f.t38_reject_flag = 1;
            }
        } else if (!r.quiet && m->m_type != sdp_media_audio && m->m_type != sdp_media_image) {
            SDP_LOG(co, "%s disallow %s at %s:%i", cinfo(co), type_name, address, (int)m->m_port);
        }
        if (!r.quiet)
            for (const sdp_attribute_t *a = m->m_attributes; a; a = a->a_next)
                SDP_LOG(co, "%s S IND : sdp: a=%s:%s", cinfo(co), a->a_name ? a->a_name : "",
                        a->a_value ? a->a_value : "");
    }
    if (mode == 1 && !r.quiet && !mode1_list.empty()) {
        mode1_list.pop_back(); // the last ":"
        cc_allow_codecs(&co->cc.codecs, mode1_list.c_str());
    }
}

bool pseudo_or_televent(const call_object *co, const candidate &c)
{
    return c.payload == SDP_PAYLOAD_T38 || c.payload == SDP_PAYLOAD_HDLC ||
           strcmp(c.name, "telephone-event") == 0 || (co->cl_sip && c.payload == co->cl_sip->pt_telephony_event &&
                                                      strcmp(c.name, "telephone-event") == 0);
}

// The audio candidate of a reading: the best-matching one, else the first
// that is neither a pseudo number nor telephone-event; -1 when none.
int audio_choice(const call_object *co, const reading &r)
{
    if (r.best != SDP_BEST_MATCH_NONE && !pseudo_or_televent(co, r.c[r.best]))
        return r.best;
    for (int i = 0; i < r.count; i++)
        if (!pseudo_or_televent(co, r.c[i]))
            return i;
    return -1;
}

void log_sdp_text(call_object *co, const char *text)
{
    if (!(log_levels_debug_enabled && log_get_loglevel(log_levels_debug, SIP) >= 5))
        return;
    std::string shown(2 * strlen(text) + 1, '\0');
    st_textify_crlf(shown.data(), shown.size(), text);
    LOGD_CALL(SIP, 5, co, "SDP %s", shown.c_str());
}

// Lines of a written text, each logged with the "S SEND: sdp:" prefix.
void log_sent_lines(call_object *co, const char *text)
{
    const char *p = text;
    while (*p) {
        const char *end = strstr(p, "\r\n");
        int n = end ? (int)(end - p) : (int)strlen(p);
        SDP_LOG(co, "%s S SEND: sdp: %.*s", cinfo(co), n, p);
        p += n + (end ? 2 : 0);
    }
}

// Puts the rejected copies of the far side's other media lines around the
// accepted section; the connection line stays in front.
void add_rejected_lines(call_object *co, char *sdplocal, int seqlen)
{
    call_leg_sip *cl = co->cl_sip;
    int count = cl->sdp_media_offerings_count;
    if (count < 2 || count > SDP_MEDIA_LINES_MAX)
        return;
    std::string section(sdplocal);
    std::string head;
    if (section.compare(0, 2, "c=") == 0) {
        size_t eol = section.find("\r\n");
        if (eol != std::string::npos) {
            head = section.substr(0, eol + 2);
            section.erase(0, eol + 2);
        }
    }
    std::string out = head;
    for (int i = 0; i < count; i++) {
        if (i == cl->sdp_media_offerings_accepted_index) {
            out += section;
            continue;
        }
        char line[64];
        snprintf(line, sizeof line, "m=%s 0 %s\r\n",
                 cl->sdp_media_offerings_type[i] == SDP_MEDIA_TYPE_IMAGE ? "image" : "audio",
                 proto_name(cl->sdp_media_offerings_proto[i]));
        out += line;
    }
    snprintf(sdplocal, (size_t)seqlen, "%s", out.c_str());
}

// Empties the caller's buffer; the active leg, or null when there is
// nothing to write.
call_leg_sip *begin_text(call_object *co, char *sdplocal, int seqlen)
{
    if (!sdplocal || seqlen <= 0)
        return nullptr;
    sdplocal[0] = 0;
    return co ? co->cl_sip : nullptr;
}

} // namespace

void sdp_set_callctl_hooks(const sdp_callctl_hooks *h)
{
    if (!h) {
        hooks = sdp_callctl_hooks{};
        return;
    }
    if (h->tarn_misdn_lib_send_event)
        hooks.tarn_misdn_lib_send_event = h->tarn_misdn_lib_send_event;
    if (h->verbose_analog_send_event)
        hooks.verbose_analog_send_event = h->verbose_analog_send_event;
    if (h->add_sm_task)
        hooks.add_sm_task = h->add_sm_task;
}

// ---- writing ------------------------------------------------------------------------

int create_t38_answer_sdp(call_object *co, char *sdplocal, int seqlen)
{
    call_leg_sip *cl = begin_text(co, sdplocal, seqlen);
    if (!cl)
        return 0;
    if (co->callinfo == CI_SIP_TO_SIP) {
        if (!s2s_in_lan_t38_range(cl->rtp_local_port)) {
            s2s_take_t38_port(co, cl);
            int event = sm_timer(cl == co->cl_sip_in ? T_EVENT_T38_REINVITE_ON_SECOND_LEG
                                                     : T_EVENT_T38_REINVITE_ON_FIRST_LEG);
            if (hook_ready((const void *)hooks.add_sm_task, 2, "add_sm_task"))
                hooks.add_sm_task(co, event);
        }
    }
    int rate = co->cc.t38_max_rate;
    int n = snprintf(sdplocal, (size_t)seqlen,
                     "c=IN IP4 %s\r\nm=image %i udptl t38\r\na=T38FaxVersion:0\r\na=T38MaxBitRate:%i\r\n"
                     "a=T38FaxFillBitRemoval:0\r\na=T38FaxTranscodingMMR:0\r\na=T38FaxTranscodingJBIG:0\r\n"
                     "a=T38FaxRateManagement:transferredTCF\r\na=T38FaxMaxDatagram:400\r\n",
                     cl->using_ip, cl->rtp_local_port, rate);
    SDP_LOG(co, "%s S SEND: sdp: c=IN IP4 %s", cinfo(co), cl->using_ip);
    SDP_LOG(co, "%s S SEND: sdp: m=image %i udptl t38", cinfo(co), cl->rtp_local_port);
    SDP_LOG(co, "%s S SEND: sdp: a=T38FaxVersion:0", cinfo(co));
    SDP_LOG(co, "%s S SEND: sdp: a=T38MaxBitRate:%i", cinfo(co), rate);
    SDP_LOG(co, "%s S SEND: sdp: a=T38FaxFillBitRemoval:0", cinfo(co));
    SDP_LOG(co, "%s S SEND: sdp: a=T38FaxTranscodingMMR:0", cinfo(co));
    SDP_LOG(co, "%s S SEND: sdp: a=T38FaxTranscodingJBIG:0", cinfo(co));
    SDP_LOG(co, "%s S SEND: sdp: a=T38FaxRateManagement:transferredTCF", cinfo(co));
    SDP_LOG(co, "%s S SEND: sdp: a=T38FaxMaxDatagram:400", cinfo(co));
    return n;
}

const char *sip_stack_origin_address(const sip_stack *ss)
{
    in_addr a;
    if (!ss || inet_pton(AF_INET, ss->ip, &a) != 1)
        return nullptr;
    uint32_t h = ntohl(a.s_addr);
    bool unusable = h == 0 || (h >> 24) == 127 || (h >> 16) == 0xA9FE; // any, loopback, link-local
    return unusable ? nullptr : ss->ip;
}

const char *sdp_origin_address(const call_leg_sip *cl)
{
    const char *own = cl ? sip_stack_origin_address(cl->ss) : nullptr;
    return own && strcmp(own, cl->using_ip) == 0 ? own : nullptr;
}

int create_sdp_string(call_object *co, char *sdplocal, int seqlen, const codec_settings *codecs, int port, int offer)
{
    call_leg_sip *cl = begin_text(co, sdplocal, seqlen);
    if (!cl)
        return 0;
    const call_configuration &cc = co->cc;
    update_rtp_port(co, cl);

    // Transparent relay of the other leg's media section.
    if (relay_mode(co)) {
        char p[16];
        snprintf(p, sizeof p, "%-5i", port); // every port shorter than 5 digits is padded with blanks
        call_leg_sip *in = inbound_leg(co), *out = outbound_leg(co);
        const char *ip = cl->using_ip;
        const char *text = nullptr;
        if (cl == out)
            text = in ? in->incoming_sdp : nullptr;
        else
            text = out ? out->incoming_sdp : nullptr;
        char buf[SDP_RELAY];
        snprintf(buf, sizeof buf, "c=IN IP4 %s\r\n%s", ip, text ? text : "");
        char *x = strstr(buf, "XXXXX");
        if (x && strlen(p) == 5)
            memcpy(x, p, 5);
        int n = snprintf(sdplocal, (size_t)seqlen, "%s", buf);
        log_sdp_text(co, sdplocal);
        return n;
    }

    if (!offer && cl->using_payload == SDP_PAYLOAD_T38) {
        co->f.t38_invite_received = 1;
        int n = create_t38_answer_sdp(co, sdplocal, seqlen);
        add_rejected_lines(co, sdplocal, seqlen);
        log_sdp_text(co, sdplocal);
        return n;
    }
    if (!offer && cl->using_payload == SDP_PAYLOAD_HDLC) {
        int n = snprintf(sdplocal, (size_t)seqlen,
                         "c=IN IP4 %s\r\nm=image %i TCP isohdlc\r\na=setup:active\r\na=connection:new\r\n", cl->using_ip,
                         cl->rtp_local_port);
        log_sdp_text(co, sdplocal);
        return n;
    }
    if (offer && co->f.hdlc) {
        int n = snprintf(sdplocal, (size_t)seqlen,
                         "c=IN IP4 %s\r\nm=image %i TCP isohdlc\r\na=setup:passive\r\na=connection:new\r\n",
                         cl->using_ip, cl->rtp_local_port);
        log_sdp_text(co, sdplocal);
        return n;
    }

    // Payload list and the codec map lines in the same order.
    char list[SDP_WORK] = "";
    char maps[SDP_WORK] = "";
    int listed = 0;
    for (int i = 0; codecs && i < codecs->count && i < CC_MAX_CODECS; i++) {
        const audio_codec *a = codecs->allowed_codecs[i];
        if (!a)
            continue;
        int number;
        if (offer)
            number = a->payload_type == SDP_PAYLOAD_CLEARMODE ? PAYLOAD_TYPE_DYNAMIC_CLEARMODE : a->payload_type;
        else if (a->payload_type == cl->using_codec)
            number = cl->using_payload;
        else
            continue;
        st_safe_strcat(list, sizeof list, " %i", number);
        char upper[sizeof a->name];
        size_t k = 0;
        for (; k + 1 < sizeof upper && a->name[k]; k++)
            upper[k] = (char)toupper((unsigned char)a->name[k]);
        upper[k] = 0;
        st_safe_strcat(maps, sizeof maps, "a=rtpmap: %i %s/8000\r\n", number, upper);
        listed++;
    }
    bool cn = cc.comfort_noise && (offer || co->f.cng_allowed);
    if (cn)
        st_safe_strcat(list, sizeof list, " %i", (int)SDP_PAYLOAD_CN);

    int televent = cl->pt_telephony_event;
    const experimental_options *eo = gp ? gp->experimental_options : nullptr;
    if (co->f.transparent_call && cl == outbound_leg(co) && inbound_leg(co) &&
        !(eo && eo->eo_s2s_transparent_modify_rfc2833_payload))
        televent = inbound_leg(co)->pt_telephony_event;
    else if (co->callinfo == CI_SIP_TO_SIP && cl == inbound_leg(co) && cc.s2s_televent_sdp_fix && outbound_leg(co))
        televent = outbound_leg(co)->pt_telephony_event;
    st_safe_strcat(list, sizeof list, " %i", televent);

    bool tr119 = cc.tr119 && (offer || co->f.tr119_crypto_attribute_requested);
    int srtp = cc_get_srtp_mode_for_active_call_leg(co);
    const char *transport;
    if (srtp == CC_SRTP_MANDATORY && offer) {
        if (cc.srtp_crypto_suites) {
            transport = "RTP/SAVP";
        } else {
            transport = "RTP/AVP";
            co->cc.srtp_mode = CC_SRTP_OFF;
            srtp = CC_SRTP_OFF;
            tr119 = false;
        }
    } else {
        int idx = cl->sdp_media_offerings_accepted_index;
        bool savp = idx >= 0 && idx < cl->sdp_media_offerings_count && idx < SDP_MEDIA_LINES_MAX &&
                    cl->sdp_media_offerings_proto[idx] == SDP_MEDIA_PROTO_RTP_SAVP;
        transport = savp ? "RTP/SAVP" : "RTP/AVP";
    }

    int n = snprintf(sdplocal, (size_t)seqlen, "c=IN IP4 %s\r\nm=audio %i %s %s\r\n", cl->using_ip, port, transport,
                     list);
    SDP_LOG(co, "%s S SEND: sdp: c=IN IP4 %s", cinfo(co), cl->using_ip);
    SDP_LOG(co, "%s S SEND: sdp: m=audio %i %s %s", cinfo(co), port, transport, list);

    char extra[SDP_RELAY] = "";
    if ((srtp == CC_SRTP_OPTIONAL || srtp == CC_SRTP_MANDATORY) && cc.srtp_crypto_suites) {
        call_leg_sip *in = inbound_leg(co), *out = outbound_leg(co);
        if (co->callinfo == CI_SIP_TO_SIP && co->f.transparent_call) {
            const crypto_settings *from = nullptr;
            if (cl == out && in && in->crypto)
                from = in->crypto;
            else if (cl == in && in && in->crypto && out && out->crypto)
                from = out->crypto;
            for (int i = 0; from && i < 3; i++)
                if (from->in[i].sdp_crypto)
                    st_safe_strcat(extra, sizeof extra, "a=crypto:%s\r\n", from->in[i].sdp_crypto);
        } else if (offer) {
            call_crypto_update(co, CRYPTO_OFFER_SENT);
            for (int i = 0; cl->crypto && i < 3; i++)
                if (cl->crypto->out[i].sdp_crypto && cl->crypto->out[i].sdp_crypto[0])
                    st_safe_strcat(extra, sizeof extra, "a=crypto:%s\r\n", cl->crypto->out[i].sdp_crypto);
        } else if (cl->crypto && cl->crypto->offer_state == CRYPTO_OFFER_RECEIVED) {
            // The answer's own line is made from the far line when it is
            // not there yet.
            if (!cl->crypto->out[0].sdp_crypto)
                call_crypto_update(co, CRYPTO_ANSWER_SENT);
            if (cl->crypto && cl->crypto->out[0].sdp_crypto && cl->crypto->out[0].sdp_crypto[0])
                st_safe_strcat(extra, sizeof extra, "a=crypto:%s\r\n", cl->crypto->out[0].sdp_crypto);
        }
    }
    if (tr119)
        st_safe_strcat(extra, sizeof extra, "a=3ge2ae:requested\r\n");
    st_safe_strcat(extra, sizeof extra, "%s", maps);
    if (cn)
        st_safe_strcat(extra, sizeof extra, "a=rtpmap:13 CN/8000\r\n");
    st_safe_strcat(extra, sizeof extra, "a=rtpmap: %i telephone-event/8000\r\na=fmtp: %i 0-16\r\n", televent, televent);
    if (cl->using_payload != SDP_PAYLOAD_HDLC && cl->using_payload != SDP_PAYLOAD_T38)
        st_safe_strcat(extra, sizeof extra, "a=ptime:%i\r\n", (int)cc.rtp_packet_size);
    log_sent_lines(co, extra);
    st_safe_strcat(sdplocal, (size_t)seqlen, "%s", extra);
    (void)listed;

    if (!offer)
        add_rejected_lines(co, sdplocal, seqlen);
    log_sdp_text(co, sdplocal);
    return n;
}

// ---- reading ------------------------------------------------------------------------

void sdp_read_remote(call_object *co, const sdp_session_t *sdp, int callstate, int offer_recv, int answer_recv,
                     int offer_sent, int answer_sent)
{
    call_leg_sip *cl = co ? co->cl_sip : nullptr;
    if (!cl)
        return;
    LOGD_CALL(SIP, 5, co, "NUA Call State %i(%s): Offer Recv %i, Answer Recv %i, Offer Sent %i, Answer sent %i",
              callstate, nua_callstate_name((nua_callstate)callstate), offer_recv, answer_recv, offer_sent,
              answer_sent);
    co->f.sip_reinvite_on_active_call_without_sdp = 0;
    cl->best_matching_allowed_codec_list_index = SDP_BEST_MATCH_NONE;
    cl->best_matching_offered_payload_list_index = SDP_BEST_MATCH_NONE;
    if (!sdp) {
        if (cl->got_reinvite_flag && co->f.sip_reinvite_on_active_call)
            co->f.sip_reinvite_on_active_call_without_sdp = 1;
        LOGD_CALL(SIP, 5, co, "Got no SDP");
        cl->got_reinvite_flag = 0;
        return;
    }
    if (co->callinfo == CI_ISDN_TO_SIP)
        co->f.progress8_set = 1;
    dbg_log_remote_sdp(co, sdp);
    cl->got_reinvite_flag = 0;
    int mode = selection_mode(co);

    bool offer = !co->f.sdp_offer_sent;
    if (offer)
        co->f.sdp_offer_received = 1;
    else
        co->f.sdp_offer_sent = 0;

    char old_ip[sizeof cl->rtp_remote_ip];
    snprintf(old_ip, sizeof old_ip, "%s", cl->rtp_remote_ip);
    const char *session_address = connection_address(sdp->sdp_connection);
    if (usable_address(session_address))
        snprintf(cl->rtp_remote_ip, sizeof cl->rtp_remote_ip, "%s", session_address);
    else
        cl->rtp_remote_ip[0] = 0;
    co->f.invite_with_local_rtp = gp && session_address && strcmp(session_address, gp->netconf.host_ip_lan) == 0;
    cl->sdp_media_offerings_count = 0;

    reading r;
    char relay[SDP_RELAY] = "";
    collect(co, sdp, r, mode, offer, !offer, relay, sizeof relay);
    if (mode == 2) {
        free(cl->incoming_sdp);
        cl->incoming_sdp = strdup(relay);
    }

    if (!co->f.first_sdp_received) {
        if (r.have_audio && r.t38_allowed && co->cc.t38_ignore_offer) {
            r.t38_allowed = false;
            int kept = 0;
            for (int i = 0; i < r.count; i++)
                if (r.c[i].payload != SDP_PAYLOAD_T38) {
                    if (r.best == i)
                        r.best = kept;
                    r.c[kept++] = r.c[i];
                }
            r.count = kept;
        }
        co->f.first_sdp_received = 1;
    }

    int chosen = -1;
    if (r.count > 0) {
        co->f.start_streaming = 1;
        for (int i = 0; chosen < 0 && r.t38_allowed && i < r.count; i++)
            if (r.c[i].payload == SDP_PAYLOAD_T38)
                chosen = i;
        for (int i = 0; chosen < 0 && i < r.count; i++)
            if (r.c[i].payload == SDP_PAYLOAD_HDLC)
                chosen = i;
        if (chosen < 0)
            chosen = audio_choice(co, r);
    }
    if (chosen >= 0) {
        const candidate &c = r.c[chosen];
        if (c.payload == SDP_PAYLOAD_T38)
            co->f.dummy_rtp = 0;
        cl->using_payload = c.payload;
        cl->using_codec = c.codec;
        cl->rtp_remote_port = c.port;
        cl->sdp_media_offerings_accepted_index = c.media_index;
        snprintf(cl->rtp_remote_ip, sizeof cl->rtp_remote_ip, "%s", c.address);
        if (r.best != SDP_BEST_MATCH_NONE) {
            cl->best_matching_allowed_codec_list_index = r.best_allowed;
            cl->best_matching_offered_payload_list_index = r.best;
        }
        LOGD_CALL(SIP, 5, co, "Choosing Codec: cl_sip %p | up %i | uc %i | remport %i", (void *)cl, cl->using_payload,
                  cl->using_codec, cl->rtp_remote_port);
        if (co->callinfo == CI_SIP_TO_SIP && mode != 2 && co->cc.s2s_rtp_handling_method &&
            !co->f.passthrough_codec_reduced && c.payload != SDP_PAYLOAD_T38 && c.payload != SDP_PAYLOAD_HDLC) {
            cc_create_codec_settings_by_using_codec(&co->cc.codecs, c.codec);
            co->f.passthrough_codec_reduced = 1;
        }
        if (offer)
            co->f.sdp_offer_usable = 1;
    } else {
        snprintf(cl->rtp_remote_ip, sizeof cl->rtp_remote_ip, "%s", old_ip);
        co->f.start_streaming = 0;
    }
}

namespace {

// The remote SDP and the offer/answer values of the leg's last event.
struct event_sdp {
    const sdp_session_t *sdp = nullptr;
    int callstate = 0, offer_recv = 0, answer_recv = 0, offer_sent = 0, answer_sent = 0;
};

event_sdp read_event_tags(const call_leg_sip *cl)
{
    event_sdp e;
    if (!cl || !cl->tmptags)
        return e;
    tl_gets((const tagi_t *)cl->tmptags, NUTAG_CALLSTATE_REF(e.callstate), SOATAG_REMOTE_SDP_REF(e.sdp),
            NUTAG_OFFER_RECV_REF(e.offer_recv), NUTAG_ANSWER_RECV_REF(e.answer_recv),
            NUTAG_OFFER_SENT_REF(e.offer_sent), NUTAG_ANSWER_SENT_REF(e.answer_sent), TAG_END());
    return e;
}

} // namespace

void _update_sdp_information(call_object *co)
{
    if (!co || !co->cl_sip)
        return;
    event_sdp e = read_event_tags(co->cl_sip);
    sdp_read_remote(co, e.sdp, e.callstate, e.offer_recv, e.answer_recv, e.offer_sent, e.answer_sent);
}

SM_ACTION(sm_sip_update_sdp_information)
{
    (void)arg;
    (void)state;
    (void)event;
    _update_sdp_information((call_object *)p);
    return {-1, -1};
}

SM_ACTION(sm_sip_set_first_sdp_answered)
{
    (void)arg;
    (void)state;
    (void)event;
    ((call_object *)p)->f.first_sdp_answered = 1;
    return {-1, -1};
}

namespace {

void refuse_leg_with_header(call_object *co, call_leg_sip *cl, int code, const char *text, const char *header)
{
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[%i] \"%s\"", cinfo(co), code, text ? text : "");
    if (cl && cl->nh) {
        nua_respond(cl->nh, code, text ? text : "", TAG_IF(header && header[0], SIPTAG_HEADER_STR(header)),
                    TAG_END());
        nua_handle_destroy(cl->nh);
        cl->nh = nullptr;
    }
    co->cdr.terminated_by = 0;
}

} // namespace

void sip_refuse_leg(call_object *co, call_leg_sip *cl, int code, const char *text)
{
    refuse_leg_with_header(co, cl, code, text, nullptr);
}

void sip_refuse_leg_by_cause(call_object *co, call_leg_sip *cl, int pseudo_cause)
{
    int cause = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, pseudo_cause, &cause, &text);
    sip_refuse_leg(co, cl, cause ? cause : 488, text ? text : "");
}

void sip_refuse_leg_for_reason(call_object *co, call_leg_sip *cl, int pseudo_cause, int reason)
{
    int cause = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, pseudo_cause, &cause, &text);
    co->special_termination_reason = reason;
    char header[256] = "";
    format_reason_header(co, header, sizeof header);
    refuse_leg_with_header(co, cl, cause ? cause : 488, text ? text : "", header);
}

// ---- the first SDP of a call ------------------------------------------------------------

namespace {

bool has_attribute(const sdp_media_t *m, const char *name)
{
    for (const sdp_attribute_t *a = m->m_attributes; a; a = a->a_next)
        if (a->a_name && strcasecmp(a->a_name, name) == 0)
            return true;
    return false;
}

// The INVITE's answer of a refused call; the handle is destroyed.
void refuse_invite(call_object *co, int code, const char *text)
{
    sip_refuse_leg(co, co->cl_sip, code, text);
}

} // namespace

int sdp_first_check(call_object *co, const sdp_session_t *sdp)
{
    call_leg_sip *cl = co ? co->cl_sip : nullptr;
    if (!cl)
        return 0;
    if (co->f.first_sdp_checked || co->f.connection_established || co->f.got_invite_without_sdp || relay_mode(co))
        return 0;
    if (!sdp) {
        LOGD_CALL(SIP, 5, co, "Got no SDP");
        return 0;
    }
    co->f.first_sdp_checked = 1;
    int mode = selection_mode(co) == 1 ? 1 : 0;
    int srtp = cc_get_srtp_mode_for_active_call_leg(co);
    bool srtp_refused = false, crypto_missing = false, found = false;
    const char *session_address = connection_address(sdp->sdp_connection);
    (void)session_address;
    int index = 0;
    for (const sdp_media_t *m = sdp->sdp_media; m && !found && index < SDP_MEDIA_LINES_MAX; m = m->m_next, index++) {
        if (m->m_type == sdp_media_image) {
            if (co->cc.t38)
                found = true;
            continue;
        }
        if (m->m_type != sdp_media_audio)
            continue;
        int proto = proto_of(m);
        if (proto == SDP_MEDIA_PROTO_RTP_SAVP && !srtp_usable(co)) {
            srtp_refused = true;
            continue;
        }
        if (proto == SDP_MEDIA_PROTO_RTP_AVP && srtp == CC_SRTP_MANDATORY && !has_attribute(m, "crypto")) {
            crypto_missing = true;
            continue;
        }
        const codec_settings *list = codec_list_for(co, mode);
        for (const sdp_rtpmap_t *rm = m->m_rtpmaps; rm && !found; rm = rm->rm_next) {
            if (rm->rm_rate != 8000)
                continue;
            // Accepted as the reading accepts: telephone-event always.
            int position;
            if ((rm->rm_encoding && strcmp(rm->rm_encoding, "telephone-event") == 0) ||
                match_codec(list, rm, &position) >= 0)
                found = true;
        }
    }
    if (found)
        return 0;

    switch (co->callinfo) {
    case CI_SIP_TO_ISDN:
        sdp_release_bchannel(co);
        break;
    case CI_ISDN_TO_SIP: {
        if (hook_ready((const void *)hooks.tarn_misdn_lib_send_event, 0, "tarn_misdn_lib_send_event"))
            sdp_disconnect_isdn_side(co, hooks.tarn_misdn_lib_send_event);
        LOGD_CALL(SIP, 1, co, "BYE, GOT UNSUPPORTED MEDIA IN OK");
        LOGM(SIP, 17, "%s S SEND: NUA_BYE", cinfo(co));
        if (cl->nh) {
            nua_bye(cl->nh, TAG_END());
            nua_handle_destroy(cl->nh);
            cl->nh = nullptr;
        }
        co->cdr.tc_incoming_event = 5;
        co->cdr.terminated_by = 0;
        return -1;
    }
    default:
        break;
    }
    if (co->callinfo != CI_ISDN_TO_SIP) {
        if (srtp_refused && !crypto_missing) {
            refuse_invite(co, 488, "NOT_ACCEPTABLE");
            co->cdr.tc_incoming_event = 10;
        } else if (crypto_missing && !srtp_refused) {
            refuse_invite(co, 488, "NOT_ACCEPTABLE");
            co->cdr.tc_incoming_event = 9;
        } else {
            int pseudo = co->f.t38_reject_flag ? 917 : 916;
            co->f.t38_reject_flag = 0;
            sip_refuse_leg_by_cause(co, co->cl_sip, pseudo);
            co->cdr.tc_incoming_event = 5;
        }
        if (co->callinfo == CI_SIP_TO_ANALOG && (co->sm_state & (uint32_t)SM_ANALOG_FXS_RINGING) &&
            hook_ready((const void *)hooks.verbose_analog_send_event, 1, "verbose_analog_send_event"))
            hooks.verbose_analog_send_event(co, co->analog_port, SDP_ANALOG_EVENT_RINGOFF);
    }
    return -1;
}

namespace {

// The first-SDP check of a machine run; ir: the INVITE-received form.
statemachine_handle_retval first_sdp_action(call_object *co, bool ir)
{
    event_sdp e = read_event_tags(co->cl_sip);
    if (ir) {
        if (!e.sdp)
            co->f.got_invite_without_sdp = 1;
        if (relay_mode(co))
            return {-1, -1};
    }
    if (sdp_first_check(co, e.sdp) < 0)
        return {SM_DESTROYING, -3};
    return {-1, -1};
}

} // namespace

SM_ACTION(sm_sip_first_sdp_compatible)
{
    (void)arg;
    (void)state;
    (void)event;
    return first_sdp_action((call_object *)p, false);
}

SM_ACTION(sm_sip_first_sdp_compatible_ir)
{
    (void)arg;
    (void)state;
    (void)event;
    return first_sdp_action((call_object *)p, true);
}

// ---- prediction ------------------------------------------------------------------------

int sdp_predict_using_codec_text(call_object *co, const char *text, int len)
{
    if (!co || !text || len <= 0)
        return -1;
    if (!sdp_media_lines_parsable(text, (size_t)len)) {
        LOGD_CALL(SIP, 3, co, "codec prediction: cannot parse sdp offer (%s)", "bad character in a media line");
        return -1;
    }
    su_home_t *home = (su_home_t *)su_home_new(sizeof(su_home_t));
    if (!home)
        return -1;
    sdp_parser_t *parser = sdp_parse(home, text, (isize_t)len, 0);
    const char *error = parser ? sdp_parsing_error(parser) : "no parser";
    const sdp_session_t *sdp = parser ? sdp_session(parser) : nullptr;
    int result = -1;
    if (error || !sdp) {
        LOGD_CALL(SIP, 3, co, "codec prediction: cannot parse sdp offer (%s)", error ? error : "no parser");
    } else {
        reading r;
        r.quiet = true;
        call_leg_sip *saved = co->cl_sip;
        call_leg_sip scratch{};
        if (!co->cl_sip)
            co->cl_sip = &scratch;
        collect(co, sdp, r, selection_mode(co) == 1 ? 1 : 0, true, false, nullptr, 0);
        co->cl_sip = saved;
        int i = audio_choice(co, r);
        if (i >= 0)
            result = r.c[i].codec;
    }
    if (parser)
        sdp_parser_free(parser);
    su_home_unref(home);
    return result;
}

int sip_predict_using_codec(call_object *co, const sip_s *sip)
{
    if (!sip || !sip->sip_payload || !sip->sip_content_type || !sip->sip_content_type->c_type ||
        strcasecmp(sip->sip_content_type->c_type, "application/sdp") != 0)
        return -1;
    return sdp_predict_using_codec_text(co, sip->sip_payload->pl_data, (int)sip->sip_payload->pl_len);
}

