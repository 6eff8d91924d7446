// PCM bridging between gateway units: the table, the server and client
// threads and their text protocol.
#include "pcm_bridging.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "application.h"
#include "confman.h"
#include "global_lock.h"
#include "isdn_lib.h"
#include "log.h"
#include "media_callctl.h"
#include "status_server.h"

namespace {

constexpr int STACK_BIT_SERVER = 1; // stack bit 0
constexpr int STACK_BIT_CLIENT = 2; // stack bit 1
constexpr int SERVER_FDS = 512;
constexpr int BACKLOG = 5;

bool pcm_thread_started = false;

pcm_bridging_timeslot_table &table()
{
    return gp->pcm_table;
}

struct table_lock {
    pthread_mutex_t *m;
    table_lock() : m(g_lock_manager ? g_lock_manager->pcm_table_lock : nullptr)
    {
        if (m)
            pthread_mutex_lock(m);
    }
    ~table_lock()
    {
        if (m)
            pthread_mutex_unlock(m);
    }
};

void ip_text(int ip, char *buf, size_t size)
{
    in_addr a;
    a.s_addr = (in_addr_t)ip;
    if (!inet_ntop(AF_INET, &a, buf, (socklen_t)size) && size)
        buf[0] = '\0';
}

// The whole text to a peer; a peer that is gone is found by the next read.
void send_all(int fd, const char *text, size_t len)
{
    while (len > 0) {
        ssize_t n = send(fd, text, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        len -= (size_t)n;
    }
}

void finish_calls_to(const char *ip)
{
    const media_callctl_iface &i = media_callctl();
    if (i.finish_all_calls_by_remote_ip)
        i.finish_all_calls_by_remote_ip(ip);
    else
        LOGD(TARN, 2, nullptr, "media: call control's finish_all_calls_by_remote_ip is not built yet");
}

std::string trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return out;
        start = at + 1;
    }
}

bool whole_number(const std::string &s, long *out)
{
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *out = strtol(s.c_str(), nullptr, 10);
    return true;
}

// A unit's request: its address and ports into the table; false when it is
// no request.
bool server_request(const char *data, int fd)
{
    std::vector<std::string> f = split(data, '|');
    for (std::string &x : f)
        x = trim(x);
    if (f.empty() || f[0] != PCM_REQUEST || f.size() < 2 || f[1].empty())
        return false;
    in_addr a;
    if (inet_pton(AF_INET, f[1].c_str(), &a) != 1) {
        LOGD(TARN, 0, nullptr, "CRITICAL: ignoring pcm request with invalid address %s", f[1].c_str());
        return false;
    }
    int ports[PCM_REQUEST_PORTS];
    int count = 0;
    if (f.size() > 2 && !f[2].empty())
        for (const std::string &p : split(f[2], ':')) {
            long v;
            if (!whole_number(trim(p), &v) || v < 1 || v > 65534) {
                LOGD(TARN, 0, nullptr, "CRITICAL: ignoring invalid port %s in request", p.c_str());
                continue;
            }
            if (count < PCM_REQUEST_PORTS)
                ports[count++] = (int)v;
        }
    LOGD(TARN, 5, nullptr, "got request for ip %s, %i rtp ports\n", f[1].c_str(), count);
    finish_calls_to(f[1].c_str());
    table_lock hold;
    pcm_update_table((int)a.s_addr, ports, count, fd);
    return true;
}

struct server_client {
    int fd;
    FILE *fp;
};

void server_disconnect(std::vector<server_client> &clients, size_t k)
{
    server_client c = clients[k];
    LOGD(TARN, 7, nullptr, "client disconnect %i\n", c.fd);
    clients.erase(clients.begin() + (long)k);
    char ip[32];
    {
        table_lock hold;
        pcm_get_ip_for_fd(c.fd, ip, sizeof ip);
        pcm_remove_client_from_table(c.fd);
    }
    if (c.fp) {
        close_attached_telnet_fds(c.fp);
        fclose(c.fp);
    } else {
        close(c.fd);
    }
    if (ip[0])
        finish_calls_to(ip);
}

