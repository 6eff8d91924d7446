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

// The raw text of an element, written into its field of the call.
#define RAW(field) ie_text(bc->ie_facilities.field)

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
    isdn_trace_head(bc->port, trace);
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
    ie_text text = RAW(ie_bearer);
    text.str("capability=").num(capability);
    if (capability == 8) {
        bc->urate = urate;
        bc->rate = rate;
        bc->user1 = user;
        bc->mode = mode;
        text.str(";user=").num(user).str(";urate=").num(urate).str(";rate=").num(rate).str(";mode=").num(mode);
    }
    bc->law = (user == 2 || user == 3 || user == 5) ? user : 3;
    if (bc->in_bearer_buf_len > 0)
        text.str(";length=").num(bc->in_bearer_buf_len).str(";bearer=").base64(bc->in_bearer_buf, bc->in_bearer_buf_len);
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
    RAW(ie_channel_id).str("channel=").num(channel).str(";exclusive=").num(exclusive);
}

void parse_facility_ie(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int len;
    if (dec_ie_facility(msg, bc->infac, sizeof(bc->infac), &len, nt, bc))
        return;
    bc->infac_len = len;
    if (len > 0)
        RAW(ie_facility).str("length=").num(len).str(";facility=").base64(bc->infac, len);
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
    RAW(ie_progress).str("coding=").num(coding).str(";location=").num(location).str(";indicator=").num(progress);
}

static void step_cause(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int location, cause;
    if (dec_ie_cause(msg, &location, &cause, nt, bc))
        return;
    if (cause > 0)
        bc->cause = cause;
    RAW(ie_cause).str("location=").num(location).str(";cause=").num(cause);
}

static void step_display(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (dec_ie_display(msg, bc->display, sizeof(bc->display), nt, bc))
        return;
    RAW(ie_display).str("display=").str(bc->display);
}

static void step_hlc(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int len;
    if (dec_ie_hlc_raw(msg, bc->hlc, sizeof(bc->hlc), &len, nt, bc))
        return;
    bc->hlclen = len;
    RAW(ie_hlc).str("length=").num(len).str(";hlc=").base64(bc->hlc, len);
    if (misdn_log_wanted(1, bc->port)) {
        char text[B64_TEXT];
        b64(bc->hlc, len, text, sizeof(text));
        cb_log(1, bc->port, bc->pid, "HLC: len %i (%s)\n", len, text);
    }
}

static void step_llc(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int len;
    if (dec_ie_llc_raw(msg, bc->llc, sizeof(bc->llc), &len, nt, bc))
        return;
    bc->llclen = len;
    RAW(ie_llc).str("length=").num(len).str(";llc=").base64(bc->llc, len);
    if (misdn_log_wanted(1, bc->port)) {
        char text[B64_TEXT];
        b64(bc->llc, len, text, sizeof(text));
        cb_log(1, bc->port, bc->pid, "LLC: len %i (%s)\n", len, text);
    }
}

static void step_useruser(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int protocol, len;
    int r = dec_ie_useruser(msg, &protocol, bc->uu, sizeof(bc->uu), &len, nt, bc);
    bc->uu_protocol = (unsigned char)protocol;
    bc->uulen = len < 0 ? 0 : len;
    if (r || len < 0)
        return;
    RAW(ie_useruser).str("protocol=0x").hex((unsigned)protocol).str(";length=").num(len).str(";useruser=").base64(bc->uu, len);
    if (misdn_log_wanted(1, bc->port)) {
        char text[B64_TEXT];
        b64(bc->uu, len, text, sizeof(text));
        cb_log(1, bc->port, bc->pid, "USERUSERINFO: len=%i (%s)\n", len, text);
    }
}

static void step_keypad(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (dec_ie_keypad(msg, bc->keypad, sizeof(bc->keypad), nt, bc))
        return;
    RAW(ie_keypad).str("keypad=").str(bc->keypad);
}

static void step_complete(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int complete;
    dec_ie_complete(msg, &complete, nt, bc);
    bc->sending_complete = complete;
    if (complete)
        RAW(ie_complete).str("complete=").num(complete);
}

static void step_subaddresses(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int len;
    if (!dec_ie_calling_subaddress(msg, bc->calling_subaddress, sizeof(bc->calling_subaddress), &len, nt,
                                   bc)) {
        bc->calling_subaddress_len = len;
        if (len > 0)
            RAW(ie_calling_subaddress).str("length=").num(len).str(";calling_subaddress=").base64(bc->calling_subaddress, len);
    }
    if (!dec_ie_called_subaddress(msg, bc->called_subaddress, sizeof(bc->called_subaddress), &len, nt,
                                  bc)) {
        bc->called_subaddress_len = len;
        if (len > 0)
            RAW(ie_called_subaddress).str("length=").num(len).str(";called_subaddress=").base64(bc->called_subaddress, len);
    }
}

// "type=%i;plan=%i;<present>=%i;screen=%i" of a number's raw text.
static ie_text &number_text(ie_text &&text, int type, int plan, const char *present_key, int present, int screen)
{
    return text.str("type=").num(type).str(";plan=").num(plan).str(";").str(present_key).str("=").num(present)
        .str(";screen=").num(screen);
}

