// The link on the simulator transport with the test as the device: the
// 20-byte address of every datagram, whole frames, the channel of a
// received frame, and the SEND/RECV lines.
#include <gtest/gtest.h>

#include <net/if.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "csm_log.h"
#include "log_lines.h"
#include "msp_link.h"

namespace {

const uint8_t devmac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

class MspLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/msplink.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/dev.sock";
        dev_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa = {};
        sa.sun_family = AF_UNIX;
        snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path_.c_str());
        ASSERT_EQ(bind(dev_, (sockaddr *)&sa, sizeof sa), 0);
        timeval tv = {2, 0};
        setsockopt(dev_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setenv("TARN_MSP_SIM", path_.c_str(), 1);
        ASSERT_EQ(msp_init_interface("lo", devmac), 0);
    }
    void TearDown() override
    {
        close(dev_);
        unsetenv("TARN_MSP_SIM");
        std::filesystem::remove_all(dir_);
    }
    // One datagram the daemon sent, and who sent it.
    std::vector<uint8_t> take()
    {
        uint8_t buf[2048];
        socklen_t len = sizeof from_;
        ssize_t n = recvfrom(dev_, buf, sizeof buf, 0, (sockaddr *)&from_, &len);
        from_len_ = len;
        return n > 0 ? std::vector<uint8_t>(buf, buf + n) : std::vector<uint8_t>();
    }
    void give(const std::vector<uint8_t> &datagram)
    {
        ASSERT_EQ(sendto(dev_, datagram.data(), datagram.size(), 0, (sockaddr *)&from_, from_len_),
                  (ssize_t)datagram.size());
    }
    static std::vector<uint8_t> addr(int channel)
    {
        std::vector<uint8_t> a = {27, 0, 0, 0, 1, 0, 0, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x00,
                                  0x01, (uint8_t)(channel >> 8), (uint8_t)channel, 0x01, 0x00};
        return a;
    }

    std::string dir_, path_;
    int dev_ = -1;
    sockaddr_un from_ = {};
    socklen_t from_len_ = 0;
};

TEST_F(MspLink, EveryDatagramCarriesTheAddressThenTheWholeFrame)
{
    int lo = (int)if_nametoindex("lo");
    struct row {
        int channel;
        uint8_t hi, lo;
        int length;
    } rows[] = {{0xFFFF, 0xFF, 0xFF, 8}, {3, 0x00, 0x03, 12}, {0x0102, 0x01, 0x02, 255}};
    for (const row &r : rows) {
        std::vector<uint8_t> frame(r.length);
        for (int i = 0; i < r.length; i++)
            frame[i] = (uint8_t)(i * 7);
        frame[0] = (uint8_t)r.length;
        ASSERT_EQ(msp_write_msg(msp_socket, frame.data(), r.length, r.channel), r.length);
        std::vector<uint8_t> d = take();
        ASSERT_EQ(d.size(), 20u + r.length) << r.channel;
        std::vector<uint8_t> want = {27, 0, 0, 0, (uint8_t)lo, 0, 0, 0, 0x00, 0x11, 0x22, 0x33,
                                     0x44, 0x55, 0x00, 0x01, r.hi, r.lo, 0x01, 0x00};
        EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 20), want) << r.channel;
        EXPECT_EQ(std::vector<uint8_t>(d.begin() + 20, d.end()), frame) << r.channel;
    }
    // The address the sends start from is not changed by a send.
    EXPECT_EQ(msp_send_addr.scsme_channelid[0], 0);
    EXPECT_EQ(msp_send_addr.scsme_channelid[1], 0);
}

TEST_F(MspLink, FetchReportsTheSendersChannelAndShortDatagramsAsEmpty)
{
    uint8_t ping[8] = {8, 0, 1, 6, 0x31, 0, 0, 0};
    ASSERT_EQ(msp_write_msg(msp_socket, ping, 8, 0xFFFF), 8);
    take();

    std::vector<uint8_t> d = addr(0x0203);
    std::vector<uint8_t> frame = {10, 1, 4, 6, 0x31, 0x00, 0, 0, 13, 0};
    d.insert(d.end(), frame.begin(), frame.end());
    give(d);
    uint8_t buf[MSP_RECV_SIZE];
    int channel = -1;
    ASSERT_EQ(csme_wait_readable(msp_socket, 1000000), 1);
    EXPECT_EQ(msp_fetch_msg(msp_socket, buf, &channel), 10);
    EXPECT_EQ(channel, 0x0203);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 10), frame);

    for (size_t n : {0u, 5u, 20u}) {
        give(std::vector<uint8_t>(d.begin(), d.begin() + n));
        ASSERT_EQ(csme_wait_readable(msp_socket, 1000000), 1) << n;
        EXPECT_EQ(msp_fetch_msg(msp_socket, buf, &channel), 0) << n;
    }
}

