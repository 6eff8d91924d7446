// The SIP stack parameters and bind URLs, the stack look-ups, and a stack
// brought up in this process: OPTIONS answered by the interim hub, then the
// orderly shutdown and the main thread's join.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "application.h"
#include "cli.h"
#include "conf_root.h"
#include "nua_stack.h"
#include "sip_stack.h"

namespace {

sip_stack make(const char *ip, int transport, int port, int ssl_port)
{
    sip_stack ss = {};
    snprintf(ss.ip, sizeof ss.ip, "%s", ip);
    ss.transport = transport;
    ss.sip_port = port;
    ss.sip_ssl_port = ssl_port;
    return ss;
}

TEST(SipStackParams, BindUrlsAndSupported)
{
    const int U = SIP_TRANSPORT_UDP, T = SIP_TRANSPORT_TCP, S = SIP_TRANSPORT_TLS;
    struct {
        int transport, port, ssl_port;
        const char *sip, *sips;
        int final_port, final_ssl_port;
        const char *supported_prack;
    } rows[] = {
        {U | T, 0, 0, "sip:10.0.1.5:5060;transport=udp,tcp", "", 5060, 0, "timer, 100rel, replaces"},
        {S, 5070, 5070, "", "sips:10.0.1.5:5071;transport=tls", 5070, 5071, "timer, replaces"},
        {U | S, 0, 0, "sip:10.0.1.5:5060;transport=udp", "sips:10.0.1.5:5061;transport=tls", 5060, 5061,
         "timer, 100rel, replaces"},
        {T, 5080, 0, "sip:10.0.1.5:5080;transport=tcp", "", 5080, 0, "timer, replaces"},
        {T | S, 5090, 0, "sip:10.0.1.5:5090;transport=tcp", "sips:10.0.1.5:5091;transport=tls", 5090, 5091,
         "timer, replaces"},
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.sip + std::string(" / ") + r.sips);
        sip_stack ss = make("10.0.1.5", r.transport, r.port, r.ssl_port);
        sip_stack_bind_urls(&ss);
        EXPECT_STREQ(ss.nua_sip_string, r.sip);
        EXPECT_STREQ(ss.nua_sip_ssl_string, r.sips);
        EXPECT_EQ(ss.sip_port, r.final_port);
        EXPECT_EQ(ss.sip_ssl_port, r.final_ssl_port);
        EXPECT_STREQ(sip_stack_supported(&ss, 1), r.supported_prack);
        EXPECT_STREQ(sip_stack_supported(&ss, 0), "timer, replaces");
    }
    EXPECT_EQ(sofia_bind_url("sip:10.0.1.5:5060;transport=udp,tcp"), "sip:10.0.1.5:5060");
    EXPECT_EQ(sofia_bind_url("sip:10.0.1.5:5060;transport=udp"), "sip:10.0.1.5:5060;transport=udp");
}

// The stack's own Contact for a dialog that came in over TLS.
TEST(SipStackParams, TlsContact)
{
    const int U = SIP_TRANSPORT_UDP, S = SIP_TRANSPORT_TLS;
    struct {
        int transport, ssl_port;
        bool sips;
        int result;
        const char *contact;
    } rows[] = {
        {U | S, 5061, false, 0, "<sip:10.0.1.5:5061;transport=tls>"},
        {S, 5071, true, 0, "<sips:10.0.1.5:5071>"},
        {U, 0, false, -1, ""},
        {U | S, 0, false, -1, ""}, // port not settled yet
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.contact);
        sip_stack ss = make("10.0.1.5", r.transport, 5060, r.ssl_port);
        char out[64] = "x";
        EXPECT_EQ(sip_stack_tls_contact(&ss, r.sips, out, sizeof out), r.result);
        EXPECT_STREQ(out, r.contact);
    }
    char small[8];
    sip_stack ss = make("10.0.1.5", S, 0, 5061);
    EXPECT_EQ(sip_stack_tls_contact(&ss, false, small, sizeof small), -1);
    EXPECT_STREQ(small, "") << "no cut Contact";
    EXPECT_EQ(sip_stack_tls_contact(nullptr, false, small, sizeof small), -1);
}

TEST(SipStackParams, ValuesOfTheKeys)
{
    struct {
        const char *value;
        int bits;
    } transports[] = {{"udp,tls", 5}, {"", 3}, {"tcp:udp", 3}, {"TLS", 4}, {"sctp", 3}, {"udp", 1}, {"tcp tls", 6}};
    for (auto &t : transports)
        EXPECT_EQ(sip_transport_bits(t.value), t.bits) << t.value;
    struct {
        int in, out;
    } offsets[] = {{5, 10}, {5000, 1000}, {-3, 0}, {0, 0}, {1, 10}, {9, 10}, {10, 10}, {1000, 1000}, {1001, 1000}};
    for (auto &o : offsets)
        EXPECT_EQ(sip_registration_offset(o.in), o.out) << o.in;
    char ua[256];
    sip_user_agent("GW {FIRMWARE} ({FIRMWARE})", ua, sizeof ua);
    EXPECT_EQ(std::string(ua), std::string("GW ") + appfs_version + " (" + appfs_version + ")");
    sip_user_agent(std::string(300, 'x').c_str(), ua, sizeof ua);
    EXPECT_EQ(strlen(ua), 255u);
}

