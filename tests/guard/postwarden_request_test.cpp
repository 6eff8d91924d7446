// postwarden on whole CGI requests: method, length, content type, the
// scripts that take uploads without a session, the maintenance markers, and
// the hand-over to the real php-cgi.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "guard_e2e.h"

namespace {

const char *const multipart = "multipart/form-data; boundary=----b";
const std::vector<std::string> raw_body = {"-d", "enable_post_data_reading=0"};

std::string describe(const request_vars &v)
{
    auto s = [](const char *p) { return p ? std::string(p) : std::string("(unset)"); };
    return s(v.method) + " len=" + s(v.content_length) + " type=" + s(v.content_type) +
           " script=" + s(v.script) + " cookie=" + s(v.cookie);
}

TEST(PostwardenProgram, LinksOnlyAgainstTheCLibrary)
{
    FILE *p = popen("ldd " GUARD_PROGRAM " 2>&1", "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char line[512];
    while (fgets(line, sizeof(line), p))
        out += line;
    ASSERT_EQ(pclose(p), 0) << out;
    EXPECT_NE(out.find("libc.so"), std::string::npos) << out;
    EXPECT_EQ(out.find("libstdc++"), std::string::npos) << out;
    EXPECT_EQ(out.find("libgcc_s"), std::string::npos) << out;
    EXPECT_EQ(out.find("libm.so"), std::string::npos) << out;
}

TEST(PostwardenAdmits, RequestsReachPhpWithTheirBodyAndTheMemoryLimit)
{
    const std::vector<std::string> no_post_limit = {"-d", "enable_post_data_reading=0", "-d", "post_max_size=0"};
    struct {
        request_vars vars;
        size_t body;
        std::vector<std::string> args;
    } cases[] = {
        {{"GET", nullptr, nullptr, "/index.php", nullptr}, 0, {}},
        {{"GET", "abc", nullptr, "/index.php", nullptr}, 0, {}},
        {{"DELETE", "100000", "text/plain", "/app/x.php", nullptr}, 100000, {}},
        {{"post", "70000", multipart, "/app/x.php", nullptr}, 70000, raw_body},
        {{"POST", "0", "application/x-www-form-urlencoded", "/app/x.php", nullptr}, 0, {}},
        {{"POST", "00100", nullptr, "/app/x.php", nullptr}, 100, {}},
        {{"POST", "65536", "text/plain", "/app/x.php", nullptr}, 65536, {}},
        {{"PUT", "65536", "application/octet-stream", "/app/x.php", nullptr}, 65536, {}},
        {{"POST", "1000", "multipart/mixed", "/app/x.php", nullptr}, 1000, {}},
        {{"PUT", "1048576", "MultiPart/Form-DATA; boundary=xyz", "/app/api/api.php", nullptr}, 1048576, raw_body},
        {{"POST", "1000", multipart, "/app/api/davnOle.php", nullptr}, 1000, raw_body},
        {{"POST", "1000", multipart, "/app/api/hubdesk.php", "PHPSESSID=nosuch"}, 1000, raw_body},
        {{"POST", "20971520", multipart, "/app/api/api.php", nullptr}, 20971520, no_post_limit},
    };
    for (const auto &c : cases) {
        std::string body = body_of(c.body);
        guard_result r = run_guard(guard_request(c.vars, body, c.args));
        php_report rep = parse_report(r.out);
        SCOPED_TRACE(describe(c.vars));
        ASSERT_TRUE(rep.ran) << r.out << r.err;
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(rep.memory_limit, "24M");
        EXPECT_EQ(rep.post_data_reading, c.args.empty() ? "1" : "0");
        EXPECT_EQ(rep.method, c.vars.method);
        EXPECT_EQ(rep.length, (long long)c.body);
        EXPECT_EQ(rep.crc32, crc32_hex(body));
        EXPECT_EQ(r.unread, 0u);
        EXPECT_TRUE(r.log.empty()) << r.log[0];
    }
}

TEST(PostwardenRefuses, WithTheExactAnswerAfterReadingTheBodyAway)
{
    const char *const no_length = "POST/PUT without a valid Content-Length";
    const char *const plain_large = "non-multipart body over 64 KiB";
    const char *const multipart_large = "multipart body over 20 MiB";
    const char *const no_session = "multipart upload without a valid session";
    struct {
        request_vars vars;
        size_t body;
        const std::string &answer;
        const char *reason;
    } cases[] = {
        {{"POST", nullptr, "text/plain", "/app/x.php", nullptr}, 0, answer_411, no_length},
        {{"POST", "", "text/plain", "/app/x.php", nullptr}, 0, answer_411, no_length},
        {{"POST", "abc", "text/plain", "/app/x.php", nullptr}, 0, answer_411, no_length},
        {{"POST", "-1", "text/plain", "/app/x.php", nullptr}, 0, answer_411, no_length},
        {{"POST", "12a", "text/plain", "/app/x.php", nullptr}, 0, answer_411, no_length},
        {{"POST", "2147483648", "text/plain", "/app/x.php", nullptr}, 0, answer_411, no_length},
        {{"PUT", nullptr, multipart, "/app/api/api.php", nullptr}, 0, answer_411, no_length},
        {{"POST", "65537", "text/plain", "/app/x.php", nullptr}, 65537, answer_413, plain_large},
        {{"POST", "65537", nullptr, "/app/api/api.php", nullptr}, 65537, answer_413, plain_large},
        // The client sends less than it announced and closes.
        {{"PUT", "2147483647", "text/plain", "/app/x.php", nullptr}, 5000, answer_413, plain_large},
        {{"POST", "20971521", multipart, "/app/api/api.php", nullptr}, 20971521, answer_413, multipart_large},
        {{"POST", "20971520", multipart, "/app/x.php", nullptr}, 20971520, answer_403, no_session},
        {{"POST", "10", multipart, "/app/x.php", nullptr}, 10, answer_403, no_session},
        {{"POST", "0", "MULTIPART/FORM-DATA", "/app/x.php", nullptr}, 0, answer_403, no_session},
        {{"PUT", "10", multipart, "/app/x.php", "PHPSESSID=nosuchsession"}, 10, answer_403, no_session},
        {{"POST", "10", multipart, nullptr, nullptr}, 10, answer_403, no_session},
        {{"POST", "10", multipart, "/app/api/api.php/", nullptr}, 10, answer_403, no_session},
        {{"POST", "10", multipart, "/app/api/Api.php", nullptr}, 10, answer_403, no_session},
        {{"POST", "10", multipart, "/app/api/api.php.bak", nullptr}, 10, answer_403, no_session},
        {{"POST", "10", multipart, "/app/api/../api/api.php", nullptr}, 10, answer_403, no_session},
        {{"POST", "10", multipart, "/cgi-bin/flash-tool.php", nullptr}, 10, answer_403, no_session},
        {{"POST", "10", multipart, "/cgi-bin/update-tool.php", nullptr}, 10, answer_403, no_session},
    };
    for (const auto &c : cases) {
        guard_result r = run_guard(guard_request(c.vars, body_of(c.body)));
        SCOPED_TRACE(describe(c.vars));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.answer) << r.err;
        EXPECT_EQ(r.unread, 0u);
        EXPECT_TRUE(is_rejection_log(r.log, r.pid, c.reason)) << (r.log.empty() ? "" : r.log[0]);
    }
}

TEST(PostwardenRefuses, StalledBodyIsGivenUpAfterTenSeconds)
{
    cgi_request rq = guard_request({"POST", "70000", "text/plain", "/app/x.php", nullptr}, body_of(10));
    rq.stall = true;
    guard_result r = run_guard(rq);
    EXPECT_EQ(r.out, answer_413);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.unread, 0u);
    EXPECT_GE(r.seconds, 9.5);
    EXPECT_LT(r.seconds, 15.0);
}

