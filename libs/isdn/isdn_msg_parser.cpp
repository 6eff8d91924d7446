// Parsers: the information elements of a received frame into the call
// record and its raw texts.
#include "isdn_msg_parser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base64.h"
#include "ie_coders.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"

int misdn_set_time_from_isdn = 0;

enum { B64_TEXT = 4 * ((BC_FAC_LEN + 2) / 3) + 1, NUMBER_BUF = 31 };

#define RAW(field, ...) ie_raw_text(bc->ie_facilities.field, sizeof(bc->ie_facilities.field), __VA_ARGS__)

static void b64(const unsigned char *data, int len, char *out, size_t size)
{
    plaintext_to_base64((const char *)data, len < 0 ? 0 : len, out, size);
}

// Common start of a parser: raw texts emptied (unless keep), trace head,
// the parser's name at level 18 (unless quiet).
static void begin(misdn_bchannel *bc, const char *trace, const char *name, int keep, int quiet)
{
    if (!keep)
        misdn_clean_ie_buffers(bc);
    isdn_trace_head(trace);
    if (!quiet)
        cb_log_as(name, 18, bc->port, bc->pid, "%s", name);
}

// ---- one information element each ----

static void step_bearer(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int coding, capability, mode, rate, multi, user, async, urate, stopbits, dbits, parity;
    if (dec_ie_bearer(msg, &coding, &capability, &mode, &rate, &multi, &user, &async, &urate, &stopbits,
                      &dbits, &parity, nt, bc))
        return;
    memset(&bc->bearer_info, 0, sizeof(bc->bearer_info));
    bc->bearer_info.coding = coding < 0 ? 0 : (unsigned)coding;
    bc->bearer_info.capability = capability < 0 ? 0 : (unsigned)capability;
    bc->bearer_info.mode = mode < 0 ? 0 : (unsigned)mode;
    bc->bearer_info.rate = rate < 0 ? 0 : (unsigned)rate;
    bc->bearer_info.user = user < 0 ? 0 : (unsigned)user;
    if (capability == -1)
        capability = 8;
    bc->capability = capability;
    if (capability == 8) {
        bc->urate = urate;
        bc->rate = rate;
        bc->user1 = user;
        bc->mode = mode;
        RAW(ie_bearer, "capability=%i;user=%i;urate=%i;rate=%i;mode=%i", capability, user, urate, rate, mode);
    } else {
        RAW(ie_bearer, "capability=%i", capability);
    }
    bc->law = (user == 2 || user == 3 || user == 5) ? user : 3;
    if (bc->in_bearer_buf_len > 0) {
        char text[B64_TEXT];
        b64(bc->in_bearer_buf, bc->in_bearer_buf_len, text, sizeof(text));
        if (text[0]) {
            size_t used = strlen(bc->ie_facilities.ie_bearer);
            ie_raw_text(bc->ie_facilities.ie_bearer + used, sizeof(bc->ie_facilities.ie_bearer) - used,
                        ";length=%i;bearer=%s", bc->in_bearer_buf_len, text);
        }
    }
}

static void step_channel(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int exclusive, channel;
    if (dec_ie_channel_id(msg, &exclusive, &channel, nt, bc))
        return;
    cb_log_as("set_channel", 3, bc->port, bc->pid, "set_channel: bc->channel:%d channel:%d exclusive:%d\n",
              bc->channel, channel, exclusive);
    if (channel >= 0) {
        bc->exclusive = exclusive;
        bc->channel = channel;
        if (cb_event)
            cb_event(EVENT_NEW_CHANNEL, bc, nullptr);
    }
    RAW(ie_channel_id, "channel=%i;exclusive=%i", channel, exclusive);
}

void parse_facility_ie(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int len;
    if (dec_ie_facility(msg, bc->infac, sizeof(bc->infac), &len, nt, bc))
        return;
    bc->infac_len = len;
    char text[B64_TEXT];
    b64(bc->infac, bc->infac_len, text, sizeof(text));
    if (text[0])
        RAW(ie_facility, "length=%i;facility=%s", bc->infac_len, text);
    parse_infac(bc);
}

static void step_progress(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int coding, location, progress;
    bc->progress_indicator = 0;
    bc->progress_coding = -1;
    bc->progress_location = -1;
    if (dec_ie_progress(msg, &coding, &location, &progress, nt, bc))
        return;
    bc->progress_coding = coding;
    bc->progress_location = location;
    bc->progress_indicator = progress;
    RAW(ie_progress, "coding=%i;location=%i;indicator=%i", coding, location, progress);
}

static void step_cause(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int location, cause;
    if (dec_ie_cause(msg, &location, &cause, nt, bc))
        return;
    if (cause > 0)
        bc->cause = cause;
    RAW(ie_cause, "location=%i;cause=%i", location, cause);
}