TEST(SipStackParams, LookUps)
{
    if (!gp)
        application_create();
    const char *names[] = {"localhost", "lan", "wan", "lan_tls_5070"};
    int transports[] = {SIP_TRANSPORT_UDP, SIP_TRANSPORT_UDP | SIP_TRANSPORT_TCP, SIP_TRANSPORT_UDP,
                        SIP_TRANSPORT_TLS};
    int ports[] = {5060, 5060, 5062, 0}, ssl_ports[] = {0, 0, 0, 5070};
    gp->sip_stack_size = 4;
    for (int i = 0; i < 4; i++) {
        gp->sip_stacks[i] = make("1.2.3.4", transports[i], ports[i], ssl_ports[i]);
        snprintf(gp->sip_stacks[i].name, sizeof gp->sip_stacks[i].name, "%s", names[i]);
        gp->sip_stacks[i].nua = (nua_s *)(intptr_t)(0x1000 + i);
    }
    sip_stack *s = gp->sip_stacks;
    EXPECT_EQ(get_sip_stack_by_name("lan_udp_5080"), &s[1]) << "three characters decide";
    EXPECT_EQ(get_sip_stack_by_name("vpn"), nullptr);
    EXPECT_EQ(get_sip_stack_by_nua((nua_s *)(intptr_t)0x1002), &s[2]);
    EXPECT_STREQ(get_sip_stack_name_by_nua((nua_s *)(intptr_t)0x1003), "lan_tls_5070");
    EXPECT_STREQ(get_sip_stack_name_by_nua(nullptr), "unknown");
    EXPECT_EQ(get_sip_stack_by_name_transport_and_port("lan", SIP_TRANSPORT_TLS, 5070), &s[3]);
    EXPECT_EQ(get_sip_stack_by_name_transport_and_port("lan", SIP_TRANSPORT_TLS, 9999), &s[3]) << "pass 2";
    EXPECT_EQ(get_sip_stack_by_name_transport_and_port("lan", SIP_TRANSPORT_TCP, 5060), &s[1]);
    EXPECT_EQ(get_sip_stack_by_name_transport_and_port("wan", SIP_TRANSPORT_TCP, 5062), &s[2]) << "pass 3";
    EXPECT_EQ(get_sip_stack_by_name_transport_and_port("xyz", SIP_TRANSPORT_UDP, 5060), nullptr);
    gp->sip_stack_size = 0;
}

// One UDP request to the stack and its first answer line.
std::string ask(int port, const std::string &request)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, (sockaddr *)&a, sizeof a) != 0)
        return "";
    socklen_t len = sizeof a;
    getsockname(fd, (sockaddr *)&a, &len);
    std::string own = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    std::string text = request;
    for (size_t at; (at = text.find("OWN")) != std::string::npos;)
        text.replace(at, 3, own);
    a.sin_port = htons((uint16_t)port);
    timeval tv = {10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string answer;
    if (sendto(fd, text.data(), text.size(), 0, (sockaddr *)&a, sizeof a) == (ssize_t)text.size()) {
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            answer.assign(buf, n);
    }
    close(fd);
    return answer.substr(0, answer.find("\r\n"));
}

TEST(NuaStack, OptionsAnsweredThenOrderlyShutdownAndJoin)
{
    application_create();
    init_locks();
    int port = free_local_port();
    ASSERT_GT(port, 0);
    sip_stack &lo = gp->sip_stacks[0];
    lo = make("127.0.0.1", SIP_TRANSPORT_UDP, port, 0);
    snprintf(lo.name, sizeof lo.name, "localhost");
    gp->sip_stack_size = 1;
    ASSERT_EQ(init_nua_instance(), 0);
    ASSERT_NE(lo.nua, nullptr);
    ASSERT_NE(lo.nua_thread, nullptr);

    const std::string options = "OPTIONS sip:gw@127.0.0.1 SIP/2.0\r\n"
                                "Via: SIP/2.0/UDP OWN;branch=z9hG4bK-unit-1\r\n"
                                "Max-Forwards: 70\r\nFrom: <sip:probe@OWN>;tag=1\r\nTo: <sip:gw@127.0.0.1>\r\n"
                                "Call-ID: unit-1@test\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
    gp->init_lock = 1;
    EXPECT_EQ(ask(port, options), "SIP/2.0 200 OK");

    testing::internal::CaptureStderr();
    shutdown_nua();
    wait_for_first_sip_stack();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Waiting for MSP resources to get freed\nCleaned up all msp resources\n");
    EXPECT_EQ(lo.nua_thread, nullptr);
    EXPECT_EQ(lo.nua, nullptr);
    EXPECT_EQ(lo.app_root, nullptr);
    EXPECT_EQ(gp->reject_calls, 1);
    gp->sip_stack_size = 0;
}

} // namespace
