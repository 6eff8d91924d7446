#include "csm_parse.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "csm_codes.h"
#include "csm_layout.h"
#include "csm_log.h"
#include "csm_message.h"
#include "csm_stats.h"
#include "log.h"

namespace {

// What one kind of reply is called in its log lines.
struct reply_kind {
    const char *unknown_line; // format of the CRITICAL line for an unknown code
    const char *(*intro)();
    const csm_reply_layout *(*find)(int function_code);
};

const reply_kind command_response_kind = {
    "CRITICAL: unknown message fc %x (%s) cc %x ct %x idx %x", get_intro_command_response,
    csm_find_command_response_layout};
const reply_kind query_response_kind = {
    "CRITICAL: unhandled query response fc %x (%s) cc %x ct %x idx %x", get_intro_query_response,
    csm_find_query_response_layout};
const reply_kind indication_kind = {
    "CRITICAL: unhandled indication fc %x (%s) cc %x ct %x idx %x", get_intro_indication,
    csm_find_indication_layout};
const reply_kind diag_response_kind = {
    "CRITICAL: unknown diagnostic response fc %x (%s) cc %x ct %x idx %x",
    get_intro_command_response, csm_find_diag_response_layout};

void log_cannot_handle(const csm_header *h)
{
    LOGD(MSP, 0, "", "CRITICAL: cannot handle command, exiting -> fc %x (%s) cc %x ct %x idx %x",
         h->function_code, get_function_code_extended(h->function_code), h->command_class,
         h->command_type, h->index);
}

void log_unknown(const char *format, const csm_header *h)
{
    // The formats are the constant texts of the reply kinds above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    LOGD(MSP, 1, "", format, h->function_code, get_function_code_extended(h->function_code),
         h->command_class, h->command_type, h->index);
#pragma GCC diagnostic pop
}

// The field-by-field line of a received reply.
void log_reply(const reply_kind &kind, const csm_reply_layout *l, const void *record,
               const csm_header *h)
{
    char fields[2048] = "";
    if (l->log_text)
        l->log_text(fields, sizeof fields, record);
    else if (l->rows)
        csm_format_rows(fields, sizeof fields, l->rows, l->nrows, record, l->log_order);
    LOGM(MSP, 18, "%s:%s%s: %s", msp_lookup_cid(h->msp_timeslot), kind.intro(),
         get_function_code_extended(h->function_code), fields);
}

bool has_zero_response_code(const csm_reply_layout *l, const void *record)
{
    for (size_t i = 0; i < l->nrows; i++)
        if (strcmp(l->rows[i].name, "response_code") == 0)
            return l->rows[i].get(record) == 0;
    return false;
}

void log_rejected_command(const csmdev_svr_error_handling *e)
{
    LOGD(MSP, 1, "",
         "CRITICAL: MSP rejected command: error_code %i (%#04x, %s) for original cmd_class %i "
         "(%#02x) cmd_type %i (%#02x) function_code %i (%#04x) channel_id %i index %i",
         (int)e->error_code, (unsigned)e->error_code, get_result_code(e->error_code),
         (int)e->original_cmd_class, (unsigned)e->original_cmd_class, (int)e->original_cmd_type,
         (unsigned)e->original_cmd_type, (int)e->original_function_code,
         (unsigned)e->original_function_code, (int)e->original_channel_id, (int)e->original_index);
}

// One reply of a known kind: look the code up, check the frame against the
// layout, fill the record.
magic_csm parse_reply(const reply_kind &kind, csm_header *h, const uint8_t *frame, int *success)
{
    magic_csm m = csm_null_msg();
    const csm_reply_layout *l = kind.find(h->function_code);
    if (!l) {
        log_unknown(kind.unknown_line, h);
        msp_buffer_cleanup_failed(h, frame, h->msg_length);
        return m;
    }
    int need = csm_reply_min_length(l);
    if (h->msg_length < need) {
        LOGD(MSP, 1, "",
             "CRITICAL: short CSM reply fc %x (%s) cc %x ct %x idx %x: msg_length %i, needs %i",
             h->function_code, get_function_code_extended(h->function_code), h->command_class,
             h->command_type, h->index, h->msg_length, need);
        MSP_SHOW_MSG(nullptr, frame, h->msg_length);
        free(h);
        return m;
    }
    void *record = calloc(1, l->record_size);
    if (!record) {
        free(h);
        return m;
    }
    *static_cast<csm_header **>(record) = h;
    if (l->rows)
        csm_read_rows(l->rows, l->nrows, record, frame, h->msg_length);
    if (l->tail)
        l->tail(record, frame, h->msg_length);
    if (has_zero_response_code(l, record) && success)
        *success = 1;
    if (verbose_msp_logging)
        log_reply(kind, l, record, h);
    m.u_raw = record;
    return m;
}

} // namespace

