#!/usr/bin/env python3
"""A small STUN server for tests: answers every Binding Request (RFC 3489 /
RFC 5389 header) with a Binding Response whose MAPPED-ADDRESS is read from a
file at each request, so a test can change the address it hands out.

    stunsim.py --addr-file F [--port N] [--no-address]

Prints "port N" once it listens on 127.0.0.1, then one line per request:
"request <client ip>:<port> -> <mapped ip>". An empty or missing file answers
with the client's own address. With --no-address every request gets a
Binding Response without any address attribute: a server that gives no
address."""
import argparse
import socket
import struct
import sys

BINDING_REQUEST = 0x0001
BINDING_RESPONSE = 0x0101
MAPPED_ADDRESS = 0x0001
SOURCE_ADDRESS = 0x0004
CHANGED_ADDRESS = 0x0005


def address_attribute(kind, ip, port):
    value = struct.pack("!BBH", 0, 1, port) + socket.inet_aton(ip)
    return struct.pack("!HH", kind, len(value)) + value


def mapped(path, client_ip):
    try:
        with open(path) as f:
            text = f.read().strip()
    except OSError:
        text = ""
    return text or client_ip


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--addr-file", required=True)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--no-address", action="store_true")
    a = ap.parse_args()
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", a.port))
    print("port %d" % s.getsockname()[1], flush=True)
    while True:
        data, peer = s.recvfrom(2048)
        if len(data) < 20:
            continue
        kind, length = struct.unpack("!HH", data[:4])
        if kind != BINDING_REQUEST:
            continue
        txid = data[4:20]
        if a.no_address:
            s.sendto(struct.pack("!HH", BINDING_RESPONSE, 0) + txid, peer)
            print("request %s:%d -> none" % (peer[0], peer[1]), flush=True)
            continue
        ip = mapped(a.addr_file, peer[0])
        attrs = (address_attribute(MAPPED_ADDRESS, ip, peer[1]) +
                 address_attribute(SOURCE_ADDRESS, "127.0.0.1", s.getsockname()[1]) +
                 address_attribute(CHANGED_ADDRESS, "127.0.0.1", s.getsockname()[1]))
        s.sendto(struct.pack("!HH", BINDING_RESPONSE, len(attrs)) + txid + attrs, peer)
        print("request %s:%d -> %s" % (peer[0], peer[1], ip), flush=True)


if __name__ == "__main__":
    sys.exit(main())
