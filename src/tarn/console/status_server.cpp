#include "status_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_info.h"
#include "console.h"
#include "console_hooks.h"
#include "console_input.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "log.h"
#include "log_backend.h"
#include "pools.h"
#include "sm_defs.h"
#include "statemachine.h"

FILE *fstreams[STATUS_SERVER_FDS];
int extrainfos[STATUS_SERVER_FDS];
int itapi_fds_current_states[STATUS_SERVER_FDS];
call_object *itapi_fds_current_call_objects[STATUS_SERVER_FDS];
char itapi_fds_remote_ips[STATUS_SERVER_FDS][16];
int itapi_fds_remote_ports[STATUS_SERVER_FDS];
int itapi_fds_local_ports[STATUS_SERVER_FDS];
int release_telnet_fstreams[STATUS_SERVER_FDS];
int release_telnet_fd_flag;
volatile time_t telnet_server_time;

namespace {

pthread_mutex_t itapi_lock = PTHREAD_MUTEX_INITIALIZER;

// Event words of console-driven calls.
constexpr int32_t ITAPI_INIT_OUTGOING_WORD = sm_general(GENERAL_EVENT_ITAPI_INIT_OUTGOING);
static_assert(ITAPI_INIT_OUTGOING_WORD == 0x3000101d);

// An outbound connect waits at most this long (it runs under global_lock).
constexpr int OUTBOUND_CONNECT_MS = 3000;

const char GREETING[] = "quilmar VoIP Gateway Console (enter h for help, q to quit)\r\n";

// What the server thread keeps beside the shared tables.
struct server_state {
    int listen_fd;
    int itapi;
    int max_clients;
    fd_set master;
    int fdmax;
    int clients;
    console_input input[STATUS_SERVER_FDS];
};

// `statusport` as the packet-filter start-up read and checked it; -1 when
// it is not a port.
int configured_port()
{
    if (!gp || !gp->statusport[0])
        return -1;
    char *end = nullptr;
    long p = strtol(gp->statusport, &end, 10);
    return (*end || p < 0 || p > 65535) ? -1 : (int)p;
}

void clear_itapi_entry(int fd)
{
    itapi_fds_current_states[fd] = ITAPI_CLOSED;
    itapi_fds_current_call_objects[fd] = nullptr;
    itapi_fds_remote_ips[fd][0] = '\0';
    itapi_fds_remote_ports[fd] = 0;
    itapi_fds_local_ports[fd] = 0;
}

// The descriptor leaves the server: detached from logging, out of the read
// set, stream closed, entries cleared.
void drop_client(server_state &s, int fd, bool flush)
{
    FILE *stream = fstreams[fd];
    if (stream)
        close_attached_telnet_fds(stream);
    FD_CLR(fd, &s.master);
    lock_itapi();
    clear_itapi_entry(fd);
    fstreams[fd] = nullptr;
    unlock_itapi();
    if (stream) {
        if (flush)
            fflush(stream);
        fclose(stream);
        s.clients--;
    } else {
        printf("NO FSTREAMS FOR RFD %i\n", fd);
        close(fd);
    }
    extrainfos[fd] = 0;
    s.input[fd] = console_input();
}

// End of stream, a read error or a stream that can no longer be written.
void client_gone(server_state &s, int fd)
{
    call_object *co = nullptr;
    if (s.itapi) {
        // A call bound to the connection loses it under global_lock before
        // the stream is closed, so no action writes to a closed stream.
        pthread_mutex_lock(g_lock_manager->global_lock);
        co = mc_hooks().get_operation_by_telnet_fd(fd);
        LOGD(TARN, 9, co ? cinfo(co) : nullptr, "client disconnect %i", fd);
        if (co && (co->callinfo == CI_SIP_TO_ITAPI || co->callinfo == CI_TELNET_TO_ISDN)) {
            co->telnet_fp = nullptr;
            co->telnet_fd = 0;
            mc_hooks().add_sm_task(co, SM_WORD_FINISH_CALL);
        }
        pthread_mutex_unlock(g_lock_manager->global_lock);
    } else {
        LOGD(TARN, 9, nullptr, "client disconnect %i", fd);
    }
    drop_client(s, fd, true);
}

void accept_client(server_state &s)
{
    sockaddr_in peer{};
    socklen_t plen = sizeof peer;
    int fd = accept4(s.listen_fd, (sockaddr *)&peer, &plen, SOCK_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        LOGD(TARN, 0, nullptr, "CRITICAL: accept of new client failed: rfd %i errno %i (%s)", s.listen_fd, e,
             strerror(e));
        return;
    }
    char ip[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    int port = ntohs(peer.sin_port);
    LOGD(TARN, 9, nullptr, "new client %i (from %s:%i)", fd, ip, port);
    if (fd >= STATUS_SERVER_FDS) {
        LOGD(TARN, 0, nullptr, "CRITICAL: NOT ENOUGH FILE DESCRIPTORS: got fd %i", fd);
        close(fd);
        return;
    }
    if (s.clients >= s.max_clients) {
        LOGD(TARN, 5, nullptr, "connected_clients %i, max_clients %i, closing rfd %i", s.clients, s.max_clients,
             fd);
        close(fd);
        return;
    }
    FILE *stream = fdopen(fd, "w");
    if (!stream) {
        LOGD(TARN, 5, nullptr, "couldn't get fd for rfd %i", fd);
        close(fd);
        return;
    }
    s.clients++;
    lock_itapi();
    fstreams[fd] = stream;
    if (s.itapi) {
        itapi_fds_current_call_objects[fd] = nullptr;
        itapi_fds_current_states[fd] = ITAPI_INBOUND_FREE;
        snprintf(itapi_fds_remote_ips[fd], sizeof itapi_fds_remote_ips[fd], "%s", ip);
        itapi_fds_remote_ports[fd] = port;
        itapi_fds_local_ports[fd] = atoi(gp->statusport);
    }
    unlock_itapi();
    extrainfos[fd] = 0;
    s.input[fd] = console_input();
    FD_SET(fd, &s.master);
    if (fd > s.fdmax)
        s.fdmax = fd;
    mc_handle_input("greeting", stream, &extrainfos[fd]);
    if (ferror(stream))
        client_gone(s, fd);
}

thread_local bool dispatch_locked;

bool outbound_connection(int fd)
{
    lock_itapi();
    int st = itapi_fds_current_states[fd];
    unlock_itapi();
    return st == ITAPI_OUTBOUND_FREE || st == ITAPI_OUTBOUND_IN_USE;
}

// Runs every line of one read. Returns false when the client went away.
bool run_lines(server_state &s, int fd, const std::vector<std::string> &lines)
{
    FILE *stream = fstreams[fd];
    for (const std::string &line : lines) {
        call_object *co = nullptr;
        if (s.itapi) {
            pthread_mutex_lock(g_lock_manager->global_lock);
            co = mc_hooks().get_operation_by_telnet_fd(fd);
            if (!co)
                pthread_mutex_unlock(g_lock_manager->global_lock);
        }
        int result = 0;
        dispatch_locked = co != nullptr;
        if (co && co->callinfo == CI_SIP_TO_ITAPI)
            result = mc_hooks().mc_handle_itapi_response(line.c_str(), stream, co);
        else if (s.itapi && !co && outbound_connection(fd))
            // A peer's late reply on an idle outbound connection is no
            // command: answering it would start an endless exchange of
            // "Unknown input" lines between the two consoles.
            LOGD(TARN, 9, nullptr, "line on idle outbound console connection %i ignored: |%s|", fd, line.c_str());
        else
            result = mc_handle_input(line.c_str(), stream, &extrainfos[fd]);
        dispatch_locked = false;
        if (co) {
            if (result == 1) {
                // The call loses the connection before its stream is closed.
                co->telnet_fd = 0;
                co->telnet_fp = nullptr;
                mc_hooks().reset_op(co);
            }
            pthread_mutex_unlock(g_lock_manager->global_lock);
        }
        if (result == 1) {
            drop_client(s, fd, false);
            LOGD(TARN, 9, nullptr, "client disconnect2 %i", fd);
            return false;
        }
        if (ferror(stream)) {
            // The peer is gone (EPIPE, reset): as at the end of its stream.
            client_gone(s, fd);
            return false;
        }
    }
    return true;
}

void serve_client(server_state &s, int fd)
{
    console_input &in = s.input[fd];
    char buf[CONSOLE_READ_MAX + 1];
    int room = CONSOLE_READ_MAX - (int)in.tail.size();
    int len = room;
    errno = 0;
    if (!read_tcp(fd, buf, &len)) {
        if (errno == EINTR || errno == EAGAIN)
            return;
        client_gone(s, fd);
        return;
    }
    buf[len] = '\0';
    if (!fstreams[fd]) {
        client_gone(s, fd);
        return;
    }
    bool was_dropping = in.dropping;
    std::vector<std::string> lines;
    console_split_input(in, buf, (size_t)len, len == room, lines);
    if (in.dropping && !was_dropping)
        LOGD(TARN, 5, nullptr, "console line of client %i longer than %i characters dropped", fd, CONSOLE_READ_MAX);
    run_lines(s, fd, lines);
}

// A TCP connection to address:port within OUTBOUND_CONNECT_MS, on a
// descriptor the tables can hold; -1 otherwise.
int connect_outbound(const char *address, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    if (port < 1 || port > 65535 || inet_pton(AF_INET, address, &a.sin_addr) != 1)
        return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (fd >= STATUS_SERVER_FDS) {
        close(fd);
        return -1;
    }
    int r = connect(fd, (sockaddr *)&a, sizeof a);
    if (r != 0 && errno == EINPROGRESS) {
        pollfd p = {fd, POLLOUT, 0};
        int err = 0;
        socklen_t el = sizeof err;
        if (poll(&p, 1, OUTBOUND_CONNECT_MS) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) == 0 &&
            err == 0)
            r = 0;
    }
    if (r != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Connects every call that waits for an outbound console connection.
// Returns true when a connection was made.
bool outbound_pass(server_state &s)
{
    bool made = false;
    pthread_mutex_lock(g_lock_manager->global_lock);
    lock_itapi();
    for (int i = 0; i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        call_object *co = gp->operations[i];
        if (!co || co->sm_state != SM_ITAPI_SOCKET_PREPARING || co->telnet_fd >= 1)
            continue;
        int fd = connect_outbound(co->telnet_remote_address, co->telnet_remote_telnet_port);
        FILE *stream = fd >= 0 ? fdopen(fd, "w") : nullptr;
        if (!stream) {
            if (fd >= 0)
                close(fd);
            LOGD(TARN, 0, cinfo(co), "CRITICAL: Couldn't connect to telnet server");
            mc_hooks().add_sm_task_check_pid(co, SM_WORD_FINISH_CALL);
            continue;
        }
        co->telnet_fd = fd;
        co->telnet_fp = stream;
        fstreams[fd] = stream;
        if (co->sm)
            statemachine_set_state(co->sm, SM_ITAPI_SOCKET_CREATED);
        co->sm_state = SM_ITAPI_SOCKET_CREATED;
        sockaddr_in local{};
        socklen_t ll = sizeof local;
        if (getsockname(fd, (sockaddr *)&local, &ll) == 0)
            co->telnet_local_telnet_port = ntohs(local.sin_port);
        snprintf(itapi_fds_remote_ips[fd], sizeof itapi_fds_remote_ips[fd], "%.15s", co->telnet_remote_address);
        itapi_fds_remote_ports[fd] = co->telnet_remote_telnet_port;
        itapi_fds_local_ports[fd] = co->telnet_local_telnet_port;
        itapi_fds_current_states[fd] = ITAPI_OUTBOUND_IN_USE;
        itapi_fds_current_call_objects[fd] = co;
        mc_hooks().add_sm_task(co, ITAPI_INIT_OUTGOING_WORD);
        extrainfos[fd] = 0;
        s.input[fd] = console_input();
        s.clients++; // lowered again when the connection closes
        FD_SET(fd, &s.master);
        if (fd > s.fdmax)
            s.fdmax = fd;
        made = true;
    }
    gp->telnet_new_outgoing_call = 0;
    gp->itapi_new_outgoing_call_objects[0] = nullptr;
    unlock_itapi();
    pthread_mutex_unlock(g_lock_manager->global_lock);
    return made;
}

// Set by mc_itapi_get_free_socket under itapi_lock.
bool outgoing_call_waiting()
{
    lock_itapi();
    bool w = gp->telnet_new_outgoing_call != 0;
    unlock_itapi();
    return w;
}

bool release_requested()
{
    lock_itapi();
    bool r = release_telnet_fd_flag != 0;
    unlock_itapi();
    return r;
}

// Descriptors that calls gave back: inbound and outbound ones stay open for
// the next call, any other is closed.
void release_pass(server_state &s)
{
    std::vector<int> to_close;
    lock_itapi();
    for (int fd = 0; fd < STATUS_SERVER_FDS; fd++) {
        if (!release_telnet_fstreams[fd] || !fstreams[fd])
            continue;
        int st = itapi_fds_current_states[fd];
        if (st == ITAPI_INBOUND_IN_USE) {
            itapi_fds_current_states[fd] = ITAPI_INBOUND_FREE;
        } else if (st == ITAPI_OUTBOUND_IN_USE) {
            itapi_fds_current_states[fd] = ITAPI_OUTBOUND_FREE;
        } else {
            call_object *co = mc_hooks().get_operation_by_telnet_fd(fd);
            if (co)
                TARN_EXIT(82, "ITAPI problem: EVILSTATE co %p  state %i : %p |%s|", (void *)co, st,
                          (void *)fstreams[fd], mc_hooks().print_sm_state_call(co, co->sm_state));
            to_close.push_back(fd);
        }
        itapi_fds_current_call_objects[fd] = nullptr;
        extrainfos[fd] = 0;
    }
    memset(release_telnet_fstreams, 0, sizeof release_telnet_fstreams);
    release_telnet_fd_flag = 0;
    unlock_itapi();
    for (int fd : to_close)
        drop_client(s, fd, true);
}

} // namespace

// ---------------------------------------------------------------------------

int init_status_server()
{
    int port = configured_port();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        LOGD(TARN, 0, nullptr, "Error setting up status server!");
        if (fd >= 0)
            close(fd);
        return 0;
    }
    experimental_options *eo = gp ? gp->experimental_options : nullptr;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)(port < 0 ? 0 : port));
    a.sin_addr.s_addr = htonl(eo && eo->eo_telnet_remote_access ? INADDR_ANY : INADDR_LOOPBACK);
    if (port < 0 || bind(fd, (sockaddr *)&a, sizeof a) != 0) {
        LOGD(TARN, 0, nullptr, "Error binding status server on port %i!", port);
        close(fd);
        return 0;
    }
    if (listen(fd, STATUS_SERVER_BACKLOG) != 0) {
        LOGD(TARN, 0, nullptr, "Error on status server listen (port %i)!", port);
        close(fd);
        return 0;
    }
    return fd;
}