// A stand-in for /usr/bin/php-cgi that cannot be executed.
class broken_interpreter {
public:
    broken_interpreter()
    {
        int fd = open("/tmp/not-executable", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        close(fd);
        mounted = mount("/tmp/not-executable", "/usr/bin/php-cgi", nullptr, MS_BIND, nullptr) == 0;
    }
    ~broken_interpreter()
    {
        if (mounted)
            umount2("/usr/bin/php-cgi", MNT_DETACH);
        unlink("/tmp/not-executable");
    }
    bool mounted;
};

TEST(PostwardenRefuses, InterpreterThatCannotRunGives500)
{
    broken_interpreter broken;
    ASSERT_TRUE(broken.mounted);
    struct {
        request_vars vars;
        size_t body;
    } cases[] = {
        {{"GET", nullptr, nullptr, "/index.php", nullptr}, 0},
        {{"POST", "3000", "text/plain", "/app/x.php", nullptr}, 3000},
        {{"POST", "3000", multipart, "/app/api/api.php", nullptr}, 3000},
    };
    for (const auto &c : cases) {
        guard_result r = run_guard(guard_request(c.vars, body_of(c.body), {"-d", "x=1"}));
        SCOPED_TRACE(describe(c.vars));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, answer_500);
        EXPECT_EQ(r.unread, 0u);
        // The log was closed for the exec and must be opened again.
        EXPECT_TRUE(is_rejection_log(r.log, r.pid, "cannot exec /usr/bin/php-cgi"))
            << (r.log.empty() ? "" : r.log[0]);
    }
}

