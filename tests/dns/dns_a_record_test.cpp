// A records, patterns, overrides and the cache rules, against dnsmasq.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "dns_test_support.h"
#include "experimental_options.h"
#include "log_capture.h"
#include <udns.h>

namespace {

TEST_F(DnsTest, PatternsOfNames)
{
    int fds = open_fd_count();
    struct {
        const char *name;
        const char *pattern;
        bool queried;
    } cases[] = {
        {"peer.test", "10.1.1.1", true},
        {"multi.test", "10.2.0.1|10.2.0.2", true},
        {"alias.test", "10.1.1.1", true}, // CNAME followed
        {"10.9.8.7", "10.9.8.7", false},  // an address is its own pattern
        {"nosuch.test", "", true},        // nothing: empty, a dummy is cached
        {"nosuch.test", "128.0.0.1", false},
        {"PEER.test", "10.1.1.1", false}, // cached, found ignoring case
    };
    for (auto &c : cases) {
        EXPECT_EQ(sorted(pattern_of(c.name)), c.pattern) << c.name;
        EXPECT_EQ(!new_queries().empty(), c.queried) << c.name;
    }
    EXPECT_EQ(open_fd_count(), fds); // every resolver context was closed
}

TEST_F(DnsTest, RecordsAreCopiesAndLiteralsGiveNone)
{
    EXPECT_EQ(dns_cache_resolve_to_a_record("10.1.2.3", 0), nullptr);
    a_ptr r(dns_cache_resolve_to_a_record("multi.test", 0));
    ASSERT_TRUE(r);
    EXPECT_EQ(sorted(r->address_regexp), "10.2.0.1|10.2.0.2");
    ASSERT_EQ(r->address_count, 2);
    EXPECT_EQ(std::string(r->addresses[0]) + "|" + r->addresses[1], r->address_regexp);
    EXPECT_EQ(r->invalid, 0);
    a_ptr again(dns_cache_resolve_to_a_record("multi.test", 0));
    EXPECT_NE(again.get(), r.get());
    EXPECT_EQ(new_queries().size(), 1u); // the second came from the cache

    a_ptr dummy(dns_cache_resolve_to_a_record("gone.test", 0));
    ASSERT_TRUE(dummy);
    EXPECT_EQ(dummy->invalid, 1);
    EXPECT_STREQ(dummy->address_regexp, "128.0.0.1");
}

TEST_F(DnsTest, PatternsHoldWholeAddressesOnly)
{
    // "10.2.0.1|10.2.0.2" is 17 characters: a buffer of 17 holds the first
    // address alone, never a cut "10.2.0." piece.
    for (int pass = 0; pass < 2; pass++) { // from the query, then from the cache
        char buf[17];
        resolve_address_to_regexp("multi.test", buf, sizeof buf);
        EXPECT_TRUE(!strcmp(buf, "10.2.0.1") || !strcmp(buf, "10.2.0.2")) << pass << " " << buf;
    }
    char tiny[5];
    resolve_address_to_regexp_nocache("multi.test", tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "");

    const char *list[] = {"1.1.1.1", "22.22.22.22", "3.3.3.3"};
    char buf[20];
    EXPECT_EQ(dns_cache_join_addresses(buf, sizeof buf, list, 3), 2);
    EXPECT_STREQ(buf, "1.1.1.1|22.22.22.22");
}

TEST_F(DnsTest, OverridesFile)
{
    std::string many;
    for (int i = 1; i <= 18; i++)
        many += (i > 1 ? "|" : "") + std::string("10.7.0.") + std::to_string(i);
    std::string text = "a:ov.test:10.5.5.5|10.5.5.6\r\n"
                       "A:big.test:" + many + ":ignored\n"
                       "b:peer.test:9.9.9.9\n"
                       "# a comment\n"
                       "a:noaddr.test\n"
                       "a:holes.test:1.1.1.1||2.2.2.2\n";
    for (int i = 0; i < 40; i++)
        text += "a:n" + std::to_string(i) + ".test:10.8.0.1\n";
    write_overrides(text);
    dns_cache_update_overrides();

    dns_cache *c = gp->dns_cache;
    EXPECT_EQ(c->a_records_overrides_count, 32);
    dns_cache_a_record *big = _dns_cache_find_a_record_by_name("big.test", 2);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->address_count, 16);
    EXPECT_EQ(std::string(big->address_regexp), many);
    dns_cache_a_record *holes = _dns_cache_find_a_record_by_name("holes.test", 2);
    ASSERT_TRUE(holes);
    EXPECT_EQ(holes->address_count, 3);
    EXPECT_STREQ(holes->addresses[1], "");
    dns_cache_a_record *none = _dns_cache_find_a_record_by_name("noaddr.test", 2);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->address_count, 0);
    EXPECT_NE(_dns_cache_find_a_record_by_name("n27.test", 2), nullptr); // the 32nd "a:" line
    EXPECT_EQ(_dns_cache_find_a_record_by_name("n28.test", 2), nullptr);

    EXPECT_EQ(pattern_of("ov.test"), "10.5.5.5|10.5.5.6");
    a_ptr r(dns_cache_resolve_to_a_record("ov.test", 0));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->address_count, 2);
    EXPECT_TRUE(new_queries().empty());
    EXPECT_EQ(pattern_of("peer.test"), "10.1.1.1"); // the "b:" line counts for nothing
    EXPECT_EQ(new_queries().size(), 1u);

    // Clearing keeps the overrides; a missing file keeps them too.
    dns_cache_clear();
    EXPECT_EQ(pattern_of("ov.test"), "10.5.5.5|10.5.5.6");
    EXPECT_EQ(c->a_records_count, 0);
    unlink((root + "/tmp/tarn.dns").c_str());
    log_capture_start();
    log_capture_clear();
    dns_cache_update_overrides();
    EXPECT_TRUE(log_capture_has("CRITICAL: cannot read dnsfile " + root + "/tmp/tarn.dns"));
    EXPECT_EQ(c->a_records_overrides_count, 32);
}

