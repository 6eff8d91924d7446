// PCM bridging between units: the table operations, the client's update
// line, the server thread against a test client and the client thread
// against a test server, on loopback of a private network namespace.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "debug_lines.h"
#include "global_lock.h"
#include "media_callctl.h"
#include "pcm_bridging.h"
#include "private_netns.h"
#include "schema.h"
#include "thread_names.h"

namespace {

std::string why_not;
const bool isolated = enter_private_mounts(&why_not) && enter_private_network(&why_not);

// What the PCM threads asked call control to end.
std::mutex finished_lock;
std::vector<std::string> finished_calls;
void rec_finish_ip(const char *ip)
{
    std::lock_guard<std::mutex> g(finished_lock);
    finished_calls.push_back(std::string("ip ") + ip);
}
void rec_finish_ip_port(const char *ip, int port)
{
    std::lock_guard<std::mutex> g(finished_lock);
    finished_calls.push_back(std::string("ip+port ") + ip + ":" + std::to_string(port));
}
std::vector<std::string> finished()
{
    std::lock_guard<std::mutex> g(finished_lock);
    return finished_calls;
}

// A table value read under its lock (the threads write it).
int table_value(const int *field)
{
    lock_hold hold(&lock_manager::pcm_table_lock);
    return *field;
}

std::string row(int i)
{
    lock_hold hold(&lock_manager::pcm_table_lock);
    const pcm_bridging_timeslot_table &t = gp->pcm_table;
    in_addr a;
    a.s_addr = (in_addr_t)t.ip[i];
    return std::string(inet_ntoa(a)) + ":" + std::to_string(t.port[i]);
}

template <typename F> bool wait_for(F cond, int ms = 10000)
{
    for (int i = 0; i < ms / 10 && !cond(); i++)
        usleep(10 * 1000);
    return cond();
}

int listen_on(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    if (bind(fd, (sockaddr *)&a, sizeof a) != 0 || listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int connect_to(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    if (connect(fd, (sockaddr *)&a, sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads until a line end (bounded); the text read.
std::string read_line(int fd, int ms = 5000)
{
    std::string text;
    char c;
    while (text.empty() || text.back() != '\n') {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1 || read(fd, &c, 1) != 1)
            break;
        text += c;
    }
    return text;
}

void send_text(int fd, const std::string &text)
{
    ASSERT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
}

class Pcm : public ::testing::Test {
protected:
    RTP_ports ports_ = {};
    std::vector<uint8_t> pool_ = std::vector<uint8_t>(65536), stacks_ = std::vector<uint8_t>(65536);
    void SetUp() override
    {
        if (!isolated)
            GTEST_SKIP() << why_not;
        application_create();
        init_locks();
        cm_init();
        {
            std::lock_guard<std::mutex> g(finished_lock);
            finished_calls.clear();
        }
        pcm_clear_table(); // the application object outlives each test
        gp->pcm_server[0] = '\0';
        media_set_callctl_iface(nullptr);
        media_callctl_iface i = {};
        i.finish_all_calls_by_remote_ip = rec_finish_ip;
        i.finish_call_by_remote_ip_and_port = rec_finish_ip_port;
        media_set_callctl_iface(&i);
        snprintf(gp->netconf.host_ip_lan, sizeof gp->netconf.host_ip_lan, "10.0.0.1");
        gp->pcm_server_port = 54329;
        // RTP ports 6000-6019 of the localhost stack, 7000-7009 of the LAN's.
        for (int p = 6000; p < 6020; p++) {
            pool_[p] = 1;
            stacks_[p] = 1;
        }
        for (int p = 7000; p < 7010; p++) {
            pool_[p] = 1;
            stacks_[p] = 2;
        }
        ports_.rtp_ports = pool_.data();
        ports_.rtp_stacks = stacks_.data();
        ports_.lanstart = 7000;
        ports_.lanstop = 7009;
        gp->rtp_ports = &ports_;
    }
    void TearDown() override
    {
        pcm_stop_threads();
        media_set_callctl_iface(nullptr);
    }
    void load_analog(const std::string &text)
    {
        std::string path = "/tmp/pcm-analog.conf";
        std::ofstream(path) << text;
        gp->config_analog = configman_create("ANALOG");
        ASSERT_EQ(cm_load(&gp->config_analog, path.c_str()), 0);
    }
};

TEST_F(Pcm, UpdateLineIsTheServersWholeTable)
{
    debug_lines log({TARN});
    pcm_update_client_table("UPDATE_PCM_TABLE|10.0.0.1:6000:0|10.0.0.1:6002:1|10.0.0.7:7000:5\n");
    EXPECT_EQ(gp->pcm_table.size, 6);
    EXPECT_EQ(row(0), "10.0.0.1:6000");
    EXPECT_EQ(row(5), "10.0.0.7:7000");
    // A unit that left: its rows are gone with the next update, and size
    // follows the highest row named.
    pcm_update_client_table("UPDATE_PCM_TABLE|10.0.0.1:6000:0|10.0.0.1:6002:1\n");
    EXPECT_EQ(gp->pcm_table.size, 2);
    EXPECT_EQ(gp->pcm_table.ip[5], 0);

    struct bad {
        const char *entry;
    };
    for (const char *entry : {"10.0.0.9:7000", "10.0.0.9:7000:-1", "10.0.0.9:7000:512", "10.0.0.9:x:3",
                              "nonsense:7000:3", "10.0.0.9:7000:3:4"}) {
        std::string line = std::string("UPDATE_PCM_TABLE|10.0.0.1:6000:0|") + entry + "\n";
        pcm_update_client_table(line.c_str());
        EXPECT_EQ(gp->pcm_table.size, 1) << entry;
        EXPECT_EQ(log.count(std::string("CRITICAL: update_client_pcm_table: invalid contents ") + entry), 1) << entry;
    }
    pcm_update_client_table("UPDATE_PCM_TABLE|10.0.0.1:6000:511\n");
    EXPECT_EQ(gp->pcm_table.size, 512);
    // A wrong head is reported; the entries are still read.
    pcm_update_client_table("HELLO|10.0.0.3:6000:2\n");
    EXPECT_EQ(log.count("CRITICAL: update_client_pcm_table: not updating table, got invalid string HELLO"), 1);
    EXPECT_EQ(row(2), "10.0.0.3:6000");
}

TEST_F(Pcm, TableRowsFindAndListing)
{
    load_analog("[plain]\nports=1\n[dtmf]\nports=2\n[more]\nports=3\n");
    int channels = analog_get_channel_count();
    ASSERT_GT(channels, 0);
    snprintf(gp->pcm_server, sizeof gp->pcm_server, "1");
    EXPECT_EQ(pcm_init_bridging_timeslots(), channels);
    EXPECT_EQ(gp->pcm_table.size, channels);
    EXPECT_EQ(row(0), "10.0.0.1:6000");
    EXPECT_EQ(gp->pcm_table.max_size, 390);
    {
        lock_hold hold(&lock_manager::pcm_table_lock);
        EXPECT_EQ(pcm_table_find("10.0.0.1", 6000), 0);
        EXPECT_EQ(pcm_table_find("10.0.0.1", 7000), -1);
        EXPECT_EQ(pcm_table_find("bogus", 6000), -1);
    }
    char request[256];
    pcm_create_request(request, sizeof request);
    std::string want = "PCMREQUEST|10.0.0.1|7000";
    for (int p = 7001; p < 7000 + channels && p < 7010; p++)
        want += ":" + std::to_string(p);
    EXPECT_EQ(request, want);

    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    pcm_print_table(out);
    fclose(out);
    EXPECT_EQ(std::string(text).substr(0, 37), "Timeslot\tIP\tPort\tFD\n0\t10.0.0.1\t6000\t0");
    free(text);

    debug_lines log({TARN});
    snprintf(gp->pcm_server, sizeof gp->pcm_server, "0");
    out = open_memstream(&text, &size);
    pcm_print_table(out);
    fclose(out);
    EXPECT_EQ(size, 0u);
    free(text);
    EXPECT_EQ(log.count("no pcm card bridging enabled"), 1);
    cm_destroy(gp->config_analog);
    gp->config_analog = nullptr;
}

// A unit asks the server for rows; the next update names them.
TEST_F(Pcm, ServerPlacesARequestingUnit)
{
    debug_lines log({TARN});
    snprintf(gp->pcm_server, sizeof gp->pcm_server, "1");
    gp->pcm_socket_fd = pcm_init_server();
    ASSERT_GT(gp->pcm_socket_fd, 0);
    // Rows 0-59 are the server's own.
    for (int i = 0; i < 60; i++) {
        gp->pcm_table.ip[i] = (int)inet_addr("10.0.0.1");
        gp->pcm_table.port[i] = 6000 + 2 * i;
    }
    gp->pcm_table.size = 60;
    gp->pcm_table.max_size = 390;
    __atomic_store_n(&gp->run_pcm_server, 1, __ATOMIC_RELEASE);
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, nullptr, pcm_run_server, nullptr), 0);

    int fd = connect_to(54329);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(read_line(fd), "WELCOME_TO_THE_WORLD_OF_PCM_BRIDGING\n");
    std::string first = read_line(fd); // the update after the connection
    EXPECT_EQ(first.rfind("UPDATE_PCM_TABLE|10.0.0.1:6000:0|", 0), 0u) << first;
    EXPECT_TRUE(wait_for([] { return count_threads("tarn.pcmserver") == 1; }));

    send_text(fd, "PCMREQUEST|10.9.9.9|40000:40002:65535");
    std::string update = read_line(fd);
    const std::string tail = "|10.0.0.1:6118:59|10.9.9.9:40000:60|10.9.9.9:40002:61\n";
    ASSERT_GE(update.size(), tail.size());
    EXPECT_EQ(update.substr(update.size() - tail.size()), tail);
    EXPECT_EQ(log.count("CRITICAL: ignoring invalid port 65535 in request"), 1);
    EXPECT_EQ(log.count("got request for ip 10.9.9.9, 2 rtp ports"), 1);
    EXPECT_EQ(finished(), std::vector<std::string>{"ip 10.9.9.9"});

    // Reconnecting: the old rows go first.
    send_text(fd, "PCMREQUEST|10.9.9.9|41000");
    update = read_line(fd);
    EXPECT_NE(update.find("|10.9.9.9:41000:60\n"), std::string::npos) << update;
    EXPECT_EQ(update.find("40002"), std::string::npos) << update;

    // Requests that are none: ignored, the table unchanged.
    for (const char *bad : {"HELLO|10.9.9.8|5000", "PCMREQUEST||5000", "PCMREQUEST|10.9.9.8 -j|5000"}) {
        send_text(fd, bad);
        update = read_line(fd);
        EXPECT_EQ(update.find("10.9.9.8"), std::string::npos) << bad;
    }

    // The unit goes: its rows go, its calls end.
    close(fd);
    EXPECT_TRUE(wait_for([] { return table_value(&gp->pcm_table.ip[60]) == 0; }));
    EXPECT_TRUE(wait_for([] { return finished().size() == 3; }));
    EXPECT_EQ(finished().back(), "ip 10.9.9.9");
    EXPECT_EQ(log.count("client disconnect"), 1);

    __atomic_store_n(&gp->run_pcm_server, 0, __ATOMIC_RELEASE);
    pthread_join(t, nullptr);
    close(gp->pcm_socket_fd);
}

// The client against a test server: the request, a table of 390 rows in one
// long line arriving in pieces, and the loss of the server.
TEST_F(Pcm, ClientTakesTheTableAndClearsItWhenTheServerGoes)
{
    snprintf(gp->pcm_server, sizeof gp->pcm_server, "127.0.0.1");
    int server = listen_on(54329);
    ASSERT_GE(server, 0);
    pcm_start_threads();
    pollfd p = {server, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    int fd = accept(server, nullptr, nullptr);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(wait_for([] { return count_threads("tarn.pcmclient") == 1; }));
    send_text(fd, "WELCOME_TO_THE_WORLD_OF_PCM_BRIDGING\n");
    char request[256] = "";
    p = {fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    ssize_t n = read(fd, request, sizeof request - 1);
    ASSERT_GT(n, 0);
    EXPECT_STREQ(request, "PCMREQUEST|10.0.0.1|");

    std::string update = "UPDATE_PCM_TABLE";
    for (int i = 0; i < 390; i++)
        update += "|192.168.100." + std::to_string(100 + i % 100) + ":" + std::to_string(20000 + i) + ":" + std::to_string(i);
    update += "\n";
    ASSERT_GT(update.size(), 10000u);
    send_text(fd, update.substr(0, 3000));
    usleep(20 * 1000);
    send_text(fd, update.substr(3000));
    EXPECT_TRUE(wait_for([] { return table_value(&gp->pcm_table.size) == 390; }));
    EXPECT_EQ(row(389), "192.168.100.189:20389");

    // The server goes: the calls over other units end, the table empties.
    close(fd);
    EXPECT_TRUE(wait_for([] { return table_value(&gp->pcm_table.size) == 0; }));
    EXPECT_EQ(gp->pcm_table.ip[389], 0);
    std::vector<std::string> ended = finished();
    ASSERT_FALSE(ended.empty());
    EXPECT_EQ(ended[0], "ip 127.0.0.1");
    EXPECT_EQ(ended.size(), 391u); // and each row's address and port
    close(server);
    pcm_stop_threads();
    EXPECT_EQ(count_threads("tarn.pcmclient"), 0);
}

} // namespace