namespace {

typedef magic_csm (*reply_parser)(csm_header *, const uint8_t *, int *, int);

constexpr int ANY_CLASS = -1;
constexpr int DEVICE_OR_CHANNEL = -2;

// Which parser takes a frame, by command type and class, tried in order.
struct route {
    uint8_t command_type;
    int command_class;
    reply_parser parser;
};

bool class_matches(int rule, int command_class)
{
    if (rule == ANY_CLASS)
        return true;
    if (rule == DEVICE_OR_CHANNEL)
        return command_class == CSM_CLASS_DEVICE || command_class == CSM_CLASS_CHANNEL;
    return command_class == rule;
}

const route routes[] = {
    {CSM_TYPE_RESPONSE, DEVICE_OR_CHANNEL, msp_buffer_to_struct_command_response},
    {CSM_TYPE_DIAG_RESPONSE, ANY_CLASS, msp_buffer_to_struct_diag_response},
    {CSM_TYPE_INDICATION, ANY_CLASS, msp_buffer_to_struct_indication},
    {CSM_TYPE_QUERY_RESPONSE, DEVICE_OR_CHANNEL, msp_buffer_to_struct_query_response},
    {CSM_TYPE_SRTP_STATS, ANY_CLASS, msp_buffer_to_struct_srtp},
    {CSM_TYPE_TEST_STATS, ANY_CLASS, msp_buffer_to_struct_bert},
    {CSM_TYPE_TDM_SYNC_STATS, CSM_CLASS_DEVICE_ETH, msp_buffer_to_struct_tdm_sync_stats},
    {CSM_TYPE_PLYERR_STATS, CSM_CLASS_STATS, msp_buffer_to_struct_plyerr},
};

} // namespace

magic_csm msp_buffer_to_struct_command_response(csm_header *header, const uint8_t *frame,
                                                int *success, int)
{
    magic_csm m = parse_reply(command_response_kind, header, frame, success);
    if (!csm_msg_is_null(m) && header->function_code == MSP_FC_SVR_ERROR_REPORT) {
        const csmdev_svr_error_handling *e = m.u_csmdev_svr_error_handling;
        log_rejected_command(e);
        msp_stats_note_rejected_query(e->original_cmd_class, e->original_cmd_type,
                                      e->original_channel_id, e->error_code);
        if (success)
            *success = 0;
    }
    return m;
}

magic_csm msp_buffer_to_struct_query_response(csm_header *header, const uint8_t *frame,
                                              int *success, int)
{
    return parse_reply(query_response_kind, header, frame, success);
}

magic_csm msp_buffer_to_struct_indication(csm_header *header, const uint8_t *frame, int *success,
                                          int)
{
    return parse_reply(indication_kind, header, frame, success);
}

magic_csm msp_buffer_to_struct_diag_response(csm_header *header, const uint8_t *frame,
                                             int *success, int)
{
    return parse_reply(diag_response_kind, header, frame, success);
}

int msp_buffer_cleanup_failed(csm_header *header, const uint8_t *frame, int length)
{
    if (!header)
        return 0;
    MSP_SHOW_MSG(nullptr, frame, length);
    log_cannot_handle(header);
    free(header);
    return 0;
}

magic_csm msp_buffer_to_struct(const uint8_t *frame, int length, int *success, int channel)
{
    magic_csm m = csm_null_msg();
    if (!frame || length < 8) {
        LOGD(MSP, 1, "", "CRITICAL: short CSM frame of %i bytes", frame ? length : 0);
        return m;
    }
    if (frame[0] > length) {
        LOGD(MSP, 1, "", "CRITICAL: CSM frame of %i bytes announces %i bytes", length, frame[0]);
        MSP_SHOW_MSG(nullptr, frame, length);
        return m;
    }
    csm_header *h = extract_header(frame, length);
    if (!h)
        return m;
    h->msp_channel = (uint16_t)channel;
    h->msp_timeslot = msp_lookup_timeslot(channel);
    for (const route &r : routes)
        if (h->command_type == r.command_type && class_matches(r.command_class, h->command_class))
            return r.parser(h, frame, success, channel);
    msp_buffer_cleanup_failed(h, frame, h->msg_length);
    return m;
}

magic_csm msp_create_csm_msg_from_dbg_text(const char *text)
{
    uint8_t frame[CSM_FRAME_SIZE] = {};
    int n = 0;
    bool in_parens = false;
    int high = -1;
    for (const char *p = text ? text : ""; *p && n < CSM_FRAME_SIZE; p++) {
        char c = *p;
        if (in_parens) {
            in_parens = c != ')';
            continue;
        }
        if (c == '(') {
            in_parens = true;
            continue;
        }
        if (!isxdigit((unsigned char)c))
            continue;
        int v = isdigit((unsigned char)c) ? c - '0' : (tolower((unsigned char)c) - 'a' + 10);
        if (high < 0) {
            high = v;
        } else {
            frame[n++] = (uint8_t)(high << 4 | v);
            high = -1;
        }
    }
    int success = 0;
    return msp_buffer_to_struct(frame, CSM_FRAME_SIZE, &success, 0);
}
