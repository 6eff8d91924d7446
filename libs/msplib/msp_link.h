// The CSM link to the media processor: opening the CSME socket, sending one
// frame to a DSP channel, fetching one frame with the channel it came from,
// and the SEND/RECV lines of every message that crosses the link. Only the
// command thread uses the socket once the library runs.
#pragma once
#include <cstdint>

#include "csme_socket.h"

// The largest datagram fetched from the link.
constexpr int MSP_RECV_SIZE = 1500;
// How long a send waits for the socket to become writable.
constexpr long MSP_SEND_WAIT_USEC = 100000;
// The channel id of the media processor itself.
constexpr int MSP_DEVICE_CHANNEL = 0xFFFF;

// The link socket, -1 until msp_init_interface has opened it.
extern int msp_socket;
// The address every send starts from (channel and flags are set per send in
// a copy), and the sender of the last fetched frame.
extern sockaddr_csme msp_send_addr;
extern sockaddr_csme msp_recv_addr;
// First payload word of the last received message that was logged.
extern int csm_ud_response;

// Opens the link on the named interface to the processor with the given MAC
// and sets the acknowledgement option; 0, or -1 after a CRITICAL line.
int msp_init_interface(const char *ifname, const uint8_t devmac[6]);
// Sends `length` bytes of `buffer` to DSP channel `channel` (0xFFFF the
// device) once the socket is writable within 100 ms; bytes sent or -1.
int msp_write_msg(int socket, const uint8_t *buffer, int length, int channel);
// Receives one frame into `buffer` (MSP_RECV_SIZE bytes) and stores the
// sender's channel; the length, 0 or -1.
int msp_fetch_msg(int socket, uint8_t *buffer, int *channel);

// SEND line of a message about to go to `channel` (`timeslot` for the log).
void _msp_show_msg_send(const char *file, int line, const char *function, void *context,
                        const uint8_t *buffer, int channel, int timeslot);
// RECV line of a fetched message of `length` bytes (the sender is the last
// fetched address). While msp_logging_active is set it keeps the first
// payload word in csm_ud_response, at any log level.
void _msp_show_msg_recv(const char *file, int line, const char *function, void *context,
                        const uint8_t *buffer, int length);

#define MSP_SHOW_MSG_SEND(context, buffer, channel, timeslot) \
    _msp_show_msg_send(__FILE__, __LINE__, __func__, (context), (buffer), (channel), (timeslot))
#define MSP_SHOW_MSG_RECV(context, buffer, length) \
    _msp_show_msg_recv(__FILE__, __LINE__, __func__, (context), (buffer), (length))
