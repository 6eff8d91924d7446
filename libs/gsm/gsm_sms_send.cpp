// Outgoing SMS: scanning the outgoing spool, building PDUs, queuing the
// messages, the send report and the fail-out directory.
#include "gsm_io.h"
#include "gsm_log.h"
#include "gsm_queue.h"
#include "gsm_settings.h"
#include "gsm_sms.h"
#include "gsm_text.h"
#include "platform_path.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <regex.h>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

static const char *const default_out = "/tmp/sms/out";
static const char *const default_failout = "/tmp/sms/failout";
static const char *const send_report = "/tmp/sms/send_report";

static std::mutex first_message_lock;
static bool first_message_sent[GSM_PORT_TABLE];

int filter_sms_extension(const char *name)
{
    size_t n = name ? strlen(name) : 0;
    return n >= 5 && strcmp(name + n - 4, ".sms") == 0;
}

static int dirent_filter(const struct dirent *d)
{
    return filter_sms_extension(d->d_name);
}

static std::string failout_dir()
{
    if (libgsm_global_config && libgsm_global_config->spool_failout &&
        *libgsm_global_config->spool_failout)
        return libgsm_global_config->spool_failout;
    return platform_path(default_failout);
}

static void append_text(const std::string &path, const char *text)
{
    FILE *f = fopen(path.c_str(), "a");
    if (!f)
        return;
    fprintf(f, "%s\n", text);
    fclose(f);
}

// The value after "key=" of the first match, without trailing line feeds.
static bool find_value(const std::string &text, const char *pattern, bool by_line, std::string &value)
{
    char *m = libgsm_regexp2(text.c_str(), pattern, by_line ? REG_NEWLINE : 0);
    if (!m)
        return false;
    const char *eq = strchr(m, '=');
    value = eq ? eq + 1 : "";
    free(m);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return true;
}

// Files a message that cannot be sent: send report, ".log" and fail-out.
static void fail_message(const char *spool, int port, const char *filename, const char *number,
                         const char *reason)
{
    gsm_sms_log_result(nullptr, filename, port, -1, number, 1, reason);
    append_text(std::string(spool) + "/" + filename + ".log", reason);
    gsm_sms_move_to_failout(port, spool, filename, failout_dir().c_str());
}

