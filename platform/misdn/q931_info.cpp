#include "q931_info.h"

#include <cstddef>
#include <cstring>

#include "log.h"

struct slot_row {
    uint8_t ie;
    size_t offset;
};

#define SLOT_ROW(id, field) {id, offsetof(Q931_info_t, field)},
static constexpr slot_row slot_table[] = {Q931_RECORD_IES(SLOT_ROW)};
#undef SLOT_ROW

// Offset of each element's slot in the record, 0 for elements without one.
struct slot_offsets {
    uint8_t at[256];
    constexpr slot_offsets() : at()
    {
        for (const auto &r : slot_table)
            at[r.ie] = (uint8_t)r.offset;
    }
};
static constexpr slot_offsets slot_at;
static_assert(offsetof(Q931_info_t, sending_complete) > 0 && offsetof(Q931_info_t, useruser) < 256,
              "slot offsets fit an octet and are never 0");

ie_info_t *q931_info_slot(Q931_info_t *qi, uint8_t ie)
{
    int at = slot_at.at[ie];
    return at ? (ie_info_t *)((uint8_t *)qi + at) : nullptr;
}

const ie_info_t *q931_info_slot(const Q931_info_t *qi, uint8_t ie)
{
    return q931_info_slot(const_cast<Q931_info_t *>(qi), ie);
}

static void link_repeat(Q931_info_t *qi, ie_info_t *s, int idx);

int q931_info_from_msg(const q931_msg *m, uint8_t *out, int cap)
{
    if (cap < Q931_INFO_LEN)
        return -1;
    memset(out, 0, Q931_INFO_LEN);
    Q931_info_t *qi = (Q931_info_t *)out;
    qi->type = m->mt;
    qi->crlen = (uint8_t)m->crlen;
    qi->cr = (uint16_t)((m->flag ? 0x8000 : 0) | (m->cr & 0x7FFF));
    int pos = Q931_INFO_LEN;
    int next_ext = 0;
    for (int i = 0; i < m->nies; i++) {
        const q931_ie &ie = m->ies[i];
        if (ie.codeset != 0)
            continue;
        int need = ie.single ? 1 : 2 + ie.len;
        if (pos + need > cap)
            return -1;
        uint16_t off;
        if (ie.single) {
            out[pos] = ie.id;
            off = (uint16_t)pos;
        } else {
            out[pos] = ie.id;
            memcpy(out + pos + 1, m->buf + ie.off, (size_t)ie.len + 1);
            off = (uint16_t)(pos + 1);
        }
        pos += need;
        ie_info_t *s = q931_info_slot(qi, ie.id);
        if (s && !s->off) {
            s->off = off;
            continue;
        }
        if (next_ext >= Q931_INFO_EXT)
            continue;  // no room to list it
        ie_info_ext_t &x = qi->ext[next_ext];
        x.ie = ie.id;
        x.off = off;
        x.ridx = 0;
        next_ext++;
        if (s)
            link_repeat(qi, s, next_ext - 1);
    }
    return pos;
}

// Links ext entry `idx` (0-based) as the next occurrence of an element.
static void link_repeat(Q931_info_t *qi, ie_info_t *s, int idx)
{
    if (!s->repeated) {
        s->repeated = 1;
        s->ridx = (uint8_t)(idx + 1);
        return;
    }
    int at = s->ridx;
    for (int guard = 0; guard < Q931_INFO_EXT && at >= 1 && at <= Q931_INFO_EXT && qi->ext[at - 1].ridx; guard++)
        at = qi->ext[at - 1].ridx;
    if (at >= 1 && at <= Q931_INFO_EXT)
        qi->ext[at - 1].ridx = (uint8_t)(idx + 1);
}

// An element as on the wire at p: identifier, length, content (single-octet
// elements: the identifier alone).
static void write_ie(uint8_t *p, uint8_t ie, const uint8_t *content, int clen)
{
    p[0] = ie;
    if (ie & 0x80)
        return;
    p[1] = (uint8_t)clen;
    if (clen)
        memcpy(p + 2, content, (size_t)clen);
}

int q931_info_add_ie(uint8_t *data, int len, int cap, uint8_t ie, const uint8_t *content, int clen)
{
    bool single = ie & 0x80;
    if (!data || len < Q931_INFO_LEN || clen < 0 || clen > 255 || (clen && !content))
        return -1;
    int need = single ? 1 : 2 + clen;
    if (len + need > cap || len + need > 0xFFFF)
        return -1;
    uint16_t off = (uint16_t)(single ? len : len + 1);
    int at = slot_at.at[ie];
    ie_info_t slot;
    if (at)
        memcpy(&slot, data + at, sizeof slot);  // the frame need not be aligned
    if (at && !slot.off) {  // the usual case: the element's first occurrence
        slot.off = off;
        memcpy(data + at, &slot, sizeof slot);
        write_ie(data + len, ie, content, clen);
        return len + need;
    }
    Q931_info_t qi;
    memcpy(&qi, data, sizeof qi);
    ie_info_t *s = q931_info_slot(&qi, ie);
    if (!s || s->off) {
        int idx = -1;
        for (int i = 0; i < Q931_INFO_EXT && idx < 0; i++)
            if (!qi.ext[i].off)
                idx = i;
        if (idx < 0)
            return -1;
        qi.ext[idx].ie = ie;
        qi.ext[idx].off = off;
        qi.ext[idx].ridx = 0;
        if (s)
            link_repeat(&qi, s, idx);
    } else {
        s->off = off;
    }
    write_ie(data + len, ie, content, clen);
    memcpy(data, &qi, sizeof qi);
    return len + need;
}

// Appends the element whose length octet is at off; -1 when it does not fit.
static int copy_ie(const uint8_t *data, int len, uint8_t ie, int off, uint8_t *out, int pos, int cap)
{
    bool single = ie & 0x80;
    if (off < Q931_INFO_LEN || off >= len) {
        LOGD(ISDN, 1, nullptr, "misdn L3: element %02x at offset %d outside the frame, skipped", ie, off);
        return pos;
    }
    if (single)
        return q931_put_ie(out, pos, cap, ie, nullptr, 0);
    int l = data[off];
    if (off + 1 + l > len) {
        LOGD(ISDN, 1, nullptr, "misdn L3: element %02x of %d octets runs past the frame, skipped", ie, l);
        return pos;
    }
    return q931_put_ie(out, pos, cap, ie, data + off + 1, l);
}

int q931_info_to_ies(const uint8_t *data, int len, uint8_t *out, int cap, const char **why)
{
    if (!data || len < Q931_INFO_LEN) {
        if (why)
            *why = "frame shorter than the Q.931 info record";
        return -1;
    }
    Q931_info_t rec;
    memcpy(&rec, data, sizeof rec);  // the frame need not be aligned
    const Q931_info_t *qi = &rec;
    int pos = 0;
    for (const auto &r : slot_table) {
        const ie_info_t *s = (const ie_info_t *)((const uint8_t *)qi + r.offset);
        if (!s->off)
            continue;
        pos = copy_ie(data, len, r.ie, s->off, out, pos, cap);
        if (pos < 0)
            break;
        if (!s->repeated)
            continue;
        int idx = s->ridx;
        bool seen[Q931_INFO_EXT] = {};
        while (idx >= 1 && idx <= Q931_INFO_EXT && !seen[idx - 1] && pos >= 0) {
            seen[idx - 1] = true;
            const ie_info_ext_t &x = qi->ext[idx - 1];
            if (x.ie != r.ie || !x.off)
                break;
            pos = copy_ie(data, len, r.ie, x.off, out, pos, cap);
            idx = x.ridx;
        }
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
