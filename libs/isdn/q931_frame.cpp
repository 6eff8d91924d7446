#include "q931_frame.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "misdn_lib_iface.h"

// Info record slots, in the order the elements go on the wire.
static const uint8_t info_slot_ies[] = {
    Q931_IE_COMPLETE,   Q931_IE_MORE_DATA,   Q931_IE_BEARER,     Q931_IE_CAUSE,
    Q931_IE_CALL_ID,    Q931_IE_CALL_STATE,  Q931_IE_CHANNEL_ID, Q931_IE_FACILITY,
    Q931_IE_PROGRESS,   Q931_IE_NET_FAC,     Q931_IE_NOTIFY,     Q931_IE_DISPLAY,
    Q931_IE_DATE,       Q931_IE_KEYPAD,      Q931_IE_SIGNAL,     Q931_IE_CONNECT_PN,
    Q931_IE_CONNECT_SUB, Q931_IE_CALLING_PN, Q931_IE_CALLING_SUB, Q931_IE_CALLED_PN,
    Q931_IE_CALLED_SUB, Q931_IE_REDIR_NR,    Q931_IE_REDIRECTION_NR, Q931_IE_TRANSIT_NET_SEL,
    Q931_IE_RESTART_IND, Q931_IE_LLC,        Q931_IE_HLC,        Q931_IE_USER_USER,
};
static_assert(sizeof(info_slot_ies) <= Q931_INFO_SLOTS, "info slots");

int q931_info_slot(uint8_t ie)
{
    for (size_t i = 0; i < sizeof(info_slot_ies); i++)
        if (info_slot_ies[i] == ie)
            return (int)i;
    return -1;
}

// NT records: one pointer per element the message can carry, in wire order;
// an element listed n times has n places (repeated elements). CONNECT also
// carries the answering terminal's ces after its pointers.
#define FAC8 Q931_IE_FACILITY, Q931_IE_FACILITY, Q931_IE_FACILITY, Q931_IE_FACILITY, \
             Q931_IE_FACILITY, Q931_IE_FACILITY, Q931_IE_FACILITY, Q931_IE_FACILITY

static const uint8_t nt_alerting[] = {Q931_IE_BEARER, Q931_IE_CHANNEL_ID, FAC8, Q931_IE_PROGRESS,
                                      Q931_IE_DISPLAY, Q931_IE_SIGNAL, Q931_IE_HLC, Q931_IE_USER_USER};
static const uint8_t nt_proceeding[] = {Q931_IE_BEARER, Q931_IE_CHANNEL_ID, Q931_IE_FACILITY,
                                        Q931_IE_PROGRESS, Q931_IE_DISPLAY, Q931_IE_HLC};
static const uint8_t nt_progress[] = {Q931_IE_BEARER,  Q931_IE_CAUSE, Q931_IE_FACILITY, Q931_IE_PROGRESS,
                                      Q931_IE_DISPLAY, Q931_IE_HLC,   Q931_IE_USER_USER};
static const uint8_t nt_setup[] = {Q931_IE_COMPLETE,   Q931_IE_BEARER,     Q931_IE_CHANNEL_ID, FAC8,
                                   Q931_IE_PROGRESS,   Q931_IE_NET_FAC,    Q931_IE_DISPLAY,    Q931_IE_KEYPAD,
                                   Q931_IE_SIGNAL,     Q931_IE_CALLING_PN, Q931_IE_CALLING_SUB, Q931_IE_CALLED_PN,
                                   Q931_IE_CALLED_SUB, Q931_IE_REDIR_NR,   Q931_IE_TRANSIT_NET_SEL,
                                   Q931_IE_LLC,        Q931_IE_HLC,        Q931_IE_USER_USER};
static const uint8_t nt_connect[] = {Q931_IE_BEARER,     Q931_IE_CHANNEL_ID, FAC8, Q931_IE_PROGRESS,
                                     Q931_IE_DISPLAY,    Q931_IE_DATE,       Q931_IE_SIGNAL,
                                     Q931_IE_CONNECT_PN, Q931_IE_CONNECT_SUB, Q931_IE_LLC,
                                     Q931_IE_HLC,        Q931_IE_USER_USER};