void server_accept(int listen_fd, std::vector<server_client> &clients)
{
    int fd = new_client(listen_fd);
    if (fd < 0) {
        LOGD(TARN, 0, nullptr, "CRITICAL: accept of new client failed: %s\n", strerror(errno));
        return;
    }
    LOGD(TARN, 7, nullptr, "client connect %i\n", fd);
    if (fd >= SERVER_FDS) {
        LOGD(TARN, 0, nullptr, "CRITICAL: NOT ENOUGH FILE DESCRIPTORS: got fd %i", fd);
        close(fd);
        return;
    }
    FILE *fp = fdopen(fd, "w");
    clients.push_back({fd, fp});
    send_all(fd, PCM_WELCOME, strlen(PCM_WELCOME));
}

void server_send_update(const std::vector<server_client> &clients, char *buf)
{
    pcm_create_msg(buf, PCM_UPDATE_SIZE);
    int len = (int)strlen(buf);
    std::vector<pollfd> p;
    for (const server_client &c : clients)
        p.push_back({c.fd, POLLOUT, 0});
    if (!p.empty())
        poll(p.data(), p.size(), 1000);
    for (const server_client &c : clients)
        send_all(c.fd, buf, (size_t)len);
}

bool server_running()
{
    return gp && __atomic_load_n(&gp->run_pcm_server, __ATOMIC_ACQUIRE);
}
bool client_running()
{
    return gp && __atomic_load_n(&gp->run_pcm_client, __ATOMIC_ACQUIRE);
}

void client_line(int fd, const std::string &line)
{
    if (line.compare(0, strlen(PCM_WELCOME), PCM_WELCOME) == 0) {
        char req[PCM_UPDATE_SIZE];
        pcm_create_request(req, sizeof req);
        send_all(fd, req, strlen(req));
    } else if (line.compare(0, strlen(PCM_UPDATE), PCM_UPDATE) == 0) {
        LOGD(TARN, 8, nullptr, "updating pcm table: %s\n", line.c_str());
        pcm_update_client_table(line.c_str());
    } else {
        LOGD(TARN, 0, nullptr, "got something unexpected %s\n", line.c_str());
    }
}

// One connection to the server until it drops or the thread is to end:
// true when the thread ends.
bool client_session(int fd)
{
    std::string pending;
    char buf[8192];
    for (;;) {
        pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, 100);
        if (r == 0) {
            if (!client_running())
                return true;
            continue;
        }
        if (r < 0) {
            if (errno == EINTR)
                continue;
            LOGD(TARN, 0, nullptr,
                 "CRITICAL: pcm client error: select returned %i :errno %i (%s) - closing socket, trying to reconnect\n",
                 r, errno, strerror(errno));
            return false;
        }
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            pcm_finish_all_bridging_calls();
            table_lock hold;
            pcm_clear_table();
            return false;
        }
        pending.append(buf, (size_t)n);
        // A line longer than any update could be is never completed.
        if (pending.size() > 4 * PCM_UPDATE_SIZE && pending.find('\n') == std::string::npos)
            pending.clear();
        for (size_t at; (at = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, at + 1);
            pending.erase(0, at + 1);
            client_line(fd, line);
        }
    }
}

} // namespace

// ---- table -------------------------------------------------------------------------

void pcm_clear_table()
{
    pcm_bridging_timeslot_table &t = table();
    memset(t.ip, 0, sizeof t.ip);
    memset(t.port, 0, sizeof t.port);
    memset(t.fd, 0, sizeof t.fd);
    t.size = 0;
}

void pcm_update_table(int ip, const int *ports, int count, int fd)
{
    pcm_bridging_timeslot_table &t = table();
    for (int i = 0; i < PCM_TABLE_ROWS; i++)
        if (t.ip[i] == ip) {
            t.ip[i] = t.port[i] = t.fd[i] = 0;
        }
    int max = t.max_size > 0 && t.max_size <= PCM_TABLE_ROWS ? t.max_size : PCM_TABLE_MAX_SIZE;
    int row = 0;
    for (int k = 0; k < count; k++) {
        while (row < max && t.ip[row] != 0)
            row++;
        if (row >= max)
            break;
        t.ip[row] = ip;
        t.port[row] = ports[k];
        t.fd[row] = fd;
        if (t.size < row + 1)
            t.size = row + 1;
    }
}

