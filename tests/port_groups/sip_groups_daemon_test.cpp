// The daemon builds its SIP peers at start: a peer given by IPv4 addresses
// sends no DNS query (the name server's traffic on lo is captured and
// decoded by tshark), its packet-filter chain is made and the dial plan
// finds it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty())
            out.push_back(l);
    return out;
}

TEST(SipGroupsDaemon, Ipv4PeerSendsNoDnsQuery)
{
    bool dnsmasq = access("/usr/sbin/dnsmasq", X_OK) == 0 || access("/usr/bin/dnsmasq", X_OK) == 0;
    if (access("/usr/bin/dumpcap", X_OK) != 0 || !dnsmasq)
        GTEST_SKIP() << "needs dumpcap and dnsmasq";
    e2e_options o;
    o.capture = false; // this test captures lo itself
    o.ifaces.push_back({"eth0", "10.0.1.5/24"});
    e2e_world w(o);
    E2E_REQUIRE(w);
    w.root.write("usr/conf/tarn.sip", w.root.default_sip() +
                                          "stack_active_lan = 1\ninterface_name_lan = eth0\n"
                                          "[ipv4]\nsip_stack=lan\nsip_proxy=10.9.0.1:5070\n"
                                          "sip_registrar=10.9.0.2\nconfig=dnssrv=1\n");

    // A name server inside the namespace, and a capture of its port on lo.
    pid_t dns = w.ns.spawn({"dnsmasq", "--keep-in-foreground", "--port=53", "--listen-address=127.0.0.1",
                            "--bind-interfaces", "--no-resolv", "--no-hosts", "--local=/test/", "--user=root",
                            "--pid-file=" + w.root.path("dnsmasq.pid"), "--host-record=probe.test,10.1.1.1"});
    ASSERT_GT(dns, 0);
    std::string pcap = w.root.path("dns.pcap");
    pid_t cap = w.ns.spawn({"/usr/bin/dumpcap", "-q", "-P", "-i", "lo", "-f", "udp port 53", "-w", pcap});
    ASSERT_GT(cap, 0);
    struct stat st;
    ASSERT_TRUE(e2e_world::wait_for([&] { return stat(pcap.c_str(), &st) == 0 && st.st_size > 0; }, E2E_WAIT_MS));
    std::vector<std::string> resolver = {"NSCACHEIP=127.0.0.1", "RES_OPTIONS=port:53"};
    auto captured = [&] {
        process_result r = run_process(
            {"tshark", "-n", "-r", pcap, "-Y", "dns.flags.response == 0", "-T", "fields", "-e", "dns.qry.name"}, "",
            {}, 30);
        return lines_of(r.out);
    };
    // A probe query marks where the capture is live, another where it ends.
    auto probe = [&](const std::string &name) {
        return e2e_world::wait_for(
            [&] {
                w.ns.run({tarn_binary(), "-R", name}, "", resolver, 10);
                std::vector<std::string> seen = captured();
                return std::find(seen.begin(), seen.end(), name) != seen.end();
            },
            15000);
    };
    ASSERT_TRUE(probe("ready.test")) << "the capture sees the name server's queries";

    // The dial plan finds the peer and refuses an unknown one.
    std::string dialplan = w.root.path("routes.dialplan");
    w.root.write("routes.dialplan", "SIP\tISDN\tp:ipv4\t1\t*\t\t*\t\t\n"
                                    "SIP\tISDN\tp:nosuch\t1\t*\t\t*\t\t\n");
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9", "-p", dialplan}, resolver)) << w.tarn_err();
    EXPECT_EQ(w.tarn_out().find("invalid sip port group p:ipv4"), std::string::npos) << w.tarn_out();
    EXPECT_NE(w.tarn_out().find("CRITICAL: invalid sip port group p:nosuch on line 2, skipping line"),
              std::string::npos);
    process_result chain = w.ns.run({"iptables-legacy", "-S", "csp__ipv4"});
    ASSERT_TRUE(probe("end.test"));
    EXPECT_EQ(w.stop_tarn(), 0); // the orderly stop
    kill(cap, SIGTERM);
    kill(dns, SIGTERM);
    int status;
    waitpid(cap, &status, 0);
    waitpid(dns, &status, 0);

    // Between the probes the daemon started and asked nothing.
    for (const std::string &name : captured())
        EXPECT_TRUE(name == "ready.test" || name == "end.test") << name;

    // The peer's chain holds its two addresses.
    EXPECT_EQ(chain.status, 0) << chain.err;
    EXPECT_NE(chain.out.find("-N csp__ipv4"), std::string::npos) << chain.out;
    EXPECT_NE(chain.out.find("10.9.0.1/32"), std::string::npos) << chain.out;
    EXPECT_NE(chain.out.find("10.9.0.2/32"), std::string::npos) << chain.out;
}

} // namespace
