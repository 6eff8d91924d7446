#include "xdv_headers.h"

#include <curl/curl.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <strings.h>

#include "application.h"
#include "base64.h"
#include "call_object.h"
#include "device_info.h"
#include "experimental_options.h"
#include "isdn_lib.h"
#include "log.h"
#include "log_backend.h"
#include "misdn_invokeid.h"
#include "pools.h"
#include "strtools.h"
#include "suppserv.h"


char curl_response_buffer_fac[1024];

namespace {

isdn_callctl_hooks hooks{};

void not_built_once(std::atomic<bool> &said, const char *what)
{
    if (!said.exchange(true))
        LOGD(TARN, 0, nullptr, "CRITICAL: %s is not part of this build", what);
}

// ---- header lines ---------------------------------------------------------------

struct ie_line {
    const char *name;
    size_t offset; // of the text in bc_ie_facilities
    size_t size;
};
#define IE_LINE(header, field) \
    {header, offsetof(bc_ie_facilities, field), sizeof(((bc_ie_facilities *)nullptr)->field)}
// The fixed order of the lines; the date (between CONNECT_PN and DISPLAY)
// is written apart.
const ie_line ie_lines_before_date[] = {
    IE_LINE("X-DV_CALLING_PN", ie_calling_pn),
    IE_LINE("X-DV_CALLING_PN2", ie_calling_pn2),
    IE_LINE("X-DV_CALLED_PN", ie_called_pn),
    IE_LINE("X-DV_KEYPAD", ie_keypad),
    IE_LINE("X-DV_COMPLETE", ie_complete),
    IE_LINE("X-DV_REDIR_NR", ie_redir_nr),
    IE_LINE("X-DV_BEARER", ie_bearer),
    IE_LINE("X-DV_CHANNEL_ID", ie_channel_id),
    IE_LINE("X-DV_PROGRESS", ie_progress),
    IE_LINE("X-DV_USERUSER", ie_useruser),
    IE_LINE("X-DV_HLC", ie_hlc),
    IE_LINE("X-DV_LLC", ie_llc),
    IE_LINE("X-DV_FACILITY", ie_facility),
    IE_LINE("X-DV_CALLING_SUBADDRESS", ie_calling_subaddress),
    IE_LINE("X-DV_CALLED_SUBADDRESS", ie_called_subaddress),
    IE_LINE("X-DV_CAUSE", ie_cause),
    IE_LINE("X-DV_CONNECT_PN", ie_connect_pn),
};
const ie_line ie_line_display = IE_LINE("X-DV_DISPLAY", ie_display);
#undef IE_LINE

void append_line(char *isdnbuf, int bufsize, const char *name, const char *text, size_t textsize)
{
    size_t len = strnlen(text, textsize);
    if (len == 0)
        return;
    char line[512];
    snprintf(line, sizeof line, "%s: %.*s\r\n", name, (int)len, text);
    st_safe_strcat(isdnbuf, (size_t)bufsize, "%s", line);
}

// ---- reading headers back ---------------------------------------------------------

int read_number(const char *v, int base = 10)
{
    long n = strtol(v, nullptr, base);
    return n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : (int)n;
}

// A length item: 0 to the field's size.
int capped_length(const char *v, int size)
{
    int n = read_number(v);
    return n < 0 ? 0 : n > size ? size : n;
}

void copy_text(char *field, size_t size, const char *v)
{
    snprintf(field, size, "%s", v);
}

void decode_into(unsigned char *field, size_t size, const char *v)
{
    base64_to_plaintext(v, (char *)field, size);
}

// The "length" item and the base64 item of a byte field.
void raw_item(const char *k, const char *v, const char *data_key, int *len, unsigned char *field, int size)
{
    if (strcmp(k, "length") == 0)
        *len = capped_length(v, size);
    else if (strcmp(k, data_key) == 0)
        decode_into(field, (size_t)size, v);
}

// "a,b[,c]" into count bytes (missing values 0).
void read_bytes(const char *v, uint8_t *out, int count)
{
    const char *p = v;
    for (int i = 0; i < count; i++) {
        out[i] = p && *p ? (uint8_t)strtol(p, nullptr, 10) : 0;
        p = p ? strchr(p, ',') : nullptr;
        if (p)
            p++;
    }
}

void apply_numbering(const char *k, const char *v, int *pres, int *screen, void *ton, void *npi)
{
    // The number attributes are integers of the library's enum types.
    if (pres && strcmp(k, "present") == 0)
        *pres = read_number(v);
    else if (screen && strcmp(k, "screen") == 0)
        *screen = read_number(v);
    else if (strcmp(k, "type") == 0)
        *(int *)ton = read_number(v);
    else if (strcmp(k, "plan") == 0)
        *(int *)npi = read_number(v);
}

void encode_mlpp(misdn_bchannel *bc)
{
    uint8_t coded[FAC_IE_MAX];
    int n = encodeFac(coded, &bc->fac_out);
    if (n < 2) {
        LOGD(ISDN, 1, nullptr, "MLPP facility could not be coded");
        return;
    }
    int len = n - 2 > BC_FAC_LEN ? BC_FAC_LEN : n - 2;
    memcpy(bc->outfac[0], coded + 2, (size_t)len);
    bc->outfac_len[0] = len;
}

// ---- the facility notice ----------------------------------------------------------

char *escape(CURL *curl, const char *text)
{
    return curl_easy_escape(curl, text ? text : "", 0);
}

} // namespace

