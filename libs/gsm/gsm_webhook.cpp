// HTTP webhook for received SMS and cell broadcasts (libcurl).
#include "gsm_log.h"
#include "gsm_sms.h"

#include <cstring>
#include <curl/curl.h>
#include <pthread.h>
#include <string>
#include <strings.h>

size_t gsm_curl_write_data(void *ptr, size_t size, size_t nmemb, void *userdata)
{
    (void)ptr;
    (void)userdata;
    return size * nmemb; // the answer is not used
}

void gsm_json_escape(char *out, size_t size, const char *text)
{
    if (!out || size == 0)
        return;
    size_t n = 0;
    const unsigned char *p = (const unsigned char *)(text ? text : "");
    while (*p) {
        char esc[8];
        const char *piece = nullptr;
        size_t len = 1;
        switch (*p) {
        case '"': piece = "\\\""; break;
        case '\\': piece = "\\\\"; break;
        case '\n': piece = "\\n"; break;
        case '\r': piece = "\\r"; break;
        case '\t': piece = "\\t"; break;
        case '\b': piece = "\\b"; break;
        case '\f': piece = "\\f"; break;
        default:
            if (*p < 0x20) {
                snprintf(esc, sizeof esc, "\\u%04x", *p);
                piece = esc;
            }
        }
        if (piece) {
            size_t pl = strlen(piece);
            if (n + pl + 1 > size)
                break;
            memcpy(out + n, piece, pl);
            n += pl;
            p++;
            continue;
        }
        // A UTF-8 sequence is copied whole or not at all.
        if (*p >= 0xF0)
            len = 4;
        else if (*p >= 0xE0)
            len = 3;
        else if (*p >= 0xC0)
            len = 2;
        size_t avail = strnlen((const char *)p, len);
        if (avail < len)
            len = avail;
        if (n + len + 1 > size)
            break;
        memcpy(out + n, p, len);
        n += len;
        p += len;
    }
    out[n] = '\0';
}

static pthread_once_t curl_once = PTHREAD_ONCE_INIT;

// "name":"value" with the value escaped (room for the worst case).
static std::string json_member(const char *name, const char *value)
{
    std::string buf(strlen(value ? value : "") * 6 + 1, '\0');
    gsm_json_escape(buf.data(), buf.size(), value ? value : "");
    return std::string("\"") + name + "\":\"" + buf.c_str() + "\"";
}

int notify_sms_webhook(const gsm_config_t *cfg, const char *date, const char *sender, unsigned port,
                       const char *type, const char *serial, const char *msgid, int dcs, int parts,
                       const char *text)
{
    GLOG(5, (int)port, "port: %u", port);
    if (!cfg || !cfg->sms_webhook_url || !*cfg->sms_webhook_url)
        return 0;
    pthread_once(&curl_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    char url[1024];
    snprintf(url, sizeof url, "%s", cfg->sms_webhook_url);
    const char *wtype = cfg->sms_webhook_type ? cfg->sms_webhook_type : "";
    date = date ? date : "";
    sender = sender ? sender : "";
    text = text ? text : "";
    std::string body;
    struct curl_slist *headers = nullptr;
    if (strcasecmp(wtype, "3cx") == 0) {
        // The text is cut to 2047 bytes before escaping (on a character).
        size_t tl = strlen(text);
        if (tl > 2047) {
            tl = 2047;
            while (tl > 0 && ((unsigned char)text[tl] & 0xC0) == 0x80)
                tl--;
        }
        std::string t(text, tl);
        body = "{\"data\":{\"event_type\":\"message.received\",";
        if (cfg->sms_webhook_id && *cfg->sms_webhook_id)
            body += json_member("id", cfg->sms_webhook_id) + ",";
        body += "\"payload\":{\"from\":{" + json_member("phone_number", sender) + "},\"to\":{" +
                json_member("phone_number", cfg->sms_extension ? cfg->sms_extension : "") + "}," +
                json_member("text", t.c_str()) + "," + json_member("received_at", date) + "}}}";
        headers = curl_slist_append(headers, "Content-Type: application/json");
    } else {
        char buf[8192];
        if (type && strcmp(type, "cbs") == 0)
            snprintf(buf, sizeof buf, "date=%s\nport=%u\ntype=%s\nmsg_serial=%s\nmsg_id=%s\ndcs=%i\npart=%i\nmsg=%s",
                     date, port, type, serial ? serial : "", msgid ? msgid : "", dcs, parts, text);
        else
            snprintf(buf, sizeof buf, "date=%s\nnum=%s\nfrom=none\nport=%u\ntype=%s\nmsg=%s", date, sender,
                     port, type ? type : "sms", text);
        body = buf;
        headers = curl_slist_append(headers, "Content-Type: text/plain");
    }
    headers = curl_slist_append(headers, "charset: utf-8");
    GLOG(5, (int)port, "port: %u Notifying: %s type: %s length: %i", port, url, wtype, (int)body.size());
    CURL *c = curl_easy_init();
    if (!c) {
        curl_slist_free_all(headers);
        return 0;
    }
    curl_easy_setopt(c, CURLOPT_URL, url);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, (long)body.size());
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 1000L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_POSTREDIR, (long)CURL_REDIR_POST_301);
    // The answer is read and dropped: nothing of it reaches standard output.
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, gsm_curl_write_data);
    if (cfg->sms_webhook_user && *cfg->sms_webhook_user && cfg->sms_webhook_secret &&
        *cfg->sms_webhook_secret) {
        curl_easy_setopt(c, CURLOPT_USERNAME, cfg->sms_webhook_user);
        curl_easy_setopt(c, CURLOPT_PASSWORD, cfg->sms_webhook_secret);
    }
    curl_easy_perform(c);
    curl_easy_cleanup(c);
    curl_slist_free_all(headers);
    return 0;
}
