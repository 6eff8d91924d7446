// The world a whole-daemon test runs tarn in.
//
// e2e_namespace is a private network and mount namespace held open by a
// small holder process: loopback up, each requested interface as one end of
// a veth pair with its address, and a private tmpfs on /tmp (the test's own
// directories below /tmp are carried across at the same paths, so the test
// reads what the daemon writes without any translation). Programs started
// through it (tarn, sipp, ss, dumpcap) run inside; nothing touches the
// machine's own network.
//
// e2e_world puts a TARN_ROOT (conf_root, with the simulated media processor)
// and a namespace together, starts tarn and waits until it is up, stops it
// with SIGTERM, and when the test has failed prints the daemon's streams, its
// log files, the simulator's record and a summary of the capture.
//
//     e2e_world w;
//     E2E_REQUIRE(w);
//     w.root.write("usr/conf/tarn.sip", "...");
//     ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
//     process_result r = w.ns.run({"ss", "-lnu"});
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "conf_root.h"
#include "run_process.h"

// The bound of a wait for something that must come (the daemon up, a far
// end listening, a line printed): the wait ends as soon as it is there, the
// bound only ends a test whose event never comes. Generous, since a loaded
// machine (the whole-daemon tests side by side beside other work) takes
// many seconds to start a Python simulator, sipp or tshark.
constexpr int E2E_WAIT_MS = 60000;

struct e2e_iface {
    std::string name;           // inside the namespace, e.g. "eth1"
    std::string cidr;           // e.g. "10.0.0.1/24"; empty: no address
    std::string peer_cidr = ""; // the pair's other end ("<name>-peer"); empty: no address
};

// Descriptors of the holder's user (or -1), network and mount namespaces.
struct e2e_ns_fds {
    int user = -1, net = -1, mnt = -1;
};

class e2e_namespace {
public:
    // carry: directories below /tmp that must stay visible inside.
    e2e_namespace(const std::vector<e2e_iface> &ifaces, const std::vector<std::string> &carry);
    ~e2e_namespace();
    e2e_namespace(const e2e_namespace &) = delete;
    e2e_namespace &operator=(const e2e_namespace &) = delete;

    bool ok() const { return holder_ > 0; }
    const std::string &error() const { return error_; }

    // Starts argv inside with the test's environment plus env; the three
    // descriptors become its standard streams (-1: /dev/null). The process
    // is killed when the test process ends.
    pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                int in_fd = -1, int out_fd = -1, int err_fd = -1) const;
    // Runs argv inside to its end (killed after timeout_s).
    process_result run(const std::vector<std::string> &argv, const std::string &input = "",
                       const std::vector<std::string> &env = {}, int timeout_s = 30) const;
    // The MAC address of an interface inside ("aa:bb:..."), or "".
    std::string mac(const std::string &ifname) const;
    // Moves the calling thread into the namespace's network (sockets and
    // interface look-ups of in-process code then see it) until the guard
    // ends; needs root. ok() tells whether it worked.
    class net_guard {
    public:
        explicit net_guard(const e2e_namespace &ns);
        ~net_guard();
        net_guard(const net_guard &) = delete;
        net_guard &operator=(const net_guard &) = delete;
        bool ok() const { return entered_; }

    private:
        int own_ = -1;
        bool entered_ = false;
    };
    // A hook for run_process_in and mspsim_runner that enters the namespace.
    process_hook hook() const;
    const void *hook_ctx() const { return &fds_; }

private:
    pid_t holder_ = -1;
    e2e_ns_fds fds_;
    std::string error_;
};

struct e2e_options {
    // eth1 is the media processor's link too (interface_msp defaults to
    // it): its other end has the processor's own address, where the
    // daemon's start-up rules send RTP. A host address: the namespace's
    // one route to 10.0.0.0/24 stays on eth1.
    std::vector<e2e_iface> ifaces = {{"eth1", "10.0.0.1/24", "10.0.0.2/32"}};
    bool media_processor = true;
    // Extra arguments of sim/mspsim. Without "--rtp-address" the simulator
    // carries RTP on the address of the first interface's other end.
    std::vector<std::string> msp_args;
    bool capture = true;               // dumpcap on every interface while the test runs
    // A capture filter ("udp port 5070"); "@SIP_PORT@" stands for the root's
    // localhost SIP port. Empty: everything.
    std::string capture_filter;
    std::string capture_iface = "any"; // the interface dumpcap listens on
};

