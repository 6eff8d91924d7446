#include "debug_dumps.h"

#include <sofia-sip/sdp.h>
#include <sofia-sip/sip.h>

#include <cstring>
#include <string>

#include "call_object.h"
#include "log.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "state_names.h"
#include "strtools.h"

static_assert(sizeof isdn_history_events / sizeof isdn_history_events[0] == LEGI_COUNT,
              "one history row per ISDN leg counter");

namespace {

const char *text(const char *s) { return s ? s : ""; }

bool sdp_lines_wanted()
{
    return log_levels_debug_enabled && log_get_loglevel(log_levels_debug, SIP) >= 5;
}

const char *connection_address(const sdp_connection_t *c) { return c ? text(c->c_address) : ""; }

} // namespace

void tarn_list_isdn_event_history(FILE *out, const call_object *co)
{
    if (!out || !co)
        return;
    fprintf(out, "%-20s\tRecv\tSent\n", "Event");
    const isdn_leg_info *legi = co->legi ? co->legi : &co->_legi;
    for (int k = 0; k < LEGI_COUNT; k++)
        fprintf(out, "%-20s\t%i\t%i\n", isdn_history_events[k], legi->events_received[k], legi->events_sent[k]);
    fputs("Received\n", out);
}

void dbg_log_remote_sdp(const call_object *co, const sdp_session_s *sdp)
{
    if (!sdp || !sdp_lines_wanted())
        return;
    // The far end decides how many media lines and formats there are: the
    // text is cut at the buffer's end and the walk stops there.
    char buf[REMOTE_SDP_TEXT_SIZE];
    snprintf(buf, sizeof buf, "Remote SDP: connection %s", connection_address(sdp->sdp_connection));
    auto full = [&] { return strlen(buf) >= sizeof buf - 1; };
    for (const sdp_media_t *m = sdp->sdp_media; m && !full(); m = m->m_next) {
        st_safe_strcat(buf, sizeof buf, " ==> c: %s ", connection_address(m->m_connections));
        for (const sdp_rtpmap_t *r = m->m_rtpmaps; r && !full(); r = r->rm_next)
            st_safe_strcat(buf, sizeof buf, " ==> %s/%i/%i", text(r->rm_encoding), (int)r->rm_pt, (int)r->rm_rate);
    }
    LOGD(SIP, 5, cinfo(co), "%s", buf);
}

void dbg_sip_analyze_sdp(const sdp_session_s *local, const sdp_session_s *remote)
{
    if (!sdp_lines_wanted())
        return;
    const struct {
        const char *side;
        const sdp_session_s *sdp;
    } sides[] = {{"Local", local}, {"Remote", remote}};
    for (const auto &s : sides) {
        if (!s.sdp)
            continue;
        if (s.sdp->sdp_connection)
            LOGD(SIP, 5, nullptr, "SDPINFOSTART Connection from %s", s.side);
        for (const sdp_media_t *m = s.sdp->sdp_media; m; m = m->m_next) {
            char media[256], address[256];
            snprintf(media, sizeof media, "Media %s - port %li -", text(m->m_type_name), (long)m->m_port);
            if (m->m_connections)
                snprintf(address, sizeof address, "address: %s", text(m->m_connections->c_address));
            else
                snprintf(address, sizeof address, "no extra address given");
            LOGD(SIP, 5, nullptr, "%s %s", media, address);
            for (const sdp_rtpmap_t *r = m->m_rtpmaps; r; r = r->rm_next) {
                char encoding[256], pt[32], rate[32];
                snprintf(encoding, sizeof encoding, "%s: encoding: %s - ", s.side, text(r->rm_encoding));
                snprintf(pt, sizeof pt, "pt: %i - ", (int)r->rm_pt);
                snprintf(rate, sizeof rate, "rate: %li", (long)r->rm_rate);
                LOGD(SIP, 5, nullptr, "%s %s %s", encoding, pt, rate);
            }
        }
        LOGD(SIP, 5, nullptr, "SDPINFOSTOP Connection from %s", s.side);
    }
}

namespace {

void print_address(FILE *out, const char *prefix, const sip_addr_t *a)
{
    if (!a)
        return;
    const url_t *u = a->a_url;
    fprintf(out, "%spad %i\n", prefix, (int)u->url_pad[0]);
    fprintf(out, "%surltype %i\n", prefix, (int)u->url_type);
    fprintf(out, "%srootflag %i\n", prefix, (int)u->url_root);
    const struct {
        const char *name;
        const char *value;
    } parts[] = {
        {"display", a->a_display},  {"comment", a->a_comment},   {"tag", a->a_tag},
        {"URLscheme", u->url_scheme}, {"URLuser", u->url_user},   {"URLpass", u->url_password},
        {"URLhost", u->url_host},   {"URLpath", u->url_path},     {"URLparams", u->url_params},
        {"URLheaders", u->url_headers}, {"URLfragments", u->url_fragment},
    };
    for (const auto &p : parts)
        fprintf(out, "%s%s %s\n", prefix, p.name, text(p.value));
}

} // namespace

void dbg_sip_analyze(const sip_s *sip)
{
    if (!sip) {
        puts("SIPNULL");
        return;
    }
    printf("Flags %i\n", sip->sip_flags);
    printf("size %i\n", (int)sip->sip_size);
    printf("From %s\n", sip->sip_from ? text(sip->sip_from->a_display) : "");
    printf("To %s\n", sip->sip_to ? text(sip->sip_to->a_display) : "");
    print_address(stdout, "From_", sip->sip_from);
    print_address(stdout, "To_", sip->sip_to);
    fflush(stdout);
}

// ---- B-channel record --------------------------------------------------------

