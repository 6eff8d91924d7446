#!/usr/bin/env bash
# The overload benchmark: INVITE floods at the gateway while it carries two
# calls and answers a probe, beside Kamailio (kamailio.cfg) under the same
# traffic in the same run. Needs root; everything runs in a network
# namespace of the script's own. See README.md.
#
#   bench/overload/run.sh            the whole run (about 8 minutes)
#   QUICK=1 bench/overload/run.sh    short floods, for trying the script out
#
# Settings (environment): RATES (INVITEs a second, default "500 1000 2000"),
# FLOOD_S (seconds each, 20), SETTLE_S (seconds between floods, 10),
# SERVER_CORE (default 2), PEER_CORE and FLOOD_CORE (default none: the
# simulators, the probe and call agents and the flood's sipps go where the
# scheduler puts them; on a shared machine a pinned peer starves), FLOOD_STEP (INVITEs a second of one
# sipp, default 500: 2000/s are four sipps), PARTS (default
# "tarn kamailio"), BUILD_DIR (default build: the RelWithDebInfo product
# tree), TARN_BIN, KEEP=1 (keeps the work directory), PERF=1 (a profile of
# tarn during each flood: perf.RATE.data in the work directory; PERF_ARGS),
# STALL_S (stops the server for that many seconds 2 s into each flood).
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
here=$src/bench/overload
. "$src/bench/lib.sh"

if [ "$(id -u)" != 0 ]; then
  echo "bench/overload/run.sh: needs root (network namespace, package install)" >&2
  exit 1
fi

RATES=${RATES:-"500 1000 2000"}
FLOOD_S=${FLOOD_S:-20}
SETTLE_S=${SETTLE_S:-10}
SERVER_CORE=${SERVER_CORE:-2}
FLOOD_CORE=${FLOOD_CORE:-}
FLOOD_STEP=${FLOOD_STEP:-500}
PEER_CORE=${PEER_CORE:-}
PARTS=${PARTS:-tarn kamailio}
if [ -n "${QUICK:-}" ]; then
  RATES=${QUICK_RATES:-"500 2000"}
  FLOOD_S=5
  SETTLE_S=5
fi
part() { [[ " $PARTS " == *" $1 "* ]]; }

# ---- tools and the build ---------------------------------------------------------
bench_tools
BUILD_DIR=${BUILD_DIR:-build}
if [ -z "${TARN_BIN:-}" ]; then
  if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$BUILD_DIR" -j"${JOBS:-4}" --target tarn q931peer >/dev/null
fi
tarn_bin=${TARN_BIN:-$src/$BUILD_DIR/src/tarn/tarn}
q931peer_bin=$src/$BUILD_DIR/sim/q931peer/q931peer

# ---- the namespace ---------------------------------------------------------------
# 10.0.0.1 the servers (tarn :5060, Kamailio :5080, the sipp far end of
# Kamailio's relayed calls :5070); 10.0.0.11 the flood, 10.0.0.12 the
# probe, 10.0.0.13 the held calls and the recovery call.
GW=10.0.0.1 FLOODER=10.0.0.11 PROBER=10.0.0.12 HOLDER=10.0.0.13
ns=tarn-overload-$$
work=$(mktemp -d /tmp/tarn-overload.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  ip netns del "$ns" 2>/dev/null || true
  [ -n "${KEEP:-}" ] && echo "work directory: $work" || rm -rf "$work"
}
trap cleanup EXIT
bench_netns "$ns" $GW $FLOODER $PROBER $HOLDER
in_ns() { ip netns exec "$ns" "$@"; }
# Started in the background as "${peer[@]}" COMMAND &, $! is the command's
# own pid (ip and taskset exec it), which a signal then reaches.
peer=(ip netns exec "$ns" ${PEER_CORE:+taskset -c "$PEER_CORE"})
agent() { "${peer[@]}" python3 "$here/sipagent.py" "$@"; }

# ---- memory ----------------------------------------------------------------------
# Samples mem_kb of the processes every 0.2 s into $work/mem until the
# file $work/mem.stop appears; the highest figure is the peak.
sampler() {
  rm -f "$work/mem.stop"
  : >"$work/mem"
  while [ ! -e "$work/mem.stop" ]; do
    mem_kb "$@" >>"$work/mem" 2>/dev/null || true
    sleep 0.2
  done
}

