// PCM bridging between two running daemons: the server unit greets a unit
// on its port and places its RTP ports in the table, the client unit in a
// second namespace receives the table and loses it with the server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "e2e.h"

namespace {

// Reads one line from the daemon (bounded).
std::string read_line(int fd)
{
    std::string text;
    char c;
    while (text.empty() || text.back() != '\n') {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1 || read(fd, &c, 1) != 1)
            break;
        text += c;
    }
    return text;
}

e2e_options without_capture()
{
    e2e_options o;
    o.capture = false;
    return o;
}

TEST(PcmBridging, ServerUnitAndClientUnit)
{
    e2e_world server(without_capture());
    E2E_REQUIRE(server);
    server.root.write("usr/conf/tarn.conf", "[general]\npcm_server = 1\n");
    ASSERT_TRUE(server.start_tarn()) << server.tarn_err();

    // A unit on the server's loopback.
    int fd = -1;
    {
        e2e_namespace::net_guard in(server.ns);
        ASSERT_TRUE(in.ok());
        ASSERT_TRUE(e2e_world::wait_for(
            [&] {
                fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in a = {};
                a.sin_family = AF_INET;
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                a.sin_port = htons(54329);
                if (connect(fd, (sockaddr *)&a, sizeof a) == 0)
                    return true;
                close(fd);
                return false;
            },
            10000));
    }
    EXPECT_EQ(read_line(fd), "WELCOME_TO_THE_WORLD_OF_PCM_BRIDGING\n");
    EXPECT_EQ(read_line(fd), "UPDATE_PCM_TABLE\n"); // no channels of its own
    std::string request = "PCMREQUEST|10.9.9.9|40000:40002:65535";
    ASSERT_EQ(write(fd, request.data(), request.size()), (ssize_t)request.size());
    std::string update = read_line(fd);
    const std::string tail = "|10.9.9.9:40000:0|10.9.9.9:40002:1\n";
    ASSERT_GE(update.size(), tail.size()) << update;
    EXPECT_EQ(update.substr(update.size() - tail.size()), tail);
    EXPECT_TRUE(server.wait_out("CRITICAL: ignoring invalid port 65535 in request"));

    // The client unit, joined to the server's namespace by a veth pair.
    e2e_world client(without_capture());
    E2E_REQUIRE(client);
    // The pair is made in the client's namespace and one end handed to the
    // namespace of the running server daemon.
    process_result r = client.ns.run(
        {"sh", "-c",
         "ip link add pcmb type veth peer name pcma && ip link set pcma netns " + std::to_string(server.tarn_pid()) +
             " && ip addr add 10.9.0.2/24 dev pcmb && ip link set pcmb up"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = server.ns.run({"sh", "-c", "ip addr add 10.9.0.1/24 dev pcma && ip link set pcma up"});
    ASSERT_EQ(r.status, 0) << r.err;
    client.root.write("usr/conf/tarn.conf", "[general]\npcm_server = 10.9.0.1\n");
    ASSERT_TRUE(client.start_tarn()) << client.tarn_err();
    EXPECT_TRUE(client.wait_out("updating pcm table: UPDATE_PCM_TABLE|10.9.9.9:40000:0|10.9.9.9:40002:1"))
        << client.tarn_out();
    // No LAN address and no channels here: the server places nothing for it.
    EXPECT_TRUE(client.wait_out("pcm_create_request: |PCMREQUEST|||"));

    // The server goes: the client finds it gone and keeps trying.
    close(fd);
    server.stop_tarn();
    EXPECT_TRUE(client.wait_out("CRITICAL: run_pcm_client: Couldn't connect to pcm server"));
    EXPECT_TRUE(client.tarn_running());
    client.stop_tarn();
}

} // namespace
