// Facilities: the QSIG name operations the library sends and reads, the scan
// of received facilities for diversion activation and MLPP, and the
// FACILITY and REGISTER messages.
#include <cstdio>
#include <cstring>

#include "fac_coder.h"
#include "ie_coders.h"
#include "isdn_interrogate.h"
#include "isdn_msg_parser.h"
#include "misdn_bchannel.h"
#include "misdn_invokeid.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"

// The three templates end in the presentation tag 0x80 and a name length 0.
static const unsigned char qsig_name_plain[] = {
    0x91, 0x8B, 0x01, 0x00, 0xA1, 0x0B, 0x02, 0x01, 0x05,
    0x06, 0x04, 0x2B, 0x0C, 0x09, 0x00, 0x80, 0x00,
};
static const unsigned char qsig_name_network_extension[] = {
    0x91, 0xAA, 0x06, 0x80, 0x01, 0x00, 0x82, 0x01, 0x00, 0x8B, 0x01, 0x00, 0xA1,
    0x0B, 0x02, 0x01, 0x05, 0x06, 0x04, 0x2B, 0x0C, 0x09, 0x00, 0x80, 0x00,
};
static const unsigned char qsig_name_iso[] = {
    0x9F, 0x8B, 0x01, 0x00, 0xA1, 0x08, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x80, 0x00,
};

int qsig_name_facility_encode(int iso, int network_extension, int kind, int pres, const char *name,
                              int len, unsigned char *out, int size)
{
    if (len < 0 || len > BC_QSIG_NAME_LEN)
        return -1;
    const unsigned char *t = qsig_name_plain;
    int tlen = (int)sizeof(qsig_name_plain);
    if (iso) {
        t = qsig_name_iso;
        tlen = (int)sizeof(qsig_name_iso);
    } else if (network_extension) {
        t = qsig_name_network_extension;
        tlen = (int)sizeof(qsig_name_network_extension);
    }
    if (tlen + len > size)
        return -1;
    memcpy(out, t, (size_t)tlen);
    // invoke length octet: the fifth octet from the end of the operation part
    int invoke = iso ? 5 : tlen - 12;
    out[invoke] = (unsigned char)(out[invoke] + len);
    out[tlen - 3] = (unsigned char)kind;   // last octet of the operation value
    if (!pres)
        out[tlen - 2] = 0x82;              // presentation restricted
    out[tlen - 1] = (unsigned char)len;
    memcpy(out + tlen, name, (size_t)len);
    return tlen + len;
}

void set_qsig_name_facility(misdn_bchannel *bc, int kind)
{
    int len = (int)strnlen(bc->qsig_local_name, sizeof(bc->qsig_local_name));
    cb_log(8, bc->port, bc->pid, "set_qsig_name_facility: bc %p - got: %.*s\n", (void *)bc, len,
           bc->qsig_local_name);
    int slot = 0;
    while (slot < BC_OUTFAC_COUNT && bc->outfac_len[slot])
        slot++;
    if (slot == BC_OUTFAC_COUNT) {
        cb_log(1, bc->port, bc->pid, "set_qsig_name_facility: no free facility buffer, name not sent\n");
        return;
    }
    int n = qsig_name_facility_encode(bc->use_qsig_iso, bc->use_qsig_network_extension, kind,
                                      bc->qsig_local_name_pres, bc->qsig_local_name, len, bc->outfac[slot],
                                      BC_FAC_LEN);
    if (n > 0)
        bc->outfac_len[slot] = n;
}

// Skips the element at c[*i] (tag, short or long length, content) within n
// octets; 0 when it lies within, -1 when not.
static int skip_element(const unsigned char *c, int n, int *i)
{
    if (*i + 1 >= n)
        return -1;
    int len;
    int k = fac_parse_len(c + *i + 1, c + n, &len);
    if (!k || *i + 1 + k + len > n)
        return -1;
    *i += 1 + k + len;
    return 0;
}