void pcm_remove_client_from_table(int fd)
{
    pcm_bridging_timeslot_table &t = table();
    for (int i = 0; i < PCM_TABLE_ROWS; i++)
        if (t.ip[i] != 0 && t.fd[i] == fd)
            t.ip[i] = t.port[i] = t.fd[i] = 0;
}

void pcm_get_ip_for_fd(int fd, char *buf, size_t size)
{
    if (!buf || !size)
        return;
    buf[0] = '\0';
    pcm_bridging_timeslot_table &t = table();
    for (int i = 0; i < PCM_TABLE_ROWS; i++)
        if (t.ip[i] != 0 && t.fd[i] == fd) {
            ip_text(t.ip[i], buf, size);
            return;
        }
}

int pcm_table_find(const char *ip, int port)
{
    in_addr a;
    if (!gp || !ip || inet_pton(AF_INET, ip, &a) != 1)
        return -1;
    const pcm_bridging_timeslot_table &t = table();
    for (int i = 0; i < t.size && i < PCM_TABLE_ROWS; i++)
        if (t.ip[i] != 0 && t.ip[i] == (int)a.s_addr && t.port[i] == port)
            return i;
    return -1;
}

void pcm_create_msg(char *buf, size_t size)
{
    if (!buf || !size)
        return;
    table_lock hold;
    const pcm_bridging_timeslot_table &t = table();
    size_t len = (size_t)snprintf(buf, size, "%s", PCM_UPDATE);
    for (int i = 0; i < t.size && i < PCM_TABLE_ROWS && len < size; i++) {
        if (t.ip[i] == 0)
            continue;
        char ip[32];
        ip_text(t.ip[i], ip, sizeof ip);
        int n = snprintf(buf + len, size - len, "|%s:%i:%i", ip, t.port[i], i);
        if (n < 0 || (size_t)n >= size - len) {
            buf[len] = '\0'; // no half row
            LOGD(TARN, 0, nullptr, "CRITICAL: pcm update line full at row %i", i);
            break;
        }
        len += (size_t)n;
    }
    if (len + 1 < size) {
        buf[len++] = '\n';
        buf[len] = '\0';
    }
}

void pcm_update_client_table(const char *line)
{
    if (!line || !gp)
        return;
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::vector<std::string> f = split(text, '|');
    if (f[0] != PCM_UPDATE)
        LOGD(TARN, 0, nullptr, "CRITICAL: update_client_pcm_table: not updating table, got invalid string %s\n", line);
    table_lock hold;
    pcm_bridging_timeslot_table &t = table();
    // The line is the server's whole table: rows it does not name are empty.
    memset(t.ip, 0, sizeof t.ip);
    memset(t.port, 0, sizeof t.port);
    int highest = -1;
    for (size_t k = 1; k < f.size(); k++) {
        std::vector<std::string> parts = split(f[k], ':');
        long port, index;
        in_addr a;
        if (parts.size() != 3 || inet_pton(AF_INET, parts[0].c_str(), &a) != 1 || !whole_number(parts[1], &port) ||
            !whole_number(parts[2], &index) || index >= PCM_TABLE_ROWS) {
            LOGD(TARN, 0, nullptr, "CRITICAL: update_client_pcm_table: invalid contents %s\n", f[k].c_str());
            continue;
        }
        t.ip[index] = (int)a.s_addr;
        t.port[index] = (int)port;
        if (index > highest)
            highest = (int)index;
    }
    t.size = highest + 1;
}

// ---- channels and rows ---------------------------------------------------------

int analog_get_channel_count()
{
    int n = 0, key = -1, next;
    while (gp && gp->config_analog && n < 4096 && cm_get_next_id(gp->config_analog, 1, key, &next) == 1) {
        n++;
        key = next;
    }
    return n;
}

int pcm_local_channel_count()
{
    return misdn_get_channel_count() + analog_get_channel_count();
}