int gsm_sms_outgoing(const char *spool)
{
    if (!spool) {
        errno = EINVAL;
        return -1;
    }
    struct dirent **list = nullptr;
    int n = scandir(spool, &list, dirent_filter, alphasort);
    if (n < 0) {
        GLOG(0, 0, "scanning directory %s failed", spool);
        return -1;
    }
    int handed = 0;
    for (int i = 0; i < n; i++) {
        const char *name = list[i]->d_name;
        std::string path = std::string(spool) + "/" + name;
        std::string proc = path + ".processing";
        struct stat st;
        if (stat(proc.c_str(), &st) == 0)
            continue;
        std::string text;
        if (stat(path.c_str(), &st) != 0 || !gsm_read_small_file(path.c_str(), text, 1u << 20)) {
            printf("fail\n");
            continue;
        }
        std::string sport, num, msg;
        if (!find_value(text, "port=.+", true, sport)) {
            GLOG(0, 0, "regexp(port=.+)");
            continue;
        }
        if (!find_value(text, "num=.+", true, num)) {
            GLOG(0, 0, "regexp(num=.+)");
            continue;
        }
        if (!find_value(text, "msg=.+", false, msg)) {
            GLOG(0, 0, "regexp(msg=.+)");
            continue;
        }
        int port = atoi(sport.c_str()) % 256;
        _libgsm_ctlport_t *ctl = libgsm_getctlport(port);
        char reason[64];
        if (!ctl || !ctl->successfully_initialized) {
            snprintf(reason, sizeof reason, ctl ? "Port %i not up" : "Port %i not configured", port);
            fail_message(spool, port, name, num.c_str(), reason);
            continue;
        }
        // Claimed exclusively: a scan running at the same time skips it.
        int fd = open(proc.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
        if (fd < 0)
            continue;
        dprintf(fd, "%i", port);
        close(fd);
        gsm_spool_own(proc.c_str(), 0660);
        gsm_sms_send_from(spool, port, num.c_str(), msg.c_str(), name);
        handed++;
    }
    for (int i = 0; i < n; i++)
        free(list[i]);
    free(list);
    return handed;
}

static bool number_ok(const char *number)
{
    if (!number || !*number)
        return false;
    const char *p = number;
    if (*p == '+')
        p++;
    if (!*p)
        return false;
    for (; *p; p++)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

static gsm_outgoing_sms *new_record(const char *number, const char *text, const char *filename)
{
    gsm_outgoing_sms *s = (gsm_outgoing_sms *)calloc(1, sizeof *s);
    if (!s)
        return nullptr;
    s->msg = strdup(text);
    s->number = strdup(number);
    s->filename = strdup(filename);
    if (!s->msg || !s->number || !s->filename) {
        gsm_sms_free(s);
        return nullptr;
    }
    return s;
}

int gsm_sms_send(int port, const char *number, const char *text, const char *filename)
{
    return gsm_sms_send_from(platform_path(default_out).c_str(), port, number, text, filename);
}

int gsm_sms_send_from(const char *spool, int port, const char *number, const char *text,
                      const char *filename)
{
    if (!spool || !text || !filename) {
        errno = EINVAL;
        return -1;
    }
    if (!number_ok(number)) {
        fail_message(spool, port, filename, number ? number : "", "InvalidDestinationNumber");
        return 0;
    }
    // Both modes send UCS2: a text that cannot be converted fails here, once.
    char *ucs2 = libgsm_utf8_to_ucs2(text);
    if (!ucs2) {
        fail_message(spool, port, filename, number, "InvalidMessageEncoding");
        return -1;
    }
    if (gsm_sms_delivery_report && port > 0 && port < GSM_PORT_TABLE) {
        std::lock_guard<std::mutex> g(first_message_lock);
        if (!first_message_sent[port]) {
            first_message_sent[port] = true;
            gsm_queue_command(port, GSM_EVENT_TYPE_CSMP, "AT+CSMP=49,167,0,8\r\n", nullptr, nullptr, 0, 1);
            gsm_queue_command(port, GSM_EVENT_TYPE_CNMI, "AT+CNMI=2,1,2,1,0\r\n", nullptr, nullptr, 0, 1);
        }
    }
    std::string proc = std::string(spool) + "/" + filename + ".processing";
    if (!global_gsm_pdu_mode) {
        free(ucs2);
        gsm_outgoing_sms *s = new_record(number, text, filename);
        if (!s || gsm_queue_command(port, GSM_EVENT_TYPE_CMGS, s, nullptr, nullptr, 0, 1) < 0) {
            // Not taken: the next scan sees the file again.
            unlink(proc.c_str());
            return -1;
        }
        return 1;
    }
    // PDU mode: up to 70 characters in one part, else parts of 67; a
    // surrogate pair is never cut.
    size_t units = strlen(ucs2) / 4;
    std::vector<std::pair<size_t, size_t>> parts; // unit offset, unit count
    if (units <= 70) {
        parts.push_back({0, units});
    } else {
        for (size_t off = 0; off < units;) {
            size_t take = units - off < 67 ? units - off : 67;
            if (off + take < units) {
                unsigned int last = (unsigned)strtoul(std::string(ucs2 + (off + take - 1) * 4, 4).c_str(), nullptr, 16);
                if (last >= 0xD800 && last <= 0xDBFF)
                    take--;
            }
            parts.push_back({off, take});
            off += take;
        }
    }
    int total = (int)parts.size();
    int result = 1;
    for (int i = 0; i < total; i++) {
        std::string hex(ucs2 + parts[(size_t)i].first * 4, parts[(size_t)i].second * 4);
        gsm_outgoing_sms *s = new_record(number, text, filename);
        if (!s || make_cmgs_pdu_part(number, hex.c_str(), i + 1, total, gsm_sms_delivery_report, s) < 0) {
            gsm_sms_free(s);
            result = -1;
            break;
        }
        if (gsm_queue_command(port, GSM_EVENT_TYPE_CMGS, s, nullptr, nullptr, 0, 1) < 0) {
            result = -1;
            break;
        }
    }
    free(ucs2);
    if (result < 0)
        unlink(proc.c_str());
    return result;
}

int make_cmgs_pdu_part(const char *number, const char *ucs2_part, int part, int total,
                       int delivery_report, gsm_outgoing_sms *sms)
{
    if (!number || !ucs2_part || !sms || total < 1 || part < 1 || part > total || total > 255) {
        errno = EINVAL;
        return -1;
    }
    std::string digits = number;
    bool intl = false;
    if (digits.rfind("+", 0) == 0) {
        digits.erase(0, 1);
        intl = true;
    } else if (digits.rfind("00", 0) == 0) {
        digits.erase(0, 2);
        intl = true;
    }
    if (digits.size() > 20) {
        errno = EINVAL;
        return -1;
    }
    bool multi = total > 1;
    char buf[32];
    std::string pdu = "00";
    int fo = 0x11 | (delivery_report ? 0x20 : 0) | (multi ? 0x40 : 0);
    snprintf(buf, sizeof buf, "%02X00%02X%s", fo, (unsigned)digits.size(), intl ? "91" : "81");
    pdu += buf;
    std::string padded = digits;
    if (padded.size() % 2)
        padded += 'F';
    for (size_t i = 0; i < padded.size(); i += 2) {
        pdu += padded[i + 1];
        pdu += padded[i];
    }
    pdu += "000BA7";
    size_t text_octets = strlen(ucs2_part) / 2;
    size_t udl = text_octets + (multi ? 6 : 0);
    if (udl > 140) {
        errno = EINVAL;
        return -1;
    }
    snprintf(buf, sizeof buf, "%02X", (unsigned)udl);
    pdu += buf;
    if (multi) {
        snprintf(buf, sizeof buf, "05000300%02X%02X", total, part);
        pdu += buf;
    }
    for (const char *p = ucs2_part; *p; p++)
        pdu += (char)((*p >= 'a' && *p <= 'f') ? *p - 32 : *p);
    sms->pdu_cmgs_length = (int)(pdu.size() / 2) - 1;
    pdu += '\x1a';
    free(sms->pdu_block);
    sms->pdu_block = strdup(pdu.c_str());
    sms->pdu_mode = 1;
    sms->pdu_part = part;
    sms->pdu_total_parts = total;
    return sms->pdu_block ? 0 : -1;
}

static void timestamp(const struct timeval &tv, char *out, size_t size)
{
    struct tm tm;
    time_t t = tv.tv_sec;
    localtime_r(&t, &tm);
    snprintf(out, size, "%02i/%02i/%02i,%02i:%02i:%02i", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday,
             tm.tm_hour, tm.tm_min, tm.tm_sec);
}

int gsm_sms_log_result(gsm_outgoing_sms *sms, const char *filename, int port, int ref,
                       const char *number, int failed, const char *reason)
{
    std::string name = filename ? filename : "";
    size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".sms") == 0)
        name.erase(name.size() - 4);
    if (sms && sms->pdu_mode && sms->pdu_total_parts > 1)
        name += "." + std::to_string(sms->pdu_part) + "/" + std::to_string(sms->pdu_total_parts);
    std::string why;
    for (const char *p = reason ? reason : ""; *p; p++)
        if (*p != '\t' && *p != '\r' && *p != '\n')
            why += *p;
    struct timeval now;
    gettimeofday(&now, nullptr);
    char end[32], start[32] = "-";
    timestamp(now, end, sizeof end);
    std::string result = failed ? "ERROR:" + why : "OK";
    char line[1024];
    const char *num = number ? number : "";
    if (global_gsm_extended_reports) {
        long dur_ms = 0;
        if (sms) {
            timestamp(sms->start_timestamp, start, sizeof start);
            dur_ms = (now.tv_sec - sms->start_timestamp.tv_sec) * 1000 +
                     (now.tv_usec - sms->start_timestamp.tv_usec) / 1000;
        }
        snprintf(line, sizeof line, "%s\t%i\t%i\t%s\t%i\t%s\t%s\t%li.%li\t%s\n", name.c_str(), port, ref,
                 num, sms && sms->msg ? (int)strlen(sms->msg) : 0, start, end, dur_ms / 1000,
                 dur_ms % 1000, result.c_str());
    } else {
        snprintf(line, sizeof line, "%s\t%i\t%i\t%s\t%s\t%s\n", name.c_str(), port, ref, num, end,
                 result.c_str());
    }
    return gsm_report_append(platform_path(send_report).c_str(), line);
}