static void step_display(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (dec_ie_display(msg, bc->display, sizeof(bc->display), nt, bc))
        return;
    RAW(ie_display, "display=%s", bc->display);
}

static void step_hlc(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int len;
    if (dec_ie_hlc_raw(msg, bc->hlc, sizeof(bc->hlc), &len, nt, bc))
        return;
    bc->hlclen = len;
    char text[B64_TEXT];
    b64(bc->hlc, len, text, sizeof(text));
    RAW(ie_hlc, "length=%i;hlc=%s", len, text);
    cb_log(1, bc->port, bc->pid, "HLC: len %i (%s)\n", len, text);
}

static void step_llc(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int len;
    if (dec_ie_llc_raw(msg, bc->llc, sizeof(bc->llc), &len, nt, bc))
        return;
    bc->llclen = len;
    char text[B64_TEXT];
    b64(bc->llc, len, text, sizeof(text));
    RAW(ie_llc, "length=%i;llc=%s", len, text);
    cb_log(1, bc->port, bc->pid, "LLC: len %i (%s)\n", len, text);
}

static void step_useruser(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int protocol, len;
    int r = dec_ie_useruser(msg, &protocol, bc->uu, sizeof(bc->uu), &len, nt, bc);
    bc->uu_protocol = (unsigned char)protocol;
    bc->uulen = len < 0 ? 0 : len;
    if (r || len < 0)
        return;
    char text[B64_TEXT];
    b64(bc->uu, len, text, sizeof(text));
    RAW(ie_useruser, "protocol=0x%x;length=%i;useruser=%s", protocol, len, text);
    cb_log(1, bc->port, bc->pid, "USERUSERINFO: len=%i (%s)\n", len, text);
}

static void step_keypad(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (dec_ie_keypad(msg, bc->keypad, sizeof(bc->keypad), nt, bc))
        return;
    RAW(ie_keypad, "keypad=%s", bc->keypad);
}

static void step_complete(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int complete;
    dec_ie_complete(msg, &complete, nt, bc);
    bc->sending_complete = complete;
    if (complete)
        RAW(ie_complete, "complete=%i", complete);
}

static void step_subaddresses(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int len;
    char text[B64_TEXT];
    if (!dec_ie_calling_subaddress(msg, bc->calling_subaddress, sizeof(bc->calling_subaddress), &len, nt,
                                   bc)) {
        bc->calling_subaddress_len = len;
        b64(bc->calling_subaddress, len, text, sizeof(text));
        if (text[0])
            RAW(ie_calling_subaddress, "length=%i;calling_subaddress=%s", len, text);
    }
    if (!dec_ie_called_subaddress(msg, bc->called_subaddress, sizeof(bc->called_subaddress), &len, nt,
                                  bc)) {
        bc->called_subaddress_len = len;
        b64(bc->called_subaddress, len, text, sizeof(text));
        if (text[0])
            RAW(ie_called_subaddress, "length=%i;called_subaddress=%s", len, text);
    }
}

// ---- parsers ----

