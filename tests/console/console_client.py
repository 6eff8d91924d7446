#!/usr/bin/env python3
"""A console client for the tests: connects to the status server, runs the
steps given on the command line and prints a JSON list with the text each
read step collected.

Steps:
  send:TEXT   one packet (escapes \\n \\r \\\\ are understood)
  read        read until quiet: QUIET seconds without data once data came,
              or until the server closes; at most 10 s when nothing comes
  read:N      the same, but quiet counts only once N bytes have come
  readeof     read until the server closes (at most 10 s); the text gets
              the suffix "<EOF>" when it did
"""
import json
import socket
import sys
import time

QUIET = 0.3


def unescape(text):
    return text.encode().decode("unicode_escape").encode("latin-1")


def read(sock, until_eof, at_least=1):
    data = b""
    closed = False
    start = time.monotonic()
    last = None
    while True:
        now = time.monotonic()
        if now - start > 10:
            break
        if not until_eof and len(data) >= at_least and last is not None and now - last >= QUIET:
            break
        sock.settimeout(0.05)
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            continue
        except ConnectionResetError:
            closed = True
            break
        if not chunk:
            closed = True
            break
        data += chunk
        last = time.monotonic()
    text = data.decode("latin-1")
    return text + ("<EOF>" if until_eof and closed else "")


def main():
    host, port = sys.argv[1], int(sys.argv[2])
    sock = socket.create_connection((host, port), timeout=5)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    out = []
    for step in sys.argv[3:]:
        if step.startswith("send:"):
            sock.sendall(unescape(step[5:]))
        elif step == "read":
            out.append(read(sock, False))
        elif step.startswith("read:"):
            out.append(read(sock, False, int(step[5:])))
        elif step == "readeof":
            out.append(read(sock, True))
        else:
            raise SystemExit("unknown step " + step)
    print(json.dumps(out))


if __name__ == "__main__":
    main()
