#!/usr/bin/python3
"""SIP over UDP for the admission tests, from inside the daemon's namespace.

invites: INVITEs at given times (seconds after the start), each its own
  call; every response is written as one line
  "INDEX<TAB>STATUS<TAB>PHRASE<TAB>REASON<TAB>CONTACT" to --out (flushed at
  once) and to standard output; final answers are acknowledged.

request: one request of --method outside any dialog; every response is
  written as "STATUS<TAB>PHRASE<TAB>ALLOW<TAB>RETRY-AFTER<TAB>ALLOW-HEADERS"
  (the last the number of Allow headers).

startup: waits until the daemon's UDP port is bound (--ready: a file made
  once it watches), then for --span seconds starts a new OPTIONS
  transaction every --every seconds, each
  retransmitted as RFC 3261 asks (T1 = 0.5 s, doubling up to 4 s) until its
  final answer; writes one line per transaction
  "INDEX<TAB>STATUS<TAB>SECONDS<TAB>RETRY-AFTER<TAB>SENDS" (SECONDS from its
  first send to its final answer; status 0 and -1 when none came within
  --wait seconds).

call: one call to --to, its 200 acknowledged ("up" once answered, or
  "refused STATUS"); once the file --go exists, a BYE (retransmitted as RFC
  3261 asks) and "bye STATUS" with its final answer (status 0 when none
  came within --wait seconds). Lines to standard output and --out.

corpus: the PROTOS c07-sip cases (placeholders filled, each INVITE followed
  by its teardown) and the RFC 4475 torture messages, sent at a bounded rate;
  prints "sent N", "answers N", "oversized N" and the first answer to case 0
  before and after the run as "case0-before ..." / "case0-after ...".
"""
import argparse
import os
import re
import select
import socket
import sys
import time

MAX_DATAGRAM = 65507


def header(msg, name, short=None):
    for line in msg.split("\r\n")[1:]:
        if not line:
            break
        k, _, v = line.partition(":")
        k = k.strip().lower()
        if k == name.lower() or (short and k == short):
            return v.strip()
    return ""


def parse_response(data):
    text = data.decode("utf-8", "replace")
    first = text.split("\r\n", 1)[0]
    m = re.match(r"SIP/2\.0 (\d{3}) ?(.*)", first)
    if not m:
        return None
    return {
        "status": int(m.group(1)),
        "phrase": m.group(2),
        "call_id": header(text, "Call-ID", "i"),
        "cseq": header(text, "CSeq"),
        "reason": header(text, "Reason"),
        "contact": header(text, "Contact", "m"),
        "to": header(text, "To", "t"),
        "via": header(text, "Via", "v"),
        "allow": header(text, "Allow"),
        "retry_after": header(text, "Retry-After"),
        "allow_count": sum(1 for l in text.split("\r\n\r\n")[0].split("\r\n")[1:]
                           if l.split(":")[0].strip().lower() == "allow"),
        "from": header(text, "From", "f"),
    }


def invite(target, local, index, to_user, extra, call_id, branch):
    host, port = target
    lhost, lport = local
    body = ("v=0\r\no=probe 1 1 IN IP4 %s\r\ns=-\r\nc=IN IP4 %s\r\nt=0 0\r\n"
            "m=audio 40000 RTP/AVP 0 8\r\na=rtpmap:0 PCMU/8000\r\n" % (lhost, lhost))
    lines = [
        "INVITE sip:%s@%s:%d SIP/2.0" % (to_user, host, port),
        "Via: SIP/2.0/UDP %s:%d;branch=%s;rport" % (lhost, lport, branch),
        "Max-Forwards: 70",
        'From: "Probe" <sip:200@%s:%d>;tag=t%d' % (lhost, lport, index),
        "To: <sip:%s@%s:%d>" % (to_user, host, port),
        "Call-ID: %s" % call_id,
        "CSeq: 1 INVITE",
        "Contact: <sip:200@%s:%d>" % (lhost, lport),
    ] + extra + [
        "Content-Type: application/sdp",
        "Content-Length: %d" % len(body),
        "",
        body,
    ]
    return "\r\n".join(lines).encode()