int parse_proceeding(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "PROCEEDING", __func__, 0, 1);
    step_bearer(msg, bc, nt);
    step_channel(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_progress(msg, bc, nt);
    step_display(msg, bc, nt);
    step_hlc(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_alerting(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "ALERTING", __func__, 0, 0);
    if (bc->use_qsig)
        get_qsig_name_facility(bc, msg, nt);
    step_bearer(msg, bc, nt);
    step_channel(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_progress(msg, bc, nt);
    step_display(msg, bc, nt);
    step_hlc(msg, bc, nt);
    step_useruser(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_progress(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "PROGRESS", __func__, 0, 0);
    step_bearer(msg, bc, nt);
    step_cause(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_progress(msg, bc, nt);
    step_display(msg, bc, nt);
    step_hlc(msg, bc, nt);
    step_useruser(msg, bc, nt);
    rx_log(bc);
    return 0;
}

static int pres_or_screen(int v) { return (v == 0 || v == 1) ? v : 0; }

int parse_setup(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "SETUP", __func__, 0, 0);
    if (bc->use_qsig)
        get_qsig_name_facility(bc, msg, nt);

    int type, plan, present, screen, reason;
    char number[NUMBER_BUF];
    if (!dec_ie_calling_pn(msg, &type, &plan, &present, &screen, number, sizeof(number), nt, bc, 0))
        RAW(ie_calling_pn, "type=%i;plan=%i;present=%i;screen=%i;oad=%s", type, plan, present, screen, number);
    bc->oton = (mISDN_NUMBER_TYPE)type;
    bc->onpi = (mISDN_NUMBER_PLAN)plan;
    ie_raw_text(bc->oad, sizeof(bc->oad), "%s", number);
    bc->pres = pres_or_screen(present);
    bc->screen = pres_or_screen(screen);

    if (!nt && l3_ie_repeated(msg, nt, IE_CALLING_PN)) {
        int r = dec_ie_calling_pn(msg, &type, &plan, &present, &screen, number, sizeof(number), nt, bc, 1);
        cb_log(5, bc->port, bc->pid, "CALLING PARTY NR REPEATED: %s\n", number);
        if (!r) {
            RAW(ie_calling_pn2, "type=%i;plan=%i;present=%i;screen=%i;oad=%s", type, plan, present, screen,
                number);
            bc->o2ton = (mISDN_NUMBER_TYPE)type;
            bc->o2npi = (mISDN_NUMBER_PLAN)plan;
            bc->o2pres = pres_or_screen(present);
            bc->o2screen = pres_or_screen(screen);
            ie_raw_text(bc->oad2, sizeof(bc->oad2), "%s", number);
        }
    }

    int r = dec_ie_called_pn(msg, &type, &plan, number, sizeof(number), nt, bc);
    if (type >= 0)
        ie_raw_text(bc->dad, sizeof(bc->dad), "%s", number);
    if (!r) {
        bc->dton = (mISDN_NUMBER_TYPE)type;
        bc->dnpi = (mISDN_NUMBER_PLAN)plan;
        RAW(ie_called_pn, "type=%i;plan=%i;dad=%s", type, plan, bc->dad);
    }

    step_keypad(msg, bc, nt);
    step_complete(msg, bc, nt);

    r = dec_ie_redir_nr(msg, &type, &plan, &present, &screen, &reason, number, sizeof(number), nt, bc);
    ie_raw_text(bc->rad, sizeof(bc->rad), "%s", r ? "" : number);
    if (!r) {
        bc->rton = (mISDN_NUMBER_TYPE)type;
        bc->rnpi = (mISDN_NUMBER_PLAN)plan;
        bc->rscreen = screen;
        bc->rpres = present;
        RAW(ie_redir_nr, "type=%i;plan=%i;present=%i;screen=%i;rad=%s", type, plan, present, screen, bc->rad);
    }

    step_bearer(msg, bc, nt);
    step_hlc(msg, bc, nt);
    step_llc(msg, bc, nt);
    step_channel(msg, bc, nt);
    step_useruser(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_subaddresses(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

// Sets the system clock from a received date when this port may and the
// difference reaches the precision the element gives.
static void clock_from_date(misdn_bchannel *bc, struct tm *tm, int len)
{
    if (misdn_set_time_from_isdn <= 0 || bc->port != misdn_set_time_from_isdn || len < 4)
        return;
    struct tm copy = *tm;
    time_t t = mktime(&copy);
    if (t == (time_t)-1)
        return;
    long tolerance = len >= 5 ? 60 : 3600;
    long diff = labs((long)(t - q931_now()));
    if (diff < tolerance)
        return;
    struct timespec ts = {t, 0};
    if (q931_set_clock(&ts) < 0)
        cb_log(0, bc->port, bc->pid, "Setting the time from ISDN failed\n");
}

int parse_connect(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "CONNECT", __func__, 0, 0);
    step_bearer(msg, bc, nt);
    step_channel(msg, bc, nt);
    step_progress(msg, bc, nt);
    if (nt)
        bc->ces = l3_frame_ces(msg, nt);
    if (bc->use_qsig)
        get_qsig_name_facility(bc, msg, nt);
    step_display(msg, bc, nt);

    struct tm tm;
    int len;
    if (!dec_ie_date(msg, &tm, &len, nt, bc)) {
        bc->tm = tm;
        bc->ie_facilities.ie_date = tm;
        clock_from_date(bc, &tm, len);
    }

    int type, plan, present, screen;
    char number[NUMBER_BUF];
    if (!dec_ie_connected_pn(msg, &type, &plan, &present, &screen, number, sizeof(number), nt, bc)) {
        ie_raw_text(bc->cad, sizeof(bc->cad), "%s", number);
        bc->cton = (mISDN_NUMBER_TYPE)type;
        bc->cnpi = (mISDN_NUMBER_PLAN)plan;
        bc->cpres = present;
        bc->cscreen = screen;
        RAW(ie_connect_pn, "type=%i;plan=%i;pres=%i;screen=%i;cad=%s", type, plan, present, screen, bc->cad);
    }
    step_hlc(msg, bc, nt);
    step_llc(msg, bc, nt);
    step_useruser(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_setup_acknowledge(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "SETUP_ACKNOWLEDGE", __func__, 0, 1);
    step_channel(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_progress(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_connect_acknowledge(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "CONNECT_ACKNOWLEDGE", __func__, 0, 0);
    step_channel(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_user_information(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "USER_INFORMATION", __func__, 1, 0);
    step_useruser(msg, bc, nt);
    rx_log(bc);
    return 0;
}

// Messages that carry a cause and a display.
static int parse_cause_display(msg_t *msg, misdn_bchannel *bc, int nt, const char *trace, const char *name)
{
    begin(bc, trace, name, 0, 0);
    step_cause(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_suspend_reject(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_cause_display(msg, bc, nt, "SUSPEND_REJECT", __func__);
}

int parse_resume_reject(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_cause_display(msg, bc, nt, "RESUME_REJECT", __func__);
}

int parse_hold_reject(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_cause_display(msg, bc, nt, "HOLD_REJECT", __func__);
}

int parse_retrieve_reject(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_cause_display(msg, bc, nt, "RETRIEVE_REJECT", __func__);
}

int parse_status(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_cause_display(msg, bc, nt, "STATUS", __func__);
}

static int parse_display_only(msg_t *msg, misdn_bchannel *bc, int nt, const char *trace, const char *name)
{
    begin(bc, trace, name, 0, 0);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_hold(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_display_only(msg, bc, nt, "HOLD", __func__);
}

int parse_status_enquiry(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_display_only(msg, bc, nt, "STATUS_ENQUIRY", __func__);
}

static int parse_facility_only(msg_t *msg, misdn_bchannel *bc, int nt, const char *trace, const char *name)
{
    begin(bc, trace, name, 0, 0);
    parse_facility_ie(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_suspend(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_facility_only(msg, bc, nt, "SUSPEND", __func__);
}

int parse_resume(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_facility_only(msg, bc, nt, "RESUME", __func__);
}

static int parse_channel_display(msg_t *msg, misdn_bchannel *bc, int nt, const char *trace, const char *name)
{
    begin(bc, trace, name, 0, 0);
    step_channel(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_hold_acknowledge(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    return parse_channel_display(msg, bc, nt, "HOLD_ACKNOWLEDGE", __func__);
}

int parse_retrieve_acknowledge(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    parse_channel_display(msg, bc, nt, "RETRIEVE_ACKNOWLEDGE", __func__);
    printf("Parsing RETRIEVE_ACKNOWLEDGE Msg\n");
    return 0;
}

int parse_suspend_acknowledge(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "SUSPEND_ACKNOWLEDGE", __func__, 0, 0);
    parse_facility_ie(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_resume_acknowledge(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "RESUME_ACKNOWLEDGE", __func__, 0, 0);
    step_channel(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_retrieve(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "RETRIEVE", __func__, 0, 0);
    step_channel(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_disconnect(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "DISCONNECT", __func__, 0, 0);
    step_cause(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_progress(msg, bc, nt);
    step_display(msg, bc, nt);
    step_useruser(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_restart(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "RESTART", __func__, 0, 0);
    int exclusive, channel;
    if (!dec_ie_channel_id(msg, &exclusive, &channel, nt, bc)) {
        bc->restart_channel = channel;
        RAW(ie_channel_id, "channel=%i;exclusive=%i", channel, exclusive);
        cb_log(3, bc->port, bc->pid, "CC_RESTART Request on channel:%d on this port.\n", channel);
    }
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_release(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "RELEASE", __func__, 0, 0);
    step_cause(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_release_complete(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "RELEASE_COMPLETE", __func__, 0, 0);
    if (l3_frame_prim(msg, nt) == (0x35A00u | L3_CONFIRM)) {
        cb_log(0, bc->port, bc->pid, nt ? "CC_RELEASE_COMPLETE|CONFIRM [NT] \n" : "CC_RELEASE_COMPLETE|CONFIRM [TE] \n");
        return 0;
    }
    step_cause(msg, bc, nt);
    parse_facility_ie(msg, bc, nt);
    step_display(msg, bc, nt);
    step_useruser(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_notify(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "NOTIFY", __func__, 0, 0);
    step_bearer(msg, bc, nt);
    step_display(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_information(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    begin(bc, "INFORMATION", __func__, 1, 0);
    step_complete(msg, bc, nt);
    step_display(msg, bc, nt);
    step_keypad(msg, bc, nt);
    int type, plan;
    char number[NUMBER_BUF];
    int r = dec_ie_called_pn(msg, &type, &plan, number, sizeof(number), nt, bc);
    if (type >= 0)
        ie_raw_text(bc->info_dad, sizeof(bc->info_dad), "%s", number);
    if (!r) {
        bc->dton = (mISDN_NUMBER_TYPE)type;
        bc->dnpi = (mISDN_NUMBER_PLAN)plan;
        RAW(ie_called_pn, "type=%i;plan=%i;dad=%s", type, plan, bc->info_dad);
    }
    step_useruser(msg, bc, nt);
    rx_log(bc);
    return 0;
}

int parse_timeout(const isdn_msg *, msg_t *, misdn_bchannel *bc, int)
{
    begin(bc, "TIMEOUT", __func__, 1, 1);
    rx_log(bc);
    return 0;
}
