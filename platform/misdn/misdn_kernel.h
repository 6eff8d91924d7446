// Inside of the device: the process-wide set of simulated ports, the open
// device handles with their queues of frames going up, the timer list and
// the thread that reads the ports' sockets and runs due timers.
//
// One mutex (kernel::mtx) guards everything below except a device's own
// queue, which has its own mutex so that reads never wait for the kernel.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include "dchannel_trace.h"
#include "lapd.h"
#include "misdn_frame.h"
#include "q931_l3.h"
#include "sim_config.h"

struct kdev {
    int fid = 0;
    int entity = 0;
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::vector<uint8_t>> q;  // frames going up (head + data)
    bool closed = false;
};

struct kbchan {
    uint32_t stid = 0;
    int owner = 0;     // device that set the stack up
    bool set = false;
};

struct kernel;

struct kport {
    kernel *k = nullptr;
    sim_port_cfg cfg;
    int port = 0;
    bool pri = false;
    int nb = 0;                 // B-channels
    uint32_t stid = 0;          // D-channel stack
    int sock = -1;
    std::vector<sockaddr_in> peers;
    dchannel_trace trace;
    bool l1 = false;            // layer 1 active
    int owner = 0;              // device of the application's layer, 0 none
    int app_layer = 0;          // its layer number (4 TE, 2 NT), 0 none
    bool sstatus = false;       // the application asked for short-status indications
    // TE mode: layer 2 and 3 run here
    lapd_entity l2;
    q931_l3 l3;
    kbchan b[MAX_STACK_CHILD];
};

// Timer owners.
enum ktimer_type { KT_L2 = 1, KT_L3 = 2, KT_DEV = 3 };

struct kernel {
    std::mutex mtx;
    std::map<int, std::unique_ptr<kport>> ports;
    int maxport = 0;
    std::map<int, std::shared_ptr<kdev>> devs;
    int next_fid = 1;
    int next_entity = 1;
    // timers: (type, owner, key) -> due time in ms of CLOCK_MONOTONIC
    std::map<uint64_t, int64_t> timers;
    int wake_fd = -1;
    std::thread thr;
    bool running = false;
};

// The kernel while a device is open (null otherwise); its lifetime is
// managed by mISDN_open/mISDN_close.
extern kernel *g_kernel;
// Held while g_kernel is created, destroyed or used from outside a device call.
extern std::mutex g_kernel_life;

// Reads the port description, opens sockets and traces, starts the thread;
// null (errno set) when the ports cannot be started.
kernel *kernel_create(void);
// Stops the thread and frees everything.
void kernel_stop(kernel *k);

int64_t kernel_now_ms(void);
uint64_t kernel_timer_key(int type, int owner, uint32_t key);
// Arms (ms >= 0) or stops (ms < 0) a timer; call with mtx held.
void kernel_timer(kernel *k, int type, int owner, uint32_t key, int ms);

// A frame (head and len octets of data) as bytes.
std::vector<uint8_t> frame_bytes(uint32_t addr, uint32_t prim, int dinfo, const uint8_t *data, int len);
// Puts a frame on a device's up queue (kernel lock held or not).
void kernel_deliver(kernel *k, int fid, uint32_t addr, uint32_t prim, int dinfo,
                    const uint8_t *data, int len);
// Frame to the application layer of a port (dropped when none is registered).
void kernel_up(kernel *k, kport *p, uint32_t prim, int dinfo, const uint8_t *data, int len);

// One LAPD frame leaves the port: trace and socket.
void port_send_frame(kernel *k, kport *p, const uint8_t *frame, int len);
// One LAPD frame arrived on the port (from its socket or injected).
void port_receive_frame(kernel *k, kport *p, const uint8_t *frame, int len);
// Layer 1 comes up / goes down; tells the application and the protocols.
void port_l1_activate(kernel *k, kport *p, uint32_t prim);
void port_l1_deactivate(kernel *k, kport *p, uint32_t prim);

// A short-status indication (SSTATUS_*) to the application when it asked
// for them with a broadcast MGR_SHORTSTATUS request.
void port_sstatus(kernel *k, kport *p, uint32_t status);

// The application's primitive for a layer-2 state change of lapd.h (0: none).
uint32_t dl_state_prim(int lapd_prim);

// TE mode protocols of a port.
void port_te_init(kernel *k, kport *p);
void port_te_reset(kernel *k, kport *p);
void port_te_app_frame(kernel *k, kport *p, const iframe_t *f, const uint8_t *data, int len);
void port_te_timer(kernel *k, kport *p, int type, uint32_t key);
