// SIP over TLS through the whole daemon: the LAN stack's TLS listener
// against openssl s_client (an OPTIONS over the handshake, each protocol
// version and each configured ssl_version), a stack whose certificate is
// missing, a call from a TLS client to ISDN, and a SIP peer with transport
// TLS that the gateway registers at and calls, trusted or refused by the
// verification policy. The TLS far ends are tests/e2e/tls/tls_peer.py
// (Python's ssl module); certificates are made with openssl per test.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "e2e.h"
#include "isdn_calls.h"
#include "run_process.h"

namespace {

const char *LAN = "10.0.1.5";  // the gateway's LAN stack
const char *WAN = "10.0.2.5";  // the gateway's WAN stack
const char *PEER = "10.0.3.7"; // the TLS far ends the gateway calls

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        n++;
    return n;
}

std::string peer_script()
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/tls/tls_peer.py";
}

e2e_options tls_world()
{
    e2e_options o;
    o.ifaces.push_back({"eth0", std::string(LAN) + "/24"});
    o.ifaces.push_back({"eth2", std::string(WAN) + "/24"});
    o.ifaces.push_back({"eth3", std::string(PEER) + "/24"});
    o.capture_filter = "tcp";
    return o;
}

// A key and a self-signed certificate for cn in dir (below the root):
// key.pem, cert.pem and agent.pem (key and certificate, as the SIP stack
// reads it). False when openssl failed.
bool make_cert(const e2e_world &w, const std::string &dir, const std::string &cn)
{
    std::string d = w.root.path(dir);
    process_result r = run_process(
        {"sh", "-c",
         "mkdir -p " + d + " && cd " + d +
             " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=" +
             cn + " -keyout key.pem -out cert.pem 2>/dev/null && cat key.pem cert.pem > agent.pem"},
        "", {}, 60);
    return r.status == 0;
}

// The gateway's LAN certificate at the board path /usr/conf/certs/lan; its
// cafile.pem trusts the certificates of the directories in trusted.
bool gateway_certs(const e2e_world &w, const std::vector<std::string> &trusted = {})
{
    if (!make_cert(w, "usr/conf/certs/lan", LAN))
        return false;
    std::string ca = read_text_file(w.root.path("usr/conf/certs/lan/cert.pem"));
    for (const std::string &t : trusted)
        ca += read_text_file(w.root.path(t + "/cert.pem"));
    w.root.write("usr/conf/certs/lan/cafile.pem", ca);
    return true;
}

// The LAN stack over UDP and TLS (TLS on 5061) with the board path of its
// certificates, and more lines of the general section.
std::string lan_tls_sip(const e2e_world &w, const std::string &more = "")
{
    return w.root.default_sip() + "stack_active_lan = 1\ninterface_name_lan = eth0\nsip_transport_lan = udp,tls\n"
                                  "cert_dir_lan = /usr/conf/certs/lan\n" +
           more;
}

// The TLS far end of a certificate directory on addr:port.
std::vector<std::string> tls_server(const e2e_world &w, const std::string &dir, const std::string &addr, int port)
{
    return {"python3", peer_script(), "server", "--addr", addr, "--port", std::to_string(port),
            "--cert", w.root.path(dir + "/cert.pem"), "--key", w.root.path(dir + "/key.pem")};
}

// openssl s_client with one protocol version against target, one OPTIONS
// over the connection.
process_result tls_options(const e2e_world &w, const std::string &target, const char *version)
{
    return w.ns.run({"python3", peer_script(), "options", "--connect", target, "--tls", version}, "", {}, 60);
}

// The handshake alone with an old protocol version: s_client's status.
process_result old_handshake(const e2e_world &w, const std::string &target, const char *flag)
{
    return w.ns.run({"openssl", "s_client", "-connect", target, "-brief", flag}, "", {}, 30);
}

