#!/usr/bin/env python3
"""mspsim: plays the media processor at the far end of the CSME link.

The daemon's simulator transport (TARN_MSP_SIM) sends every CSM frame as one
datagram to the Unix datagram socket given with --socket: the 20-byte CSME
address as the daemon hands it to the kernel, then the frame. Answers and
indications go back the same way, the address naming the channel they come
from (0xFFFF: the device itself).

mspsim reads every command with its own transcription of the message
layouts (csm_layouts.py, csm_wire.py), answers it as the device does (result
codes, created channel numbers, query answers, the device status heartbeat),
keeps per-channel state, raises indications on request, injects faults and
writes one JSON line per frame in both directions (--record), optionally
also a capture of the frames as CSM_ENCAPS over Ethernet (--pcap).

Control protocol (Unix stream socket --control, one JSON object a line, one
JSON object back a line, always with "ok"):
    {"cmd": "ping"}
    {"cmd": "rule", "rule": RULE}        add a fault rule (below)
    {"cmd": "clear"}                     drop every rule
    {"cmd": "indicate", "fc": FC, "channel": CH, "fields": {...}}
                                         send an indication now
    {"cmd": "send", "channel": CH, "hex": "..."}   send raw bytes as a frame
    {"cmd": "heartbeat", "on": false}    the device status answer reports
                                         stopped processors
    {"cmd": "set", "processor_id": N}    (also "firmware", "version", "mdio_value":
                                         the register value an MDIO read
                                         answers)
    {"cmd": "state"}                     -> channels (timeslot, type, VOPENA
                                         mode and payload, IP-header
                                         destination "a.b.c.d:port", tone
                                         generator on/off, hairpin mode and
                                         redirect, commands per name),
                                         timeslots, counters, the running
                                         trans-connects (channels a and b,
                                         their payload types) and the
                                         hairpin pairings (a channel, its
                                         timeslot, the peer timeslot it
                                         receives from and that channel)
    {"cmd": "leftover", "timeslot": TS, "channel_type": T}
                                         a channel active on TS as an earlier
                                         run of the daemon left it -> "channel"
    {"cmd": "rtp"}                       -> every channel's RTP counters
                                         (rx/tx packets and payload octets,
                                         lost, jitter, malformed, oversized,
                                         dropped, events in/out, ports) and
                                         "ended": those of the last channels
                                         destroyed
    {"cmd": "rtp", "channel": N, "stalled": true, "feed": K}
                                         -> that channel's counters; "stalled":
                                         its far end seems silent (what
                                         arrives is dropped uncounted, false:
                                         counted again); "feed": K voice
                                         packets counted as if they had
                                         arrived (tests without a network)
    {"cmd": "layout", "fc": FC}          -> the layout's header and defaults
    {"cmd": "r2peer", "signals": [C, ...], "channel": CH}
                                         a compelled MFC/R2 register at the far
                                         end of channel CH (without "channel":
                                         the first channel that plays a tone):
                                         each FC_VOIP_TONEGEN on it raises the
                                         next combination C (1-15) as a
                                         FC_VOIP_TONEDET start; the tone ends
                                         (value 255) when the daemon sends
                                         FC_VOIP_TONEOFF, plays its next tone
                                         or its tone's time runs out
    {"cmd": "stop"}                      end the simulator

A RULE (also given with --rule as JSON) is matched against each command:
    "fc": function code (number, "0x..." or name), "type", "class",
    "channel": the address the command went to, "count": how many commands it
    takes (default: all), "skip": matching commands to let pass first.
What it does:
    "answer": "normal" (default), "none" (no answer), "error" (result code
    "result", default 0x0001), "report" (the device's error report with
    "error", default ERR_UNKNOWN_FUNCTION), "late" (answer after "delay_ms"),
    "wrong_fc" (an answer with another function code first, then normal),
    "stop" (the simulator ends without answering: a dead link);
    "before": a list of frames sent ahead of the answer, each
    {"indication": FC, "channel": CH, "fields": {...}}, "garbage" (a frame
    of an unknown type), "short" (three bytes), or "empty" (the address alone).

Record lines: {"n", "t", "dir": "in"|"out", "channel", "addr", "len", "hex",
"index", "type", "class", "fc", "name", "fields", "problems", "note"}.
"""

