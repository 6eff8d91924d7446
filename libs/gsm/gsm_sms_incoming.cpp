// Incoming SMS: new-message notices, reading messages in text and PDU mode,
// joining concatenated messages, filing into the incoming spool.
#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_port.h"
#include "gsm_sms.h"
#include "gsm_text.h"
#include "platform_path.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <regex.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static const char *const parts_dir = "/tmp/sms/parts";

_gsm_event_sms_recv_t *libgsm_event_sms_recv(int port, int status, const char *line)
{
    (void)port;
    (void)status;
    if (!line) {
        errno = EINVAL;
        return nullptr;
    }
    int len = 0;
    const char *mem = libgsm_regexp(line, "(SM|ME)", &len, 0);
    if (!mem) {
        errno = EINVAL;
        return nullptr;
    }
    std::string memtext(mem, (size_t)len);
    const char *idx = libgsm_regexp(line, "([0-9]|[0-9][0-9]|[0-9][0-9][0-9])", &len, 0);
    if (!idx) {
        errno = EINVAL;
        return nullptr;
    }
    _gsm_event_sms_recv_t *r = (_gsm_event_sms_recv_t *)calloc(1, sizeof *r);
    if (!r) {
        errno = ENOMEM;
        return nullptr;
    }
    snprintf(r->save_mem, sizeof r->save_mem, "%s", memtext.c_str());
    r->save_pos = atoi(std::string(idx, (size_t)len).c_str());
    return r;
}

// The field after the n-th comma of a line (up to the next comma).
static std::string field_after_comma(const char *line, int n)
{
    const char *p = line;
    for (int i = 0; i < n && p; i++) {
        p = strchr(p, ',');
        if (p)
            p++;
    }
    if (!p)
        return "";
    const char *e = strchr(p, ',');
    std::string f = e ? std::string(p, (size_t)(e - p)) : std::string(p);
    while (!f.empty() && (f.back() == '\r' || f.back() == '\n'))
        f.pop_back();
    return f;
}

_gsm_event_sms_read_t *libgsm_event_sms_read_mem(int port, int status, const char *answer,
                                                 int *dcs, int *first_octet)
{
    (void)status;
    if (!answer || strncmp(answer, "OK", 2) == 0)
        return nullptr;
    _gsm_event_sms_read_t *d = (_gsm_event_sms_read_t *)calloc(1, sizeof *d);
    if (!d)
        return nullptr;
    int len = 0;
    const char *m = libgsm_regexp(answer, "AT\\+CMGR=([0-9]{1,2})", &len, 0);
    if (m)
        d->save_pos = atoi(m + 8);
    m = libgsm_regexp(answer, ",\"[0-9A-F]+\",", &len, 0);
    if (m && len > 4) {
        std::string hex(m + 2, (size_t)len - 4);
        char *num = libgsm_ucs2_to_utf8(hex.c_str());
        snprintf(d->number, sizeof d->number, "%s", num ? num : hex.c_str());
        free(num);
    }
    m = libgsm_regexp(answer, "([0-9]{2}(/|,)){3}([0-9]{2}(:|\\+)){3}[0-9]{2}", &len, 0);
    if (m)
        snprintf(d->date, sizeof d->date, "%.*s", len < 63 ? len : 63, m);
    const char *header = strstr(answer, "+CMGR:");
    const char *base = header ? header : answer;
    int fo = atoi(field_after_comma(base, 6).c_str());
    if (first_octet)
        *first_octet = fo;
    if (dcs)
        *dcs = atoi(field_after_comma(base, 8).c_str());
    m = libgsm_regexp(answer, "\r\n[0-9A-F]+[0-9A-F]\r", &len, 0);
    if (m) {
        std::string hex(m + 2, (size_t)len - 3);
        if (fo < 61) {
            char *text = libgsm_ucs2_to_utf8(hex.c_str());
            snprintf(d->msg, sizeof d->msg, "%s", text ? text : "");
            free(text);
        } else {
            snprintf(d->msg, sizeof d->msg, "%s", hex.c_str());
        }
    }
    GLOG(5, port, "data->number  : %s", d->number);
    GLOG(5, port, "data->date    : %s", d->date);
    GLOG(5, port, "data->message : %s", d->msg);
    GLOG(5, port, "data->save_pos: %d", d->save_pos);
    return d;
}

