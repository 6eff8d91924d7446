// Arbitrary bytes as a frame from the media processor: the answer parser
// must refuse or parse them without reading past them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "csm_log.h"
#include "csm_message.h"
#include "csm_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy, so that any read past the frame is caught.
    uint8_t *frame = static_cast<uint8_t *>(malloc(size ? size : 1));
    if (!frame)
        return 0;
    if (size)
        memcpy(frame, data, size);
    verbose_msp_logging = size > 0 && (data[size - 1] & 1);
    int success = -1;
    int channel = size > 1 ? data[1] : 0;
    magic_csm m = msp_buffer_to_struct(frame, (int)size, &success, channel);
    delete_csm_msg(m);
    free(frame);
    return 0;
}
