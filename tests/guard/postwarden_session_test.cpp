// postwarden's session check on uploads: session files written by the real
// PHP interpreter, and hand-made ones it must refuse.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "guard_e2e.h"
#include "php_session.h"

namespace {

const char *const no_session = "multipart upload without a valid session";
const size_t upload_size = 3000;

// An upload to a script that needs a session.
guard_result upload(const char *cookie, std::function<void(pid_t)> started = nullptr)
{
    cgi_request rq = guard_request(
        {"POST", "3000", "multipart/form-data; boundary=----b", "/app/system/upload.php", cookie},
        body_of(upload_size), {"-d", "enable_post_data_reading=0"});
    rq.started = std::move(started);
    return run_guard(rq);
}

::testing::AssertionResult admitted(const guard_result &r)
{
    php_report rep = parse_report(r.out);
    if (r.status == 0 && rep.ran && rep.length == (long long)upload_size && r.log.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not admitted: " << r.out << r.err;
}

::testing::AssertionResult refused(const guard_result &r)
{
    if (r.status == 0 && r.out == answer_403 && r.unread == 0 && is_rejection_log(r.log, r.pid, no_session))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not refused: " << r.out << r.err;
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string cookie_for(const std::string &id)
{
    return "lang=en; PHPSESSID=" + id;
}

TEST(PostwardenSession, PhpWrittenSessionsPassByAgeExactlyAtTheLimits)
{
    struct {
        const char *shape;
        int64_t age;  // seconds before now; negative: in the future
        int levels;
        bool live;
    } cases[] = {
        {"rich", 0, 0, true},
        {"rich", 1200, 0, true},
        {"rich", 1201, 0, false},
        {"rich", -60, 0, true},
        {"rich", -61, 0, false},
        {"string", 0, 0, false},
        {"float", 0, 0, false},
        {"absent", 0, 0, false},
        {"deep", 0, 16, true},
        {"deep", 0, 17, false},
        {"early", 0, 0, true},
        {"late", 0, 0, false},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.shape) + " age " + std::to_string(c.age) + " levels " + std::to_string(c.levels));
        guard_result r;
        std::string image;
        // The limits are exact to the second: the session is written for a
        // second a little ahead, the guard asked as that second begins (PHP
        // may take seconds on a loaded machine, the guard takes milliseconds);
        // retried when the clock ticked before the guard's decision.
        for (int attempt = 0; attempt < 5; attempt++) {
            std::string id = "php" + std::to_string(n++) + "-" + c.shape;
            std::string error;
            time_t now = time(nullptr) + 3;
            image = php_make_session(id, c.shape, int64_t(now) - c.age, &error, c.levels);
            ASSERT_FALSE(image.empty()) << error;
            std::string cookie = cookie_for(id);
            while (time(nullptr) < now)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (time(nullptr) != now)
                continue;
            r = upload(cookie.c_str());
            if (time(nullptr) == now)
                break;
        }
        EXPECT_TRUE(c.live ? admitted(r) : refused(r)) << image;

        // The session holds what the case is about.
        std::string entry = "quilari_time|i:";
        if (std::string(c.shape) == "rich") {
            const std::string forms[] = {
                "user|s:11:\"ad|min;\"x'y\";", std::string("s:10:\"\0Keep\0priv\"", 17), "s:7:\"\0*\0prot\";",
                "O:4:\"Keep\":3:{", "O:8:\"stdClass\":2:{", "o2|r:", "ref|R:", "d:INF;", "d:NAN;",
                "b:1;", "b:0;", "N;", "a:0:{}", "s:4:\"k|;\"\";i:-9223372036854775808;",
                "i:9223372036854775807;", "s:0:\"\";s:0:\"\";", "after|a:1:{",
            };
            for (const auto &f : forms)
                EXPECT_NE(image.find(f), std::string::npos) << f;
            EXPECT_LT(image.find("ref|R:"), image.find(entry));
            EXPECT_NE(image.find(entry), std::string::npos);
        } else if (std::string(c.shape) == "deep") {
            std::string nest;
            for (int i = 0; i < c.levels; i++)
                nest += "a:1:{i:0;";
            EXPECT_NE(image.find("deep|" + nest + "s:3:\"s|;\";"), std::string::npos);
        } else if (std::string(c.shape) == "late") {
            EXPECT_GT(image.find(entry), size_t(4096));
        } else if (std::string(c.shape) == "early") {
            EXPECT_EQ(image.find(entry), 0u);
            EXPECT_GT(image.size(), size_t(4096));
        }
    }
}

TEST(PostwardenSession, CookieNamesTheSessionFile)
{
    const std::string id127 = std::string(120, 'A') + "bc-9,Zz";
    std::string error;
    std::string image = php_make_session(id127, "rich", time(nullptr), &error);
    ASSERT_FALSE(image.empty()) << error;
    // The same live session under names the guard must not look up.
    for (const char *other : {"a.b", "a_b"})
        write_file(std::string("/tmp/sess_") + other, image);
    write_file("/tmp/sess_" + id127 + "x", image);

    struct {
        std::string cookie;
        bool live;
    } cases[] = {
        {"PHPSESSID=" + id127, true},
        {"theme=dark;\t;;PHPSESSID=" + id127 + "; lang=en", true},
        {"PHPSESSID=" + id127 + "x", false},
        {"PHPSESSID=", false},
        {"PHPSESSID=; PHPSESSID=" + id127, false},
        {"PHPSESSID=a.b", false},
        {"PHPSESSID=a_b", false},
        {"phpsessid=" + id127, false},
        {"XPHPSESSID=" + id127, false},
        {"theme=dark", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.cookie);
        guard_result r = upload(c.cookie.c_str());
        EXPECT_TRUE(c.live ? admitted(r) : refused(r));
    }
}

TEST(PostwardenSession, HandMadeFilesAreReadWithinTheirFirst4096Bytes)
{
    const std::string now = std::to_string(time(nullptr));
    const std::string time_entry = "quilari_time|i:" + now + ";";
    // A padding entry that makes the whole file exactly `size` bytes long.
    auto padded_to = [&](size_t size) {
        std::string head = "pad|s:";
        size_t fixed = head.size() + 3 + time_entry.size();  // :" and ";
        size_t n = size - fixed - 4;
        std::string s = head + std::to_string(n) + ":\"" + std::string(n, 'x') + "\";" + time_entry;
        return s.size() == size ? s : head + std::to_string(n - 1) + ":\"" + std::string(n - 1, 'x') + "\";" + time_entry;
    };
    std::string deep;
    for (int i = 0; i < 1000; i++)
        deep += "a:1:{i:0;";
    struct {
        std::string name;
        std::string image;
        bool live;
    } cases[] = {
        {"unset", "x|i:4611686018427387904;!gone|" + time_entry, true},
        {"exact", padded_to(4096), true},
        {"over", padded_to(4097), false},
        {"string", "quilari_time|s:" + std::to_string(now.size()) + ":\"" + now + "\";", false},
        {"open", "quilari_time|i:" + now, false},
        {"huge", "quilari_time|i:99999999999999999999;", false},
        {"deep", "x|" + deep + time_entry, false},
        {"strlen", "x|s:9223372036854775807:\"a\";" + time_entry, false},
        {"count", "x|a:4611686018427387904:{i:0;i:0;}" + time_entry, false},
        {"class", "x|O:4294967293:\"a\":0:{}" + time_entry, false},
        {"enum", "x|E:7:\"Suit:Hi\";" + time_entry, false},
        {"nobar", "quilari_time", false},
        {"empty", "", false},
    };
    ASSERT_EQ(cases[1].image.size(), 4096u);
    ASSERT_EQ(cases[2].image.size(), 4097u);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        write_file("/tmp/sess_hand-" + c.name, c.image);
        std::string cookie = "PHPSESSID=hand-" + c.name;
        guard_result r = upload(cookie.c_str());
        EXPECT_TRUE(c.live ? admitted(r) : refused(r));
        if (c.name == "empty") {
            EXPECT_GE(r.seconds, 0.1);  // read once more after a pause
        }
    }
}

