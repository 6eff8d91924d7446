#!/usr/bin/python3
"""A SIP user agent with a real RTP endpoint, for the media tests.

uac: calls NUMBER at the gateway offering one G.711 payload type; once the
  call is answered and the gateway's RTP arrives (the media path is up:
  the media processor's channel may be set up after the answer went out)
  sends PACKETS voice packets (20 ms apart, each with its own payload
  pattern), holds a moment, hangs up. Counts the RTP that reaches its SDP
  address before and after the answer.
uas: answers one INVITE with the given payload type and sends PACKETS
  voice packets of a fixed pattern while it counts what arrives; ends with
  the BYE, once what was still on its way has arrived.

Prints one JSON object: "status" (final answer), "early" (RTP packets
before the 200), "rx" (after it), "rx_pts" (payload types seen), "sent",
"echoed" (sent payloads that came back unchanged), "heard" (packets whose
payload, decoded, matches what the other side sent: the uas pattern at the
uac, the uac patterns at the uas, also across a PCMA/PCMU transcoding),
"media" (the gateway's SDP address), "cleared" (null, or when the gateway
ended the call with a BYE: the seconds since this side last sent RTP).
"""
import argparse
import json
import random
import re
import select
import socket
import struct
import sys
import time
import warnings

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    try:
        import audioop
    except ImportError:  # newer Python: the content check is skipped
        audioop = None

MEDIA_WAIT = 5.0    # s, longest wait for the gateway's first RTP after the answer
DRAIN_QUIET = 0.3   # s without RTP after the BYE: nothing more on its way
DRAIN_MAX = 3.0


def uas_byte(pt):
    """The answering side's pattern: one level, in its codec."""
    return 0x9A if pt == 0 else 0x2A


def law_value(byte, pt):
    if audioop is None:
        return None
    f = audioop.ulaw2lin if pt == 0 else audioop.alaw2lin
    return struct.unpack("<h", f(bytes([byte]), 2))[0]


def close_enough(a, b):
    return a is not None and b is not None and abs(a - b) <= abs(a) // 8 + 16


def uac_payload(i):
    """The caller's packet i: a pattern of its own, so an echo is known."""
    return bytes((i * 11 + k * 5) & 0xFF for k in range(160))


def sdp(ip, port, pt):
    name = "PCMU" if pt == 0 else "PCMA"
    return ("v=0\r\no=peer 1 1 IN IP4 %s\r\ns=-\r\nc=IN IP4 %s\r\nt=0 0\r\n"
            "m=audio %d RTP/AVP %d 101\r\na=rtpmap:%d %s/8000\r\na=rtpmap:101 telephone-event/8000\r\n"
            "a=fmtp:101 0-15\r\na=ptime:20\r\n" % (ip, ip, port, pt, pt, name))


def media_of(body):
    c = re.search(r"^c=IN IP4 (\S+)", body, re.M)
    m = re.search(r"^m=audio (\d+)", body, re.M)
    return (c.group(1), int(m.group(1))) if c and m else None


def header(msg, name):
    m = re.search(r"^%s:\s*(.*?)\r$" % re.escape(name), msg, re.M | re.I)
    return m.group(1) if m else ""


def split(data):
    text = data.decode("utf-8", "replace")
    head, _, body = text.partition("\r\n\r\n")
    return head + "\r\n", body