static int pres_or_screen(int v) { return (v == 0 || v == 1) ? v : 0; }

static void step_qsig_name(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (bc->use_qsig)
        get_qsig_name_facility(bc, msg, nt);
}

static void step_calling(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int type, plan, present, screen;
    char number[NUMBER_BUF];
    if (!dec_ie_calling_pn(msg, &type, &plan, &present, &screen, number, sizeof(number), nt, bc, 0))
        number_text(RAW(ie_calling_pn), type, plan, "present", present, screen).str(";oad=").str(number);
    bc->oton = (mISDN_NUMBER_TYPE)type;
    bc->onpi = (mISDN_NUMBER_PLAN)plan;
    ie_text(bc->oad).str(number);
    bc->pres = pres_or_screen(present);
    bc->screen = pres_or_screen(screen);
}

// A second calling number (TE: the info record marks the element repeated).
static void step_calling2(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (nt || !l3_ie_repeated(msg, nt, IE_CALLING_PN))
        return;
    int type, plan, present, screen;
    char number[NUMBER_BUF];
    int r = dec_ie_calling_pn(msg, &type, &plan, &present, &screen, number, sizeof(number), nt, bc, 1);
    cb_log(5, bc->port, bc->pid, "CALLING PARTY NR REPEATED: %s\n", number);
    if (r)
        return;
    number_text(RAW(ie_calling_pn2), type, plan, "present", present, screen).str(";oad=").str(number);
    bc->o2ton = (mISDN_NUMBER_TYPE)type;
    bc->o2npi = (mISDN_NUMBER_PLAN)plan;
    bc->o2pres = pres_or_screen(present);
    bc->o2screen = pres_or_screen(screen);
    ie_text(bc->oad2).str(number);
}

// The called number into `dad`, or for INFORMATION into `info_dad`.
static void called_into(const msg_t *msg, misdn_bchannel *bc, int nt, char *target, size_t size)
{
    int type, plan;
    char number[NUMBER_BUF];
    int r = dec_ie_called_pn(msg, &type, &plan, number, sizeof(number), nt, bc);
    if (type >= 0)
        ie_text(target, size).str(number);
    if (r)
        return;
    bc->dton = (mISDN_NUMBER_TYPE)type;
    bc->dnpi = (mISDN_NUMBER_PLAN)plan;
    RAW(ie_called_pn).str("type=").num(type).str(";plan=").num(plan).str(";dad=").str(target);
}

static void step_called(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    called_into(msg, bc, nt, bc->dad, sizeof(bc->dad));
}

static void step_info_called(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    called_into(msg, bc, nt, bc->info_dad, sizeof(bc->info_dad));
}

