// Commands through the queue, the command thread and the link to a device
// that answers at once (a thread of this process on the simulator
// transport): the round trip of one blocking command, and a burst of
// commands queued together.
#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "csm_codes.h"
#include "csm_message.h"
#include "log.h"
#include "msp_dispatch.h"
#include "msp_link.h"
#include "msp_manager.h"
#include "msp_queue.h"

namespace {

// Answers every frame with a command response of result 0.
void device(int fd)
{
    uint8_t in[2048];
    for (;;) {
        sockaddr_un from;
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd, in, sizeof in, 0, (sockaddr *)&from, &len);
        if (n < 28)
            continue;
        uint8_t out[30];
        for (int i = 0; i < 20; i++)
            out[i] = in[i];
        const uint8_t *f = in + 20;
        uint8_t answer[10] = {10, f[1], 2, f[3], f[4], f[5], 0, 0, 0, 0};
        for (int i = 0; i < 10; i++)
            out[20 + i] = answer[i];
        sendto(fd, out, sizeof out, 0, (sockaddr *)&from, len);
    }
}

std::string bench_dir;

void remove_bench_dir()
{
    std::error_code ec;
    std::filesystem::remove_all(bench_dir, ec);
}

bool start()
{
    static bool started = false;
    if (started)
        return true;
    char dir[] = "/tmp/bench_msplink.XXXXXX";
    if (!mkdtemp(dir))
        return false;
    bench_dir = dir;
    std::atexit(remove_bench_dir);
    std::string path = bench_dir + "/dev.sock";
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    if (bind(fd, (sockaddr *)&sa, sizeof sa) != 0)
        return false;
    std::thread(device, fd).detach();
    setenv("TARN_MSP_SIM", path.c_str(), 1);
    const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0x44, 0x55};
    log_set_loglevel_debug(log_levels_debug, MSP, 0);
    if (msp_init_interface("lo", mac) != 0 || msp_init_lib(nullptr, nullptr) != 0)
        return false;
    cman->msplib_initializing = 0;
    started = true;
    return true;
}

magic_csm pcm_law()
{
    return create_default_csm_msg(FC_SUPVSR_SET_PCM_LAW, 1);
}

void BM_BlockingCommand(benchmark::State &state)
{
    if (!start()) {
        state.SkipWithError("no link");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(_msp_queue_command(pcm_law(), 0xFFFF, nullptr, 1, 0, "b", "b", 0));
}
BENCHMARK(BM_BlockingCommand)->UseRealTime();

// A sequence queued under the lock, as a call's channel set-up does, and
// waited for with a last blocking command.
void BM_QueuedSequence(benchmark::State &state)
{
    if (!start()) {
        state.SkipWithError("no link");
        return;
    }
    int n = (int)state.range(0);
    for (auto _ : state) {
        msp_queue_lock_take();
        for (int i = 0; i < n - 1; i++)
            _msp_queue_command_nolock(pcm_law(), 0xFFFF, nullptr, 0, "b", "b", 0);
        msp_queue_lock_release();
        _msp_queue_command(pcm_law(), 0xFFFF, nullptr, 1, 0, "b", "b", 0);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_QueuedSequence)->Arg(20)->Arg(200)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