class Peer:
    def __init__(self, a):
        self.a = a
        self.sip = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sip.bind((a.local, a.sip_port))
        self.rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.rtp.bind((a.local, a.rtp_port))
        self.rtp.setblocking(False)
        self.gw = (a.gateway.split(":")[0], int(a.gateway.split(":")[1]))
        self.media = None
        self.answered = False
        self.r = {"status": 0, "early": 0, "rx": 0, "rx_pts": [], "sent": 0, "echoed": 0, "heard": 0,
                  "media": None, "cleared": None}
        self.sent_payloads = set()
        self.caller_payloads = None
        self.seq = random.getrandbits(16)
        self.ts = random.getrandbits(32)
        self.ssrc = random.getrandbits(32)

    def send_rtp(self, payload):
        if not self.media:
            return
        pkt = struct.pack(">BBHII", 0x80, self.a.pt | (0x80 if self.r["sent"] == 0 else 0), self.seq,
                          self.ts, self.ssrc) + payload
        self.seq = (self.seq + 1) & 0xFFFF
        self.ts = (self.ts + len(payload)) & 0xFFFFFFFF
        self.rtp.sendto(pkt, self.media)
        self.r["sent"] += 1

    def read_rtp(self):
        while True:
            try:
                data = self.rtp.recv(4096)
            except BlockingIOError:
                return
            if len(data) < 12:
                continue
            pt, payload = data[1] & 0x7F, data[12:]
            if not self.answered:
                self.r["early"] += 1
                continue
            self.r["rx"] += 1
            if pt not in self.r["rx_pts"]:
                self.r["rx_pts"].append(pt)
            if payload in self.sent_payloads:
                self.r["echoed"] += 1
                self.sent_payloads.discard(payload)
            if self.matches_far_pattern(pt, payload):
                self.r["heard"] += 1

    def matches_far_pattern(self, pt, payload):
        if audioop is None or not payload:
            return False
        got = [law_value(b, pt) for b in payload]
        if self.a.mode == "uac":  # the uas pattern, now in this call's codec
            want = law_value(uas_byte(self.a.far_pt), self.a.far_pt)
            return all(close_enough(want, g) for g in got)
        if self.caller_payloads is None:
            self.caller_payloads = [[law_value(b, self.a.caller_pt) for b in uac_payload(i)]
                                    for i in range(self.a.packets)]
        return any(len(w) == len(got) and all(close_enough(x, y) for x, y in zip(w, got))
                   for w in self.caller_payloads)

    def recv_sip(self, timeout):
        r, _, _ = select.select([self.sip, self.rtp], [], [], timeout)
        if self.rtp in r:
            self.read_rtp()
        if self.sip in r:
            data, src = self.sip.recvfrom(65535)
            return split(data), src
        return None, None

    def in_call(self, timeout, last_sent):
        """Waits for SIP; a BYE from the gateway is answered and ends the
        call ("cleared": seconds since this side last sent RTP)."""
        (msg, src) = self.recv_sip(timeout)
        if msg and msg[0].startswith("BYE"):
            h = msg[0]
            keep = "".join("%s: %s\r\n" % (x, header(h, x)) for x in ("Via", "From", "To", "Call-ID", "CSeq"))
            self.sip.sendto(("SIP/2.0 200 OK\r\n%sContent-Length: 0\r\n\r\n" % keep).encode(), src)
            self.r["cleared"] = round(time.monotonic() - last_sent, 2)
            return False
        return self.r["cleared"] is None

    def drain_rtp(self):
        """The caller's last packets may still be on their way through the
        media processor when the BYE (the daemon's) arrives: read until the
        stream has been quiet a moment."""
        end = time.monotonic() + DRAIN_MAX
        while time.monotonic() < end:
            r, _, _ = select.select([self.rtp], [], [], DRAIN_QUIET)
            if not r:
                return
            self.read_rtp()

    # -- uac ------------------------------------------------------------------

    def uac(self):
        a = self.a
        call_id = "%x@%s" % (random.getrandbits(48), a.local)
        tag = "%x" % random.getrandbits(32)
        branch = "z9hG4bK%x" % random.getrandbits(48)
        uri = "sip:%s@%s" % (a.number, a.gateway)
        body = sdp(a.local, a.rtp_port, a.pt)
        common = ("From: <sip:caller@%s:%d>;tag=%s\r\nCall-ID: %s\r\nContact: <sip:caller@%s:%d>\r\n"
                  "Max-Forwards: 70\r\n" % (a.local, a.sip_port, tag, call_id, a.local, a.sip_port))
        invite = ("INVITE %s SIP/2.0\r\nVia: SIP/2.0/UDP %s:%d;branch=%s;rport\r\n%sTo: <%s>\r\n"
                  "CSeq: 1 INVITE\r\nContent-Type: application/sdp\r\nContent-Length: %d\r\n\r\n%s"
                  % (uri, a.local, a.sip_port, branch, common, uri, len(body), body))
        self.sip.sendto(invite.encode(), self.gw)
        deadline = time.monotonic() + a.timeout
        to = ""
        while time.monotonic() < deadline and not self.r["status"]:
            (msg, src) = self.recv_sip(0.05)
            if not msg or not msg[0].startswith("SIP/2.0"):
                continue
            head, rbody = msg
            code = int(head.split()[1])
            if media_of(rbody):
                self.media = media_of(rbody)
                self.r["media"] = "%s:%d" % self.media
            if code >= 200:
                self.r["status"] = code
                to = header(head, "To")
        if self.r["status"] == 0:
            print(json.dumps(self.r))
            return 1
        ack_uri = uri
        ack = ("ACK %s SIP/2.0\r\nVia: SIP/2.0/UDP %s:%d;branch=%s;rport\r\n%sTo: %s\r\nCSeq: 1 ACK\r\n"
               "Content-Length: 0\r\n\r\n" % (ack_uri, a.local, a.sip_port, branch, common, to))
        self.sip.sendto(ack.encode(), self.gw)
        if self.r["status"] != 200:
            print(json.dumps(self.r))
            return 1
        self.answered = True
        # The media path is up once the gateway's RTP arrives (the line's
        # far end plays a tone while it hears nothing, the called side of a
        # SIP-to-SIP call talks); the bound only keeps a call without RTP
        # going, whose counts then tell. Early media already showed the path:
        # a caller that then waited would look silent to the RTP check.
        end = time.monotonic() + MEDIA_WAIT
        while (self.r["rx"] == 0 and self.r["early"] == 0 and time.monotonic() < end
               and self.in_call(0.01, time.monotonic())):
            pass
        last_sent = time.monotonic()
        for i in range(a.packets):
            if self.r["cleared"] is not None:
                break
            payload = uac_payload(i)
            self.sent_payloads.add(payload)
            self.send_rtp(payload)
            last_sent = time.monotonic()
            end = last_sent + 0.02
            while time.monotonic() < end and self.in_call(max(0.0, end - time.monotonic()), last_sent):
                pass
        end = time.monotonic() + a.hold
        while time.monotonic() < end and self.in_call(0.02, last_sent):
            pass
        self.r["echoed"] = a.packets - len(self.sent_payloads) if self.r["sent"] else 0
        if self.r["cleared"] is not None:
            print(json.dumps(self.r))
            return 0
        bye = ("BYE %s SIP/2.0\r\nVia: SIP/2.0/UDP %s:%d;branch=z9hG4bK%x;rport\r\n%sTo: %s\r\nCSeq: 2 BYE\r\n"
               "Content-Length: 0\r\n\r\n" % (uri, a.local, a.sip_port, random.getrandbits(48), common, to))
        self.sip.sendto(bye.encode(), self.gw)
        end = time.monotonic() + 5
        while time.monotonic() < end:
            (msg, _src) = self.recv_sip(0.05)
            if msg and msg[0].startswith("SIP/2.0") and "BYE" in header(msg[0], "CSeq"):
                break
        print(json.dumps(self.r))
        return 0

    # -- uas ------------------------------------------------------------------

    def uas(self):
        a = self.a
        deadline = time.monotonic() + a.timeout
        invite = src = None
        while time.monotonic() < deadline and invite is None:
            msg, s = self.recv_sip(0.05)
            if msg and msg[0].startswith("INVITE"):
                invite, src = msg, s
        if invite is None:
            print(json.dumps(self.r))
            return 1
        head, body = invite
        self.media = media_of(body)
        self.r["media"] = "%s:%d" % self.media if self.media else None
        keep = "".join("%s: %s\r\n" % (h, header(head, h)) for h in ("Via", "From", "Call-ID", "CSeq"))
        answer = sdp(a.local, a.rtp_port, a.pt)
        ok = ("SIP/2.0 200 OK\r\n%sTo: %s;tag=%x\r\nContact: <sip:uas@%s:%d>\r\nContent-Type: application/sdp\r\n"
              "Content-Length: %d\r\n\r\n%s" % (keep, header(head, "To"), random.getrandbits(32), a.local,
                                                a.sip_port, len(answer), answer))
        self.sip.sendto(ok.encode(), src)
        self.answered = True
        payload = bytes([uas_byte(a.pt)]) * 160
        next_send = time.monotonic()
        while time.monotonic() < deadline:
            msg, s = self.recv_sip(0.01)
            if msg and msg[0].startswith("BYE"):
                h = msg[0]
                keep = "".join("%s: %s\r\n" % (x, header(h, x)) for x in ("Via", "From", "To", "Call-ID", "CSeq"))
                self.sip.sendto(("SIP/2.0 200 OK\r\n%sContent-Length: 0\r\n\r\n" % keep).encode(), s)
                self.drain_rtp()
                break
            if time.monotonic() >= next_send and self.r["sent"] < a.packets:
                self.send_rtp(payload)
                next_send += 0.02
        print(json.dumps(self.r))
        return 0


def main(argv):
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=("uac", "uas"))
    p.add_argument("--local", required=True)
    p.add_argument("--sip-port", type=int, required=True)
    p.add_argument("--rtp-port", type=int, required=True)
    p.add_argument("--gateway", default="0.0.0.0:0", help="address:port of the gateway's SIP stack")
    p.add_argument("--number", default="")
    p.add_argument("--pt", type=int, default=8, choices=(0, 8))
    p.add_argument("--caller-pt", type=int, default=8, help="uas: the payload type the caller uses")
    p.add_argument("--far-pt", type=int, default=8, help="uac: the payload type the called side uses")
    p.add_argument("--packets", type=int, default=50)
    p.add_argument("--hold", type=float, default=1.0)
    p.add_argument("--timeout", type=float, default=30.0)
    a = p.parse_args(argv)
    peer = Peer(a)
    return peer.uac() if a.mode == "uac" else peer.uas()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
