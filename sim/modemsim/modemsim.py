#!/usr/bin/env python3
"""modemsim: plays the GSM/LTE modems of the gateway's line-interface modules.

For every port it opens a pseudo-terminal in raw mode and links its slave at
$ROOT/dev/gsm<port-1>, writes the GSM driver's sysfs files under
$ROOT/sys/class/kvxgsm and the module type texts under
$ROOT/sys/class/quilmar/li<n>/module, and answers AT command lines like the
Telit modems GE865, LE910EU-V2 and LE910C1 do: echo, final result codes,
identity, SIM/PIN state, registration, signal, operators, the SMS prompt,
calls, USSD. Faults can be injected per port, a transcript of every byte in
both directions is written, and a control socket lets tests steer it.

Control protocol (Unix stream socket, one request per line, words separated
by single spaces, every word percent-encoded):
    ping                         -> ok
    inject PORT TEXT             write TEXT to the port as the modem
    expect PORT REGEX MS         wait for a command line matching REGEX
                                 (searching after the last match) -> ok LINE
    commands PORT                every command line received -> ok LINES
    clear PORT                   forget the received command lines
    set PORT KEY VALUE           change modem state (see Modem.settable)
    get PORT KEY                 -> ok VALUE
    fault PORT NAME [ARG [COUNT]] inject a fault (COUNT -1: until cleared)
    fault PORT clear
    close PORT                   close the pseudo-terminal (the modem vanishes)
    sms PORT                     the bodies received after SMS prompts, one a line
    call PORT NUMBER [clip=0]    an incoming call: RING every 3 s, each with
                                 +CLIP (not with clip=0), until answered (ATA)
                                 or ended; +CLCC lists it as incoming
    answer PORT                  the far end answers the dialled call (#ECAM 3)
    busy PORT                    the far end is busy (#ECAM 7)
    hangup PORT                  the far end hangs up (#ECAM 0, NO CARRIER)
    store PORT INDEX BODY        store a message in slot INDEX (PDU hex or text)
    transcript                   -> ok TEXT
    quit
Replies: "ok", "ok PAYLOAD" or "err REASON", the payload percent-encoded.

Faults: noecho, silence, nofinal, split (answer written in small pieces),
nul (NUL bytes inside the answer), longline N (an unterminated line of N
bytes before the answer), interrupt TEXT [COUNT PREFIX] (TEXT cuts into the
echo; with PREFIX only into that of commands beginning with it),
reject PREFIX (answer ERROR), cme PREFIX [COUNT TEXT] (answer +CME ERROR),
final PREFIX COUNT TEXT (TEXT instead of the final result), many PREFIX COUNT
NxW (N answer lines of W bytes), closeon REGEX
(close the port when such a command arrives), slow MS (answer after MS).
"""

import argparse
import os
import pty
import re
import selectors
import socket
import sys
import time
import tty
import urllib.parse

MODELS = {
    "GE865": {"gmm": "GE865", "lacks": ("AT#DVIEXT", "AT#CFLO", "AT#ISMSCFG", "AT#DVICLK")},
    "LE910EU-V2": {"gmm": "LE910EU-V2", "lacks": ("AT+IPR", "AT#CFLO", "AT#ISMSCFG", "AT#DVICLK")},
    "LE910C1": {"gmm": "LE910C4-EU", "lacks": ("AT+IPR", "AT#DVIEXT", "AT#REGMODE")},
}

# Commands every model takes with a plain OK (prefixes).
PLAIN_OK = (
    "AT+CIND=", "AT#Z=0", "AT+IPR=", "AT#SELINT=", "AT#SMSMODE=", "AT#REGMODE=",
    "AT#DIALMODE=", "AT+CFUN=", "AT+FCLASS=", "AT+CMER=", "AT+CSSN=", "AT#DVI=", "AT#DVIEXT=",
    "AT#DVICLK=", "AT+CLIP=", "AT+CLIR=", "AT+CALM=", "AT#STM=", "AT+CSCA=", "AT+CSMP=",
    "AT+CSDH=", "AT#CODEC=", "AT#DTMF=", "AT#ECAM=", "AT#CFLO=", "AT#ISMSCFG=",
    "AT#REBOOT", "AT+VTS=", "AT+CHLD=", "AT+CCFC=", "AT+CCWA=", "AT+CLCK=",
)