// ---- hooks -----------------------------------------------------------------------

void isdn_callctl_set_hooks(const isdn_callctl_hooks *h)
{
    if (!h) {
        hooks = isdn_callctl_hooks{};
        return;
    }
    if (h->tarn_misdn_lib_send_event)
        hooks.tarn_misdn_lib_send_event = h->tarn_misdn_lib_send_event;
}

void isdn_send_event(call_object *co, int isdn_event)
{
    static std::atomic<bool> said{false};
    if (!hooks.tarn_misdn_lib_send_event) {
        not_built_once(said, "tarn_misdn_lib_send_event");
        return;
    }
    hooks.tarn_misdn_lib_send_event(co, isdn_event);
}

// ---- header lines ---------------------------------------------------------------

void isdn_ie_to_sip_header_str(misdn_bchannel *bc, char *isdnbuf, int bufsize)
{
    if (!isdnbuf || bufsize <= 0)
        return;
    isdnbuf[0] = 0;
    if (!bc)
        return;
    const bc_ie_facilities *ie = &bc->ie_facilities;
    for (const ie_line &l : ie_lines_before_date)
        append_line(isdnbuf, bufsize, l.name, (const char *)ie + l.offset, l.size);
    if (ie->ie_date.tm_year > 0) {
        char date[64];
        struct tm t = ie->ie_date;
        if (strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &t) > 0)
            append_line(isdnbuf, bufsize, "X-DV_DATE", date, sizeof date);
    }
    append_line(isdnbuf, bufsize, ie_line_display.name, (const char *)ie + ie_line_display.offset,
                ie_line_display.size);
}

