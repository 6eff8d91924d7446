// The SIP stacks of the running daemon: which sockets listen, one
// "tarn.sofia" thread per stack, OPTIONS answered 200 (sipp), stacks that
// cannot come up, a TLS-only listener against openssl s_client, and SDP the
// installed SDP parser cannot finish refused before it is parsed.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "thread_names.h"

namespace {

std::string scenario()
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/options.xml";
}


int count(const std::vector<std::string> &v, const std::string &s)
{
    int n = 0;
    for (const std::string &x : v)
        n += x == s;
    return n;
}

// One OPTIONS transaction from sipp inside the world: sipp's status.
process_result options(const e2e_world &w, const std::string &target, const char *transport)
{
    std::string local = target.rfind("127.", 0) == 0 ? "127.0.0.1" : target.substr(0, target.find(':'));
    return w.ns.run({"sipp", "-sf", scenario(), "-m", "1", "-t", transport, "-i", local, "-p", "5999", "-timeout",
                     "20", "-timeout_error", "-nostdin", target},
                    "", {}, 60);
}

e2e_options lan_world()
{
    e2e_options o;
    o.ifaces.push_back({"eth0", "10.0.1.5/24"});
    return o;
}

// The SIP parameters with the LAN stack on eth0 over UDP and TCP.
std::string lan_udp_tcp_sip(const e2e_world &w)
{
    return w.root.default_sip() + "stack_active_lan = 1\ninterface_name_lan = eth0\nsip_transport_lan = udp,tcp\n";
}

TEST(SipStacks, LocalhostAndLanListenAndAnswerOptions)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.sip", lan_udp_tcp_sip(w));
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    std::string lo = "127.0.0.1:" + std::to_string(w.root.sip_port);

    process_result udp = w.ns.run({"ss", "-lnuH"}), tcp = w.ns.run({"ss", "-lntH"});
    EXPECT_NE(udp.out.find(lo), std::string::npos) << udp.out;
    EXPECT_EQ(tcp.out.find(lo), std::string::npos) << "the localhost stack is UDP only: " << tcp.out;
    EXPECT_NE(udp.out.find("10.0.1.5:5060"), std::string::npos) << udp.out;
    EXPECT_NE(tcp.out.find("10.0.1.5:5060"), std::string::npos) << tcp.out;
    EXPECT_EQ(count(thread_names(w.tarn_pid()), "tarn.sofia"), 2);
    std::string err = w.tarn_err();
    EXPECT_NE(err.find("get_net_info: dev eth0, mac " + w.ns.mac("eth0") + ", ip 10.0.1.5\n"), std::string::npos)
        << err;

    struct {
        std::string target;
        const char *transport;
    } probes[] = {{lo, "u1"}, {"10.0.1.5:5060", "u1"}, {"10.0.1.5:5060", "t1"}};
    for (auto &p : probes) {
        process_result r = options(w, p.target, p.transport);
        EXPECT_EQ(r.status, 0) << p.target << " " << p.transport << "\n" << r.out << r.err;
    }
    EXPECT_TRUE(w.wait_out("S SEND: NUA_RESPOND[200] \"OK\"")) << w.tarn_out();
    EXPECT_TRUE(w.tarn_running());

    // The answers as an outside decoder reads them.
    w.stop_tarn();
}

