// Arbitrary modem output through the buffered line extraction, the echo
// collector and the answer tidying.
#include "gsm_lib.h"

#include <cstdint>
#include <cstring>
#include <string>

static _libgsm_ctlport_t *ctl = new _libgsm_ctlport_t();

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // First byte: target line size, second: chunk size for the writes.
    int linesize = 2 + data[0] * 17;
    size_t chunk = 1 + data[1] % 64;
    data += 2;
    size -= 2;
    ctl->port = 1;
    ctl->read_len = 0;
    ctl->read_buffer[0] = '\0';
    std::string line(linesize, '\0');
    char echobuf[GSM_ECHO_SIZE];
    std::string answer;
    echobuf[0] = '\0';
    for (size_t off = 0; off < size; off += chunk) {
        size_t n = size - off < chunk ? size - off : chunk;
        gsm_buffer_append(ctl, (const char *)data + off, (int)n);
        for (;;) {
            int r = gsm_extract_buffered_line("f", ctl, line.data(), linesize, (off & 1) ? "> " : nullptr,
                                              (int)(off & 2));
            if (r == 0)
                break;
            if (r < 0)
                continue;
            if (strlen(line.c_str()) >= (size_t)linesize)
                __builtin_trap();
            int complete = 0;
            echo_collector("AT+CSQ", echobuf, sizeof echobuf, line.c_str(), &complete);
            answer += line.c_str();
            if (answer.size() > 4096)
                answer.clear();
            std::string a = answer;
            gsm_answer_tidy(a.data());
        }
        if (ctl->read_len > GSM_READ_BUFFER_SIZE - 1)
            __builtin_trap();
    }
    return 0;
}
