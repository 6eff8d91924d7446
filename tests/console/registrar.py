#!/usr/bin/env python3
"""A SIP registrar over UDP for console tests.

    registrar.py ADDR PORT RECORD DELAY_MS

Answers every REGISTER with 200 OK; an unregistration (Expires 0, or a
Contact with expires=0) is answered DELAY_MS later. Each REGISTER (its
retransmissions once) adds a line "REGISTER <Call-ID> <expires>" to RECORD,
flushed at once. Runs until it is killed.
"""
import re
import socket
import sys
import threading


def header(msg, name):
    m = re.search(r"^" + name + r"\s*:\s*(.*?)\r?$", msg, re.M | re.I)
    return m.group(1) if m else ""


def expires_of(msg):
    contact = header(msg, "Contact")
    m = re.search(r"expires\s*=\s*(\d+)", contact, re.I)
    if m:
        return int(m.group(1))
    e = header(msg, "Expires")
    return int(e) if e.isdigit() else 3600


def answer(msg, expires):
    lines = ["SIP/2.0 200 OK"]
    for l in msg.split("\r\n")[1:]:
        if re.match(r"(Via|From|Call-ID|CSeq)\s*:", l, re.I):
            lines.append(l)
        elif re.match(r"To\s*:", l, re.I):
            lines.append(l if ";tag=" in l else l + ";tag=reg1")
    contact = header(msg, "Contact")
    if expires > 0 and contact and contact != "*":
        lines.append("Contact: " + contact.split(";")[0] + ";expires=%d" % expires)
    lines += ["Content-Length: 0", "", ""]
    return "\r\n".join(lines).encode()


def main():
    addr, port, record, delay = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]) / 1000.0
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((addr, port))
    seen = set()
    with open(record, "a") as out:
        while True:
            data, peer = s.recvfrom(65535)
            msg = data.decode("utf-8", "replace")
            if not msg.startswith("REGISTER "):
                continue
            key = (header(msg, "Call-ID"), header(msg, "CSeq"))
            if key in seen:
                continue
            seen.add(key)
            expires = expires_of(msg)
            out.write("REGISTER %s %d\n" % (key[0], expires))
            out.flush()
            reply = answer(msg, expires)
            if expires == 0 and delay > 0:
                threading.Timer(delay, s.sendto, (reply, peer)).start()
            else:
                s.sendto(reply, peer)


if __name__ == "__main__":
    main()
