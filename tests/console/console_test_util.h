// Helpers of the console tests: a TCP client of the status server, the
// dispatcher's answer to a line as the reference text.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "console.h"

struct console_conn {
    int fd = -1;
    std::string got;   // read but not yet taken
    bool eof = false;  // the server closed

    explicit console_conn(int port)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons((uint16_t)port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, (sockaddr *)&a, sizeof a) != 0) {
            close(fd);
            fd = -1;
        }
    }
    ~console_conn()
    {
        if (fd >= 0)
            close(fd);
    }
    console_conn(const console_conn &) = delete;
    console_conn &operator=(const console_conn &) = delete;

    int local_port() const
    {
        sockaddr_in a{};
        socklen_t l = sizeof a;
        getsockname(fd, (sockaddr *)&a, &l);
        return ntohs(a.sin_port);
    }
    bool send(const std::string &text) { return write(fd, text.data(), text.size()) == (ssize_t)text.size(); }
    // Reads until `want` has arrived, the server closed or 10 s passed;
    // returns what came.
    std::string read_until(const std::string &want)
    {
        for (int waited = 0; waited < 10000 && got.find(want) == std::string::npos && !eof;) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) {
                waited += 50;
                continue;
            }
            char buf[4096];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                eof = true;
            else
                got.append(buf, (size_t)n);
        }
        std::string s = got;
        got.clear();
        return s;
    }
    // True when the server closes the connection within 10 s; what came
    // before stays in `got`.
    bool closed_by_server()
    {
        std::string before = read_until(std::string("\x01\x02never\x02\x01"));
        got = before;
        return eof;
    }
};

// The dispatcher's whole answer to one line (no follow-up state).
inline std::string dispatcher_answer(const char *line)
{
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    int state = 0;
    mc_handle_input(line, f, &state);
    fclose(f);
    std::string s(buf, size);
    free(buf);
    return s;
}

inline const std::string CONSOLE_GREETING = "quilmar VoIP Gateway Console (enter h for help, q to quit)\r\n\r\n";

// The application object with its locks and a pool of n free call objects,
// once per test binary.
#include "application.h"
#include "pools.h"
inline void console_test_application(int n)
{
    if (gp)
        return;
    application_create();
    init_locks();
    OPERATIONARRAYSIZE = n;
    for (int i = 0; i < n; i++) {
        gp->operations[i] = new call_object();
        init_call_object(gp->operations[i], i);
    }
}