// Looks for a name in one Facility element's content c of n octets:
// 1 name found (or search ended with no name: *stop), 0 none here.
static int name_in_facility(misdn_bchannel *bc, const unsigned char *c, int n, int *stop)
{
    if (n < 1 || (c[0] != 0x9F && c[0] != 0x91))
        return 0;
    int iso = c[0] == 0x9F;
    int i = 1;
    if (i < n && c[i] == 0xAA && skip_element(c, n, &i) < 0)
        return 0;
    if (i >= n || c[i] != 0x8B || skip_element(c, n, &i) < 0)
        return 0;
    for (int steps = 0; i < n; steps++) {
        if (steps >= 100) {
            cb_log(18, bc->port, bc->pid, "get_qsig_name parse error");
            return 0;
        }
        if (c[i] != 0xA1)
            return 0;
        int len;
        int k = fac_parse_len(c + i + 1, c + n, &len);
        if (!k || i + 1 + k + len > n)
            return 0;
        int end = i + 1 + k + len;  // end of this invoke
        int j = i + 1 + k;
        i = end;
        // invoke id
        if (j >= end || c[j] != 0x02 || skip_element(c, end, &j) < 0)
            continue;
        // operation
        if (iso) {
            if (j >= end || c[j] != 0x02 || skip_element(c, end, &j) < 0)
                continue;
        } else {
            static const unsigned char oid[] = {0x06, 0x04, 0x2B, 0x0C, 0x09};
            if (end - j < 6 || memcmp(c + j, oid, sizeof(oid)) || c[j + 5] >= 4)
                continue;
            j += 6;
        }
        // argument
        if (j + 1 >= end)
            continue;
        int tag = c[j];
        int alen;
        k = fac_parse_len(c + j + 1, c + end, &alen);
        if (!k || j + 1 + k + alen > end)
            continue;
        const unsigned char *arg = c + j + 1 + k;
        if (alen == 0) {
            *stop = 1;
            return 1;
        }
        char *name = bc->qsig_remote_name;
        const int room = (int)sizeof(bc->qsig_remote_name) - 1;
        if (tag != 0xA1) {
            bc->qsig_remote_name_pres = (tag & 0x02) ? 0 : 1;
            int m = alen > room ? room : alen;
            memcpy(name, arg, (size_t)m);
            name[m] = 0;
        } else {
            bc->qsig_remote_name_pres = 1;
            int slen;
            int sk = alen >= 2 && arg[0] == 0x04 ? fac_parse_len(arg + 1, arg + alen, &slen) : 0;
            if (sk && 1 + sk + slen <= alen) {
                int m = slen > room ? room : slen;
                memcpy(name, arg + 1 + sk, (size_t)m);
                name[m] = 0;
            } else {
                name[0] = 0;
            }
        }
        cb_log(8, bc->port, bc->pid, "get_qsig_name_facility: bc %p - got: %s\n", (void *)bc, name);
        *stop = 1;
        return 1;
    }
    return 0;
}

void get_qsig_name_facility(misdn_bchannel *bc, const msg_t *msg, int nt)
{
    for (int k = 0; k < BC_OUTFAC_COUNT; k++) {
        const unsigned char *p = l3_ie_get(msg, nt, IE_FACILITY, k);
        if (!p)
            break;
        if (p[0] == 0)
            continue;
        int stop = 0;
        name_in_facility(bc, p + 1, p[0], &stop);
        if (stop)
            return;
    }
}

// Integer of 1 or 2 octets at c[i] (tag 0x02); -1 when it is not one.
static int small_integer(const unsigned char *c, int n, int i, int *value, int *next)
{
    if (i + 2 >= n || c[i] != 0x02 || (c[i + 1] != 1 && c[i + 1] != 2) || i + 2 + c[i + 1] > n)
        return -1;
    *value = c[i + 2];
    if (c[i + 1] == 2)
        *value = (*value << 8) | c[i + 3];
    *next = i + 2 + c[i + 1];
    return 0;
}