void run_status_server()
{
    static server_state s; // large; one server per process
    experimental_options *eo = gp->experimental_options;
    s.listen_fd = gp->socket_fd;
    s.itapi = eo ? eo->eo_itapi_support : 0;
    s.max_clients = eo ? eo->eo_telnet_max_connections : 8;
    s.clients = 0;
    FD_ZERO(&s.master);
    FD_SET(s.listen_fd, &s.master);
    s.fdmax = s.listen_fd;
    lock_itapi();
    memset(extrainfos, 0, sizeof extrainfos);
    for (int fd = 0; fd < STATUS_SERVER_FDS; fd++) {
        clear_itapi_entry(fd);
        s.input[fd] = console_input();
    }
    memset(release_telnet_fstreams, 0, sizeof release_telnet_fstreams);
    release_telnet_fd_flag = 0;
    unlock_itapi();

    for (;;) {
        fd_set readset = s.master;
        timeval tv = {0, 100000};
        errno = 0;
        __atomic_store_n(&telnet_server_time, time(nullptr), __ATOMIC_RELAXED);

        bool connected = false;
        if (s.itapi && outgoing_call_waiting())
            connected = outbound_pass(s);
        if (connected)
            readset = s.master;

        int r = select(s.fdmax + 1, &readset, nullptr, nullptr, &tv);
        bool release = s.itapi && release_requested();

        if (r == 0 && !release) {
            if (__atomic_load_n(&gp->run_status_server, __ATOMIC_ACQUIRE))
                continue;
            if (!connected) {
                LOGD(TARN, 0, nullptr, "CRITICAL: TELNET ERROR RETURN\n");
                return;
            }
            continue;
        }
        if (r < 0) {
            if (!connected) {
                int e = errno;
                LOGD(TARN, 0, nullptr, "CRITICAL: TELNET ERROR: select returned %i (%s) - sleeping for 0.5 seconds\n",
                     e, strerror(e));
                errno = 0;
                usleep(500 * 1000);
                continue;
            }
            FD_ZERO(&readset);
        }

        int handled = 0;
        if (r > 0 && FD_ISSET(s.listen_fd, &readset)) {
            handled++;
            accept_client(s);
        }
        if (r > 0) {
            int top = s.fdmax;
            for (int fd = 0; fd <= top; fd++) {
                if (fd == s.listen_fd || !FD_ISSET(fd, &readset) || !FD_ISSET(fd, &s.master))
                    continue;
                handled++;
                serve_client(s, fd);
            }
        }
        if (s.itapi)
            release_pass(s);
        if (r > 0 && !handled) {
            LOGD(TARN, 0, nullptr, "status server fail - nothing to do though select said so: %s", strerror(errno));
            errno = 0;
            usleep(500 * 1000);
        }
    }
}

