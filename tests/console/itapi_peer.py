#!/usr/bin/env python3
"""A peer gateway's console for console-driven calls: listens on a TCP port,
greets each connection like the daemon's console, writes every line it
receives to the record file (one "<connection number> <line>" per line) and
answers each ";dial:" line with the replies given on the command line
(default "ALERTING" then "CONNECT:40000").

    itapi_peer.py PORT RECORD [REPLY ...]
"""
import socket
import sys
import threading

GREETING = b"quilmar VoIP Gateway Console (enter h for help, q to quit)\r\n\r\n"


def serve(conn, number, record, replies, lock):
    conn.sendall(GREETING)
    pending = b""
    while True:
        try:
            data = conn.recv(4096)
        except OSError:
            data = b""
        if not data:
            with lock:
                with open(record, "a") as f:
                    f.write("%d <closed>\n" % number)
            return
        pending += data
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            text = line.decode("utf-8", "replace").rstrip("\r")
            with lock:
                with open(record, "a") as f:
                    f.write("%d %s\n" % (number, text))
            if text.lstrip(";").startswith("dial:"):
                for r in replies:
                    conn.sendall(r.encode() + b"\n")


def main():
    port, record = int(sys.argv[1]), sys.argv[2]
    replies = sys.argv[3:] or ["ALERTING", "CONNECT:40000"]
    lock = threading.Lock()
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", port))
    s.listen(8)
    open(record, "a").close()
    number = 0
    while True:
        conn, _ = s.accept()
        number += 1
        threading.Thread(target=serve, args=(conn, number, record, replies, lock), daemon=True).start()


if __name__ == "__main__":
    main()