void apply_sipx_to_bc(misdn_bchannel *bc, const char *name, const char *value)
{
    if (!bc || !name || !value)
        return;
    enum kind_t {
        CALLING, CALLING2, CALLED, REDIR, KEYPAD, COMPLETE, SENDINGCOMPLETE, BEARER, CHANNEL_ID, USERUSER,
        HLC, LLC, FACILITY, CALLING_SUB, CALLED_SUB, PROGRESS, CONNECT_PN, CAUSE, DISPLAY, MLPP, NONE
    };
    static const struct {
        const char *name;
        kind_t kind;
    } names[] = {
        {"X-DV_CALLING_PN", CALLING},       {"X-DV_CALLING_PN2", CALLING2},
        {"X-DV_CALLED_PN", CALLED},         {"X-DV_REDIR_NR", REDIR},
        {"X-DV_KEYPAD", KEYPAD},            {"X-DV_COMPLETE", COMPLETE},
        {"X-DV_SENDINGCOMPLETE", SENDINGCOMPLETE}, {"X-DV_BEARER", BEARER},
        {"X-DV_CHANNEL_ID", CHANNEL_ID},    {"X-DV_USERUSER", USERUSER},
        {"X-DV_HLC", HLC},                  {"X-DV_LLC", LLC},
        {"X-DV_FACILITY", FACILITY},        {"X-DV_CALLING_SUBADDRESS", CALLING_SUB},
        {"X-DV_CALLED_SUBADDRESS", CALLED_SUB}, {"X-DV_PROGRESS", PROGRESS},
        {"X-DV_CONNECT_PN", CONNECT_PN},    {"X-DV_CAUSE", CAUSE},
        {"X-DV_DISPLAY", DISPLAY},          {"X-DV_FACILITY_MLPP", MLPP},
    };
    kind_t kind = NONE;
    for (const auto &n : names)
        if (strcmp(name, n.name) == 0)
            kind = n.kind;
    if (kind == NONE || kind == CHANNEL_ID)
        return;

    std::string copy(value);
    int slot = -1;
    if (kind == FACILITY) {
        for (int i = 0; i < BC_OUTFAC_COUNT && slot < 0; i++)
            if (bc->outfac_len[i] == 0)
                slot = i;
        if (slot < 0)
            LOGD(ISDN, 2, nullptr, "all facility slots used, ignoring %s", name);
    }
    bool raw_bearer = kind == BEARER && copy.find("bearer=") != std::string::npos;
    bool mlpp_started = false;

    char *save = nullptr;
    for (char *item = strtok_r(&copy[0], ";", &save); item; item = strtok_r(nullptr, ";", &save)) {
        char *eq = strchr(item, '=');
        if (!eq)
            continue;
        *eq = 0;
        const char *k = item, *v = eq + 1;
        switch (kind) {
        case CALLING: apply_numbering(k, v, &bc->pres, &bc->screen, &bc->oton, &bc->onpi); break;
        case CALLING2: apply_numbering(k, v, &bc->o2pres, &bc->o2screen, &bc->o2ton, &bc->o2npi); break;
        case CALLED: apply_numbering(k, v, nullptr, nullptr, &bc->dton, &bc->dnpi); break;
        case REDIR: apply_numbering(k, v, &bc->rpres, &bc->rscreen, &bc->rton, &bc->rnpi); break;
        case KEYPAD:
            if (strcmp(k, "keypad") == 0)
                copy_text(bc->keypad, sizeof bc->keypad, v);
            break;
        case COMPLETE:
            if (strcmp(k, "complete") == 0)
                bc->sending_complete = read_number(v);
            break;
        case SENDINGCOMPLETE:
            if (strcmp(k, "complete") == 0)
                bc->sending_complete = 1;
            break;
        case BEARER:
            if (raw_bearer) {
                raw_item(k, v, "bearer", &bc->out_bearer_buf_len, bc->out_bearer_buf, BC_BEARER_LEN);
            } else if (strcmp(k, "capability") == 0) {
                bc->capability = read_number(v);
            } else if (strcmp(k, "user") == 0) {
                bc->user1 = read_number(v);
            } else if (strcmp(k, "urate") == 0) {
                bc->urate = read_number(v);
            } else if (strcmp(k, "rate") == 0) {
                bc->rate = read_number(v);
            } else if (strcmp(k, "mode") == 0) {
                bc->mode = read_number(v);
            }
            break;
        case USERUSER:
            if (strcmp(k, "protocol") == 0)
                bc->uu_protocol = (unsigned char)read_number(v, 0);
            else
                raw_item(k, v, "useruser", &bc->uulen, bc->uu, BC_UU_LEN);
            break;
        case HLC:
            raw_item(k, v, "hlc", &bc->hlclen, bc->hlc, BC_LLC_HLC_LEN);
            break;
        case LLC:
            raw_item(k, v, "llc", &bc->llclen, bc->llc, BC_LLC_HLC_LEN);
            break;
        case FACILITY:
            if (slot >= 0)
                raw_item(k, v, "facility", &bc->outfac_len[slot], bc->outfac[slot], BC_FAC_LEN);
            break;
        case CALLING_SUB:
            raw_item(k, v, "calling_subaddress", &bc->calling_subaddress_len, bc->calling_subaddress,
                     BC_SUBADDRESS_LEN);
            break;
        case CALLED_SUB:
            raw_item(k, v, "called_subaddress", &bc->called_subaddress_len, bc->called_subaddress,
                     BC_SUBADDRESS_LEN);
            break;
        case PROGRESS:
            if (strcmp(k, "coding") == 0)
                bc->progress_coding = read_number(v);
            else if (strcmp(k, "location") == 0)
                bc->progress_location = read_number(v);
            else if (strcmp(k, "indicator") == 0)
                bc->progress_indicator = read_number(v);
            break;
        case CONNECT_PN:
            if (strcmp(k, "type") == 0)
                bc->cton = (mISDN_NUMBER_TYPE)read_number(v);
            else if (strcmp(k, "cad") == 0)
                copy_text(bc->cad, sizeof bc->cad, v);
            break;
        case CAUSE:
            if (strcmp(k, "cause") == 0) {
                int cause = read_number(v);
                if (cause >= 0 && cause <= 127)
                    bc->out_cause = cause;
                else
                    LOGD(ISDN, 2, nullptr, "ignoring cause %s out of range", v);
            }
            break;
        case DISPLAY:
            if (strcmp(k, "display") == 0)
                copy_text(bc->display, sizeof bc->display, v);
            break;
        case MLPP: {
            if (!mlpp_started) {
                mlpp_started = true;
                memset(&bc->fac_out, 0, sizeof bc->fac_out);
                bc->fac_out.Function = Fac_MLPP;
                bc->fac_out.u.MLPP.invokeId = misdn_get_invokeid();
            }
            FacMLPPParm &m = bc->fac_out.u.MLPP;
            if (strcmp(k, "precLevel") == 0) {
                int n = read_number(v);
                m.precLevel = n < 0 || n > 4 ? 0 : n;
            } else if (strcmp(k, "lfbIndication") == 0) {
                int n = read_number(v);
                m.lfbIndication = n < 0 || n > 2 ? 0 : n;
            } else if (strcmp(k, "internationalId") == 0) {
                read_bytes(v, m.internationalID, 2);
            } else if (strcmp(k, "mlppDomainId") == 0) {
                read_bytes(v, m.mlppServiceDomain, 3);
            }
            break;
        }
        default: break;
        }
    }
    if (mlpp_started)
        encode_mlpp(bc);
}