static void step_redir(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int type, plan, present, screen, reason;
    char number[NUMBER_BUF];
    int r = dec_ie_redir_nr(msg, &type, &plan, &present, &screen, &reason, number, sizeof(number), nt, bc);
    ie_text(bc->rad).str(r ? "" : number);
    if (r)
        return;
    bc->rton = (mISDN_NUMBER_TYPE)type;
    bc->rnpi = (mISDN_NUMBER_PLAN)plan;
    bc->rscreen = screen;
    bc->rpres = present;
    number_text(RAW(ie_redir_nr), type, plan, "present", present, screen).str(";rad=").str(bc->rad);
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

static void step_date(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    struct tm tm;
    int len;
    if (dec_ie_date(msg, &tm, &len, nt, bc))
        return;
    bc->tm = tm;
    bc->ie_facilities.ie_date = tm;
    clock_from_date(bc, &tm, len);
}

static void step_connected(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int type, plan, present, screen;
    char number[NUMBER_BUF];
    if (dec_ie_connected_pn(msg, &type, &plan, &present, &screen, number, sizeof(number), nt, bc))
        return;
    ie_text(bc->cad).str(number);
    bc->cton = (mISDN_NUMBER_TYPE)type;
    bc->cnpi = (mISDN_NUMBER_PLAN)plan;
    bc->cpres = present;
    bc->cscreen = screen;
    number_text(RAW(ie_connect_pn), type, plan, "pres", present, screen).str(";cad=").str(bc->cad);
}

// The answering terminal of an NT CONNECT (TE: the device keeps it).
static void step_ces(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (nt)
        bc->ces = l3_frame_ces(msg, nt);
}

static void step_restart_channel(const msg_t *msg, misdn_bchannel *bc, int nt)
{
    int exclusive, channel;
    if (dec_ie_channel_id(msg, &exclusive, &channel, nt, bc))
        return;
    bc->restart_channel = channel;
    RAW(ie_channel_id).str("channel=").num(channel).str(";exclusive=").num(exclusive);
    cb_log(3, bc->port, bc->pid, "CC_RESTART Request on channel:%d on this port.\n", channel);
}

// ---- parsers: the elements of each message in the order they are read ----

typedef void (*ie_step)(const msg_t *msg, misdn_bchannel *bc, int nt);

enum { KEEP_TEXTS = 1, QUIET = 2 };

static int run_parser(msg_t *msg, misdn_bchannel *bc, int nt, const char *trace, const char *name, int flags,
                      const ie_step *steps)
{
    begin(bc, trace, name, flags & KEEP_TEXTS, flags & QUIET);
    for (const ie_step *s = steps; *s; s++)
        (*s)(msg, bc, nt);
    rx_log(bc);
    return 0;
}

#define PARSER(name, trace, flags, ...)                                                \
    int parse_##name(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)         \
    {                                                                                  \
        static const ie_step steps[] = {__VA_ARGS__, nullptr};                         \
        return run_parser(msg, bc, nt, trace, __func__, flags, steps);                 \
    }

PARSER(proceeding, "PROCEEDING", QUIET, step_bearer, step_channel, parse_facility_ie, step_progress,
       step_display, step_hlc)
PARSER(alerting, "ALERTING", 0, step_qsig_name, step_bearer, step_channel, parse_facility_ie, step_progress,
       step_display, step_hlc, step_useruser)
PARSER(progress, "PROGRESS", 0, step_bearer, step_cause, parse_facility_ie, step_progress, step_display,
       step_hlc, step_useruser)
PARSER(setup, "SETUP", 0, step_qsig_name, step_calling, step_calling2, step_called, step_keypad,
       step_complete, step_redir, step_bearer, step_hlc, step_llc, step_channel, step_useruser,
       parse_facility_ie, step_subaddresses, step_display)
PARSER(connect, "CONNECT", 0, step_bearer, step_channel, step_progress, step_ces, step_qsig_name,
       step_display, step_date, step_connected, step_hlc, step_llc, step_useruser)
PARSER(setup_acknowledge, "SETUP_ACKNOWLEDGE", QUIET, step_channel, parse_facility_ie, step_progress,
       step_display)
PARSER(connect_acknowledge, "CONNECT_ACKNOWLEDGE", 0, step_channel, step_display)
PARSER(user_information, "USER_INFORMATION", KEEP_TEXTS, step_useruser)
PARSER(suspend_reject, "SUSPEND_REJECT", 0, step_cause, step_display)
PARSER(resume_reject, "RESUME_REJECT", 0, step_cause, step_display)
PARSER(hold, "HOLD", 0, step_display)
PARSER(suspend, "SUSPEND", 0, parse_facility_ie)
PARSER(resume, "RESUME", 0, parse_facility_ie)
PARSER(hold_acknowledge, "HOLD_ACKNOWLEDGE", 0, step_channel, step_display)
PARSER(suspend_acknowledge, "SUSPEND_ACKNOWLEDGE", 0, parse_facility_ie, step_display)
PARSER(resume_acknowledge, "RESUME_ACKNOWLEDGE", 0, step_channel, parse_facility_ie, step_display)
PARSER(hold_reject, "HOLD_REJECT", 0, step_cause, step_display)
PARSER(retrieve, "RETRIEVE", 0, step_channel)
PARSER(retrieve_reject, "RETRIEVE_REJECT", 0, step_cause, step_display)
PARSER(disconnect, "DISCONNECT", 0, step_cause, parse_facility_ie, step_progress, step_display, step_useruser)
PARSER(restart, "RESTART", 0, step_restart_channel, step_display)
PARSER(release, "RELEASE", 0, step_cause, parse_facility_ie, step_display)
PARSER(notify, "NOTIFY", 0, step_bearer, step_display)
PARSER(status_enquiry, "STATUS_ENQUIRY", 0, step_display)
PARSER(information, "INFORMATION", KEEP_TEXTS, step_complete, step_display, step_keypad, step_info_called,
       step_useruser)
PARSER(status, "STATUS", 0, step_cause, step_display)

int parse_retrieve_acknowledge(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    static const ie_step steps[] = {step_channel, step_display, nullptr};
    run_parser(msg, bc, nt, "RETRIEVE_ACKNOWLEDGE", __func__, 0, steps);
    printf("Parsing RETRIEVE_ACKNOWLEDGE Msg\n");
    return 0;
}

int parse_release_complete(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    if (l3_frame_prim(msg, nt) == (0x35A00u | L3_CONFIRM)) {  // the confirm of our own release
        begin(bc, "RELEASE_COMPLETE", __func__, 0, 0);
        cb_log(0, bc->port, bc->pid, nt ? "CC_RELEASE_COMPLETE|CONFIRM [NT] \n" : "CC_RELEASE_COMPLETE|CONFIRM [TE] \n");
        return 0;
    }
    static const ie_step steps[] = {step_cause, parse_facility_ie, step_display, step_useruser, nullptr};
    return run_parser(msg, bc, nt, "RELEASE_COMPLETE", __func__, 0, steps);
}

int parse_timeout(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    static const ie_step steps[] = {nullptr};
    return run_parser(msg, bc, nt, "TIMEOUT", __func__, KEEP_TEXTS | QUIET, steps);
}
