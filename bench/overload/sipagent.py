#!/usr/bin/python3
"""The well-behaved SIP peers of the overload benchmark (UDP, one socket each).

probe: an OPTIONS every --every seconds (a new transaction each time,
  retransmitted at T1 = 0.5 s doubling up to 4 s until its final answer) until
  SIGTERM; one line per transaction to --out, flushed at once:
  "SENT<TAB>SECONDS" (SENT the wall-clock time of its first send, SECONDS to
  its final answer, -1 when none came within --wait seconds).

hold: places --calls calls to --to, each acknowledged once answered, prints
  "up N" when all are answered (or "failed STATUS" and exits 1), then holds
  them, answering in-dialog requests from the far side, until SIGUSR1 or
  SIGTERM; then sends BYE on each and prints "cleared N" (calls whose BYE was
  answered 200) and "dropped N" (calls the far side ended while held). Exit
  status 0 when every call was cleared by its BYE.

recover: prints "ready" once its socket is bound; from --since (wall-clock
  seconds, or the figure written into --since-file later), waits until an OPTIONS is
  answered within 1 s and then until a call to --to is answered 200 and
  cleared by a BYE answered 200 (a refused call is tried again after 0.1 s);
  prints "options TIME", "call TIME" (wall-clock seconds when each was
  through) and exits 0, or exits 1 after --wait seconds.
"""
import argparse
import os
import random
import select
import signal
import socket
import sys
import time


def header(msg, name):
    for line in msg.split("\r\n")[1:]:
        if not line:
            break
        k, _, v = line.partition(":")
        if k.strip().lower() == name.lower():
            return v.strip()
    return ""


def headers(msg, name):
    out = []
    for line in msg.split("\r\n")[1:]:
        if not line:
            break
        k, _, v = line.partition(":")
        if k.strip().lower() == name.lower():
            out += [p.strip() for p in v.split(",")]
    return out


def status_of(msg):
    first = msg.split("\r\n", 1)[0]
    if first.startswith("SIP/2.0 "):
        try:
            return int(first.split()[1])
        except (IndexError, ValueError):
            return 0
    return 0


def cseq_of(msg):
    parts = header(msg, "CSeq").split()
    return (int(parts[0]) if parts and parts[0].isdigit() else 0, parts[1] if len(parts) > 1 else "")


def uri_in(value):
    if "<" in value:
        return value[value.index("<") + 1:value.index(">")]
    return value.split(";")[0]


SDP = ("v=0\r\no=bench 1 1 IN IP4 {ip}\r\ns=-\r\nc=IN IP4 {ip}\r\nt=0 0\r\n"
       "m=audio {port} RTP/AVP 8 0\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\n")


