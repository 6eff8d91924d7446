#include "csm_log.h"

#include <cstdio>
#include <cstring>

#include "csm_codes.h"
#include "csm_records.h"
#include "log.h"

int verbose_msp_logging = 0;
int msp_logging_active = 1;

const char *get_intro_command() { return " ---> "; }
const char *get_intro_command_response() { return " <--- "; }
const char *get_intro_query() { return " ===> "; }
const char *get_intro_query_response() { return " <=== "; }
const char *get_intro_indication() { return " <<<< "; }

void msp_dummycontextinfo(void *, char *buffer, int size)
{
    if (buffer && size > 0)
        buffer[0] = '\0';
}

ContextInfo msp_context_info = msp_dummycontextinfo;

namespace {

msp_timeslot_of_channel_fn timeslot_of_channel_hook = nullptr;
msp_cid_of_timeslot_fn cid_of_timeslot_hook = nullptr;

const char *const no_cid = "CID:000000:00";

// Header fields read from the first eight bytes of a frame.
struct wire_header {
    int length, index, type, cls, fc;
};

wire_header read_wire_header(const uint8_t *b)
{
    return {b[0], b[1], b[2], b[3], b[4] | (b[5] << 8)};
}

// The header and dump text of one message into `out`: `tag` and ": " in
// front when given; `prefix`, padded to 25 columns, in place of the word
// CSMHEADER when given (the link's SEND and RECV lines).
void format_msg(char *out, size_t size, const char *tag, const char *prefix, const uint8_t *buffer,
                int length)
{
    char dump[1280];
    wire_header h = read_wire_header(buffer);
    int shown = h.length < length ? h.length : length;
    fill_msp_payload_buffer(dump, sizeof dump, buffer, shown);
    const char *name = get_function_code_extended(h.fc);
    char lead[80];
    if (prefix)
        snprintf(lead, sizeof lead, "%s%s%-25s Fun", tag ? tag : "", tag ? ": " : "", prefix);
    else
        snprintf(lead, sizeof lead, "%s%sCSMHEADER: Function", tag ? tag : "", tag ? ": " : "");
    if (h.type == CSM_TYPE_RESPONSE && h.length > 9 && length >= 10) {
        int result = buffer[8] | (buffer[9] << 8);
        snprintf(out, size,
                 "%s 0x%04x %s Len 0x%02x (%03i)  Idx 0x%02x (%03i) Cls 0x%02x  "
                 "Typ 0x%02x => RESULT type 0x%02x - value %04x %s => PAYLOAD (len=%03i): %s",
                 lead, h.fc, name, h.length, h.length, h.index, h.index, h.cls, h.type, h.type,
                 result, get_result_code(result), h.length, dump);
    } else {
        snprintf(out, size,
                 "%s 0x%04x %s Len 0x%02x (%03i)  Idx 0x%02x (%03i) Cls 0x%02x  "
                 "Typ 0x%02x => PAYLOAD (len=%03i): %s",
                 lead, h.fc, name, h.length, h.length, h.index, h.index, h.cls, h.type, h.length,
                 dump);
    }
}

} // namespace

msp_call_tag::msp_call_tag(void *context)
{
    text[0] = '\0';
    msp_context_info(context, text, sizeof text);
    text[sizeof text - 1] = '\0';
}

void msp_set_timeslot_lookups(msp_timeslot_of_channel_fn timeslot_of_channel,
                              msp_cid_of_timeslot_fn cid_of_timeslot)
{
    timeslot_of_channel_hook = timeslot_of_channel;
    cid_of_timeslot_hook = cid_of_timeslot;
}

uint16_t msp_lookup_timeslot(int channel)
{
    if (!timeslot_of_channel_hook)
        return 0xFFFF;
    int ts = timeslot_of_channel_hook(channel);
    return (ts >= 0 && ts < 512) ? (uint16_t)ts : 0xFFFF;
}

const char *msp_lookup_cid(int timeslot)
{
    if (timeslot < 0 || timeslot >= 512 || !cid_of_timeslot_hook)
        return no_cid;
    const char *cid = cid_of_timeslot_hook(timeslot);
    return cid ? cid : no_cid;
}

void fill_msp_payload_buffer(char *text, size_t size, const uint8_t *bytes, int count)
{
    if (!text || size == 0)
        return;
    text[0] = '\0';
    if (!bytes)
        return;
    size_t used = 0;
    // One group: "(0x%02x):" and eight "%02x " (31 characters at most).
    for (int group = 0; group < count; group += 8) {
        int n = count - group < 8 ? count - group : 8;
        size_t need = 7 + 3 * (size_t)n;
        if (used + need + 1 > size)
            break;
        used += (size_t)snprintf(text + used, size - used, "(0x%02x):", group & 0xFF);
        for (int i = 0; i < n; i++)
            used += (size_t)snprintf(text + used, size - used, "%02x ", bytes[group + i]);
    }
}

void _msp_show_msg(const char *file, int line, const char *function, void *context,
                   const uint8_t *buffer, int length)
{
    msp_show_msg_prefixed(file, line, function, context, nullptr, buffer, length);
}

void msp_show_msg_fprintf(void *context, const uint8_t *buffer, int length)
{
    if (!buffer || length < 8)
        return;
    msp_call_tag tag(context);
    char text[1700];
    format_msg(text, sizeof text, tag.text, nullptr, buffer, length);
    fprintf(stderr, "%s\n", text);
}

bool msp_show_msg_enabled()
{
    return msp_logging_active && log_get_loglevel(log_levels_debug, MSP) >= 8;
}

void msp_show_msg_prefixed(const char *file, int line, const char *function, void *context,
                           const char *prefix, const uint8_t *buffer, int length)
{
    if (!buffer || length < 8 || !msp_show_msg_enabled())
        return;
    msp_call_tag tag(context);
    char text[1600];
    format_msg(text, sizeof text, nullptr, prefix, buffer, length);
    log_msg_debug(8, MSP, file, line, function, tag.text, "%s", text);
}