TEST(PostwardenSession, OnlyARegularFileReachedWithoutALinkCounts)
{
    std::string error;
    std::string image = php_make_session("target", "rich", time(nullptr), &error);
    ASSERT_FALSE(image.empty()) << error;
    ASSERT_EQ(symlink("/tmp/sess_target", "/tmp/sess_link"), 0);
    ASSERT_EQ(mkdir("/tmp/sess_dir", 0700), 0);
    ASSERT_EQ(mkfifo("/tmp/sess_fifo", 0600), 0);
    EXPECT_TRUE(admitted(upload("PHPSESSID=target")));
    for (const char *id : {"link", "dir", "fifo", "missing"}) {
        SCOPED_TRACE(id);
        std::string cookie = std::string("PHPSESSID=") + id;
        EXPECT_TRUE(refused(upload(cookie.c_str())));
    }
}

// The interpreter empties a session file before it writes it anew; a guard
// that finds it empty looks once more after a pause.
TEST(PostwardenSession, FileFoundEmptyIsReadAgain)
{
    std::string error;
    std::string image = php_make_session("rewrite", "rich", time(nullptr), &error);
    ASSERT_FALSE(image.empty()) << error;
    ASSERT_EQ(truncate("/tmp/sess_rewrite", 0), 0);

    bool filled = false;
    guard_result r = upload("PHPSESSID=rewrite", [&](pid_t pid) {
        // Wait until the guard sleeps before its second look, then fill the file.
        std::string dir = "/proc/" + std::to_string(pid);
        for (int i = 0; i < 2000 && !filled; i++) {
            std::string comm, stat;
            std::getline(std::ifstream(dir + "/comm"), comm);
            std::getline(std::ifstream(dir + "/stat"), stat);
            size_t paren = stat.rfind(')');
            if (comm == "postwarden" && paren != std::string::npos && stat.compare(paren, 4, ") S ") == 0) {
                int fd = open("/tmp/sess_rewrite", O_WRONLY | O_CLOEXEC);
                filled = fd >= 0 && write(fd, image.data(), image.size()) == ssize_t(image.size());
                close(fd);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    ASSERT_TRUE(filled);
    EXPECT_TRUE(admitted(r));
}

}  // namespace
