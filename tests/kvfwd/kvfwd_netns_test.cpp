// Rules applied in process against iptables-legacy as the oracle: the same
// command words run once through kvfwd_do_command and once through
// iptables-legacy, each in a network namespace of its own, must leave the
// same saved tables and succeed or fail alike. Refused commands change
// nothing and the process goes on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "kvfwd.h"
#include "private_netns.h"

namespace {

std::string why_not;
// Before any test runs and while the process has one thread.
const bool private_mounts = enter_private_mounts(&why_not);

struct command {
    const char *table, *words;
};

// The saved tables without comment lines, each table's block in a fixed
// order (tables are listed in the order they were first used).
std::string normalise(const std::string &save)
{
    std::vector<std::string> blocks;
    std::istringstream in(save);
    std::string line, block;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        block += line + "\n";
        if (line == "COMMIT") {
            blocks.push_back(block);
            block.clear();
        }
    }
    std::sort(blocks.begin(), blocks.end());
    std::string out;
    for (const std::string &b : blocks)
        out += b;
    return out + block;
}

int print_saved()
{
    fflush(stdout);
    return system("iptables-legacy-save") == 0 ? 0 : 1;
}

// Per command "== <1 or 0>" (whether it worked) and the saved tables
// after it.
int run_commands(const std::vector<command> &cmds, bool oracle)
{
    for (const command &c : cmds) {
        int ok;
        if (oracle) {
            std::string line = std::string("iptables-legacy -t ") + c.table + " " + c.words + " 2>/dev/null";
            ok = system(line.c_str()) == 0;
        } else {
            std::string text = c.words;
            ok = kvfwd_do_command(c.table, text.data());
        }
        printf("== %i %s\n", ok, c.words);
        if (print_saved() != 0)
            return 1;
    }
    return 0;
}

// The output split at the "==" lines, each part normalised.
std::vector<std::string> steps(const std::string &out)
{
    std::vector<std::string> parts;
    size_t at = 0;
    while ((at = out.find("== ", at)) != std::string::npos) {
        size_t next = out.find("\n== ", at);
        std::string part = out.substr(at, next == std::string::npos ? std::string::npos : next + 1 - at);
        size_t eol = part.find('\n');
        parts.push_back(part.substr(0, eol + 1) + normalise(part.substr(eol + 1)));
        if (next == std::string::npos)
            break;
        at = next + 1;
    }
    return parts;
}

struct oracle_case {
    const char *name;
    std::vector<command> commands;
};

// The daemon's rule texts as the runner hands them over (without
// "iptables" and "-t nat"), blanks as the texts carry them.
const std::vector<oracle_case> oracle_cases = {
    {"start-up nat rules",
     {{"nat", "-F"},
      {"nat", "-A PREROUTING -p udp --dport 5353 -i eth1 -j ACCEPT -d 224.0.0.251"},
      {"nat", "--insert OUTPUT -p udp --dport 5353 -j ACCEPT -d 224.0.0.251"},
      {"nat", "-A POSTROUTING -o eth1 -j MASQUERADE"},
      {"nat", "-A PREROUTING -i eth1 -j ACCEPT -d 224.0.0.18"},
      {"nat", "--insert OUTPUT -j ACCEPT -d 224.0.0.18"},
      {"nat", "-A POSTROUTING -o eth1 -j MASQUERADE"},
      {"nat", "-I PREROUTING 1 -p udp --dport 6300:6398 -i eth1 -j ACCEPT"},
      {"nat", "-A PREROUTING -p udp --dport 6000:6299 -i eth1 -j DNAT --to 10.0.0.2"},
      {"nat", "-A OUTPUT -s 10.0.0.1  -p udp --sport 6300:6398  -j ACCEPT"},
      {"nat", "-A OUTPUT -p udp --dport 6000:6299 -j DNAT -d 10.0.0.1  --to 10.0.0.2"},
      {"nat", "-A PREROUTING -p udp --dport 5060 -i eth1 -j ACCEPT -d 224.0.1.75"},
      {"nat", "-F"}}},
    {"RTP passthrough rules",
     {{"nat", "-I POSTROUTING -o eth1 -p udp --dport 40000 -d 192.0.2.10 -j SNAT --to-source 10.0.0.1:30000"},
      {"nat", "-I POSTROUTING -o eth1 -p udp --dport 40002 -d 192.0.2.20 -j SNAT --to-source 10.0.0.1:30002"},
      {"nat", "-I PREROUTING -i eth1 -p udp --dport 30000 -j DNAT --to-destination 192.0.2.20:40002"},
      {"nat", "-I PREROUTING -i eth1 -p udp --dport 30002 -j DNAT --to-destination 192.0.2.10:40000"},
      {"nat", "-D POSTROUTING -o eth1 -p udp --dport 40000 -d 192.0.2.10 -j SNAT --to-source 10.0.0.1:30000"},
      {"nat", "-D PREROUTING -i eth1 -p udp --dport 30002 -j DNAT --to-destination 192.0.2.10:40000"}}},
    {"T.38 drop rules and blacklist",
     {{"filter", "-D INPUT -i eth1 -p udp --dport 6300:6398 -j DROP"},
      {"filter", "-I INPUT 1 -i eth1 -p udp --dport 6300:6398 -j DROP"},
      {"filter", "-D INPUT -i eth1 -p udp --dport 6300:6398 -j DROP"},
      {"filter", "-I INPUT 1 -i eth1 -p udp --dport 6300:6398 -j DROP"},
      {"filter", "-I INPUT 1 -s 192.0.2.7 -i eth1 -j DROP"},
      {"filter", "-I INPUT 1 -s 192.0.2.8 -i eth1 -j DROP"},
      {"filter", "-I INPUT 3 -s 10.9.8.7/16 -j DROP"},
      {"filter", "-I INPUT 9 -s 192.0.2.9 -j DROP"},
      {"filter", "-D INPUT -s 192.0.2.7 -i eth1 -j DROP"},
      {"filter", "-D INPUT -s 192.0.2.7 -i eth1 -j DROP"},
      {"filter", "-A INPUT -i wan0.7 -p tcp --sport 1:2 --dport 3 -j ACCEPT"}}},
    {"per-peer chains",
     {{"filter", "-N configured_sip_peers"},
      {"filter", "-F configured_sip_peers"},
      {"filter", "-N csp__abcdefghijklmnopqrstuvw"},
      {"filter", "-F csp__abcdefghijklmnopqrstuvw"},
      {"filter", "-A configured_sip_peers -j csp__abcdefghijklmnopqrstuvw"},
      {"filter", "-i eth1 -A csp__abcdefghijklmnopqrstuvw  -p tcp --dport 1024:5059 -s 192.0.2.10 -j ACCEPT"},
      {"filter", "-i eth1 -A csp__abcdefghijklmnopqrstuvw  -p tcp --dport 5061:65535 -s 192.0.2.10 -j ACCEPT"},
      {"filter", " -i eth1 -A csp__abcdefghijklmnopqrstuvw -p udp -s 192.0.2.10 -j ACCEPT"},
      {"filter", "-N csp__b"},
      {"filter", "-A configured_sip_peers -j csp__b"},
      {"filter", "-X csp__b"},
      {"filter", "-N csp__b"},
      {"filter", "-A csp__missing -j ACCEPT"},
      {"filter", "-A configured_sip_peers -j csp__missing"},
      {"filter", "-F csp__b"},
      {"filter", "-D configured_sip_peers -j csp__b"},
      {"filter", "-X csp__b"}}},
};

