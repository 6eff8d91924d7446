// Number rewriting of the dial plan (templates over a pattern's match, the
// international prefix), the number settings' tables, the request's headers
// and the routing's random numbers.
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <sofia-sip/msg_header.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

#include "call_configuration.h"
#include "call_leg_sip.h"
#include "dialplan_search.h"
#include "proxy_def.h"

// ---- tables -----------------------------------------------------------------------------------

using A = sip_address_info_object;

const dp_sip_number_row from_sip_src_setting[13] = {
    {CONFIG_PSTNSRC_FROM_USER, "from_user", &A::from_url_user},
    {CONFIG_PSTNSRC_FROM_DISPLAY, "from_display", &A::from_display},
    {CONFIG_PSTNSRC_PAI_ALL, "pai_all", &A::p_asserted_identity},
    {CONFIG_PSTNSRC_PAI_DISPLAY, "pai_display", &A::p_asserted_identity_display},
    {CONFIG_PSTNSRC_PAI_USER, "pai_user", &A::p_asserted_identity_user},
    {CONFIG_PSTNSRC_PPI_ALL, "ppi_all", &A::p_preferred_identity},
    {CONFIG_PSTNSRC_PPI_DISPLAY, "ppi_display", &A::p_preferred_identity_display},
    {CONFIG_PSTNSRC_PPI_USER, "ppi_user", &A::p_preferred_identity_user},
    {CONFIG_PSTNSRC_RPI_ALL, "rpi_all", &A::p_remote_party_id},
    {CONFIG_PSTNSRC_RPI_DISPLAY, "rpi_display", &A::p_remote_party_id_display},
    {CONFIG_PSTNSRC_RPI_USER, "rpi_user", &A::p_remote_party_id_user},
    {CONFIG_PSTNSRC_AUTO, "auto", nullptr},
    {CONFIG_PSTNSRC_MANUAL, "manual", nullptr},
};

const dp_sip_number_row from_sip_dest_setting[14] = {
    {CONFIG_PSTNDEST_AUTO, "auto", nullptr},
    {CONFIG_PSTNDEST_TO_USER, "to_user", &A::to_url_user},
    {CONFIG_PSTNDEST_TO_DISPLAY, "to_display", &A::to_display},
    {CONFIG_PSTNDEST_PCPI_ALL, "pcpi_all", &A::p_called_party_id},
    {CONFIG_PSTNDEST_PCPI_USER, "pcpi_user", &A::p_called_party_id_user},
    {CONFIG_PSTNDEST_PCPI_DISPLAY, "pcpi_display", &A::p_called_party_id_display},
    {CONFIG_PSTNDEST_PAI_ALL, "pai_all", &A::p_asserted_identity},
    {CONFIG_PSTNDEST_PAI_USER, "pai_user", &A::p_asserted_identity_user},
    {CONFIG_PSTNDEST_PAI_DISPLAY, "pai_display", &A::p_asserted_identity_display},
    {CONFIG_PSTNDEST_PPI_ALL, "ppi_all", &A::p_preferred_identity},
    {CONFIG_PSTNDEST_PPI_USER, "ppi_user", &A::p_preferred_identity_user},
    {CONFIG_PSTNDEST_PPI_DISPLAY, "ppi_display", &A::p_preferred_identity_display},
    {CONFIG_PSTNDEST_REQUEST_URL_USER, "request_url_user", &A::request_url_user},
    {CONFIG_PSTNDEST_MANUAL, "manual", nullptr},
};

const dp_pstn_number_row from_pstn_src_setting[8] = {
    {CONFIG_SIPSRC_OAD, "oad"},
    {CONFIG_SIPSRC_OAD2, "oad2"},
    {CONFIG_SIPSRC_QSIGNAME, "qsigname"},
    {CONFIG_SIPSRC_REDIRECTED_NR, "redirected_nr"},
    {CONFIG_SIPSRC_CNIP, "cnip"},
    {CONFIG_SIPSRC_AUTO, "auto"},
    {CONFIG_SIPSRC_ACTDIVQ1, "actdivq1"},
    {CONFIG_SIPSRC_ACTDIVQ2, "actdivq2"},
};

// ---- templates --------------------------------------------------------------------------------

namespace {

// Appends up to the room left (cap characters in all).
struct bounded {
    char *out;
    size_t cap;
    size_t n = 0;
    void put(const char *s, size_t len)
    {
        size_t k = len < cap - n ? len : cap - n;
        memcpy(out + n, s, k);
        n += k;
        out[n] = '\0';
    }
};

size_t rewrite_cap(size_t size)
{
    return (size < (size_t)DP_REWRITE_SIZE ? size : (size_t)DP_REWRITE_SIZE) - 1;
}

} // namespace