static const uint8_t nt_setup_ack[] = {Q931_IE_CHANNEL_ID, Q931_IE_FACILITY, Q931_IE_PROGRESS,
                                       Q931_IE_DISPLAY, Q931_IE_SIGNAL};
static const uint8_t nt_connect_ack[] = {Q931_IE_CHANNEL_ID, Q931_IE_DISPLAY, Q931_IE_SIGNAL};
static const uint8_t nt_user_info[] = {Q931_IE_MORE_DATA, Q931_IE_USER_USER};
static const uint8_t nt_cause_display[] = {Q931_IE_CAUSE, Q931_IE_DISPLAY};
static const uint8_t nt_display[] = {Q931_IE_DISPLAY};
static const uint8_t nt_suspend[] = {Q931_IE_CALL_ID, Q931_IE_FACILITY};
static const uint8_t nt_channel_display[] = {Q931_IE_CHANNEL_ID, Q931_IE_DISPLAY};
static const uint8_t nt_facility_display[] = {Q931_IE_FACILITY, Q931_IE_DISPLAY};
static const uint8_t nt_resume_ack[] = {Q931_IE_CHANNEL_ID, Q931_IE_FACILITY, Q931_IE_DISPLAY};
static const uint8_t nt_retrieve[] = {Q931_IE_CHANNEL_ID};
static const uint8_t nt_disconnect[] = {Q931_IE_CAUSE, Q931_IE_FACILITY, Q931_IE_PROGRESS,
                                        Q931_IE_DISPLAY, Q931_IE_SIGNAL, Q931_IE_USER_USER};
static const uint8_t nt_restart[] = {Q931_IE_CHANNEL_ID, Q931_IE_DISPLAY, Q931_IE_RESTART_IND};
static const uint8_t nt_release[] = {Q931_IE_CAUSE, Q931_IE_FACILITY, Q931_IE_DISPLAY,
                                     Q931_IE_SIGNAL, Q931_IE_USER_USER};
static const uint8_t nt_facility[] = {Q931_IE_FACILITY, Q931_IE_DISPLAY};
static const uint8_t nt_register[] = {Q931_IE_FACILITY, Q931_IE_DISPLAY};
static const uint8_t nt_notify[] = {Q931_IE_BEARER, Q931_IE_NOTIFY, Q931_IE_DISPLAY};
static const uint8_t nt_status[] = {Q931_IE_CAUSE, Q931_IE_CALL_STATE, Q931_IE_DISPLAY};
static const uint8_t nt_information[] = {Q931_IE_COMPLETE, Q931_IE_DISPLAY, Q931_IE_KEYPAD,
                                         Q931_IE_SIGNAL, Q931_IE_CALLED_PN, Q931_IE_USER_USER};
static const uint8_t nt_none[] = {0};

struct nt_layout {
    uint8_t mt;
    uint8_t response;  // 1: the layout of the response primitive of mt
    const uint8_t *ies;
    int count;
    int has_ces;
};

#define ROW(mt, resp, list, ces) {mt, resp, list, (int)sizeof(list), ces}

