#include "lapd_frame.h"

static int fault(const char **why, const char *text)
{
    if (why)
        *why = text;
    return -1;
}

int lapd_decode(const uint8_t *buf, int len, lapd_frame *f, const char **why)
{
    if (!buf || len < 3)
        return fault(why, "frame shorter than 3 octets");
    if (len > LAPD_MAX_FRAME)
        return fault(why, "frame longer than N201 allows");
    if (buf[0] & 0x01)
        return fault(why, "address extension bit set in octet 1");
    if (!(buf[1] & 0x01))
        return fault(why, "address extension bit clear in octet 2");
    f->sapi = buf[0] >> 2;
    f->cr = (buf[0] >> 1) & 1;
    f->tei = buf[1] >> 1;
    f->ns = f->nr = 0;
    f->pf = 0;
    f->info = nullptr;
    f->info_len = 0;
    uint8_t c = buf[2];
    if (!(c & 0x01)) {
        if (len < 4)
            return fault(why, "I frame without second control octet");
        f->type = LAPD_I;
        f->ns = c >> 1;
        f->nr = buf[3] >> 1;
        f->pf = buf[3] & 1;
        f->info = buf + 4;
        f->info_len = len - 4;
        if (f->info_len == 0)
            return fault(why, "I frame without information");
        return 0;
    }
    if ((c & 0x03) == 0x01) {
        if (len != 4)
            return fault(why, "S frame of wrong length");
        switch (c) {
        case 0x01: f->type = LAPD_RR; break;
        case 0x05: f->type = LAPD_RNR; break;
        case 0x09: f->type = LAPD_REJ; break;
        default: return fault(why, "unknown S frame");
        }
        f->nr = buf[3] >> 1;
        f->pf = buf[3] & 1;
        return 0;
    }
    f->pf = (c >> 4) & 1;
    switch (c & 0xEF) {
    case 0x6F: f->type = LAPD_SABME; break;
    case 0x0F: f->type = LAPD_DM; break;
    case 0x03: f->type = LAPD_UI; break;
    case 0x43: f->type = LAPD_DISC; break;
    case 0x63: f->type = LAPD_UA; break;
    case 0x87: f->type = LAPD_FRMR; break;
    case 0xAF: f->type = LAPD_XID; break;
    default: return fault(why, "unknown U frame");
    }
    f->info = buf + 3;
    f->info_len = len - 3;
    switch (f->type) {
    case LAPD_UI:
        if (f->info_len == 0)
            return fault(why, "UI frame without information");
        break;
    case LAPD_FRMR:
    case LAPD_XID:
        break;
    default:
        if (f->info_len)
            return fault(why, "information in a frame that allows none");
    }
    return 0;
}

int lapd_encode(uint8_t *out, int sapi, int cr, int tei, lapd_type type, int pf, int ns, int nr)
{
    out[0] = (uint8_t)(((sapi & 0x3F) << 2) | ((cr & 1) << 1));
    out[1] = (uint8_t)(((tei & 0x7F) << 1) | 1);
    pf &= 1;
    switch (type) {
    case LAPD_I:
        out[2] = (uint8_t)((ns & 0x7F) << 1);
        out[3] = (uint8_t)(((nr & 0x7F) << 1) | pf);
        return 4;
    case LAPD_RR:
    case LAPD_RNR:
    case LAPD_REJ:
        out[2] = type == LAPD_RR ? 0x01 : type == LAPD_RNR ? 0x05 : 0x09;
        out[3] = (uint8_t)(((nr & 0x7F) << 1) | pf);
        return 4;
    case LAPD_SABME: out[2] = 0x6F; break;
    case LAPD_DM: out[2] = 0x0F; break;
    case LAPD_UI: out[2] = 0x03; break;
    case LAPD_DISC: out[2] = 0x43; break;
    case LAPD_UA: out[2] = 0x63; break;
    case LAPD_FRMR: out[2] = 0x87; break;
    case LAPD_XID: out[2] = 0xAF; break;
    }
    out[2] |= (uint8_t)(pf << 4);
    return 3;
}

const char *lapd_type_name(lapd_type t)
{
    static const char *const names[] = {"I", "RR", "RNR", "REJ", "SABME", "DM",
                                        "UI", "DISC", "UA", "FRMR", "XID"};
    unsigned i = (unsigned)t;
    return i < sizeof names / sizeof names[0] ? names[i] : "?";
}

int tei_msg_decode(const uint8_t *info, int len, tei_msg *m, const char **why)
{
    if (!info || len < TEI_MSG_LEN)
        return fault(why, "TEI management message shorter than 5 octets");
    if (info[0] != TEI_MEI)
        return fault(why, "not a TEI management entity message");
    if (!(info[4] & 1))
        return fault(why, "action indicator without extension bit");
    m->ri = (info[1] << 8) | info[2];
    m->type = info[3];
    m->ai = info[4] >> 1;
    if (m->type < TEI_ID_REQUEST || m->type > TEI_ID_VERIFY)
        return fault(why, "unknown TEI management message type");
    return 0;
}

int tei_msg_encode(uint8_t *out, int ri, int type, int ai)
{
    out[0] = TEI_MEI;
    out[1] = (uint8_t)((ri >> 8) & 0xFF);
    out[2] = (uint8_t)(ri & 0xFF);
    out[3] = (uint8_t)type;
    out[4] = (uint8_t)(((ai & 0x7F) << 1) | 1);
    return TEI_MSG_LEN;
}