// Every configured ssl_version offers TLS 1.2 and 1.3 and nothing older;
// an OPTIONS over the handshake gets 200. The WAN stack's certificate is
// missing: one CRITICAL line names it, and the stack answers on UDP.
TEST(SipTls, ListenerHandshakeAndOptions)
{
    e2e_world w(tls_world());
    E2E_REQUIRE(w);
    ASSERT_TRUE(gateway_certs(w));
    std::string lan = std::string(LAN) + ":5061";
    const char *versions[] = {"tls1.0", "tls1.1", "tls"};
    for (const char *v : versions) {
        SCOPED_TRACE(std::string("ssl_version_lan = ") + v);
        w.root.write("usr/conf/tarn.sip",
                     lan_tls_sip(w, std::string("ssl_version_lan = ") + v +
                                        "\nstack_active_wan = 1\ninterface_name_wan = eth2\n"
                                        "sip_transport_wan = udp,tls\ncert_dir_wan = /usr/conf/certs/wan\n"));
        ASSERT_TRUE(w.start_tarn()) << w.tarn_err();
        for (const char *tls : {"1.2", "1.3"}) {
            process_result r = tls_options(w, lan, tls);
            EXPECT_EQ(r.status, 0) << tls << ": " << r.out << r.err;
            EXPECT_TRUE(has(r.out, std::string("Protocol version: TLSv") + tls)) << r.out;
            EXPECT_TRUE(has(r.out, "OPTIONS SIP/2.0 200")) << r.out;
        }
        for (const char *old : {"-tls1", "-tls1_1"}) {
            process_result r = old_handshake(w, lan, old);
            EXPECT_FALSE(has(r.err, "CONNECTION ESTABLISHED")) << old << ": " << r.err;
        }
        // one line for the WAN stack's certificate, none for the LAN's
        std::string out = w.tarn_out();
        std::string line = "CRITICAL: SIP stack wan: cannot read TLS certificate " + w.root.dir +
                           "/usr/conf/certs/wan/agent.pem (No such file or directory): TLS clients get no handshake";
        EXPECT_EQ(count(out, line), 1) << out;
        EXPECT_EQ(count(out, "TLS certificate"), 1) << out;
        // the WAN stack is up on its other transport
        process_result udp = w.ns.run({"ss", "-lnuH"});
        EXPECT_TRUE(has(udp.out, std::string(WAN) + ":5060")) << udp.out;
        process_result o = w.ns.run({"sipp", "-sf", std::string(TARN_SOURCE_DIR) + "/tests/e2e/sip/options.xml", "-m",
                                     "1", "-t", "u1", "-i", WAN, "-p", "5999", "-timeout", "20", "-timeout_error",
                                     "-nostdin", std::string(WAN) + ":5060"},
                                    "", {}, 60);
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
    }
}

// TLS clients call through the gateway to ISDN, the stack verifying
// incoming connections: the client with a certificate the gateway trusts
// is answered on the ISDN side, gets the TLS listener as the gateway's
// Contact and ends the call with its BYE over the same connection; a client
// with another certificate is refused in the handshake and reaches nothing.
TEST(SipTls, CallsFromTlsClientsToIsdn)
{
    e2e_world w(tls_world());
    E2E_REQUIRE(w);
    ASSERT_TRUE(make_cert(w, "caller", "caller"));
    ASSERT_TRUE(make_cert(w, "stranger", "stranger"));
    ASSERT_TRUE(gateway_certs(w, {"caller"}));
    e2e_isdn_ports isdn(w, "[pbx]\nports=1\n", {{1, "te"}});
    w.root.write("usr/conf/tarn.sip", lan_tls_sip(w, "tls_verification_selection_lan = incoming\n"));
    w.root.write("usr/conf/tarn.dialplan", "SIP\tISDN\t*\t1\t1.*\t\\0\t*\t\\0\t\n");
    e2e_child peer(w, "peer", isdn.peer_argv(1, {"wait ring 60", "proceeding", "alerting", "sleep 200", "answer",
                                                 "wait hangup_req 60"}));
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, isdn.env())) << w.tarn_err();
    ASSERT_TRUE(peer.wait("UP", 30000)) << peer.text();
    auto call = [&](const std::string &dir) {
        return w.ns.run({"python3", peer_script(), "call", "--connect", std::string(LAN) + ":5061", "--number", "1234",
                         "--hold-ms", "500", "--cert", w.root.path(dir + "/cert.pem"), "--key",
                         w.root.path(dir + "/key.pem")},
                        "", {}, 90);
    };
    process_result refused = call("stranger");
    EXPECT_NE(refused.status, 0) << refused.out << refused.err;
    EXPECT_TRUE(has(refused.out, "CALL FAILED")) << refused.out << refused.err;
    process_result ok = call("caller");
    EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
    EXPECT_TRUE(has(ok.out, "STATUS 200")) << ok.out;
    EXPECT_TRUE(has(ok.out, "BYE 200")) << ok.out;
    // the caller's "sip:...;transport=tls" Contact gets the TLS listener as
    // the gateway's, not its UDP address
    EXPECT_TRUE(has(ok.out, std::string("CONTACT <sip:") + LAN + ":5061;transport=tls>")) << ok.out;
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 30000)) << peer.text();
    EXPECT_EQ(count(peer.text(), "RING called="), 1) << peer.text();
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

