// Builders: a frame for a message from the call record.
#include <cstring>

#include "ie_coders.h"
#include "isdn_msg_parser.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"

// Creates the frame with its NT record sized from the message's layout,
// writes the trace head and logs the builder's name (unless quiet).
static msg_t *begin(misdn_bchannel *bc, int nt, uint32_t prim, uint8_t mt, const char *trace,
                    const char *name, int quiet)
{
    msg_t *msg = create_l3msg(prim, mt, bc->l3_id, NT_RECORD_SIZE, nt);
    isdn_trace_head(bc->port, trace);
    if (!quiet)
        cb_log_as(name, 18, bc->port, bc->pid, "%s", name);
    return msg;
}

static msg_t *finish(misdn_bchannel *bc, msg_t *msg)
{
    tx_log(bc);
    return msg;
}

static int location_of(int nt) { return nt ? 1 : 0; }

// Progress with the call's location and indicator where they are set.
static void enc_progress_usual(msg_t *msg, misdn_bchannel *bc, int nt)
{
    int location = bc->progress_location >= 0 ? bc->progress_location : (nt ? 1 : 5);
    int indicator = bc->progress_indicator > 0 ? bc->progress_indicator : 8;
    enc_ie_progress(msg, 0, location, indicator, nt, bc);
}

static int progress_set(const misdn_bchannel *bc)
{
    return bc->progress_indicator > 0 || bc->progress_location >= 0;
}

static void enc_useruser_once(msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (!bc->uulen)
        return;
    int len = bc->uulen;
    if (len > (int)sizeof(bc->uu))
        len = (int)sizeof(bc->uu);
    enc_ie_useruser(msg, bc->uu_protocol, bc->uu, len, nt, bc);
    bc->uulen = 0;
    bc->uulen_stored = 0;
}

static int raw_len(int len, int size) { return len > size ? size : len; }

// Bearer of SETUP and PROGRESS from the call's capability and law.
static void enc_bearer_of_call(msg_t *msg, misdn_bchannel *bc, int nt)
{
    int protocol = (bc->law == 2 || bc->law == 3 || bc->law == 5) ? bc->law : 3;
    switch (bc->capability) {
    case 8:
        enc_ie_bearer(msg, 0, 8, bc->mode, bc->rate, -1, -1, nt, bc);
        break;
    case 9:
        enc_ie_bearer(msg, 0, 9, 0, 16, -1, -1, nt, bc);
        break;
    default:
        enc_ie_bearer(msg, 0, bc->capability, 0, 16, -1, protocol, nt, bc);
        break;
    }
}

void enc_facility_list(msg_t *msg, misdn_bchannel *bc, int nt)
{
    for (int i = 0; i < BC_OUTFAC_COUNT && bc->outfac_len[i]; i++) {
        int len = raw_len(bc->outfac_len[i], BC_FAC_LEN);
        if (i == 0)
            enc_ie_facility(msg, bc->outfac[i], len, nt, bc);
        else
            enc_ie_facility_second(msg, bc->outfac[i], len, nt, bc);
        bc->outfac_len_stored[i] = bc->outfac_len[i];
        bc->outfac_len[i] = 0;
    }
}

msg_t *build_proceeding(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x30280, 0x02, "PROCEEDING", __func__, 0);
    if (bc->channel)
        enc_ie_channel_id(msg, bc->exclusive, bc->channel, nt, bc);
    if (nt || progress_set(bc))
        enc_progress_usual(msg, bc, nt);
    return finish(bc, msg);
}

msg_t *build_alerting(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x30180, 0x01, "ALERTING", __func__, 0);
    if (bc->use_qsig && bc->qsig_local_name[0])
        set_qsig_name_facility(bc, QSIG_CALLED_NAME);
    if (bc->channel)
        enc_ie_channel_id(msg, bc->exclusive, bc->channel, nt, bc);
    enc_facility_list(msg, bc, nt);
    if (nt || progress_set(bc))
        enc_progress_usual(msg, bc, nt);
    enc_useruser_once(msg, bc, nt);
    return finish(bc, msg);
}