// ---- user-user data -------------------------------------------------------------

int apply_sip_user_user_to_bc(call_object *co, const char *value)
{
    if (!co || !value)
        return 0;
    std::string copy(value);
    std::string data, purpose, encoding;
    bool first = true, have_data = false, have_purpose = false, have_encoding = false;
    char *save = nullptr;
    for (char *item = strtok_r(&copy[0], ";", &save); item; item = strtok_r(nullptr, ";", &save)) {
        while (*item == ' ' || *item == '\t')
            item++;
        size_t len = strlen(item);
        while (len && (item[len - 1] == ' ' || item[len - 1] == '\t'))
            item[--len] = 0;
        if (first) {
            data = item;
            have_data = true;
            first = false;
        } else if (strncmp(item, "purpose=", 8) == 0) {
            purpose = item;
            have_purpose = true;
        } else if (strncmp(item, "encoding=", 9) == 0) {
            encoding = item;
            have_encoding = true;
        }
    }
    if (!have_data || !have_purpose || !have_encoding) {
        LOGD_CALL(ISDN, 5, co, "not setting USER-USER");
        return 0;
    }
    LOGD_CALL(ISDN, 5, co, "setting USER-USER");
    misdn_bchannel *bc = co->bc;
    if (!bc || purpose != "purpose=isdn-uui" || encoding != "encoding=hex")
        return 0;
    auto hexval = [](char c) { return isdigit((unsigned char)c) ? c - '0' : tolower((unsigned char)c) - 'a' + 10; };
    auto ishex = [](char c) { return isxdigit((unsigned char)c) != 0; };
    if (data.size() < 2 || !ishex(data[0]) || !ishex(data[1])) {
        LOGD_CALL(ISDN, 2, co, "USER-USER data is not hexadecimal");
        return 0;
    }
    bc->uu_protocol = (unsigned char)(hexval(data[0]) << 4 | hexval(data[1]));
    int n = 0;
    for (size_t i = 2; i + 1 < data.size() && n < BC_UU_LEN; i += 2) {
        if (!ishex(data[i]) || !ishex(data[i + 1]))
            break;
        bc->uu[n++] = (unsigned char)(hexval(data[i]) << 4 | hexval(data[i + 1]));
    }
    bc->uulen = n;
    return 0;
}