// Two SIP peers with transport TLS and sips_on_tls, the stack verifying
// outgoing connections: the trusted peer gets the REGISTER and a call from
// ISDN (INVITE, ACK and BYE over TLS, sips: URIs). The other peer, whose
// certificate the gateway does not trust, has no port configured: the
// REGISTER goes to the TLS port 5061, where the gateway refuses the peer
// once the handshake has shown its certificate, so it never sees a
// request; the registration's retry first probes 5061 with a plain connect.
TEST(SipTls, RegistrationAndCallToTlsPeers)
{
    e2e_world w(tls_world());
    E2E_REQUIRE(w);
    ASSERT_TRUE(make_cert(w, "trusted", PEER));
    ASSERT_TRUE(make_cert(w, "stranger", PEER));
    ASSERT_TRUE(gateway_certs(w, {"trusted"}));
    e2e_isdn_ports isdn(w, "[pbx]\nports=1\nconfig=isdn2sip_destination_numformat=VAZ_UNKNOWN\n", {{1, "nt"}});
    auto group = [](const std::string &name, const std::string &proxy, int refresh_failed) {
        return "[" + name + "]\nsip_stack=lan\ntransport=tls\nsip_proxy=" + proxy +
               "\nuser=alice\nregister=yes\nregrefresh=600\nregrefresh_failed=" + std::to_string(refresh_failed) +
               "\nregister_options=no-validate no-options-keepalive\nconfig=sips_on_tls=1\n";
    };
    w.root.write("usr/conf/tarn.sip", lan_tls_sip(w, "tls_verification_selection_lan = outgoing\n") +
                                          group("trusted", std::string(PEER) + ":5071", 600) +
                                          group("stranger", PEER, 2));
    w.root.write("usr/conf/tarn.dialplan", "ISDN\tSIP\t1\ttrusted\t(0[0-9]*)\t\\1\t(.*)\t\\1\t\n");
    e2e_child trusted(w, "trusted", tls_server(w, "trusted", PEER, 5071));
    e2e_child stranger(w, "stranger", tls_server(w, "stranger", PEER, 5061));
    ASSERT_TRUE(trusted.wait("READY")) << trusted.text();
    ASSERT_TRUE(stranger.wait("READY")) << stranger.text();
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, isdn.env())) << w.tarn_err();

    std::string lan_contact = std::string("<sips:alice@") + LAN + ":5061>";
    EXPECT_TRUE(trusted.wait(std::string("REGISTER sips:") + PEER + ":5071 contact=" + lan_contact, 30000))
        << trusted.text();
    EXPECT_TRUE(w.wait_out("SM_SIP_REGISTRATION_PENDING => SM_SIP_REGISTRATION_SUCCESSFUL", E2E_WAIT_MS));

    e2e_child caller(w, "caller", isdn.peer_argv(1, {"dial 0301 4711", "wait answer 30", "sleep 500", "hangup",
                                                     "wait hangup 30"}));
    EXPECT_TRUE(caller.wait("SCRIPT DONE", 60000)) << caller.text();
    EXPECT_TRUE(trusted.wait("BYE sip:peer@", 30000)) << trusted.text();
    std::string t = trusted.text();
    EXPECT_TRUE(has(t, "INVITE sips:0301@" + std::string(PEER) + " contact=" + lan_contact)) << t;
    EXPECT_TRUE(has(t, "ACK sip:peer@")) << t;

    // The handshake itself completes (the client checks the certificate at
    // its end); the gateway then closes the connection unused.
    EXPECT_TRUE(stranger.wait("CLOSED after 0 messages", 30000)) << stranger.text();
    EXPECT_TRUE(stranger.wait("PLAIN CONNECT", 30000)) << stranger.text();
    EXPECT_TRUE(w.wait_out("registrar check for stranger", E2E_WAIT_MS));
    EXPECT_FALSE(has(stranger.text(), "REGISTER")) << stranger.text();
    EXPECT_EQ(count(t, "REGISTER "), 1) << t;
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
}

} // namespace