class e2e_world {
public:
    explicit e2e_world(const e2e_options &o = e2e_options());
    ~e2e_world();
    e2e_world(const e2e_world &) = delete;
    e2e_world &operator=(const e2e_world &) = delete;

    bool ok() const { return ns.ok() && (!opt.media_processor || (root.msp() && root.msp()->ok())); }
    std::string error() const;

    e2e_options opt;
    conf_root root;   // TARN_ROOT with a minimal configuration
    e2e_namespace ns; // where tarn and its peers run

    // Starts tarn with args and extra environment and waits until start-up
    // has finished ("Initialization finished successfully" in its standard
    // output, so args keep "-o" and a TARN level of 2 or more). False when
    // tarn ended or did not get there in time; see tarn_status().
    bool start_tarn(const std::vector<std::string> &args = {"-o", "-l", "9"},
                    const std::vector<std::string> &env = {});
    // Starts tarn and waits for its end: its exit status (128+signal).
    int run_tarn_to_exit(const std::vector<std::string> &args = {"-o", "-l", "9"},
                         const std::vector<std::string> &env = {}, int timeout_s = 60);
    // SIGTERM, then the end of the process: its status.
    int stop_tarn();
    // The end of tarn without a signal (bounded): its status, or -1.
    int wait_tarn_exit(int timeout_s = 60);
    bool tarn_running() const { return tarn_pid_ > 0; }
    pid_t tarn_pid() const { return tarn_pid_; }
    int tarn_status() const { return tarn_status_; }
    // A console line on tarn's standard input; closing it ends the console.
    void console(const std::string &line);
    void close_console();
    std::string tarn_out() const;
    std::string tarn_err() const;
    // The capture file ("" without a capture); complete once stop_capture ran.
    const std::string &capture_path() const { return capture_path_; }
    void stop_capture();

    // Bounded poll: true as soon as cond() holds, false after timeout_ms.
    static bool wait_for(const std::function<bool()> &cond, int timeout_ms);
    // Waits until tarn's standard output (or error) holds text.
    bool wait_out(const std::string &text, int timeout_ms = E2E_WAIT_MS) const;
    bool wait_err(const std::string &text, int timeout_ms = E2E_WAIT_MS) const;

private:
    bool reap(int timeout_ms);
    void start_capture();
    void report() const;
    pid_t tarn_pid_ = -1;
    int tarn_status_ = -1;
    int tarn_in_ = -1;
    pid_t capture_pid_ = -1;
    std::string out_path_, err_path_, capture_path_;
};

// A test that cannot have its namespace fails as root (CI) and is skipped
// otherwise.
#define E2E_REQUIRE(w)                                                                  \
    do {                                                                                \
        if (!(w).ok()) {                                                                \
            if (geteuid() == 0)                                                         \
                FAIL() << "whole-daemon world not available: " << (w).error();          \
            GTEST_SKIP() << "whole-daemon world not available: " << (w).error();        \
        }                                                                               \
    } while (0)

// A process started inside a world's namespace with its standard output and
// error in TARN_ROOT/<name>.out; killed with the object.
struct e2e_child {
    std::string out;
    pid_t pid = -1;
    e2e_child(const e2e_world &w, const std::string &name, const std::vector<std::string> &argv);
    ~e2e_child();
    e2e_child(const e2e_child &) = delete;
    e2e_child &operator=(const e2e_child &) = delete;
    std::string text() const;
    // Waits (bounded) until the process printed text.
    bool wait(const std::string &text, int ms = E2E_WAIT_MS) const;
    // The exit status once the process ended (bounded), else -1.
    int wait_exit(int ms);
};

// Waits (bounded) until a socket listens on addr:port (UDP) inside the
// world, e.g. a sipp far end ready for the gateway's INVITE.
bool e2e_udp_listening(const e2e_world &w, const std::string &addr, int port, int ms = E2E_WAIT_MS);

// sim/q931peer inside a world's namespace (the ISDN far end), its lines in
// TARN_ROOT/<name>.out.
struct e2e_q931_peer : e2e_child {
    e2e_q931_peer(const e2e_world &w, const std::vector<std::string> &args, const std::string &name = "peer");
};

// The Q.931 messages of a D-channel trace (the mISDN stand-in's trace file,
// read through text2pcap and tshark), one line per message that passes the
// display filter (and "q931"), the fields separated by tabs ("0x05" for a
// SETUP; a field that occurs more than once gives its values separated by
// commas).
std::vector<std::string> e2e_q931_messages(const std::string &trace, const std::string &filter,
                                           const std::vector<std::string> &fields);
