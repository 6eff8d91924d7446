#!/usr/bin/python3
"""Loopback stand-in for a call-authorization server: writes its port to
PORTFILE, appends each request's path and query to LOGFILE, and answers by
the path: /accept and /reject (JSON bodies), /split (a REJECT sent in two
writes), /empty (200 without body), /slow (no answer for 3 s), /denied
(403 with a REJECT body)."""
import http.server
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def answer(self, status, parts, pause=0.0):
        self.send_response(status)
        self.send_header("Content-Length", str(sum(len(p) for p in parts)))
        self.end_headers()
        for i, p in enumerate(parts):
            if i:
                time.sleep(pause)
            self.wfile.write(p)
            self.wfile.flush()

    def do_GET(self):
        with open(sys.argv[2], "a") as f:
            f.write(self.path + "\n")
        path = self.path.split("?")[0]
        if path == "/accept":
            self.answer(200, [b'{"action":"ACCEPT","redirectLocation":"4930123"}'])
        elif path == "/badredirect":
            self.answer(200, [b'{"action":"ACCEPT","redirectLocation":"49 30<x>"}'])
        elif path == "/reject":
            self.answer(200, [b'{"action":"REJECT","redirectLocation":null}'])
        elif path == "/split":
            self.answer(200, [b'{"action":"REJ', b'ECT","redirectLocation":null}'], 0.2)
        elif path == "/empty":
            self.answer(200, [])
        elif path == "/denied":
            self.answer(403, [b'{"action":"REJECT"}'])
        elif path == "/slow":
            time.sleep(3)
            self.answer(200, [b'{"action":"REJECT"}'])
        else:
            self.answer(404, [])

    def log_message(self, *args):
        pass


srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
srv.daemon_threads = True
with open(sys.argv[1], "w") as f:
    f.write(str(srv.server_address[1]))
srv.timeout = 0.5
deadline = time.time() + 60
while time.time() < deadline:
    srv.handle_request()