# CPU ticks of each thread of process $1 ("name_tid ticks" lines).
thread_ticks() {
  local t
  for t in /proc/$1/task/*; do
    echo "$(tr ' ' _ <"$t/comm")_$(basename "$t") $(sed 's/^.*) //' "$t/stat" | awk '{print $12 + $13}')"
  done
}

# ---- one server ------------------------------------------------------------------
# measure TARGET PROCESSES...: the held calls, the probe, the floods; one
# result line a flood in $work/result.<label>, and the held calls' end.
measure() {
  local target=$1
  shift
  local res=$work/result.$label
  : >"$res"
  # the two long calls
  "${peer[@]}" python3 "$here/sipagent.py" hold --local $HOLDER:5091 \
    --target "$target" --to 101 --calls 2 >"$work/hold.$label" 2>&1 &
  local hold=$!
  pids+=("$hold")
  for _ in $(seq 100); do grep -q '^up\|^failed' "$work/hold.$label" && break; sleep 0.1; done
  if ! grep -q '^up 2' "$work/hold.$label"; then
    echo "  the two long calls did not come up: $(cat "$work/hold.$label")" >&2
    return 1
  fi
  "${peer[@]}" python3 "$here/sipagent.py" probe --local $PROBER:5090 \
    --target "$target" --out "$work/probe.$label" &
  local probe=$!
  pids+=("$probe")
  sleep "$SETTLE_S"
  local idle
  idle=$(mem_kb "$@")
  echo "  idle (two calls up): $((idle / 1024)) MB"
  echo "idle $idle" >>"$res"
  local rate
  for rate in $RATES; do
    # peak resident size since this flood's start: the kernel's VmHWM once
    # reset (one process), else the sampled peak
    [ $# -eq 1 ] && echo 5 >"/proc/$1/clear_refs"
    sampler "$@" &
    local samp=$!
    local t0 t_end
    local c0
    c0=$(ticks "$@")
    [ $# -eq 1 ] && thread_ticks "$1" >"$work/threads0"
    local perf=
    if [ -n "${PERF:-}" ] && [ "$label" = tarn ]; then
      perf record -q ${PERF_ARGS:--g} -p "$1" -o "$work/perf.$rate.data" >/dev/null 2>&1 &
      perf=$!
    fi
    # the recovery agent is up before the flood starts (a python started
    # beside a flood on a loaded machine took seconds to begin)
    rm -f "$work/since.$label.$rate"
    agent recover --local $HOLDER:5092 --target "$target" --to 201 --since-file "$work/since.$label.$rate" \
      --wait 60 >"$work/recover.$label.$rate" 2>&1 &
    local rec=$!
    for _ in $(seq 300); do grep -q '^ready' "$work/recover.$label.$rate" 2>/dev/null && break; sleep 0.05; done
    t0=$(date +%s.%N)
    t_end=$(awk -v a="$t0" -v b="$FLOOD_S" 'BEGIN { printf "%.3f", a + b }')
    echo "$t_end" >"$work/since.$label.$rate.tmp" && mv "$work/since.$label.$rate.tmp" "$work/since.$label.$rate"
    local out=$work/flood.$label.$rate
    # the flood: one sipp a FLOOD_STEP INVITEs a second, each from a port of
    # its own (one sipp on a busy machine falls behind 1000/s)
    local procs=$(((rate + FLOOD_STEP - 1) / FLOOD_STEP)) i fl=()
    local calls=$((rate * FLOOD_S / procs))
    for ((i = 0; i < procs; i++)); do
      ${FLOOD_CORE:+taskset -c "$FLOOD_CORE"} ip netns exec "$ns" sipp -sf "$here/flood.xml" "$target" -s 101 \
        -i $FLOODER -p $((5061 + 2 * i)) -r $((rate / procs)) -m "$calls" -l 200000 -nostdin -max_socket 60000 \
        -buff_size 8388608 -trace_stat -stf "$out.$i.csv" -fd 1 -timeout $((FLOOD_S + 60))s >"$out.$i" 2>&1 &
      fl+=($!)
    done
    if [ -n "${STALL_S:-}" ]; then
      # the server stopped for a while, as a machine busy elsewhere does
      sleep 2
      kill -STOP "$@"
      sleep "$STALL_S"
      kill -CONT "$@"
    fi
    for i in "${fl[@]}"; do wait "$i" || true; done
    local outs=() csvs=()
    for ((i = 0; i < procs; i++)); do outs+=("$out.$i"); csvs+=("$out.$i.csv"); done
    wait "$rec" || true
    if [ -n "$perf" ]; then kill -INT "$perf"; wait "$perf" || true; fi
    local cpu
    cpu=$(awk -v d=$(($(ticks "$@") - c0)) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.1f", d / hz }')
    if [ $# -eq 1 ]; then
      # the busiest threads over the flood
      thread_ticks "$1" | awk -v hz="$(getconf CLK_TCK)" 'NR == FNR { a[$1] = $2; next }
        { d = $2 - a[$1]; if (d > 0) printf "%s %.1f\n", $1, d / hz }' "$work/threads0" - | sort -k2 -rn |
        head -4 | tr '\n' ' ' >"$work/threads.$label.$rate"
    fi
    touch "$work/mem.stop"
    wait "$samp" || true
    local peak
    peak=$(sort -n "$work/mem" | tail -1)
    if [ $# -eq 1 ]; then
      local hwm
      hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$1/status")
      [ "$hwm" -gt "${peak:-0}" ] && peak=$hwm
    fi
    # the calls sipp made and the first final answers it had, by status
    local made finals no_final r486 r503
    made=$(awk -F'|' '/Outgoing calls created/ {gsub(/ /, "", $3); v[FILENAME] = $3}
      END { for (f in v) n += v[f]; print n + 0 }' "${outs[@]}")
    # (the last screen of each sipp: its counts are cumulative)
    read -r r486 r503 finals < <(for f in "${outs[@]}"; do
        awk '/Scenario Screen/ { delete n } /<----------/ { n[$1] = $3 }
          END { for (c in n) print c, n[c] }' "$f"
      done | awk '{ if ($1 == 486) a += $2; else if ($1 == 503) b += $2; if ($1 >= 300) f += $2 }
        END { print a + 0, b + 0, f + 0 }')
    no_final=$((made - finals))
    # The flood's real start and end (sipp on a busy machine may fall
    # behind its rate): the first sipp's start, and the moment the last one
    # made its last call, between the two statistics lines (one a second)
    # that saw its count reach its total.
    local t_first t_last
    read -r t_first t_last < <(for f in "${csvs[@]}"; do
        awk -F';' -v n="$calls" '
          NR == 1 { next }
          { split($3, ct, "\t"); t = ct[3]; c = $12 + 0
            if (!start) { split($1, st, "\t"); start = st[3] }
            if (c >= n && !done) { e = pt + (t - pt) * (n - pc) / (c > pc ? c - pc : 1); done = 1 }
            pt = t; pc = c }
          END { if (!done) e = pt; printf "%.3f %.3f\n", start, e }' "$f"
      done | sort -n | awk 'NR == 1 { s = $1 } { if ($2 > e) e = $2 } END { print s, e }')
    t0=${t_first:-$t0}
    t_end=${t_last:-$t_end}
    # probes sent during the flood, answered within 1 s
    local probes
    probes=$(awk -v a="$t0" -v b="$t_end" '$1 >= a && $1 < b { n++; if ($2 >= 0 && $2 <= 1.0) ok++ }
      END { printf "%d %d", ok + 0, n + 0 }' "$work/probe.$label")
    # seconds from the flood's end until the probe and the call were through
    local rec_opt rec_call
    since_end() { awk -v w="$1" -v e="$t_end" '$1 == w { d = $2 - e; printf "%.2f", (d > 0 ? d : 0) }' \
      "$work/recover.$label.$rate"; }
    rec_opt=$(since_end options)
    rec_call=$(since_end call)
    echo "  $rate/s: peak $((peak / 1024)) MB, probes within 1 s $probes, made $made, 486 $r486, 503 $r503," \
      "no final $no_final, recovered: options ${rec_opt:--} s, call ${rec_call:--} s, CPU $cpu s," \
      "flood $(awk -v a="$t0" -v b="$t_end" 'BEGIN { printf "%.1f", b - a }') s"
    [ -s "$work/threads.$label.$rate" ] && echo "    CPU seconds of the busiest threads: $(cat "$work/threads.$label.$rate")"
    echo "flood $rate $peak $probes $made $r486 $r503 $no_final ${rec_opt:--} ${rec_call:--} $cpu" >>"$res"
    sleep "$SETTLE_S"
  done
  kill "$probe" 2>/dev/null || true
  wait "$probe" 2>/dev/null || true
  kill -USR1 "$hold" 2>/dev/null || true
  wait "$hold" || true
  local cleared dropped
  cleared=$(awk '/^cleared/ {print $2}' "$work/hold.$label")
  dropped=$(awk '/^dropped/ {print $2}' "$work/hold.$label")
  echo "  long calls: ${cleared:-0} of 2 cleared by their BYE, ${dropped:-?} ended by the server while held"
  echo "calls ${cleared:-0} ${dropped:--}" >>"$res"
}

# ---- tarn ------------------------------------------------------------------------
# A BRI module: port 1 (two B-channels) carries 101, the flooded number,
# port 2 carries 2xx (the recovery call); the network side of each is a
# q931peer that answers every SETUP at once.
tarn_pid=
start_tarn() {
  local root=$work/root
  bench_tarn_root "$root" nco=16,memory_watchdog=0:0:0
  printf '[lif0]\ntype=dv2S0\nntteSW=te,te\nptp=1,1\n' >"$root/usr/conf/hardware.conf"
  printf 'timeslot 0 1 1 1\ntimeslot 0 1 2 2\ntimeslot 0 2 1 3\ntimeslot 0 2 2 4\n' >"$root/usr/conf/tarn.tdm"
  printf '[one]\nports = 1\n[two]\nports = 2\n' >"$root/usr/conf/tarn.isdn"
  cat >"$root/usr/conf/tarn.sip" <<EOF
[general]
stack_active_lan = 1
interface_name_lan = eth1
sip_transport_lan = udp
rtpports_lan = 6000-6998
EOF
  printf 'SIP\tISDN\t*\tg:one\t101\t\\0\t*\t\\0\t\nSIP\tISDN\t*\tg:two\t2[0-9][0-9]\t\\0\t*\t\\0\t\n' \
    >"$root/usr/conf/tarn.dialplan"
  printf '1 te bri ptp 40001 40002 -\n2 te bri ptp 40003 40004 -\n' >"$root/misdn.ports"
  local n
  for n in 1 2; do
    "${peer[@]}" "$q931peer_bin" --role network --line ptp --local $((40000 + 2 * n)) --peer $((39999 + 2 * n)) \
      --answer-after 0 >"$work/peer$n.out" 2>&1 &
    pids+=($!)
  done
  "${peer[@]}" python3 "$src/sim/mspsim/mspsim.py" --socket "$root/msp.sock" --control "$root/msp.ctl" \
    --ready-file "$root/msp.ready" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    [ -s "$root/msp.ready" ] && grep -q READY "$work/peer1.out" && grep -q READY "$work/peer2.out" && break
    sleep 0.05
  done
  env TARN_ROOT="$root" TARN_MSP_SIM="$root/msp.sock" TARN_MSP_SIM_WAIT_MS=3000 TARN_MISDN_SIM="$root/misdn.ports" ${TARN_ENV:-} \
    ip netns exec "$ns" taskset -c "$SERVER_CORE" "$tarn_bin" </dev/null >"$work/tarn.out" 2>&1 &
  tarn_pid=$!
  pids+=("$tarn_pid")
  for _ in $(seq 120); do
    sleep 0.5
    kill -0 "$tarn_pid" 2>/dev/null || break
    grep -q '^UP' "$work/peer1.out" && grep -q '^UP' "$work/peer2.out" || continue
    if in_ns sipp -sf "$src/tests/e2e/sip/options.xml" $GW:5060 -m 1 -i $GW -p 5062 -timeout 2s \
      -timeout_error -nostdin >/dev/null 2>&1; then
      return 0
    fi
  done
  echo "tarn did not come up; its output:" >&2
  tail -20 "$work/tarn.out" >&2
  exit 1
}

# ---- Kamailio --------------------------------------------------------------------
kam_pids=()
uas_pid=
start_kamailio() {
  "${peer[@]}" sipp -sf "$src/bench/sip/uas.xml" -i $GW -p 5070 -nostdin -bg >/dev/null 2>&1 || true
  uas_pid=$(in_ns ss -lnup 'sport = :5070' | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -1)
  [ -n "$uas_pid" ] && pids+=("$uas_pid")
  in_ns taskset -c "$SERVER_CORE" kamailio -f "$here/kamailio.cfg" -l udp:$GW:5080 -m 256 -M 8 \
    -A "FLOODER=\"$FLOODER\"" -P "$work/kamailio.pid" -Y "$work" -w "$work" >"$work/kamailio.out" 2>&1
  for _ in $(seq 100); do [ -s "$work/kamailio.pid" ] && break; sleep 0.05; done
  local main
  main=$(cat "$work/kamailio.pid")
  sleep 1
  kam_pids=("$main" $(pgrep -P "$main" || true))
  pids+=("${kam_pids[@]}")
}
stop_kamailio() {
  kill "${kam_pids[0]}" 2>/dev/null || true
  [ -n "$uas_pid" ] && kill "$uas_pid" 2>/dev/null || true
  sleep 1
}

# ---- the run ---------------------------------------------------------------------
cpu=$(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)
echo "Overload benchmark on $cpu ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)):" \
  "floods of $RATES INVITE/s, $FLOOD_S s each; server on core $SERVER_CORE, peers on ${PEER_CORE:-any core}, the flood's sipps on ${FLOOD_CORE:-any core}"

if part tarn; then
  echo "tarn ($BUILD_DIR, $(grep -m1 CMAKE_BUILD_TYPE: "$BUILD_DIR/CMakeCache.txt" 2>/dev/null | cut -d= -f2)):"
  label=tarn
  start_tarn
  measure $GW:5060 "$tarn_pid" || true
  kill "$tarn_pid" 2>/dev/null || true
  wait "$tarn_pid" 2>/dev/null || true
fi
if part kamailio; then
  echo "Kamailio (tm, t_reply 486 to the flood):"
  label=kamailio
  start_kamailio
  measure $GW:5080 "${kam_pids[@]}" || true
  stop_kamailio
fi

# ---- the table -------------------------------------------------------------------
fig() { # fig LABEL RATE FIELD: one field of a flood line
  [ -f "$work/result.$1" ] || { echo -; return; }
  awk -v r="$2" -v f="$3" '$1 == "flood" && $2 == r { print $f }' "$work/result.$1"
}
idle() { [ -f "$work/result.$1" ] && awk '$1 == "idle" { printf "%.1f", $2 / 1024 }' "$work/result.$1" || echo -; }
mb() { [ -n "$1" ] && [ "$1" != - ] && awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }' || echo -; }
pct() { [ -n "$1" ] && [ "${2:-0}" -gt 0 ] 2>/dev/null &&
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f%% (%d/%d)", 100 * a / b, a, b }' || echo -; }
echo
printf '%-40s %22s %22s\n' "figure" "tarn" "Kamailio"
printf '%-40s %22s %22s\n' "idle memory, MB (two calls up)" "$(idle tarn)" "$(idle kamailio)"
for rate in $RATES; do
  printf '%-40s %22s %22s\n' "$rate/s: peak memory, MB" "$(mb "$(fig tarn "$rate" 3)")" "$(mb "$(fig kamailio "$rate" 3)")"
  printf '%-40s %22s %22s\n' "$rate/s: probes answered within 1 s" "$(pct "$(fig tarn "$rate" 4)" "$(fig tarn "$rate" 5)")" \
    "$(pct "$(fig kamailio "$rate" 4)" "$(fig kamailio "$rate" 5)")"
  printf '%-40s %22s %22s\n' "$rate/s: INVITEs made / 486 / 503" \
    "$(fig tarn "$rate" 6)/$(fig tarn "$rate" 7)/$(fig tarn "$rate" 8)" \
    "$(fig kamailio "$rate" 6)/$(fig kamailio "$rate" 7)/$(fig kamailio "$rate" 8)"
  printf '%-40s %22s %22s\n' "$rate/s: INVITEs without final answer" "$(fig tarn "$rate" 9)" "$(fig kamailio "$rate" 9)"
  printf '%-40s %22s %22s\n' "$rate/s: server CPU s (flood and its end)" "$(fig tarn "$rate" 12)" "$(fig kamailio "$rate" 12)"
  printf '%-40s %22s %22s\n' "$rate/s: recovery s (probe, call)" "$(fig tarn "$rate" 10), $(fig tarn "$rate" 11)" \
    "$(fig kamailio "$rate" 10), $(fig kamailio "$rate" 11)"
done
calls() { [ -f "$work/result.$1" ] && awk '$1 == "calls" { printf "%s of 2 cleared, %s dropped", $2, $3 }' "$work/result.$1" || echo -; }
printf '%-40s %22s %22s\n' "long calls afterwards" "$(calls tarn)" "$(calls kamailio)"