def ack(target, local, r, to_user, branch):
    host, port = target
    lines = [
        "ACK sip:%s@%s:%d SIP/2.0" % (to_user, host, port),
        "Via: SIP/2.0/UDP %s:%d;branch=%s;rport" % (local[0], local[1], branch),
        "Max-Forwards: 70",
        "From: %s" % r["from"],
        "To: %s" % r["to"],
        "Call-ID: %s" % r["call_id"],
        "CSeq: 1 ACK",
        "Content-Length: 0",
        "",
        "",
    ]
    return "\r\n".join(lines).encode()


def run_invites(a):
    target = (a.host, a.port)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    # the answers to a burst come faster than this loop reads them
    try:
        s.setsockopt(socket.SOL_SOCKET, getattr(socket, "SO_RCVBUFFORCE", 33), 4 << 20)
    except OSError:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    s.bind((a.bind, 0))
    local = s.getsockname()
    times = [float(t) for t in a.at.split(",")]
    extra = {}
    for h in a.header or []:
        i, _, line = h.partition(":")
        extra.setdefault(int(i), []).append(line.strip())
    calls = {}
    out = open(a.out, "a") if a.out else None
    start = time.time()
    pending = list(enumerate(times))
    deadline = start + times[-1] + a.wait
    while time.time() < deadline:
        now = time.time() - start
        while pending and pending[0][1] <= now:
            i, _ = pending.pop(0)
            cid = "c%d-%d-%d@%s" % (i, os.getpid(), int(start), local[0])
            branch = "z9hG4bK-%d-%d" % (os.getpid(), i)
            calls[cid] = (i, branch)
            s.sendto(invite(target, local, i, a.to, extra.get(i, []), cid, branch), target)
        wait = 0.05 if pending else 0.2
        r, _, _ = select.select([s], [], [], wait)
        if not r:
            continue
        data, _ = s.recvfrom(65535)
        resp = parse_response(data)
        if not resp or resp["call_id"] not in calls:
            continue
        i, branch = calls[resp["call_id"]]
        line = "%d\t%d\t%s\t%s\t%s" % (i, resp["status"], resp["phrase"], resp["reason"], resp["contact"])
        print(line, flush=True)
        if out:
            out.write(line + "\n")
            out.flush()
        if resp["status"] >= 300 and "INVITE" in resp["cseq"]:
            s.sendto(ack(target, local, resp, a.to, branch), target)
    return 0


def in_dialog(method, r, local, cseq, branch):
    """A request inside the dialog of answer r (no route set: the gateway
    answers without Record-Route)."""
    uri = r["contact"].split("<", 1)[-1].split(">", 1)[0] if r["contact"] else ""
    lines = [
        "%s %s SIP/2.0" % (method, uri),
        "Via: SIP/2.0/UDP %s:%d;branch=%s;rport" % (local[0], local[1], branch),
        "Max-Forwards: 70",
        "From: %s" % r["from"],
        "To: %s" % r["to"],
        "Call-ID: %s" % r["call_id"],
        "CSeq: %d %s" % (cseq, method),
        "Content-Length: 0",
        "",
        "",
    ]
    return "\r\n".join(lines).encode()