import argparse
import heapq
import json
import os
import selectors
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import csm_wire as w  # noqa: E402
import rtp_media  # noqa: E402

ERR_UNKNOWN_FUNCTION = 0xFFAD
ERR_TDMDRV_INVTS = 0xFFBD
ERR_RM_NO_ARM_MIPS_AVAILABLE = 0xFFEE
ERR_CHANCTRL_NO_SUCH_CHAN = 0xFFDE
CNF_ERR_TSDRIVE_CHAN_ALREADY_CREATED = 0x004F
CNF_ERROR_DESTROY_INVALID_CHAN = 0x0800


class Device:
    """What the media processor remembers: its identity and its channels."""

    def __init__(self, args):
        self.processor_id = args.processor_id
        self.mdio_value = 0x1D2C
        self.firmware = args.firmware
        self.version = args.version
        self.max_channels = args.channels
        self.timeslots = args.timeslots
        self.heartbeat_period = args.heartbeat_period
        self.heartbeat = True
        # channel -> {"timeslot", "type", "vopena", "payload", "ip_destination",
        #             "tonegen", "commands"}
        self.channels = {}
        self.by_timeslot = {}
        self.counts = {}
        # running trans-connects: [{"a", "b", "payload_a", "payload_b"}] by channel
        self.trans_connects = []
        # the voice (rtp_media.Media), set by the simulator
        self.media = None

    def free_channel(self):
        for ch in range(self.max_channels):
            if ch not in self.channels:
                return ch
        return None

    def joined_to(self, ch):
        """The channel that ch's voice goes to and comes from, through a
        trans-connect or a TDM hairpin, or None."""
        for t in self.trans_connects:
            if t["a"] == ch:
                return t["b"], t["payload_b"]
            if t["b"] == ch:
                return t["a"], t["payload_a"]
        st = self.channels.get(ch)
        if st is None or not st.get("thc"):
            return None
        peer = self.by_timeslot.get(st.get("thc_redirect"))
        if peer is not None and peer != ch:
            return peer, None
        for other, ost in self.channels.items():
            if other != ch and ost.get("thc") and ost.get("thc_redirect") == st["timeslot"]:
                return other, None
        return None

    def thc_pairs(self):
        """Channels in hairpin mode whose receive side is redirected: the
        channel and the channel on the timeslot it names."""
        pairs = []
        for ch, st in sorted(self.channels.items()):
            peer_ts = st.get("thc_redirect")
            if st.get("thc") and peer_ts is not None:
                pairs.append({"channel": ch, "timeslot": st["timeslot"], "peer_timeslot": peer_ts,
                              "peer_channel": self.by_timeslot.get(peer_ts)})
        return pairs

    def state(self):
        return {
            "trans_connects": list(self.trans_connects),
            "thc": self.thc_pairs(),
            "channels": {str(k): v for k, v in sorted(self.channels.items())},
            "timeslots": {str(k): v for k, v in sorted(self.by_timeslot.items())},
            "counts": self.counts,
            "processor_id": self.processor_id,
            "heartbeat": self.heartbeat,
        }

    # -- answers ----------------------------------------------------------

    def answer(self, h, fields, channel):
        """The frames that answer one command, as (channel, frame) pairs."""
        fc, ctype, cls, idx = h["fc"], h["type"], h["class"], h["index"]
        name = w.function_name(fc)
        self.counts[name] = self.counts.get(name, 0) + 1
        if (cls, ctype) in w.STAT_QUERIES:
            return [(channel, self.statistics(h, channel))]
        if ctype == w.TYPE_QUERY:
            return [(channel, self.query_answer(h, fields, channel))]
        if cls == 194:
            return [(channel, self.diag_answer(h))]
        if fc not in w.FUNCTION_NAMES:
            return [(channel, self.error_report(h, channel, ERR_UNKNOWN_FUNCTION))]
        if fc == 0x0010:
            return [(channel, self.create_channel(h, fields))]
        if fc == 0x0011:
            return [(channel, self.destroy_channel(h, fields))]
        if fc == 0x9322:  # FC_TRANS_CONNECT
            return [(channel, self.trans_connect(h, fields))]
        if cls == 5:
            # The Ethernet-header query is answered as a device response.
            return [(channel, response(dict(h, **{"class": w.CLASS_DEVICE}), {}))]
        if cls == w.CLASS_CHANNEL and channel not in self.channels:
            return [(channel, response(h, {"response_code": ERR_CHANCTRL_NO_SUCH_CHAN}))]
        if cls == w.CLASS_CHANNEL:
            st = self.channels[channel]
            st["commands"][name] = st["commands"].get(name, 0) + 1
            note_channel_command(st, fc, fields)
            self.media.command(channel, fc, fields)
        values = {"response_code": 0}
        if fc in (0x9312, 0x9313, 0x9314, 0x9315):
            values.update(participant_id=1, conference_id=fields.get("conference_id", 0))
        if fc == 0x9310:
            values.update(conference_id=1)
        if fc == 0x9331:  # FC_MDIO_BUS_READ: the addressed register's value
            values.update({k: fields.get(k, 0) for k in ("preamble_suppress", "emac_number",
                                                         "target_mmd_device_address", "target_register_address")},
                          register_data_value=self.mdio_value)
        return [(channel, response(h, values))]

    def create_channel(self, h, fields):
        ts = fields.get("timeslot", 0)
        if ts >= self.timeslots:
            return response(h, {"response_code": ERR_TDMDRV_INVTS, "timeslot": ts})
        if ts in self.by_timeslot:
            return response(h, {"response_code": CNF_ERR_TSDRIVE_CHAN_ALREADY_CREATED, "timeslot": ts})
        ch = self.free_channel()
        if ch is None:
            return response(h, {"response_code": ERR_RM_NO_ARM_MIPS_AVAILABLE, "timeslot": ts})
        self.channels[ch] = new_channel(ts, fields.get("channel_type", 2))
        self.by_timeslot[ts] = ch
        return response(h, {"response_code": 0, "channel_number": ch, "timeslot": ts})

    def leftover(self, ts, channel_type):
        """A channel on a timeslot that nobody created in this run."""
        if ts in self.by_timeslot:
            return None
        ch = self.free_channel()
        if ch is not None:
            self.channels[ch] = new_channel(ts, channel_type)
            self.by_timeslot[ts] = ch
        return ch

    def destroy_channel(self, h, fields):
        ch = fields.get("channel_number", 0)
        st = self.channels.pop(ch, None)
        if st is None:
            return response(h, {"response_code": CNF_ERROR_DESTROY_INVALID_CHAN})
        self.by_timeslot.pop(st["timeslot"], None)
        self.media.destroyed(ch)
        # A join ends with either of its channels.
        self.trans_connects = [t for t in self.trans_connects if ch not in (t["a"], t["b"])]
        return response(h, {"response_code": 0})

    def trans_connect(self, h, fields):
        """Joins (or parts) two channels; both must exist."""
        a, b = fields.get("transcoding_channel_id_a", 0), fields.get("transcoding_channel_id_b", 0)
        if a not in self.channels or b not in self.channels:
            return response(h, {"response_code": ERR_CHANCTRL_NO_SUCH_CHAN})
        self.trans_connects = [t for t in self.trans_connects if {t["a"], t["b"]} != {a, b}]
        if fields.get("transcoding_session_enable", 1):
            self.trans_connects.append({"a": a, "b": b,
                                        "payload_a": fields.get("transcoding_channel_payload_type_a", 0),
                                        "payload_b": fields.get("transcoding_channel_payload_type_b", 0)})
        return response(h, {"response_code": 0})

    def query_answer(self, h, fields, channel):
        fc = h["fc"]
        if fc == 0x0031:
            return query_response(h, {"processor_id": self.processor_id})
        if fc == 0x0021:
            text = self.firmware.encode()[:16].ljust(16, b"\0")
            frame = w.build(fc, h["index"], w.TYPE_QUERY_RESPONSE, h["class"], 16)
            frame[8:24] = text
            return frame
        if fc == 0x0025:
            text = self.version.encode()[:119]
            frame = w.build(fc, h["index"], w.TYPE_RESPONSE, h["class"], 8 + 2 * len(text))
            for i, c in enumerate(text):
                frame[16 + 2 * i] = c
            return frame
        if fc == 0x040F:
            up = 1 if self.heartbeat else 0
            values = {"heartbeat_period": self.heartbeat_period if up else 0, "arm1_status": up,
                      "alert_status": 0 if up else 1, "alert_type": 0}
            for k in range(6):
                values["dsp%d_status" % k] = up
            return query_response(h, values)
        if fc == 0x0010:
            ts = fields.get("timeslot", 0)
            ch = self.by_timeslot.get(ts)
            if ch is None:
                return query_response(h, {"channel_id": 0, "channel_type": 0xFFFF, "timeslot": ts})
            return query_response(h, {"channel_id": ch, "channel_type": self.channels[ch]["type"],
                                      "timeslot": ts})
        if fc == 0x800C:
            # What the channel's RTP endpoint counted.
            return query_response(h, self.media.rtcp_values(channel))
        if fc in w.QUERY_RESPONSES:
            return query_response(h, {})
        # A query the device knows no answer form for: a plain response.
        return response(h, {"response_code": 0})

    def statistics(self, h, channel):
        cls, ctype = h["class"], h["type"]
        words = {(5, 0x91): [1, 0, 0, 0, 0, 0, 0, 0, 0, 0], (1, 7): [2, 0, 0, 0, 0],
                 (1, 35): self.media.bert_words(channel)}.get((cls, ctype))
        if words is None:  # SRTP counters: a 16-bit revision and 80 bytes of counters
            frame = w.build(h["fc"], h["index"], ctype, cls, 82)
            frame[8] = 1
            return frame
        frame = w.build(h["fc"], h["index"], ctype, cls, 4 * len(words))
        for i, v in enumerate(words):
            struct.pack_into("<I", frame, 8 + 4 * i, v)
        return frame

    def diag_answer(self, h):
        length = 52 if h["fc"] == 0x0004 else 10
        return w.build(h["fc"], h["index"], w.TYPE_DIAG_RESPONSE, h["class"], length - 8)

    def error_report(self, h, channel, error):
        length, fields = w.ERROR_REPORT_FIELDS
        # The report is a command response of the device (class 2 or 6),
        # also for a rejected statistics query of another class.
        cls = h["class"] if h["class"] in (2, 6) else 6
        return w.build(w.ERROR_REPORT, h["index"], w.TYPE_RESPONSE, cls, length - 8, fields, {
            "error_code": error, "original_channel_id": channel, "original_msg_length": h["length"],
            "original_index": h["index"], "original_cmd_type": h["type"],
            "original_cmd_class": h["class"], "original_function_code": h["fc"]})


