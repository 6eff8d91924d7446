// Line extraction of both readers over a pipe standing in for the modem.
#include "gsm_fixture.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

struct pipe_port {
    int w = -1;
    _libgsm_ctlport_t *ctl = new _libgsm_ctlport_t();
    pipe_port()
    {
        int p[2];
        EXPECT_EQ(pipe(p), 0);
        ctl->port = 1;
        ctl->fd_r = p[0];
        ctl->fd_w = -1;
        ctl->read_len = 0;
        ctl->read_buffer[0] = '\0';
        w = p[1];
    }
    ~pipe_port()
    {
        if (w >= 0)
            close(w);
        close(ctl->fd_r);
        delete ctl;
    }
    void feed(const std::string &s) { ASSERT_EQ(write(w, s.data(), s.size()), (ssize_t)s.size()); }
};

struct chunk {
    std::string bytes;
    int pause_ms; // before this chunk
};

struct line_case {
    const char *name;
    std::vector<chunk> input;
    const char *prompt;
    std::vector<std::string> lines; // complete lines expected in order
};

// Writes the chunks from another thread while the reader reads.
std::vector<std::string> read_all(pipe_port &pp, const line_case &c, int method)
{
    global_gsm_read_method = method;
    std::thread writer([&] {
        for (auto &ch : c.input) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ch.pause_ms));
            pp.feed(ch.bytes);
        }
    });
    std::vector<std::string> got;
    std::vector<char> line(4096);
    // Each expected line ends its wait when it is complete; the bound only
    // matters when the reader misses it.
    for (size_t i = 0; i < c.lines.size(); i++) {
        int r = gsm_read_line("CID:000000:g1", pp.ctl, line.data(), (int)line.size(), 5000, c.prompt);
        if (r != 1)
            break;
        got.emplace_back(line.data());
    }
    writer.join();
    // Everything has been written by now: no further line may come.
    if (got.size() == c.lines.size() &&
        gsm_read_line("CID:000000:g1", pp.ctl, line.data(), (int)line.size(), 50, c.prompt) == 1)
        got.emplace_back(line.data());
    global_gsm_read_method = 1;
    return got;
}

TEST(GsmLineReader, BufferedReaderSplitsLinesAcrossWrites)
{
    const std::string big(5000, 'X');
    const std::vector<line_case> cases = {
        {"whole line", {{"OK\r\n", 0}}, nullptr, {"OK\r\n"}},
        {"split before CR LF", {{"OK", 0}, {"\r\n", 20}}, nullptr, {"OK\r\n"}},
        // The LF follows at once: a CR at the end of the buffer waits a moment
        // for it (a longer pause would test the load of the machine).
        {"split between CR and LF", {{"OK\r", 0}, {"\n", 0}}, nullptr, {"OK\r\n"}},
        {"echo then answer", {{"AT+CSQ\r\r\n+CSQ: 17,99\r\n\r\nOK\r\n", 0}}, nullptr,
         {"AT+CSQ\r", "\r\n", "+CSQ: 17,99\r\n", "\r\n", "OK\r\n"}},
        {"byte by byte", {{"R", 0}, {"I", 5}, {"N", 5}, {"G", 5}, {"\r\n", 5}}, nullptr,
         {"RING\r\n"}},
        {"lone LF ends a line", {{"A\nB\r\n", 0}}, nullptr, {"A\n", "B\r\n"}},
        {"SMS prompt", {{"\r\n> ", 0}}, "> ", {"\r\n", "> "}},
        {"NUL bytes dropped", {{std::string("O\0K\r\n", 5), 0}}, nullptr, {"OK\r\n"}},
        {"over-long line dropped", {{big + "\r\nOK\r\n", 0}}, nullptr, {"OK\r\n"}},
    };
    for (const auto &c : cases) {
        pipe_port pp;
        EXPECT_EQ(read_all(pp, c, 1), c.lines) << c.name;
    }
}

TEST(GsmLineReader, ByteReaderEndsLinesAtCarriageReturn)
{
    const std::vector<line_case> cases = {
        {"echo and answer", {{"AT\r\r\nOK\r\n", 0}}, nullptr, {"AT\r", "\r", "\n", "OK\r", "\n"}},
        {"prompt", {{"> ", 0}}, "> ", {"> "}},
        {"NUL skipped", {{std::string("O\0K\r", 4), 0}}, nullptr, {"OK\r"}},
    };
    for (const auto &c : cases) {
        pipe_port pp;
        EXPECT_EQ(read_all(pp, c, 0), c.lines) << c.name;
    }
}

TEST(GsmLineReader, TimeOutHandsBackThePartialText)
{
    pipe_port pp;
    pp.feed("+CLIP: \"123");
    char line[64];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(gsm_read_line_new("c", pp.ctl, line, sizeof line, 150, nullptr), 0);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
                  .count();
    EXPECT_STREQ(line, "+CLIP: \"123");
    EXPECT_GE(ms, 140);
    EXPECT_EQ(pp.ctl->read_len, 0);
}

TEST(GsmLineReader, FullBufferWithoutTerminatorIsDeliveredAsOneLine)
{
    pipe_port pp;
    std::thread writer([&] { pp.feed(std::string(8191, 'A')); });
    std::vector<char> line(4096);
    int r = gsm_read_line_new("c", pp.ctl, line.data(), (int)line.size(), 2000, nullptr);
    writer.join();
    EXPECT_EQ(r, 1);
    EXPECT_EQ(std::string(line.data()), std::string(4095, 'A'));
}

TEST(GsmLineReader, RejectsBadArguments)
{
    pipe_port pp;
    char line[8];
    EXPECT_EQ(gsm_read_line_new("c", nullptr, line, sizeof line, 10, nullptr), 0);
    EXPECT_EQ(gsm_read_line_new("c", pp.ctl, line, 1, 10, nullptr), 0);
    EXPECT_EQ(gsm_read_line_new("c", pp.ctl, line, sizeof line, -1, nullptr), 0);
    EXPECT_EQ(gsm_read_line_old("c", pp.ctl, nullptr, 8, 10, nullptr), 0);
}

static double cpu_seconds()
{
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

TEST(GsmLineReader, HangUpEndsTheReadAtOnceAndIsRemembered)
{
    for (int method : {1, 0}) {
        pipe_port pp;
        pp.feed("OK");
        close(pp.w);
        pp.w = -1;
        char line[64];
        global_gsm_read_method = method;
        double c0 = cpu_seconds();
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < 50; i++)
            EXPECT_EQ(gsm_read_line("c", pp.ctl, line, sizeof line, 1000, nullptr), 0);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
        global_gsm_read_method = 1;
        EXPECT_EQ(pp.ctl->hung_up.load(), 1) << method;
        EXPECT_LT(ms, 1000) << "a hung-up device must not wait out the time limit";
        EXPECT_LT(cpu_seconds() - c0, 0.5);
    }
}

} // namespace