def pct(s):
    if isinstance(s, bytes):
        s = s.decode("latin-1")
    return urllib.parse.quote(s, safe="!\"#$&'()*+,-./:;<=>?@[]^_`{|}~")


def unpct(s):
    return urllib.parse.unquote(s, encoding="latin-1")


def utf8(s):
    """A control word (decoded byte for byte) as the UTF-8 text it carries."""
    try:
        return s.encode("latin-1").decode("utf-8")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return s


def ucs2hex(text):
    return text.encode("utf-16-be").hex().upper()


class Modem:
    settable = ("model", "gmm", "pin", "puk", "sim", "pin_state", "pin_counter", "reg", "csq",
                "echo", "ussd", "mr", "operator", "enabled_check", "answer_after")

    def __init__(self, sim, port, spec):
        self.sim = sim
        self.port = port
        self.model = spec.get("model", "GE865")
        self.gmm = spec.get("gmm", MODELS[self.model]["gmm"])
        self.pin = spec.get("pin", "")
        self.sim_present = spec.get("sim", "1") == "1"
        self.pin_state = "SIM PIN" if self.pin else "READY"
        self.pin_counter = int(spec.get("pin_counter", "3"))
        self.reg = int(spec.get("reg", "1"))
        self.csq = spec.get("csq", "17,99")
        self.operator = spec.get("operator", "SimNet")
        self.ussd = spec.get("ussd", "Balance 5 EUR")
        # ms after ATD until the far end answers by itself; -1: only on request
        self.answer_after = int(spec.get("answer_after", "-1"))
        self.answer_at = None
        self.echo = True
        self.cmee = 0
        self.cmgf = 0
        self.creg_n = 0
        self.cscb = (0, "", "")
        self.mr = 0
        self.enabled_check = True
        self.faults = []        # [name, arg, count]
        self.inbuf = b""
        self.sms_mode = None    # the CMGS line while the prompt is open
        self.sms_body = b""
        self.sms_bodies = []
        self.store = {}
        self.commands = []
        self.cursor = 0
        self.call = None
        self.next_ring = 0.0
        self.master = None
        self.slave = None
        self.out = []           # scheduled writes [(when, bytes)]
        self.open_pty()

    # --- pseudo-terminal and sysfs -------------------------------------------------
    def open_pty(self):
        m, s = pty.openpty()
        tty.setraw(s)
        os.set_blocking(m, False)
        self.master, self.slave = m, s
        link = os.path.join(self.sim.root, "dev", "gsm%d" % (self.port - 1))
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(s), link)
        self.sim.sel.register(m, selectors.EVENT_READ, ("modem", self))

    def close_pty(self):
        if self.master is None:
            return
        self.sim.sel.unregister(self.master)
        os.close(self.master)
        os.close(self.slave)
        self.master = self.slave = None
        self.out = []
        self.sim.log(self.port, "!", b"closed")

    def powered(self):
        if not self.enabled_check:
            return True
        p = os.path.join(self.sim.root, "sys/class/kvxgsm/%d/enabled" % (self.port - 1))
        try:
            with open(p) as f:
                return f.read(1) == "1"
        except OSError:
            return False

    # --- faults ------------------------------------------------------------------
    def take_fault(self, name, cmd=None):
        for f in self.faults:
            if f[0] != name:
                continue
            if name in ("reject", "cme", "final", "many") and not cmd.upper().startswith(f[1].upper()):
                continue
            if name == "closeon" and not re.search(f[1], cmd):
                continue
            if name == "interrupt" and len(f) > 3 and not cmd.upper().startswith(f[3].upper()):
                continue
            if f[2] > 0:
                f[2] -= 1
                if f[2] == 0:
                    self.faults.remove(f)
            return f
        return None

    # --- output ------------------------------------------------------------------
    def write(self, data, delay=0.0):
        if self.master is None:
            return
        when = time.monotonic() + delay
        if self.out and self.out[-1][0] > when:
            when = self.out[-1][0]
        self.out.append([when, data])

    def flush_due(self):
        now = time.monotonic()
        while self.out and self.out[0][0] <= now and self.master is not None:
            data = self.out.pop(0)[1]
            try:
                os.write(self.master, data)
                self.sim.log(self.port, ">", data)
            except OSError:
                self.out = []

    def unsolicited(self, line, delay=0.0):
        self.write(b"\r\n" + line.encode("latin-1") + b"\r\n", delay)

    # --- input -------------------------------------------------------------------
    def on_input(self):
        try:
            data = os.read(self.master, 4096)
        except OSError:
            data = b""
        if not data:
            return
        self.sim.log(self.port, "<", data)
        if not self.powered():
            return
        self.inbuf += data
        while self.inbuf:
            if self.sms_mode is not None:
                i = min([k for k in (self.inbuf.find(b"\x1a"), self.inbuf.find(b"\x1b")) if k >= 0],
                        default=-1)
                if i < 0:
                    self.sms_body += self.inbuf
                    self.inbuf = b""
                    break
                self.sms_body += self.inbuf[:i]
                end = self.inbuf[i:i + 1]
                self.inbuf = self.inbuf[i + 1:]
                self.sms_done(end == b"\x1a")
                continue
            i = self.inbuf.find(b"\r")
            if i < 0:
                break
            # Outside the SMS prompt an ESC means nothing to the modem.
            line = self.inbuf[:i].replace(b"\n", b"").replace(b"\x1b", b"").decode("latin-1")
            self.inbuf = self.inbuf[i + 1:]
            if line.strip() == "":
                continue
            self.on_command(line)

    def on_command(self, line):
        self.commands.append(line)
        self.sim.check_expects(self)
        if self.take_fault("closeon", line):
            self.close_pty()
            return
        if self.take_fault("silence", line):
            return
        slow = self.take_fault("slow", line)
        delay = int(slow[1]) / 1000.0 if slow else 0.0
        echo = b""
        if self.echo and not self.take_fault("noecho", line):
            raw = line.encode("latin-1")
            intr = self.take_fault("interrupt", line)
            if intr:
                k = max(1, len(raw) // 2)
                echo = raw[:k] + b"\r\n" + intr[1].encode("latin-1") + b"\r\n" + raw[k:] + b"\r"
            else:
                echo = raw + b"\r"
        lines, final = self.answer(line)
        body = b""
        ll = self.take_fault("longline", line)
        if ll:
            body += b"X" * int(ll[1])
        for ln in lines:
            body += b"\r\n" + ln.encode("latin-1") + b"\r\n"
        if final is not None and not self.take_fault("nofinal", line):
            body += b"\r\n" + final.encode("latin-1") + b"\r\n"
        if self.take_fault("nul", line):
            body = body.replace(b"\r\n", b"\r\n\x00", 1)
        data = echo + body
        if self.take_fault("split", line):
            for k in range(0, len(data), 3):
                self.write(data[k:k + 3], delay + 0.015 * (k // 3))
        else:
            self.write(data, delay)
        if final == "OK" or final is None:
            self.after(line)

    # --- answers -----------------------------------------------------------------
    def error(self, text, code):
        if self.cmee == 2:
            return "+CME ERROR: " + text
        if self.cmee == 1:
            return "+CME ERROR: %d" % code
        return "ERROR"

    def answer(self, cmd):
        u = cmd.upper()
        f = self.take_fault("reject", cmd)
        if f:
            return [], "ERROR"
        f = self.take_fault("cme", cmd)
        if f:
            return [], "+CME ERROR: " + (f[3] if len(f) > 3 else "operation not allowed")
        f = self.take_fault("final", cmd)
        if f:
            return [], f[3] if len(f) > 3 else "BUSY"
        f = self.take_fault("many", cmd)
        if f:
            n, width = (int(x) for x in f[3].split("x")) if len(f) > 3 else (100, 100)
            return ["%04d" % i + "L" * (width - 4) for i in range(n)], "OK"
        for lack in MODELS[self.model]["lacks"]:
            if u.startswith(lack):
                return [], "ERROR"
        if u == "AT":
            return [], "OK"
        if u in ("AT&F", "AT&F0"):
            self.echo = True
            self.cmee = 0
            return [], "OK"
        if u in ("ATE0", "ATE1"):
            self.echo = u == "ATE1"
            return [], "OK"
        if u == "AT+GMM":
            return [self.gmm], "OK"
        if u.startswith("AT+CMEE="):
            self.cmee = int(u[8:] or "0")
            return [], "OK"
        if u == "AT#SIMDET?":
            return ["#SIMDET: 2,%d" % (1 if self.sim_present else 0)], "OK"
        if u.startswith("AT#SIMDET="):
            return [], "OK"
        if u == "AT+CPIN?":
            if not self.sim_present:
                return [], self.error("SIM not inserted", 10)
            return ["+CPIN: " + self.pin_state], "OK"
        if u.startswith("AT+CPIN="):
            return self.enter_pin(cmd[8:])
        if u == "AT#PCT":
            if not self.sim_present:
                return [], self.error("SIM not inserted", 10)
            return ["#PCT: %d" % self.pin_counter], "OK"
        if u == "AT+CSQ":
            return ["+CSQ: " + self.csq], "OK"
        if u == "AT+CREG?":
            return ["+CREG: %d,%d" % (self.creg_n, self.registered())], "OK"
        if u.startswith("AT+CREG="):
            self.creg_n = int(u[8:] or "0")
            return [], "OK"
        if u == "AT+COPS?":
            return ['+COPS: 0,0,"%s",7' % self.operator], "OK"
        if u == "AT+COPS=?":
            return ['+COPS: (2,"%s","%s","26201",7),(1,"Other","Oth","26202",2),,(0-4),(0-2)'
                    % (self.operator, self.operator[:4])], "OK"
        if u.startswith("AT+COPS="):
            return [], "OK"
        if u == "AT#SPN":
            return ["#SPN: " + self.operator], "OK"
        if u == "AT#SERVINFO":
            return ['#SERVINFO: 1,-70,"%s","26201",63,1234,01,1,,"II",01,6' % self.operator], "OK"
        if u == "AT+CIMI":
            return ["262011234567890"], "OK"
        if u in ("AT+CGSN", "AT+GSN"):
            return ["356789012345678"], "OK"
        if u == "AT+CGMR":
            return ["20.00.402"], "OK"
        if u == "AT#DVI?":
            return ["#DVI: 1,2,0"], "OK"
        if u.startswith("AT+CSCS="):
            return [], "OK"
        if u.startswith("AT+CMGF="):
            self.cmgf = int(u[8:] or "0")
            return [], "OK"
        if u.startswith("AT+CNMI"):
            return (["+CNMI: 2,1,2,1,0"], "OK") if u.endswith("?") else ([], "OK")
        if u == "AT+CSCB?":
            return ['+CSCB: %d,"%s","%s"' % self.cscb], "OK"
        if u.startswith("AT+CSCB="):
            m = re.match(r'AT\+CSCB=(\d),"([^"]*)","([^"]*)"', cmd, re.I)
            if not m:
                return [], "ERROR"
            self.cscb = (int(m.group(1)), m.group(2), m.group(3))
            return [], "OK"
        if u.startswith("AT+CMGD="):
            try:
                self.store.pop(int(u[8:].split(",")[0]), None)
            except ValueError:
                pass
            return [], "OK"
        if u.startswith("AT+CMGR="):
            return self.read_sms(u[8:])
        if u == "AT+CPMS?":
            n = len(self.store)
            return ['+CPMS: "SM",%d,30,"SM",%d,30,"SM",%d,30' % (n, n, n)], "OK"
        if u.startswith("AT+CMGS="):
            self.sms_mode = cmd
            self.sms_body = b""
            return [], None
        if u.startswith("ATD"):
            if not self.registered() in (1, 5):
                return [], "NO CARRIER"
            self.call = {"number": cmd[3:].rstrip(";"), "state": "dialing"}
            return [], "OK"
        if u == "ATA":
            if self.call and self.call.get("incoming"):
                self.call["state"] = "active"
            return [], "OK"
        if u == "ATH":
            return [], "OK"
        if u == "AT+CLCC":
            if self.call:
                c = self.call
                state = {"ringing": 4, "active": 0, "dialing": 2, "alerting": 3}.get(c["state"], 0)
                return ['+CLCC: 1,%d,%d,0,0,"%s",%d' % (1 if c.get("incoming") else 0, state, c["number"],
                                                       145 if c["number"].startswith("+") else 129)], "OK"
            return [], "OK"
        if u == "AT+CEER":
            return ['+CEER: "Normal call clearing"'], "OK"
        if u.startswith("AT+CUSD="):
            return [], "OK"
        for p in PLAIN_OK:
            if u.startswith(p):
                return [], "OK"
        return [], "ERROR"

    def registered(self):
        if not self.sim_present or self.pin_state != "READY":
            return 0
        return self.reg

    def enter_pin(self, pin):
        pin = pin.strip('"')
        if not self.sim_present:
            return [], self.error("SIM not inserted", 10)
        if self.pin_state == "SIM PUK":
            return [], self.error("SIM PUK required", 12)
        if self.pin_state == "READY":
            return [], self.error("operation not allowed", 3)
        if pin == self.pin:
            self.pin_state = "READY"
            self.pin_counter = 3
            return [], "OK"
        self.pin_counter -= 1
        if self.pin_counter <= 0:
            self.pin_state = "SIM PUK"
        return [], self.error("incorrect password", 16)

    def read_sms(self, arg):
        try:
            idx = int(arg.split(",")[0])
        except ValueError:
            return [], "ERROR"
        body = self.store.get(idx)
        if body is None:
            return [], self.error("invalid memory index", 321).replace("CME", "CMS")
        if self.cmgf == 0:
            return ["+CMGR: 0,,%d" % (len(body) // 2 - 1 - int(body[:2], 16)), body], "OK"
        sender, date, text = body.split("|", 2)
        return ['+CMGR: "REC UNREAD","%s",,"%s",145,4,0,8,"002B00340039",145,%d'
                % (ucs2hex(sender), date, len(text) * 2), ucs2hex(text)], "OK"

    def after(self, cmd):
        """Unsolicited lines that follow a command."""
        u = cmd.upper()
        if u.startswith("ATD") and self.call:
            self.call["state"] = "alerting"
            self.unsolicited("#ECAM: 0,1,1,,,", 0.05)
            self.unsolicited("#ECAM: 0,2,1,,,", 0.10)
            if int(self.answer_after) >= 0:
                self.answer_at = time.monotonic() + 0.10 + int(self.answer_after) / 1000.0
        elif u == "ATA":
            self.unsolicited("#ECAM: 0,3,1,,,", 0.05)
        elif u == "ATH":
            # Only a call that ends is reported; ATH on an idle line changes
            # no call state.
            if self.call:
                self.unsolicited("#ECAM: 0,0,1,,,", 0.05)
            self.call = None
        elif u.startswith("AT+CUSD=1,"):
            self.unsolicited('+CUSD: 0,"%s",72' % ucs2hex(self.ussd), 0.05)
        elif u.startswith("AT+CMGS=") and self.sms_mode is not None:
            self.write(b"\r\n> ")

    # --- the far end of calls ------------------------------------------------------
    def incoming_call(self, number, clip):
        self.call = {"number": number, "incoming": True, "state": "ringing", "clip": clip}
        self.next_ring = time.monotonic()
        self.sim.log(self.port, "!", ("incoming call from " + number).encode("latin-1"))

    def ringing(self):
        c = self.call
        return bool(c and c.get("incoming") and c["state"] == "ringing")

    def answer_due(self):
        if self.answer_at is None or self.answer_at > time.monotonic():
            return
        self.answer_at = None
        if self.call and not self.call.get("incoming") and self.call["state"] == "alerting":
            self.far_end("answer")

    def ring_due(self):
        if not self.ringing() or self.next_ring > time.monotonic() or self.master is None:
            return
        self.unsolicited("RING")
        if self.call["clip"]:
            n = self.call["number"]
            self.unsolicited('+CLIP: "%s",%d,"",,"",0' % (n, 145 if n.startswith("+") else 129))
        self.next_ring = time.monotonic() + 3.0

    def far_end(self, what):
        if what == "answer" and self.call and not self.call.get("incoming"):
            self.call["state"] = "active"
            self.unsolicited("#ECAM: 0,3,1,,,")
        elif what == "busy" and self.call and not self.call.get("incoming"):
            self.call = None
            self.unsolicited("#ECAM: 0,7,1,,,")
        elif what == "hangup" and self.call:
            self.call = None
            self.unsolicited("#ECAM: 0,0,1,,,")
            self.unsolicited("NO CARRIER")
        else:
            raise ValueError("no call for " + what)

    def sms_done(self, send):
        line = self.sms_mode
        self.sms_mode = None
        body = self.sms_body.decode("latin-1")
        self.sms_body = b""
        if not send:
            self.sim.log(self.port, "!", b"sms cancelled")
            return
        self.sms_bodies.append(line + "|" + body.strip("\r\n"))
        self.mr = (self.mr + 1) % 256
        f = self.take_fault("reject", "AT+CMGS")
        if f:
            self.write(b"\r\n+CMS ERROR: 500\r\n")
            return
        self.write(b"\r\n+CMGS: %d\r\n\r\nOK\r\n" % self.mr)

    def set(self, key, value):
        if key == "sim":
            self.sim_present = value == "1"
        elif key in ("pin_counter", "reg", "mr"):
            setattr(self, key, int(value))
        elif key == "echo":
            self.echo = value == "1"
        elif key == "enabled_check":
            self.enabled_check = value == "1"
        elif key == "model":
            self.model = value
            self.gmm = MODELS[value]["gmm"]
        elif key in self.settable:
            setattr(self, key, utf8(value))
        else:
            raise KeyError(key)


class Sim:
    def __init__(self, args):
        self.root = args.root
        self.sel = selectors.DefaultSelector()
        self.t0 = time.monotonic()
        self.transcript_path = args.transcript
        self.transcript = open(args.transcript, "a") if args.transcript else None
        self.expects = []  # [conn, modem, regex, deadline]
        self.running = True
        self.make_sysfs(args)
        self.modems = {}
        for spec in args.port:
            num, _, rest = spec.partition(":")
            kv = dict(p.split("=", 1) for p in rest.split(",") if "=" in p)
            self.modems[int(num)] = Modem(self, int(num), kv)
        self.ctl = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        if os.path.exists(args.control):
            os.unlink(args.control)
        self.ctl.bind(args.control)
        self.ctl.listen(8)
        self.sel.register(self.ctl, selectors.EVENT_READ, ("accept", None))

    def make_sysfs(self, args):
        os.makedirs(os.path.join(self.root, "dev"), exist_ok=True)
        gsm = os.path.join(self.root, "sys/class/kvxgsm")
        os.makedirs(gsm, exist_ok=True)
        count = args.count if args.count is not None else max(
            [int(p.split(":")[0]) for p in args.port] + [0])
        with open(os.path.join(gsm, "count"), "w") as f:
            f.write("%d\n" % count)
        for i in range(count):
            d = os.path.join(gsm, str(i))
            os.makedirs(d, exist_ok=True)
            for name, val in (("enabled", "0"), ("led_state", "0")):
                with open(os.path.join(d, name), "w") as f:
                    f.write(val + "\n")
        for li in range(3):
            with open(os.path.join(gsm, "li%d_power" % li), "w") as f:
                f.write("1\n")
        for spec in args.lif:
            n, _, text = spec.partition(":")
            d = os.path.join(self.root, "sys/class/quilmar/li%s" % n)
            os.makedirs(d, exist_ok=True)
            with open(os.path.join(d, "module"), "w") as f:
                f.write(text + "\n")

    def log(self, port, direction, data):
        if not self.transcript:
            return
        text = data.decode("latin-1").encode("unicode_escape").decode("ascii")
        self.transcript.write("%d %d %s %s\n" % (int((time.monotonic() - self.t0) * 1000), port,
                                                direction, text))
        self.transcript.flush()

    def reply(self, conn, ok, payload=None):
        msg = ("ok" if ok else "err") + ("" if payload is None else " " + pct(payload))
        try:
            conn.sendall(msg.encode("latin-1") + b"\n")
        except OSError:
            pass

    def check_expects(self, modem):
        for e in list(self.expects):
            conn, m, rx, _ = e
            if m is not modem:
                continue
            for i in range(m.cursor, len(m.commands)):
                if re.search(rx, m.commands[i]):
                    m.cursor = i + 1
                    self.expects.remove(e)
                    self.reply(conn, True, m.commands[i])
                    break

    def modem(self, word):
        m = self.modems.get(int(word))
        if not m:
            raise KeyError("no port " + word)
        return m

    def control(self, conn, line):
        words = [unpct(w) for w in line.split(" ")]
        verb, a = words[0], words[1:]
        if verb == "ping":
            return self.reply(conn, True)
        if verb == "quit":
            self.running = False
            return self.reply(conn, True)
        if verb == "transcript":
            if not self.transcript_path:
                return self.reply(conn, True, "")
            with open(self.transcript_path) as f:
                return self.reply(conn, True, f.read())
        m = self.modem(a[0])
        if verb == "inject":
            m.write(a[1].encode("latin-1"))
            return self.reply(conn, True)
        if verb == "expect":
            self.expects.append([conn, m, a[1], time.monotonic() + int(a[2]) / 1000.0])
            return self.check_expects(m)
        if verb == "commands":
            return self.reply(conn, True, "\n".join(m.commands))
        if verb == "clear":
            m.commands = []
            m.cursor = 0
            return self.reply(conn, True)
        if verb == "set":
            m.set(a[1], a[2])
            return self.reply(conn, True)
        if verb == "get":
            v = {"sim": m.sim_present, "pin_state": m.pin_state}.get(a[1], getattr(m, a[1], None))
            return self.reply(conn, True, str(v))
        if verb == "fault":
            if a[1] == "clear":
                m.faults = []
            else:
                arg = a[2] if len(a) > 2 else ""
                count = int(a[3]) if len(a) > 3 else 1
                m.faults.append([a[1], arg, count] + a[4:])
            return self.reply(conn, True)
        if verb == "close":
            m.close_pty()
            return self.reply(conn, True)
        if verb == "sms":
            return self.reply(conn, True, "\n".join(m.sms_bodies))
        if verb == "call":
            clip = not (len(a) > 2 and a[2] == "clip=0")
            m.incoming_call(a[1], clip)
            return self.reply(conn, True)
        if verb in ("answer", "busy", "hangup"):
            m.far_end(verb)
            return self.reply(conn, True)
        if verb == "store":
            m.store[int(a[1])] = utf8(a[2])
            return self.reply(conn, True)
        return self.reply(conn, False, "unknown request " + verb)

    def run(self):
        bufs = {}
        while self.running:
            now = time.monotonic()
            due = [m.out[0][0] for m in self.modems.values() if m.out]
            due += [m.next_ring for m in self.modems.values() if m.ringing()]
            due += [e[3] for e in self.expects]
            timeout = max(0.0, min(due) - now) if due else 0.5
            for key, _ in self.sel.select(min(timeout, 0.5)):
                kind, obj = key.data
                if kind == "accept":
                    c, _ = self.ctl.accept()
                    bufs[c] = b""
                    self.sel.register(c, selectors.EVENT_READ, ("conn", c))
                elif kind == "modem":
                    obj.on_input()
                elif kind == "conn":
                    data = obj.recv(65536)
                    if not data:
                        self.sel.unregister(obj)
                        obj.close()
                        bufs.pop(obj, None)
                        self.expects = [e for e in self.expects if e[0] is not obj]
                        continue
                    bufs[obj] += data
                    while b"\n" in bufs[obj]:
                        line, _, bufs[obj] = bufs[obj].partition(b"\n")
                        try:
                            self.control(obj, line.decode("latin-1").rstrip("\r"))
                        except (KeyError, ValueError, IndexError) as e:
                            self.reply(obj, False, str(e))
            for m in self.modems.values():
                m.ring_due()
                m.answer_due()
                m.flush_due()
            now = time.monotonic()
            for e in list(self.expects):
                if e[3] <= now:
                    self.expects.remove(e)
                    self.reply(e[0], False, "timeout")


def main():
    ap = argparse.ArgumentParser(description="GSM/LTE modem simulator")
    ap.add_argument("--root", required=True, help="path root of the simulated board")
    ap.add_argument("--control", required=True, help="control socket path")
    ap.add_argument("--transcript", help="transcript file")
    ap.add_argument("--count", type=int, help="ports the driver reports (default: highest port)")
    ap.add_argument("--lif", action="append", default=[], help="N:TEXT module text of slot N")
    ap.add_argument("--port", action="append", default=[],
                    help="N:model=GE865,pin=1234,sim=1,pin_counter=3,reg=1")
    args = ap.parse_args()
    sim = Sim(args)
    print("modemsim ready", flush=True)
    sim.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
