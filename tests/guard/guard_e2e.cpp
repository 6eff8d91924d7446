#include "guard_e2e.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "guard_sandbox.h"

const std::string answer_411 =
    "Status: 411 Length Required\r\nContent-Type: text/plain\r\n\r\nLength Required\r\n";
const std::string answer_413 =
    "Status: 413 Request Entity Too Large\r\nContent-Type: text/plain\r\n\r\nRequest Entity Too Large\r\n";
const std::string answer_403 = "Status: 403 Forbidden\r\nContent-Type: text/plain\r\n\r\nForbidden\r\n";
const std::string answer_500 =
    "Status: 500 Internal Server Error\r\nContent-Type: text/plain\r\n\r\nInternal Server Error\r\n";

namespace {

class sandbox_environment : public testing::Environment {
public:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root for a private mount namespace";
        std::string error;
        ASSERT_TRUE(sandbox_enter(&error)) << error;
    }
};

testing::Environment *const sandbox = testing::AddGlobalTestEnvironment(new sandbox_environment);

}  // namespace

cgi_request guard_request(const request_vars &v, std::string body, std::vector<std::string> args)
{
    cgi_request rq;
    rq.env = {"REDIRECT_STATUS=200", "GATEWAY_INTERFACE=CGI/1.1", "SCRIPT_FILENAME=" REPORT_SCRIPT};
    const std::pair<const char *, const char *> vars[] = {
        {"REQUEST_METHOD", v.method}, {"CONTENT_LENGTH", v.content_length},
        {"CONTENT_TYPE", v.content_type}, {"SCRIPT_NAME", v.script}, {"HTTP_COOKIE", v.cookie},
    };
    for (const auto &kv : vars)
        if (kv.second)
            rq.env.push_back(std::string(kv.first) + "=" + kv.second);
    rq.body = std::move(body);
    // A name of the web server's choosing: the log must still say "postwarden".
    rq.argv0 = "/www/cgi-bin/php";
    rq.args = std::move(args);
    return rq;
}

guard_result run_guard(const cgi_request &rq)
{
    guard_result r;
    static_cast<cgi_result &>(r) = run_cgi(GUARD_PROGRAM, rq);
    r.log = sandbox_log_lines(r.pid);
    return r;
}

php_report parse_report(const std::string &out)
{
    php_report rep;
    size_t at = out.find("\r\n\r\n");
    if (at == std::string::npos)
        return rep;
    std::string body = out.substr(at + 4);
    auto field = [&](const std::string &name, std::string *value) {
        size_t p = body.find(name + "=");
        if (p == std::string::npos)
            return false;
        p += name.size() + 1;
        *value = body.substr(p, body.find('\n', p) - p);
        return true;
    };
    std::string length;
    rep.ran = field("memory_limit", &rep.memory_limit) && field("method", &rep.method) &&
              field("length", &length) && field("crc32", &rep.crc32) &&
              field("enable_post_data_reading", &rep.post_data_reading);
    if (rep.ran)
        rep.length = std::stoll(length);
    return rep;
}

bool is_rejection_log(const std::vector<std::string> &log, pid_t pid, const std::string &reason)
{
    if (log.size() != 1)
        return false;
    const std::string &line = log[0];
    const std::string tail = "postwarden[" + std::to_string(pid) + "]: postwarden: " + reason;
    // LOG_AUTHPRIV (10 << 3) | LOG_WARNING (4)
    return line.rfind("<84>", 0) == 0 && line.size() >= tail.size() &&
           line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

std::string body_of(size_t n)
{
    std::string s(n, '\0');
    uint32_t x = 2463534242u;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = char(x);
    }
    return s;
}