static const nt_layout nt_layouts[] = {
    ROW(Q931_MT_ALERTING, 0, nt_alerting, 0),
    ROW(Q931_MT_CALL_PROCEEDING, 0, nt_proceeding, 0),
    ROW(Q931_MT_PROGRESS, 0, nt_progress, 0),
    ROW(Q931_MT_SETUP, 0, nt_setup, 0),
    ROW(Q931_MT_CONNECT, 0, nt_connect, 1),
    ROW(Q931_MT_CONNECT, 1, nt_connect_ack, 0),
    ROW(Q931_MT_SETUP_ACKNOWLEDGE, 0, nt_setup_ack, 0),
    ROW(Q931_MT_CONNECT_ACKNOWLEDGE, 0, nt_connect_ack, 0),
    ROW(Q931_MT_USER_INFORMATION, 0, nt_user_info, 0),
    ROW(Q931_MT_SUSPEND_REJECT, 0, nt_cause_display, 0),
    ROW(Q931_MT_RESUME_REJECT, 0, nt_cause_display, 0),
    ROW(Q931_MT_HOLD, 0, nt_display, 0),
    ROW(Q931_MT_SUSPEND, 0, nt_suspend, 0),
    ROW(Q931_MT_RESUME, 0, nt_suspend, 0),
    ROW(Q931_MT_HOLD_ACKNOWLEDGE, 0, nt_channel_display, 0),
    ROW(Q931_MT_SUSPEND_ACKNOWLEDGE, 0, nt_facility_display, 0),
    ROW(Q931_MT_RESUME_ACKNOWLEDGE, 0, nt_resume_ack, 0),
    ROW(Q931_MT_HOLD_REJECT, 0, nt_cause_display, 0),
    ROW(Q931_MT_RETRIEVE, 0, nt_retrieve, 0),
    ROW(Q931_MT_RETRIEVE_ACKNOWLEDGE, 0, nt_channel_display, 0),
    ROW(Q931_MT_RETRIEVE_REJECT, 0, nt_cause_display, 0),
    ROW(Q931_MT_DISCONNECT, 0, nt_disconnect, 0),
    ROW(Q931_MT_RESTART, 0, nt_restart, 0),
    ROW(Q931_MT_RELEASE, 0, nt_release, 0),
    ROW(Q931_MT_RELEASE_COMPLETE, 0, nt_release, 0),
    ROW(Q931_MT_FACILITY, 0, nt_facility, 0),
    ROW(Q931_MT_REGISTER, 0, nt_register, 0),
    ROW(Q931_MT_NOTIFY, 0, nt_notify, 0),
    ROW(Q931_MT_STATUS_ENQUIRY, 0, nt_display, 0),
    ROW(Q931_MT_INFORMATION, 0, nt_information, 0),
    ROW(Q931_MT_STATUS, 0, nt_status, 0),
    {Q931_MT_L3_TIMEOUT, 0, nt_none, 0, 0},
};

static const nt_layout *layout_of(uint32_t prim)
{
    uint8_t mt = (uint8_t)((prim >> 8) & 0xFF);
    int resp = (prim & 0xFF) == L3_RESPONSE && mt == Q931_MT_CONNECT;
    for (const nt_layout &l : nt_layouts)
        if (l.mt == mt && l.response == resp)
            return &l;
    return nullptr;
}

static int layout_size(const nt_layout *l)
{
    return l->count * (int)sizeof(unsigned char *) + (l->has_ces ? (int)sizeof(int) : 0);
}

int nt_record_size(uint32_t prim)
{
    const nt_layout *l = layout_of(prim);
    return l ? layout_size(l) : 0;
}


// Allocates a message, trying ten times 300 ms apart; the process ends
// with 119 when memory stays short.
static msg_t *alloc_l3(int size, int head, int nt)
{
    for (int tries = 0; tries < 10; tries++) {
        msg_t *m = alloc_msg(size);
        if (m)
            return m;
        if (nt)
            cb_log(0, 0, -1, "%s: no msg size %d+%d+%d\n", "create_l3msg", head, size - head - L3_MSG_ROOM_NT,
                   L3_MSG_ROOM_NT);
        if (tries == 0)
            printf("cannot allocate memory, trying again...\n");
        usleep(300000);
    }
    printf("cannot allocate memory, system overloaded.\n");
    fprintf(stderr, "create_l3msg: cannot allocate memory, system overloaded.\n");
    exit(119);
}

msg_t *create_l3msg(uint32_t prim, uint8_t mt, int dinfo, int size, int ntmode)
{
    if (ntmode) {
        if (size < 0)
            size = 0;
        msg_t *m = alloc_l3(mISDNUSER_HEAD_SIZE + size + L3_MSG_ROOM_NT, mISDNUSER_HEAD_SIZE, 1);
        unsigned char *p = msg_put(m, mISDNUSER_HEAD_SIZE + size);
        uint32_t head[2] = {prim, (uint32_t)dinfo};
        memcpy(p, head, sizeof(head));
        return m;
    }
    msg_t *m = alloc_l3(mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE + L3_MSG_ROOM_TE, mISDN_FRAME_HEAD_SIZE, 0);
    unsigned char *p = msg_put(m, mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE);
    uint32_t head[4] = {0, prim, (uint32_t)dinfo, 0};
    memcpy(p, head, sizeof(head));
    p[mISDN_FRAME_HEAD_SIZE] = mt;
    return m;
}

