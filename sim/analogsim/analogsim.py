#!/usr/bin/env python3
"""analogsim: plays the analog line driver and what hangs on its ports.

For every port it opens a pseudo-terminal in raw mode and links its slave at
$ROOT/dev/analog<port-1>, and writes the driver's sysfs files under
$ROOT/sys/class/kvxanalog/<port-1>/ (type, state, linevoltage, polarity,
vbat, rtlc). The gateway writes bare command words with no line end
(offhook, onhook, ringing, ringoff, flashhook, taxpulse12:800,
taxpulse16:800, wink<ms>); words that arrive together in one read are told
apart and recorded one by one. Events go to the gateway as lines ended by
"\r\n" (FXS_OFFHOOK, FXO_RINGING, ...).

Far ends:
  FXS port: a telephone set. With answer_after=MS it lifts the handset MS
  after a "ringing" word (FXS_OFFHOOK); "ringoff" stops the ringing.
  FXO port: an exchange line. The request "ring PORT COUNT [ON_MS OFF_MS]"
  rings COUNT times (FXO_RINGING at each burst, FXO_RINGOFF after it,
  FXO_IDLE after the last); an "offhook" word from the gateway answers
  (FXO_OFFHOOK, ringing stops), "onhook" hangs up (FXO_ONHOOK).

    python3 analogsim.py --root DIR --control SOCK --transcript FILE \
        --port 1:type=FXS,answer_after=300 --port 2:type=FXO

Requests beyond those of linesim.py:
    ring PORT COUNT [ON_MS OFF_MS]   the exchange rings an FXO port
    hook PORT off|on|flash           the set on an FXS port changes its hook (on:
                                     FXS_ONHOOK, then FXS_IDLE)
    state PORT TEXT                  the sysfs state text
Settable keys: answer_after, linevoltage, polarity, vbat, rtlc.
"""

import argparse
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from linesim import Line, LineSim, SimError, die, parse_spec  # noqa: E402

WORDS = ("offhook", "onhook", "ringing", "ringoff", "flashhook", "taxpulse12:", "taxpulse16:",
         "wink")
WORD = re.compile(rb"offhook|onhook|ringing|ringoff|flashhook|taxpulse1[26]:\d+|wink\d+")