int parse_infac(misdn_bchannel *bc)
{
    bc->fac_in.Function = Fac_None;
    int n = bc->infac_len;
    if (n > (int)sizeof(bc->infac))
        n = (int)sizeof(bc->infac);
    const unsigned char *c = bc->infac;
    if (n <= 0 || c[0] != 0x91)
        return 0;
    int i = 1;
    while (n - i >= 11) {
        int len;
        int k = fac_parse_len(c + i + 1, c + n, &len);
        if (!k || i + 1 + k + len > n)
            break;
        int end = i + 1 + k + len;
        if (c[i] != 0xA1) {
            i = end;  // not an invoke: stepped over
            continue;
        }
        if (1 + k + len < 11)
            break;
        int j = i + 1 + k;
        int id, op;
        i = end;
        if (small_integer(c, end, j, &id, &j) < 0 || small_integer(c, end, j, &op, &j) < 0)
            continue;
        if (op == 15 && j < end) {
            char n1[256], n2[256];
            int t1, t2;
            fac_activation_diversion(c + j, c + end, n1, sizeof(n1), &t1, n2, sizeof(n2), &t2);
            if (t1 >= 0) {
                ie_raw_text(bc->activersionDivQNumber1, sizeof(bc->activersionDivQNumber1), "%s", n1);
                bc->activersionDivQNumber1_ton = t1;
            }
            if (t2 >= 0) {
                ie_raw_text(bc->activersionDivQNumber2, sizeof(bc->activersionDivQNumber2), "%s", n2);
                bc->activersionDivQNumber2_ton = t2;
            }
        } else if (op == Fac_MLPP && j + 2 + 13 <= end && c[j] == 0x30 && c[j + 1] == 0x0D) {
            const unsigned char *s = c + j + 2;  // s[0] is octet 1 of the sequence
            bc->fac_in.Function = Fac_MLPP;
            FacMLPPParm &m = bc->fac_in.u.MLPP;
            m.invokeId = id;
            m.precLevel = s[2];
            m.lfbIndication = s[5];
            m.internationalID[0] = s[8];
            m.internationalID[1] = s[9];
            m.mlppServiceDomain[0] = s[10];
            m.mlppServiceDomain[1] = s[11];
            m.mlppServiceDomain[2] = s[12];
        }
    }
    return 0;
}

// Invoke id of the first component of a facility content, -1 when it does
// not start with an integer of 1 or 2 octets.
static int first_invoke_id(const unsigned char *c, int n)
{
    int i = 1;
    if (i < n && c[i] == 0xAA && skip_element(c, n, &i) < 0)
        return -1;
    if (i < n && c[i] == 0x8B && skip_element(c, n, &i) < 0)
        return -1;
    if (i + 1 >= n)
        return -1;
    int len;
    int k = fac_parse_len(c + i + 1, c + n, &len);
    if (!k || len < 2 || i + 1 + k + len > n)
        return -1;
    int id, next;
    if (small_integer(c, i + 1 + k + len, i + 1 + k, &id, &next) < 0)
        return -1;
    return id;
}