TEST_F(DnsTest, OverridesFileFromTheExperimentalOption)
{
    experimental_options eo{};
    std::string own = root + "/own.dns";
    eo.eo_dns_override = own.c_str();
    gp->experimental_options = &eo;
    std::ofstream(own) << "a:own.test:10.6.0.1\n";
    write_overrides("a:default.test:10.6.0.2\n");
    dns_cache_update_overrides();
    EXPECT_EQ(pattern_of("own.test"), "10.6.0.1");
    EXPECT_EQ(gp->dns_cache->a_records_overrides_count, 1);
    unlink(own.c_str()); // named but missing: the default file
    dns_cache_update_overrides();
    EXPECT_EQ(pattern_of("default.test"), "10.6.0.2");
    gp->experimental_options = nullptr;
}

TEST_F(DnsTest, CacheHolds256Names)
{
    for (int i = 0; i < 256; i++) {
        std::string name = "h" + std::to_string(i) + ".many.test";
        EXPECT_EQ(pattern_of(name.c_str()), "10.9.9.9");
    }
    EXPECT_EQ(gp->dns_cache->a_records_count, 256);
    a_ptr r(dns_cache_resolve_to_a_record("last.many.test", 0));
    ASSERT_TRUE(r);
    EXPECT_STREQ(r->address_regexp, "10.9.9.9");
    EXPECT_EQ(gp->dns_cache->a_records_count, 256);
    EXPECT_EQ(dns_cache_update_a_records(r.get()), -1);
    pthread_mutex_lock(gp->locks->dns_cache_lock);
    EXPECT_EQ(_dns_cache_find_a_record_by_name("last.many.test", 1), nullptr);
    pthread_mutex_unlock(gp->locks->dns_cache_lock);
    // Removing one closes the gap.
    dns_cache_remove_a_record_from_cache("h0.many.test");
    EXPECT_EQ(gp->dns_cache->a_records_count, 255);
    EXPECT_STREQ(gp->dns_cache->a_records[0]->name, "h1.many.test");
}