int pcm_init_bridging_timeslots()
{
    int channels = pcm_local_channel_count();
    table_lock hold;
    pcm_bridging_timeslot_table &t = table();
    t.max_size = PCM_TABLE_MAX_SIZE;
    in_addr a;
    int own = inet_pton(AF_INET, gp->netconf.host_ip_lan, &a) == 1 ? (int)a.s_addr : 0;
    int rows = 0;
    const RTP_ports *r = gp->rtp_ports;
    for (int p = 0; r && r->rtp_ports && r->rtp_stacks && p < 65535 && rows < channels && rows < t.max_size; p++) {
        if (!r->rtp_ports[p] || !(r->rtp_stacks[p] & STACK_BIT_SERVER))
            continue;
        t.ip[rows] = own;
        t.port[rows] = p;
        t.fd[rows] = 0;
        rows++;
    }
    t.size = rows;
    return channels;
}

void pcm_create_request(char *buf, size_t size)
{
    if (!buf || !size)
        return;
    int channels = pcm_local_channel_count();
    size_t len = (size_t)snprintf(buf, size, "%s|%s|", PCM_REQUEST, gp->netconf.host_ip_lan);
    const RTP_ports *r = gp->rtp_ports;
    int listed = 0;
    for (int p = r ? r->lanstart : 0; r && r->rtp_ports && r->rtp_stacks && p <= r->lanstop && p >= 0 && p < 65536 &&
                                      listed < channels && len < size;
         p++) {
        if (!r->rtp_ports[p] || !(r->rtp_stacks[p] & STACK_BIT_CLIENT))
            continue;
        int n = snprintf(buf + len, size - len, listed ? ":%i" : "%i", p);
        if (n < 0 || (size_t)n >= size - len) {
            buf[len] = '\0';
            break;
        }
        len += (size_t)n;
        listed++;
    }
    LOGD(TARN, 8, nullptr, "pcm_create_request: |%s|", buf);
}

// ---- calls over other units --------------------------------------------------------

void pcm_finish_all_bridging_calls()
{
    if (!gp)
        return;
    finish_calls_to(gp->pcm_server);
    // A copy of the table: the calls are ended under global_lock, which is
    // taken before pcm_table_lock elsewhere.
    std::vector<std::pair<std::string, int>> rows;
    {
        table_lock hold;
        const pcm_bridging_timeslot_table &t = table();
        for (int i = 0; i < t.size && i < PCM_TABLE_ROWS; i++) {
            if (t.ip[i] == 0)
                continue;
            char ip[32];
            ip_text(t.ip[i], ip, sizeof ip);
            if (strcasecmp(ip, gp->netconf.host_ip_lan) != 0 && strcasecmp(ip, gp->pcm_server) != 0)
                rows.emplace_back(ip, t.port[i]);
        }
    }
    const media_callctl_iface &i = media_callctl();
    if (!i.finish_call_by_remote_ip_and_port)
        return;
    pthread_mutex_t *global = g_lock_manager ? g_lock_manager->global_lock : nullptr;
    if (global)
        pthread_mutex_lock(global);
    for (const auto &r : rows)
        i.finish_call_by_remote_ip_and_port(r.first.c_str(), r.second);
    if (global)
        pthread_mutex_unlock(global);
}

void pcm_print_table(FILE *out)
{
    if (!gp || !out)
        return;
    bool server = !strcmp(gp->pcm_server, "1");
    if (!strcmp(gp->pcm_server, "0") || !gp->pcm_server[0]) {
        LOGD(TARN, 0, nullptr, "no pcm card bridging enabled");
        return;
    }
    table_lock hold;
    const pcm_bridging_timeslot_table &t = table();
    fprintf(out, server ? "Timeslot\tIP\tPort\tFD\n" : "Timeslot\tIP\tPort\n");
    for (int i = 0; i < t.size && i < PCM_TABLE_ROWS; i++) {
        char ip[32];
        ip_text(t.ip[i], ip, sizeof ip);
        if (server && t.ip[i] != 0)
            fprintf(out, "%i\t%s\t%i\t%i\n", i, ip, t.port[i], t.fd[i]);
        else if (!server)
            fprintf(out, "%i\t%s\t%i\n", i, ip, t.port[i]);
    }
}

// ---- threads ---------------------------------------------------------------------

int pcm_init_server()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons((uint16_t)(gp ? gp->pcm_server_port : 0));
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(fd, (sockaddr *)&a, sizeof a) != 0 || listen(fd, BACKLOG) != 0) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Error setting up pcm server!");
        if (fd >= 0)
            close(fd);
        return 0;
    }
    return fd;
}

