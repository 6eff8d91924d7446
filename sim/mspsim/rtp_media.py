"""The voice side of the simulated media processor: RTP per channel.

Like the board's DSP, each voice channel whose IP header the daemon set has
an RTP endpoint on the processor's own address (--rtp-address): a UDP
socket bound to the header's source port, sending to the header's
destination. What a channel sends, at its packet time:
  - a tone while FC_VOIP_TONEGEN runs on it (cadences of the tone record),
    in the channel's codec (PCMA or PCMU);
  - joined to another channel (trans-connect or TDM hairpin): what the other
    one receives, transcoded between PCMA and PCMU where the payloads differ;
  - otherwise the channel faces a line, whose simulated far end echoes what
    it hears: each voice packet received goes back with the same payload;
    while nothing arrives the far end plays a steady 1 kHz tone;
  - RFC 2833 events when the daemon sends FC_VOIP_SENDNTE.
RFC 2833 events received are reported to the daemon (FC_VOIP_NTERECVD).
Every channel counts what it receives and sends (packets, payload octets,
loss from sequence gaps, interarrival jitter as RFC 3550 computes it); the
statistics answers report these figures.

Without --rtp-address no socket is opened (the counters stay, and a test can
feed packets through the control socket).
"""

import math
import random
import socket
import struct
import time

VOPENA = 0x8000
VCEOPT = 0x8001
TONEGEN = 0x8009
TONEOFF = 0x8014
PTMNG = 0x8018
SENDNTE = 0x801E
SET_IP_HDR = 0x9000
NTERECVD = 0x8020

MAX_DATAGRAM = 1500        # larger datagrams are dropped as oversized
READS_PER_WAKEUP = 64      # a flooded socket cannot starve the others
MAX_SEND_PER_SECOND = 200  # a channel never sends faster (echo of a flood)
TICK = 0.01
RX_QUIET = 0.1             # no packet for this long: the far end plays its tone
FAR_END_HZ = 1000
CLOCK = 8000               # G.711 samples a second
TONE_AMPLITUDE = 6000      # about -15 dBm0 per component
TONE_CACHE = 32
ENDED_KEPT = 32


# -- G.711 --------------------------------------------------------------------

def _ulaw_encode(x):
    sign = 0x80 if x < 0 else 0
    x = min(abs(x), 32635) + 0x84
    exp = 7
    mask = 0x4000
    while exp > 0 and not (x & mask):
        exp -= 1
        mask >>= 1
    mant = (x >> (exp + 3)) & 0x0F
    return ~(sign | (exp << 4) | mant) & 0xFF


def _alaw_encode(x):
    sign = 0x80 if x >= 0 else 0
    x = min(abs(x), 32767) >> 3
    if x < 32:
        code = x >> 1
    else:
        exp = 1
        while x >= 64 and exp < 7:
            x >>= 1
            exp += 1
        code = (exp << 4) | ((x >> 1) & 0x0F)
    return (sign | code) ^ 0x55


def _ulaw_decode(u):
    u = ~u & 0xFF
    t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4)
    return 0x84 - t if u & 0x80 else t - 0x84


def _alaw_decode(a):
    a ^= 0x55
    t = (a & 0x0F) << 4
    seg = (a & 0x70) >> 4
    if seg == 0:
        t += 8
    elif seg == 1:
        t += 0x108
    else:
        t = (t + 0x108) << (seg - 1)
    return t if a & 0x80 else -t


ULAW_TO_ALAW = bytes(_alaw_encode(_ulaw_decode(u)) for u in range(256))
ALAW_TO_ULAW = bytes(_ulaw_encode(_alaw_decode(a)) for a in range(256))
ENCODERS = {0: _ulaw_encode, 8: _alaw_encode}


def transcode(payload, pt_in, pt_out):
    """The payload in the other G.711 law; None when it cannot be done."""
    if pt_in == pt_out:
        return payload
    if pt_in == 8 and pt_out == 0:
        return payload.translate(ALAW_TO_ULAW)
    if pt_in == 0 and pt_out == 8:
        return payload.translate(ULAW_TO_ALAW)
    return None


_tones = {}