msg_t *build_progress(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x30380, 0x03, "PROGRESS", __func__, 0);
    enc_bearer_of_call(msg, bc, nt);
    if (bc->out_cause != 0 && bc->out_cause != 16)
        enc_ie_cause(msg, location_of(nt), bc->out_cause, nt, bc);
    enc_progress_usual(msg, bc, nt);
    if (bc->display[0])
        enc_ie_display(msg, bc->display, sizeof(bc->display), nt, bc);
    if (bc->hlclen)
        enc_ie_hlc_raw(msg, bc->hlc, raw_len(bc->hlclen, BC_LLC_HLC_LEN), nt, bc);
    enc_useruser_once(msg, bc, nt);
    return finish(bc, msg);
}

msg_t *build_setup(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x30580, 0x05, "SETUP", __func__, 0);
    if (bc->use_qsig && bc->qsig_local_name[0])
        set_qsig_name_facility(bc, QSIG_CALLING_NAME);
    if (bc->channel)
        enc_ie_channel_id(msg, bc->exclusive, bc->channel, nt, bc);
    enc_ie_calling_pn(msg, bc->oton, bc->onpi, bc->pres, bc->screen, bc->oad, nt, bc);
    if (bc->dad[0])
        enc_ie_called_pn(msg, bc->dton, bc->dnpi, bc->dad, nt, bc);
    if (bc->rad[0])
        enc_ie_redir_nr(msg, bc->rton, bc->rnpi, bc->pres, bc->screen, 0, bc->rad, nt, bc);
    if (bc->keypad[0])
        enc_ie_keypad(msg, bc->keypad, nt, bc);
    if (bc->display[0])
        enc_ie_display(msg, bc->display, sizeof(bc->display), nt, bc);
    enc_bearer_of_call(msg, bc, nt);
    if (bc->sending_complete)
        enc_ie_complete(msg, bc->sending_complete, nt, bc);
    enc_useruser_once(msg, bc, nt);
    if (bc->hlclen)
        enc_ie_hlc_raw(msg, bc->hlc, raw_len(bc->hlclen, BC_LLC_HLC_LEN), nt, bc);
    if (bc->llclen > 0)
        enc_ie_llc_raw(msg, bc->llc, raw_len(bc->llclen, BC_LLC_HLC_LEN), nt, bc);
    enc_facility_list(msg, bc, nt);
    return finish(bc, msg);
}

msg_t *build_connect(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    cb_log(6, bc->port, bc->pid, "BUILD_CONNECT: bc:%p bc->l3id:%d, nt:%d\n", (void *)bc, bc->l3_id, nt);
    msg_t *msg = begin(bc, nt, 0x30780, 0x07, "CONNECT", __func__, 0);
    if (bc->qsig_local_name[0])
        set_qsig_name_facility(bc, QSIG_CONNECTED_NAME);
    // The network side names the channel in its first answer to a SETUP: a
    // CONNECT with nothing before it is that answer. (The channel goes out
    // once per call, so a CONNECT after CALL PROCEEDING carries none.)
    if ((bc->cw || nt) && bc->channel)
        enc_ie_channel_id(msg, bc->exclusive, bc->channel, nt, bc);
    if (nt)
        enc_ie_date(msg, q931_now(), nt, bc);
    if (bc->cad[0])
        enc_ie_connected_pn(msg, bc->cton, bc->cnpi, bc->cpres, bc->cscreen, bc->cad, nt, bc);
    enc_facility_list(msg, bc, nt);
    return finish(bc, msg);
}

msg_t *build_setup_acknowledge(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x30D80, 0x0D, "SETUP_ACKNOWLEDGE", __func__, 1);
    enc_ie_channel_id(msg, bc->exclusive, bc->channel, nt, bc);
    if (nt)
        enc_ie_progress(msg, 0, 1, 8, nt, bc);
    return finish(bc, msg);
}

msg_t *build_connect_acknowledge(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x30783, 0x07, "CONNECT_ACKNOWLEDGE", __func__, 0);
    enc_ie_channel_id(msg, 1, bc->channel, nt, bc);
    return finish(bc, msg);
}

msg_t *build_user_information(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x32080, 0x20, "USER_INFORMATION", __func__, 0);
    enc_useruser_once(msg, bc, nt);
    return finish(bc, msg);
}

msg_t *build_retrieve_acknowledge(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x33380, 0x33, "RETRIEVE_ACKNOWLEDGE", __func__, 0);
    if (bc->channel)
        enc_ie_channel_id(msg, bc->exclusive, bc->channel, nt, bc);
    return finish(bc, msg);
}