uint32_t l3_frame_prim(const msg_t *msg, int nt)
{
    uint32_t w = 0;
    int at = nt ? 0 : 4;
    if (msg && msg->len >= at + 4)
        memcpy(&w, msg->data + at, 4);
    return w;
}

int l3_frame_dinfo(const msg_t *msg, int nt)
{
    int32_t w = 0;
    int at = nt ? 4 : 8;
    if (msg && msg->len >= at + 4)
        memcpy(&w, msg->data + at, 4);
    return w;
}

q931_info *l3_frame_info(const msg_t *msg)
{
    if (!msg || msg->len < mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE)
        return nullptr;
    return (q931_info *)(msg->data + mISDN_FRAME_HEAD_SIZE);
}

uint8_t l3_frame_mt(const msg_t *msg, int nt)
{
    if (nt)
        return (uint8_t)((l3_frame_prim(msg, 1) >> 8) & 0xFF);
    const q931_info *qi = l3_frame_info(msg);
    return qi ? qi->type : 0;
}

// Address of the record's k-th pointer (NT).
static unsigned char **nt_slot(const msg_t *msg, int k)
{
    return (unsigned char **)(msg->data + mISDNUSER_HEAD_SIZE + k * (int)sizeof(unsigned char *));
}

// The NT layout of a frame, when the frame holds its whole record.
static const nt_layout *nt_frame_layout(const msg_t *msg)
{
    const nt_layout *l = layout_of(l3_frame_prim(msg, 1));
    if (!l || msg->len < mISDNUSER_HEAD_SIZE + layout_size(l))
        return nullptr;
    return l;
}

// Where the ces word of an NT CONNECT record lies, null for other frames.
static unsigned char *ces_at(const msg_t *msg)
{
    const nt_layout *l = msg ? nt_frame_layout(msg) : nullptr;
    if (!l || !l->has_ces)
        return nullptr;
    return msg->data + mISDNUSER_HEAD_SIZE + l->count * (int)sizeof(unsigned char *);
}

int l3_frame_ces(const msg_t *msg)
{
    int ces = 0;
    const unsigned char *p = ces_at(msg);
    if (p)
        memcpy(&ces, p, sizeof(ces));
    return ces;
}

void l3_frame_set_ces(msg_t *msg, int ces)
{
    unsigned char *p = ces_at(msg);
    if (p)
        memcpy(p, &ces, sizeof(ces));
}

int l3_ie_record(msg_t *msg, int nt, uint8_t ie, unsigned char *at)
{
    if (nt) {
        const nt_layout *l = nt_frame_layout(msg);
        if (!l)
            return -1;
        for (int k = 0; k < l->count; k++) {
            unsigned char **slot = nt_slot(msg, k);
            if (l->ies[k] == ie && !*slot) {
                *slot = (ie & 0x80) ? at : at + 1;
                return 0;
            }
        }
        return -1;
    }
    q931_info *qi = l3_frame_info(msg);
    int s = q931_info_slot(ie);
    if (!qi || s < 0)
        return -1;
    long off = at - (unsigned char *)qi;
    if (off <= 0 || off >= Q931_IE_REPEATED)
        return -1;
    if (!qi->ie[s]) {
        qi->ie[s] = (uint16_t)off;
        return 0;
    }
    for (int k = 0; k < Q931_INFO_EXT; k++) {
        if (!qi->ext[k].off) {
            qi->ext[k].ie = ie;
            qi->ext[k].codeset = 0;
            qi->ext[k].off = (uint16_t)off;
            qi->ie[s] |= Q931_IE_REPEATED;
            return 0;
        }
    }
    return -1;
}

// True when the frame's record has a free place for the element.
static int has_place(const msg_t *msg, int nt, uint8_t ie)
{
    if (nt) {
        const nt_layout *l = nt_frame_layout(msg);
        if (!l)
            return 0;
        for (int k = 0; k < l->count; k++)
            if (l->ies[k] == ie && !*nt_slot(msg, k))
                return 1;
        return 0;
    }
    const q931_info *qi = l3_frame_info(msg);
    int s = q931_info_slot(ie);
    if (!qi || s < 0)
        return 0;
    if (!qi->ie[s])
        return 1;
    for (int k = 0; k < Q931_INFO_EXT; k++)
        if (!qi->ext[k].off)
            return 1;
    return 0;
}

