#include "msp_link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

#include "csm_log.h"
#include "log.h"

int msp_socket = -1;
sockaddr_csme msp_send_addr;
sockaddr_csme msp_recv_addr;
int csm_ud_response = 0;

int msp_init_interface(const char *ifname, const uint8_t devmac[6])
{
    int fd = csme_socket();
    if (fd < 0) {
        LOGD(MSP, 0, nullptr, "CRITICAL: Error creating csme socket: %s -- is csmencaps loaded?",
             strerror(errno));
        return -1;
    }
    LOGD(MSP, 4, nullptr, "using device mac %02x:%02x:%02x:%02x:%02x:%02x\n", devmac[0], devmac[1],
         devmac[2], devmac[3], devmac[4], devmac[5]);

    int ifindex = csme_ifindex(ifname);
    sockaddr_csme a = {};
    a.scsme_family = AF_CSME;
    a.scsme_ifindex = ifindex;
    memcpy(a.scsme_devmac, devmac, 6);
    a.scsme_opcode[0] = 0x00;
    a.scsme_opcode[1] = 0x01;
    a.scsme_flags[0] = 0x01;
    a.scsme_flags[1] = 0x00;

    csme_ackopt opt = {};
    memcpy(opt.scsme_devmac, devmac, 6);
    opt.scsme_ifindex = ifindex;
    opt.ack_suppression = 0;
    int r = csme_set_ackopt(fd, &opt);
    if (r != 0) {
        LOGD(MSP, 0, nullptr, "CRITICAL: setsockopt failed: %d - %s\n", r, strerror(errno));
        csme_close(fd);
        return -1;
    }
    if (msp_socket >= 0)
        csme_close(msp_socket);
    msp_send_addr = a;
    msp_socket = fd;
    return 0;
}

int msp_write_msg(int socket, const uint8_t *buffer, int length, int channel)
{
    if (!buffer || length <= 0)
        return -1;
    sockaddr_csme to = msp_send_addr;
    to.scsme_channelid[0] = (uint8_t)((channel >> 8) & 0xFF);
    to.scsme_channelid[1] = (uint8_t)(channel & 0xFF);
    to.scsme_flags[0] = 0x01;
    to.scsme_flags[1] = 0x00;
    if (csme_wait_writable(socket, MSP_SEND_WAIT_USEC) != 1)
        return -1;
    ssize_t n = csme_sendto(socket, buffer, (size_t)length, MSG_DONTWAIT, &to);
    return n < 0 ? -1 : (int)n;
}

int msp_fetch_msg(int socket, uint8_t *buffer, int *channel)
{
    memset(&msp_recv_addr, 0, sizeof msp_recv_addr);
    ssize_t n = csme_recvfrom(socket, buffer, MSP_RECV_SIZE, &msp_recv_addr);
    if (channel)
        *channel = msp_recv_addr.scsme_channelid[0] << 8 | msp_recv_addr.scsme_channelid[1];
    return n < 0 ? -1 : (int)n;
}

void _msp_show_msg_send(const char *file, int line, const char *function, void *context,
                        const uint8_t *buffer, int channel, int timeslot)
{
    if (!buffer || !msp_show_msg_enabled())
        return;
    char prefix[48];
    snprintf(prefix, sizeof prefix, "SEND tc %-5i ts %i", channel, timeslot);
    msp_show_msg_prefixed(file, line, function, context, prefix, buffer, buffer[0]);
}

void _msp_show_msg_recv(const char *file, int line, const char *function, void *context,
                        const uint8_t *buffer, int length)
{
    if (!buffer)
        return;
    // The console's diagnostics commands read the word whenever messages
    // are logged at all, whatever the level.
    if (msp_logging_active && length >= 10)
        csm_ud_response = buffer[8] | buffer[9] << 8;
    if (!msp_show_msg_enabled())
        return;
    const sockaddr_csme &a = msp_recv_addr;
    int opcode = a.scsme_opcode[0] << 8 | a.scsme_opcode[1];
    int chan = a.scsme_channelid[0] << 8 | a.scsme_channelid[1];
    int flags = a.scsme_flags[0] | a.scsme_flags[1] << 8;
    char prefix[80];
    snprintf(prefix, sizeof prefix, "RECV %i:%i:%i:%0i:%i:%i", a.scsme_family, a.scsme_ifindex,
             opcode, chan, flags, length);
    msp_show_msg_prefixed(file, line, function, context, prefix, buffer, length);
}