msg_t *build_restart(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x34680, 0x46, "RESTART", __func__, 0);
    if (bc->channel)
        enc_ie_channel_id(msg, bc->exclusive, bc->channel, nt, bc);
    return finish(bc, msg);
}

msg_t *build_disconnect(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x34580, 0x45, "DISCONNECT", __func__, 0);
    enc_ie_cause(msg, location_of(nt), bc->out_cause, nt, bc);
    if (nt && progress_set(bc))
        enc_progress_usual(msg, bc, nt);
    return finish(bc, msg);
}

msg_t *build_release(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x34D80, 0x4D, "RELEASE", __func__, 0);
    if (bc->out_cause >= 0)
        enc_ie_cause(msg, location_of(nt), bc->out_cause, nt, bc);
    return finish(bc, msg);
}

msg_t *build_release_complete(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x35A80, 0x5A, "RELEASE_COMPLETE", __func__, 0);
    if (bc->out_cause > 0)
        enc_ie_cause(msg, location_of(nt), bc->out_cause, nt, bc);
    return finish(bc, msg);
}

msg_t *build_information(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    msg_t *msg = begin(bc, nt, 0x37B80, 0x7B, "INFORMATION", __func__, 0);
    enc_useruser_once(msg, bc, nt);
    if (bc->dad[0])
        enc_ie_called_pn(msg, 0, 1, bc->info_dad, nt, bc);
    if (bc->display[0])
        enc_ie_display(msg, bc->display, sizeof(bc->display), nt, bc);
    return finish(bc, msg);
}

// Messages sent without an element.
#define BUILD_EMPTY(name, prim, mt, trace, quiet)                              \
    msg_t *build_##name(const isdn_msg *, misdn_bchannel *bc, int nt)          \
    {                                                                          \
        return finish(bc, begin(bc, nt, prim, mt, trace, __func__, quiet));    \
    }

BUILD_EMPTY(suspend_reject, 0x32180, 0x21, "SUSPEND_REJECT", 0)
BUILD_EMPTY(resume_reject, 0x32280, 0x22, "RESUME_REJECT", 0)
BUILD_EMPTY(hold, 0x32480, 0x24, "HOLD", 0)
BUILD_EMPTY(suspend, 0x32580, 0x25, "SUSPEND", 0)
BUILD_EMPTY(resume, 0x32680, 0x26, "RESUME", 0)
BUILD_EMPTY(hold_acknowledge, 0x32880, 0x28, "HOLD_ACKNOWLEDGE", 0)
BUILD_EMPTY(suspend_acknowledge, 0x32D80, 0x2D, "SUSPEND_ACKNOWLEDGE", 0)
BUILD_EMPTY(resume_acknowledge, 0x32E80, 0x2E, "RESUME_ACKNOWLEDGE", 0)
BUILD_EMPTY(hold_reject, 0x33080, 0x30, "HOLD_REJECT", 1)
BUILD_EMPTY(retrieve, 0x33180, 0x31, "RETRIEVE", 0)
BUILD_EMPTY(retrieve_reject, 0x33780, 0x37, "RETRIEVE_REJECT", 0)
BUILD_EMPTY(notify, 0x36E80, 0x6E, "NOTIFY", 0)
BUILD_EMPTY(status_enquiry, 0x37580, 0x75, "STATUS_ENQUIRY", 0)
BUILD_EMPTY(status, 0x37D80, 0x7D, "STATUS", 0)

msg_t *build_timeout(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    misdn_clean_ie_buffers(bc);
    return finish(bc, begin(bc, nt, 0x37D80, 0x7D, "TIMEOUT", __func__, 0));
}

msg_t *build_register(const isdn_msg *, misdn_bchannel *, int)
{
    return nullptr;
}

msg_t *rejected_call_build_release_complete(int l3_id, misdn_bchannel *bc, int nt)
{
    const uint32_t prim = 0x35A80;
    msg_t *msg = create_l3msg(prim, 0x5A, l3_id, NT_RECORD_SIZE, 1);
    if (msg && bc && bc->out_cause > 0)
        enc_ie_cause(msg, location_of(nt), bc->out_cause, 1, bc);
    return msg;
}
