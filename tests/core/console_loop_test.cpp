#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "console_loop.h"

namespace {

TEST(ConsoleSplit, Pieces)
{
    struct {
        const char *line;
        std::vector<std::string> pieces;
    } cases[] = {
        {"help", {"help"}},
        {"  show calls  ", {"show calls"}},
        {"a;b", {"a", "b"}},
        {"a; dp test 1\\;2", {"a", "dp test 1;2"}},
        {";a", {"a"}},
        {";;; ; ;", {}},
        {"", {}},
        {"   \t ", {}},
        {"a\\;", {"a;"}},
        {"\\;", {";"}},
        {"a\\b;c", {"a\\b", "c"}},
        {"x;;y", {"x", "y"}},
    };
    for (auto &c : cases)
        EXPECT_EQ(console_split_line(c.line), c.pieces) << "line: " << c.line;
}

std::vector<std::string> ran;
int rec_handler(const char *input, FILE *, int *state)
{
    ran.push_back(std::string(input) + "@" + std::to_string(*state));
    return ++*state; // follow-up state travels from piece to piece
}

std::string run_loop(const std::string &input, volatile int *leave = nullptr)
{
    ran.clear();
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        if (write(fds[1], input.data(), input.size()) < 0) {
        }
        if (!leave)
            close(fds[1]);
    });
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    read_commandline_fd(fds[0], out, rec_handler, leave);
    writer.join();
    fclose(out);
    std::string s(buf, len);
    free(buf);
    close(fds[0]);
    if (leave)
        close(fds[1]);
    return s;
}

TEST(ConsoleLoop, RunsPiecesWithStateAndStopsAtEnd)
{
    std::string out = run_loop("a;b\\;c\n\n ; ;\nd");
    EXPECT_EQ(ran, (std::vector<std::string>{"a@0", "b;c@1", "d@2"}));
    EXPECT_EQ(out, "read_commandline: end of input\n");
}

TEST(ConsoleLoop, ReadErrorIsNotTheEndOfInput)
{
    // readable at once, but no read succeeds on a descriptor opened for writing
    int fd = open("/dev/null", O_WRONLY);
    ASSERT_GE(fd, 0);
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    read_commandline_fd(fd, out, rec_handler, nullptr);
    fclose(out);
    close(fd);
    EXPECT_EQ(std::string(buf, len), "read_commandline: error reading from stdin\n");
    free(buf);
}

TEST(ConsoleLoop, OverlongLineTailIsDiscarded)
{
    std::string head(CONSOLE_LINE_MAX, 'h');
    std::string out = run_loop(head + "; quit\nnext\n");
    ASSERT_EQ(ran.size(), 2u);
    EXPECT_EQ(ran[0], head + "@0");
    EXPECT_EQ(ran[1], "next@1");
    EXPECT_NE(out.find("rest discarded"), std::string::npos);
}

TEST(ConsoleLoop, LeavesOnFlagAtPause)
{
    volatile int leave = 1;
    run_loop("x\n", &leave);
    EXPECT_EQ(ran, (std::vector<std::string>{"x@0"}));
}

} // namespace
