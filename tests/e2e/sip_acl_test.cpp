// Access control in front of the SIP event hub: a source over its INVITE
// limit on the LAN stack reaches nothing of the daemon (no "S IND" line),
// and each of a flood of such requests has its handle destroyed at once,
// which the stack answers 480. The flood leaves the daemon's resident size
// where it was once the stack's transactions have ended and the freed pages
// have gone back.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "sipp_case.h"

namespace {

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        n++;
    return n;
}

// The resident size of a process in kB, or -1.
long resident_kb(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

TEST(SipAcl, RefusedSourceReachesNoLineAndLeavesNoHandle)
{
    e2e_options o = sipp_world_options();
    o.capture_iface = "eth1";
    e2e_world w(o);
    E2E_REQUIRE(w);
    sipp_write_config(w, "usr/conf/tarn.sip",
                      "[general]\nsip_bindport_localhost = @SIP_PORT@\nstack_active_lan = 1\n"
                      "interface_name_lan = eth1\n");
    // Without lines the daemon has one call object, and the stack lets
    // twice as many INVITEs wait for call control: a loaded machine falls
    // that far behind the flood in a moment, and the stack sheds the rest
    // with 503 before the access control sees them. Enough call objects
    // that all 500 may wait keep this test on the access control.
    w.root.write("usr/conf/tarn.conf", "[general]\nblacklist_max_invite_packets_lan = 2\n"
                                       "blacklist_invite_timeframe_lan = 3600\n"
                                       "experimental_options = nco=256\n");
    ASSERT_TRUE(sipp_start_tarn(w)) << w.tarn_err();

    // The stack works through its requests in order: once an OPTIONS
    // (not limited) is answered, every INVITE before it has been handled.
    auto drained = [&] {
        return w.ns.run({"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/options.xml", "-m", "1",
                         "-i", "10.0.0.1", "-p", "5898", "-timeout", "15s", "-timeout_error", "-nostdin",
                         "10.0.0.1:5060"},
                        "", {}, 30)
                   .status == 0;
    };
    auto flood = [&](int n) {
        process_result r = w.ns.run({"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/invite_480.xml",
                                     "-m", std::to_string(n), "-r", "250", "-i", "10.0.0.1", "-p", "5897",
                                     "-timeout", "30s", "-nostdin", "10.0.0.1:5060"},
                                    "", {}, 60);
        return r.status;
    };
    // The first INVITEs count up to the limit.
    EXPECT_EQ(flood(5), 0);
    ASSERT_TRUE(drained());
    int seen = count(w.tarn_out(), "S IND : nua_i_invite[");
    EXPECT_LE(seen, 3) << "the limit lets two through";
    long before = resident_kb(w.tarn_pid());
    ASSERT_GT(before, 0);

    // Every refused INVITE is answered 480 by the stack once its handle is
    // gone (sipp waits for that answer); the refusals reach no line.
    EXPECT_EQ(flood(500), 0);
    ASSERT_TRUE(drained());
    EXPECT_EQ(count(w.tarn_out(), "S IND : nua_i_invite["), seen) << "a refused request reached the hub";
    // Their transactions end 5 s after the ACKs; the free pages go back
    // within the 5 s after that.
    long after = 0;
    e2e_world::wait_for(
        [&] {
            after = resident_kb(w.tarn_pid());
            return after - before <= 1024;
        },
        30000);
    EXPECT_LE(after - before, 1024) << "500 refused INVITEs grew the daemon from " << before << " kB to " << after
                                    << " kB";
    EXPECT_EQ(sipp_stop_tarn(w), "");
}

} // namespace
