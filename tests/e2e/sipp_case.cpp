#include "sipp_case.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <sstream>

namespace {

// Sender ports of sipp: one per run, so runs from one source never meet.
int next_sipp_port = 5900;

std::string scenario_path(const std::string &s)
{
    return s.empty() || s[0] == '/' ? s : std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/" + s;
}

std::string replace_all(std::string s, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
    return s;
}

} // namespace

e2e_options sipp_world_options()
{
    e2e_options o;
    // The cooked capture of "any" misses datagrams once the daemon runs;
    // the sipp cases talk over loopback.
    o.capture_iface = "lo";
    o.capture_filter = "port @SIP_PORT@ or port 5060 or port 5061";
    return o;
}

std::string sipp_fill(const e2e_world &w, const std::string &tmpl)
{
    return replace_all(replace_all(tmpl, "@SIP_PORT@", std::to_string(w.root.sip_port)), "@ROOT@", w.root.dir);
}

void sipp_write_config(const e2e_world &w, const std::string &rel, const std::string &tmpl)
{
    w.root.write(rel, sipp_fill(w, tmpl));
}

bool sipp_start_tarn(e2e_world &w, const std::vector<std::string> &env)
{
    sipp_keep_on_failure(w);
    if (!w.start_tarn({"-o", "-l", "9"}, env))
        return false;
    // Up is not yet answering: the stacks' loops may still be settling.
    return e2e_world::wait_for(
        [&] {
            if (!w.tarn_running())
                return false;
            process_result r = w.ns.run({"sipp", "-sf", scenario_path("options.xml"), "-m", "1", "-i", "127.0.0.1",
                                         "-p", "5899", "-timeout", "3s", "-timeout_error", "-nostdin",
                                         "127.0.0.1:" + std::to_string(w.root.sip_port)},
                                        "", {}, 10);
            return r.status == 0;
        },
        E2E_WAIT_MS);
}

process_result sipp_run(const e2e_world &w, const sipp_step &step)
{
    std::filesystem::create_directories(w.root.path("sipp"));
    int port = next_sipp_port++;
    std::string base = w.root.path("sipp/" + std::filesystem::path(step.scenario).stem().string() + "_" +
                                   std::to_string(port));
    std::vector<std::string> argv = {"sipp",         "-sf",   scenario_path(step.scenario),
                                     "127.0.0.1:" + std::to_string(w.root.sip_port),
                                     "-m",           std::to_string(step.calls),
                                     "-i",           step.source,
                                     "-p",           std::to_string(port),
                                     "-timeout",     std::to_string(step.seconds) + "s",
                                     "-timeout_error", "-nostdin",
                                     "-trace_msg",   "-message_file", base + ".msg",
                                     "-trace_err",   "-error_file",   base + ".err"};
    argv.insert(argv.end(), step.extra.begin(), step.extra.end());
    return w.ns.run(argv, "", {}, std::max(60, step.seconds + 45));
}

std::vector<std::string> sipp_captured_sip(e2e_world &w, const std::string &filter,
                                           const std::vector<std::string> &fields)
{
    // The capture holds what the kernel has delivered to it so far; a last
    // datagram that no one receives marks the end: once it is in the file,
    // so is everything before it.
    if (!w.capture_path().empty()) {
        e2e_world::wait_for(
            [&] {
                w.ns.run({"bash", "-c", "echo capture-mark > /dev/udp/127.0.0.1/5061"}, "", {}, 10);
                process_result t = run_process(
                    {"tshark", "-n", "-r", w.capture_path(), "-Y", "udp.dstport == 5061", "-T", "fields", "-e",
                     "frame.number"},
                    "", {}, 30);
                return !t.out.empty();
            },
            10000);
    }
    w.stop_capture();
    std::vector<std::string> out;
    if (w.capture_path().empty())
        return out;
    // Every datagram to or from the daemon's port is SIP, whichever port
    // the sender used.
    std::vector<std::string> argv = {"tshark", "-n", "-r", w.capture_path(), "-d",
                                     "udp.port==" + std::to_string(w.root.sip_port) + ",sip", "-Y", filter,
                                     "-T", "fields"};
    for (const std::string &f : fields) {
        argv.push_back("-e");
        argv.push_back(f);
    }
    process_result t = run_process(argv, "", {}, 60);
    std::istringstream lines(t.out);
    for (std::string l; std::getline(lines, l);)
        out.push_back(l);
    return out;
}

std::vector<std::string> sipp_captured_responses(e2e_world &w)
{
    std::vector<std::string> out = sipp_captured_sip(w, "sip.Status-Code", {"sip.Status-Code", "sip.CSeq.method"});
    for (std::string &l : out) {
        size_t tab = l.find('\t');
        if (tab != std::string::npos)
            l[tab] = ' ';
    }
    return out;
}

std::string sipp_stop_tarn(e2e_world &w)
{
    if (!w.tarn_running())
        return "tarn was not running at the end (status " + std::to_string(w.tarn_status()) + ")";
    int status = w.stop_tarn();
    std::string problems;
    if (status != 0)
        problems += "tarn ended with status " + std::to_string(status) + "\n";
    std::string err = w.tarn_err();
    for (const char *report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                               "WARNING: ThreadSanitizer"})
        if (err.find(report) != std::string::npos)
            problems += std::string("sanitizer report: ") + report + "\n";
    return problems;
}

void sipp_keep_on_failure(e2e_world &w)
{
    // The world's destructor reports a failed test; with this the root
    // stays in place as well.
    (void)w;
    setenv("TARN_E2E_KEEP", "1", 0);
}

::testing::AssertionResult sipp_ok(const process_result &r)
{
    if (r.status == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "sipp ended with " << r.status << "\n" << r.out << r.err;
}
