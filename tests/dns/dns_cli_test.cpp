// tarn -R and tarn -V against dnsmasq.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "dnsmasq_runner.h"
#include "run_process.h"

namespace {

const std::vector<std::string> records = {
    "--host-record=peer.test,10.1.1.1",
    "--srv-host=_sip._udp.dom.test,sip1.dom.test,5060,10,60",
    "--host-record=sip1.dom.test,10.1.1.2",
};

std::string golden(const char *name)
{
    std::ifstream f(std::string(TARN_SOURCE_DIR) + "/tests/dns/golden/" + name);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TEST(DnsCli, ResolveAndSrvResolve)
{
    dnsmasq_runner dns(records);
    ASSERT_TRUE(dns.ok());
    struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"-R", "peer.test"}, "10.1.1.1\n"},
        {{"--resolve", "10.9.8.7"}, "10.9.8.7\n"},
        {{"-R", "nosuch.test"}, "\n"},
        {{"-V", "dom.test"}, golden("srv_resolve_dom_test.txt")},
    };
    for (auto &c : cases) {
        std::vector<std::string> argv{tarn_binary()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        process_result r = run_process(argv, "", dns.env());
        EXPECT_EQ(r.status, 0) << c.args[1] << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[1];
    }
    // -V asked for UDP, TCP and TLS in this order; the address literal asked nothing.
    std::vector<std::string> q = dns.queries();
    std::vector<std::string> expected = {"query[A] peer.test", "query[A] nosuch.test",
                                         "query[SRV] _sip._udp.dom.test", "query[A] sip1.dom.test",
                                         "query[SRV] _sip._tcp.dom.test", "query[SRV] _sips._tcp.dom.test"};
    EXPECT_EQ(q, expected);
}

// In a private network namespace: tshark sees no DNS packet for an address
// literal, and sees the one for a name (so the capture did work).
TEST(DnsCli, AddressLiteralSendsNoPacket)
{
    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0 || access("/usr/bin/dumpcap", X_OK) != 0)
        GTEST_SKIP() << "needs root, unshare and dumpcap";
    char tmpl[] = "/tmp/tarn-dns-cli-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    std::string dir = tmpl, tarn = tarn_binary();
    // The capture runs into tshark, which writes one line per DNS packet as
    // it comes; probe names mark where the capture is live and where it ends.
    std::string script =
        "ip link set lo up; cd '" + dir + "'\n"
        "dnsmasq --keep-in-foreground --port=53 --listen-address=127.0.0.1 --bind-interfaces --no-resolv "
        "--no-hosts --local=/test/ --user=root --pid-file=" + dir + "/dnsmasq.pid --host-record=peer.test,10.1.1.1 &\n"
        "dns=$!\n"
        "mkfifo capture\n"
        "dumpcap -q -i lo -f 'udp port 53' -w capture 2>dumpcap.err & cap=$!\n"
        "tshark -l -r capture -Y dns -T fields -e dns.qry.name >names.txt 2>tshark.err & tsh=$!\n"
        "export NSCACHEIP=127.0.0.1 RES_OPTIONS=port:53\n"
        "seen() { i=0; while ! grep -q \"^$1\" names.txt && [ $i -lt 50 ]; do sleep 0.1; i=$((i+1)); done; }\n"
        "i=0; while ! grep -q '^ready' names.txt && [ $i -lt 50 ]; do\n"
        "  '" + tarn + "' -R ready$i.test >/dev/null; sleep 0.1; i=$((i+1)); done\n"
        "'" + tarn + "' -R 10.9.8.7; echo \"literal=$?\"\n"
        "'" + tarn + "' -R peer.test; echo \"name=$?\"\n"
        "'" + tarn + "' -R end.test >/dev/null; seen end.test\n"
        "kill -INT $cap; wait $tsh; kill $dns; wait\n"
        "echo ---; sed -n '/^ready/!p' names.txt | sed '/^end.test/,$d'\n";
    process_result r = run_process({"/usr/bin/unshare", "-n", "sh", "-c", script}, "", {}, 60);
    EXPECT_NE(r.out.find("10.9.8.7\nliteral=0\n10.1.1.1\nname=0\n"), std::string::npos) << r.out << r.err;
    // Between the probes: query and answer for peer.test, nothing else.
    size_t mark = r.out.find("---\n");
    ASSERT_NE(mark, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(mark + 4), "peer.test\npeer.test\n") << r.out;
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str())) {
    }
}

} // namespace