TEST_F(MspLink, SendAndReceiveLines)
{
    log_lines log;
    msp_logging_active = 1;
    uint8_t resp10[10] = {10, 5, 2, 6, 0x11, 0x00, 0, 0, 0x00, 0x08};
    uint8_t resp9[9] = {9, 5, 2, 6, 0x11, 0x00, 0, 0, 0x00};

    MSP_SHOW_MSG_SEND(nullptr, resp10, 3, 7);
    EXPECT_TRUE(log.has("SEND tc 3     ts 7        Fun 0x0011 FC_SUPVSR_DESTROY_CHANNEL Len 0x0a (010)  Idx 0x05 (005) Cls 0x06  Typ 0x02 => RESULT type 0x02 - value 0800 CNF_ERROR_DESTROY_INVALID_CHAN => PAYLOAD (len=010): (0x00):0a 05 02 06 11 00 00 00 (0x08):00 08 "))
        << (log.lines().empty() ? "" : log.lines().back());

    log.clear();
    MSP_SHOW_MSG_SEND(nullptr, resp9, 0xFFFF, -1);
    EXPECT_TRUE(log.has("SEND tc 65535 ts -1       Fun 0x0011 FC_SUPVSR_DESTROY_CHANNEL Len 0x09 (009)  Idx 0x05 (005) Cls 0x06  Typ 0x02 => PAYLOAD (len=009):"));
    EXPECT_FALSE(log.has("RESULT"));

    // A received frame: the sender's address in the prefix, the first
    // payload word kept for the console.
    std::vector<uint8_t> d = addr(3);
    d.insert(d.end(), resp10, resp10 + 10);
    uint8_t ping[8] = {8, 0, 1, 6, 0x31, 0, 0, 0};
    msp_write_msg(msp_socket, ping, 8, 0xFFFF);
    take();
    give(d);
    uint8_t buf[MSP_RECV_SIZE];
    int channel;
    ASSERT_EQ(csme_wait_readable(msp_socket, 1000000), 1);
    ASSERT_EQ(msp_fetch_msg(msp_socket, buf, &channel), 10);
    log.clear();
    csm_ud_response = 0;
    MSP_SHOW_MSG_RECV(nullptr, buf, 10);
    EXPECT_TRUE(log.has("RECV 27:1:1:3:1:10"));
    EXPECT_EQ(csm_ud_response, 0x0800);

    // Logging off: nothing, and the console's word stays.
    msp_logging_active = 0;
    log.clear();
    csm_ud_response = 42;
    MSP_SHOW_MSG_RECV(nullptr, buf, 10);
    MSP_SHOW_MSG_SEND(nullptr, resp10, 3, 7);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(csm_ud_response, 42);
    msp_logging_active = 1;

    // Logging on below the message level: no line, but the console's word
    // is the answer's.
    int level = log_get_loglevel(log_levels_debug, MSP);
    log_set_loglevel_debug(log_levels_debug, MSP, 7);
    log.clear();
    MSP_SHOW_MSG_RECV(nullptr, buf, 10);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(csm_ud_response, 0x0800);
    log_set_loglevel_debug(log_levels_debug, MSP, level);
}

// The transport of a socket is remembered when the link opens it; once the
// link has closed it, a socket that reuses its number is not taken for the
// simulator (a UDP socket would otherwise carry the simulator's framing).
TEST_F(MspLink, AClosedSimulatorSocketsNumberIsNoLongerTheSimulator)
{
    int fd = msp_socket;
    csme_close(fd);
    msp_socket = -1;
    int rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int tx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(rx, 0);
    ASSERT_GE(tx, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(rx, (sockaddr *)&a, sizeof a), 0);
    ASSERT_EQ(getsockname(rx, (sockaddr *)&a, &len), 0);
    ASSERT_EQ(connect(tx, (sockaddr *)&a, sizeof a), 0);
    if (tx == fd) {
        uint8_t ping[8] = {8, 0, 1, 6, 0x31, 0, 0, 0};
        EXPECT_EQ(csme_sendto(tx, ping, sizeof ping, MSG_DONTWAIT, &msp_send_addr), -1);
    }
    close(rx);
    close(tx);
    // The link opens again on the simulator.
    ASSERT_EQ(msp_init_interface("lo", devmac), 0);
    uint8_t ping[8] = {8, 0, 1, 6, 0x31, 0, 0, 0};
    ASSERT_EQ(msp_write_msg(msp_socket, ping, 8, 0xFFFF), 8);
    EXPECT_EQ(take().size(), 28u);
}

TEST(MspLinkOpen, OnlyTheSimulatorLinkWaitsLongerForAnswers)
{
    setenv("TARN_MSP_SIM_WAIT_MS", "2500", 1);
    unsetenv("TARN_MSP_SIM");
    EXPECT_EQ(csme_answer_wait_usec(100000), 100000);
    setenv("TARN_MSP_SIM", "/x/msp.sock", 1);
    EXPECT_EQ(csme_answer_wait_usec(100000), 2500000);
    for (const char *bad : {"", "0", "-5", "12x", "999999"}) {
        setenv("TARN_MSP_SIM_WAIT_MS", bad, 1);
        EXPECT_EQ(csme_answer_wait_usec(100000), 100000) << bad;
    }
    unsetenv("TARN_MSP_SIM_WAIT_MS");
    unsetenv("TARN_MSP_SIM");
}

TEST(MspLinkOpen, ALinkThatCannotOpenSaysSo)
{
    log_lines log;
    // The kernel's csme socket does not exist on this machine.
    unsetenv("TARN_MSP_SIM");
    EXPECT_EQ(msp_init_interface("lo", devmac), -1);
    EXPECT_TRUE(log.has("CRITICAL: Error creating csme socket: "));
    EXPECT_TRUE(log.has(" -- is csmencaps loaded?"));
    // Nor does a simulator socket nobody listens on.
    log.clear();
    setenv("TARN_MSP_SIM", "/nonexistent/msp.sock", 1);
    EXPECT_EQ(msp_init_interface("lo", devmac), -1);
    EXPECT_TRUE(log.has("CRITICAL: Error creating csme socket: No such file or directory -- is csmencaps loaded?"));
    unsetenv("TARN_MSP_SIM");
}

} // namespace