def new_channel(ts, channel_type):
    return {"timeslot": ts, "type": channel_type, "vopena": None, "payload": None,
            "ip_destination": None, "tonegen": False, "commands": {}}


def note_channel_command(st, fc, fields):
    """What a channel keeps of the commands that set its media."""
    if fc == w.VOPENA:
        st["vopena"] = fields.get("channel_mode")
        if "payload_type" in fields:
            st["payload"] = fields.get("payload_type")
    elif fc == 0x9000:  # FC_SET_IP_HDR_CHANNEL
        a, b = fields.get("destination_address_word_1", 0), fields.get("destination_address_word_2", 0)
        st["ip_destination"] = "%d.%d.%d.%d:%d" % (a >> 8, a & 0xFF, b >> 8, b & 0xFF,
                                                    fields.get("udp_destination_port", 0))
    elif fc == 0x8009:  # FC_VOIP_TONEGEN
        st["tonegen"] = True
    elif fc == 0x8014:  # FC_VOIP_TONEOFF
        st["tonegen"] = False
    elif fc == 0x9201:  # FC_THC_MODE_ENABLE
        st["thc"] = True
    elif fc == 0x9200:  # FC_THC_REDIRECT_RX
        st["thc_redirect"] = fields.get("peer_timeslot")


def response(h, values):
    length, fields = w.RESPONSES.get(h["fc"], w.GENERIC_RESPONSE)
    return w.build(h["fc"], h["index"], w.TYPE_RESPONSE, h["class"], length - 8, fields, values)