enum marker_kind { ROOT_FILE, USER_FILE, SYMLINK, DIRECTORY, FIFO };

void make_marker(const std::string &path, marker_kind kind)
{
    switch (kind) {
    case ROOT_FILE:
    case USER_FILE: {
        int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        if (kind == USER_FILE) {
            ASSERT_EQ(fchown(fd, 1000, 1000), 0);
        }
        close(fd);
        break;
    }
    case SYMLINK: {
        int fd = open("/tmp/marker-target", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        close(fd);
        ASSERT_EQ(symlink("/tmp/marker-target", path.c_str()), 0);
        break;
    }
    case DIRECTORY:
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
        break;
    case FIFO:
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        break;
    }
}

TEST(PostwardenMaintenance, MarkerOfRootAdmitsTheToolsUploadWithoutSession)
{
    const char *const flash = "/cgi-bin/flash-tool.php";
    const char *const update = "/cgi-bin/update-tool.php";
    struct {
        const char *script;
        const char *marker;
        marker_kind kind;
        bool admitted;
    } cases[] = {
        {flash, "/tmp/flashmode.active", ROOT_FILE, true},
        {flash, "/tmp/flashmode.active", USER_FILE, false},
        {flash, "/tmp/flashmode.active", SYMLINK, false},
        {flash, "/tmp/flashmode.active", DIRECTORY, false},
        {flash, "/tmp/flashmode.active", FIFO, false},
        {flash, "/tmp/fwupdate.active", ROOT_FILE, false},
        {flash, "/tmp/enable_recovery", ROOT_FILE, false},
        {update, "/tmp/fwupdate.active", ROOT_FILE, true},
        {update, "/tmp/enable_recovery", ROOT_FILE, true},
        {update, "/tmp/fwupdate.active", SYMLINK, false},
        {update, "/tmp/enable_recovery", USER_FILE, false},
        {update, "/tmp/flashmode.active", ROOT_FILE, false},
        {"/app/x.php", "/tmp/flashmode.active", ROOT_FILE, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.script) + " with " + c.marker + " kind " + std::to_string(c.kind));
        make_marker(c.marker, c.kind);
        std::string body = body_of(4000);
        guard_result r = run_guard(guard_request({"POST", "4000", multipart, c.script, nullptr}, body, raw_body));
        if (c.kind == DIRECTORY)
            rmdir(c.marker);
        else
            unlink(c.marker);
        unlink("/tmp/marker-target");
        EXPECT_EQ(r.status, 0);
        if (c.admitted) {
            php_report rep = parse_report(r.out);
            ASSERT_TRUE(rep.ran) << r.out;
            EXPECT_EQ(rep.length, 4000);
            EXPECT_EQ(rep.crc32, crc32_hex(body));
        } else {
            EXPECT_EQ(r.out, answer_403);
        }
    }
}

}  // namespace