int parse_pae_uu(misdn_bchannel *bc, char *command1, int command1_len, char *command2, int command2_len)
{
    if (command1 && command1_len > 0)
        command1[0] = 0;
    if (command2 && command2_len > 0)
        command2[0] = 0;
    if (!bc)
        return 0;
    int len = bc->uulen < 0 ? 0 : bc->uulen > BC_UU_LEN ? BC_UU_LEN : bc->uulen;
    const unsigned char *uu = bc->uu;
    int found = 0;
    for (int i = 0; i + 5 <= len;) {
        if (uu[i] == 0x82 && uu[i + 1] == 0x10 && (uu[i + 2] == 0x09 || uu[i + 2] == 0x0A) && uu[i + 3] == 0x01) {
            const char *prefix = uu[i + 2] == 0x09 ? "X-DV_PAE_ACT: " : "X-DV_PAE_NVR: ";
            if (found == 0 && command1 && command1_len > 0)
                snprintf(command1, (size_t)command1_len, "%s0x%02x", prefix, uu[i + 4]);
            else if (found == 1 && command2 && command2_len > 0)
                snprintf(command2, (size_t)command2_len, "%s0x%02x", prefix, uu[i + 4]);
            found++;
            i += 5;
        } else {
            i++;
        }
    }
    return 0;
}

int parse_isdn_userusername(misdn_bchannel *bc)
{
    if (!bc)
        return -1;
    int len = bc->uulen;
    if (len <= 4 || len > BC_UU_LEN)
        return -1;
    const unsigned char *uu = bc->uu;
    if (uu[2] != 0x81 || uu[3] != 0x3A || (len != uu[1] + 3 && len != uu[1] + 2))
        return -1;
    int n = len - 4;
    if (n > (int)sizeof bc->userusername - 1)
        n = (int)sizeof bc->userusername - 1;
    memcpy(bc->userusername, uu + 4, (size_t)n);
    bc->userusername[n] = 0;
    return 0;
}

// ---- eCall -------------------------------------------------------------------------

const char *print_ecall_standort(int standort)
{
    switch (standort) {
    case 0: return "ECALL_STANDORT_0_0_0_0_STANDORT_DES_NETZABSCHLUSSPUNKTES_IM_FESTNETZ";
    case 1: return "ECALL_STANDORT_0_0_0_1_STANDORT_DES_ENDGERAETES_IM_MOBILFUNKNETZ";
    case 2: return "ECALL_STANDORT_0_0_1_0_STANDORT_DES_MOBILFUNKSENDERS";
    case 3: return "ECALL_STANDORT_0_0_1_1_SCHWERPUNKT_DES_GEBIETES_DER_FUNKZELLE";
    case 4: return "ECALL_STANDORT_0_1_0_0_BEZEICHNUNG_DER_FUNKZELLE";
    case 5: return "ECALL_STANDORT_0_1_0_1_FUNKZELLE_UEBERGANGSVORSCHRIFT";
    case 15: return "ECALL_STANDORT_1_1_1_1_FEHLER_KEINE_STANDORTANGABE";
    default: return "ECALL_STANDORT_UNDEFINED";
    }
}

const char *print_ecall_geografische_beschreibung(int geografische_beschreibung)
{
    switch (geografische_beschreibung) {
    case 0: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG_0_0_0_GEOGRAFISCHE_KOORDINATE";
    case 1: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG_0_0_1_GEOGRAFISCHE_KOORDINATE_MIT_UNSICHERHEITSELLIPSE";
    case 2: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG_0_1_0_GEBIET_MITTELS_POLYGON";
    case 3: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG_0_1_1_AMTLICHE_ANSCHRIFT";
    case 4: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG_1_0_0_BESCHREIBUNG_DER_FUNKZELLE";
    case 5: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG_1_0_1_KREISRINGSEGMENT";
    case 6: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG_1_1_0_REFERENZKOORDINATE";
    case 7: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG_1_1_1_VERSORGUNGSGEBIET_UND_BEZEICHNUNG_DER_FUNKZELLE";
    default: return "ECALL_GEOGRAFISCHE_BESCHREIBUNG";
    }
}

