#!/usr/bin/python3
"""Loopback HTTP server for the webhook test: writes its port to PORTFILE,
appends each request as JSON (path, headers, body) to LOGFILE and answers
with a body the daemon must not print."""
import http.server
import json
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        n = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(n).decode("utf-8", "replace")
        with open(sys.argv[2], "a") as f:
            f.write(json.dumps({"path": self.path, "headers": dict(self.headers), "body": body}) + "\n")
        reply = b"SERVER-REPLY-BODY"
        self.send_response(200)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


srv = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1], "w") as f:
    f.write(str(srv.server_address[1]))
srv.timeout = 0.5
for _ in range(120):
    srv.handle_request()
