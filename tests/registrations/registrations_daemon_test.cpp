// The daemon starts the registrations of its SIP peers at the end of start-up,
// each on its registration machine, and sends the first REGISTER at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "e2e.h"

namespace {

int count(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

TEST(RegistrationsDaemon, PeersRegisterAtStart)
{
    e2e_world w;
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.sip", w.root.default_sip() +
                                          "[provider]\nsip_stack=localhost\nsip_proxy=127.0.0.1:5999\n"
                                          "user=alice,bob\nregister=yes\n"
                                          "[watched]\nsip_stack=localhost\nsip_proxy=127.0.0.1:5998\n"
                                          "user=carol\nvalidation=1\n");
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::string out = w.tarn_out();
    EXPECT_EQ(count(out, "sending registration request to sip:127.0.0.1:5999"), 2) << out;
    EXPECT_EQ(count(out, "sending registration request to sip:127.0.0.1:5998"), 1) << out;
    EXPECT_EQ(count(out, "CRITICAL: create_statemachine_sipreg not built"), 0) << out;
    EXPECT_EQ(count(out, "CRITICAL: send_default_register_request not built"), 0) << out;
    EXPECT_EQ(count(out, "Sending manual re-register request with new handle"), 2) << out;
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

} // namespace
