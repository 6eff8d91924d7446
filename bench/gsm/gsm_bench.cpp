// Line extraction from modem output and SMS PDU building.
#include "gsm_lib.h"

#include <benchmark/benchmark.h>
#include <string>

static void BM_ExtractLines(benchmark::State &state)
{
    static _libgsm_ctlport_t *ctl = new _libgsm_ctlport_t();
    const std::string chunk = "AT+CSQ\r\r\n+CSQ: 17,99\r\n\r\nOK\r\n";
    char line[512];
    for (auto _ : state) {
        ctl->read_len = 0;
        for (int i = 0; i < 50; i++)
            gsm_buffer_append(ctl, chunk.data(), (int)chunk.size());
        int n = 0;
        while (gsm_extract_buffered_line("b", ctl, line, sizeof line, nullptr, 1) == 1)
            n++;
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(state.iterations() * 50 * (int64_t)chunk.size());
}
BENCHMARK(BM_ExtractLines);

static void BM_BuildPdu(benchmark::State &state)
{
    const char *text = "Gr\xC3\xBC\xC3\x9F" "e aus dem Gateway, 70 Zeichen lang oder etwas weniger als das";
    for (auto _ : state) {
        char *hex = libgsm_utf8_to_ucs2(text);
        gsm_outgoing_sms s = {};
        make_cmgs_pdu_part("+4917012345", hex, 1, 1, 0, &s);
        benchmark::DoNotOptimize(s.pdu_block);
        free(s.pdu_block);
        free(hex);
    }
}
BENCHMARK(BM_BuildPdu);

BENCHMARK_MAIN();
