// Delivery reports: one tab-separated line per status report.
#include "gsm_log.h"
#include "gsm_sms.h"
#include "gsm_text.h"
#include "platform_path.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static const char *const delivery_report_path = "/tmp/sms/delivery_report";

static int append_report(const char *text)
{
    return gsm_report_append(platform_path(delivery_report_path).c_str(), text);
}

// A semi-octet time stamp (7 octets) as yy/mm/dd,hh:mm:ss.
static void scts_text(const unsigned char *o, char *out, size_t size)
{
    int v[6];
    for (int i = 0; i < 6; i++)
        v[i] = (o[i] & 0x0F) * 10 + (o[i] >> 4);
    snprintf(out, size, "%02i/%02i/%02i,%02i:%02i:%02i", v[0] % 100, v[1] % 100, v[2] % 100,
             v[3] % 100, v[4] % 100, v[5] % 100);
}

// Decodes an SMS-STATUS-REPORT TPDU (with its service-centre address).
static bool decode_status_pdu(const char *hex, int *ref, char *recipient, size_t rsize,
                              char *scts, char *dt, size_t tsize, int *status)
{
    unsigned char o[256];
    int n = texthex_to_binhex(hex, o, sizeof o);
    int i = 0;
    if (n < 1)
        return false;
    int sca = o[i++];
    i += sca;
    if (i + 3 > n)
        return false;
    i++; // first octet
    *ref = o[i++];
    int digits = o[i++];
    if (digits > 20 || i + 1 + (digits + 1) / 2 > n)
        return false;
    int type = o[i++];
    size_t r = 0;
    if (type == 0x91 && r + 1 < rsize)
        recipient[r++] = '+';
    for (int d = 0; d < digits && r + 1 < rsize; d++) {
        int nib = (d & 1) ? o[i + d / 2] >> 4 : o[i + d / 2] & 0x0F;
        if (nib > 9)
            break;
        recipient[r++] = (char)('0' + nib);
    }
    recipient[r] = '\0';
    i += (digits + 1) / 2;
    if (i + 15 > n)
        return false;
    scts_text(o + i, scts, tsize);
    i += 7;
    scts_text(o + i, dt, tsize);
    i += 7;
    *status = o[i];
    return true;
}

static void unquote(std::string &s)
{
    std::string o;
    for (char c : s)
        if (c != '"')
            o += c;
    s = o;
}

int gsm_sms_log_delivery(int port, const char *report, int *ref)
{
    int dummy;
    if (!ref)
        ref = &dummy;
    *ref = -1;
    if (!report)
        report = "";
    GLOG(5, port, "port: %u, creating delivery report", (unsigned)port);
    std::string text(report);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    char line[512];
    if (text.rfind("+CDS:", 0) != 0) {
        char recipient[32] = "", scts[32] = "", dt[32] = "";
        int status = -1;
        if (!text.empty() &&
            decode_status_pdu(text.c_str(), ref, recipient, sizeof recipient, scts, dt, sizeof scts,
                              &status)) {
            snprintf(line, sizeof line, "%i\t%i\t%s\t%s\t%s\t%i\n", port, *ref, recipient, scts, dt,
                     status);
            return append_report(line);
        }
        GLOG(0, port, "port: %u, couldn't parse: |%s|", (unsigned)port, text.c_str());
        snprintf(line, sizeof line, "%i\t%s\t%s\t%s\t%s\t%i\n", port, "", "", "", "", -1);
        return append_report(line);
    }
    // Text mode: +CDS: <fo>,<mr>,<ra>,<tora>,<scts>,<dt>,<st>
    std::string rest = text.substr(5);
    std::string f[10];
    int nf = 0;
    size_t start = 0;
    while (nf < 10) {
        size_t c = rest.find(',', start);
        f[nf++] = rest.substr(start, c == std::string::npos ? std::string::npos : c - start);
        if (c == std::string::npos)
            break;
        start = c + 1;
    }
    for (int k = 0; k < nf; k++) {
        while (!f[k].empty() && f[k][0] == ' ')
            f[k].erase(0, 1);
        unquote(f[k]);
    }
    if (nf < 9) {
        GLOG(0, port, "port: %u, couldn't parse: |%s|", (unsigned)port, text.c_str());
        snprintf(line, sizeof line, "%i\t%.32s\t%.64s\t%.32s\t%.32s\t%i\n", port,
                 nf > 1 ? f[1].c_str() : "", nf > 2 ? f[2].c_str() : "", nf > 4 ? f[4].c_str() : "",
                 nf > 6 ? f[6].c_str() : "", -1);
        if (nf > 1)
            *ref = atoi(f[1].c_str());
        return append_report(line);
    }
    *ref = atoi(f[1].c_str());
    char *recipient = libgsm_ucs2_to_utf8(f[2].c_str());
    snprintf(line, sizeof line, "%i\t%.32s\t%.64s\t%.32s,%.32s\t%.32s,%.32s\t%.16s\n", port,
             f[1].c_str(), recipient ? recipient : f[2].c_str(), f[4].c_str(), f[5].c_str(),
             f[6].c_str(), f[7].c_str(), f[8].c_str());
    free(recipient);
    return append_report(line);
}