def run_call(a):
    out = open(a.out, "a") if a.out else None

    def say(line):
        print(line, flush=True)
        if out:
            out.write(line + "\n")
            out.flush()

    target = (a.host, a.port)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((a.bind, 0))
    local = s.getsockname()
    cid = "call-%d@%s" % (os.getpid(), local[0])
    msg = invite(target, local, 0, a.to, [], cid, "z9hG4bK-i%d" % os.getpid())
    end = time.time() + a.wait
    next_send, gap, answered = time.time(), 0.5, None
    while answered is None and time.time() < end:
        if time.time() >= next_send:
            s.sendto(msg, target)
            next_send, gap = time.time() + gap, gap * 2
        r, _, _ = select.select([s], [], [], 0.05)
        if not r:
            continue
        resp = parse_response(s.recvfrom(65535)[0])
        if not resp or resp["call_id"] != cid or "INVITE" not in resp["cseq"]:
            continue
        if resp["status"] >= 100:
            next_send = float("inf")
        if resp["status"] >= 300:
            s.sendto(ack(target, local, resp, a.to, "z9hG4bK-i%d" % os.getpid()), target)
            say("refused %d" % resp["status"])
            return 1
        if resp["status"] >= 200:
            answered = resp
    if answered is None:
        say("refused 0")
        return 1
    s.sendto(in_dialog("ACK", answered, local, 1, "z9hG4bK-a%d" % os.getpid()), target)
    say("up")
    while not os.path.exists(a.go):
        r, _, _ = select.select([s], [], [], 0.05)
        if r:
            resp = parse_response(s.recvfrom(65535)[0])
            if resp and resp["status"] == 200 and "INVITE" in resp["cseq"]:
                # a copy of the 200: the ACK was lost
                s.sendto(in_dialog("ACK", answered, local, 1, "z9hG4bK-a%d" % os.getpid()), target)
    bye = in_dialog("BYE", answered, local, 2, "z9hG4bK-b%d" % os.getpid())
    end = time.time() + a.wait
    next_send, gap = time.time(), 0.5
    while time.time() < end:
        if time.time() >= next_send:
            s.sendto(bye, target)
            next_send, gap = time.time() + gap, min(gap * 2, 4.0)
        r, _, _ = select.select([s], [], [], 0.05)
        if not r:
            continue
        resp = parse_response(s.recvfrom(65535)[0])
        if resp and resp["call_id"] == cid and "BYE" in resp["cseq"] and resp["status"] >= 200:
            say("bye %d" % resp["status"])
            return 0
    say("bye 0")
    return 1


def request(method, target, local, call_id, branch, to_user="100"):
    host, port = target
    lhost, lport = local
    lines = [
        "%s sip:%s@%s:%d SIP/2.0" % (method, to_user, host, port),
        "Via: SIP/2.0/UDP %s:%d;branch=%s;rport" % (lhost, lport, branch),
        "Max-Forwards: 70",
        "From: <sip:200@%s:%d>;tag=r%d" % (lhost, lport, os.getpid()),
        "To: <sip:%s@%s:%d>" % (to_user, host, port),
        "Call-ID: %s" % call_id,
        "CSeq: 1 %s" % method,
        "Contact: <sip:200@%s:%d>" % (lhost, lport),
        "Content-Length: 0",
        "",
        "",
    ]
    return "\r\n".join(lines).encode()


def run_request(a):
    target = (a.host, a.port)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((a.bind, 0))
    local = s.getsockname()
    cid = "q-%d@%s" % (os.getpid(), local[0])
    msg = request(a.method, target, local, cid, "z9hG4bK-q%d" % os.getpid())
    end = time.time() + a.wait
    next_send, gap = time.time(), 0.5
    while time.time() < end:
        if time.time() >= next_send:
            s.sendto(msg, target)
            next_send, gap = time.time() + gap, min(gap * 2, 4.0)
        r, _, _ = select.select([s], [], [], 0.05)
        if not r:
            continue
        resp = parse_response(s.recvfrom(65535)[0])
        if not resp or resp["call_id"] != cid:
            continue
        print("%d\t%s\t%s\t%s\t%d" % (resp["status"], resp["phrase"], resp["allow"], resp["retry_after"],
                                      resp["allow_count"]), flush=True)
        if resp["status"] >= 200:
            return 0
    return 0


def udp_port_bound(port):
    for name in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            for line in open(name).read().splitlines()[1:]:
                local = line.split()[1]
                if int(local.rsplit(":", 1)[1], 16) == port:
                    return True
        except OSError:
            pass
    return False


