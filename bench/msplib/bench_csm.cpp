// Serialise + parse of the CSM messages of one voice channel set-up: the
// commands a SIP-to-line call sends (create channel, headers, voice, tone,
// echo and DTMF options, payload map, RTCP, VOPENA), and the media
// processor's response to each.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "csm_codes.h"
#include "csm_log.h"
#include "csm_message.h"
#include "csm_parse.h"
#include "csm_serialise.h"

namespace {

const uint16_t setup_sequence[] = {
    FC_SUPVSR_CREATE_CHANNEL, FC_SET_ETH_HDR_CHAN, FC_SET_IP_HDR_CHANNEL, FC_VOIP_VCEOPT,
    FC_VOIP_TONEOPT,          FC_VOIP_ECHOCAN,     FC_VOIP_DTMFOPT,       FC_IPDTMF_CTRL,
    FC_VOIP_PTMNG,            FC_VOIP_RTCP_ENA,    FC_VOIP_VOPENA,
};

// The response the media processor sends to a command frame.
std::vector<uint8_t> response_to(const uint8_t *command)
{
    std::vector<uint8_t> r(command, command + 8);
    r[2] = 2; // command response
    r.push_back(0); // result code CNF_OK
    r.push_back(0);
    if ((command[4] | command[5] << 8) == FC_SUPVSR_CREATE_CHANNEL) {
        r.insert(r.end(), {0x21, 0x00, command[10], command[11]}); // channel, timeslot
    }
    r[0] = (uint8_t)r.size();
    return r;
}

std::vector<std::vector<uint8_t>> responses()
{
    std::vector<std::vector<uint8_t>> out;
    uint8_t buf[CSM_FRAME_SIZE];
    for (uint16_t fc : setup_sequence) {
        magic_csm m = create_default_csm_msg(fc, 1);
        msp_struct_to_buffer(m, buf);
        out.push_back(response_to(buf));
        delete_csm_msg(m);
    }
    return out;
}

void one_setup(const std::vector<std::vector<uint8_t>> &answers, int *index)
{
    uint8_t buf[CSM_FRAME_SIZE];
    for (size_t i = 0; i < std::size(setup_sequence); i++) {
        magic_csm m = create_default_csm_msg(setup_sequence[i], *index);
        *index = (*index + 1) & 0xFF;
        if (setup_sequence[i] == FC_SUPVSR_CREATE_CHANNEL)
            m.u_csmdev_create_channel->timeslot = 7;
        else if (setup_sequence[i] == FC_VOIP_VOPENA)
            m.u_csmchan_voip_vopena->ssrc = 0x12345678;
        int n = msp_struct_to_buffer(m, buf);
        benchmark::DoNotOptimize(n);
        int success = 0;
        magic_csm r = msp_buffer_to_struct(answers[i].data(), (int)answers[i].size(), &success, 33);
        benchmark::DoNotOptimize(success);
        delete_csm_msg(r);
        delete_csm_msg(m);
    }
}

void BM_VoiceChannelSetup(benchmark::State &state)
{
    verbose_msp_logging = (int)state.range(0);
    std::vector<std::vector<uint8_t>> answers = responses();
    int index = 0;
    for (auto _ : state)
        one_setup(answers, &index);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) ? "set-ups/s, field lines formatted" : "set-ups/s");
    verbose_msp_logging = 0;
}

} // namespace

// Argument: 0 without, 1 with the field-by-field log lines formatted
// (the log front-end has no handler installed, so nothing is written).
BENCHMARK(BM_VoiceChannelSetup)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
