#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <sofia-sip/nta.h>
#include <sofia-sip/nta_stateless.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_log.h>
#include <sofia-sip/su_wait.h>

#include <string>
#include <vector>

#include "log_sip.h"
#include "log_test_util.h"

namespace {

void logger(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    sofia_msg_logger(nullptr, fmt, ap);
    va_end(ap);
}

class Sip : public LogDir {
protected:
    std::string file;
    void SetUp() override
    {
        LogDir::SetUp();
        file = path("sofia.log");
        snprintf(log_backend()->sofia_log_path, sizeof log_backend()->sofia_log_path, "%s",
                 file.c_str());
        log_backend()->sofia_log_max_filesize = 50000;
        log_backend()->sofia_log_fp = fopen(file.c_str(), "w");
        traced.clear();
        tarn_log_sip = record;
    }
    void TearDown() override
    {
        tarn_log_sip = nullptr;
        LogDir::TearDown();
    }
    static std::vector<std::pair<std::string, std::string>> traced;
    static void record(const char *stamp, const char *payload) { traced.emplace_back(stamp, payload); }
};
std::vector<std::pair<std::string, std::string>> Sip::traced;

TEST_F(Sip, StackLogFileKeepsOnlyWholeUnindentedTexts)
{
    struct {
        const char *text;
        bool written;
    } cases[] = {
        {"   INVITE sip:a@b SIP/2.0", false}, {"\n", false}, {"x", false},
        {"ab", true}, {"nta: timer set\n", true}, {"", false},
    };
    std::string expect;
    for (auto &c : cases) {
        logger("%s", c.text);
        if (c.written)
            expect += c.text;
    }
    EXPECT_EQ(slurp(file), expect);

    // Past its size the file starts again, empty.
    log_backend()->sofia_log_max_filesize = 20;
    logger("%s %d\n", "long enough to pass the limit", 1);
    logger("fresh %d\n", 2);
    EXPECT_EQ(slurp(file), "fresh 2\n");

    // A file that cannot be opened again silently ends the output.
    log_backend()->sofia_log_max_filesize = 1;
    snprintf(log_backend()->sofia_log_path, sizeof log_backend()->sofia_log_path, "%s",
             path("missing/sofia.log").c_str());
    logger("lost\n");
    EXPECT_EQ(log_backend()->sofia_log_fp, nullptr);
    logger("lost too\n");
    EXPECT_EQ(slurp(file), "fresh 2\n");
}

TEST_F(Sip, CallbackWritesNmessagesByDirection)
{
    const std::string n1 = path("nlog.1");
    update_nlogrotate_list(n1.c_str());
    tarn_sofia_log_callback("recv 40 bytes from udp/[127.0.0.1]:5060 at 10:00:00.000001:",
                            "OPTIONS sip:x SIP/2.0\nCSeq: 1 OPTIONS\n");
    tarn_sofia_log_callback("send 20 bytes to udp/[127.0.0.1]:5060 at 10:00:00.000002:",
                            "SIP/2.0 200 OK\n");
    log_levels_nmessage_enabled = 0;
    tarn_sofia_log_callback("recv 1 bytes", "dropped\n");
    log_levels_nmessage_enabled = 1;
    EXPECT_EQ(untimed(slurp(n1)),
              "TS|LV2-SIP     : SIP RX: recv 40 bytes from udp/[127.0.0.1]:5060 at "
              "10:00:00.000001:<<<<<<<<\nOPTIONS sip:x SIP/2.0\nCSeq: 1 OPTIONS\n<<<<<<<<\n"
              "TS|LV2-SIP     : SIP TX: send 20 bytes to udp/[127.0.0.1]:5060 at "
              "10:00:00.000002:>>>>>>>>\nSIP/2.0 200 OK\n>>>>>>>>\n");
}

const char SEP[] = "------------------------------------------------------------------------\n";

// The pieces the library's transport logs for one message: stamp,
// separator, each line indented with its line end logged apart, separator.
void trace_pieces(const char *stamp, const std::vector<std::string> &lines, bool ends_in_newline)
{
    su_log("%s", stamp);
    su_log("   %s", SEP);
    for (size_t i = 0; i < lines.size(); i++) {
        su_log("%s%.*s", "   ", (int)lines[i].size(), lines[i].c_str());
        if (i + 1 < lines.size() || ends_in_newline)
            su_log("\n");
    }
    su_log("%s   %s", ends_in_newline ? "" : "\n", SEP);
}

TEST_F(Sip, RedirectedLibraryLogIsPutBackTogether)
{
    tarn_sofia_log_redirect();
    su_log("nta: some library notice %d\n", 5);
    trace_pieces("recv 51 bytes from udp/[127.0.0.1]:5062 at 10:11:12.000013:\n",
                 {"OPTIONS sip:gw SIP/2.0", "Call-ID: abc@host", "", "body"}, false);
    su_log("%s", "send 17 bytes to udp/[127.0.0.1]:5062 at 10:11:12.000020:\n");
    su_log("unrelated line\n"); // a stamp without its separator is no message
    trace_pieces("send 17 bytes to udp/[127.0.0.1]:5062 at 10:11:12.000021:\n",
                 {"SIP/2.0 200 OK", "Call-ID: abc@host"}, true);

    ASSERT_EQ(traced.size(), 2u);
    EXPECT_EQ(traced[0].first, "recv 51 bytes from udp/[127.0.0.1]:5062 at 10:11:12.000013:");
    EXPECT_EQ(traced[0].second, "OPTIONS sip:gw SIP/2.0\nCall-ID: abc@host\n\nbody\n");
    EXPECT_EQ(traced[1].first, "send 17 bytes to udp/[127.0.0.1]:5062 at 10:11:12.000021:");
    EXPECT_EQ(traced[1].second, "SIP/2.0 200 OK\nCall-ID: abc@host\n");
    // The file got the unindented pieces, each formatted from its own
    // arguments a second time (the closing separator of a message without
    // a final line end comes as one piece that begins with that line end).
    EXPECT_EQ(slurp(file),
              "nta: some library notice 5\n"
              "recv 51 bytes from udp/[127.0.0.1]:5062 at 10:11:12.000013:\n"
              "\n   " + std::string(SEP) +
              "send 17 bytes to udp/[127.0.0.1]:5062 at 10:11:12.000020:\n"
              "unrelated line\n"
              "send 17 bytes to udp/[127.0.0.1]:5062 at 10:11:12.000021:\n");
}

// The daemon's own hook writes nothing while nmessage logging is off, so
// the traced lines are not put together then; a message that was being
// traced when logging came on is not finished with the lines of another.
TEST_F(Sip, DaemonHookGetsMessagesOnlyWhileNmessagesAreLogged)
{
    const std::string n1 = path("nlog.1");
    update_nlogrotate_list(n1.c_str());
    tarn_log_sip = tarn_sofia_log_callback;
    tarn_sofia_log_redirect();
    log_levels_nmessage_enabled = 0;
    trace_pieces("recv 9 bytes from udp/[127.0.0.1]:5062 at 10:11:12.000001:\n", {"OPTIONS quiet"}, true);
    su_log("%s", "recv 9 bytes from udp/[127.0.0.1]:5062 at 10:11:12.000002:\n");
    su_log("   %s", SEP);
    su_log("%s%s", "   ", "INVITE cut");
    log_levels_nmessage_enabled = 1;
    su_log("\n");
    su_log("   %s", SEP);
    // Begun while on, cut by the switch off, closed once it is on again.
    su_log("%s", "recv 9 bytes from udp/[127.0.0.1]:5062 at 10:11:12.000004:\n");
    su_log("   %s", SEP);
    su_log("%s%s", "   ", "BYE begun");
    su_log("\n");
    log_levels_nmessage_enabled = 0;
    su_log("%s%s", "   ", "BYE unseen");
    su_log("\n");
    log_levels_nmessage_enabled = 1;
    su_log("   %s", SEP);
    trace_pieces("send 9 bytes to udp/[127.0.0.1]:5062 at 10:11:12.000003:\n", {"SIP/2.0 200 OK"}, true);
    EXPECT_EQ(untimed(slurp(n1)),
              "TS|LV2-SIP     : SIP TX: send 9 bytes to udp/[127.0.0.1]:5062 at "
              "10:11:12.000003:>>>>>>>>\nSIP/2.0 200 OK\n>>>>>>>>\n");
    // The stack log file had every stamp all the same.
    std::string f = slurp(file);
    EXPECT_NE(f.find("10:11:12.000001"), std::string::npos);
    EXPECT_NE(f.find("10:11:12.000002"), std::string::npos);
}

int answer(nta_agent_magic_t *, nta_agent_t *agent, msg_t *msg, sip_t *)
{
    nta_msg_treply(agent, msg, SIP_200_OK, TAG_END());
    return 0;
}

TEST_F(Sip, RealStackTracesWhatItReceivesAndSends)
{
    setenv("TPORT_LOG", "1", 1);
    tarn_sofia_log_redirect();
    ASSERT_EQ(su_init(), 0);
    su_root_t *root = su_root_create(nullptr);
    ASSERT_NE(root, nullptr);
    nta_agent_t *agent = nta_agent_create(root, URL_STRING_MAKE("sip:127.0.0.1:*;transport=udp"),
                                          answer, nullptr, TAG_END());
    ASSERT_NE(agent, nullptr);
    const sip_contact_t *m = nta_agent_contact(agent);
    ASSERT_NE(m, nullptr);
    int port = atoi(m->m_url->url_port);
    ASSERT_GT(port, 0);

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string req = "OPTIONS sip:gw@127.0.0.1:" + std::to_string(port) +
                      " SIP/2.0\r\n"
                      "Via: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bK-tarn-1\r\n"
                      "Max-Forwards: 70\r\n"
                      "From: <sip:t@127.0.0.1>;tag=1\r\n"
                      "To: <sip:gw@127.0.0.1>\r\n"
                      "Call-ID: trace-test-1@127.0.0.1\r\n"
                      "CSeq: 1 OPTIONS\r\n"
                      "Content-Length: 0\r\n\r\n";
    sendto(fd, req.data(), req.size(), 0, (sockaddr *)&to, sizeof to);
    for (int i = 0; i < 100 && traced.size() < 2; i++)
        su_root_step(root, 20);
    close(fd);
    nta_agent_destroy(agent);
    su_root_destroy(root);
    su_deinit();
    unsetenv("TPORT_LOG");

    ASSERT_EQ(traced.size(), 2u);
    EXPECT_EQ(traced[0].first.rfind("recv " + std::to_string(req.size()) + " bytes from udp/", 0), 0u)
        << traced[0].first;
    EXPECT_EQ(traced[0].second.rfind("OPTIONS sip:gw@127.0.0.1:", 0), 0u) << traced[0].second;
    EXPECT_NE(traced[0].second.find("Call-ID: trace-test-1@127.0.0.1\n"), std::string::npos);
    EXPECT_EQ(traced[1].first.rfind("send ", 0), 0u) << traced[1].first;
    EXPECT_EQ(traced[1].second.rfind("SIP/2.0 200 OK\n", 0), 0u) << traced[1].second;
    EXPECT_NE(traced[1].second.find("Call-ID: trace-test-1@127.0.0.1\n"), std::string::npos);
    // The stack log file has the stamps but not the indented message lines.
    std::string f = slurp(file);
    EXPECT_NE(f.find(traced[0].first), std::string::npos);
    EXPECT_EQ(f.find("Call-ID: trace-test-1"), std::string::npos);
}

} // namespace
