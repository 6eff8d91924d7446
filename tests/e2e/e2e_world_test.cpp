// The whole-daemon world itself: what a test finds inside, and a daemon
// started, waited for and stopped in it.
#include <gtest/gtest.h>

#include <unistd.h>

#include "e2e.h"

namespace {

TEST(E2EWorld, PrivateNetworkAndTmp)
{
    e2e_options o;
    o.ifaces.push_back({"eth0", "10.0.1.5/24"});
    o.media_processor = false;
    o.capture = false;
    e2e_world w(o);
    E2E_REQUIRE(w);
    process_result r = w.ns.run({"ip", "-o", "-4", "addr", "show"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("lo    inet 127.0.0.1/8"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("eth1    inet 10.0.0.1/24"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("eth0    inet 10.0.1.5/24"), std::string::npos) << r.out;
    EXPECT_EQ(w.ns.mac("eth1").size(), 17u);
    r = w.ns.run({"ip", "-o", "link", "show", "eth1"});
    EXPECT_NE(r.out.find("eth1@eth1-peer"), std::string::npos) << "one end of a veth pair: " << r.out;

    // /tmp is private; the test's own root is there at the same path.
    std::string mark = "/tmp/e2e-mark-" + std::to_string(getpid());
    r = w.ns.run({"sh", "-c", "touch " + mark + " && ls -d " + w.root.dir});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(access(mark.c_str(), F_OK), 0) << "the namespace wrote into the machine's /tmp";
    EXPECT_EQ(r.out, w.root.dir + "\n");
}

TEST(E2EWorld, TarnStartsAndStopsInOrderOnSigterm)
{
    e2e_world w;
    E2E_REQUIRE(w);
    ASSERT_TRUE(w.start_tarn()) << w.tarn_status() << "\n" << w.tarn_err();
    EXPECT_TRUE(w.tarn_running());
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
    EXPECT_FALSE(w.tarn_running());
}

} // namespace
