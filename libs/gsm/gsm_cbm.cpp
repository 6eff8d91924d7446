// Cell broadcast: re-arming the subscription, reading its state from modem
// answers, and joining received pages into filed messages.
#include "gsm_cbm.h"

#include "gsm_log.h"
#include "gsm_port.h"
#include "gsm_queue.h"
#include "gsm_settings.h"
#include "gsm_sms.h"
#include "gsm_text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void gsm_cbm_mark_for_rearm(int port)
{
    if (global_gsm_cbm_enable && port >= 0 && port <= 7)
        global_gsm_cbm_needs_rearm[port] = 1;
}

int gsm_cbm_rearm_if_needed(int port, int blocking)
{
    if (!global_gsm_cbm_enable || port < 0 || port > 7 || !global_gsm_cbm_needs_rearm[port])
        return 0;
    if (!gsm_port_is_successfully_initialized(port))
        return 0;
    char mids[256], cmd[320];
    gsm_cbm_normalised_mids(mids, sizeof mids);
    gsm_queue_command(port, GSM_EVENT_TYPE_CNMI, "AT+CNMI=2,1,2,1,0\r\n", nullptr, nullptr, blocking, 0);
    gsm_queue_command(port, GSM_EVENT_TYPE_GENERIC_SHORT, "AT+CSCB=1,\"\",\"\"\r\n", nullptr, nullptr,
                      blocking, 0);
    snprintf(cmd, sizeof cmd, "AT+CSCB=0,\"%s\",\"\"\r\n", mids);
    gsm_queue_command(port, GSM_EVENT_TYPE_GENERIC_SHORT, cmd, nullptr, nullptr, blocking, 0);
    GLOG(0, port, "GSM port %i: re-arming cell broadcast after re-registration with %s", port, mids);
    global_gsm_cbm_needs_rearm[port] = 0;
    return 1;
}

int gsm_cbm_subscription_is_current(const char *answer)
{
    const char *p = answer ? strstr(answer, "+CSCB:") : nullptr;
    if (!p)
        return 0;
    p += 6;
    while (*p == ' ')
        p++;
    char *end = nullptr;
    long mode = strtol(p, &end, 10);
    if (end == p || mode != 0)
        return 0;
    const char *q1 = strchr(end, '"');
    const char *q2 = q1 ? strchr(q1 + 1, '"') : nullptr;
    if (!q2)
        return 0;
    char mids[256];
    gsm_cbm_normalised_mids(mids, sizeof mids);
    size_t len = (size_t)(q2 - q1 - 1);
    return len == strlen(mids) && strncmp(q1 + 1, mids, len) == 0;
}

int gsm_cbm_cnmi_bm(const char *answer)
{
    const char *p = answer ? strstr(answer, "+CNMI:") : nullptr;
    if (!p)
        return -1;
    p += 6;
    for (int i = 0; i < 2; i++) {
        p = strchr(p, ',');
        if (!p)
            return -1;
        p++;
    }
    while (*p == ' ')
        p++;
    char *end = nullptr;
    long v = strtol(p, &end, 10);
    return end == p ? -1 : (int)v;
}

enum { CBM_PAGE_MAX_AGE = 300, CBM_CLEAN_MAX = 16 };

static void clean_stale_pages(const std::string &dir, unsigned port)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    time_t now = time(nullptr);
    int removed = 0;
    while (struct dirent *e = readdir(d)) {
        if (removed >= CBM_CLEAN_MAX)
            break;
        if (e->d_name[0] == '.' || strlen(e->d_name) >= 64)
            continue;
        std::string p = dir + "/" + e->d_name;
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || now - st.st_mtime < CBM_PAGE_MAX_AGE)
            continue;
        if (unlink(p.c_str()) == 0) {
            removed++;
            GLOG(0, (int)port,
                 "GSM: dropping cell broadcast page %s, its message stayed incomplete for more than %i s",
                 e->d_name, CBM_PAGE_MAX_AGE);
        }
    }
    closedir(d);
}

static bool write_via_tmp(const std::string &dir, unsigned port, const std::string &body,
                          std::string &tmp)
{
    char t[4096];
    bool ok = gsm_spool_write_tmp(dir.c_str(), port, body, t, sizeof t) == 0;
    tmp = t;
    return ok;
}

static std::string page_value(const std::string &body)
{
    size_t p = body.find("\nmsg=");
    return p == std::string::npos ? "" : body.substr(p + 5);
}

// One page's content (hex) as UTF-8 by the data coding scheme.
static std::string decode_page(const std::string &hex, int dcs)
{
    std::vector<unsigned char> o(hex.size() / 2 + 1);
    int n = texthex_to_binhex(hex.c_str(), o.data(), (int)o.size());
    std::string text;
    if (dcs >= 8 && dcs <= 11) {
        char *utf = libgsm_ucs2_to_utf8(hex.substr(0, (size_t)n * 2).c_str());
        text = utf ? utf : "";
        free(utf);
    } else if (dcs < 5) {
        std::vector<char> t((size_t)n * 8 / 7 + 2);
        decode_7bit(o.data(), n, t.data(), (int)t.size());
        char *utf = iso8559_to_utf8(t.data());
        text = utf ? utf : "";
        free(utf);
    } else {
        text = hex.substr(0, (size_t)n * 2);
    }
    if (global_gsm_cbm_remove_trailing_cr)
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
            text.pop_back();
    return text;
}