def tone_second(f1, f2, pt):
    """One second of the two-frequency tone in the codec of pt (a whole
    number of periods for whole frequencies, so it repeats seamlessly)."""
    key = (f1, f2, pt)
    t = _tones.get(key)
    if t is None:
        enc = ENCODERS[pt]
        out = bytearray(CLOCK)
        for i in range(CLOCK):
            v = 0.0
            if f1:
                v += math.sin(2 * math.pi * f1 * i / CLOCK)
            if f2:
                v += math.sin(2 * math.pi * f2 * i / CLOCK)
            out[i] = enc(int(v * TONE_AMPLITUDE))
        t = bytes(out)
        if len(_tones) >= TONE_CACHE:
            _tones.pop(next(iter(_tones)))
        _tones[key] = t
    return t


def tone_samples(f1, f2, pt, start, n):
    second = tone_second(f1, f2, pt)
    start %= CLOCK
    out = second[start:start + n]
    while len(out) < n:
        out += second[:n - len(out)]
    return out


# -- one channel ---------------------------------------------------------------

class Channel:
    """The RTP endpoint and the counters of one DSP channel."""

    def __init__(self, ch):
        self.ch = ch
        self.sock = None
        self.local_port = 0
        self.dest = None          # (address, port) the daemon set
        self.tos = 0
        self.mode = None          # VOPENA channel mode (None: not yet)
        self.payload = 8
        self.ptime = 20
        self.nte_pt = 101
        self.error = ""
        # sending
        self.ssrc = random.getrandbits(32)
        self.seq = random.getrandbits(16)
        self.ts = random.getrandbits(32)
        self.first = True
        self.next_due = 0.0
        self.tone = None          # running TONEGEN: {"segments", "repeat", "start"}
        self.nte = None           # running SENDNTE
        self.window = (0.0, 0)    # (second started, packets sent in it)
        # receiving
        self.last_rx = 0.0
        self.rx_ssrc = 0
        self.base_seq = None
        self.max_seq = 0
        self.cycles = 0
        self.transit = None
        self.jitter = 0.0
        self.last_event_ts = None
        self.stalled = False
        self.c = {"rx_packets": 0, "rx_octets": 0, "tx_packets": 0, "tx_octets": 0, "malformed": 0,
                  "oversized": 0, "dropped": 0, "events_in": 0, "events_out": 0}

    def ext_max(self):
        return self.cycles + self.max_seq if self.base_seq is not None else 0

    def lost(self):
        if self.base_seq is None:
            return 0
        return max(0, self.ext_max() - self.base_seq + 1 - self.c["rx_packets"])

    def sending(self):
        # As on the DSP, nothing goes out before FC_VOIP_VOPENA turns the
        # channel on (with its payload type): the header alone opens the
        # socket but sends no tone in a codec the call may not have.
        return self.sock is not None and self.dest is not None and bool(self.mode)

    def counters(self):
        d = dict(self.c, lost=self.lost(), jitter=int(self.jitter), highest_seq=self.ext_max(),
                 ssrc_remote=self.rx_ssrc, ssrc_local=self.ssrc, payload=self.payload, ptime=self.ptime,
                 local_port=self.local_port, open=self.sock is not None, stalled=self.stalled,
                 remote="%s:%d" % self.dest if self.dest else None)
        if self.error:
            d["error"] = self.error
        return d


def parse_rtp(data):
    """(payload type, marker, seq, timestamp, ssrc, payload) or None."""
    if len(data) < 12 or data[0] >> 6 != 2:
        return None
    cc = data[0] & 0x0F
    off = 12 + 4 * cc
    if data[0] & 0x10:  # header extension
        if len(data) < off + 4:
            return None
        off += 4 + 4 * struct.unpack_from(">H", data, off + 2)[0]
    end = len(data)
    if data[0] & 0x20:  # padding
        pad = data[-1]
        if pad == 0 or pad > end - off:
            return None
        end -= pad
    if off > end:
        return None
    seq, ts, ssrc = struct.unpack_from(">HII", data, 2)
    return data[1] & 0x7F, data[1] >> 7, seq, ts, ssrc, data[off:end]