// Two name servers on 127.0.0.2 and 127.0.0.3 that take queries and never
// answer, on one port (the resolver uses one port for all servers).
struct silent_servers {
    int port = 0;
    int fds[2] = {-1, -1};
    explicit silent_servers(int count)
    {
        for (int attempt = 0; attempt < 5 && !port; attempt++) {
            port = free_local_port();
            for (int i = 0; i < count; i++) {
                fds[i] = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons((uint16_t)port);
                a.sin_addr.s_addr = htonl(0x7f000002 + i);
                if (bind(fds[i], (sockaddr *)&a, sizeof a) != 0)
                    port = 0;
            }
        }
    }
    ~silent_servers()
    {
        for (int fd : fds)
            if (fd >= 0)
                close(fd);
    }
    int received(int i) const
    {
        int n = 0;
        char buf[512];
        while (recv(fds[i], buf, sizeof buf, MSG_DONTWAIT) > 0)
            n++;
        return n;
    }
};

TEST_F(DnsTest, TimeOutGivesTheDummyAndKeepsTheCachedRecord)
{
    int fds = open_fd_count();
    EXPECT_EQ(pattern_of("peer.test"), "10.1.1.1");
    for (int servers : {2, 1}) {
        silent_servers silent(servers);
        ASSERT_NE(silent.port, 0);
        setenv("NSCACHEIP", servers == 2 ? "127.0.0.2 127.0.0.3" : "127.0.0.2", 1);
        setenv("RES_OPTIONS", ("port:" + std::to_string(silent.port) + " timeout:1").c_str(), 1);
        a_ptr r(dns_cache_resolve_to_a_record("peer.test", 1));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->invalid, 1) << servers;
        EXPECT_STREQ(r->address_regexp, "128.0.0.1");
        if (servers == 2) {
            // Submitted once more after the first time-out; both servers asked.
            EXPECT_GE(silent.received(0), 1);
            EXPECT_GE(silent.received(1), 1);
        } else {
            EXPECT_EQ(silent.received(0), 1); // no second submission
        }
        EXPECT_EQ(pattern_of("peer.test"), "10.1.1.1"); // the cached record survived
    }
    EXPECT_EQ(open_fd_count(), fds);
    server->export_env();
}

TEST_F(DnsTest, InvalidNamesAskNothing)
{
    for (const char *name : {"", "a..b.test", "x.test."}) {
        char buf[64] = "junk";
        resolve_address_to_regexp_nocache(name, buf, sizeof buf);
        EXPECT_STREQ(buf, "") << name;
    }
    // "x.test." is absolute and valid: one query, no search domains.
    EXPECT_EQ(new_queries().size(), 1u);
}

TEST_F(DnsTest, ListingOfTheCaches)
{
    write_overrides("a:ov.test:10.5.5.5\n");
    dns_cache_update_overrides();
    pattern_of("peer.test");
    pattern_of("nosuch.test");
    char *text = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&text, &len);
    dns_cache_list(f);
    fclose(f);
    EXPECT_EQ(std::string(text), "######### SRV Cache (size 0) ##################\n"
                                 "\n######### A Record Cache (size 2) ##################\n"
                                 "00: A Record |peer.test| => TTL 0 regex |10.1.1.1|\n"
                                 "01: A Record |nosuch.test| => TTL 0 regex |128.0.0.1|\n"
                                 "\n######### A Record Cache Overrides ##################\n"
                                 "00: A Record |ov.test| => TTL 0 regex |10.5.5.5|\n"
                                 "\n");
    free(text);
}