def query_response(h, values):
    length, fields = w.QUERY_RESPONSES[h["fc"]]
    return w.build(h["fc"], h["index"], w.TYPE_QUERY_RESPONSE, h["class"], length - 8, fields, values)


class Rule:
    def __init__(self, spec):
        self.spec = spec
        self.fc = w.code_of(spec["fc"]) if "fc" in spec else None
        self.count = spec.get("count", -1)
        self.skip = spec.get("skip", 0)

    def matches(self, h, channel):
        if self.count == 0:
            return False
        if self.fc is not None and h["fc"] != self.fc:
            return False
        for key, field in (("type", "type"), ("class", "class")):
            if key in self.spec and h[field] != self.spec[key]:
                return False
        if "channel" in self.spec and channel != self.spec["channel"]:
            return False
        if self.skip > 0:
            self.skip -= 1
            return False
        if self.count > 0:
            self.count -= 1
        return True


class Sim:
    def __init__(self, args):
        self.args = args
        self.device = Device(args)
        self.rules = [Rule(json.loads(r)) for r in args.rule]
        self.peer = None          # the daemon's address
        self.peer_addr = None     # the CSME address of its last datagram
        # Addresses repeat (one a channel): each is coded once.
        self.packed = {}
        self.unpacked = {}
        self.n = 0
        self.start = time.monotonic()
        self.timers = []
        self.running = True
        self.record = open(args.record, "a", buffering=1) if args.record else None
        self.pcap = open(args.pcap, "wb", buffering=0) if args.pcap else None
        if self.pcap:
            self.pcap.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        if os.path.exists(args.socket):
            os.unlink(args.socket)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(args.socket)
        self.sel = selectors.DefaultSelector()
        self.sel.register(self.sock, selectors.EVENT_READ, self.on_datagram)
        self.ctl = None
        self.pending = {}
        # compelled MFC/R2 far ends: {"channel", "signals", "on", "gen"}
        self.r2peers = []
        self.media = rtp_media.Media(args.rtp_address, self.sel, self.after, self.rtp_indication,
                                     self.device.joined_to)
        self.device.media = self.media
        if args.control:
            if os.path.exists(args.control):
                os.unlink(args.control)
            self.ctl = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self.ctl.bind(args.control)
            self.ctl.listen(4)
            self.sel.register(self.ctl, selectors.EVENT_READ, self.on_accept)

    # -- record -----------------------------------------------------------

    def log(self, direction, addr, frame, fields=None, problems=None, note=None):
        self.n += 1
        if not self.record and not self.pcap:
            return
        entry = {"n": self.n, "t": round(time.monotonic() - self.start, 6), "dir": direction,
                 "channel": addr["channel"], "addr": addr, "len": len(frame), "hex": frame.hex()}
        h = w.header(frame)
        if h:
            entry.update(index=h["index"], type=h["type"], **{"class": h["class"]},
                         fc="0x%04x" % h["fc"], name=w.function_name(h["fc"]))
            if fields is None and direction == "out":
                _, fields = w.decode_answer(bytes(frame))
        entry["fields"] = fields or {}
        entry["problems"] = problems or []
        if note:
            entry["note"] = note
        if self.record:
            self.record.write(json.dumps(entry, sort_keys=True) + "\n")
        if self.pcap:
            self.write_pcap(direction, addr, frame)

    def write_pcap(self, direction, addr, frame):
        dev = bytes(int(x, 16) for x in addr["devmac"].split(":"))
        host = b"\x02\x00\x00\x00\x00\x01"
        dst, src = (dev, host) if direction == "in" else (host, dev)
        ch = addr["channel"]
        encaps = struct.pack(">HBBH", addr["opcode"], self.n & 0xFF, 0x01, ch)
        packet = dst + src + b"\x88\x9b" + encaps + bytes(frame)
        now = time.time()
        self.pcap.write(struct.pack("<IIII", int(now), int((now % 1) * 1e6), len(packet), len(packet)))
        self.pcap.write(packet)

    # -- link -------------------------------------------------------------

    def send(self, channel, frame, note=None):
        """One frame to the daemon; recorded before it leaves, so the record
        never lags behind what the daemon has seen."""
        if self.peer is None:
            return False
        return self.deliver(channel, bytes(frame), note)

    def send_raw(self, channel, data, note):
        """A datagram whose frame part is not a whole frame."""
        if self.peer is not None:
            self.deliver(channel, data, note)

    def deliver(self, channel, data, note):
        a = self.peer_addr or {"family": 27, "ifindex": 0, "devmac": "00:00:00:00:00:00"}
        key = (a["family"], a["ifindex"], a["devmac"], channel)
        addr = self.packed.get(key)
        if addr is None:
            addr = w.pack_addr(*key)
            if len(self.packed) < 4096:
                self.packed[key] = addr
        if self.record or self.pcap:
            self.log("out", w.unpack_addr(addr), data, note=note)
        else:
            self.n += 1
        try:
            self.sock.sendto(addr + data, self.peer)
        except OSError as e:
            self.log("out", w.unpack_addr(addr), b"", problems=["not delivered: %s" % e])
            return False
        return True

    def on_datagram(self, sock):
        data, peer = sock.recvfrom(65536)
        if peer:
            self.peer = peer
        if len(data) < w.ADDR_SIZE:
            self.log("in", {"family": 0, "ifindex": 0, "devmac": "", "opcode": 0, "channel": -1,
                            "flags": ""}, data, problems=["datagram of %d bytes" % len(data)])
            return
        raw = data[:w.ADDR_SIZE]
        addr = self.unpacked.get(raw)
        if addr is None:
            addr = w.unpack_addr(raw)
            if len(self.unpacked) < 4096:
                self.unpacked[raw] = addr
        self.peer_addr = addr
        frame = data[w.ADDR_SIZE:]
        h, fields, problems = w.decode_command(frame)
        problems += self.address_problems(addr, h)
        rule = None
        if h:
            rule = next((r for r in self.rules if r.matches(h, addr["channel"])), None)
        note = rule.spec.get("answer", "normal") if rule else None
        self.log("in", addr, frame, fields, problems, note)
        if h is None:
            return
        self.respond(h, fields, addr["channel"], rule)
        if h["fc"] in (0x8009, 0x8014) and h["class"] == w.CLASS_CHANNEL:
            self.r2_tone(h["fc"], addr["channel"], fields)

    # -- compelled MFC/R2 far end ------------------------------------------

    R2_ANSWER_DELAY = 0.03  # the far register hears a tone and answers

    def r2_peer(self, channel):
        for p in self.r2peers:
            if p["channel"] == channel:
                return p
        for p in self.r2peers:
            if p["channel"] is None:
                p["channel"] = channel
                return p
        return None

    def r2_end(self, peer):
        if peer["on"]:
            peer["on"] = False
            self.send(peer["channel"], w.indication(0x800D, {"tone_detect_value": 255}), note="r2peer end")

    def r2_tone(self, fc, channel, fields):
        peer = self.r2_peer(channel)
        if peer is None:
            return
        peer["gen"] += 1
        gen = peer["gen"]
        self.r2_end(peer)
        if fc != 0x8009 or not peer["signals"]:
            return
        value = peer["signals"].pop(0)

        def start():
            if peer["gen"] == gen:
                peer["on"] = True
                self.send(channel, w.indication(0x800D, {"tone_detect_value": value}), note="r2peer start")

        def end():
            if peer["gen"] == gen:
                self.r2_end(peer)

        self.after(self.R2_ANSWER_DELAY, start)
        on_ms = fields.get("on_time_c1", 0)
        if on_ms:
            self.after(self.R2_ANSWER_DELAY + on_ms / 1000.0, end)

    def after(self, seconds, fn):
        self.n_timer = getattr(self, "n_timer", 0) + 1
        heapq.heappush(self.timers, (time.monotonic() + seconds, -self.n_timer, None, fn))

    def rtp_indication(self, channel, fc, fields):
        self.send(channel, w.indication(fc, fields), note="rtp")

    def address_problems(self, addr, h):
        problems = []
        if addr["family"] != 27:
            problems.append("address family %d" % addr["family"])
        if addr["opcode"] != 1:
            problems.append("opcode %d" % addr["opcode"])
        if addr["flags"] != "01 00":
            problems.append("flags %s" % addr["flags"])
        if self.args.device_mac and addr["devmac"] != self.args.device_mac.lower():
            problems.append("device mac %s" % addr["devmac"])
        if h and h["class"] == w.CLASS_DEVICE and h["type"] in (0, 1) and addr["channel"] != w.DEVICE_CHANNEL:
            problems.append("device command to channel %d" % addr["channel"])
        if h and h["class"] == w.CLASS_CHANNEL and h["type"] == 0 and addr["channel"] == w.DEVICE_CHANNEL:
            problems.append("channel command to the device")
        return problems

    def respond(self, h, fields, channel, rule):
        spec = rule.spec if rule else {}
        for extra in spec.get("before", []):
            self.send_extra(extra, channel)
        mode = spec.get("answer", "normal")
        if mode == "stop":
            self.running = False
            return
        if mode == "none":
            return
        if mode == "report":
            frame = self.device.error_report(h, channel, spec.get("error", ERR_UNKNOWN_FUNCTION))
            self.send(channel, frame)
            return
        if mode == "error" and h["class"] == 194:
            # A diagnostics command is answered in its own form, the result
            # code in its first word.
            frame = self.device.diag_answer(h)
            struct.pack_into("<H", frame, 8, spec.get("result", 0x0001) & 0xFFFF)
            answer = [(channel, frame)]
        elif mode == "error":
            answer = [(channel, response(h, {"response_code": spec.get("result", 0x0001),
                                             "timeslot": fields.get("timeslot", 0)}))]
        else:
            answer = self.device.answer(h, fields, channel)
        if mode == "wrong_fc":
            other = dict(h, fc=0x0013 if h["fc"] != 0x0013 else 0x0055)
            self.send(channel, response(other, {"response_code": 0}), note="wrong_fc")
        if mode == "late":
            due = time.monotonic() + spec.get("delay_ms", 200) / 1000.0
            for ch, frame in answer:
                heapq.heappush(self.timers, (due, self.n, ch, frame))
            return
        for ch, frame in answer:
            self.send(ch, frame)

    def send_extra(self, extra, channel):
        if extra == "garbage":
            frame = bytearray(b"\x0c\x00\x55\x09\x34\x12\x00\x00\xde\xad\xbe\xef")
            self.send(channel, frame, note="garbage")
        elif extra == "short":
            self.send_raw(channel, b"\x0a\x00\x02", "short")
        elif extra == "empty":
            self.send_raw(channel, b"", "empty")
        elif isinstance(extra, dict) and "indication" in extra:
            fc = w.code_of(extra["indication"])
            ch = extra.get("channel", channel)
            self.send(ch, w.indication(fc, extra.get("fields")), note="indication")

    # -- control ----------------------------------------------------------

    def on_accept(self, ctl):
        conn, _ = ctl.accept()
        conn.setblocking(False)
        self.sel.register(conn, selectors.EVENT_READ, self.on_control)
        self.pending[conn] = b""

    def on_control(self, conn):
        try:
            data = conn.recv(65536)
        except OSError:
            data = b""
        if not data:
            self.sel.unregister(conn)
            self.pending.pop(conn, None)
            conn.close()
            return
        buf = self.pending.get(conn, b"") + data
        while b"\n" in buf:
            line, buf = buf.split(b"\n", 1)
            try:
                reply = self.control(json.loads(line))
            except Exception as e:  # a bad request gets an answer, never ends the sim
                reply = {"ok": False, "error": str(e)}
            conn.setblocking(True)
            conn.sendall((json.dumps(reply) + "\n").encode())
            conn.setblocking(False)
        self.pending[conn] = buf

    def control(self, req):
        cmd = req.get("cmd")
        if cmd == "ping":
            return {"ok": True, "peer": self.peer is not None}
        if cmd == "rule":
            self.rules.append(Rule(req["rule"]))
            return {"ok": True}
        if cmd == "clear":
            self.rules = []
            return {"ok": True}
        if cmd == "indicate":
            fc = w.code_of(req["fc"])
            ok = self.send(req.get("channel", w.DEVICE_CHANNEL), w.indication(fc, req.get("fields")),
                           note="indication")
            return {"ok": ok}
        if cmd == "send":
            frame = bytes.fromhex(req["hex"])
            if len(frame) >= 8:
                return {"ok": self.send(req.get("channel", w.DEVICE_CHANNEL), bytearray(frame), note="raw")}
            self.send_raw(req.get("channel", w.DEVICE_CHANNEL), frame, "raw")
            return {"ok": True}
        if cmd == "rtp":
            return self.media.control(req)
        if cmd == "heartbeat":
            self.device.heartbeat = bool(req.get("on", True))
            return {"ok": True}
        if cmd == "set":
            for key in ("processor_id", "firmware", "version", "mdio_value"):
                if key in req:
                    setattr(self.device, key, req[key])
            return {"ok": True}
        if cmd == "layout":
            fc = w.code_of(req["fc"])
            if fc not in w.COMMANDS:
                return {"ok": False, "error": "no layout"}
            name, record, cls, ctype, length, _ = w.COMMANDS[fc]
            return {"ok": True, "name": name, "record": record, "class": cls, "type": ctype,
                    "length": length, "defaults": w.layout_defaults(fc)}
        if cmd == "state":
            return dict(self.device.state(), ok=True)
        if cmd == "leftover":
            ch = self.device.leftover(int(req["timeslot"]), int(req.get("channel_type", 2)))
            return {"ok": ch is not None, "channel": ch}
        if cmd == "r2peer":
            ch = req.get("channel")
            self.r2peers.append({"channel": None if ch is None else int(ch),
                                 "signals": [int(v) for v in req.get("signals", [])], "on": False, "gen": 0})
            return {"ok": True}
        if cmd == "stop":
            self.running = False
            return {"ok": True}
        return {"ok": False, "error": "unknown command %r" % cmd}

    # -- loop -------------------------------------------------------------

    def run(self):
        if self.args.ready_file:
            with open(self.args.ready_file, "w") as f:
                f.write("%d\n" % os.getpid())
        while self.running:
            timeout = None
            if self.timers:
                timeout = max(0.0, self.timers[0][0] - time.monotonic())
            for key, _ in self.sel.select(timeout):
                key.data(key.fileobj)
                if not self.running:
                    break
            now = time.monotonic()
            while self.timers and self.timers[0][0] <= now:
                _, _, ch, frame = heapq.heappop(self.timers)
                if callable(frame):
                    frame()
                else:
                    self.send(ch, frame, note="late")
        self.sock.close()
        for path in (self.args.socket, self.args.control):
            if path and os.path.exists(path):
                os.unlink(path)