int gsm_cbm_incoming_pdu(const char *spool, const char *parts, int port, const char *pdu)
{
    unsigned uport = (unsigned)port;
    GLOG(5, port, "port: %u : processing CBM", uport);
    if (!spool || !parts || !pdu)
        return -1;
    std::string hex(pdu);
    size_t crlf = hex.find("\r\n");
    if (crlf != std::string::npos)
        hex.erase(crlf);
    unsigned char o[1024];
    int n = texthex_to_binhex(hex.c_str(), o, sizeof o);
    if (n < 6)
        return -1;
    char serial[8], msgid[8];
    snprintf(serial, sizeof serial, "%02x%02x", o[0], o[1]);
    snprintf(msgid, sizeof msgid, "%02x%02x", o[2], o[3]);
    int dcs = o[4];
    int page = 1, pages = 1;
    // A zero in either nibble (or a page beyond the count) is a single page,
    // as 3GPP TS 23.041 treats the reserved value 0000.
    if (o[5] >= 11 && (o[5] >> 4) != 0 && (o[5] & 0x0F) != 0 && (o[5] >> 4) <= (o[5] & 0x0F)) {
        page = o[5] >> 4;
        pages = o[5] & 0x0F;
    }
    printf("msg_serial |%s|\n", serial);
    printf("msg_id     |%s|\n", msgid);
    printf("dcs        |%i|\n", dcs);
    printf("part       |%x|\n", o[5]);
    fflush(stdout);

    std::string dir = parts;
    clean_stale_pages(dir, uport);
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    char date[64];
    snprintf(date, sizeof date, "%04i/%02i/%02i/%02i:%02i:%02i", tm.tm_year + 1900, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string content;
    for (int i = 6; i < n; i++) {
        char b[3];
        snprintf(b, sizeof b, "%02X", o[i]);
        content += b;
    }
    auto page_name = [&](int p) {
        return dir + "/" + serial + "." + msgid + "." + std::to_string(port) + "." + std::to_string(p) + ".cbm";
    };
    char head[256];
    snprintf(head, sizeof head, "date=%s\nport=%u\ntype=cbs\nmsg_serial=%s\nmsg_id=%s\ndcs=%i\npart=%i\nmsg=",
             date, uport, serial, msgid, dcs, page);
    std::string tmp;
    if (!write_via_tmp(dir, uport, head + content, tmp) || rename(tmp.c_str(), page_name(page).c_str()) < 0) {
        unlink(tmp.c_str());
        GLOG(0, port, "GSM port %u: could not store cell broadcast page %i", uport, page);
        return -1;
    }
    int missing = 0;
    struct stat st;
    for (int p = 1; p <= pages; p++)
        if (stat(page_name(p).c_str(), &st) != 0)
            missing++;
    if (missing) {
        GLOG(5, port, "GSM port %u: cell broadcast %s/%s page %i of %i stored, %i page(s) still missing",
             uport, serial, msgid, page, pages, missing);
        return 0;
    }
    std::string text;
    for (int p = 1; p <= pages; p++) {
        std::string body;
        gsm_read_small_file(page_name(p).c_str(), body, 8192);
        text += decode_page(page_value(body), dcs);
    }
    GLOG(5, port, "port: %u : TOTAL CODE STRING |%s|", uport, text.c_str());
    snprintf(head, sizeof head, "date=%s\nport=%u\ntype=cbs\nmsg_serial=%s\nmsg_id=%s\ndcs=%i\npart=%i\nmsg=",
             date, uport, serial, msgid, dcs, pages);
    char saved[4096] = "";
    if (!write_via_tmp(spool, uport, head + text, tmp) ||
        !libgsm_spool_claim(tmp.c_str(), spool, "cbm", saved, sizeof saved)) {
        unlink(tmp.c_str());
        GLOG(0, port, "GSM port %u: could not file the received cell broadcast, dropping it", uport);
    } else {
        GLOG(0, port, "Received CBM on port %u saved to %s\n", uport, saved);
        GLOG(5, port, "G CBS|RECEIVED<br>  on port %u, saved to %s\n", uport, saved);
        _libgsm_ctlport_t *ctl = (port >= 1 && port < GSM_PORT_TABLE && libgsm_ctlport[port].port == port)
                                     ? &libgsm_ctlport[port] : nullptr;
        if (ctl && ctl->cfg && ctl->cfg->sms_webhook_url && *ctl->cfg->sms_webhook_url)
            notify_sms_webhook(ctl->cfg, date, "", uport, "cbs", serial, msgid, dcs, pages, text.c_str());
    }
    for (int p = 1; p <= pages; p++) {
        printf("Unlinking |%s|\n", page_name(p).c_str());
        unlink(page_name(p).c_str());
    }
    fflush(stdout);
    return 0;
}