def run_startup(a):
    target = (a.host, a.port)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((a.bind, 0))
    local = s.getsockname()
    give_up = time.time() + 60
    if a.ready:  # watching the port from now on
        open(a.ready, "w").close()
    while not udp_port_bound(a.port):
        if time.time() > give_up:
            print("port never bound", flush=True)
            return 1
        time.sleep(0.001)
    start = time.time()
    tx = []  # [first, next_send, gap, message, final status, seconds, retry-after, sends]
    by_cid = {}
    while True:
        now = time.time()
        if now - start < a.span and (not tx or now - tx[-1][0] >= a.every):
            i = len(tx)
            cid = "s%d-%d@%s" % (i, os.getpid(), local[0])
            tx.append([now, now, 0.5, request("OPTIONS", target, local, cid, "z9hG4bK-s%d-%d" % (os.getpid(), i)),
                       0, -1.0, "", 0])
            by_cid[cid] = i
        open_tx = [t for t in tx if t[4] == 0 and now - t[0] < a.wait]
        if now - start >= a.span and not open_tx:
            break
        for t in open_tx:
            if now >= t[1]:
                try:
                    s.sendto(t[3], target)
                except OSError:
                    pass  # the port's ICMP answer to an earlier datagram
                t[7] += 1
                t[1], t[2] = now + t[2], min(t[2] * 2, 4.0)
        r, _, _ = select.select([s], [], [], 0.002)
        if not r:
            continue
        try:
            data = s.recvfrom(65535)[0]
        except OSError:
            continue
        resp = parse_response(data)
        if not resp or resp["call_id"] not in by_cid or resp["status"] < 200:
            continue
        t = tx[by_cid[resp["call_id"]]]
        if t[4] == 0:
            t[4], t[5], t[6] = resp["status"], time.time() - t[0], resp["retry_after"]
    text = "".join("%d\t%d\t%.3f\t%s\t%d\n" % (i, t[4], t[5], t[6], t[7]) for i, t in enumerate(tx))
    sys.stdout.write(text)
    if a.out:  # whole, for a reader that waits for the file
        with open(a.out + ".part", "w") as f:
            f.write(text)
        os.rename(a.out + ".part", a.out)
    return 0


PLACEHOLDERS = ["<To>", "<From>", "<From-Address>", "<From-IP>", "<Local-Port>", "<Branch-ID>", "<Call-ID>",
                "<CSeq>", "<Teardown-Method>"]


def protos_records(raw):
    """The length-prefixed records of one case file."""
    out, at = [], 0
    while at < len(raw):
        sp = raw.find(b" ", at)
        if sp < 0:
            break
        try:
            n = int(raw[at:sp])
        except ValueError:
            break
        out.append(raw[sp + 1:sp + 1 + n])
        at = sp + 1 + n
    return out


def fill(rec, values):
    for k, v in values.items():
        rec = rec.replace(k.encode(), v.encode())
    head, sep, body = rec.partition(b"\r\n\r\n")
    if not sep:
        head, sep, body = rec.partition(b"\n\n")
    return rec.replace(b"<Content-Length>", str(len(body)).encode())


def protos_case(path, number, target, local):
    recs = protos_records(open(path, "rb").read())
    values = {
        "<To>": "100@%s:%d" % target,
        "<From>": "200@%s:%d" % local,
        "<From-Address>": local[0],
        "<From-IP>": local[0],
        "<Local-Port>": str(local[1]),
        "<Branch-ID>": "-%d" % number,
        "<Call-ID>": "protos-%d-%d" % (number, os.getpid()),
        "<CSeq>": "1",
        "<Teardown-Method>": "CANCEL",
    }
    return [fill(r, values) for r in recs]


class Collector:
    def __init__(self, sock):
        self.sock = sock
        self.answers = 0
        self.by_call = {}

    def drain(self, timeout):
        end = time.time() + timeout
        while True:
            left = end - time.time()
            r, _, _ = select.select([self.sock], [], [], max(0.0, left))
            if not r:
                if left <= 0:
                    return
                continue
            data, _ = self.sock.recvfrom(65535)
            resp = parse_response(data)
            if not resp:
                continue
            self.answers += 1
            self.by_call.setdefault(resp["call_id"], []).append(resp)


