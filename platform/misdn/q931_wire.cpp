#include "q931_wire.h"

#include <cstring>

static int fault(const char **why, const char *text)
{
    if (why)
        *why = text;
    return -1;
}

int q931_parse(const uint8_t *buf, int len, q931_msg *m, const char **why)
{
    m->buf = buf;
    m->len = len;
    m->nies = 0;
    m->truncated = false;
    if (!buf || len < 3)
        return fault(why, "message shorter than 3 octets");
    if (buf[0] != Q931_PD)
        return fault(why, "protocol discriminator is not Q.931");
    int crlen = buf[1] & 0x0F;
    if (buf[1] & 0xF0)
        return fault(why, "spare bits set in the call reference length");
    if (crlen > 2)
        return fault(why, "call reference longer than 2 octets");
    if (len < 3 + crlen)
        return fault(why, "message ends inside its header");
    m->crlen = crlen;
    m->flag = 0;
    m->cr = 0;
    if (crlen >= 1) {
        m->flag = buf[2] >> 7;
        m->cr = buf[2] & 0x7F;
        if (crlen == 2)
            m->cr = (m->cr << 8) | buf[3];
    }
    m->mt = buf[2 + crlen];
    if (m->mt & 0x80)
        return fault(why, "message type with bit 8 set");
    int p = 3 + crlen;
    int codeset = 0, locked = 0;
    while (p < len) {
        uint8_t o = buf[p];
        if (m->nies >= Q931_MAX_IES) {
            m->truncated = true;
            break;
        }
        if (o & 0x80) {
            if ((o & 0xF0) == 0x90) {  // shift
                if (o & 0x08) {
                    codeset = o & 0x07;  // non-locking: the next element only
                } else {
                    locked = o & 0x07;
                    codeset = locked;
                }
                p++;
                continue;
            }
            q931_ie &ie = m->ies[m->nies++];
            ie.id = o;
            ie.codeset = (uint8_t)codeset;
            ie.off = (uint16_t)p;
            ie.len = 0;
            ie.single = true;
            codeset = locked;
            p++;
            continue;
        }
        if (p + 1 >= len || p + 2 + buf[p + 1] > len) {
            m->truncated = true;
            break;
        }
        q931_ie &ie = m->ies[m->nies++];
        ie.id = o;
        ie.codeset = (uint8_t)codeset;
        ie.off = (uint16_t)(p + 1);
        ie.len = buf[p + 1];
        ie.single = false;
        codeset = locked;
        p += 2 + buf[p + 1];
    }
    return 0;
}

const q931_ie *q931_find(const q931_msg *m, uint8_t id)
{
    for (int i = 0; i < m->nies; i++)
        if (m->ies[i].id == id && m->ies[i].codeset == 0)
            return &m->ies[i];
    return nullptr;
}

int q931_put_header(uint8_t *out, int crlen, int cr, int flag, uint8_t mt)
{
    out[0] = Q931_PD;
    out[1] = (uint8_t)crlen;
    int p = 2;
    if (crlen == 1) {
        out[p++] = (uint8_t)((flag ? 0x80 : 0) | (cr & 0x7F));
    } else if (crlen == 2) {
        out[p++] = (uint8_t)((flag ? 0x80 : 0) | ((cr >> 8) & 0x7F));
        out[p++] = (uint8_t)(cr & 0xFF);
    }
    out[p++] = mt;
    return p;
}

int q931_put_ie(uint8_t *out, int pos, int cap, uint8_t id, const uint8_t *content, int len)
{
    if (id & 0x80) {
        if (pos + 1 > cap)
            return -1;
        out[pos] = id;
        return pos + 1;
    }
    if (len < 0 || len > 255 || pos + 2 + len > cap)
        return -1;
    out[pos] = id;
    out[pos + 1] = (uint8_t)len;
    if (len)
        memcpy(out + pos + 2, content, (size_t)len);
    return pos + 2 + len;
}

const char *q931_mt_name(uint8_t mt)
{
    switch (mt) {
    case MT_ALERTING: return "ALERTING";
    case MT_CALL_PROCEEDING: return "CALL PROCEEDING";
    case MT_PROGRESS: return "PROGRESS";
    case MT_SETUP: return "SETUP";
    case MT_CONNECT: return "CONNECT";
    case MT_SETUP_ACKNOWLEDGE: return "SETUP ACKNOWLEDGE";
    case MT_CONNECT_ACKNOWLEDGE: return "CONNECT ACKNOWLEDGE";
    case MT_USER_INFORMATION: return "USER INFORMATION";
    case MT_SUSPEND_REJECT: return "SUSPEND REJECT";
    case MT_RESUME_REJECT: return "RESUME REJECT";
    case MT_HOLD: return "HOLD";
    case MT_SUSPEND: return "SUSPEND";
    case MT_RESUME: return "RESUME";
    case MT_HOLD_ACKNOWLEDGE: return "HOLD ACKNOWLEDGE";
    case MT_SUSPEND_ACKNOWLEDGE: return "SUSPEND ACKNOWLEDGE";
    case MT_RESUME_ACKNOWLEDGE: return "RESUME ACKNOWLEDGE";
    case MT_HOLD_REJECT: return "HOLD REJECT";
    case MT_RETRIEVE: return "RETRIEVE";
    case MT_RETRIEVE_ACKNOWLEDGE: return "RETRIEVE ACKNOWLEDGE";
    case MT_RETRIEVE_REJECT: return "RETRIEVE REJECT";
    case MT_DISCONNECT: return "DISCONNECT";
    case MT_RESTART: return "RESTART";
    case MT_RELEASE: return "RELEASE";
    case MT_RESTART_ACKNOWLEDGE: return "RESTART ACKNOWLEDGE";
    case MT_RELEASE_COMPLETE: return "RELEASE COMPLETE";
    case MT_FACILITY: return "FACILITY";
    case MT_REGISTER: return "REGISTER";
    case MT_NOTIFY: return "NOTIFY";
    case MT_STATUS_ENQUIRY: return "STATUS ENQUIRY";
    case MT_INFORMATION: return "INFORMATION";
    case MT_STATUS: return "STATUS";
    default: return "UNKNOWN";
    }
}

int q931_cause_of(const q931_msg *m)
{
    const q931_ie *ie = q931_find(m, IE_CAUSE);
    if (!ie || ie->len < 2)
        return -1;
    const uint8_t *c = m->buf + ie->off + 1;
    int i = (c[0] & 0x80) ? 1 : 2;  // octet 3a present when octet 3 has no extension bit
    if (i >= ie->len)
        return -1;
    return c[i] & 0x7F;
}
