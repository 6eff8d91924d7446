#!/usr/bin/python3
"""The voice side of the simulated media processor (sim/mspsim/rtp_media.py)
on its own: channels are commanded as the daemon's CSM commands would set
them, RTP goes through real sockets on 127.0.0.1 and the simulator's loop
(selector and timers) runs in the test, on a clock of the test's own: a
loaded machine that holds the process back changes nothing of what the
simulator sends (datagrams on the loopback arrive as they are sent)."""
import heapq
import math
import os
import selectors
import socket
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "mspsim"))
import rtp_media as r  # noqa: E402


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def rtp(pt, seq, ts, payload, ssrc=0x1234, marker=0):
    return struct.pack(">BBHII", 0x80, pt | (marker << 7), seq & 0xFFFF, ts & 0xFFFFFFFF, ssrc) + payload


def alaw_linear(b):
    return r._alaw_decode(b)


class Clock:
    """The simulator's time module: monotonic time moves only when World.run
    moves it."""

    def __init__(self):
        self.t = 1000.0

    def monotonic(self):
        return self.t

    @staticmethod
    def time():
        return time.time()


class World:
    """The simulator's loop around one Media, and far ends with sockets."""

    STEP = 0.001

    def __init__(self):
        self.clock = Clock()
        r.time = self.clock
        self.sel = selectors.DefaultSelector()
        self.timers = []
        self.n = 0
        self.indications = []
        self.joins = {}
        self.media = r.Media("127.0.0.1", self.sel, self.after,
                             lambda ch, fc, f: self.indications.append((ch, fc, f)), self.joins.get)
        self.peers = []

    def after(self, seconds, fn):
        self.n += 1
        heapq.heappush(self.timers, (self.clock.t + seconds, self.n, fn))

    def run(self, seconds):
        """The loop for seconds of the clock, a millisecond at a step: what
        has arrived, then the timers due."""
        end = self.clock.t + seconds
        while True:
            for key, _ in self.sel.select(0):
                key.data(key.fileobj)
            while self.timers and self.timers[0][0] <= self.clock.t:
                heapq.heappop(self.timers)[2]()
            if self.clock.t >= end:
                return
            self.clock.t = min(end, self.clock.t + self.STEP)

    def peer(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        s.setblocking(False)
        self.peers.append(s)
        return s

    def channel(self, ch, peer, pt, local=None, ptime=20):
        """IP header towards peer, packet time, voice on with payload pt."""
        local = local or free_port()
        port = peer.getsockname()[1] if peer else 0
        self.media.command(ch, r.SET_IP_HDR, {"destination_address_word_1": 0x7F00,
                                              "destination_address_word_2": 1 if peer else 0,
                                              "udp_destination_port": port, "udp_source_port": local})
        self.media.command(ch, r.VCEOPT, {"voice_packetization_interval": ptime})
        self.media.command(ch, r.VOPENA, {"channel_mode": 1, "payload_type": pt})
        return local

    @staticmethod
    def drain(sock):
        out = []
        while True:
            try:
                out.append(sock.recvfrom(4096))
            except BlockingIOError:
                return out

    def close(self):
        for ch in list(self.media.channels):
            self.media.destroyed(ch)
        for s in self.peers:
            s.close()
        r.time = time


def frequency(alaw_payload):
    """The frequency of a tone, from the zero crossings of its samples."""
    x = [alaw_linear(b) for b in alaw_payload]
    crossings = sum(1 for a, b in zip(x, x[1:]) if (a < 0) != (b < 0))
    return crossings * r.CLOCK / 2.0 / len(x)


class MspsimRtp(unittest.TestCase):
    def setUp(self):
        self.w = World()

    def tearDown(self):
        self.w.close()

    def test_line_channel_plays_its_tone_then_echoes_to_the_set_address_only(self):
        far = self.w.peer()
        stranger = self.w.peer()
        local = self.w.channel(3, far, 8)
        self.w.run(0.15)
        tone = [d for d, _ in self.w.drain(far)]
        self.assertGreaterEqual(len(tone), 4)
        self.assertEqual(tone[0][1], 0x80 | 8, "marker on the first packet")
        self.assertEqual(tone[1][1], 8)
        self.assertEqual(len(tone[0]), 12 + 160)
        self.assertAlmostEqual(frequency(tone[1][12:]), r.FAR_END_HZ, delta=30)
        seqs = [struct.unpack(">H", d[2:4])[0] for d in tone]
        self.assertEqual(seqs, [(seqs[0] + i) & 0xFFFF for i in range(len(seqs))])
        # voice from anywhere is echoed, always to the address the daemon set
        for i in range(5):
            stranger.sendto(rtp(8, 100 + i, 160 * i, bytes([i + 1]) * 160), ("127.0.0.1", local))
        self.w.run(0.05)
        echoed = [d for d, _ in self.w.drain(far)]
        self.assertEqual(self.w.drain(stranger), [])
        self.assertEqual([d[12:] for d in echoed][-5:], [bytes([i + 1]) * 160 for i in range(5)])
        c = self.w.media.control({"channel": 3})["rtp"]
        self.assertEqual(c["rx_packets"], 5)
        self.assertEqual(c["rx_octets"], 800)
        self.assertEqual(c["tx_packets"], len(tone) + len(echoed))

    def test_counts_losses_jitter_and_drops_what_is_not_rtp(self):
        far = self.w.peer()
        local = self.w.channel(1, far, 8)
        dst = ("127.0.0.1", local)
        cases = [
            (b"\x80\x08\x00", "malformed"),                      # shorter than a header
            (b"\x40" + bytes(171), "malformed"),                 # version 1
            (b"\x90\x08" + bytes(10), "malformed"),                 # extension past the end
            (b"\xa0\x08" + bytes(10) + b"\x00" * 3 + b"\xff", "malformed"),   # padding past the payload
            (rtp(8, 1, 0, bytes(1600)), "oversized"),
        ]
        for data, _ in cases:
            far.sendto(data, dst)
        # sequence 10..19 without 13 and 17, then a wrap: 65534, 65535, 0, 1
        for seq in [10, 11, 12, 14, 15, 16, 18, 19]:
            far.sendto(rtp(8, seq, seq * 160, bytes(160)), dst)
        self.w.run(0.05)
        c = self.w.media.control({"channel": 1})["rtp"]
        self.assertEqual(c["malformed"], 4)
        self.assertEqual(c["oversized"], 1)
        self.assertEqual(c["rx_packets"], 8)
        self.assertEqual(c["lost"], 2)
        self.assertEqual(c["highest_seq"], 19)
        self.assertGreater(c["jitter"], 0, "all sent at once: the timestamps say 20 ms apart")
        stats = self.w.media.rtcp_values(1)
        self.assertEqual(stats["received_packet_count"], 8)
        self.assertEqual(stats["extended_highest_sequence_number_received"], 19)
        self.assertEqual(stats["number_fraction_lost_packets"] & 0xFFFFFF, 2)
        self.assertEqual(stats["number_fraction_lost_packets"] >> 24, 2 * 256 // 10)

    def test_sequence_wrap_extends_the_highest_number(self):
        far = self.w.peer()
        local = self.w.channel(1, far, 8)
        for seq in [65534, 65535, 0, 1]:
            far.sendto(rtp(8, seq, 0, bytes(160)), ("127.0.0.1", local))
        self.w.run(0.05)
        c = self.w.media.control({"channel": 1})["rtp"]
        self.assertEqual(c["highest_seq"], 65536 + 1)
        self.assertEqual(c["lost"], 0)

    def test_trans_connect_transcodes_between_the_laws_both_ways(self):
        a_far, b_far = self.w.peer(), self.w.peer()
        a = self.w.channel(4, a_far, 8)
        b = self.w.channel(5, b_far, 0)
        self.w.joins.update({4: (5, 0), 5: (4, 8)})
        self.w.run(0.1)
        self.assertEqual(self.w.drain(a_far) + self.w.drain(b_far), [], "a joined channel plays no tone")
        alaw = bytes(range(0, 256, 2)) + bytes(32)
        a_far.sendto(rtp(8, 1, 0, alaw), ("127.0.0.1", a))
        ulaw = bytes([0x9A]) * 160
        b_far.sendto(rtp(0, 1, 0, ulaw), ("127.0.0.1", b))
        self.w.run(0.05)
        at_b = [d for d, _ in self.w.drain(b_far)]
        at_a = [d for d, _ in self.w.drain(a_far)]
        self.assertEqual(len(at_b), 1)
        self.assertEqual(at_b[0][1] & 0x7F, 0)
        for x, y in zip(alaw, at_b[0][12:]):
            lin, back = r._alaw_decode(x), r._ulaw_decode(y)
            self.assertLessEqual(abs(lin - back), abs(lin) // 8 + 16)
        self.assertEqual(len(at_a), 1)
        self.assertEqual(at_a[0][1] & 0x7F, 8)
        want = r._ulaw_decode(0x9A)
        self.assertTrue(all(abs(r._alaw_decode(y) - want) <= abs(want) // 8 + 16 for y in at_a[0][12:]))

    def test_tonegen_plays_its_cadence_in_the_codec_then_ends(self):
        far = self.w.peer()
        self.w.channel(2, far, 8)
        self.w.media.command(2, r.TONEGEN, {"primary_frequency_c1": 425, "secondary_frequency_c1": 0,
                                            "on_time_c1": 100, "off_time_c1": 100, "cadence_repeat": 0,
                                            "on_time_c2": 0, "off_time_c2": 0, "on_time_c3": 0,
                                            "off_time_c3": 0})
        self.w.drain(far)
        self.w.run(0.3)
        packets = [d[12:] for d, _ in self.w.drain(far)]
        levels = [max(abs(alaw_linear(b)) for b in p) for p in packets]
        on = [p for p, lv in zip(packets, levels) if lv > 1000]
        self.assertGreaterEqual(len(on), 3)
        self.assertAlmostEqual(frequency(on[1]), 425, delta=30)
        self.assertIn(True, [lv < 100 for lv in levels], "the 100 ms pause is silent")
        self.assertIsNone(self.w.media.channels[2].tone, "played once, then over")

    def test_rfc2833_out_and_in(self):
        far = self.w.peer()
        local = self.w.channel(6, far, 8)
        self.w.media.command(6, r.SENDNTE, {"nte_payload_event": 5, "nte_payload_volume": 10,
                                            "nte_payload_duration": 100, "override_payload_type": 1,
                                            "payload_type": 101})
        self.w.drain(far)
        self.w.run(0.25)
        events = [d for d, _ in self.w.drain(far) if d[1] & 0x7F == 101]
        self.assertGreaterEqual(len(events), 7)
        self.assertTrue(events[0][1] & 0x80, "marker on the event's first packet")
        self.assertEqual({d[4:8] for d in events}, {events[0][4:8]}, "one timestamp for the event")
        self.assertEqual([d[12] for d in events], [5] * len(events))
        ends = [d for d in events if d[13] & 0x80]
        self.assertEqual(len(ends), 3)
        self.assertEqual(struct.unpack(">H", ends[-1][14:16])[0], 800)
        # an event from the far end (repeated as RFC 4733 does) is indicated once
        for i in range(3):
            far.sendto(rtp(101, 50 + i, 4000, struct.pack(">BBH", 7, 0x0A, 160 * (i + 1))), ("127.0.0.1", local))
        self.w.run(0.05)
        self.assertEqual(len(self.w.indications), 1)
        ch, fc, fields = self.w.indications[0]
        self.assertEqual((ch, fc, fields["nte_payload_event"], fields["payload_type"]), (6, r.NTERECVD, 7, 101))

    def test_socket_follows_the_channel(self):
        far = self.w.peer()
        local = self.w.channel(7, far, 8)
        self.assertIsNotNone(self.w.media.channels[7].sock)
        # stop: closed, and nothing is sent any more
        self.w.media.command(7, r.VOPENA, {"channel_mode": 0})
        self.assertIsNone(self.w.media.channels[7].sock)
        self.w.drain(far)
        self.w.run(0.1)
        self.assertEqual(self.w.drain(far), [])
        # a new header re-points it, a new local port rebinds it
        other = free_port()
        self.w.media.command(7, r.SET_IP_HDR, {"destination_address_word_1": 0x7F00,
                                               "destination_address_word_2": 1,
                                               "udp_destination_port": far.getsockname()[1],
                                               "udp_source_port": other})
        self.w.media.command(7, r.VOPENA, {"channel_mode": 1, "payload_type": 8})
        self.assertEqual(self.w.media.channels[7].sock.getsockname(), ("127.0.0.1", other))
        self.assertNotEqual(other, local)
        # no destination: the channel listens, never sends
        self.w.channel(8, None, 8)
        self.w.run(0.05)
        self.assertEqual(self.w.media.channels[8].c["tx_packets"], 0)
        # destroyed: gone, its counts kept a while
        self.w.media.destroyed(7)
        self.assertNotIn(7, self.w.media.channels)
        self.assertEqual(self.w.media.control({})["ended"][-1]["channel"], 7)

    def test_a_flood_is_not_echoed_beyond_the_cap(self):
        far = self.w.peer()
        local = self.w.channel(9, far, 8)
        for i in range(400):
            far.sendto(rtp(8, i, i * 160, bytes(160)), ("127.0.0.1", local))
            if i % 50 == 49:
                self.w.run(0.002)
        self.w.run(0.05)
        c = self.w.media.control({"channel": 9})["rtp"]
        self.assertLessEqual(c["tx_packets"], r.MAX_SEND_PER_SECOND)
        self.assertGreater(c["rx_packets"], r.MAX_SEND_PER_SECOND, "everything that arrived is counted")
        self.assertGreaterEqual(c["dropped"], c["rx_packets"] - r.MAX_SEND_PER_SECOND, "the echoes beyond the cap")


if __name__ == "__main__":
    unittest.main()
