// SIP cases against the whole daemon: sipp scenarios sent to the running
// tarn inside its world (e2e.h), with the capture read back by tshark.
//
//     e2e_world w(sipp_world_options());
//     E2E_REQUIRE(w);
//     sipp_write_config(w, "usr/conf/tarn.sip", template_text);
//     ASSERT_TRUE(sipp_start_tarn(w));                 // up and answering OPTIONS
//     EXPECT_TRUE(sipp_ok(sipp_run(w, {"notify.xml", 1, "127.0.0.2"})));
//     EXPECT_EQ(sipp_stop_tarn(w), "");                // SIGTERM, no sanitizer report
//
// A test that fails keeps its TARN_ROOT (daemon streams and logs, the sipp
// message traces in "sipp/", the capture) and prints where it is.
#pragma once
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"

struct sipp_step {
    std::string scenario;             // a file name below tests/e2e/sip, or an absolute path
    int calls = 1;                    // -m
    std::string source = "127.0.0.1"; // -i: the sender's address
    std::vector<std::string> extra;   // more sipp arguments ("-key", "k", "v", ...)
    int seconds = 15;                 // -timeout: the longest the scenario may take
};

// A world for SIP cases: the capture holds the daemon's SIP ports only.
e2e_options sipp_world_options();

// Writes a configuration file from a template: "@SIP_PORT@" is the
// localhost stack's port, "@ROOT@" the TARN_ROOT.
std::string sipp_fill(const e2e_world &w, const std::string &tmpl);
void sipp_write_config(const e2e_world &w, const std::string &rel, const std::string &tmpl);

// Starts tarn (with extra environment) and waits (bounded) until an OPTIONS
// to the localhost stack is answered; false when tarn did not get there.
bool sipp_start_tarn(e2e_world &w, const std::vector<std::string> &env = {});

// Runs one scenario against the localhost stack: sipp -sf X -m N -timeout
// 15s (the step's seconds) -nostdin -trace_msg, its message trace in TARN_ROOT/sipp/. Returns
// sipp's result (exit status 0: every call succeeded).
process_result sipp_run(const e2e_world &w, const sipp_step &step);

// The SIP messages in the capture that pass a display filter, as tshark
// decodes them (every datagram to or from the daemon's port as SIP): one line
// per message, the fields separated by tabs (a field found more than once
// gives its values separated by commas). Waits until the capture holds
// everything sent so far, then stops it.
std::vector<std::string> sipp_captured_sip(e2e_world &w, const std::string &filter,
                                           const std::vector<std::string> &fields);

// The SIP responses in the capture as tshark decodes them, one
// "CODE METHOD" (status and CSeq method) per response, in order.
std::vector<std::string> sipp_captured_responses(e2e_world &w);

// Stops tarn with SIGTERM: "" when its orderly stop ended with status 0
// and it wrote no sanitizer report, else what went wrong.
std::string sipp_stop_tarn(e2e_world &w);

// Marks the world's root to stay in place when the test has failed.
void sipp_keep_on_failure(e2e_world &w);

// sipp's exit status 0, else a failure carrying its output.
::testing::AssertionResult sipp_ok(const process_result &r);
