// The call-authorization query against a loopback stand-in server
// (auth_server.py): acceptance with a redirect, REJECT in one piece and in
// two, an empty answer after a REJECT, other statuses, no answer within a
// second, the escaped query; and the answer reader on its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "application.h"
#include "call_authorization.h"
#include "call_object.h"
#include "run_process.h"

namespace {

TEST(CallAuthorizationResponse, FlatJsonPieces)
{
    const struct {
        const char *text;
        int action;
        const char *redirect;
    } cases[] = {
        {"{\"action\":\"REJECT\",\"redirectLocation\":null}", 1, ""},
        {"{\"action\":\"ACCEPT\",\"redirectLocation\":\"4930123\"}", 0, "4930123"},
        {"{\"redirectLocation\":\"49\",\"action\":\"REJECT\"}", 1, "49"},
        {"{\"action\":\"REJECTED\"}", 0, ""},
        {"{\"action\": \"REJECT\"}", 0, ""}, // read as flat JSON without blanks
        {"{\"action\":\"reject\"}", 0, ""},
        {"", 0, ""},
        {"{{{,,,}}}\"\"", 0, ""},
        {"redirectLocation:", 0, ""},
        {"redirectLocation:0123456789012345678901234567890123456789012345678901234567890123456789", 0,
         "012345678901234567890123456789012345678901234567890123456789012"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        int action = -1;
        char redirect[64] = "x";
        parse_call_authorization_response(c.text, &action, redirect, sizeof redirect);
        EXPECT_EQ(action, c.action);
        EXPECT_STREQ(redirect, c.redirect);
    }
}

TEST(CallAuthorizationResponse, RedirectChecks)
{
    for (const char *ok : {"4930123", "+4930@host", "sip-user.1"})
        EXPECT_TRUE(call_authorization_redirect_usable(ok)) << ok;
    for (const char *bad : {"", "null", "NULL", "49 30", "49\t30", "a\r\nVia: x", "<sip:1>", "a\"b", "x\x7f"})
        EXPECT_FALSE(call_authorization_redirect_usable(bad)) << bad;
}

class CallAuthorization : public ::testing::Test {
protected:
    static void SetUpTestSuite() { application_create(); }
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarn-auth-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        std::string portfile = dir_ + "/port";
        log_ = dir_ + "/requests";
        pid_ = fork();
        if (pid_ == 0) {
            execlp("python3", "python3", (std::string(TARN_SOURCE_DIR) + "/tests/callctl/auth_server.py").c_str(),
                   portfile.c_str(), log_.c_str(), (char *)nullptr);
            _exit(127);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (read_text_file(portfile).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        port_ = read_text_file(portfile);
        ASSERT_FALSE(port_.empty()) << "the stand-in server did not start";
        co_ = call_object{};
        co_.pid = 42;
    }
    void TearDown() override
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str())) {
        }
    }
    int ask(const char *path, int policy, const char *called = "4930", const char *calling = "0301234")
    {
        co_.cc.call_authorization_default_policy = policy;
        std::string url = "http://127.0.0.1:" + port_ + path;
        return call_query_authorization_server(&co_, url.c_str(), "", 0, 1, co_.pid, called, calling);
    }
    std::string dir_, log_, port_;
    pid_t pid_ = -1;
    call_object co_;
};

TEST_F(CallAuthorization, AnswersOfTheServer)
{
    const struct {
        const char *path;
        int policy;
        int result;
        const char *to_user; // after the query ("-" : untouched)
    } cases[] = {
        {"/accept", 0, 1, "4930123"},
        {"/reject", 0, 0, "-"},
        {"/split", 0, 0, "-"},
        {"/empty", 0, 1, "-"}, // right after a REJECT: judged on its own
        {"/denied", 0, 1, "-"},
        {"/nothing", 1, 0, "-"},
        {"/accept", 1, 0, "4930123"}, // only REJECT changes the default
        {"/badredirect", 0, 1, "-"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path + std::string(" policy ") + std::to_string(c.policy));
        snprintf(co_.mangled.pstn_to_sip.to_user, sizeof co_.mangled.pstn_to_sip.to_user, "-");
        EXPECT_EQ(ask(c.path, c.policy), c.result);
        EXPECT_STREQ(co_.mangled.pstn_to_sip.to_user, c.to_user);
    }
}

// No answer within a second: the default policy, after about a second.
TEST_F(CallAuthorization, SilentServerGivesThePolicy)
{
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ask("/slow", 1), 0);
    EXPECT_EQ(ask("/slow", 0), 1);
    auto spent = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(spent, std::chrono::seconds(5)) << "each query is bounded by its 1 s time-out";
}

// Caller and callee are escaped; the id, gateway id and direction follow.
TEST_F(CallAuthorization, QueryIsEscaped)
{
    snprintf(co_.cc.call_authorization_direction, sizeof co_.cc.call_authorization_direction, "in");
    EXPECT_EQ(ask("/accept", 0, "49&x=1 2", "#31#"), 1);
    EXPECT_EQ(read_text_file(log_), "/accept?id=42&caller=%2331%23&callee=49%26x%3D1%202&gatewayId=00000&direction=in\n");
}

} // namespace
