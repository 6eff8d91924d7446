// The SIP robustness corpora against the running daemon: every RFC 4475
// torture message and every PROTOS c07-sip case (placeholders filled, each
// INVITE followed by its teardown) over UDP at a bounded rate. Afterwards
// the daemon is the same process, answers OPTIONS with 200, and PROTOS case
// 0 (the valid reference INVITE) gets the answer it got before the run.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "run_process.h"
#include "sipp_case.h"

namespace {

std::string line_of(const std::string &out, const std::string &key)
{
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);)
        if (l.rfind(key + " ", 0) == 0)
            return l.substr(key.size() + 1);
    return "";
}

// The corpora folder "shared/data" beside the checkout or one of its
// parents ("" when there is none).
std::string shared_data()
{
    std::string dir = TARN_SOURCE_DIR;
    while (!dir.empty()) {
        std::string p = dir + "/../shared/data";
        if (!read_text_file(p + "/README.md").empty())
            return p;
        size_t slash = dir.find_last_of('/');
        dir = slash == std::string::npos ? "" : dir.substr(0, slash);
    }
    return "";
}

TEST(SipCorpus, TortureAndProtosCases)
{
    const std::string data = shared_data();
    const std::string protos = data + "/sip-protos-c07/cases", torture = data + "/sip-torture-rfc4475";
    if (read_text_file(protos + "/0000000").empty())
        GTEST_SKIP() << "no corpora at " << data;

    e2e_options o = sipp_world_options();
    o.capture = false; // some 9,000 datagrams: the daemon's own lines tell enough
    e2e_world w(o);
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip", "[general]\nsip_bindport_localhost = @SIP_PORT@\n");
    // Every request that parses goes the whole way: a line, its 155, the
    // admission toward an ISDN port that is not there, the refusal.
    w.root.write("usr/conf/tarn.dialplan", "SIP\tISDN\t*\t1\t*\t\\0\t*\t\\0\t\n");
    sipp_keep_on_failure(w);
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "2"})) << w.tarn_err();
    pid_t pid = w.tarn_pid();

    process_result r = w.ns.run({"python3", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip_sender.py", "corpus",
                                 "--port", std::to_string(w.root.sip_port), "--protos", protos, "--torture", torture,
                                 "--rate", "600"},
                                "", {}, 240);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::cout << r.out;
    EXPECT_EQ(line_of(r.out, "sent"), std::to_string(50 + 2 * 4527));
    EXPECT_NE(line_of(r.out, "answers"), "0");
    std::string before = line_of(r.out, "case0-before"), after = line_of(r.out, "case0-after");
    EXPECT_EQ(before.substr(0, 4), "486 ") << before;
    EXPECT_EQ(after, before);

    EXPECT_TRUE(w.tarn_running());
    EXPECT_EQ(w.tarn_pid(), pid);
    process_result opt = w.ns.run({"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/options.xml", "-m",
                                   "1", "-i", "127.0.0.1", "-p", "5899", "-timeout", "10s", "-timeout_error",
                                   "-nostdin", "127.0.0.1:" + std::to_string(w.root.sip_port)},
                                  "", {}, 30);
    EXPECT_TRUE(sipp_ok(opt)) << "no 200 to OPTIONS after the run";
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
