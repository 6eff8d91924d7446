#include "q931_frame.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "misdn_lib_iface.h"

// Elements with a slot of their own, in both records.
struct slot_row {
    uint8_t ie;
    size_t te;  // offset of the slot in Q931_info_t
    size_t nt;  // offset of the pointer in net_msg_ies_t
};

#define SLOT(ie, te, nt) {ie, offsetof(Q931_info_t, te), offsetof(net_msg_ies_t, nt)}

static constexpr slot_row slots[] = {
    SLOT(IE_COMPLETE, sending_complete, sending_complete),
    SLOT(IE_BEARER, bearer_capability, bearer_capability),
    SLOT(IE_CAUSE, cause, cause),
    SLOT(IE_CALL_STATE, call_state, call_state),
    SLOT(IE_CHANNEL_ID, channel_id, channel_id),
    SLOT(IE_FACILITY, facility, facility),
    SLOT(IE_PROGRESS, progress, progress),
    SLOT(IE_NOTIFY, notify, notify),
    SLOT(IE_DISPLAY, display, display),
    SLOT(IE_DATE, date, date),
    SLOT(IE_KEYPAD, keypad, keypad),
    SLOT(IE_SIGNAL, signal, signal),
    SLOT(IE_CONNECT_PN, connected_nr, connected_nr),
    SLOT(IE_CONNECT_SUB, connected_sub, connected_sub),
    SLOT(IE_CALLING_PN, calling_nr, calling_nr),
    SLOT(IE_CALLING_SUB, calling_sub, calling_sub),
    SLOT(IE_CALLED_PN, called_nr, called_nr),
    SLOT(IE_CALLED_SUB, called_sub, called_sub),
    SLOT(IE_REDIR_NR, redirect_nr, redirect_nr),
    SLOT(IE_RESTART_IND, restart_ind, restart_ind),
    SLOT(IE_LLC, llc, llc),
    SLOT(IE_HLC, hlc, hlc),
    SLOT(IE_USER_USER, useruser, useruser),
};

struct slot_index {
    int8_t row[256];
    constexpr slot_index() : row()
    {
        for (int i = 0; i < 256; i++)
            row[i] = -1;
        for (int k = 0; k < (int)(sizeof(slots) / sizeof(slots[0])); k++)
            row[slots[k].ie] = (int8_t)k;
    }
};
static constexpr slot_index slot_rows;

static const slot_row *slot_of(uint8_t ie)
{
    int k = slot_rows.row[ie];
    return k < 0 ? nullptr : &slots[k];
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
        memset(p, 0, (size_t)(mISDNUSER_HEAD_SIZE + size));
        net_user_head_t head = {prim, dinfo};
        memcpy(p, &head, sizeof(head));
        return m;
    }
    msg_t *m = alloc_l3(mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE + L3_MSG_ROOM_TE, mISDN_FRAME_HEAD_SIZE, 0);
    unsigned char *p = msg_put(m, mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE);
    memset(p, 0, (size_t)(mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE));
    uint32_t head[4] = {0, prim, (uint32_t)dinfo, 0};
    memcpy(p, head, sizeof(head));
    p[mISDN_FRAME_HEAD_SIZE] = mt;
    return m;
}

// The 32-bit word at `at` of the frame head, 0 when the frame is shorter.
static uint32_t head_word(const msg_t *msg, int at)
{
    uint32_t w = 0;
    if (msg && msg->len >= at + 4)
        memcpy(&w, msg->data + at, 4);
    return w;
}

uint32_t l3_frame_prim(const msg_t *msg, int nt) { return head_word(msg, nt ? 0 : 4); }

int l3_frame_dinfo(const msg_t *msg, int nt) { return (int)head_word(msg, nt ? 4 : 8); }

// The TE info record of a frame, null when the frame is too short for it.
static Q931_info_t *te_info(const msg_t *msg)
{
    if (!msg || msg->len < mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE)
        return nullptr;
    return (Q931_info_t *)(msg->data + mISDN_FRAME_HEAD_SIZE);
}

// The NT record of a frame, null when the frame is too short for it.
static net_msg_ies_t *nt_record(const msg_t *msg)
{
    if (!msg || msg->len < mISDNUSER_HEAD_SIZE + NT_RECORD_SIZE)
        return nullptr;
    return (net_msg_ies_t *)(msg->data + mISDNUSER_HEAD_SIZE);
}

uint8_t l3_frame_mt(const msg_t *msg, int nt)
{
    if (nt)
        return (uint8_t)((l3_frame_prim(msg, 1) >> 8) & 0xFF);
    const Q931_info_t *qi = te_info(msg);
    return qi ? qi->type : 0;
}

