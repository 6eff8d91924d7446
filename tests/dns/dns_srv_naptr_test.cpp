// SRV records with their targets, and NAPTR look-ups, against dnsmasq.
#include <poll.h>
#include <udns.h>

#include <cstring>
#include <map>
#include <thread>

#include "call_leg_sip.h"
#include "call_object.h"
#include "dns_test_support.h"

namespace {

int counter_value;
int counting_source()
{
    return counter_value++;
}

const char *target_name(const dns_cache_srv_record *r)
{
    return r->weighted_a_records[r->using_record]->weighted_a_name;
}

TEST_F(DnsTest, SrvRecordWithItsTargets)
{
    int fds = open_fd_count();
    srv_ptr r(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_UDP, 0));
    ASSERT_TRUE(r);
    EXPECT_STREQ(r->name, "dom.test");
    ASSERT_EQ(r->number_of_records, 1);
    const dns_cache_srv_record_weighted_a_record *w = r->weighted_a_records[0];
    EXPECT_STREQ(w->weighted_a_name, "sip1.dom.test");
    EXPECT_EQ(w->port, 5060);
    EXPECT_EQ(w->priority, 10);
    EXPECT_EQ(w->weight, 60);
    ASSERT_TRUE(w->a_record);
    EXPECT_STREQ(w->a_record->address_regexp, "10.1.1.2");
    EXPECT_STREQ(r->address_regexp, "10.1.1.2");
    EXPECT_EQ(new_queries(), (std::vector<std::string>{"query[SRV] _sip._udp.dom.test", "query[A] sip1.dom.test"}));

    // From the cache: a copy, no query.
    srv_ptr again(dns_cache_resolve_to_srv_record("DOM.test", SIP_TRANSPORT_UDP, 0));
    ASSERT_TRUE(again);
    EXPECT_NE(again.get(), r.get());
    EXPECT_TRUE(new_queries().empty());
    EXPECT_EQ(dns_cache_did_srv_record_change(r.get(), again.get()), 0);

    // Nothing published for TCP.
    EXPECT_EQ(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_TCP, 0), nullptr);
    EXPECT_EQ(new_queries(), (std::vector<std::string>{"query[SRV] _sip._tcp.dom.test"}));
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(DnsTest, SrvEntriesAreKeptPerTransport)
{
    srv_ptr udp(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_UDP, 0));
    srv_ptr tls(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_TLS, 0));
    ASSERT_TRUE(udp && tls);
    EXPECT_STREQ(target_name(tls.get()), "tls1.dom.test");
    EXPECT_EQ(new_queries()[2], "query[SRV] _sips._tcp.dom.test");
    EXPECT_EQ(gp->dns_cache->srv_records_count, 2);
    // The TLS look-up neither used nor evicted the UDP entry.
    srv_ptr udp2(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_UDP, 0));
    EXPECT_STREQ(target_name(udp2.get()), "sip1.dom.test");
    srv_ptr tls2(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_TLS, 1));
    EXPECT_EQ(gp->dns_cache->srv_records_count, 2);
    udp2.reset(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_UDP, 0));
    EXPECT_STREQ(target_name(udp2.get()), "sip1.dom.test");
    EXPECT_EQ(new_queries(), (std::vector<std::string>{"query[SRV] _sips._tcp.dom.test"}));
}

TEST_F(DnsTest, WeightedChoiceAmongTheLowestPriority)
{
    // Every draw from 0 to 99 once: the first target of priority 10 in the
    // record's order takes the draws up to its weight, the other one the rest;
    // priority 20 is never chosen.
    dns_cache_set_random_source(counting_source);
    counter_value = 0;
    std::map<std::string, int> chosen;
    int first_weight = -1;
    for (int i = 0; i < 100; i++) {
        srv_ptr r(dns_cache_resolve_to_srv_record("w.test", SIP_TRANSPORT_UDP, 1));
        ASSERT_TRUE(r);
        ASSERT_EQ(r->number_of_records, 3);
        EXPECT_EQ(r->weighted_a_records[2]->priority, 20); // sorted by priority
        first_weight = r->weighted_a_records[0]->weight;
        chosen[target_name(r.get())]++;
    }
    EXPECT_EQ(chosen.count("t3.w.test"), 0u);
    std::string first = first_weight == 60 ? "t1.w.test" : "t2.w.test";
    std::string second = first_weight == 60 ? "t2.w.test" : "t1.w.test";
    EXPECT_EQ(chosen[first], first_weight + 1);
    EXPECT_EQ(chosen[second], 99 - first_weight);

    // With the system generator the split is about 60 to 40.
    dns_cache_set_random_source(nullptr);
    srand(7);
    chosen.clear();
    for (int i = 0; i < 400; i++) {
        srv_ptr r(dns_cache_resolve_to_srv_record("w.test", SIP_TRANSPORT_UDP, 1));
        chosen[target_name(r.get())]++;
    }
    EXPECT_GT(chosen["t1.w.test"], 200);
    EXPECT_GT(chosen["t2.w.test"], 120);
    EXPECT_EQ(chosen["t3.w.test"], 0);
}