int format_byte(unsigned char byte, char *buf, int bufsize)
{
    if (!buf)
        return -1;
    if (bufsize < 9) {
        if (bufsize > 0)
            buf[0] = 0;
        return -1;
    }
    for (int i = 0; i < 8; i++)
        buf[i] = (byte & (0x80 >> i)) ? '1' : '0';
    buf[8] = 0;
    return 0;
}

int parse_user_information_ecall(call_object *co, misdn_bchannel *bc, ecall_parsed *ecp)
{
    if (!co || !bc || !ecp)
        return -1;
    bool debug = gp && gp->experimental_options && gp->experimental_options->eo_trdebug;
    int len = bc->uulen < 0 ? 0 : bc->uulen > BC_UU_LEN ? BC_UU_LEN : bc->uulen;
    const unsigned char *uu = bc->uu;
    if (debug) {
        for (int i = 0; i < len; i++) {
            char bits[9];
            format_byte(uu[i], bits, sizeof bits);
            printf("%02i: got byte %3i = 0x%02x (%c)= %s,\n", i, uu[i], uu[i], isprint(uu[i]) ? uu[i] : '.', bits);
        }
    }
    memset(ecp, 0, sizeof *ecp);
    if (len < 2)
        return -1;
    ecp->anbieter_kennung[0] = uu[0];
    ecp->anbieter_kennung[1] = uu[1];
    if (len < 3 || len > 31)
        return -1;
    ecp->standort_angabe = uu[2] & 0x0f;
    ecp->geografische_beschreibung = (uu[2] >> 4) & 0x07;
    ecp->ecall = (uu[2] >> 7) & 0x01;
    if (debug) {
        char l1[64], l2[160], l3[160], l4[64];
        snprintf(l1, sizeof l1, "uui                      : %x%x%x%x\n", uu[0] & 0x0f, uu[0] >> 4, uu[1] & 0x0f,
                 uu[1] >> 4);
        snprintf(l2, sizeof l2, "standortangabe           : 0x%02x |%s|\n", ecp->standort_angabe,
                 print_ecall_standort(ecp->standort_angabe));
        snprintf(l3, sizeof l3, "geografische beschreibung: 0x%02x |%s|\n", ecp->geografische_beschreibung,
                 print_ecall_geografische_beschreibung(ecp->geografische_beschreibung));
        snprintf(l4, sizeof l4, "ecall                    : 0x%02x\n", ecp->ecall);
        for (const char *l : {l1, l2, l3, l4}) {
            fputs(l, stdout);
            LOGD_CALL(TARN, 0, co, "%s", l);
        }
    }
    co->ecall_simple = ecp->ecall;
    int s = ecp->standort_angabe;
    if (!((s >= 0 && s <= 5) || s == 15)) {
        if (debug) {
            puts("undefined ecall standort");
            LOGD_CALL(TARN, 0, co, "undefined ecall standort");
        }
        return -1;
    }
    int needs_equal = 0, needs_greater = 0;
    switch (ecp->geografische_beschreibung) {
    case 0: case 6: needs_equal = 9; break;
    case 1: needs_equal = 13; break;
    case 2: needs_equal = 28; break;
    case 4: case 7: needs_equal = 23; break;
    case 5: needs_equal = 15; break;
    case 3: needs_greater = 9; break;
    }
    if (debug && ecp->geografische_beschreibung == 3 && len > 8) {
        std::string street;
        for (int i = 9; i < len; i++)
            street += (char)uu[i];
        printf("ADDRESS: %x%x%x%x%x %s ", uu[3] & 0x0f, uu[3] >> 4, uu[4] & 0x0f, uu[4] >> 4, uu[5] & 0x0f,
               street.c_str());
        std::string house;
        for (int nib : {uu[6] & 0x0f, uu[6] >> 4, uu[7] & 0x0f, uu[7] >> 4})
            if (nib != 0x0f)
                house += (char)('0' + (nib % 10));
        if (uu[8] != 0xff)
            house += (char)uu[8];
        printf(" %s ", house.c_str());
    }
    if (debug)
        printf("uulen %i needs_to_be_equal %i needs_to_be_greater %i\n", len, needs_equal, needs_greater);
    bool ok = needs_equal ? len == needs_equal : len > needs_greater;
    if (ok) {
        co->ecall_parsed = ecp->ecall;
        if (debug)
            printf("successfully parsed ecall user information: ecall=%i\n", ecp->ecall);
        return 0;
    }
    if (debug)
        printf("failed parsing ecall user information: ecall=%i\n", ecp->ecall);
    return -1;
}

