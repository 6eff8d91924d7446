// Any FSK caller-id indication through parse_analog_callerid: the first
// three bytes are the message type, the byte count and the bytes kept,
// the rest the message bytes; the number and name fields stay terminated
// inside their 64 characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "analog_callctl.h"
#include "application.h"
#include "callctl_world.h"
#include "csm_records.h"
#include "experimental_options.h"
#include "pools.h"

namespace {

call_object *call = nullptr;

void setup()
{
    callctl_world(1);
    gp->experimental_options = static_cast<experimental_options *>(calloc(1, sizeof(experimental_options)));
    call = get_free_operation_handle(1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!call)
        setup();
    if (size < 4)
        return 0;
    csm_header h{};
    csmchan_cndrxmsg_indication ind{};
    ind.header = &h;
    ind.msg_type_id = data[0] & 1 ? 128 : data[0] & 2 ? 4 : data[0];
    ind.msg_byte_count = data[1];
    ind.msg_byte_count_cropped = data[2] & 0x80 ? data[2] & 0x3f : (data[1] < 64 ? data[1] : 64);
    gp->experimental_options->eo_analog_cid_sdmf_offset = data[3] % 80 - 8;
    size_t n = size - 4 < sizeof ind.msg_byte ? size - 4 : sizeof ind.msg_byte;
    memcpy(ind.msg_byte, data + 4, n);
    parse_analog_callerid(call, &ind);
    if (strnlen(call->analog_oad, 64) > 32 || strnlen(call->analog_display, 64) > 63)
        abort();
    return 0;
}