int l3_frame_ces(const msg_t *msg, int nt)
{
    const net_msg_ies_t *r = nt ? nt_record(msg) : nullptr;
    return r ? r->ces : 0;
}

void l3_frame_set_ces(msg_t *msg, int nt, int ces)
{
    net_msg_ies_t *r = nt ? nt_record(msg) : nullptr;
    if (r)
        r->ces = ces;
}

unsigned char *l3_ie_add(msg_t *msg, int nt, uint8_t ie, const unsigned char *content, int len)
{
    if (!msg)
        return nullptr;
    int single = (ie & 0x80) != 0;
    if (single)
        len = 0;
    if (len < 0 || len > 255 || (len && !content))
        return nullptr;
    int need = single ? 1 : len + 2;
    unsigned char *p = nullptr;
    pthread_mutex_lock(&msg->lock);
    if (msg->end - msg->tail < need) {
        msg_put(msg, need);  // reports the frame without room
    } else if (nt) {
        p = net_msg_add_ie(msg, ie, content, len);  // the length octet
        if (p && !single)
            p++;
    } else if (msg->len >= mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE) {
        unsigned char *base = msg->data + mISDN_FRAME_HEAD_SIZE;
        int old = msg->len - mISDN_FRAME_HEAD_SIZE;
        int n = q931_info_add_ie(base, old, (int)(msg->end - base), ie, content, len);
        if (n == old + need) {
            msg_put(msg, need);
            p = base + old + (single ? 0 : 2);
        }
    }
    pthread_mutex_unlock(&msg->lock);
    return p;
}

// The element whose length octet (or single octet) is at p, when it lies
// within the frame's elements.
static const unsigned char *inside(const msg_t *msg, int nt, const unsigned char *p, uint8_t ie)
{
    const unsigned char *lo =
        msg->data + (nt ? mISDNUSER_HEAD_SIZE + NT_RECORD_SIZE : mISDN_FRAME_HEAD_SIZE + Q931_INFO_SIZE);
    const unsigned char *end = msg->data + msg->len;
    if (p < lo || p >= end)
        return nullptr;
    if (ie & 0x80)
        return p;
    if (*p >= end - p)
        return nullptr;
    return p;
}

// TE: the element at a record offset.
static const unsigned char *te_at(const msg_t *msg, uint16_t off, uint8_t ie)
{
    if (off < Q931_INFO_SIZE || off >= msg->len - mISDN_FRAME_HEAD_SIZE)
        return nullptr;
    return inside(msg, 0, msg->data + mISDN_FRAME_HEAD_SIZE + off, ie);
}

const unsigned char *l3_ie_get(const msg_t *msg, int nt, uint8_t ie, int n)
{
    if (!msg || n < 0)
        return nullptr;
    const slot_row *row = slot_of(ie);
    if (nt) {
        const net_msg_ies_t *r = nt_record(msg);
        if (!r)
            return nullptr;
        const unsigned char *first = row ? *(unsigned char *const *)((const char *)r + row->nt) : nullptr;
        if (first && n-- == 0)
            return inside(msg, 1, first, ie);
        for (const auto &x : r->ext) {
            if (!x.p)
                break;  // the record's further elements are filled from the first entry on
            if (x.ie == ie && n-- == 0)
                return inside(msg, 1, x.p, ie);
        }
        return nullptr;
    }
    const Q931_info_t *qi = te_info(msg);
    if (!qi)
        return nullptr;
    if (!row) {  // listed in ext only
        for (const auto &x : qi->ext)
            if (x.off && x.ie == ie && n-- == 0)
                return te_at(msg, x.off, ie);
        return nullptr;
    }
    const ie_info_t *slot = (const ie_info_t *)((const char *)qi + row->te);
    if (!slot->off)
        return nullptr;
    if (n == 0)
        return te_at(msg, slot->off, ie);
    if (!slot->repeated)
        return nullptr;
    int idx = slot->ridx;
    for (int guard = 0; guard < Q931_INFO_EXT && idx >= 1 && idx <= Q931_INFO_EXT; guard++) {
        const ie_info_ext_t &x = qi->ext[idx - 1];
        if (x.ie != ie || !x.off)
            return nullptr;
        if (--n == 0)
            return te_at(msg, x.off, ie);
        idx = x.ridx;
    }
    return nullptr;
}

int l3_ie_repeated(const msg_t *msg, int nt, uint8_t ie)
{
    return l3_ie_get(msg, nt, ie, 1) != nullptr;
}
