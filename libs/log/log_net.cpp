// UDP log targets: the network log (syslog-style lines to host:port) and the
// local log on 127.0.0.1.
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "log_backend.h"
#include "log_private.h"

int set_udp_log(const char *host, const char *port)
{
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    struct addrinfo *res = nullptr;
    int rc = getaddrinfo(host, port, &hints, &res);
    if (rc != 0) {
        fprintf(stderr, "getaddrinfo: %s\n", gai_strerror(rc));
        return -1;
    }
    int fd = -1;
    for (struct addrinfo *ai = res; ai; ai = ai->ai_next) {
        fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0)
            continue;
        if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0)
            break;
        close(fd);
        fd = -1;
    }
    freeaddrinfo(res);
    return fd;
}

// The number in a port text (0 when there is none).
static long port_number(const char *text)
{
    return strtol(text, nullptr, 10);
}

static void send_on(std::atomic<int> &sock, const char *line, size_t len)
{
    log_backend_state *b = log_backend();
    pthread_rwlock_rdlock(&b->udp_lock);
    int fd = sock.load();
    if (fd > 0)
        send(fd, line, len, MSG_DONTWAIT | MSG_NOSIGNAL); // errors are ignored
    pthread_rwlock_unlock(&b->udp_lock);
}

void log_send_netlog(const char *line, size_t len)
{
    send_on(log_backend()->netlogfd, line, len);
}

void log_send_locallog(const char *line, size_t len)
{
    send_on(log_backend()->locallogfd, line, len);
}

// Puts a freshly opened socket in place unless one is open already; the
// resolver runs outside the lock so senders never wait for it.
static void install(std::atomic<int> &sock, int fd)
{
    if (fd <= 0)
        return;
    log_backend_state *b = log_backend();
    pthread_rwlock_wrlock(&b->udp_lock);
    bool taken = sock.load() <= 0;
    if (taken)
        sock = fd;
    pthread_rwlock_unlock(&b->udp_lock);
    if (!taken)
        close(fd);
}

static void close_socket(std::atomic<int> &sock)
{
    log_backend_state *b = log_backend();
    pthread_rwlock_wrlock(&b->udp_lock);
    int fd = sock.load();
    if (fd > 0) {
        close(fd);
        sock = -1;
    }
    pthread_rwlock_unlock(&b->udp_lock);
}

void start_netlog()
{
    log_backend_state *b = log_backend();
    if (b->netlogfd.load() > 0)
        return;
    char host[64], port[64];
    pthread_rwlock_rdlock(&b->udp_lock);
    snprintf(host, sizeof host, "%s", b->logip);
    snprintf(port, sizeof port, "%s", b->logport);
    pthread_rwlock_unlock(&b->udp_lock);
    if (port_number(port) > 0)
        install(b->netlogfd, set_udp_log(host, port));
}

void stop_netlog()
{
    close_socket(log_backend()->netlogfd);
}

void toggle_netlog()
{
    if (log_backend()->netlogfd.load() > 0)
        stop_netlog();
    else
        start_netlog();
}

static void store_target(const char *host, const char *port, size_t keep)
{
    log_backend_state *b = log_backend();
    pthread_rwlock_wrlock(&b->udp_lock);
    snprintf(b->logip, sizeof b->logip, "%.*s", (int)keep, host ? host : "");
    snprintf(b->logport, sizeof b->logport, "%.*s", (int)keep, port ? port : "");
    pthread_rwlock_unlock(&b->udp_lock);
}

int update_netlog_target(const char *host, const char *port)
{
    stop_netlog();
    store_target(host, port, 63);
    start_netlog();
    return 0;
}

int init_netlog(const char *logserver)
{
    if (!logserver)
        return -1;
    store_target("", "", 0);
    const char *colon = strchr(logserver, ':');
    if (!colon || colon == logserver || colon[1] == '\0')
        return -1;
    char host[32], port[32];
    snprintf(host, sizeof host, "%.*s", (int)(colon - logserver), logserver);
    snprintf(port, sizeof port, "%s", colon + 1);
    store_target(host, port, 31);
    if (log_backend()->netlogfd.load() <= 0 && port_number(port) > 0)
        install(log_backend()->netlogfd, set_udp_log(host, port));
    return 0;
}

void init_locallog(const char *port)
{
    log_backend_state *b = log_backend();
    if (b->locallogfd.load() > 0)
        return;
    if (port)
        snprintf(b->locallogport, sizeof b->locallogport, "%s", port);
    install(b->locallogfd, set_udp_log("127.0.0.1", b->locallogport));
}