void *status_server_thread(void *)
{
    prctl(PR_SET_NAME, "tarn.status", 0, 0, 0);
    run_status_server();
    return nullptr;
}

int new_client2(int listen_fd, char *address, int size, int *port)
{
    sockaddr_in peer{};
    socklen_t plen = sizeof peer;
    int fd = accept4(listen_fd, (sockaddr *)&peer, &plen, SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    if (address && size > 0 && !inet_ntop(AF_INET, &peer.sin_addr, address, (socklen_t)size))
        address[0] = '\0';
    if (port)
        *port = ntohs(peer.sin_port);
    return fd;
}

int new_client(int listen_fd)
{
    return new_client2(listen_fd, nullptr, 0, nullptr);
}

int read_tcp(int fd, char *buffer, int *len)
{
    errno = 0;
    ssize_t n = *len > 0 ? read(fd, buffer, (size_t)*len) : 0;
    *len = n > 0 ? (int)n : 0;
    return n > 0 ? 1 : 0;
}

int write_tcp(int fd, const char *buffer, int len)
{
    int done = 0;
    while (done < len) {
        ssize_t n = write(fd, buffer + done, (size_t)(len - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        done += (int)n;
    }
    return 1;
}

bool mc_dispatch_holds_global_lock()
{
    return dispatch_locked;
}

void lock_itapi()
{
    pthread_mutex_lock(&itapi_lock);
}

void unlock_itapi()
{
    pthread_mutex_unlock(&itapi_lock);
}

void add_telnet_fd_to_release(int fd, FILE *)
{
    if (fd < 0 || fd >= STATUS_SERVER_FDS)
        return;
    lock_itapi();
    release_telnet_fstreams[fd] = 1;
    release_telnet_fd_flag = 1;
    unlock_itapi();
}

const char *itapi_print_fd_state(int state)
{
    switch (state) {
    case ITAPI_CLOSED: return "CLOSED";
    case ITAPI_INBOUND_FREE: return "ITAPI_INBOUND_FREE";
    case ITAPI_INBOUND_IN_USE: return "ITAPI_INBOUND_IN_USE";
    case ITAPI_OUTBOUND_FREE: return "ITAPI_OUTBOUND_FREE";
    case ITAPI_OUTBOUND_IN_USE: return "ITAPI_OUTBOUND_IN_USE";
    case ITAPI_OUTBOUND_CONNECTING: return "ITAPI_OUTBOUND_CONNECTING";
    default: return "UNKNOWN";
    }
}

void close_attached_telnet_fds(FILE *stream)
{
    if (!stream)
        return;
    log_backend_state *b = log_backend();
    pthread_mutex_lock(log_fp_lock());
    if (b->verbose_fp == stream)
        b->verbose_fp = nullptr;
    if (b->debug_fp == stream)
        b->debug_fp = nullptr;
    if (b->snmp_notify_fp == stream)
        b->snmp_notify_fp = nullptr;
    pthread_mutex_unlock(log_fp_lock());
}

void set_debugfp_to_stdout()
{
    if (!stdout || fcntl(fileno(stdout), F_GETFD) < 0)
        return;
    pthread_mutex_lock(log_fp_lock());
    log_backend()->debug_fp = stdout;
    pthread_mutex_unlock(log_fp_lock());
}

int mc_util_print_greeting(const char *, FILE *out, int *)
{
    fputs(GREETING, out);
    return 0;
}

int mc_util_clear_screen(const char *, FILE *out, int *)
{
    fputs("\x1b[2J", out);
    fputs("\x1b[1;1H", out);
    return 0;
}