class Agent:
    def __init__(self, local, target):
        self.ip, port = local.rsplit(":", 1)
        self.port = int(port)
        host, tport = target.rsplit(":", 1)
        self.target = (host, int(tport))
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        self.sock.bind((self.ip, self.port))
        self.n = 0

    def token(self, what):
        self.n += 1
        return "%s%d-%d-%x" % (what, os.getpid(), self.n, random.getrandbits(32))

    def send(self, text):
        self.sock.sendto(text.encode(), self.target)

    def recv(self, timeout):
        r, _, _ = select.select([self.sock], [], [], max(0.0, timeout))
        if not r:
            return None
        data, _ = self.sock.recvfrom(65535)
        return data.decode(errors="replace")

    def request(self, method, ruri, call_id, from_tag, to, cseq, branch, extra="", body=""):
        lines = [
            "%s %s SIP/2.0" % (method, ruri),
            "Via: SIP/2.0/UDP %s:%d;branch=z9hG4bK%s;rport" % (self.ip, self.port, branch),
            "Max-Forwards: 70",
            "From: <sip:bench@%s:%d>;tag=%s" % (self.ip, self.port, from_tag),
            "To: %s" % to,
            "Call-ID: %s" % call_id,
            "CSeq: %d %s" % (cseq, method),
            "Contact: <sip:bench@%s:%d>" % (self.ip, self.port),
        ]
        if extra:
            lines.append(extra)
        if body:
            lines.append("Content-Type: application/sdp")
        lines.append("Content-Length: %d" % len(body.encode()))
        return "\r\n".join(lines) + "\r\n\r\n" + body

    def answer(self, req, status, phrase, body=""):
        """A response to a request from the far side (in-dialog)."""
        lines = ["SIP/2.0 %d %s" % (status, phrase)]
        for name in ("Via", "From", "To", "Call-ID", "CSeq"):
            for v in (headers(req, name) if name == "Via" else [header(req, name)]):
                lines.append("%s: %s" % (name, v))
        if body:
            lines += ["Contact: <sip:bench@%s:%d>" % (self.ip, self.port), "Content-Type: application/sdp"]
        lines.append("Content-Length: %d" % len(body.encode()))
        self.sock.sendto(("\r\n".join(lines) + "\r\n\r\n" + body).encode(), self.target)

    def transaction(self, text, call_id, method, wait, on_other=None):
        """Sends text, retransmits it (T1 doubling to 4 s) until a final
        answer to (call_id, method) or wait seconds; returns (answer or None,
        seconds to it)."""
        start = time.time()
        resend = start + 0.5
        step = 0.5
        self.send(text)
        while True:
            now = time.time()
            if now - start >= wait:
                return None, now - start
            msg = self.recv(min(resend, start + wait) - now)
            now = time.time()
            if msg is None:
                if now >= resend:
                    self.send(text)
                    step = min(step * 2, 4.0)
                    resend = now + step
                continue
            st = status_of(msg)
            if st and header(msg, "Call-ID") == call_id and cseq_of(msg)[1] == method:
                if st >= 200:
                    return msg, now - start
                if method == "INVITE":
                    resend = float("inf")  # provisional: the far side has it
            elif not st and on_other:
                on_other(msg)

    def options(self, wait):
        call_id = self.token("o")
        text = self.request("OPTIONS", "sip:%s:%d" % self.target, call_id, self.token("t"),
                            "<sip:%s:%d>" % self.target, 1, self.token("b"))
        return self.transaction(text, call_id, "OPTIONS", wait)


class Call:
    def __init__(self, agent, to):
        self.a = agent
        self.call_id = agent.token("c")
        self.tag = agent.token("t")
        self.ruri = "sip:%s@%s:%d" % (to, agent.target[0], agent.target[1])
        self.to = "<%s>" % self.ruri
        self.cseq = 1
        self.remote = ""
        self.routes = []
        self.status = 0
        self.ended = False

    def invite(self, wait):
        body = SDP.format(ip=self.a.ip, port=40000 + 2 * (self.a.n % 1000))
        text = self.a.request("INVITE", self.ruri, self.call_id, self.tag, self.to, 1, self.a.token("b"), body=body)
        ans, _ = self.a.transaction(text, self.call_id, "INVITE", wait)
        self.status = status_of(ans) if ans else 0
        if not ans:
            return False
        self.to = header(ans, "To")
        if self.status >= 300:
            # the transaction's ACK: same branch as the INVITE
            branch = header(text, "Via").split("branch=z9hG4bK")[1].split(";")[0]
            self.a.send(self.a.request("ACK", self.ruri, self.call_id, self.tag, self.to, 1, branch))
            return False
        self.remote = uri_in(header(ans, "Contact")) or self.ruri
        self.routes = list(reversed(headers(ans, "Record-Route")))
        self.a.send(self.in_dialog("ACK", 1))
        return True

    def in_dialog(self, method, cseq):
        extra = "\r\n".join("Route: %s" % r for r in self.routes)
        return self.a.request(method, self.remote, self.call_id, self.tag, self.to, cseq, self.a.token("b"), extra)

    def bye(self, wait, on_other=None):
        self.cseq += 1
        ans, _ = self.a.transaction(self.in_dialog("BYE", self.cseq), self.call_id, "BYE", wait, on_other)
        return ans is not None and status_of(ans) == 200