int dialplan_regmod(const regex_t *re, const char *text, const char *tmpl, char *out, size_t size)
{
    if (!out || size == 0)
        return -1;
    out[0] = '\0';
    if (!re || !text || !tmpl)
        return -1;
    regmatch_t m[10];
    if (regexec(re, text, 10, m, 0) != 0)
        return -1;
    bounded b{out, rewrite_cap(size)};
    for (const char *p = tmpl; *p; p++) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '9') {
            const regmatch_t &g = m[p[1] - '0'];
            if (g.rm_so >= 0 && g.rm_eo >= g.rm_so)
                b.put(text + g.rm_so, (size_t)(g.rm_eo - g.rm_so));
            p++;
        } else {
            b.put(p, 1);
        }
    }
    return 0;
}

int dialplan_regmod_negated(const char *text, const char *tmpl, char *out, size_t size)
{
    if (!out || size == 0)
        return -1;
    out[0] = '\0';
    if (!text || !tmpl)
        return -1;
    bounded b{out, rewrite_cap(size)};
    for (const char *p = tmpl; *p; p++) {
        if (p[0] == '\\' && p[1] == '1') {
            b.put(text, strlen(text));
            p++;
        } else {
            b.put(p, 1);
        }
    }
    return 0;
}

void dialplan_international_prefix(const char *number, int setting, const char *prefix, char *out, size_t size)
{
    if (!out || size == 0)
        return;
    size_t room = size < (size_t)DP_PREFIXED_SIZE ? size : (size_t)DP_PREFIXED_SIZE;
    if (!number)
        number = "";
    if (!prefix)
        prefix = "";
    if (setting == CONFIG_S2D_PREFIX_REPLACE_PLUS && number[0] == '+')
        snprintf(out, room, "%s%s", prefix, number + 1);
    else if (setting == CONFIG_S2D_PREFIX_PREPEND && number[0] == '+')
        snprintf(out, room, "%s%s", prefix, number + 1);
    else if (setting == CONFIG_S2D_PREFIX_PREPEND && prefix[0] && number[0] != prefix[0])
        snprintf(out, room, "%s%s", prefix, number);
    else
        snprintf(out, room, "%s", number);
}

// ---- the request's headers --------------------------------------------------------------------

int dialplan_for_each_request_header(const call_leg_sip *leg, int (*visit)(const char *line, void *ctx),
                                     void *ctx)
{
    const sip_t *sip = leg ? leg->tmpsip : nullptr;
    if (!sip || !visit)
        return 0;
    const msg_header_t *h = sip->sip_request ? (const msg_header_t *)sip->sip_request
                                             : (const msg_header_t *)sip->sip_status;
    char value[1024];
    char line[2048];
    for (int guard = 0; h && guard < 4096; h = h->sh_succ, guard++) {
        const msg_hclass_t *c = h->sh_class;
        if (!c || c == sip_request_class || c == sip_status_class || c == sip_separator_class ||
            c == sip_payload_class || c == sip_error_class)
            continue;
        const char *name = c == sip_unknown_class ? h->sh_unknown->un_name : c->hc_name;
        if (!name)
            continue;
        if (c == sip_unknown_class) {
            snprintf(value, sizeof value, "%s", h->sh_unknown->un_value ? h->sh_unknown->un_value : "");
        } else {
            issize_t n = msg_header_field_e(value, sizeof value, h, 0);
            if (n < 0)
                continue;
            value[(size_t)n < sizeof value ? (size_t)n : sizeof value - 1] = '\0';
        }
        snprintf(line, sizeof line, "%s: %s", name, value);
        int rc = visit(line, ctx);
        if (rc)
            return rc;
    }
    return 0;
}

// ---- random numbers ---------------------------------------------------------------------------

namespace {

pthread_mutex_t random_lock = PTHREAD_MUTEX_INITIALIZER;
int (*random_source)() = nullptr;

int own_random()
{
    static std::mt19937 *generator;
    pthread_mutex_lock(&random_lock);
    if (!generator) {
        std::random_device rd;
        generator = new std::mt19937(rd());
    }
    int v = (int)((*generator)() & 0x7fffffff);
    pthread_mutex_unlock(&random_lock);
    return v;
}

} // namespace

int dialplan_random()
{
    int (*source)() = __atomic_load_n(&random_source, __ATOMIC_ACQUIRE);
    return source ? source() : own_random();
}

void dialplan_set_random_source(int (*source)())
{
    __atomic_store_n(&random_source, source, __ATOMIC_RELEASE);
}
