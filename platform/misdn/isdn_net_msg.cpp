// Layer-3 messages of the network library: the record of element pointers
// and its conversion to and from the elements on the wire.
#include <cstddef>
#include <cstring>

#include "isdn_net.h"
#include "isdn_net_internal.h"
#include "log.h"

struct rec_row {
    uint8_t ie;
    size_t offset;
};

#define REC_ROW(id, field) {id, offsetof(net_msg_ies_t, field)},
static const rec_row rec_table[] = {Q931_RECORD_IES(REC_ROW)};
#undef REC_ROW

static unsigned char **rec_slot(net_msg_ies_t *r, uint8_t ie)
{
    for (const auto &row : rec_table)
        if (row.ie == ie)
            return (unsigned char **)((char *)r + row.offset);
    return nullptr;
}

static constexpr int NET_MSG_HEAD_AND_RECORD = (int)(sizeof(net_user_head_t) + sizeof(net_msg_ies_t));

msg_t *net_msg_new(uint32_t prim, int dinfo)
{
    msg_t *m = alloc_msg(NET_MSG_HEAD_AND_RECORD + Q931_MAX_MSG + DEFAULT_HEADROOM);
    if (!m)
        return nullptr;
    net_user_head_t h{prim, dinfo};
    memcpy(msg_put(m, NET_USER_HEAD_LEN), &h, NET_USER_HEAD_LEN);
    memset(msg_put(m, sizeof(net_msg_ies_t)), 0, sizeof(net_msg_ies_t));
    return m;
}

net_msg_ies_t *net_msg_record(msg_t *msg)
{
    if (!msg || msg->len < (int)NET_MSG_HEAD_AND_RECORD)
        return nullptr;
    return (net_msg_ies_t *)(msg->data + NET_USER_HEAD_LEN);
}

unsigned char *net_msg_add_ie(msg_t *msg, uint8_t ie, const uint8_t *content, int len)
{
    net_msg_ies_t *r = net_msg_record(msg);
    bool single = ie & 0x80;
    if (!r || len < 0 || len > 255 || (len && !content))
        return nullptr;
    unsigned char *p = msg_put(msg, single ? 1 : 2 + len);
    if (!p)
        return nullptr;
    p[0] = ie;
    unsigned char *at = p;
    if (!single) {
        p[1] = (uint8_t)len;
        if (len)
            memcpy(p + 2, content, (size_t)len);
        at = p + 1;
    }
    unsigned char **slot = rec_slot(r, ie);
    if (slot && !*slot) {
        *slot = at;
        return at;
    }
    for (auto &x : r->ext)
        if (!x.p) {
            x.ie = ie;
            x.p = at;
            return at;
        }
    msg_trim(msg, msg->len - (single ? 1 : 2 + len));
    return nullptr;
}

// Appends the element at p (its length octet) when it lies inside [lo, hi).
static int copy_ie(uint8_t ie, const unsigned char *p, const unsigned char *lo,
                   const unsigned char *hi, uint8_t *out, int pos, int cap)
{
    if (p < lo || p >= hi) {
        LOGD(ISDN, 1, nullptr, "misdn NT L3: element %02x points outside its message, skipped", ie);
        return pos;
    }
    if (ie & 0x80)
        return q931_put_ie(out, pos, cap, ie, nullptr, 0);
    if (p + 1 + *p > hi) {
        LOGD(ISDN, 1, nullptr, "misdn NT L3: element %02x of %d octets runs past its message, skipped", ie, *p);
        return pos;
    }
    return q931_put_ie(out, pos, cap, ie, p + 1, *p);
}

int net_msg_to_ies(const msg_t *msg, uint8_t *out, int cap, const char **why)
{
    if (msg->len == NET_USER_HEAD_LEN)
        return 0;
    if (msg->len < (int)NET_MSG_HEAD_AND_RECORD) {
        if (why)
            *why = "message shorter than its element record";
        return -1;
    }
    net_msg_ies_t r;
    memcpy(&r, msg->data + NET_USER_HEAD_LEN, sizeof r);
    const unsigned char *lo = msg->data + NET_MSG_HEAD_AND_RECORD;
    const unsigned char *hi = msg->tail;
    int pos = 0;
    for (const auto &row : rec_table) {
        unsigned char *p = *(unsigned char **)((char *)&r + row.offset);
        if (p)
            pos = copy_ie(row.ie, p, lo, hi, out, pos, cap);
        for (const auto &x : r.ext)
            if (pos >= 0 && x.p && x.ie == row.ie)
                pos = copy_ie(row.ie, x.p, lo, hi, out, pos, cap);
        if (pos < 0)
            break;
    }
    if (pos < 0) {
        if (why)
            *why = "elements longer than one message";
        return -1;
    }
    return pos;
}

msg_t *net_msg_from_q931(uint32_t prim, int dinfo, const q931_msg *m, int ces)
{
    msg_t *msg = net_msg_new(prim, dinfo);
    if (!msg)
        return nullptr;
    net_msg_record(msg)->ces = ces;
    for (int i = 0; i < m->nies; i++) {
        const q931_ie &ie = m->ies[i];
        if (ie.codeset != 0)
            continue;
        const uint8_t *content = ie.single ? nullptr : m->buf + ie.off + 1;
        if (!net_msg_add_ie(msg, ie.id, content, ie.single ? 0 : ie.len))
            LOGD(ISDN, 2, nullptr, "misdn NT L3: element %02x not passed on (no room)", ie.id);
    }
    return msg;
}
