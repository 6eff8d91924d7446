"""linesim: the plumbing that analogsim and cassim share.

Each simulated line (an analog port, a CAS channel) is a pseudo-terminal in
raw mode whose slave is linked where the gateway opens its device. The
simulator reads what the gateway writes, records it with a time stamp, plays
a scripted far end, and answers a control socket.

Control protocol (Unix stream socket, one request per line, words separated
by single spaces, every word percent-encoded):
    ping                      -> ok
    epoch                     -> ok SECONDS: the start, on the monotonic clock
    inject CH TEXT            write TEXT to the gateway as the far end, in one write
    records CH                -> ok LINES: "SECONDS TEXT" of every unit received
    forget CH                 forget the received units
    expect CH REGEX MS        wait up to MS for a received unit matching REGEX
                              after the last match -> ok "SECONDS TEXT"
    set CH KEY VALUE          change a far-end setting
    close CH                  close the pseudo-terminal (the device vanishes)
    transcript                -> ok TEXT
    quit
plus the requests of each simulator. Replies: "ok", "ok PAYLOAD" or
"err REASON", the payload percent-encoded. SECONDS count from the start of
the simulator (monotonic clock, microseconds).

Transcript lines: SECONDS, the channel, a direction ("<" from the gateway,
">" to the gateway, "!" a far-end event) and the text with Python escapes.
"""

import heapq
import itertools
import os
import pty
import re
import selectors
import socket
import sys
import time
import tty
import urllib.parse


def pct(s):
    if isinstance(s, bytes):
        s = s.decode("latin-1")
    return urllib.parse.quote(s, safe="!\"#$&'()*+,-./:;<=>?@[]^_`{|}~")


def unpct(s):
    return urllib.parse.unquote(s, encoding="latin-1")


class SimError(Exception):
    pass


class Line:
    """One pseudo-terminal; subclasses play the far end in received()."""

    settable = ()

    def __init__(self, sim, name, link):
        self.sim = sim
        self.name = name
        self.link = link
        self.records = []   # (seconds, text) received from the gateway
        self.cursor = 0     # expect searches from here
        self.master = self.slave = None
        self.open_pty()

    def open_pty(self):
        m, s = pty.openpty()
        tty.setraw(s)
        os.set_blocking(m, False)
        self.master, self.slave = m, s
        os.makedirs(os.path.dirname(self.link), exist_ok=True)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(os.ttyname(s), self.link)
        self.sim.sel.register(m, selectors.EVENT_READ, self)

    def close_pty(self):
        if self.master is None:
            return
        self.sim.sel.unregister(self.master)
        os.close(self.master)
        os.close(self.slave)
        self.master = self.slave = None
        self.sim.log(self.name, "!", "closed")

    def write(self, text):
        """Writes text to the gateway in one write."""
        if self.master is None:
            return
        data = text.encode("latin-1") if isinstance(text, str) else text
        self.sim.log(self.name, ">", data)
        try:
            os.write(self.master, data)
        except OSError as e:
            self.sim.log(self.name, "!", "write failed: %s" % e)

    def record(self, text):
        self.records.append((self.sim.now(), text))
        self.sim.log(self.name, "<", text)
        self.sim.check_waiters()

    def readable(self):
        try:
            data = os.read(self.master, 4096)
        except OSError:
            data = b""
        if data:
            self.received(data)

    def received(self, data):
        raise NotImplementedError

    def set(self, key, value):
        if key not in self.settable:
            raise SimError("unknown key %s" % key)
        old = getattr(self, key)
        setattr(self, key, type(old)(value) if old is not None else value)