class Media:
    """Every channel's RTP; driven by the simulator's loop (selector and
    timers), never a thread of its own."""

    def __init__(self, address, selector, after, indicate, peer_of):
        self.address = address
        self.sel = selector
        self.after = after        # after(seconds, fn)
        self.indicate = indicate  # indicate(channel, fc, fields)
        self.peer_of = peer_of    # peer_of(channel) -> (channel, payload) or None
        self.channels = {}
        self.ended = []           # counters of the last channels destroyed
        self.ticking = False

    def get(self, ch):
        c = self.channels.get(ch)
        if c is None:
            c = self.channels[ch] = Channel(ch)
        return c

    # -- commands of the daemon -------------------------------------------

    def command(self, ch, fc, fields):
        if fc not in (VOPENA, VCEOPT, TONEGEN, TONEOFF, PTMNG, SENDNTE, SET_IP_HDR):
            return
        c = self.get(ch)
        if fc == SET_IP_HDR:
            a, b = fields.get("destination_address_word_1", 0), fields.get("destination_address_word_2", 0)
            port = fields.get("udp_destination_port", 0)
            addr = "%d.%d.%d.%d" % (a >> 8, a & 0xFF, b >> 8, b & 0xFF)
            c.dest = (addr, port) if port and addr != "0.0.0.0" else None
            c.tos = fields.get("tos", 0)
            local = fields.get("udp_source_port", 0)
            if local != c.local_port:
                self.close(c)
                c.local_port = local
        elif fc == VOPENA:
            mode = fields.get("channel_mode", 0)
            c.mode = mode
            if mode and "payload_type" in fields:
                c.payload = fields["payload_type"]
            if mode:
                c.first = True
        elif fc == VCEOPT:
            c.ptime = fields.get("voice_packetization_interval", 20) or 20
        elif fc == PTMNG:
            pt = fields.get("dtmf", 255)
            c.nte_pt = pt if pt < 128 else 101
        elif fc == TONEGEN:
            c.tone = tone_plan(fields)
        elif fc == TONEOFF:
            c.tone = None
        elif fc == SENDNTE:
            pt = fields.get("payload_type", 0) if fields.get("override_payload_type") else c.nte_pt
            c.nte = {"event": fields.get("nte_payload_event", 0) & 0xFF,
                     "volume": fields.get("nte_payload_volume", 10) & 0x3F,
                     "duration": max(1, fields.get("nte_payload_duration", 100)) * CLOCK // 1000,
                     "pt": pt & 0x7F, "sent": 0, "ends": 0, "ts": None}
        self.sync(c)

    def destroyed(self, ch):
        c = self.channels.pop(ch, None)
        if c:
            self.close(c)
            if c.local_port:
                # kept a while for a look after the call (scripts/call)
                self.ended.append(dict(c.counters(), channel=ch, ended=round(time.time(), 3)))
                del self.ended[:-ENDED_KEPT]

    def sync(self, c):
        """The socket exists while the channel has its header and runs."""
        want = self.address is not None and c.local_port and c.mode != 0
        if want and c.sock is None:
            self.open(c)
        elif not want and c.sock is not None:
            self.close(c)
        if c.sending() and not self.ticking:
            self.ticking = True
            self.after(TICK, self.tick)

    def open(self, c):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            if c.tos:
                s.setsockopt(socket.IPPROTO_IP, socket.IP_TOS, c.tos)
            s.bind((self.address, c.local_port))
            s.setblocking(False)
        except OSError as e:
            s.close()
            c.error = "bind %s:%d: %s" % (self.address, c.local_port, e.strerror)
            return
        c.error = ""
        c.sock = s
        c.next_due = time.monotonic()
        self.sel.register(s, 1, lambda _s, c=c: self.readable(c))

    def close(self, c):
        if c.sock is not None:
            self.sel.unregister(c.sock)
            c.sock.close()
            c.sock = None

    # -- receiving ---------------------------------------------------------

    def readable(self, c):
        for _ in range(READS_PER_WAKEUP):
            if c.sock is None:
                return
            try:
                data = c.sock.recv(MAX_DATAGRAM + 1)
            except OSError:
                return
            self.received(c, data, time.monotonic())

    def received(self, c, data, now):
        if len(data) > MAX_DATAGRAM:
            c.c["oversized"] += 1
            return
        p = parse_rtp(data)
        if p is None:
            c.c["malformed"] += 1
            return
        if c.stalled:
            c.c["dropped"] += 1
            return
        pt, _marker, seq, ts, ssrc, payload = p
        self.count(c, seq, ts, ssrc, len(payload), now)
        if pt == c.nte_pt and len(payload) >= 4:
            self.event_in(c, pt, ts, payload)
            return
        peer = self.peer_of(c.ch)
        if peer is not None:
            out = self.channels.get(peer[0])
            if out is not None and out.sending():
                body = transcode(payload, pt, out.payload)
                if body is None:
                    out.c["dropped"] += 1
                else:
                    self.send(out, out.payload, body, len(body), now)
            return
        if c.tone is None and pt == c.payload and c.sending():
            # the line's far end answers with what it heard
            self.send(c, pt, payload, len(payload), now)

    def count(self, c, seq, ts, ssrc, octets, now):
        c.last_rx = now
        c.c["rx_packets"] += 1
        c.c["rx_octets"] += octets
        if c.base_seq is None or ssrc != c.rx_ssrc:
            c.rx_ssrc = ssrc
            if c.base_seq is None:
                c.base_seq = seq
                c.max_seq = seq
            c.transit = None
        delta = (seq - c.max_seq) & 0xFFFF
        if delta and delta < 0x8000:
            if seq < c.max_seq:
                c.cycles += 0x10000
            c.max_seq = seq
        arrival = int(now * CLOCK)
        transit = (arrival - ts) & 0xFFFFFFFF
        if c.transit is not None:
            d = abs(((transit - c.transit + 0x80000000) & 0xFFFFFFFF) - 0x80000000)
            c.jitter += (d - c.jitter) / 16.0
        c.transit = transit

    def event_in(self, c, pt, ts, payload):
        event, flags, duration = payload[0], payload[1], struct.unpack_from(">H", payload, 2)[0]
        if ts == c.last_event_ts:
            return
        c.last_event_ts = ts
        c.c["events_in"] += 1
        self.indicate(c.ch, NTERECVD, {"nte_payload_event": event, "nte_payload_e_flag": flags >> 7,
                                       "nte_payload_duration": duration, "payload_type": pt})

    def feed(self, ch, count):
        """count voice packets as if they had arrived, in sequence (tests
        without a network)."""
        c = self.get(ch)
        seq = (c.max_seq + 1) & 0xFFFF if c.base_seq is not None else 1
        now = time.monotonic()
        for i in range(count):
            if c.stalled:
                c.c["dropped"] += 1
                continue
            self.count(c, (seq + i) & 0xFFFF, int(now * CLOCK) & 0xFFFFFFFF, c.rx_ssrc or 0x5EED, 160, now)

    # -- sending -----------------------------------------------------------

    def send(self, c, pt, payload, samples, now, marker=False, ts=None):
        start, n = c.window
        if now - start >= 1.0:
            c.window = (now, 0)
            n = 0
        if n >= MAX_SEND_PER_SECOND:
            c.c["dropped"] += 1
            return
        c.window = (c.window[0], n + 1)
        if c.first:
            marker = True
            c.first = False
        header = struct.pack(">BBHII", 0x80, (0x80 if marker else 0) | (pt & 0x7F), c.seq,
                             c.ts if ts is None else ts, c.ssrc)
        try:
            c.sock.sendto(header + payload, c.dest)
        except OSError:
            c.c["dropped"] += 1
            return
        c.seq = (c.seq + 1) & 0xFFFF
        if ts is None:
            c.ts = (c.ts + samples) & 0xFFFFFFFF
        c.c["tx_packets"] += 1
        c.c["tx_octets"] += len(payload)

    def tick(self):
        now = time.monotonic()
        busy = False
        for c in list(self.channels.values()):
            if not c.sending():
                continue
            busy = True
            step = c.ptime / 1000.0
            if now - c.next_due > 5 * step:
                c.next_due = now  # late (a loaded machine): no burst
            while c.next_due <= now:
                c.next_due += step
                self.packet_due(c, now)
                if c.sock is None:
                    break
        if busy:
            self.after(TICK, self.tick)
        else:
            self.ticking = False

    def packet_due(self, c, now):
        n = c.ptime * CLOCK // 1000
        if c.nte is not None:
            self.event_packet(c, n, now)
            return
        if c.payload not in ENCODERS:
            return
        if c.tone is not None:
            body = self.tone_packet(c, n, now)
            if body is not None:
                self.send(c, c.payload, body, n, now)
                return
        if self.peer_of(c.ch) is not None:
            return
        if now - c.last_rx >= RX_QUIET:
            pos = (c.c["tx_packets"] * n)
            self.send(c, c.payload, tone_samples(FAR_END_HZ, 0, c.payload, pos, n), n, now)

    def tone_packet(self, c, n, now):
        t = c.tone
        pos = int((now - t["start"]) * CLOCK)
        seg = tone_at(t, pos)
        if seg is None:
            c.tone = None
            return None
        f1, f2 = seg
        return tone_samples(f1, f2, c.payload, pos, n)

    def event_packet(self, c, n, now):
        e = c.nte
        if e["ts"] is None:
            e["ts"] = c.ts
        e["sent"] = min(e["sent"] + n, e["duration"], 0xFFFF)
        end = e["sent"] >= e["duration"]
        body = struct.pack(">BBH", e["event"], (0x80 if end else 0) | e["volume"], e["sent"])
        self.send(c, e["pt"], body, 0, now, marker=e["sent"] == min(n, e["duration"]), ts=e["ts"])
        if end:
            e["ends"] += 1
            if e["ends"] >= 3:  # the end packet three times (RFC 4733)
                c.c["events_out"] += 1
                c.ts = (c.ts + e["duration"]) & 0xFFFFFFFF
                c.nte = None

    # -- answers -----------------------------------------------------------

    def rtcp_values(self, ch):
        c = self.channels.get(ch) or Channel(ch)
        expected = c.ext_max() - c.base_seq + 1 if c.base_seq is not None else 0
        lost = c.lost()
        fraction = (lost * 256 // expected) if expected else 0
        return {"statistics_version": 1, "timestamp": c.ts, "sender_packet_count": c.c["tx_packets"],
                "sender_byte_count": c.c["tx_octets"], "ssrc_remote": c.rx_ssrc,
                "number_fraction_lost_packets": (min(fraction, 255) << 24) | min(lost, 0xFFFFFF),
                "extended_highest_sequence_number_received": c.ext_max(),
                "inter_arrival_jitter": int(c.jitter), "received_packet_count": c.c["rx_packets"],
                "received_byte_count": c.c["rx_octets"], "ssrc_local": c.ssrc}

    def bert_words(self, ch):
        c = self.channels.get(ch) or Channel(ch)
        return [1, 0, 0, 0, 0, 0, 0, 0, 0, c.c["rx_packets"], c.lost()]

    def control(self, req):
        if "channel" in req:
            ch = int(req["channel"])
            c = self.get(ch)
            if "stalled" in req:
                c.stalled = bool(req["stalled"])
            if "feed" in req:
                self.feed(ch, max(0, min(int(req["feed"]), 100000)))
            return {"ok": True, "channel": ch, "rtp": c.counters()}
        return {"ok": True, "address": self.address,
                "channels": {str(k): v.counters() for k, v in sorted(self.channels.items())},
                "ended": self.ended}


def tone_plan(fields):
    """The cadence of a FC_VOIP_TONEGEN: segments (f1, f2, samples), the
    repeat count (255: endless) and the start."""
    segs = []
    for k in (1, 2, 3):
        f1, f2 = fields.get("primary_frequency_c%d" % k, 0), fields.get("secondary_frequency_c%d" % k, 0)
        on, off = fields.get("on_time_c%d" % k, 0), fields.get("off_time_c%d" % k, 0)
        if k > 1 and not on and not off:
            continue
        if f1 == f2:
            f2 = 0
        segs.append((f1, f2, on * CLOCK // 1000))
        if off:
            segs.append((0, 0, off * CLOCK // 1000))
    if all(s[2] == 0 for s in segs):
        segs = [(segs[0][0], segs[0][1], 0)]  # no times: a steady tone
    return {"segments": segs, "repeat": fields.get("cadence_repeat", 255), "start": time.monotonic()}


def tone_at(t, pos):
    """The frequencies at sample pos of a running tone, None once it ended."""
    segs = t["segments"]
    period = sum(s[2] for s in segs)
    if period == 0:
        return segs[0][0], segs[0][1]
    rnd, pos = divmod(pos, period)
    if t["repeat"] != 255 and rnd > t["repeat"]:
        return None
    for f1, f2, n in segs:
        if pos < n:
            return f1, f2
        pos -= n
    return None
