#!/usr/bin/env bash
# The demo as a newcomer uses it: scripts/run in one terminal, scripts/call
# per kind of line in another, then Ctrl-C. The whole test runs in network
# and mount namespaces of its own that play "this machine", so the demo's
# veth pair and namespace never touch the real one, and a demo someone runs
# here is not disturbed.
#
#   demo_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1
bin=$2
if [ -z "${TARN_DEMO_TEST_INNER:-}" ]; then
  [ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
  exec env TARN_DEMO_TEST_INNER=1 unshare -n -m --propagation private "$0" "$@"
fi
ip link set lo up
mount -t tmpfs tmpfs /run
mkdir -p /run/netns
work=$(mktemp -d /tmp/tarn-demo-test.XXXXXX)
export TARN_DEMO_STATE=$work/demo.env TARN_BUILD_DIR=$bin TARN_ROOT=$work/root
fail=0
check_first() { # check_first WHAT TEXT FILE: the first line of FILE begins with TEXT
  if head -n 1 "$3" | grep -q "^$2"; then
    echo "ok: $1"
  else
    echo "FAILED: $1 (the first line of $3 is \"$(head -n 1 "$3")\")"
    fail=1
  fi
}
check() { # check WHAT TEXT FILE: FILE must hold TEXT
  if grep -qF -- "$2" "$3"; then
    echo "ok: $1"
  else
    echo "FAILED: $1 (no \"$2\" in $3)"
    fail=1
  fi
}

# scripts/run as in a terminal: its console input stays open until the end.
mkfifo "$work/console"
exec 5<>"$work/console"
# A command started with & ignores SIGINT, and a shell cannot trap what it
# was started ignoring: give scripts/run the default action back, as a
# terminal's foreground command has it.
(cd "$src" && exec setsid python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.execvp(sys.argv[1], sys.argv[1:])' scripts/run --no-build <&5 >"$work/run.out" 2>&1) &
run=$!
finish() {
  kill -INT "$run" 2>/dev/null
  for _ in $(seq 200); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
  kill -KILL -- -"$run" 2>/dev/null
  if [ $fail != 0 ]; then
    echo "---- scripts/run output"; tail -n 60 "$work/run.out"
    for f in "$work"/root/log/*.out "$work"/root/log/*.transcript; do
      [ -f "$f" ] && { echo "---- $f"; tail -n 30 "$f"; }
    done
    echo "---- debug log"; tail -n 80 "$work/root/var/log/tarn.log" 2>/dev/null
  fi
}
trap finish EXIT
up=0
for _ in $(seq 1200); do
  grep -q 'tarn demo is up' "$work/run.out" 2>/dev/null && { up=1; break; }
  kill -0 "$run" 2>/dev/null || break
  sleep 0.1
done
if [ $up != 1 ]; then
  echo "FAILED: the demo did not come up"
  fail=1
  exit 1
fi
check "the screen names the gateway" "the gateway at 198.18.0.1:5060" "$work/run.out"
for phase in "namespace: " "simulators: " "daemon: " "lines: "; do
  check "a line for the phase $phase" "$phase" "$work/run.out"
done

# The console inside the namespace, one command from the command line.
(cd "$src" && scripts/console ss) >"$work/console.out" 2>&1
check "scripts/console runs a command" "SESSION STATISTICS" "$work/console.out"

# The GSM modem registers after the banner; its line says when.
for _ in $(seq 600); do
  grep -q 'GSM 1 registered' "$work/run.out" && break
  sleep 0.1
done
check "GSM port 1 registered" "GSM 1 registered" "$work/run.out"

# The LAN stack's TLS listener, with the certificate scripts/run made: a
# handshake and an OPTIONS over it.
python3 "$src/tests/e2e/tls/tls_peer.py" options --connect 198.18.0.1:5061 --tls 1.3 >"$work/tls.out" 2>&1
check "TLS: OPTIONS over TLS answered" "OPTIONS SIP/2.0 200" "$work/tls.out"
check "TLS: the certificate made once" "BEGIN CERTIFICATE" "$work/root/usr/conf/certs/lan/agent.pem"

call() { # call NAME ARGS...: scripts/call, its output in NAME.out
  local name=$1; shift
  (cd "$src" && scripts/call --hold 1 "$@") >"$work/$name.out" 2>&1
}

# One call per kind of line: connected, far end, media, CDR. The telephone
# sets are called twice: the first call must leave the line free.
while read -r number far; do
  if call "call$number" "$number"; then
    echo "ok: call to $number connected"
  else
    echo "FAILED: call to $number"; cat "$work/call$number.out"; fail=1; continue
  fi
  check_first "$number: the verdict first" "answered" "$work/call$number.out"
  check "$number: BYE in the ladder" "BYE sip:" "$work/call$number.out"
  check "$number: far end" "$far" "$work/call$number.out"
  check "$number: media processor commands" " ch " "$work/call$number.out"
  check "$number: CDR line" "CDR" "$work/call$number.out"
  # sipp's tone reached the media processor through the gateway's address
  # translation, and the channel sent RTP back (the line's echo)
  if ! grep -qE 'received [1-9][0-9]* packets .*, sent [1-9][0-9]* packets' "$work/call$number.out"; then
    echo "FAILED: $number: no RTP both ways at the media processor"; fail=1
  fi
  [ "$(grep -c '^   CDR,' "$work/call$number.out")" = 1 ] || { echo "FAILED: $number: not one CDR line"; fail=1; }
  if grep -q 'AT+CSQ\|AT+CREG?' "$work/call$number.out"; then
    echo "FAILED: $number: the modem's status polls among the call's lines"; fail=1
  fi
done <<'EOF'
101 isdn1: RING called=101
201 1 < ringing
201 1 < ringing
301 ATD301
401 0/1 < 0000
401 < 0000
EOF

# A number without a route: the dial plan's refusal.
if call call999 999; then
  echo "FAILED: 999 connected"; fail=1
else
  check_first "999 refused" "refused 404 Not Found" "$work/call999.out"
fi

# The PBX on ISDN port 3 calls a SIP user agent on "this machine": first with
# none listening (refused), then at once with one, which must not wait for
# anything the first call left behind.
if call from_isdn_refused --from-isdn 501; then
  echo "FAILED: the ISDN call to 501 with no user agent connected"; fail=1
else
  check_first "ISDN call with no user agent refused" "refused " "$work/from_isdn_refused.out"
  check "ISDN call with no user agent: why" "nothing listens at 198.18.0.2:5062" "$work/from_isdn_refused.out"
fi
sipp -sn uas -i 198.18.0.2 -p 5062 -m 1 -timeout 60s -nostdin >"$work/uas.out" 2>&1 &
uas=$!
for _ in $(seq 50); do ss -Hlun 'sport = :5062' | grep -q . && break; sleep 0.1; done
# The far end's script must start at once: a wait left from the refused
# call held its SETUP back 30 s. The gateway's first answer to it (CALL
# PROCEEDING, or at once ALERTING or CONNECT when the far end is quick),
# the first in the PBX's output after those of the refused call, tells when
# the SETUP went out, however slow the rest of the call is on a loaded machine.
proceeding() { grep -cE '^(PROCEEDING|SETUP_ACK|RINGING|ANSWER)' "$work/root/log/isdn3.out" 2>/dev/null; }
before=$(proceeding)
began=$SECONDS
(for _ in $(seq 600); do
   [ "$(proceeding)" -gt "$before" ] &&
     { echo $((SECONDS - began)) >"$work/proceeding.s"; break; }
   sleep 0.1
 done) &
watch=$!
if call from_isdn --from-isdn 501; then
  echo "ok: ISDN call to the SIP user agent connected"
else
  echo "FAILED: ISDN call to 501"; cat "$work/from_isdn.out"; fail=1
fi
kill $watch 2>/dev/null; wait $watch 2>/dev/null
setup_s=$(cat "$work/proceeding.s" 2>/dev/null || echo none)
[ "$setup_s" != none ] && [ "$setup_s" -le 15 ] ||
  { echo "FAILED: the PBX's SETUP went out after $setup_s s (call: $((SECONDS - began)) s)"; fail=1; }
check_first "ISDN call: the verdict first" "answered" "$work/from_isdn.out"
check "ISDN call: INVITE to the user agent" "INVITE sip:501@198.18.0.2" "$work/from_isdn.out"
check "ISDN call: BYE to the user agent" "BYE sip:" "$work/from_isdn.out"
wait "$uas" || { echo "FAILED: the sipp user agent"; cat "$work/uas.out"; fail=1; }

# Ctrl-C with a call up: tarn clears the call (BYE toward sipp, its CDR
# line) and ends with status 0, which scripts/run passes on; then the
# namespace and the veth pair go.
connects() { grep -c CONNECT_ACK "$work/root/log/isdn1.out"; }
before=$(connects)
(cd "$src" && scripts/call --hold 60 101) >"$work/held.out" 2>&1 &
held=$!
for _ in $(seq 200); do [ "$(connects)" -gt "$before" ] && break; sleep 0.1; done
cdrs=$(grep -c '^CDR,' "$work/root/var/log/tarn.cdr")
kill -INT "$run"
for _ in $(seq 200); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$run" 2>/dev/null; then
  echo "FAILED: the demo did not stop on Ctrl-C"; fail=1
else
  rc=0
  wait "$run" || rc=$?
  [ $rc = 0 ] && echo "ok: Ctrl-C: scripts/run ended with status 0" ||
    { echo "FAILED: Ctrl-C: scripts/run ended with status $rc"; fail=1; }
  check "Ctrl-C: tarn's status shown" "stop: tarn ended with status 0" "$work/run.out"
  if [ "$(grep -c '^CDR,' "$work/root/var/log/tarn.cdr")" = $((cdrs + 1)) ] &&
     grep '^CDR,' "$work/root/var/log/tarn.cdr" | tail -n 1 | grep -q '^CDR,.*ISDN:1:.*,101,'; then
    echo "ok: Ctrl-C: the call's CDR line written"
  else
    echo "FAILED: Ctrl-C: no CDR line of the call up"; tail -n 3 "$work/root/var/log/tarn.cdr"; fail=1
  fi
  wait "$held"
  check "Ctrl-C: the call up cleared with BYE" "198.18.0.1 -> 198.18.0.2  BYE sip:" "$work/held.out"
  if ip netns list | grep -qw tarn-demo || ip link show tarn-demo-host >/dev/null 2>&1; then
    echo "FAILED: namespace or veth left behind"; fail=1
  else
    echo "ok: Ctrl-C stopped the demo and removed its namespace"
  fi
fi
exit $fail
