#include "console_loop.h"

#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "application.h"
#include "console.h"

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

static void push_piece(std::vector<std::string> &out, const std::string &piece)
{
    size_t b = 0, e = piece.size();
    while (b < e && is_blank(piece[b]))
        b++;
    while (e > b && is_blank(piece[e - 1]))
        e--;
    if (e > b)
        out.emplace_back(piece, b, e - b);
}

std::vector<std::string> console_split_line(const char *line)
{
    std::vector<std::string> pieces;
    std::string cur;
    for (const char *p = line; *p; p++) {
        if (p[0] == '\\' && p[1] == ';') {
            cur += ';';
            p++;
        } else if (*p == ';') {
            push_piece(pieces, cur);
            cur.clear();
        } else {
            cur += *p;
        }
    }
    push_piece(pieces, cur);
    return pieces;
}

static void run_line(const std::string &line, FILE *out, console_input_fn handler, int *state)
{
    for (const std::string &piece : console_split_line(line.c_str()))
        handler(piece.c_str(), out, state);
}

void read_commandline_fd(int fd, FILE *out, console_input_fn handler, volatile int *leave_flag)
{
    int state = 0;
    std::string line;     // the line being collected, at most CONSOLE_LINE_MAX
    bool overlong = false; // the current line passed the limit: drop its tail
    char buf[4096];

    for (;;) {
        fd_set rf;
        FD_ZERO(&rf);
        FD_SET(fd, &rf);
        struct timeval tv = {0, 100000};
        int r = select(fd + 1, &rf, nullptr, nullptr, &tv);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            if (leave_flag && *leave_flag == 1)
                return;
            continue;
        }
        ssize_t n = r > 0 ? read(fd, buf, sizeof buf) : -1;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (!line.empty())
                run_line(line, out, handler, &state);
            // The end of the input is no error: say which one it was.
            fprintf(out, n == 0 ? "read_commandline: end of input\n"
                                : "read_commandline: error reading from stdin\n");
            fflush(out);
            return;
        }
        for (ssize_t i = 0; i < n; i++) {
            char c = buf[i];
            if (c == '\n') {
                if (overlong) {
                    fprintf(out, "read_commandline: line longer than %d characters, rest discarded\n",
                            CONSOLE_LINE_MAX);
                    fflush(out);
                }
                run_line(line, out, handler, &state);
                line.clear();
                overlong = false;
            } else if (line.size() < CONSOLE_LINE_MAX) {
                line += c;
            } else {
                overlong = true;
            }
        }
    }
}

void read_commandline()
{
    read_commandline_fd(0, stdout, mc_handle_input, gp ? &gp->reject_calls : nullptr);
}