TEST_F(DnsTest, ZeroWeightsTakeTheFirstTarget)
{
    dns_cache_set_random_source(counting_source);
    srv_ptr r(dns_cache_resolve_to_srv_record("z.test", SIP_TRANSPORT_UDP, 0));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->using_record, 0);
    EXPECT_EQ(r->number_of_records, 2);
}

TEST_F(DnsTest, UnresolvableTargetIsPassedOver)
{
    srv_ptr r(dns_cache_resolve_to_srv_record("u.test", SIP_TRANSPORT_UDP, 0));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->number_of_records, 2);
    EXPECT_STREQ(r->weighted_a_records[0]->weighted_a_name, "gone.u.test");
    EXPECT_EQ(r->weighted_a_records[0]->a_record->invalid, 1);
    EXPECT_EQ(r->using_record, 1);
    EXPECT_STREQ(target_name(r.get()), "ok.u.test");
    EXPECT_STREQ(r->address_regexp, "128.0.0.1|10.4.0.1");

    // The A cache loses the targets: the cached SRV entry brings them back
    // (querying outside dns_cache_lock) and still skips the dead one.
    dns_cache *c = gp->dns_cache;
    dns_cache_remove_a_record_from_cache("ok.u.test");
    dns_cache_remove_a_record_from_cache("gone.u.test");
    EXPECT_EQ(c->a_records_count, 0);
    new_queries();
    srv_ptr again(dns_cache_resolve_to_srv_record("u.test", SIP_TRANSPORT_UDP, 0));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->using_record, 1);
    EXPECT_EQ(c->a_records_count, 2);
    EXPECT_EQ(new_queries().size(), 2u);
}

TEST_F(DnsTest, SrvRecordChangeAndListing)
{
    srv_ptr a(dns_cache_resolve_to_srv_record("w.test", SIP_TRANSPORT_UDP, 0));
    srv_ptr b(dns_cache_copy_srv_record(a.get()));
    b->weighted_a_records[0]->weight = 1; // weights and ports do not count
    b->weighted_a_records[0]->port = 1;
    EXPECT_EQ(dns_cache_did_srv_record_change(a.get(), b.get()), 0);
    b->weighted_a_records[2]->priority = 30;
    EXPECT_EQ(dns_cache_did_srv_record_change(a.get(), b.get()), 1);
    b.reset(dns_cache_copy_srv_record(a.get()));
    dns_cache_free_a_record(b->weighted_a_records[1]->a_record);
    b->weighted_a_records[1]->a_record = dns_cache_create_a_record("x", "10.0.0.9");
    EXPECT_EQ(dns_cache_did_srv_record_change(a.get(), b.get()), 1);
    EXPECT_EQ(dns_cache_did_srv_record_change(nullptr, nullptr), 0);
    EXPECT_EQ(dns_cache_did_srv_record_change(a.get(), nullptr), 1);

    b.reset(dns_cache_copy_srv_record(a.get()));
    dns_cache_free_a_record(b->weighted_a_records[1]->a_record);
    b->weighted_a_records[1]->a_record = nullptr;
    b->transport = SIP_TRANSPORT_TLS;
    char *text = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&text, &len);
    dns_cache_list_srv_record(f, b.get());
    fclose(f);
    const dns_cache_srv_record_weighted_a_record *w0 = b->weighted_a_records[0], *w1 = b->weighted_a_records[1];
    char expected[4096];
    snprintf(expected, sizeof expected,
             "SRV ENTRY |w.test| transport |TLS| regex |%s| using_index %i\n"
             "    %s:%i (prio 10, wght %i)\n"
             "        A Record |%s| => TTL 0 regex |%s|\n"
             "    %s:%i (prio 10, wght %i)\n"
             "-----------------\n"
             "    t3.w.test:5064 (prio 20, wght 100)\n"
             "        A Record |t3.w.test| => TTL 0 regex |10.3.0.3|\n"
             "========================================\n",
             b->address_regexp, b->using_record, w0->weighted_a_name, w0->port, w0->weight, w0->weighted_a_name,
             w0->a_record->address_regexp, w1->weighted_a_name, w1->port, w1->weight);
    EXPECT_EQ(std::string(text), expected);
    free(text);
}