class Port(Line):
    settable = ("answer_after", "linevoltage", "polarity", "vbat", "rtlc")

    def __init__(self, sim, port, spec):
        self.port = port
        self.type = spec.get("type", "FXS").upper()
        self.answer_after = int(spec.get("answer_after", "-1"))
        self.linevoltage = int(spec.get("linevoltage", "48" if self.type == "FXS" else "50"))
        self.polarity = int(spec.get("polarity", "1"))
        self.vbat = int(spec.get("vbat", "-52"))
        self.rtlc = int(spec.get("rtlc", "0"))
        self.state = spec.get("state", "%s_IDLE" % self.type)
        self.pending = b""
        self.answer_timer = None
        self.ring_timer = None
        self.sysdir = os.path.join(sim.root, "sys", "class", "kvxanalog", str(port - 1))
        super().__init__(sim, str(port), os.path.join(sim.root, "dev", "analog%d" % (port - 1)))
        self.write_sysfs()

    # --- sysfs ---------------------------------------------------------------
    def write_sysfs(self):
        os.makedirs(self.sysdir, exist_ok=True)
        files = {"type": self.type, "state": self.state, "linevoltage": self.linevoltage,
                 "polarity": self.polarity, "vbat": self.vbat, "rtlc": self.rtlc}
        for name, value in files.items():
            with open(os.path.join(self.sysdir, name), "w") as f:
                f.write("%s\n" % value)

    def set(self, key, value):
        super().set(key, value)
        self.write_sysfs()

    def set_state(self, state):
        self.state = state
        self.write_sysfs()

    # The sysfs state after an event word (the word itself when it names one).
    AFTER = {"FXO_ONHOOK": "FXO_IDLE", "FXS_ONHOOK": "FXS_IDLE", "FXO_RINGOFF": "FXO_IDLE_PENDING",
             "FXS_FLASHHOOK": "FXS_OFFHOOK"}

    def event(self, word):
        self.set_state(self.AFTER.get(word, word))
        self.write(word + "\r\n")

    # --- command words --------------------------------------------------------
    def received(self, data):
        buf = self.pending + data
        self.pending = b""
        pos = 0
        garbage = b""
        while pos < len(buf):
            m = WORD.match(buf, pos)
            if m:
                if garbage:
                    self.record("?" + garbage.decode("latin-1"))
                    garbage = b""
                self.command(m.group(0).decode("latin-1"))
                pos = m.end()
                continue
            rest = buf[pos:]
            if any(w.encode().startswith(rest) for w in WORDS) and len(rest) < 12:
                self.pending = rest   # the word goes on in the next read
                break
            garbage += buf[pos:pos + 1]
            pos += 1
        if garbage:
            self.record("?" + garbage.decode("latin-1"))

    def command(self, word):
        self.record(word)
        if self.type == "FXS":
            if word == "ringing":
                self.set_state("FXS_RINGING")
                if self.answer_after >= 0:
                    self.sim.cancel(self.answer_timer)
                    self.answer_timer = self.sim.after(self.answer_after / 1000.0, self.answer)
            elif word == "ringoff":
                self.sim.cancel(self.answer_timer)
                self.answer_timer = None
                if self.state == "FXS_RINGING":
                    self.set_state("FXS_IDLE")
        else:
            if word == "offhook":
                self.stop_ringing()
                self.event("FXO_OFFHOOK")
            elif word == "onhook":
                self.stop_ringing()
                self.event("FXO_ONHOOK")

    # --- far ends -------------------------------------------------------------
    def answer(self):
        self.answer_timer = None
        self.sim.log(self.name, "!", "set answers")
        self.event("FXS_OFFHOOK")

    def ring(self, count, on_ms, off_ms):
        self.stop_ringing()

        def burst(left):
            self.event("FXO_RINGING")
            self.ring_timer = self.sim.after(on_ms / 1000.0, lambda: pause(left - 1))

        def pause(left):
            self.event("FXO_RINGOFF")
            if left > 0:
                self.ring_timer = self.sim.after(off_ms / 1000.0, lambda: burst(left))
            else:
                self.ring_timer = self.sim.after(off_ms / 1000.0, idle)

        def idle():
            self.ring_timer = None
            self.event("FXO_IDLE")

        if count > 0:
            burst(count)

    def stop_ringing(self):
        if self.ring_timer is not None:
            self.sim.cancel(self.ring_timer)
            self.ring_timer = None
            self.sim.log(self.name, "!", "ringing stops")


class AnalogSim(LineSim):
    def req_ring(self, conn, name, count, on_ms="1000", off_ms="4000"):
        port = self.line(name)
        if port.type != "FXO":
            raise SimError("port %s is no FXO port" % name)
        port.ring(int(count), int(on_ms), int(off_ms))
        return None

    def req_hook(self, conn, name, how):
        port = self.line(name)
        words = {"off": "FXS_OFFHOOK", "on": "FXS_ONHOOK", "flash": "FXS_FLASHHOOK"}
        if port.type != "FXS" or how not in words:
            raise SimError("hook needs an FXS port and off, on or flash")
        port.event(words[how])
        if how == "on":
            port.event("FXS_IDLE")  # the line settles: the port is idle again
        return None

    def req_state(self, conn, name, text):
        self.line(name).set_state(text)
        return None


def main():
    ap = argparse.ArgumentParser(description="analog line driver simulator")
    ap.add_argument("--root", required=True)
    ap.add_argument("--control", required=True)
    ap.add_argument("--transcript")
    ap.add_argument("--port", action="append", default=[])
    a = ap.parse_args()
    sim = AnalogSim(a.root, a.control, a.transcript)
    for text in a.port:
        name, spec = parse_spec(text)
        if not name.isdigit() or not 1 <= int(name) <= 31:
            die("port %s: must be 1..31" % name)
        sim.lines[name] = Port(sim, int(name), spec)
    sim.run()


if __name__ == "__main__":
    main()