// Writes body to a temporary file of the spool and files it under the next
// free name. 0, -13 (temporary file), -5 (not filed).
static int file_message(const char *spool, unsigned port, const std::string &body, const char *ext,
                        char *saved, int saved_size)
{
    char tmp[4096];
    int w = gsm_spool_write_tmp(spool, port, body, tmp, sizeof tmp);
    if (w < 0)
        return w;
    if (!libgsm_spool_claim(tmp, spool, ext, saved, saved_size)) {
        unlink(tmp);
        return -5;
    }
    GLOG(5, (int)port, "tmp: %s, spool: %s", tmp, spool);
    return 0;
}

static void webhook(unsigned port, const char *date, const char *sender, const char *text)
{
    _libgsm_ctlport_t *ctl = nullptr;
    if (port >= 1 && port < GSM_PORT_TABLE && libgsm_ctlport[port].port == (int)port)
        ctl = &libgsm_ctlport[port];
    if (ctl && ctl->cfg && ctl->cfg->sms_webhook_url && *ctl->cfg->sms_webhook_url)
        notify_sms_webhook(ctl->cfg, date, sender, port, "sms", "", "", 0, 1, text);
}

static int file_text_message(const char *spool, const char *date, const char *sender, unsigned port,
                             const char *text)
{
    std::string body = std::string("date=") + date + "\nnum=" + sender + "\nfrom=none\nport=" +
                       std::to_string(port) + "\nmsg=" + text;
    char saved[4096] = "";
    int r = file_message(spool, port, body, "sms", saved, sizeof saved);
    if (r == -5)
        GLOG(0, (int)port, "GSM port %u: could not file the received SMS, dropping it", port);
    if (r < 0)
        return r;
    GLOG(0, (int)port, "Received SMS from %s on port %u saved to %s\n", sender, port, saved);
    GLOG(5, (int)port, "G SMS|RECEIVED<br>from %s on port %u, saved to %s\n", sender, port, saved);
    webhook(port, date, sender, text);
    return 0;
}

int gsm_sms_incoming(const char *spool, const char *date, const char *sender, unsigned port,
                     const char *text, int dcs, int first_octet)
{
    if (!spool || !date || !sender || !text)
        return -22;
    if (first_octet >= 61)
        return process_multipart_sms(spool, date, sender, port, text, dcs);
    return file_text_message(spool, date, sender, port, text);
}

// ---- concatenated messages ---------------------------------------------------

struct ud_info {
    int udl = 0;       // septets (7-bit) or octets
    int dcs = 0;
    std::string hex;   // user data as hex, header included
};

enum alphabet { ALPHA_7BIT, ALPHA_8BIT, ALPHA_UCS2 };

static alphabet alphabet_of(int dcs)
{
    if ((dcs & 0xC0) == 0x00 || (dcs & 0xC0) == 0x40) {
        int a = (dcs >> 2) & 3;
        return a == 2 ? ALPHA_UCS2 : a == 1 ? ALPHA_8BIT : ALPHA_7BIT;
    }
    if ((dcs & 0xF0) == 0xE0)
        return ALPHA_UCS2;
    if ((dcs & 0xF0) == 0xF0)
        return (dcs & 0x04) ? ALPHA_8BIT : ALPHA_7BIT;
    return ALPHA_7BIT;
}