TEST_F(DnsTest, SrvCacheIsBounded)
{
    dns_cache *c = gp->dns_cache;
    srv_ptr model(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_UDP, 0));
    pthread_mutex_lock(gp->locks->dns_cache_lock);
    for (int i = 1; i < DNS_CACHE_SIZE; i++) {
        srv_ptr r(dns_cache_copy_srv_record(model.get()));
        free(r->name);
        r->name = strdup(("d" + std::to_string(i) + ".test").c_str());
        EXPECT_EQ(dns_cache_update_srv_records(r.get()), 0);
    }
    EXPECT_EQ(c->srv_records_count, 256);
    free(model->name);
    model->name = strdup("one-too-many.test");
    EXPECT_EQ(dns_cache_update_srv_records(model.get()), -1);
    pthread_mutex_unlock(gp->locks->dns_cache_lock);
}

TEST_F(DnsTest, NaptrChoiceBlocking)
{
    int fds = open_fd_count();
    struct {
        int supported;
        int transport;
        const char *regexp;
    } cases[] = {
        {1 | 2, 2, "!^.*$!sip:u@tcp.test!"},
        {1, 1, "!^.*$!sip:u@udp.test!"},
        {2 | 4, 2, "!^.*$!sip:u@tcp.test!"},
        {4, -1, ""},
    };
    for (auto &c : cases) {
        char buf[256] = "junk";
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int t = resolve_naptr("1.2.3.e164.test", buf, sizeof buf, c.supported, 1, nullptr, nullptr, nullptr);
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(t, c.transport) << c.supported;
        EXPECT_STREQ(buf, c.regexp);
        // Only records naming sip are shown.
        EXPECT_NE(out.find("UUU order 20 regexp |!^.*$!sip:u@udp.test!| service |E2U+sip|\n"), std::string::npos);
        EXPECT_NE(out.find("UUU order 10 regexp |!^.*$!sip:u@tcp.test!| service |E2T+sip|\n"), std::string::npos);
        EXPECT_EQ(out.find("mailto"), std::string::npos);
        EXPECT_EQ(err, t < 0 ? "failed resolving 1.2.3.e164.test\n" : "");
    }
    EXPECT_EQ(open_fd_count(), fds);
}

struct call_fixture {
    call_object co{};
    call_leg_sip leg{};
    sip_stack stack{};
    call_fixture(int transports)
    {
        stack.transport = transports;
        leg.ss = &stack;
        co.cl_sip = &leg;
    }
};

// Drives the look-ups of the calls until none is pending (bounded).
void drive(std::vector<call_object *> calls)
{
    for (int round = 0; round < 50; round++) {
        std::vector<pollfd> fds;
        std::vector<call_object *> owners;
        for (call_object *co : calls)
            if (co->dns_context && dns_active(co->dns_context) > 0) {
                fds.push_back({dns_sock(co->dns_context), POLLIN, 0});
                owners.push_back(co);
            }
        if (fds.empty())
            return;
        poll(fds.data(), fds.size(), 100);
        for (size_t i = 0; i < fds.size(); i++) {
            if (fds[i].revents & POLLIN)
                dns_ioevent(owners[i]->dns_context, 0);
            dns_timeouts(owners[i]->dns_context, -1, 0);
        }
    }
}