int parse_facility(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    misdn_clean_ie_buffers(bc);
    isdn_trace_head(bc->port, "FACILITY");
    cb_log_as(__func__, 18, bc->port, bc->pid, "%s", __func__);
    const unsigned char *p = l3_ie_get(msg, nt, IE_FACILITY, 0);
    if (!p) {
        cb_log(1, bc->port, bc->pid, "Parsing Facility failed: facility %p, nt %i,  p %p, HL %i\n",
               (void *)(msg ? msg->data : nullptr), bc->nt, (void *)nullptr,
               nt ? (int)mISDNUSER_HEAD_SIZE : (int)mISDN_FRAME_HEAD_SIZE);
        return 0;
    }
    int L = p[0];
    if (L > 0)
        ie_text(bc->ie_facilities.ie_facility).str("length=").num(L).str(";facility=").base64(p + 1, L);
    int r = fac_decode(p, &bc->fac_in);
    if (!dec_ie_display(msg, bc->display, sizeof(bc->display), nt, bc))
        ie_text(bc->ie_facilities.ie_display).str("display=").str(bc->display);
    if (r == 0) {
        cb_log(1, bc->port, bc->pid, "Decoding FACILITY succesful! (%d), ruf %i\n", 0, bc->reject_unknown_facility);
        // the answer to an interrogation of call diversion: its lines for the console
        if (bc->fac_in.Function == Fac_ReturnResult && isdn_interrogate_take_result(p))
            cb_log(3, bc->port, bc->pid, "Interrogation result of operation %d taken\n",
                   bc->fac_in.u.ReturnResult.operationValue);
    } else {
        cb_log(1, bc->port, bc->pid, "Decoding FACILITY failed! (%d), ruf %i\n", r, bc->reject_unknown_facility);
        if (bc->reject_unknown_facility) {
            int id = first_invoke_id(p + 1, L);
            bc->fac_out.Function = Fac_ReturnError;
            bc->fac_out.u.ReturnError.errorValue = 1;
            bc->fac_out.u.ReturnError.invokeId = id >= 0 ? id : misdn_get_invokeid();
            q931_send_event(bc, EVENT_FACILITY);
        }
    }
    rx_log(bc);
    return 0;
}

int parse_register(const isdn_msg *, msg_t *msg, misdn_bchannel *bc, int nt)
{
    misdn_clean_ie_buffers(bc);
    misdn_clean_ie_buffers(bc);
    isdn_trace_head(bc->port, "REGISTER");
    const unsigned char *p = l3_ie_get(msg, nt, IE_FACILITY, 0);
    if (!p)
        return 0;
    int r = fac_decode(p, &bc->fac_in);
    if (r != 0)
        cb_log(1, bc->port, bc->pid, "Decoding REGISTER failed! (%d)\n", r);
    parse_facility_ie(msg, bc, nt);
    rx_log(bc);
    return 0;
}

msg_t *build_facility(const isdn_msg *, misdn_bchannel *bc, int nt)
{
    const uint32_t prim = 0x36280;
    msg_t *msg = create_l3msg(prim, 0x62, bc->l3_id, NT_RECORD_SIZE, nt);
    isdn_trace_head(bc->port, "FACILITY");
    cb_log_as(__func__, 18, bc->port, bc->pid, "%s", __func__);
    if (!msg)
        return nullptr;
    int placed = bc->outfac_len[0] != 0;
    if (placed) {
        int len = bc->outfac_len[0] > BC_FAC_LEN ? BC_FAC_LEN : bc->outfac_len[0];
        enc_ie_facility(msg, bc->outfac[0], len, nt, bc);
    }
    if (bc->display[0])
        enc_ie_display(msg, bc->display, sizeof(bc->display), nt, bc);
    if (placed)
        return msg;
    memset(bc->outfac[0], 0, sizeof(bc->outfac[0]));
    bc->outfac_len[0] = 0;
    unsigned char buf[256];
    int n = fac_encode(buf, sizeof(buf), &bc->fac_out);
    if (n <= 2 || buf[0] != IE_FACILITY || buf[1] != n - 2) {
        free_msg(msg);
        return nullptr;
    }
    if (!l3_ie_add(msg, nt, IE_FACILITY, buf + 2, n - 2)) {
        free_msg(msg);
        return nullptr;
    }
    if (global_ie_trace) {
        char hex[79 * 3 + 1];
        ie_hexdump(buf + 2, n - 2, hex, sizeof(hex));
        isdn_trace_add("  FACILITY: faclen=%d facility=%s\n", n - 2, hex);
    }
    tx_log(bc);
    return msg;
}
