// Shared set-up of the DNS cache tests: one dnsmasq with every record the
// tests ask about, the application object with its locks and cache, a
// private TARN_ROOT for the overrides file.
#pragma once
#include <dirent.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "application.h"
#include "dns_cache.h"
#include "dnsmasq_runner.h"

inline std::vector<std::string> dns_test_records()
{
    return {
        "--host-record=peer.test,10.1.1.1",
        "--host-record=multi.test,10.2.0.1",
        "--host-record=multi.test,10.2.0.2",
        "--cname=alias.test,peer.test",
        "--address=/many.test/10.9.9.9",
        "--srv-host=_sip._udp.dom.test,sip1.dom.test,5060,10,60",
        "--host-record=sip1.dom.test,10.1.1.2",
        "--srv-host=_sips._tcp.dom.test,tls1.dom.test,5061,10,10",
        "--host-record=tls1.dom.test,10.1.1.3",
        "--srv-host=_sip._udp.w.test,t1.w.test,5060,10,60",
        "--srv-host=_sip._udp.w.test,t2.w.test,5062,10,40",
        "--srv-host=_sip._udp.w.test,t3.w.test,5064,20,100",
        "--host-record=t1.w.test,10.3.0.1",
        "--host-record=t2.w.test,10.3.0.2",
        "--host-record=t3.w.test,10.3.0.3",
        "--srv-host=_sip._udp.z.test,z1.z.test,5060,10,0",
        "--srv-host=_sip._udp.z.test,z2.z.test,5060,10,0",
        "--host-record=z1.z.test,10.5.0.1",
        "--host-record=z2.z.test,10.5.0.2",
        "--srv-host=_sip._udp.u.test,gone.u.test,5060,10,10",
        "--srv-host=_sip._udp.u.test,ok.u.test,5070,20,10",
        "--host-record=ok.u.test,10.4.0.1",
        "--naptr-record=1.2.3.e164.test,20,10,U,E2U+sip,!^.*$!sip:u@udp.test!",
        "--naptr-record=1.2.3.e164.test,10,10,U,E2T+sip,!^.*$!sip:u@tcp.test!",
        "--naptr-record=1.2.3.e164.test,5,10,U,E2U+email,!^.*$!mailto:u@mail.test!",
        "--naptr-record=4.5.6.e164.test,10,10,U,E2U+sip,!^.*$!sip:other@udp.test!",
    };
}

class DnsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new dnsmasq_runner(dns_test_records());
        application_create();
        init_locks();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->ok()) << "dnsmasq did not start";
        server->export_env();
        char tmpl[] = "/tmp/tarn-dns-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        root = tmpl;
        mkdir((root + "/tmp").c_str(), 0755);
        setenv("TARN_ROOT", root.c_str(), 1);
        dns_cache_clear();
        clear_overrides();
        dns_cache_set_random_source(nullptr);
        new_queries();
    }
    void TearDown() override
    {
        clear_overrides();
        dns_cache_clear();
        unsetenv("TARN_ROOT");
        std::string cmd = "rm -rf '" + root + "'";
        if (system(cmd.c_str())) {
        }
    }
    static void clear_overrides()
    {
        dns_cache *c = gp->dns_cache;
        for (int i = 0; i < c->a_records_overrides_count; i++)
            dns_cache_free_a_record(c->a_records_overrides[i]);
        c->a_records_overrides_count = 0;
    }
    void write_overrides(const std::string &text) const
    {
        std::ofstream(root + "/tmp/tarn.dns") << text;
    }
    // Queries the server saw since the last call.
    std::vector<std::string> new_queries()
    {
        std::vector<std::string> all = server->queries();
        std::vector<std::string> fresh(all.begin() + std::min(seen, all.size()), all.end());
        seen = all.size();
        return fresh;
    }
    static std::string pattern_of(const char *name)
    {
        char buf[1024];
        resolve_address_to_regexp(name, buf, sizeof buf);
        return buf;
    }
    // The addresses of a pattern in ascending order (the server rotates them).
    static std::string sorted(const std::string &pattern)
    {
        std::vector<std::string> parts;
        size_t start = 0;
        for (size_t bar; (bar = pattern.find('|', start)) != std::string::npos; start = bar + 1)
            parts.push_back(pattern.substr(start, bar - start));
        parts.push_back(pattern.substr(start));
        std::sort(parts.begin(), parts.end());
        std::string out;
        for (auto &p : parts)
            out += (out.empty() ? "" : "|") + p;
        return out;
    }

    static inline dnsmasq_runner *server = nullptr;
    std::string root;
    size_t seen = 0;
};

inline int open_fd_count()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d))
            n++;
        closedir(d);
    }
    return n;
}

struct srv_deleter {
    void operator()(dns_cache_srv_record *r) const { dns_cache_free_srv_record(r); }
};
using srv_ptr = std::unique_ptr<dns_cache_srv_record, srv_deleter>;
struct a_deleter {
    void operator()(dns_cache_a_record *r) const { dns_cache_free_a_record(r); }
};
using a_ptr = std::unique_ptr<dns_cache_a_record, a_deleter>;