TEST(SipStacks, StacksThatCannotComeUp)
{
    // A LAN interface that does not exist only disables that stack.
    {
        e2e_world w;
        E2E_REQUIRE(w);
        w.root.write("usr/conf/tarn.sip", w.root.default_sip() + "stack_active_lan = 1\ninterface_name_lan = eth9\n");
        ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
        EXPECT_NE(w.tarn_err().find("disabling SIP stack lan, couldn't open eth9!"), std::string::npos)
            << w.tarn_err();
        EXPECT_NE(w.tarn_out().find("CRITICAL: disabling SIP stack lan, couldn't open eth9!"), std::string::npos);
        EXPECT_EQ(count(thread_names(w.tarn_pid()), "tarn.sofia"), 1);
    }
    // A port another program holds: the user agent cannot be created.
    {
        e2e_world w;
        E2E_REQUIRE(w);
        pid_t holder = w.ns.spawn({"python3", "-c",
                                   "import socket,time\ns=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                                   "s.bind(('127.0.0.1'," + std::to_string(w.root.sip_port) +
                                       "))\nprint('bound',flush=True)\ntime.sleep(600)"},
                                  {}, -1, -1, -1);
        ASSERT_GT(holder, 0);
        ASSERT_TRUE(e2e_world::wait_for(
            [&] { return w.ns.run({"ss", "-lnuH"}).out.find(":" + std::to_string(w.root.sip_port)) != std::string::npos; },
            E2E_WAIT_MS));
        EXPECT_EQ(w.run_tarn_to_exit(), 89);
        EXPECT_NE(w.tarn_out().find("CRITICAL: nua_create failed!"), std::string::npos);
        EXPECT_NE(w.tarn_err().find("TARN EXITCODE 89: TARN initialization failed!"), std::string::npos)
            << w.tarn_err();
        kill(holder, SIGKILL);
    }
    // Parameters that cannot be read, with SIP peers that cannot be read
    // either, end the configuration load.
    {
        e2e_options o;
        o.media_processor = false;
        o.capture = false;
        e2e_world w(o);
        E2E_REQUIRE(w);
        // The SIP peers are then built at once; a peer that cannot be read
        // fails that too.
        w.root.write("usr/conf/tarn.sip", "[general]\nsip_bindport_localhost = " + std::string(300, '5') +
                                              "\n[peer]\nsip_stack = " + std::string(200, 'l') + "\n");
        EXPECT_EQ(w.run_tarn_to_exit(), 99);
        EXPECT_NE(w.tarn_err().find("TARN EXITCODE 99: Failed initializing global sip settings!"), std::string::npos)
            << w.tarn_err();
    }
}

// A TLS-only LAN stack with the TLS port unset: it listens for TLS on the
// next port and nowhere else. Its certificate directory is written as a
// path of this machine that already lies below the root: it is used as it
// is, and the listener completes the handshake.
TEST(SipStacks, TlsOnlyStackListensOnTheNextPort)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    std::string certs = w.root.path("certs");
    process_result gen = run_process(
        {"sh", "-c",
         "mkdir -p " + certs + " && cd " + certs +
             " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=10.0.1.5 -keyout key.pem"
             " -out cert.pem 2>/dev/null && cat key.pem cert.pem > agent.pem && cp cert.pem cafile.pem"},
        "", {}, 60);
    ASSERT_EQ(gen.status, 0) << gen.err;
    w.root.write("usr/conf/tarn.sip", w.root.default_sip() +
                                          "stack_active_lan = 1\ninterface_name_lan = eth0\n"
                                          "sip_transport_lan = tls\nssl_version_lan = tls1.0\ncert_dir_lan = " +
                                          certs + "\n");
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    EXPECT_NE(w.tarn_out().find("Sip stack binding to sips:10.0.1.5:5061;transport=tls"), std::string::npos);
    process_result tcp = w.ns.run({"ss", "-lntH"}), udp = w.ns.run({"ss", "-lnuH"});
    EXPECT_NE(tcp.out.find("10.0.1.5:5061"), std::string::npos) << tcp.out;
    EXPECT_EQ(tcp.out.find("10.0.1.5:5060"), std::string::npos) << "no sip: URL for a TLS-only stack";
    EXPECT_EQ(udp.out.find("10.0.1.5:"), std::string::npos) << udp.out;
    process_result s = w.ns.run({"openssl", "s_client", "-connect", "10.0.1.5:5061", "-brief"}, "", {}, 30);
    EXPECT_NE(s.err.find("CONNECTION ESTABLISHED"), std::string::npos) << s.out << s.err;
    EXPECT_EQ(w.tarn_out().find("TLS certificate"), std::string::npos) << "the certificate was found";
}

// A peer that sends SDP whose media line the installed SDP parser would
// never finish: every stack refuses the INVITE with 400 (over TCP too, with
// the body split over segments) and answers the OPTIONS after it; the
// daemon runs on as the same process.
TEST(SipStacks, SdpThatWouldHangTheParserIsRefused)
{
    e2e_world w(lan_world());
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.sip", lan_udp_tcp_sip(w));
    ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
    pid_t pid = w.tarn_pid();
    const char *peer = R"(
import socket, sys
def req(method, n, via, body=b""):
    head = (f"{method} sip:gw@{sys.argv[2]} SIP/2.0\r\nVia: SIP/2.0/{via};branch=z9hG4bK-g{n}\r\n"
            f"Max-Forwards: 70\r\nFrom: <sip:p@{sys.argv[1]}>;tag={n}\r\nTo: <sip:gw@{sys.argv[2]}>\r\n"
            f"Call-ID: guard-{n}@test\r\nCSeq: 1 {method}\r\nContact: <sip:p@{sys.argv[1]}:5999>\r\n")
    if body:
        head += "Content-Type: application/sdp\r\n"
    return (head + f"Content-Length: {len(body)}\r\n\r\n").encode(), body
sdp = (b"v=0\r\no=- 1 1 IN IP4 1.2.3.4\r\ns=-\r\nc=IN IP4 1.2.3.4\r\nt=0 0\r\n"
       b"m=image 4002 udptl (\r\n")
host, port = sys.argv[2].split(":")
def status(data):
    return data.split(b"\r\n")[0].decode() if data else "no answer"
if sys.argv[3] == "udp":
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((sys.argv[1], 5999))
    s.settimeout(10)
    def ask(method, n, body=b""):
        head, body = req(method, n, f"UDP {sys.argv[1]}:5999", body)
        s.sendto(head + body, (host, int(port)))
        try:
            return status(s.recv(65536))
        except socket.timeout:
            return "no answer"
else:
    # The stack closes a stream after a message in error, as after any
    # other: each request on a connection of its own.
    def ask(method, n, body=b""):
        head, body = req(method, n, f"TCP {sys.argv[1]}:5999", body)
        s = socket.create_connection((host, int(port)), timeout=10)
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        s.sendall(head)
        if body:
            s.sendall(body[:20])
            s.sendall(body[20:])
        answer = b""
        try:
            while b"\r\n\r\n" not in answer:
                data = s.recv(65536)
                if not data:
                    break
                answer += data
        except socket.timeout:
            pass
        s.close()
        return status(answer)
print(ask("INVITE", 1, sdp))
print(ask("OPTIONS", 2))
)";
    std::string lo = "127.0.0.1:" + std::to_string(w.root.sip_port);
    struct {
        const char *local;
        std::string target;
        const char *transport;
    } peers[] = {{"127.0.0.1", lo, "udp"}, {"10.0.1.5", "10.0.1.5:5060", "udp"}, {"10.0.1.5", "10.0.1.5:5060", "tcp"}};
    for (auto &p : peers) {
        process_result r = w.ns.run({"python3", "-c", peer, p.local, p.target, p.transport}, "", {}, 60);
        EXPECT_EQ(r.out, "SIP/2.0 400 Bad Request\nSIP/2.0 200 OK\n") << p.target << " " << p.transport << "\n" << r.err;
    }
    EXPECT_TRUE(w.wait_out("SIP INVITE from 127.0.0.1:5999 refused: SDP media line not well-formed")) << w.tarn_out();
    EXPECT_EQ(w.tarn_pid(), pid);
    EXPECT_EQ(kill(pid, 0), 0) << "the daemon is gone";
}

} // namespace