unsigned char *l3_ie_put(msg_t *msg, int nt, uint8_t ie, int len)
{
    if (!msg)
        return nullptr;
    int single = (ie & 0x80) != 0;
    if (!single && (len < 0 || len > 255))
        return nullptr;
    pthread_mutex_lock(&msg->lock);
    unsigned char *p = nullptr;
    if (has_place(msg, nt, ie)) {
        p = msg_put(msg, single ? 1 : len + 2);
        if (p) {
            p[0] = ie;
            if (!single)
                p[1] = (unsigned char)len;
            l3_ie_record(msg, nt, ie, p);
            if (!single)
                p += 2;
        }
    }
    pthread_mutex_unlock(&msg->lock);
    return p;
}

// Checks that an element starting with its length octet (or being a single
// octet) at `p` lies within the frame.
static const unsigned char *inside(const msg_t *msg, const unsigned char *p, uint8_t ie)
{
    const unsigned char *end = msg->data + msg->len;
    if (p < msg->data || p >= end)
        return nullptr;
    if (ie & 0x80)
        return p;
    if (p + 1 + *p > end)
        return nullptr;
    return p;
}

const unsigned char *l3_ie_get(const msg_t *msg, int nt, uint8_t ie, int n)
{
    if (!msg || n < 0)
        return nullptr;
    if (nt) {
        const nt_layout *l = nt_frame_layout(msg);
        if (!l)
            return nullptr;
        for (int k = 0; k < l->count; k++) {
            if (l->ies[k] != ie)
                continue;
            unsigned char *p = *nt_slot(msg, k);
            if (!p)
                continue;
            if (n-- == 0)
                return inside(msg, p, ie);
        }
        return nullptr;
    }
    const q931_info *qi = l3_frame_info(msg);
    int s = q931_info_slot(ie);
    if (!qi || s < 0 || !qi->ie[s])
        return nullptr;
    int off = -1;
    if (n == 0) {
        off = qi->ie[s] & ~Q931_IE_REPEATED;
    } else {
        for (int k = 0; k < Q931_INFO_EXT && off < 0; k++)
            if (qi->ext[k].off && qi->ext[k].ie == ie && qi->ext[k].codeset == 0 && --n == 0)
                off = qi->ext[k].off;
    }
    if (off <= 0 || off >= msg->len - mISDN_FRAME_HEAD_SIZE)
        return nullptr;
    const unsigned char *p = (const unsigned char *)qi + off;
    if (!(ie & 0x80))
        p++;  // the offset names the identifier octet
    return inside(msg, p, ie);
}

int l3_ie_repeated(const msg_t *msg, int nt, uint8_t ie)
{
    if (nt)
        return l3_ie_get(msg, nt, ie, 1) != nullptr;
    const q931_info *qi = l3_frame_info(msg);
    int s = q931_info_slot(ie);
    return qi && s >= 0 && (qi->ie[s] & Q931_IE_REPEATED) != 0;
}

