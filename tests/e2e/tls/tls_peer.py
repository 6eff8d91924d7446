#!/usr/bin/env python3
"""A SIP party over TLS for whole-daemon tests (standard library only).

  tls_peer.py server --addr A --port P --cert C --key K [--cafile F]
      Listens for TLS on A:P. Every connection runs in its own thread and
      prints "HANDSHAKE <version>", or "HANDSHAKE FAILED <reason>", or
      "PLAIN CONNECT" for a connect closed without a hello; a connection
      with a handshake prints at its end "CLOSED after <n> messages".
      Requests get answers: a REGISTER 200 with the Contact granted for
      60 s, an INVITE 100 and 200 with an SDP answer, a BYE, OPTIONS or
      anything else 200. Each request prints one line "<METHOD>
      <request-URI>", a REGISTER and an INVITE "contact=<Contact>" as well.
      With --cafile the peer asks for a client certificate and accepts only
      one that file vouches for.

  tls_peer.py call --connect H:P --number N [--cafile F] [--cert C --key K]
                   [--hold-ms MS]
      Places one call over TLS (with a client certificate when given):
      INVITE with an SDP offer, ACK on 200, BYE after the hold time. Prints
      "STATUS <final status>", "CONTACT <the far end's Contact>" and "BYE
      <status>", or "CALL FAILED <reason>" when the connection fails; exits
      0 when both were 200.

  tls_peer.py options --connect H:P --tls 1.2|1.3
      Runs openssl s_client against H:P with that protocol version only,
      sends one OPTIONS over the connection and prints the status line it
      got and s_client's "Protocol version" line; exits 0 on a 200.

The peer prints "READY" once its socket listens (server) and flushes every
line at once, so a test can wait for it.
"""
import argparse
import socket
import ssl
import subprocess
import sys
import threading
import time
import uuid


def say(*parts):
    print(*parts, flush=True)


def read_message(stream):
    """One SIP message from a buffered TLS stream: (head lines, body) or None."""
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = stream.recv(1)
        if not chunk:
            return None
        head += chunk
        if head in (b"\r\n", b"\r\n\r\n"):  # keep-alive
            head = b""
    text, _, _ = head.partition(b"\r\n\r\n")
    lines = text.decode("utf-8", "replace").split("\r\n")
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() in ("content-length", "l"):
            length = int(value.strip() or 0)
    body = b""
    while len(body) < length:
        chunk = stream.recv(length - len(body))
        if not chunk:
            return None
        body += chunk
    return lines, body


def header(lines, *names):
    for line in lines[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() in names:
            return value.strip()
    return ""


def headers(lines, *names):
    return [line for line in lines[1:] if line.partition(":")[0].strip().lower() in names]


def sdp(addr, port):
    return (f"v=0\r\no=- 1 1 IN IP4 {addr}\r\ns=-\r\nc=IN IP4 {addr}\r\nt=0 0\r\n"
            f"m=audio {port} RTP/AVP 8 0 101\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\n"
            "a=rtpmap:101 telephone-event/8000\r\na=sendrecv\r\n").encode()


def response(lines, status, reason, extra=(), body=b"", to_tag=None):
    out = [f"SIP/2.0 {status} {reason}"]
    out += headers(lines, "via", "v")
    out += headers(lines, "from", "f")
    to = header(lines, "to", "t")
    if to_tag and ";tag=" not in to:
        to += f";tag={to_tag}"
    out.append(f"To: {to}")
    out += headers(lines, "call-id", "i")
    out += headers(lines, "cseq")
    out += list(extra)
    if body:
        out.append("Content-Type: application/sdp")
    out.append(f"Content-Length: {len(body)}")
    return ("\r\n".join(out) + "\r\n\r\n").encode() + body


def serve_connection(conn, args, tag):
    try:
        conn.do_handshake()
    except (ssl.SSLError, OSError) as e:
        if isinstance(e, ssl.SSLEOFError) or "EOF" in str(e):
            say("PLAIN CONNECT")  # a connect probe, closed without a hello
        else:
            say("HANDSHAKE FAILED", getattr(e, "reason", None) or str(e))
        conn.close()
        return
    say("HANDSHAKE", conn.version())
    contact = f"<sip:peer@{args.addr}:{args.port};transport=tls>"
    requests = 0
    try:
        while True:
            msg = read_message(conn)
            if msg is None:
                break
            lines, _ = msg
            requests += 1
            first = lines[0].split(" ")
            if first[0] == "SIP/2.0":
                continue
            method, uri = first[0], first[1] if len(first) > 1 else ""
            if method == "REGISTER":
                their = header(lines, "contact", "m")
                say("REGISTER", uri, "contact=" + their)
                conn.sendall(response(lines, 200, "OK", [f"Contact: {their};expires=60", "Expires: 60"],
                                      to_tag=tag))
            elif method == "INVITE":
                say("INVITE", uri, "contact=" + header(lines, "contact", "m"))
                conn.sendall(response(lines, 100, "Trying"))
                conn.sendall(response(lines, 200, "OK", [f"Contact: {contact}"], sdp(args.addr, 40000), tag))
            elif method == "ACK":
                say("ACK", uri)
            else:
                say(method, uri)
                conn.sendall(response(lines, 200, "OK", to_tag=tag))
    except (ssl.SSLError, OSError) as e:
        say("CONNECTION ERROR", e)
    finally:
        say("CLOSED after", requests, "messages")
        conn.close()


def server(args):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)
    if args.cafile:
        ctx.load_verify_locations(args.cafile)
        ctx.verify_mode = ssl.CERT_REQUIRED
    lsock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    lsock.bind((args.addr, args.port))
    lsock.listen(16)
    say("READY")
    tag = uuid.uuid4().hex[:10]
    while True:
        sock, _ = lsock.accept()
        conn = ctx.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        threading.Thread(target=serve_connection, args=(conn, args, tag), daemon=True).start()