namespace {

// One printed field: a number, or a text of a fixed width (never read past
// it). A row with `line_end` closes its line.
struct bc_field {
    const char *name;
    long (*number)(const misdn_bchannel *);
    const char *(*chars)(const misdn_bchannel *);
    int width;
    bool line_end;
};

#define BC_INT(f) {#f, [](const misdn_bchannel *b) { return (long)b->f; }, nullptr, 0, false}
#define BC_TEXT(f) {#f, nullptr, [](const misdn_bchannel *b) { return (const char *)b->f; }, (int)sizeof misdn_bchannel::f, false}
#define BC_END {nullptr, nullptr, nullptr, 0, true}

// The record's fields by group, in record order; buffers print their lengths.
const bc_field bc_fields[] = {
    // history
    BC_TEXT(event_queue), BC_INT(phc_queue_c1), BC_INT(phc_queue_c2), BC_END,
    // identity
    BC_INT(nt), BC_INT(port), BC_INT(need_disconnect), BC_INT(need_release), BC_INT(need_release_complete),
    BC_INT(dec), BC_INT(l3_id), BC_INT(pid), BC_INT(tarn_pid), BC_INT(ces), BC_INT(restart_channel), BC_END,
    // channel
    BC_INT(channel), BC_INT(channel_preselected), BC_INT(exclusive), BC_INT(channel_id_encoded), BC_INT(in_use),
    BC_INT(cw), BC_END,
    // audio
    BC_INT(bframe_len), BC_INT(time_usec), BC_INT(te_choose_channel), BC_INT(early_bconnect), BC_INT(dtmf),
    BC_INT(send_dtmf), BC_INT(need_more_infos), BC_INT(sending_complete), BC_INT(nodsp), BC_INT(nojitter), BC_END,
    // numbers
    BC_INT(dton), BC_INT(rton), BC_INT(oton), BC_INT(cton), BC_INT(o2ton), BC_INT(dnpi), BC_INT(rnpi), BC_INT(onpi),
    BC_INT(cnpi), BC_INT(o2npi), BC_INT(progress_coding), BC_INT(progress_location), BC_INT(progress_indicator),
    BC_END,
    // facility buffers
    BC_INT(pre_outfac_len), BC_INT(outfac_len[0]), BC_INT(outfac_len_stored[0]), BC_INT(infac_len),
    BC_INT(in_bearer_buf_len), BC_INT(out_bearer_buf_len), BC_INT(calling_subaddress_len),
    BC_INT(called_subaddress_len), BC_INT(AOCDtype), BC_INT(AOCD_need_export), BC_END,
    // call state
    BC_INT(evq), BC_INT(crypt), BC_INT(curprx), BC_INT(curptx), BC_INT(crypt_state), BC_INT(active), BC_INT(upset),
    BC_INT(generate_tone), BC_INT(tone_cnt), BC_INT(bc_state), BC_INT(next_bc_state), BC_INT(conf_id),
    BC_INT(holded), BC_INT(stack_holder), BC_END,
    // presentation and bearer
    BC_INT(pres), BC_INT(screen), BC_INT(o2pres), BC_INT(o2screen), BC_INT(rscreen), BC_INT(rpres), BC_INT(cscreen),
    BC_INT(cpres), BC_INT(capability), BC_INT(law), BC_INT(rate), BC_INT(mode), BC_INT(user1), BC_INT(urate),
    BC_INT(hdlc), BC_END,
    // number texts
    BC_TEXT(display), BC_TEXT(userusername), BC_END,
    BC_TEXT(msn), BC_TEXT(oad), BC_TEXT(oad2), BC_TEXT(rad), BC_TEXT(dad), BC_TEXT(cad), BC_TEXT(orig_dad),
    BC_TEXT(keypad), BC_END,
    BC_TEXT(info_dad), BC_TEXT(infos_pending), BC_TEXT(activersionDivQNumber1), BC_TEXT(activersionDivQNumber2),
    BC_INT(activersionDivQNumber1_ton), BC_INT(activersionDivQNumber2_ton), BC_END,
    // QSIG and user data
    BC_INT(use_complete_dialing_pound_star), BC_INT(use_qsig), BC_INT(use_qsig_network_extension),
    BC_INT(use_qsig_iso), BC_INT(reject_unknown_facility), BC_END,
    BC_TEXT(qsig_local_name), BC_INT(qsig_local_name_pres), BC_TEXT(qsig_remote_name), BC_INT(qsig_remote_name_pres),
    BC_INT(uulen), BC_INT(uulen_stored), BC_INT(uu_protocol), BC_INT(hlclen), BC_INT(llclen), BC_END,
    // clearing and media
    BC_INT(cause), BC_INT(out_cause), BC_TEXT(pipeline), BC_INT(orig), BC_INT(txgain), BC_INT(rxgain), BC_END,
    // tail
    BC_INT(unassociated), BC_END,
};

#undef BC_INT
#undef BC_TEXT
#undef BC_END

} // namespace

void dbg_info_bchannel_to(FILE *out, const misdn_bchannel *bc)
{
    if (!out || !bc)
        return;
    fputs("**************************************************\n", out);
    bool first = true;
    for (const bc_field &f : bc_fields) {
        if (f.line_end) {
            fputc('\n', out);
            first = true;
            continue;
        }
        if (!first)
            fputs(" -- ", out);
        first = false;
        if (f.number)
            fprintf(out, "%s %li", f.name, f.number(bc));
        else
            fprintf(out, "%s %.*s", f.name, f.width, f.chars(bc));
    }
}

void dbg_info_bchannel(const misdn_bchannel *bc)
{
    dbg_info_bchannel_to(stdout, bc);
    fflush(stdout);
}
