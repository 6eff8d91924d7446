// Test support for the ISDN device layer: temporary directories, UDP
// ports, the libpri far end as a child process, an application that drives
// a TE port the way the ISDN library does, and capture checks with tshark.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "free_port.h"
#include "isdn_net.h"
#include "misdn_frame.h"

// Upper bound of every wait for the far end in the tests (the machine may be busy).
inline constexpr int WAIT_MS = 10000;

struct tmp_dir {
    std::string path;
    tmp_dir();
    ~tmp_dir();
    std::string file(const std::string &name) const { return path + "/" + name; }
};

void write_file(const std::string &path, const std::string &text);
std::string read_file(const std::string &path);

// q931peer as a child process; its output lines go to a file.
struct peer_proc {
    pid_t pid = -1;
    std::string out;
    bool start(const std::vector<std::string> &args, const std::string &outfile);
    // Waits until an output line starts with prefix; the line goes to *line.
    bool wait_line(const std::string &prefix, int timeout_ms, std::string *line = nullptr);
    std::vector<std::string> lines() const;
    void stop();
    ~peer_proc() { stop(); }
};
std::string q931peer_path();

// A device opened with the port's application layer taken the way the ISDN
// library does it (entity, stack info, new layer, register); 0, or -1 (fid
// is then the device opened, or -1).
struct app_layer {
    int fid = -1;
    uint32_t stid = 0, upper = 0, lower = 0;
};
int open_app_layer(int port, bool nt, app_layer *out);

struct frame {
    iframe_t h{};
    std::vector<uint8_t> data;
};

// Elements of a layer-3 request, as (identifier, content) pairs.
using ie_list = std::vector<std::pair<uint8_t, std::vector<uint8_t>>>;
// A Q.931 info record with the elements, as the data of a TE frame.
std::vector<uint8_t> info_data(const ie_list &ies);
// The content of an element of a received TE frame (found through the
// record), empty when absent.
std::vector<uint8_t> info_ie(const frame &f, uint8_t ie);

// An application on a TE port: the set-up steps the ISDN library makes.
struct te_app {
    int fid = -1;
    int port = 0;
    uint32_t upper = 0;
    std::vector<frame> pending;
    bool open(int port);
    void close();
    int write(uint32_t prim, int dinfo, const std::vector<uint8_t> &data = {});
    // Takes the first frame with this primitive (others stay), reading the
    // device for up to timeout_ms.
    bool wait(uint32_t prim, int timeout_ms, frame *out = nullptr);
    bool wait_cc(uint8_t mt, uint32_t cmd, int timeout_ms, frame *out = nullptr);
    ~te_app() { close(); }
};

// One layer-3 indication of the network library.
struct nt_ind {
    uint32_t prim = 0;
    int dinfo = 0;
    int word = 0;  // CC_SETUP|CONFIRM: the new process id
    int ces = 0;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> ies;
    std::vector<uint8_t> ie(uint8_t id) const;
};

// An application on an NT port: the device set-up and the network library,
// pumped from the test's own thread the way the ISDN library's threads do.
struct nt_app {
    int fid = -1;
    int port = 0;
    uint32_t upper = 0, lower = 0, si_id = 0;
    net_stack_t nst{};
    manager_t mgr{};
    std::vector<nt_ind> inds;
    std::mutex lock;          // the port lock: one entry of the stack at a time
    std::thread pumper;       // reads the device like the library's catcher thread
    std::atomic<bool> running{false};
    bool open(int port, bool ptp, int features = 0);
    void close();
    // A layer-3 request with elements.
    int request(uint32_t prim, int dinfo, const ie_list &ies = {});
    // Waits until an indication with this primitive is there; takes it.
    bool wait(uint32_t prim, int timeout_ms, nt_ind *out = nullptr);
    ~nt_app() { close(); }
};

// The capture of a trace: each frame's text from tshark fields (one line per
// frame), or with a display filter the matching frames only.
std::vector<std::string> tshark_fields(const std::string &trace, const std::string &filter,
                                       const std::vector<std::string> &fields,
                                       const std::string &options = "");
// Frames of a trace that tshark marks malformed or as errors.
size_t tshark_bad_frames(const std::string &trace, const std::string &options = "");