class LineSim:
    def __init__(self, root, control, transcript):
        self.root = root
        self.sel = selectors.DefaultSelector()
        self.t0 = time.monotonic()
        self.lines = {}
        self.timers = []          # heap of (when, seq, fn)
        self.cancelled = set()
        self.seq = itertools.count()
        self.waiters = []         # [conn, line, regex, deadline]
        self.transcript = open(transcript, "w", buffering=1) if transcript else None
        self.transcript_text = []
        if os.path.exists(control):
            os.unlink(control)
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(control)
        self.server.listen(8)
        self.server.setblocking(False)
        self.sel.register(self.server, selectors.EVENT_READ, "server")
        self.running = True

    # --- time ---------------------------------------------------------------
    def now(self):
        return time.monotonic() - self.t0

    def after(self, seconds, fn):
        """Runs fn after seconds; returns a handle for cancel()."""
        handle = next(self.seq)
        heapq.heappush(self.timers, (time.monotonic() + seconds, handle, fn))
        return handle

    def cancel(self, handle):
        if handle is not None:
            self.cancelled.add(handle)

    def log(self, name, direction, data):
        if isinstance(data, bytes):
            data = data.decode("latin-1")
        line = "%.6f %s %s %s" % (self.now(), name, direction, ascii(data)[1:-1])
        self.transcript_text.append(line)
        if self.transcript:
            self.transcript.write(line + "\n")

    def line(self, name):
        if name not in self.lines:
            raise SimError("no line %s" % name)
        return self.lines[name]

    # --- control ------------------------------------------------------------
    def reply(self, conn, ok, payload=None):
        text = "ok" if ok else "err"
        if payload is not None:
            text += " " + pct(payload)
        try:
            conn.sendall((text + "\n").encode("latin-1"))
        except OSError:
            pass

    def check_waiters(self, expire=False):
        now = time.monotonic()
        keep = []
        for w in self.waiters:
            conn, ln, rx, deadline = w
            hit = None
            for i in range(ln.cursor, len(ln.records)):
                if rx.search(ln.records[i][1]):
                    hit = i
                    break
            if hit is not None:
                ln.cursor = hit + 1
                t, text = ln.records[hit]
                self.reply(conn, True, "%.6f %s" % (t, text))
            elif expire and now >= deadline:
                self.reply(conn, False, "timeout")
            else:
                keep.append(w)
        self.waiters = keep

    def request(self, conn, words):
        cmd, args = words[0], words[1:]
        fn = getattr(self, "req_" + cmd, None)
        if fn is None:
            raise SimError("unknown request %s" % cmd)
        result = fn(conn, *args)
        if result is not False:   # False: the reply comes later
            self.reply(conn, True, result)

    def req_ping(self, conn):
        return None

    def req_epoch(self, conn):
        return "%.6f" % self.t0

    def req_quit(self, conn):
        self.running = False
        return None

    def req_inject(self, conn, name, text):
        self.line(name).write(text)
        return None

    def req_records(self, conn, name):
        return "\n".join("%.6f %s" % r for r in self.line(name).records)

    def req_forget(self, conn, name):
        ln = self.line(name)
        ln.records = []
        ln.cursor = 0
        return None

    def req_expect(self, conn, name, regex, ms):
        self.waiters.append([conn, self.line(name), re.compile(regex),
                             time.monotonic() + int(ms) / 1000.0])
        self.check_waiters()
        return False

    def req_set(self, conn, name, key, value):
        self.line(name).set(key, value)
        return None

    def req_close(self, conn, name):
        self.line(name).close_pty()
        return None

    def req_transcript(self, conn):
        return "\n".join(self.transcript_text)

    def control_readable(self, conn, state):
        try:
            data = conn.recv(65536)
        except OSError:
            data = b""
        if not data:
            self.sel.unregister(conn)
            conn.close()
            self.waiters = [w for w in self.waiters if w[0] is not conn]
            return
        state["buf"] += data
        while b"\n" in state["buf"]:
            raw, state["buf"] = state["buf"].split(b"\n", 1)
            words = [unpct(w) for w in raw.decode("latin-1").split(" ") if w != ""]
            if not words:
                continue
            try:
                self.request(conn, words)
            except (SimError, TypeError, ValueError, re.error) as e:
                self.reply(conn, False, str(e))

    # --- main loop ----------------------------------------------------------
    def run(self):
        while self.running:
            timeout = 0.05
            if self.timers:
                timeout = max(0.0, min(timeout, self.timers[0][0] - time.monotonic()))
            for key, _ in self.sel.select(timeout):
                obj = key.data
                if obj == "server":
                    conn, _ = self.server.accept()
                    self.sel.register(conn, selectors.EVENT_READ, ("control", {"buf": b""}))
                elif isinstance(obj, tuple):
                    self.control_readable(key.fileobj, obj[1])
                else:
                    obj.readable()
            now = time.monotonic()
            while self.timers and self.timers[0][0] <= now:
                _, handle, fn = heapq.heappop(self.timers)
                if handle in self.cancelled:
                    self.cancelled.discard(handle)
                    continue
                fn()
            self.check_waiters(expire=True)
        for ln in self.lines.values():
            ln.close_pty()


def parse_spec(text):
    """"1:type=FXS,answer_after=300" -> ("1", {"type": "FXS", ...})"""
    name, _, rest = text.partition(":")
    spec = {}
    for item in rest.split(","):
        if item:
            k, _, v = item.partition("=")
            spec[k] = v
    return name, spec


def die(msg):
    sys.stderr.write(msg + "\n")
    sys.exit(2)