TEST_F(DnsTest, RecordComparison)
{
    a_ptr a(dns_cache_create_a_record("x", "1.1.1.1|2.2.2.2"));
    a_ptr b(dns_cache_create_a_record("x", "2.2.2.2|1.1.1.1"));
    a_ptr c(dns_cache_create_a_record("x", "2.2.2.2|3.3.3.3"));
    a_ptr d(dns_cache_create_a_record("x", "2.2.2.2"));
    EXPECT_EQ(dns_cache_did_a_record_change(nullptr, nullptr), 0);
    EXPECT_EQ(dns_cache_did_a_record_change(a.get(), nullptr), 1);
    EXPECT_EQ(dns_cache_did_a_record_change(a.get(), b.get()), 0);
    EXPECT_EQ(dns_cache_did_a_record_change(a.get(), c.get()), 1);
    EXPECT_EQ(dns_cache_did_a_record_change(a.get(), d.get()), 1);
}

} // namespace

namespace {

// A reply for "q.test" with the given answer records (owner, type, data).
struct rr {
    const char *owner;
    int type;
    std::string data;
};
std::string wire_name(const char *name)
{
    std::string out;
    for (const char *p = name; *p;) {
        size_t len = strcspn(p, ".");
        out += (char)len;
        out.append(p, len);
        p += len + (p[len] == '.');
    }
    return out + '\0';
}
std::string reply(const std::vector<rr> &answers)
{
    std::string p = {0x12, 0x34, (char)0x81, (char)0x80, 0, 1, 0, (char)answers.size(), 0, 0, 0, 0};
    p += wire_name("q.test") + std::string("\0\1\0\1", 4);
    for (const rr &r : answers) {
        p += wire_name(r.owner);
        p += std::string{0, (char)r.type, 0, 1, 0, 0, 0, 60, 0, (char)r.data.size()};
        p += r.data;
    }
    return p;
}
std::string a(int last)
{
    return std::string{10, 0, 0, (char)last};
}

TEST(DnsAnswerParser, OwnersTypesAndOneCname)
{
    struct {
        std::vector<rr> answers;
        std::vector<std::string> addresses;
    } cases[] = {
        {{{"q.test", 1, a(1)}, {"q.test", 1, a(2)}}, {"10.0.0.1", "10.0.0.2"}},
        {{{"q.test", 5, wire_name("c.test")}, {"c.test", 1, a(3)}}, {"10.0.0.3"}},
        // A CNAME after the first record is not followed.
        {{{"q.test", 1, a(1)}, {"q.test", 5, wire_name("c.test")}, {"c.test", 1, a(3)}}, {"10.0.0.1"}},
        // Followed once: a second CNAME in the chain leads nowhere.
        {{{"q.test", 5, wire_name("c.test")}, {"c.test", 5, wire_name("d.test")}, {"d.test", 1, a(4)}}, {}},
        {{{"other.test", 1, a(5)}, {"q.test", 28, std::string(16, '\1')}, {"q.test", 1, "\1\2\3"}}, {}},
    };
    unsigned char qdn[DNS_MAXDN];
    ASSERT_GT(dns_ptodn("q.test", 0, qdn, sizeof qdn, nullptr), 0);
    for (size_t i = 0; i < std::size(cases); i++) {
        std::string p = reply(cases[i].answers);
        const unsigned char *pkt = (const unsigned char *)p.data();
        dns_a_answer out;
        int n = dns_cache_parse_a_answer(qdn, pkt, pkt + 12 + 8, pkt + p.size(), &out);
        std::vector<std::string> got(out.addresses, out.addresses + n);
        EXPECT_EQ(got, cases[i].addresses) << i;
        // Cut anywhere, the parser keeps within the packet.
        for (size_t cut = 12; cut < p.size(); cut++)
            dns_cache_parse_a_answer(qdn, pkt, pkt + 12 + 8, pkt + cut, &out);
    }
}

} // namespace