int gsm_sms_move_to_failout(int port, const char *spool, const char *filename, const char *failout)
{
    (void)port;
    if (!spool || !filename || !failout)
        return -1;
    std::string name = filename;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".sms") == 0)
        name.erase(name.size() - 4);
    char dir[4096];
    std::string src = std::string(spool) + "/" + filename;
    int rc = 0;
    if (create_failout_dir(failout, name.c_str(), dir, sizeof dir) < 0) {
        GLOG(0, port, "CRITICAL: no fail-out directory for %s in %s, parking it as %s.failed",
             filename, failout, filename);
        // Out of the spool's sight (no ".sms" ending), nothing lost.
        rename(src.c_str(), (src + ".failed").c_str());
        rc = -1;
    } else {
        std::string dst = std::string(dir) + "/message";
        gsm_spool_own(src.c_str(), 0666);
        if (rename(src.c_str(), dst.c_str()) < 0)
            rc = -1;
        std::string log = src + ".log";
        struct stat st;
        if (stat(log.c_str(), &st) == 0) {
            gsm_spool_own(log.c_str(), 0666);
            rename(log.c_str(), (dst + ".log").c_str());
        }
    }
    unlink((src + ".processing").c_str());
    return rc;
}

int cancel_sms(int port)
{
    gsm_send_raw(port, "\x1b", GSM_TIMEOUT_DEFAULT, 0);
    return gsm_send_raw(port, "\r", GSM_TIMEOUT_DEFAULT, 0);
}

int gsm_sms_read_mem(int port, int index)
{
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+CMGR=%d\r", index);
    return gsm_send_raw(port, cmd, GSM_TIMEOUT_DEFAULT, 1);
}

int gsm_sms_del_mem(int port, int index)
{
    char cmd[32];
    snprintf(cmd, sizeof cmd, "AT+CMGD=%d\r\n", index);
    return gsm_queue_command(port, GSM_EVENT_TYPE_CMGD, cmd, nullptr, nullptr, 0, 1) == 0 ? 1 : 0;
}