def serve_far_side(agent, calls, msg):
    """A request from the far side during a hold: answered 200 (a BYE ends
    the call, a re-INVITE gets our offer back)."""
    method = msg.split(" ", 1)[0]
    if method == "ACK":
        return
    if method == "BYE":
        for c in calls:
            if c.call_id == header(msg, "Call-ID"):
                c.ended = True
    body = SDP.format(ip=agent.ip, port=40000) if method == "INVITE" else ""
    agent.answer(msg, 200, "OK", body)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=["probe", "hold", "recover"])
    p.add_argument("--local", required=True, help="address:port to send from")
    p.add_argument("--target", required=True, help="the server's address:port")
    p.add_argument("--to", default="101")
    p.add_argument("--calls", type=int, default=2)
    p.add_argument("--every", type=float, default=0.5)
    p.add_argument("--wait", type=float, default=8.0)
    p.add_argument("--since", type=float, default=0.0)
    p.add_argument("--since-file", help="recover: a file that will hold --since")
    p.add_argument("--out", default="-")
    args = p.parse_args()
    agent = Agent(args.local, args.target)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGUSR1, lambda *_: stop.append(1))

    if args.mode == "probe":
        out = sys.stdout if args.out == "-" else open(args.out, "w")
        # each transaction runs on its own while the next ones start: one
        # socket, answers matched by Call-ID
        pending = {}  # call_id -> [first send, next resend, step, text]
        next_start = time.time()
        while not stop:
            now = time.time()
            if now >= next_start:
                call_id = agent.token("o")
                text = agent.request("OPTIONS", "sip:%s:%d" % agent.target, call_id, agent.token("t"),
                                     "<sip:%s:%d>" % agent.target, 1, agent.token("b"))
                agent.send(text)
                pending[call_id] = [now, now + 0.5, 0.5, text]
                next_start += args.every
            for cid, (t0, resend, step, text) in list(pending.items()):
                if now - t0 >= args.wait:
                    out.write("%.3f\t-1\n" % t0)
                    del pending[cid]
                elif now >= resend:
                    agent.send(text)
                    step = min(step * 2, 4.0)
                    pending[cid] = [t0, now + step, step, text]
            out.flush()
            deadline = min([next_start] + [v[1] for v in pending.values()])
            try:
                msg = agent.recv(deadline - time.time())
            except InterruptedError:
                continue
            if msg and status_of(msg) >= 200:
                cid = header(msg, "Call-ID")
                if cid in pending:
                    out.write("%.3f\t%.3f\n" % (pending[cid][0], time.time() - pending[cid][0]))
                    del pending[cid]
        return 0

    if args.mode == "hold":
        calls = []
        for _ in range(args.calls):
            c = Call(agent, args.to)
            if not c.invite(args.wait):
                print("failed %d" % c.status, flush=True)
                return 1
            calls.append(c)
        print("up %d" % len(calls), flush=True)
        while not stop:
            try:
                msg = agent.recv(0.5)
            except InterruptedError:
                continue
            if msg and not status_of(msg):
                serve_far_side(agent, calls, msg)
        dropped = sum(1 for c in calls if c.ended)
        cleared = sum(1 for c in calls if not c.ended and c.bye(args.wait, lambda m: serve_far_side(agent, calls, m)))
        print("cleared %d" % cleared, flush=True)
        print("dropped %d" % dropped, flush=True)
        return 0 if cleared == len(calls) else 1

    # recover
    print("ready", flush=True)
    if args.since_file:
        while not os.path.exists(args.since_file) or not open(args.since_file).read().strip():
            time.sleep(0.01)
        args.since = float(open(args.since_file).read())
    since = args.since or time.time()
    while time.time() < since:
        time.sleep(0.01)
    end = since + args.wait
    while time.time() < end:
        ans, _ = agent.options(min(1.0, end - time.time()))
        if ans:
            break
    else:
        return 1
    print("options %.3f" % time.time(), flush=True)
    while time.time() < end:
        c = Call(agent, args.to)
        if c.invite(min(2.0, end - time.time())):
            if c.bye(min(2.0, max(0.1, end - time.time()))):
                print("call %.3f" % time.time(), flush=True)
                return 0
        time.sleep(0.1)
    return 1


if __name__ == "__main__":
    sys.exit(main())
