// The CSME link to the media processor: one datagram per CSM message in each
// direction, addressed by the processor's MAC and a channel id.
//
// Two transports sit behind these calls. Normally the socket is the one the
// csmencaps kernel module offers (address family 27). When the environment
// variable TARN_MSP_SIM names a Unix datagram socket, the link goes there
// instead: every datagram carries the 20-byte address record exactly as it
// would be handed to the kernel, followed by the CSM frame, and answers come
// back the same way.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

constexpr int AF_CSME = 27;
constexpr int CSME_PROTOCOL = 0x9B88;
constexpr int SOL_CSME = 269;
constexpr int CSME_OPT_ACK = 1;

// The address of one end of the link (20 bytes).
struct sockaddr_csme {
    uint16_t scsme_family;     // 27
    uint16_t scsme_pad;
    int32_t scsme_ifindex;     // interface that leads to the processor
    uint8_t scsme_devmac[6];   // the processor's MAC
    uint8_t scsme_opcode[2];   // 0x00 0x01
    uint8_t scsme_channelid[2]; // high byte first; 0xFFFF is the device itself
    uint8_t scsme_flags[2];    // 0x01 0x00
};
static_assert(sizeof(sockaddr_csme) == 20, "the kernel takes 20 bytes");

// The acknowledgement option (16 bytes).
struct csme_ackopt {
    uint8_t scsme_devmac[6];
    uint8_t pad1[2];
    int32_t scsme_ifindex;
    uint8_t ack_suppression; // 0: acknowledgements are not suppressed
    uint8_t pad2[3];
};
static_assert(sizeof(csme_ackopt) == 16, "the kernel takes 16 bytes");

// Bytes of the simulator's datagram in front of the frame.
constexpr size_t CSME_SIM_ADDR_SIZE = sizeof(sockaddr_csme);

// The simulator socket named by TARN_MSP_SIM, or null for the kernel socket.
const char *csme_sim_path();

// How long to wait for the device's answer: `usual` on the board; on the
// simulator link TARN_MSP_SIM_WAIT_MS may give more room for a simulator
// that shares a loaded machine.
long csme_answer_wait_usec(long usual);

// A new link socket; -1 with errno set.
int csme_socket();
// Index of a network interface, 0 when none has that name.
int csme_ifindex(const char *ifname);
// Sets the acknowledgement option; the setsockopt result.
int csme_set_ackopt(int fd, const csme_ackopt *opt);
// Waits up to usec microseconds: 1 ready, 0 not within the time, -1 error.
int csme_wait_writable(int fd, long usec);
int csme_wait_readable(int fd, long usec);
// One datagram to the address; bytes sent or -1.
ssize_t csme_sendto(int fd, const void *buf, size_t len, int flags, const sockaddr_csme *to);
// One datagram of at most len bytes; the sender's address into *from (the
// record is left as the caller cleared it when the transport has none).
// Bytes received, 0 or -1.
ssize_t csme_recvfrom(int fd, void *buf, size_t len, sockaddr_csme *from);
// Closes a link socket.
void csme_close(int fd);
