#include "call_authorization.h"

#include <curl/curl.h>
#include <pthread.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "application.h"
#include "call_object.h"
#include "device_info.h"
#include "log.h"
#include "pools.h"

namespace {

enum { RESPONSE_SIZE = 1024, URL_SIZE = 1024, REDIRECT_SIZE = 64 };

// The answer of the request running now (requests run one at a time under
// global_lock). Each request starts with it empty; chunks are appended.
char curl_response_buffer[RESPONSE_SIZE];
size_t curl_response_length;
pthread_once_t curl_once = PTHREAD_ONCE_INIT;

size_t curl_write(char *data, size_t size, size_t nmemb, void *)
{
    size_t n = size * nmemb;
    size_t room = RESPONSE_SIZE - 1 - curl_response_length;
    size_t take = n < room ? n : room;
    memcpy(curl_response_buffer + curl_response_length, data, take);
    curl_response_length += take;
    curl_response_buffer[curl_response_length] = '\0';
    return n; // the rest beyond the buffer is dropped, not an error
}

// The gateway's id: the last 5 characters of the serial number.
void gateway_id(char *out, size_t size)
{
    const char *serial = gp && gp->hi ? gp->hi->hwi_serial_number : "";
    size_t len = strnlen(serial, sizeof gp->hi->hwi_serial_number);
    if (len < 5)
        snprintf(out, size, "00000");
    else
        snprintf(out, size, "%.5s", serial + len - 5);
}

// An escaped query value (empty when escaping fails).
void escaped(CURL *curl, const char *text, char *out, size_t size)
{
    char *e = curl_easy_escape(curl, text ? text : "", 0);
    snprintf(out, size, "%s", e ? e : "");
    curl_free(e);
}

} // namespace

bool call_authorization_redirect_usable(const char *redirect)
{
    if (!redirect || !redirect[0] || strcasecmp(redirect, "null") == 0)
        return false;
    for (const unsigned char *c = (const unsigned char *)redirect; *c; c++)
        if (*c < 0x20 || *c == 0x7f || *c == ' ' || *c == '<' || *c == '>' || *c == '"')
            return false;
    return true;
}

void parse_call_authorization_response(const char *buffer, int *action, char *redirect_url, size_t size)
{
    if (action)
        *action = 0;
    if (redirect_url && size)
        redirect_url[0] = '\0';
    if (!buffer)
        return;
    char text[RESPONSE_SIZE];
    size_t n = 0;
    for (const char *c = buffer; *c && n < sizeof text - 1; c++)
        if (*c != '{' && *c != '}' && *c != '"')
            text[n++] = *c;
    text[n] = '\0';
    char *save = nullptr;
    for (char *piece = strtok_r(text, ",", &save); piece; piece = strtok_r(nullptr, ",", &save)) {
        if (strncmp(piece, "action:", 7) == 0) {
            if (strcmp(piece + 7, "REJECT") == 0 && action)
                *action = 1;
        } else if (strncmp(piece, "redirectLocation:", 17) == 0) {
            const char *rest = piece + 17;
            if (strcmp(rest, "null") != 0 && redirect_url && size)
                snprintf(redirect_url, size, "%s", rest);
        }
    }
}

int call_query_authorization_server(call_object *co, const char *server, const char *credentials, int reserved,
                                    int port, int pid, const char *called, const char *calling)
{
    (void)reserved, (void)port;
    // 1.
    int result = co && co->cc.call_authorization_default_policy ? 0 : 1;
    // 2.
    pthread_once(&curl_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL *curl = curl_easy_init();
    if (!curl)
        return result;
    curl_response_length = 0;
    curl_response_buffer[0] = '\0';
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    if (credentials && credentials[0]) {
        curl_easy_setopt(curl, CURLOPT_USERPWD, credentials);
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, (long)CURLAUTH_BASIC);
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, curl_write);
    // 3.
    char gwid[8];
    gateway_id(gwid, sizeof gwid);
    // 4.
    char caller[512], callee[512];
    escaped(curl, calling, caller, sizeof caller);
    escaped(curl, called, callee, sizeof callee);
    char url[URL_SIZE];
    snprintf(url, sizeof url, "%s?id=%i&caller=%s&callee=%s&gatewayId=%s&direction=%s", server ? server : "", pid,
             caller, callee, gwid, co ? co->cc.call_authorization_direction : "");
    LOGD_CALL(TARN, 5, co, "Querying |%s|", url);
    curl_easy_setopt(curl, CURLOPT_URL, url);
    CURLcode rc = curl_easy_perform(curl);
    if (rc == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        // 5.
        if (status == 200) {
            int action = 0;
            char redirect[REDIRECT_SIZE];
            parse_call_authorization_response(curl_response_buffer, &action, redirect, sizeof redirect);
            if (action == 1) {
                result = 0;
            } else if (redirect[0] && strcasecmp(redirect, "null") != 0 && co) {
                if (call_authorization_redirect_usable(redirect)) {
                    snprintf(co->mangled.pstn_to_sip.to_user, sizeof co->mangled.pstn_to_sip.to_user, "%s",
                             redirect);
                } else {
                    LOGD_CALL(TARN, 1, co,
                              "ignoring the authorization server's redirect location: characters not allowed");
                }
            }
        }
    } else {
        // 6.
        fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(rc));
    }
    curl_easy_cleanup(curl);
    return result;
}
