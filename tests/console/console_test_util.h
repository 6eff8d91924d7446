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

// Bounded poll: true as soon as done() holds.
#include <chrono>
#include <thread>
template <typename F> bool console_wait_for(F done, int ms = 5000)
{
    for (int waited = 0; waited < ms; waited += 5) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}


// The status server (its thread) with experimental options, on a port of the
// kernel's choice, for one test; it ends once every client is gone.
#include <pthread.h>
#include "experimental_options.h"
#include "status_server.h"
#include <gtest/gtest.h>
struct console_test_server {
    pthread_t thread{};
    int port = 0;
    explicit console_test_server(const char *options)
    {
        _parse_experimental_options(options);
        snprintf(gp->statusport, sizeof gp->statusport, "0");
        gp->socket_fd = init_status_server();
        EXPECT_GT(gp->socket_fd, 0);
        sockaddr_in a{};
        socklen_t l = sizeof a;
        getsockname(gp->socket_fd, (sockaddr *)&a, &l);
        port = ntohs(a.sin_port);
        __atomic_store_n(&gp->run_status_server, 1, __ATOMIC_RELEASE);
        pthread_create(&thread, nullptr, status_server_thread, nullptr);
    }
    ~console_test_server()
    {
        // Clients are gone first; the thread ends at its next idle pass.
        EXPECT_TRUE(console_wait_for([] {
            lock_itapi();
            bool none = true;
            for (FILE *f : fstreams)
                none = none && !f;
            unlock_itapi();
            return none;
        }));
        __atomic_store_n(&gp->run_status_server, 0, __ATOMIC_RELEASE);
        pthread_join(thread, nullptr);
        close(gp->socket_fd);
    }
    // The server's descriptor of a client.
    static int fd_of(const console_conn &c)
    {
        int found = -1;
        console_wait_for([&] {
            lock_itapi();
            for (int fd = 0; fd < STATUS_SERVER_FDS && found < 0; fd++)
                if (fstreams[fd] && itapi_fds_remote_ports[fd] == c.local_port())
                    found = fd;
            unlock_itapi();
            return found >= 0;
        });
        return found;
    }
};