msg_t *l3_frame_from_wire(const uint8_t *wire, int len, int nt, uint32_t cmd, int dinfo)
{
    if (!wire || len < 3 || wire[0] != 0x08)
        return nullptr;
    int crlen = wire[1] & 0x0F;
    if ((wire[1] & 0xF0) || crlen > 2 || len < 3 + crlen)
        return nullptr;
    uint8_t mt = wire[2 + crlen];
    uint32_t prim = 0x030000u | ((uint32_t)mt << 8) | (cmd & 0xFF);
    int body = 3 + crlen;
    int ies_len = len - body;
    int rec = nt ? nt_record_size(prim) : 0;  // no layout: no element kept
    msg_t *m;
    if (nt) {
        m = alloc_msg(mISDNUSER_HEAD_SIZE + rec + ies_len + 1);
        if (!m)
            return nullptr;
        unsigned char *p = msg_put(m, mISDNUSER_HEAD_SIZE + rec);
        uint32_t head[2] = {prim, (uint32_t)dinfo};
        memcpy(p, head, sizeof(head));
    } else {
        m = alloc_msg(mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE + ies_len + 1);
        if (!m)
            return nullptr;
        unsigned char *p = msg_put(m, mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE);
        uint32_t head[4] = {0, prim, (uint32_t)dinfo, 0};
        memcpy(p, head, sizeof(head));
        q931_info *qi = (q931_info *)(p + mISDN_FRAME_HEAD_SIZE);
        qi->type = mt;
        qi->crlen = (uint8_t)crlen;
        int cr = 0;
        for (int i = 0; i < crlen; i++)
            cr = (cr << 8) | wire[2 + i];
        qi->cr = (uint16_t)cr;
    }
    // Codeset 0 elements only; a shift changes the codeset of what follows.
    int p = body, codeset = 0, locked = 0;
    while (p < len) {
        uint8_t o = wire[p];
        int size;
        if (o & 0x80) {
            if ((o & 0xF0) == 0x90) {
                if (o & 0x08) {
                    codeset = o & 0x07;
                } else {
                    locked = o & 0x07;
                    codeset = locked;
                }
                p++;
                continue;
            }
            size = 1;
        } else {
            if (p + 1 >= len || p + 2 + wire[p + 1] > len)
                break;  // runs past the end: the rest is dropped
            size = 2 + wire[p + 1];
        }
        if (codeset == 0 && has_place(m, nt, o)) {
            unsigned char *at = msg_put(m, size);
            if (!at)
                break;
            memcpy(at, wire + p, (size_t)size);
            l3_ie_record(m, nt, o, at);
        }
        codeset = locked;
        p += size;
    }
    if (!nt) {
        int32_t flen = m->len - mISDN_FRAME_HEAD_SIZE;
        memcpy(m->data + 12, &flen, 4);
    }
    return m;
}

static int put_header(uint8_t *out, int cap, int crlen, int cr, int flag, uint8_t mt)
{
    if (crlen < 0 || crlen > 2 || cap < 3 + crlen)
        return -1;
    int p = 0;
    out[p++] = 0x08;
    out[p++] = (uint8_t)crlen;
    if (crlen == 1)
        out[p++] = (uint8_t)((flag ? 0x80 : 0) | (cr & 0x7F));
    else if (crlen == 2) {
        out[p++] = (uint8_t)((flag ? 0x80 : 0) | ((cr >> 8) & 0x7F));
        out[p++] = (uint8_t)(cr & 0xFF);
    }
    out[p++] = mt;
    return p;
}

static int append_ie(uint8_t ie, const unsigned char *p, uint8_t *out, int pos, int cap)
{
    if (!p)
        return pos;
    if (ie & 0x80) {
        if (pos + 1 > cap)
            return -1;
        out[pos] = ie;
        return pos + 1;
    }
    int l = *p;
    if (pos + 2 + l > cap)
        return -1;
    out[pos] = ie;
    memcpy(out + pos + 1, p, (size_t)l + 1);
    return pos + 2 + l;
}

int l3_frame_to_wire(const msg_t *msg, int nt, int crlen, int cr, int flag, uint8_t *out, int cap)
{
    if (!msg || !out)
        return -1;
    uint8_t mt = l3_frame_mt(msg, nt);
    if ((l3_frame_prim(msg, nt) & 0xFF) == L3_RESPONSE && mt == Q931_MT_CONNECT)
        mt = Q931_MT_CONNECT_ACKNOWLEDGE;  // the connect response
    int pos = put_header(out, cap, crlen, cr, flag, mt);
    if (pos < 0)
        return -1;
    if (nt) {
        const nt_layout *l = nt_frame_layout(msg);
        if (!l)
            return pos;
        for (int k = 0; k < l->count && pos >= 0; k++) {
            const unsigned char *p = *nt_slot(msg, k);
            if (p)
                pos = append_ie(l->ies[k], inside(msg, p, l->ies[k]), out, pos, cap);
        }
        return pos;
    }
    for (size_t s = 0; s < sizeof(info_slot_ies) && pos >= 0; s++) {
        uint8_t ie = info_slot_ies[s];
        for (int n = 0; pos >= 0; n++) {
            const unsigned char *p = l3_ie_get(msg, 0, ie, n);
            if (!p)
                break;
            pos = append_ie(ie, p, out, pos, cap);
        }
    }
    return pos;
}
