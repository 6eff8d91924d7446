// What a console client may send, through the splitting of reads into
// lines and the dispatcher with the whole command table.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "console.h"
#include "console_input.h"
#include "log.h"
#include "mc_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *sink = [] {
        application_create();
        init_locks();
        log_levels_debug_enabled = 0;
        mc_init_options();
        // Commands that act on the whole process or reach outside it
        // (reloads of files a fuzz run has not got, restarts, exits and waits,
        // DNS queries, network log targets, packet filters, modem waits,
        // the paced cell-broadcast feed and its spool) answer as
        // rows of parts this build lacks.
        static const char *const outside[] = {"rs", "rss", "rd", "rcpt", "rcm", "aclrs", "reo", "tipt", "rsi",
                                              "x", "shutdown", "kill", "sleep", "ir", "pr", "dnss", "dnsa",
                                              "dnsov", "n", "n:", "t", "t1", "cdrrotate", "logrotate", "memleak",
                                              "memalloc", "dx", "testcbm", "csurv", "tts"};
        for (mc_option &o : mc_options)
            for (const char *c : outside)
                if (strcmp(o.command, c) == 0)
                    o.mc_function = mc_not_available;
        return fopen("/dev/null", "w");
    }();
    // The first byte says which reads filled the buffer; the rest is cut
    // into reads of up to 64 bytes as a client's packets.
    if (size == 0)
        return 0;
    uint8_t full_bits = data[0];
    data++;
    size--;
    console_input in;
    int state = 0;
    int read_no = 0;
    for (size_t at = 0; at < size; read_no++) {
        size_t n = size - at < 64 ? size - at : 64;
        std::vector<std::string> lines;
        console_split_input(in, (const char *)data + at, n, (full_bits >> (read_no % 8)) & 1, lines);
        for (const std::string &l : lines)
            if (mc_handle_input(l.c_str(), sink, &state) == 1)
                state = 0; // the server would close this client
        at += n;
    }
    return 0;
}
