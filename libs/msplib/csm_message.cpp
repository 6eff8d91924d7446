#include "csm_message.h"

#include <cstdio>
#include <cstdlib>

#include "csm_codes.h"
#include "csm_layout.h"
#include "log.h"

namespace {

// A zeroed record of `size` bytes with a zeroed header linked in; null when
// memory is short.
void *new_record(size_t size, csm_header **header)
{
    void *record = calloc(1, size);
    if (!record)
        return nullptr;
    auto *h = static_cast<csm_header *>(calloc(1, sizeof(csm_header)));
    if (!h) {
        free(record);
        return nullptr;
    }
    *static_cast<csm_header **>(record) = h;
    *header = h;
    return record;
}

void set_header(csm_header *h, int length, int index, int type, int cls, int fc)
{
    h->msg_length = (uint8_t)length;
    h->index = (uint8_t)index;
    h->command_type = (uint8_t)type;
    h->command_class = (uint8_t)cls;
    h->function_code = (uint16_t)fc;
}

// The queries create_query_csm_msg builds: code, length, record size.
struct query_kind {
    uint16_t function_code;
    uint8_t msg_length;
    size_t record_size;
};

const query_kind query_kinds[] = {
    {FC_SUPVSR_READY, 8, sizeof(csm_generic_query)},
    {FC_SUPVSR_CREATE_CHANNEL, 10, sizeof(csmdev_create_channel_query)},
    {FC_SUPVSR_GET_ARM_CODE_VERSION, 8, sizeof(csmdev_get_arm_code_version_query)},
    {FC_SUPVSR_MSP_GET_VERSION, 8, sizeof(csmdev_get_msp_version_query)},
    {FC_SUPVSR_GET_DEVICE_TYPE, 8, sizeof(csmdev_get_device_type_query)},
    {FC_EXT_CLOCK_STATUS, 8, sizeof(csmdev_ext_clock_status_query)},
    {FC_SUPVSR_DEVICE_STATUS_QUERY, 8, sizeof(csmdev_device_status_query)},
    {FC_VOIP_RTCPSTAT, 8, sizeof(csmchan_voip_rtcp_statistics)},
    {FC_CONF_CREATE_PARTICIPANT, 10, sizeof(csmdev_conf_create_participant_query)},
};

} // namespace

magic_csm create_default_csm_msg2(int function_code, int index)
{
    magic_csm m = csm_null_msg();
    const csm_command_layout *l = csm_find_command_layout(function_code);
    if (!l)
        return m;
    csm_header *h = nullptr;
    void *record = new_record(l->record_size, &h);
    if (!record)
        return m;
    set_header(h, l->msg_length, (l->flags & CSM_INDEX_ZERO) ? 0 : index, l->command_type,
               l->command_class, l->function_code);
    if (l->rows)
        csm_default_rows(l->rows, l->nrows, record);
    m.u_raw = record;
    return m;
}

magic_csm create_default_csm_msg(int function_code, int index)
{
    magic_csm m = create_default_csm_msg2(function_code, index);
    if (!csm_msg_is_null(m))
        get_header(m)->function_text = get_function_code_extended(function_code);
    return m;
}

magic_csm create_query_csm_msg(int function_code, int command_class, int command_type, int index)
{
    magic_csm m = csm_null_msg();
    for (const query_kind &q : query_kinds) {
        if (q.function_code != function_code)
            continue;
        csm_header *h = nullptr;
        m.u_raw = new_record(q.record_size, &h);
        if (h)
            set_header(h, q.msg_length, index, command_type, command_class, function_code);
        return m;
    }
    LOGD(MSP, 1, "",
         "CRITICAL: unknown request in create_query_csm_msg: fc %x (%s) , cc %x , ct %x , idx %x",
         function_code, get_function_code_extended(function_code), command_class, command_type,
         index);
    return m;
}

magic_csm create_stat_query_csm_msg(int function_code, int command_class, int command_type,
                                    int index)
{
    magic_csm m = csm_null_msg();
    csm_header *h = nullptr;
    m.u_raw = new_record(sizeof(csm_generic_query), &h);
    if (h)
        set_header(h, 8, index, command_type, command_class, function_code);
    return m;
}

void delete_csm_msg(magic_csm msg)
{
    if (csm_msg_is_null(msg))
        return;
    free(get_header(msg));
    free(msg.u_raw);
}

csm_header *get_header(magic_csm msg)
{
    if (csm_msg_is_null(msg))
        return nullptr;
    return *static_cast<csm_header **>(msg.u_raw);
}

int msp_query_struct_to_buffer(magic_csm, uint8_t *)
{
    puts("HOIHOIH");
    return 0;
}

void msp_header_to_buffer(const csm_header *header, uint8_t *buffer)
{
    uint16_t w0 = (uint16_t)(header->msg_length | (header->index << 8));
    uint16_t w1 = (uint16_t)(header->command_type | (header->command_class << 8));
    uint16_t words[4] = {w0, w1, header->function_code, header->reserved_word};
    for (int i = 0; i < 4; i++) {
        buffer[2 * i] = (uint8_t)(words[i] & 0xFF);
        buffer[2 * i + 1] = (uint8_t)(words[i] >> 8);
    }
}

csm_header *extract_header(const uint8_t *frame, int length)
{
    if (!frame || length < 8)
        return nullptr;
    auto *h = static_cast<csm_header *>(calloc(1, sizeof(csm_header)));
    if (!h)
        return nullptr;
    set_header(h, frame[0], frame[1], frame[2], frame[3], frame[4] | (frame[5] << 8));
    return h;
}
