#include "csm_serialise.h"

#include <cstdio>
#include <cstring>

#include "csm_codes.h"
#include "csm_layout.h"
#include "csm_log.h"
#include "csm_message.h"
#include "log.h"

int csm_refuse(const csm_header *h, const char *why)
{
    LOGD(MSP, 1, h->cid, "CRITICAL: refusing %s (fc %x) of length %i: %s",
         get_function_code_extended(h->function_code), h->function_code, h->msg_length, why);
    return 0;
}

namespace {

// Records of this class are never serialised.
constexpr uint8_t CLASS_NOT_SERIALISED = 35;

bool is_stat_query(const csm_header *h)
{
    return (h->command_class == CSM_CLASS_DEVICE_ETH && h->command_type == CSM_TYPE_TDM_SYNC_STATS) ||
           (h->command_class == CSM_CLASS_STATS && h->command_type == CSM_TYPE_PLYERR_STATS);
}

// The field-by-field line of a sent command.
void log_command(const csm_command_layout *l, const void *record, const csm_header *h)
{
    const char *cid = msp_lookup_cid(h->msp_timeslot);
    const char *name = get_function_code_extended(h->function_code);
    if (l->log_kind == CSM_LOG_UNIFIED_DIAG) {
        const auto *r = static_cast<const csmdev_set_unified_diag *>(record);
        LOGM(MSP, 18, "Unified diagnostics:\tfunction_code=%s\tenabled=0x%04x", name,
             (unsigned)r->set_diagnostic);
        return;
    }
    char fields[4096] = "";
    if (l->rows)
        csm_format_rows(fields, sizeof fields, l->rows, l->nrows, record, l->log_order);
    const char *raw = "";
    if (l->log_kind == CSM_LOG_FIELDS_RAW)
        raw = fields[0] ? ", raw_data" : "raw_data";
    LOGM(MSP, 18, "%s:%s%s: %s%s", cid, get_intro_command(), name, fields, raw);
}

} // namespace

int msp_struct_to_buffer_query(magic_csm msg, uint8_t *buffer)
{
    if (!buffer)
        return 0;
    memset(buffer, 0, CSM_FRAME_SIZE);
    csm_header *h = get_header(msg);
    if (!h)
        return 0;
    if (h->msg_length < 8)
        return csm_refuse(h, "shorter than the frame header");
    msp_header_to_buffer(h, buffer);
    // The two queries that name what they ask about carry it in their
    // first payload word.
    uint32_t word = 0;
    const char *field = nullptr;
    if (h->function_code == FC_SUPVSR_CREATE_CHANNEL) {
        word = msg.u_csmdev_create_channel_query->timeslot;
        field = "timeslot";
    } else if (h->function_code == FC_CONF_CREATE_PARTICIPANT) {
        word = msg.u_csmdev_conf_create_participant_query->participant_id;
        field = "participant_id";
    }
    if (field && h->msg_length >= 10) {
        buffer[8] = (uint8_t)(word & 0xFF);
        buffer[9] = (uint8_t)(word >> 8);
    }
    if (verbose_msp_logging) {
        char fields[64] = "";
        if (field)
            snprintf(fields, sizeof fields, "%s: %i", field, (int)word);
        LOGM(MSP, 18, "%s:%s%s: %s", msp_lookup_cid(h->msp_timeslot), get_intro_query(),
             get_function_code_extended(h->function_code), fields);
    }
    return h->msg_length;
}

int msp_struct_to_buffer(magic_csm msg, uint8_t *buffer)
{
    if (!buffer)
        return 0;
    memset(buffer, 0, CSM_FRAME_SIZE);
    csm_header *h = get_header(msg);
    if (!h) {
        LOGD(MSP, 1, "", "CRITICAL: no message to serialise");
        return 0;
    }
    if (h->command_class == CLASS_NOT_SERIALISED) {
        puts("HOIHOIH");
        return 0;
    }
    if (h->command_type == CSM_TYPE_QUERY)
        return msp_struct_to_buffer_query(msg, buffer);
    if (h->msg_length < 8)
        return csm_refuse(h, "shorter than the frame header");
    if (is_stat_query(h) || h->function_code == FC_SUPVSR_READY) {
        // Statistics queries, and the test and SRTP counter queries (function
        // code 0): the header alone.
        msp_header_to_buffer(h, buffer);
        if (verbose_msp_logging && is_stat_query(h))
            LOGM(MSP, 18, "%s:%sSTAT_QUERY cc %02x ct %02x fc %04x", msp_lookup_cid(h->msp_timeslot),
                 get_intro_query(), h->command_class, h->command_type, h->function_code);
        return h->msg_length;
    }
    const csm_command_layout *l = csm_find_command_layout(h->function_code);
    if (!l) {
        log_msg_debug(1, MSP, __FILE__, __LINE__, "msp_struct_to_buffer", h->cid,
                      "CRITICAL: invalid function code");
        return 0;
    }
    msp_header_to_buffer(h, buffer);
    int result;
    if (l->writer) {
        result = l->writer(l, msg.u_raw, buffer);
    } else {
        csm_write_rows(l->rows, l->nrows, msg.u_raw, buffer, h->msg_length);
        result = h->msg_length;
    }
    if (result <= 0) {
        memset(buffer, 0, CSM_FRAME_SIZE);
        return 0;
    }
    if (verbose_msp_logging)
        log_command(l, msg.u_raw, h);
    return result;
}