def main(argv):
    p = argparse.ArgumentParser(description="media processor simulator")
    p.add_argument("--socket", required=True, help="Unix datagram socket the daemon sends to")
    p.add_argument("--control", help="Unix stream socket for control requests")
    p.add_argument("--record", help="JSON-lines record of every frame")
    p.add_argument("--pcap", help="capture of every frame as CSM_ENCAPS over Ethernet")
    p.add_argument("--ready-file", help="written with the pid once the sockets exist")
    p.add_argument("--processor-id", type=int, default=13, help="answer of the device-type query")
    p.add_argument("--firmware", default="mspsim-1.0", help="answer of the ARM code version query")
    p.add_argument("--version", default="mspsim 1.0", help="answer of the version query")
    p.add_argument("--channels", type=int, default=128, help="DSP channels the device has")
    p.add_argument("--timeslots", type=int, default=512, help="TDM timeslots the device takes")
    p.add_argument("--heartbeat-period", type=int, default=10)
    p.add_argument("--device-mac", help="the MAC every datagram must be addressed to")
    p.add_argument("--rule", action="append", default=[], help="a fault rule as JSON")
    p.add_argument("--rtp-address", help="the processor's own address: RTP endpoints are opened on it "
                   "(without it no voice is carried)")
    args = p.parse_args(argv)
    Sim(args).run()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
