#!/usr/bin/env python3
"""cassim: plays the T1/E1 line driver's CAS channels and their far ends.

Every channel DEV/CHAN is a pseudo-terminal in raw mode whose slave is linked
at $ROOT/dev/cas<DEV>/<CHAN>. Both directions carry the four ABCD bits as a
line ("0101\n"); lines that arrive together in one read are recorded one by
one with their time stamps. The driver's connection files
$ROOT/sys/class/dvxt1e1/<name>/connected are written for --connected NAME.

Far ends (role= in the channel spec):
  plain     records only.
  t1set     a telephone set on a T1 FXS-KS channel (the gateway rings it):
            counts ring bursts ("0000" after anything else) and with rings=N
            lifts the handset answer_ms (default 300) into the N-th burst
            ("1111"). "hook CH off|on" lifts or replaces the handset.
  exchange  an exchange on a T1 FXO-KS channel (it rings the gateway):
            "ring CH COUNT [ON_MS OFF_MS]" rings COUNT bursts ("0000" ON_MS,
            "0101" OFF_MS; 2000/4000 by default); the gateway's "1111"
            (answer) stops the ringing. "hook CH off" sends "1111" (the
            exchange drops the call), "hook CH on" sends "0101".
  r2        an MFC/R2 exchange on an E1 channel: writes idle "1001" at start;
            when the gateway seizes ("0001") it acknowledges ("1101") after
            ack_ms, answers ("0101") answer_ms later and clears back ("1101")
            clearback_ms after the answer (a negative time: never); the
            gateway's clear-forward "1001" cancels what is pending and is
            answered with idle "1001".

    python3 cassim.py --root DIR --control SOCK --transcript FILE \
        --channel 0/1:role=t1set,rings=2 --channel 1/1:role=r2,clearback_ms=300

Requests beyond those of ../analogsim/linesim.py: ring, hook (above).
Channel names in requests are DEV/CHAN.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "analogsim"))
from linesim import Line, LineSim, SimError, die, parse_spec  # noqa: E402


class Channel(Line):
    settable = ("rings", "answer_ms", "ack_ms", "clearback_ms")

    def __init__(self, sim, name, spec):
        dev, _, chan = name.partition("/")
        if not dev.isdigit() or not chan.isdigit():
            die("channel %s: must be DEV/CHAN" % name)
        self.role = spec.get("role", "plain")
        if self.role not in ("plain", "t1set", "exchange", "r2"):
            die("channel %s: unknown role %s" % (name, self.role))
        self.rings = int(spec.get("rings", "0"))
        self.answer_ms = int(spec.get("answer_ms", "300" if self.role == "t1set" else "200"))
        self.ack_ms = int(spec.get("ack_ms", "50"))
        self.clearback_ms = int(spec.get("clearback_ms", "-1"))
        self.pending = b""
        self.last = None          # the gateway's last pattern
        self.ring_count = 0
        self.offhook = False
        self.timers = []          # pending far-end actions
        self.ring_timer = None
        self.ringing_now = False
        self.in_call = False      # r2: seized by the gateway
        super().__init__(sim, name, os.path.join(sim.root, "dev", "cas%s" % dev, chan))
        if self.role == "r2":
            self.send("1001")

    def send(self, bits):
        self.write(bits + "\n")

    def later(self, ms, fn):
        if ms >= 0:
            self.timers.append(self.sim.after(ms / 1000.0, fn))

    def cancel_all(self):
        for h in self.timers:
            self.sim.cancel(h)
        self.timers = []

    def received(self, data):
        buf = self.pending + data
        *lines, self.pending = buf.split(b"\n")
        for raw in lines:
            line = raw.decode("latin-1").rstrip("\r")
            self.record(line)
            getattr(self, "on_" + self.role)(line)
            self.last = line

    # --- far ends -------------------------------------------------------------
    def on_plain(self, line):
        pass

    def on_t1set(self, line):
        if line == "0000" and self.last != "0000" and not self.offhook:
            self.ring_count += 1
            if self.rings > 0 and self.ring_count == self.rings:
                self.later(self.answer_ms, self.answer)

    def answer(self):
        self.sim.log(self.name, "!", "set answers after %d rings" % self.ring_count)
        self.offhook = True
        self.ring_count = 0
        self.send("1111")

    def on_exchange(self, line):
        if line == "1111" and self.ring_timer is not None:
            self.sim.cancel(self.ring_timer)
            self.ring_timer = None
            self.sim.log(self.name, "!", "answered: ringing stops")
            if self.ringing_now:
                self.ringing_now = False
                self.send("0101")

    def ring(self, count, on_ms, off_ms):
        def burst(left):
            self.ringing_now = True
            self.send("0000")
            self.ring_timer = self.sim.after(on_ms / 1000.0, lambda: pause(left - 1))

        def pause(left):
            self.ringing_now = False
            self.send("0101")
            self.ring_timer = self.sim.after(off_ms / 1000.0, lambda: burst(left)) if left > 0 else None

        if self.ring_timer is not None:
            self.sim.cancel(self.ring_timer)
        if count > 0:
            burst(count)

    def on_r2(self, line):
        if line == "0001" and self.last != "0001":
            self.cancel_all()
            self.in_call = True
            self.sim.log(self.name, "!", "seized")
            self.later(self.ack_ms, lambda: self.r2_step("1101", "acknowledges"))
            if self.answer_ms >= 0:
                self.later(self.ack_ms + self.answer_ms, lambda: self.r2_step("0101", "answers"))
                if self.clearback_ms >= 0:
                    self.later(self.ack_ms + self.answer_ms + self.clearback_ms,
                               lambda: self.r2_step("1101", "clears back"))
        elif line == "1001" and self.in_call:
            self.cancel_all()
            self.in_call = False
            self.sim.log(self.name, "!", "cleared forward")
            self.send("1001")

    def r2_step(self, bits, what):
        self.sim.log(self.name, "!", what)
        self.send(bits)


class CasSim(LineSim):
    def req_ring(self, conn, name, count, on_ms="2000", off_ms="4000"):
        ch = self.line(name)
        if ch.role != "exchange":
            raise SimError("channel %s is no exchange" % name)
        ch.ring(int(count), int(on_ms), int(off_ms))
        return None

    def req_hook(self, conn, name, how):
        ch = self.line(name)
        if ch.role not in ("t1set", "exchange") or how not in ("off", "on"):
            raise SimError("hook needs a t1set or exchange channel and off or on")
        ch.offhook = how == "off"
        ch.send("1111" if ch.offhook else "0101")
        return None


def main():
    ap = argparse.ArgumentParser(description="T1/E1 CAS line driver simulator")
    ap.add_argument("--root", required=True)
    ap.add_argument("--control", required=True)
    ap.add_argument("--transcript")
    ap.add_argument("--channel", action="append", default=[])
    ap.add_argument("--connected", action="append", default=[])
    a = ap.parse_args()
    sim = CasSim(a.root, a.control, a.transcript)
    for name in a.connected:
        d = os.path.join(a.root, "sys", "class", "dvxt1e1", name)
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "connected"), "w") as f:
            f.write("1\n")
    for text in a.channel:
        name, spec = parse_spec(text)
        sim.lines[name] = Channel(sim, name, spec)
    sim.run()


if __name__ == "__main__":
    main()
