// SRTP keys of a SIP leg.
#include "call_crypto.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base64.h"
#include "call_configuration.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "call_reset.h"
#include "log.h"
#include "pools.h"
#include "sm_defs.h"

namespace {

// The received key text is read up to this many characters; its decoding
// goes to a scratch buffer large enough for all of them, and only a result
// of exactly 30 bytes is kept.
enum { CRYPTO_INLINE_MAX = 127, CRYPTO_SCRATCH = 3 * ((CRYPTO_INLINE_MAX + 3) / 4) + 4 };

crypto_settings *new_record(call_leg_sip *cl)
{
    free_crypto_settings(cl->crypto);
    cl->crypto = (crypto_settings *)calloc(1, sizeof(crypto_settings));
    return cl->crypto;
}

const char *suite_format(int cs)
{
    switch (cs) {
    case CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_80:
        return "%i AES_CM_128_HMAC_SHA1_80 inline:%s";
    case CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_32:
        return "%i AES_CM_128_HMAC_SHA1_32 inline:%s";
    case CRYPTO_SUITE_F8_128_HMAC_SHA1_80:
        return "%i F8_128_HMAC_SHA1_80 inline:%s";
    default:
        return nullptr;
    }
}

// 0, or -1 when the kernel's generator gives no bytes.
int random_bytes(unsigned char *out, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = getrandom(out + got, n - got, 0);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        got += (size_t)r;
    }
    return 0;
}

void set_row(crypto_row &row, char *key, char *line)
{
    free(row.key);
    free(row.sdp_crypto);
    row.key = key;
    row.key_length = key ? CRYPTO_KEY_BYTES : 0;
    row.sdp_crypto = line;
}

} // namespace

char *call_crypto_generate_value(int cs, int index, char **key_out, char **line_out)
{
    *key_out = nullptr;
    const char *fmt = suite_format(cs);
    unsigned char raw[CRYPTO_KEY_BYTES];
    char b64[CRYPTO_KEY_BASE64 + 8];
    if (fmt && random_bytes(raw, sizeof raw) == 0) {
        plaintext_to_base64((const char *)raw, CRYPTO_KEY_BYTES, b64, sizeof b64);
        char *key = (char *)malloc(CRYPTO_KEY_BYTES);
        char *line = nullptr;
        if (key && asprintf(&line, fmt, index, b64) >= 0) {
            memcpy(key, raw, CRYPTO_KEY_BYTES);
            *key_out = key;
            *line_out = line;
            return line;
        }
        free(key);
    } else if (fmt) {
        LOGD(TARN, 0, "", "CRITICAL: no random bytes for an SRTP key (%s)", strerror(errno));
    }
    *line_out = strdup("");
    return *line_out;
}

int call_crypto_suite_of_line(const char *line)
{
    if (!line)
        return CRYPTO_SUITE_NONE;
    if (strstr(line, "AES_CM_128_HMAC_SHA1_80"))
        return CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_80;
    if (strstr(line, "AES_CM_128_HMAC_SHA1_32"))
        return CRYPTO_SUITE_AES_CM_128_HMAC_SHA1_32;
    if (strstr(line, "F8_128_HMAC_SHA1_80"))
        return CRYPTO_SUITE_F8_128_HMAC_SHA1_80;
    return CRYPTO_SUITE_NONE;
}

