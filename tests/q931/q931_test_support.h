// Test support for the Q.931 coding: frames to and from Q.931 messages on
// the wire, a decoder run through tshark, log capture, and the port facts
// the coders ask for.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "misdn_bchannel.h"
#include "misdn_msg.h"

using octets = std::vector<uint8_t>;

// A received frame of the mode (nt 1: NT shape) made from a whole Q.931
// message; prim = 0x03MM00 | cmd. Null when the header is unusable.
msg_t *frame_from_wire(const octets &wire, int nt, uint32_t cmd = 0x82, int dinfo = 1, int ces = 0);
// The Q.931 message of a built frame, call reference cr of crlen octets.
octets frame_to_wire(const msg_t *msg, int nt, int crlen = 1, int cr = 1, int flag = 0);
// Elements of a frame only (no header), as on the wire.
octets frame_ies(const msg_t *msg, int nt);

// One decoded packet: field name -> values joined by ','.
using tshark_packet = std::map<std::string, std::string>;
struct tshark_result {
    std::vector<tshark_packet> packets;
    int malformed = 0;   // packets with a malformed or error mark
    std::vector<int> bad;  // their indexes
    std::string error;   // tool failure
};
// Writes the Q.931 messages into a capture (one packet each) and decodes
// them with tshark, asking for the given fields; options go to tshark as
// they stand (e.g. "-o 'q932.facility_encoding:Dissect facility as ETSI'").
tshark_result tshark_decode(const std::vector<octets> &msgs, const std::vector<std::string> &fields,
                            const std::string &options = "");
bool tshark_available();

// Log lines of the library while a capture is active.
struct log_capture {
    log_capture();
    ~log_capture();
    bool has(const std::string &text) const;
    std::vector<std::string> lines;
};

// Ports known to the coders: 1 BRI (cidlen 1), 2 PRI E1 (cidlen 2),
// 3 BRI with cidlen 2; every other port has no stack.
void install_test_ports();

// A fresh call record on a port, with the values a prepared slot has.
void fresh_bc(misdn_bchannel *bc, int port = 1, int nt = 0);

std::string hex(const octets &o);

// A file of the public corpora (shared/data beside the checkout or one of
// the folders above it); empty when there is none.
std::string shared_data_path(const std::string &file);
octets unhex(const std::string &text);