// ---- MCID --------------------------------------------------------------------------

void _send_mcid(call_object *co)
{
    if (!co)
        return;
    if (!co->bc) {
        LOGD_CALL(TARN, 2, co, "Not sending facility, no bc");
        return;
    }
    LOGD_CALL(TARN, 5, co, "Sending facility");
    memset(&co->bc->fac_out, 0, sizeof co->bc->fac_out);
    co->bc->fac_out.Function = Fac_MCID;
    co->bc->fac_out.u.MCID.invokeId = misdn_get_invokeid();
    isdn_send_event(co, EVENT_FACILITY);
}

// ---- facility notice ----------------------------------------------------------------

size_t curl_write_fac(void *ptr, size_t size, size_t nmemb, void *stream)
{
    (void)stream;
    size_t total = size * nmemb;
    if (nmemb && total / nmemb != size)
        total = SIZE_MAX;
    size_t n = total < sizeof curl_response_buffer_fac - 1 ? total : sizeof curl_response_buffer_fac - 1;
    if (ptr)
        memcpy(curl_response_buffer_fac, ptr, n);
    curl_response_buffer_fac[n] = 0;
    return total;
}

int isdn_authserver_notify_facility(call_object *co, const char *authorization_server,
                                    const char *authorization_credentials, const char *technology, int port,
                                    int pid, const char *called_party_number, const char *calling_party_number,
                                    const char *base64_encoded_facility, const char *fac_decoded)
{
    (void)technology, (void)port, (void)called_party_number, (void)calling_party_number;
    int result = co && co->cc.call_authorization_default_policy ? 0 : 1;
    CURL *curl = curl_easy_init();
    if (!curl)
        return result;
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    if (authorization_credentials && authorization_credentials[0]) {
        curl_easy_setopt(curl, CURLOPT_USERPWD, authorization_credentials);
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, (long)CURLAUTH_BASIC);
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, curl_write_fac);

    char gateway_id[8] = "00000";
    const char *serial = gp && gp->hi ? gp->hi->hwi_serial_number : "";
    size_t serial_len = strnlen(serial, sizeof gp->hi->hwi_serial_number);
    if (serial_len >= 5)
        snprintf(gateway_id, sizeof gateway_id, "%.5s", serial + serial_len - 5);

    char *fac = escape(curl, base64_encoded_facility);
    char *decoded = fac_decoded && fac_decoded[0] ? escape(curl, fac_decoded) : nullptr;
    char url[1024];
    if (decoded)
        snprintf(url, sizeof url, "%s?id=%i&gatewayId=%s&facility=%s&facility_decoded=%s",
                 authorization_server ? authorization_server : "", pid, gateway_id, fac ? fac : "", decoded);
    else
        snprintf(url, sizeof url, "%s?id=%i&gatewayId=%s&facility=%s", authorization_server ? authorization_server : "",
                 pid, gateway_id, fac ? fac : "");
    curl_free(fac);
    curl_free(decoded);
    curl_easy_setopt(curl, CURLOPT_URL, url);
    LOGD_CALL(TARN, 5, co, "Querying |%s|", url);
    CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(rc));
    } else {
        long code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    }
    curl_easy_cleanup(curl);
    return result;
}

// ---- sending ---------------------------------------------------------------------------

void isdn_send_facility_now(misdn_bchannel *bc)
{
    if (!bc || !bc->outfac_len[0])
        return;
    int ptp = misdn_lib_is_ptp(bc->port);
    if (ptp > 0 || (ptp == 0 && !misdn_port_is_nt(bc->port)))
        misdn_lib_send_event(bc, EVENT_FACILITY);
}