TEST_F(DnsTest, ConcurrentEnumLookUpsLandInTheirOwnCalls)
{
    int before = open_fd_count();
    call_fixture a(SIP_TRANSPORT_UDP | SIP_TRANSPORT_TCP), b(SIP_TRANSPORT_UDP);
    char buf[256];
    // A first look-up of call a is replaced by the second one: its context
    // and socket are closed.
    ASSERT_EQ(resolve_naptr("4.5.6.e164.test", buf, sizeof buf, 3, 0, &a.co, &a.co.dns_context, &a.co.dns_enum_fd), 0);
    dns_ctx *first = a.co.dns_context;
    ASSERT_TRUE(first);
    EXPECT_EQ(a.co.dns_enum_fd, dns_sock(first));
    ASSERT_EQ(resolve_naptr("1.2.3.e164.test", buf, sizeof buf, 3, 0, &a.co, &a.co.dns_context, &a.co.dns_enum_fd), 0);
    ASSERT_EQ(resolve_naptr("4.5.6.e164.test", buf, sizeof buf, 1, 0, &b.co, &b.co.dns_context, &b.co.dns_enum_fd), 0);
    EXPECT_EQ(open_fd_count(), before + 2);
    drive({&a.co, &b.co});
    EXPECT_STREQ(a.co.dns_enum_regex, "!^.*$!sip:u@tcp.test!");
    EXPECT_EQ(a.co.dns_enum_using_transport, 2);
    EXPECT_STREQ(b.co.dns_enum_regex, "!^.*$!sip:other@udp.test!");
    EXPECT_EQ(b.co.dns_enum_using_transport, 1);

    // An answer for a context the call no longer holds changes nothing.
    dns_rr_naptr answer{};
    dns_naptr rec{10, 10, (char *)"U", (char *)"E2U+sip", (char *)"!x!", (char *)""};
    answer.dnsnaptr_nrr = 1;
    answer.dnsnaptr_naptr = &rec;
    EXPECT_EQ(dns_query_naptr_callback((dns_ctx *)&answer, &answer, &b.co), -1);
    EXPECT_STREQ(b.co.dns_enum_regex, "!^.*$!sip:other@udp.test!");
    EXPECT_EQ(dns_query_naptr_callback(b.co.dns_context, nullptr, &b.co), 1);
    EXPECT_EQ(dns_query_naptr_callback(b.co.dns_context, &answer, &b.co), 1);
    EXPECT_STREQ(b.co.dns_enum_regex, "!x!");

    dns_close_call_context(&a.co);
    dns_close_call_context(&b.co);
    EXPECT_EQ(a.co.dns_context, nullptr);
    EXPECT_EQ(open_fd_count(), before);
}

TEST_F(DnsTest, EnumWithoutStackTakesUdp)
{
    call_object co{};
    char buf[256];
    ASSERT_EQ(resolve_naptr("1.2.3.e164.test", buf, sizeof buf, 7, 0, &co, &co.dns_context, &co.dns_enum_fd), 0);
    drive({&co});
    EXPECT_STREQ(co.dns_enum_regex, "!^.*$!sip:u@udp.test!");
    EXPECT_EQ(co.dns_enum_using_transport, 1);
    dns_close_call_context(&co);

    // An invalid name: the line, no context left behind.
    testing::internal::CaptureStderr();
    EXPECT_EQ(resolve_naptr("a..b", buf, sizeof buf, 7, 0, &co, &co.dns_context, &co.dns_enum_fd), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "failed resolving invalid namea..b\n");
    EXPECT_EQ(co.dns_context, nullptr);
}

} // namespace

namespace {

// Look-ups, clearing and listing from several threads at once: the cached
// SRV path that has to resolve lost targets keeps dns_call_lock before
// dns_cache_lock, so nothing deadlocks, and the sanitizer tree sees no race.
TEST_F(DnsTest, LookUpsFromSeveralThreads)
{
    FILE *sink = fopen("/dev/null", "w");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([t, sink]() {
            for (int i = 0; i < 40; i++) {
                switch ((t + i) % 4) {
                case 0:
                    dns_cache_free_srv_record(dns_cache_resolve_to_srv_record("u.test", SIP_TRANSPORT_UDP, 0));
                    break;
                case 1: {
                    char buf[64];
                    resolve_address_to_regexp(i % 2 ? "ok.u.test" : "peer.test", buf, sizeof buf);
                    break;
                }
                case 2:
                    dns_cache_remove_a_record_from_cache("ok.u.test");
                    dns_cache_list(sink);
                    break;
                default:
                    if (i % 10 == 3)
                        dns_cache_clear();
                    dns_cache_free_srv_record(dns_cache_resolve_to_srv_record("dom.test", SIP_TRANSPORT_UDP, i % 7 == 0));
                }
            }
        });
    for (auto &th : threads)
        th.join();
    fclose(sink);
    srv_ptr r(dns_cache_resolve_to_srv_record("u.test", SIP_TRANSPORT_UDP, 0));
    ASSERT_TRUE(r);
    EXPECT_STREQ(target_name(r.get()), "ok.u.test");
}

} // namespace