void call_crypto_parse_sdp(call_object *co)
{
    call_leg_sip *cl = co ? co->cl_sip : nullptr;
    if (!cl || !cl->crypto)
        return;
    if (co->callinfo == CI_SIP_TO_SIP && co->f.transparent_call)
        return; // the lines are relayed as they came
    crypto_settings *cs = cl->crypto;
    for (int i = 0; i < 3; i++) {
        crypto_row &row = cs->in[i];
        if (!row.sdp_crypto || row.key)
            continue;
        const char *at = strstr(row.sdp_crypto, "inline:");
        if (!at)
            continue;
        char text[CRYPTO_INLINE_MAX + 1];
        snprintf(text, sizeof text, "%s", at + 7);
        text[strcspn(text, "|")] = 0; // lifetime and key index are not used
        char scratch[CRYPTO_SCRATCH];
        int n = base64_to_plaintext(text, scratch, sizeof scratch);
        if (n != CRYPTO_KEY_BYTES) {
            LOGD_CALL(TARN, 0, co, "CRITICAL: error parsing crypto inline string");
            continue;
        }
        char *key = (char *)malloc(CRYPTO_KEY_BYTES);
        if (!key)
            continue;
        memcpy(key, scratch, CRYPTO_KEY_BYTES);
        row.key = key;
        row.key_length = CRYPTO_KEY_BYTES;
        cs->in_suite[i] = call_crypto_suite_of_line(row.sdp_crypto);
    }
}

void call_crypto_choose_suite(call_object *co)
{
    call_leg_sip *cl = co ? co->cl_sip : nullptr;
    if (!cl || !cl->crypto)
        return;
    crypto_settings *cs = cl->crypto;
    cs->suite_in_use = CRYPTO_SUITE_NONE;
    if (cs->offer_state == CRYPTO_OFFER_SENT) {
        // Our offer: only the far side's first line counts.
        cs->in_index = 0;
        int theirs = cs->in[0].key ? cs->in_suite[0] : CRYPTO_SUITE_NONE;
        for (int i = 0; theirs != CRYPTO_SUITE_NONE && i < 3; i++)
            if (cs->out[i].sdp_crypto && cs->out_suite[i] == theirs) {
                cs->suite_in_use = theirs;
                cs->out_index = i;
                return;
            }
        return;
    }
    for (int i = 0; i < 3; i++)
        if (cs->in[i].key && cs->in_suite[i] != CRYPTO_SUITE_NONE) {
            cs->in_index = i;
            cs->suite_in_use = cs->in_suite[i];
            return;
        }
}

void call_crypto_update(call_object *co, int crydir)
{
    call_leg_sip *cl = co ? co->cl_sip : nullptr;
    if (!cl)
        return;
    switch (crydir) {
    case CRYPTO_OFFER_SENT: {
        crypto_settings *cs = new_record(cl);
        if (!cs)
            return;
        uint32_t suites = (uint32_t)co->cc.srtp_crypto_suites;
        for (int i = 0; i < 3; i++) {
            int code = (int)((suites >> (8 * i)) & 0xFF);
            if (!code)
                break;
            char *key = nullptr, *line = nullptr;
            call_crypto_generate_value(code, i + 1, &key, &line);
            set_row(cs->out[i], key, line);
            cs->out_suite[i] = code;
        }
        cs->offer_state = CRYPTO_OFFER_SENT;
        break;
    }
    case CRYPTO_OFFER_RECEIVED: {
        crypto_settings *cs = new_record(cl);
        if (cs)
            cs->offer_state = CRYPTO_OFFER_RECEIVED;
        break;
    }
    case CRYPTO_ANSWER_SENT: {
        crypto_settings *cs = cl->crypto;
        if (!cs)
            return;
        call_crypto_parse_sdp(co);
        call_crypto_choose_suite(co);
        int slot = cs->in_index;
        if (slot < 0 || slot > 2 || !cs->in[slot].sdp_crypto || cs->out[slot].sdp_crypto ||
            cs->suite_in_use == CRYPTO_SUITE_NONE)
            return;
        int tag = atoi(cs->in[slot].sdp_crypto);
        char *key = nullptr, *line = nullptr;
        call_crypto_generate_value(cs->suite_in_use, tag, &key, &line);
        set_row(cs->out[slot], key, line);
        cs->out_suite[slot] = cs->suite_in_use;
        break;
    }
    case CRYPTO_ANSWER_RECEIVED:
        if (!cl->crypto)
            return;
        call_crypto_parse_sdp(co);
        call_crypto_choose_suite(co);
        break;
    default:
        free_crypto_settings(cl->crypto);
        cl->crypto = nullptr;
        break;
    }
}