TEST(KvfwdOracle, SameTablesAsIptablesLegacy)
{
    if (!private_mounts)
        GTEST_SKIP() << why_not;
    if (system("iptables-legacy-save >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "iptables-legacy cannot run here";
    for (const oracle_case &c : oracle_cases) {
        SCOPED_TRACE(c.name);
        process_result ours = run_in_new_netns([&c]() { return run_commands(c.commands, false); });
        process_result oracle = run_in_new_netns([&c]() { return run_commands(c.commands, true); });
        ASSERT_EQ(ours.status, 0) << ours.err;
        ASSERT_EQ(oracle.status, 0) << oracle.err;
        std::vector<std::string> a = steps(ours.out), b = steps(oracle.out);
        ASSERT_EQ(a.size(), c.commands.size());
        ASSERT_EQ(b.size(), c.commands.size());
        size_t failures = 0;
        for (size_t i = 0; i < a.size(); i++) {
            EXPECT_EQ(a[i], b[i]);
            failures += a[i].rfind("== 0", 0) == 0;
        }
        // Every failure says so, in the filter's words.
        size_t lines = 0;
        for (size_t at = 0; (at = ours.err.find("iptables: ", at)) != std::string::npos; at++)
            lines++;
        EXPECT_EQ(lines, failures) << ours.err;
    }
}

TEST(KvfwdOracle, RefusedCommandsChangeNothing)
{
    if (!private_mounts)
        GTEST_SKIP() << why_not;
    std::string many = "-A INPUT";
    for (int i = 0; i < 150; i++)
        many += " -j DROP";
    process_result r = run_in_new_netns([&many]() {
        const command setup[] = {{"filter", "-N csp__x"},
                                 {"filter", "-A INPUT -s 192.0.2.1 -i eth1 -j DROP"},
                                 {"nat", "-A POSTROUTING -o eth1 -j MASQUERADE"}};
        for (const command &c : setup) {
            std::string t = c.words;
            if (!kvfwd_do_command(c.table, t.data()))
                return 2;
        }
        print_saved();
        printf("----\n");
        const command bad[] = {
            {"filter", "-D INPUT -i  -p udp --dport 6300:6398 -j DROP"}, // empty interface
            {"filter", "-A INPUT -p udp --dport 6000: -j DROP"},
            {"filter", "-A INPUT -j"},
            {"filter", many.c_str()},
            {"bogus", "-A INPUT -j DROP"},
            {"nat", "-A PREROUTING -i eth1 -j DNAT --to 10.0.0.2:0"},
            {"filter", "-A INPUT -j DNAT --to 10.0.0.2"}, // refused by the kernel at commit
            {"filter", "-A INPUT -i eth1;touch${IFS}/tmp/p -j DROP"},
        };
        std::string results;
        for (const command &c : bad) {
            std::string t = c.words;
            results += kvfwd_do_command(c.table, t.data()) ? '1' : '0';
        }
        print_saved();
        std::string good = "-A INPUT -s 192.0.2.2 -j DROP";
        results += kvfwd_do_command("filter", good.data()) ? '1' : '0';
        printf("results %s\n", results.c_str());
        return 0;
    });
    ASSERT_EQ(r.status, 0) << r.err;
    size_t split = r.out.find("----\n");
    size_t tail = r.out.find("results ");
    ASSERT_NE(split, std::string::npos);
    ASSERT_NE(tail, std::string::npos);
    EXPECT_EQ(normalise(r.out.substr(0, split)), normalise(r.out.substr(split + 5, tail - split - 5)));
    EXPECT_EQ(r.out.substr(tail), "results 000000001\n");
    EXPECT_NE(r.err.find("iptables: too many arguments"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("iptables: invalid port/service `6000:'"), std::string::npos) << r.err;
    EXPECT_EQ(access("/tmp/p", F_OK), -1);
}

} // namespace