// Decodes one part's user data (header skipped) to UTF-8. udl < 0: septet
// count unknown (taken from the octets). False when a length does not fit.
static bool decode_ud(const ud_info &u, bool has_header, std::string &out)
{
    std::vector<unsigned char> o(u.hex.size() / 2 + 1);
    int n = texthex_to_binhex(u.hex.c_str(), o.data(), (int)o.size());
    int hdr = 0;
    if (has_header) {
        if (n < 1 || o[0] + 1 > n)
            return false;
        hdr = o[0] + 1;
    }
    alphabet a = alphabet_of(u.dcs);
    if (a == ALPHA_7BIT) {
        int hdr_bits = hdr * 8;
        int fill = (7 - hdr_bits % 7) % 7;
        int total = u.udl >= 0 ? u.udl : (n * 8) / 7;
        int septets = total - (hdr_bits + fill) / 7;
        if (septets < 0 || (total * 7 + 7) / 8 > n)
            return false;
        std::vector<char> txt((size_t)septets + 1);
        gsm_unpack_septets(o.data(), n, hdr_bits + fill, septets, txt.data(), (int)txt.size());
        char *utf = iso8559_to_utf8(txt.data());
        out += utf ? utf : "";
        free(utf);
        return true;
    }
    std::string rest = u.hex.substr((size_t)hdr * 2, (size_t)(n - hdr) * 2);
    if (a == ALPHA_UCS2) {
        char *utf = libgsm_ucs2_to_utf8(rest.c_str());
        if (!utf)
            return false;
        out += utf;
        free(utf);
        return true;
    }
    out += rest; // 8-bit data stays hexadecimal
    return true;
}

int gsm_get_multipart_parameters(const char *header, int len, char *msgid, int msgid_size, int *part,
                                 int *total)
{
    if (!header || len < 12 || (int)strlen(header) < len) {
        errno = EINVAL;
        return -1;
    }
    std::string h(header, (size_t)len);
    auto octet = [&](size_t pos) { return (int)strtol(h.substr(pos, 2).c_str(), nullptr, 16); };
    if (h.compare(2, 4, "0003") == 0 && len >= 12) {
        snprintf(msgid, (size_t)msgid_size, "%s", h.substr(6, 2).c_str());
        *total = octet(8);
        *part = octet(10);
    } else if (h.compare(2, 4, "0804") == 0 && len >= 14) {
        snprintf(msgid, (size_t)msgid_size, "%s", h.substr(6, 4).c_str());
        *total = octet(10);
        *part = octet(12);
    } else {
        snprintf(msgid, (size_t)msgid_size, "%s", h.substr((size_t)len - 6, 1).c_str());
        *total = octet((size_t)len - 4);
        *part = octet((size_t)len - 2);
        GLOG(5, 0, "Guessing msg type %s msgid |%s| part %i total %i", h.c_str(), msgid, *part, *total);
    }
    return 0;
}

static std::string part_name(const std::string &dir, const char *msgid, unsigned port, int part)
{
    return dir + "/" + msgid + "." + std::to_string(port) + "." + std::to_string(part) + ".sms";
}