void *pcm_run_server(void *)
{
    prctl(PR_SET_NAME, "tarn.pcmserver", 0, 0, 0);
    auto *buf = static_cast<char *>(malloc(PCM_UPDATE_SIZE));
    if (!buf) {
        LOGD(TARN, 0, nullptr, "CRITICAL: couldn't allocate sendbuf, not starting server\n");
        return nullptr;
    }
    std::vector<server_client> clients;
    int listen_fd = gp->pcm_socket_fd;
    for (;;) {
        std::vector<pollfd> p;
        p.push_back({listen_fd, POLLIN, 0});
        for (const server_client &c : clients)
            p.push_back({c.fd, POLLIN, 0});
        int r = poll(p.data(), p.size(), 100);
        if (r == 0) {
            if (!server_running())
                break;
            continue;
        }
        if (r < 0) {
            if (errno == EINTR)
                continue;
            LOGD(TARN, 0, nullptr, "CRITICAL: TELNET ERROR (pcm): select returned %i (%s) - sleeping for 0.5 seconds\n",
                 errno, strerror(errno));
            usleep(500 * 1000);
            continue;
        }
        bool did = false;
        if (p[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            server_accept(listen_fd, clients);
            did = true;
        }
        // Back to front: a disconnect removes its entry.
        for (size_t k = p.size() - 1; k >= 1; k--) {
            if (!(p[k].revents & (POLLIN | POLLERR | POLLHUP)))
                continue;
            did = true;
            char data[PCM_READ_MAX + 1];
            int len = PCM_READ_MAX;
            if (read_tcp(p[k].fd, data, &len) && len > 0) {
                data[len] = '\0';
                server_request(data, p[k].fd);
            } else {
                server_disconnect(clients, k - 1);
            }
        }
        if (!did) {
            LOGD(TARN, 0, nullptr, "CRITICAL: pcm server fail - nothing to do though select said so: %s",
                 strerror(errno));
            usleep(500 * 1000);
            continue;
        }
        server_send_update(clients, buf);
    }
    for (const server_client &c : clients) {
        if (c.fp)
            fclose(c.fp);
        else
            close(c.fd);
    }
    free(buf);
    return nullptr;
}

void *pcm_run_client(void *)
{
    prctl(PR_SET_NAME, "tarn.pcmclient", 0, 0, 0);
    for (;;) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            LOGD(TARN, 0, nullptr, "CRITICAL: cannot created socket for pcm client");
            return nullptr;
        }
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons((uint16_t)gp->pcm_server_port);
        if (inet_pton(AF_INET, gp->pcm_server, &a.sin_addr) != 1 || connect(fd, (sockaddr *)&a, sizeof a) != 0) {
            LOGD(TARN, 0, nullptr, "CRITICAL: run_pcm_client: Couldn't connect to pcm server");
            close(fd);
            for (int i = 0; i < 10 && client_running(); i++)
                usleep(100 * 1000);
            if (!client_running())
                return nullptr;
            continue;
        }
        bool end = client_session(fd);
        close(fd);
        if (end)
            return nullptr;
    }
}

void pcm_start_threads()
{
    if (!gp || !strcmp(gp->pcm_server, "0") || !gp->pcm_server[0])
        return;
    void *(*body)(void *) = pcm_run_client;
    if (!strcmp(gp->pcm_server, "1")) {
        pcm_init_bridging_timeslots();
        __atomic_store_n(&gp->run_pcm_server, 1, __ATOMIC_RELEASE);
        body = pcm_run_server;
    } else {
        __atomic_store_n(&gp->run_pcm_client, 1, __ATOMIC_RELEASE);
    }
    if (pthread_create(&gp->pcm_thread, nullptr, body, nullptr) == 0)
        pcm_thread_started = true;
    else
        LOGD(TARN, 0, nullptr, "CRITICAL: couldn't start the pcm bridging thread");
}

void pcm_stop_threads()
{
    if (!gp || !pcm_thread_started)
        return;
    __atomic_store_n(&gp->run_pcm_server, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&gp->run_pcm_client, 0, __ATOMIC_RELEASE);
    pcm_thread_started = false;
    tarn_join_thread(gp->pcm_thread, "tarn.pcm");
}