def client_context(cafile, cert=None, key=None):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    if cert:
        ctx.load_cert_chain(cert, key)
    if cafile:
        ctx.load_verify_locations(cafile)
    else:
        ctx.verify_mode = ssl.CERT_NONE
    return ctx


def call(args):
    try:
        return place_call(args)
    except (ssl.SSLError, OSError) as e:
        say("CALL FAILED", e)
        return 2


def place_call(args):
    host, port = args.connect.rsplit(":", 1)
    raw = socket.create_connection((host, int(port)), timeout=args.timeout)
    conn = client_context(args.cafile, args.cert, args.key).wrap_socket(raw)
    local, lport = conn.getsockname()[:2]
    call_id = uuid.uuid4().hex + "@tls-peer"
    tag = uuid.uuid4().hex[:8]
    ruri = f"sip:{args.number}@{host}:{port};transport=tls"
    frm = f"<sip:caller@{local}>;tag={tag}"

    def request(method, cseq, uri, to, body=b"", extra=()):
        branch = "z9hG4bK" + uuid.uuid4().hex[:12]
        out = [f"{method} {uri} SIP/2.0", f"Via: SIP/2.0/TLS {local}:{lport};branch={branch};rport",
               "Max-Forwards: 70", f"From: {frm}", f"To: {to}", f"Call-ID: {call_id}", f"CSeq: {cseq} {method}",
               f"Contact: <sip:caller@{local}:{lport};transport=tls>"] + list(extra)
        if body:
            out.append("Content-Type: application/sdp")
        out.append(f"Content-Length: {len(body)}")
        conn.sendall(("\r\n".join(out) + "\r\n\r\n").encode() + body)

    def final(method):
        while True:
            msg = read_message(conn)
            if msg is None:
                return None, None
            lines, _ = msg
            first = lines[0].split(" ")
            if first[0] != "SIP/2.0":
                # a request of the gateway in the dialog: answer it
                conn.sendall(response(lines, 200, "OK"))
                continue
            if header(lines, "cseq").split(" ")[-1] == method and int(first[1]) >= 200:
                return int(first[1]), lines

    request("INVITE", 1, ruri, f"<sip:{args.number}@{host}>", sdp(local, 41000))
    status, lines = final("INVITE")
    say("STATUS", status)
    if lines:
        say("CONTACT", header(lines, "contact", "m"))
    if status is None:
        say("CALL FAILED", "connection closed")
    if status != 200:
        return 1
    to = header(lines, "to", "t")
    target = header(lines, "contact", "m").strip("<>").split(">")[0] or ruri
    request("ACK", 1, target, to)
    time.sleep(args.hold_ms / 1000.0)
    request("BYE", 2, target, to)
    status, _ = final("BYE")
    say("BYE", status)
    conn.close()
    return 0 if status == 200 else 1


def options(args):
    host, port = args.connect.rsplit(":", 1)
    proc = subprocess.Popen(["openssl", "s_client", "-connect", args.connect, "-brief", "-nocommands",
                             "-tls1_3" if args.tls == "1.3" else "-tls1_2"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    req = (f"OPTIONS sip:{host}:{port};transport=tls SIP/2.0\r\n"
           f"Via: SIP/2.0/TLS {host}:5999;branch=z9hG4bK{uuid.uuid4().hex[:12]}\r\nMax-Forwards: 70\r\n"
           f"From: <sip:probe@{host}>;tag=1\r\nTo: <sip:{host}>\r\nCall-ID: {uuid.uuid4().hex}@s_client\r\n"
           "CSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n")
    status = ""
    timer = threading.Timer(args.timeout, proc.kill)
    timer.start()
    try:
        proc.stdin.write(req.encode())
        proc.stdin.flush()
        for raw in proc.stdout:
            line = raw.decode("utf-8", "replace").strip()
            if line.startswith("SIP/2.0 "):
                status = line
                break
    except OSError:
        pass
    finally:
        try:
            proc.stdin.close()
        except OSError:
            pass
        proc.wait()
        timer.cancel()
    err = proc.stderr.read().decode("utf-8", "replace")
    for line in err.splitlines():
        if line.startswith("Protocol version") or "alert" in line or line.startswith("CONNECTION"):
            say(line.strip())
    say("OPTIONS", status or "no answer")
    return 0 if status.startswith("SIP/2.0 200") else 1


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="mode", required=True)
    s = sub.add_parser("server")
    s.add_argument("--addr", required=True)
    s.add_argument("--port", type=int, required=True)
    s.add_argument("--cert", required=True)
    s.add_argument("--key", required=True)
    s.add_argument("--cafile")
    c = sub.add_parser("call")
    c.add_argument("--connect", required=True)
    c.add_argument("--number", required=True)
    c.add_argument("--cafile")
    c.add_argument("--cert")
    c.add_argument("--key")
    c.add_argument("--hold-ms", type=int, default=500)
    c.add_argument("--timeout", type=float, default=30)
    o = sub.add_parser("options")
    o.add_argument("--connect", required=True)
    o.add_argument("--tls", choices=["1.2", "1.3"], required=True)
    o.add_argument("--timeout", type=float, default=30)
    args = p.parse_args()
    return {"server": server, "call": call, "options": options}[args.mode](args)


if __name__ == "__main__":
    sys.exit(main())