static std::string body_value(const std::string &body, const char *key)
{
    std::string k = std::string("\n") + key + "=";
    size_t p = ("\n" + body).find(k);
    if (p == std::string::npos)
        return "";
    p += k.size() - 1;
    size_t e = body.find('\n', p);
    return body.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

// Stores one part; when all parts are there, joins, decodes and files them.
static int store_part(const char *spool, const char *date, const char *sender, unsigned port,
                      const char *msgid, int part, int total, const ud_info &u)
{
    if (total < 1 || part < 1 || part > total) {
        GLOG(0, (int)port, "port: %u : part %i of %i is not a valid part number", port, part, total);
        return -1;
    }
    std::string dir = platform_path(parts_dir);
    char tmp[4096];
    std::string body = std::string("date=") + date + "\nnum=" + sender + "\nfrom=none\nport=" +
                       std::to_string(port) + "\nudl=" + std::to_string(u.udl) + "\ndcs=" +
                       std::to_string(u.dcs) + "\nmsg=" + u.hex;
    int w = gsm_spool_write_tmp(dir.c_str(), port, body, tmp, sizeof tmp);
    if (w < 0)
        return w;
    if (rename(tmp, part_name(dir, msgid, port, part).c_str()) < 0) {
        unlink(tmp);
        return -5;
    }
    struct stat st;
    for (int i = 1; i <= total; i++)
        if (stat(part_name(dir, msgid, port, i).c_str(), &st) != 0)
            return 0;
    std::string text;
    for (int i = 1; i <= total; i++) {
        std::string pb;
        if (!gsm_read_small_file(part_name(dir, msgid, port, i).c_str(), pb, 65536))
            return -5;
        ud_info pu;
        pu.hex = body_value(pb, "msg");
        pu.udl = atoi(body_value(pb, "udl").c_str());
        pu.dcs = atoi(body_value(pb, "dcs").c_str());
        if (!decode_ud(pu, true, text))
            GLOG(0, (int)port, "port: %u : part %i of message %s is broken", port, i, msgid);
    }
    GLOG(5, (int)port, "port: %u : TOTAL CODE STRING |%s|", port, text.c_str());
    int r = file_text_message(spool, date, sender, port, text.c_str());
    for (int i = 1; i <= total; i++)
        unlink(part_name(dir, msgid, port, i).c_str());
    return r;
}

int process_multipart_sms(const char *spool, const char *date, const char *sender, unsigned port,
                          const char *hex, int dcs)
{
    if (!spool || !date || !sender || !hex)
        return -22;
    int n = (int)strlen(hex);
    if (n < 4) {
        GLOG(0, (int)port, "port: %u : SMS to short (%i bytes)", port, n);
        return -1;
    }
    int hl = (int)strtol(std::string(hex, 2).c_str(), nullptr, 16);
    if (n < (hl + 1) * 2) {
        GLOG(0, (int)port, "port: %u : SMS header corrupt", port);
        return -1;
    }
    char msgid[8];
    int part = 0, total = 0;
    if (gsm_get_multipart_parameters(hex, (hl + 1) * 2, msgid, sizeof msgid, &part, &total) < 0) {
        GLOG(0, (int)port, "port: %u : SMS header corrupt", port);
        return -1;
    }
    GLOG(0, (int)port, "Received SMS part %i of %i on port %u (msgid = %s)\n", part, total, port, msgid);
    ud_info u;
    u.hex = hex;
    u.dcs = dcs;
    u.udl = alphabet_of(dcs) == ALPHA_7BIT ? (n / 2) * 8 / 7 : n / 2;
    return store_part(spool, date, sender, port, msgid, part, total, u);
}

// ---- PDU mode ------------------------------------------------------------------

static std::string semi_octets(const unsigned char *o, int digits)
{
    std::string s;
    for (int d = 0; d < digits; d++) {
        int nib = (d & 1) ? o[d / 2] >> 4 : o[d / 2] & 0x0F;
        if (nib == 0x0F)
            break;
        s += "0123456789*#abc"[nib > 14 ? 14 : nib];
    }
    return s;
}

static std::string scts_text(const unsigned char *o)
{
    int v[7];
    for (int i = 0; i < 6; i++)
        v[i] = (o[i] & 0x0F) * 10 + (o[i] >> 4);
    // Time zone in quarter hours; the sign is bit 3 of the first semi-octet.
    v[6] = (o[6] & 0x07) * 10 + (o[6] >> 4);
    bool neg = o[6] & 0x08;
    char buf[32];
    snprintf(buf, sizeof buf, "%02i/%02i/%02i,%02i:%02i:%02i%c%02i", v[0] % 100, v[1] % 100,
             v[2] % 100, v[3] % 100, v[4] % 100, v[5] % 100, neg ? '-' : '+', v[6] % 100);
    return buf;
}

int gsm_sms_incoming_pdu(const char *spool, unsigned port, const char *answer)
{
    GLOG(5, (int)port, "port: %u : processing SMS", port);
    if (!spool || !answer)
        return -22;
    const char *b = strstr(answer, "\r\n");
    if (!b) {
        GLOG(0, (int)port, "port: %u : Failure parsing PDU, no msg line found", port);
        return -1;
    }
    b += 2;
    const char *e = strstr(b, "\r\n");
    if (!e)
        e = strchr(b, '\r');
    if (!e) {
        GLOG(0, (int)port, "port: %u : Failure parsing PDU, no msg end found", port);
        return -1;
    }
    std::string pdu(b, (size_t)(e - b));
    printf("POS1 %s\n", pdu.c_str());
    fflush(stdout);
    std::vector<unsigned char> o(pdu.size() / 2 + 1);
    int n = texthex_to_binhex(pdu.c_str(), o.data(), (int)o.size());
    auto fail = [&](const char *what) {
        GLOG(0, (int)port, "port: %u : Failure parsing PDU, %s", port, what);
        return -1;
    };
    if (n < 1)
        return fail("no octets");
    int i = 0;
    if (pdu.compare(0, 2, "00") == 0) {
        i = 1;
    } else {
        int sca = o[0];
        if (1 + sca > n) {
            GLOG(0, (int)port, "port: %u : Failure parsing PDU, smsclen greater than msg size", port);
            return -1;
        }
        i = 1 + sca;
    }
    if (i + 2 > n)
        return fail("truncated before the sender");
    int fo = o[i++];
    bool udhi = (fo >> 4) == 4 || (fo >> 4) == 6 || (fo & 0x40);
    int digits = o[i++];
    if (digits > 20 || i + 1 + (digits + 1) / 2 > n)
        return fail("sender length out of range");
    int type = o[i++];
    std::string sender;
    if ((type & 0x70) == 0x50) {
        // Alphanumeric sender: packed default alphabet.
        char name[32];
        gsm_unpack_septets(&o[(size_t)i], (digits + 1) / 2, 0, digits * 4 / 7, name, sizeof name);
        char *utf = iso8559_to_utf8(name);
        sender = utf ? utf : "";
        free(utf);
    } else {
        sender = (type == 0x91 ? "+" : "") + semi_octets(&o[(size_t)i], digits);
    }
    i += (digits + 1) / 2;
    if (i + 10 > n)
        return fail("truncated before the user data");
    i++; // protocol identifier
    int dcs = o[i++];
    std::string date = scts_text(&o[(size_t)i]);
    i += 7;
    int udl = o[i++];
    int ud_octets = n - i;
    alphabet a = alphabet_of(dcs);
    int need = a == ALPHA_7BIT ? (udl * 7 + 7) / 8 : udl;
    if (need > ud_octets)
        return fail("user data length exceeds the PDU");
    ud_info u;
    u.udl = udl;
    u.dcs = dcs;
    u.hex = pdu.substr((size_t)i * 2, (size_t)need * 2);
    if (!udhi) {
        std::string text;
        if (!decode_ud(u, false, text))
            return fail("user data undecodable");
        GLOG(5, (int)port, "port: %u : TOTAL CODE STRING |%s|", port, text.c_str());
        return file_text_message(spool, date.c_str(), sender.c_str(), port, text.c_str());
    }
    // Header: its length, then elements (id, length, data), each checked.
    const unsigned char *ud = &o[(size_t)i];
    int udhl = need >= 1 ? ud[0] : -1;
    if (udhl < 0 || udhl + 1 > need || (a == ALPHA_7BIT && (udhl + 1) * 8 > udl * 7))
        return fail("user data header length out of range");
    char msgid[8] = "";
    int part = 0, total = 0;
    for (int k = 1; k + 2 <= udhl + 1;) {
        int iei = ud[k], iel = ud[k + 1];
        if (k + 2 + iel > udhl + 1)
            return fail("user data header element out of range");
        if (iei == 0x00 && iel == 3) {
            snprintf(msgid, sizeof msgid, "%02X", ud[k + 2]);
            total = ud[k + 3];
            part = ud[k + 4];
        } else if (iei == 0x08 && iel == 4) {
            snprintf(msgid, sizeof msgid, "%02X%02X", ud[k + 2], ud[k + 3]);
            total = ud[k + 4];
            part = ud[k + 5];
        }
        k += 2 + iel;
    }
    if (!msgid[0] || total == 1) {
        // A header without concatenation: one message, header skipped.
        std::string text;
        if (!decode_ud(u, true, text))
            return fail("user data undecodable");
        return file_text_message(spool, date.c_str(), sender.c_str(), port, text.c_str());
    }
    return store_part(spool, date.c_str(), sender.c_str(), port, msgid, part, total, u);
}