def ask_case0(sock, col, protos, target, local, tag):
    case0 = protos_case(os.path.join(protos, "0000000"), 0, target, local)
    cid = "protos-0-%d" % os.getpid()
    # a fresh Call-ID and branch per asking
    case0 = [r.replace(cid.encode(), (cid + tag).encode()).replace(b"z9hG4bK00000-0", ("z9hG4bK00000-0" + tag).encode())
             for r in case0]
    sock.sendto(case0[0], target)
    end = time.time() + 5
    while time.time() < end:
        col.drain(0.1)
        finals = [r for k, v in col.by_call.items() if k.startswith(cid + tag + "@") for r in v if r["status"] >= 200]
        if finals:
            r = finals[0]
            return "%d %s|%s" % (r["status"], r["phrase"], r["reason"])
    return "none"


def run_corpus(a):
    target = (a.host, a.port)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
    s.bind((a.bind, 0))
    local = s.getsockname()
    col = Collector(s)
    print("case0-before %s" % ask_case0(s, col, a.protos, target, local, "a"), flush=True)
    messages = []
    for f in sorted(os.listdir(a.torture)):
        if f.endswith(".dat"):
            messages.append(open(os.path.join(a.torture, f), "rb").read())
    cases = sorted(f for f in os.listdir(a.protos) if f.isdigit())
    for f in cases:
        messages.extend(protos_case(os.path.join(a.protos, f), int(f), target, local))
    sent = oversized = 0
    gap = 1.0 / a.rate
    start = time.time()
    for i, m in enumerate(messages):
        if len(m) > MAX_DATAGRAM:
            m = m[:MAX_DATAGRAM]  # the most one datagram carries
            oversized += 1
        try:
            s.sendto(m, target)
            sent += 1
        except OSError as e:
            print("send %d failed: %s" % (i, e), flush=True)
        # keep the pace: answers are read while waiting
        due = start + (i + 1) * gap
        col.drain(max(0.0, due - time.time()))
    print("sent %d" % sent, flush=True)
    print("oversized %d" % oversized, flush=True)
    print("seconds %.1f" % (time.time() - start), flush=True)
    col.drain(1.0)
    print("answers %d" % col.answers, flush=True)
    print("case0-after %s" % ask_case0(s, col, a.protos, target, local, "b"), flush=True)
    return 0


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="cmd", required=True)
    for name in ("invites", "corpus", "request", "startup", "call"):
        q = sub.add_parser(name)
        q.add_argument("--host", default="127.0.0.1")
        q.add_argument("--port", type=int, required=True)
        q.add_argument("--bind", default="127.0.0.1")
    q = sub.choices["invites"]
    q.add_argument("--at", default="0")
    q.add_argument("--to", default="100")
    q.add_argument("--header", action="append")
    q.add_argument("--wait", type=float, default=3.0)
    q.add_argument("--out")
    q.add_argument("--ready", help="a file made once the port is watched")
    q = sub.choices["corpus"]
    q.add_argument("--protos", required=True)
    q.add_argument("--torture", required=True)
    q.add_argument("--rate", type=float, default=400.0)
    q = sub.choices["request"]
    q.add_argument("--method", default="OPTIONS")
    q.add_argument("--wait", type=float, default=5.0)
    q = sub.choices["startup"]
    q.add_argument("--span", type=float, default=3.0)
    q.add_argument("--every", type=float, default=0.01)
    q.add_argument("--wait", type=float, default=8.0)
    q.add_argument("--out")
    q.add_argument("--ready", help="a file made once the port is watched")
    q = sub.choices["call"]
    q.add_argument("--to", default="100")
    q.add_argument("--go", required=True)
    q.add_argument("--out")
    q.add_argument("--wait", type=float, default=30.0)
    a = p.parse_args()
    runs = {"invites": run_invites, "corpus": run_corpus, "request": run_request, "startup": run_startup,
            "call": run_call}
    return runs[a.cmd](a)


if __name__ == "__main__":
    sys.exit(main())
