#!/usr/bin/env bash
# The SIP call benchmark: tarn (Release build) in a network namespace of its
# own, driven by sipp, beside Kamailio as a stateful record-routing proxy
# (kamailio.cfg) measured the same way in the same run: same scenarios, same
# core for the server, same cores for the two sipp ends. Prints each figure,
# the reference figure and their ratio. Traffic stays on the namespace's
# namespace's own addresses. Needs root. See README.md.
#
#   bench/sip/run.sh            the whole run (about 15 minutes)
#   QUICK=1 bench/sip/run.sh    short steps, for trying the script out
#
# Settings (environment): SERVER_CORE, UAC_CORE, UAS_CORE (default 2, 4, 5),
# STEP_S (seconds per rate step, default 15), RATES (the ladder), PERF=1,
# KEEP=1, BUILD_DIR,
# CPU_RATE/CPU_S (200 calls/s for 30 s), HOLD_CALLS/HOLD_MS/SETTLE_S (50
# calls held 50 s, 40 s to settle), ISDN_PORTS (4),
# PARTS (default "kamailio tarn4 tarn0 isdn": which servers to measure).
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
here=$src/bench/sip
. "$src/bench/lib.sh"

if [ "$(id -u)" != 0 ]; then
  echo "bench/sip/run.sh: needs root (network namespace, package install)" >&2
  exit 1
fi

SERVER_CORE=${SERVER_CORE:-2}
UAC_CORE=${UAC_CORE:-4}
UAS_CORE=${UAS_CORE:-5}
STEP_S=${STEP_S:-15}
RATES=${RATES:-"250 500 750 1000 1250 1500 1750 2000 2500 3000 3500 4000 4500 5000 6000"}
CPU_RATE=${CPU_RATE:-200}
CPU_S=${CPU_S:-30}
PARTS=${PARTS:-kamailio tarn4 tarn0 isdn}
part() { [[ " $PARTS " == *" $1 "* ]]; }
HOLD_CALLS=${HOLD_CALLS:-50}
HOLD_MS=${HOLD_MS:-50000}
SETTLE_S=${SETTLE_S:-40}
if [ -n "${QUICK:-}" ]; then
  STEP_S=4
  RATES="200 400 800"
  CPU_S=5
  HOLD_MS=15000
  SETTLE_S=5
fi

# ---- tools and the Release build ------------------------------------------------
bench_tools
# BUILD_DIR names an existing tree instead (its build type is then the
# tree's own: say so beside the figures)
if [ -z "${BUILD_DIR:-}" ]; then
  BUILD_DIR=build-release
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARN_BENCH=OFF >/dev/null
  cmake --build "$BUILD_DIR" -j"${JOBS:-8}" --target tarn q931peer >/dev/null
fi
tarn_bin=${TARN_BIN:-$src/$BUILD_DIR/src/tarn/tarn}

# ---- the namespace ---------------------------------------------------------------
ns=tarn-bench-$$
work=$(mktemp -d /tmp/tarn-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  ip netns del "$ns" 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
bench_netns "$ns" 10.0.0.1
in_ns() { ip netns exec "$ns" "$@"; }

# ---- helpers ---------------------------------------------------------------------
# The far end: sipp answering on 10.0.0.1:5070 until it is killed.
uas_pid=
start_uas() {
  in_ns taskset -c "$UAS_CORE" sipp -sf "$here/uas.xml" -i 10.0.0.1 -p 5070 -nostdin -bg \
    -max_socket 60000 -buff_size 4194304 -trace_err -error_file "$work/uas.err" >/dev/null 2>&1 || true
  uas_pid=$(in_ns ss -lnup 'sport = :5070' | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -1)
  [ -n "$uas_pid" ] && pids+=("$uas_pid")
}
stop_uas() {
  [ -n "$uas_pid" ] && kill "$uas_pid" 2>/dev/null || true
  uas_pid=
}
# One sipp caller run against $1 (address:port): rate $2, $3 calls, more
# sipp arguments after that. Sets run_ok (exit 0 and no failed call),
# run_done (successful calls) and run_failed.
run_uac() {
  local target=$1 rate=$2 calls=$3
  shift 3
  local out=$work/uac.out rc=0
  in_ns taskset -c "$UAC_CORE" sipp -sf "$here/uac.xml" "$target" -s 100 -i 10.0.0.1 -p 5061 \
    -r "$rate" -rp 1000 -m "$calls" -l 100000 -nostdin -max_socket 60000 -buff_size 4194304 \
    -timeout "$((calls / rate + 60 + ${hold_s:-0}))s" -timeout_error ${UAC_ARGS:-} "$@" \
    >"$out" 2>&1 || rc=$?
  # the cumulative column of the final statistics screen
  run_done=$(awk -F'|' '/Successful call/ {gsub(/ /, "", $3); v = $3} END {print v}' "$out")
  run_failed=$(awk -F'|' '/Failed call/ {gsub(/ /, "", $3); v = $3} END {print v}' "$out")
  run_ok=0
  if [ "$rc" = 0 ] && [ "${run_failed:-1}" = 0 ]; then run_ok=1; fi
  cp "$out" "$work/uac-${label:-x}${phase:+-$phase}-$rate.out" 2>/dev/null || true
}
# The highest rate of the ladder with no failed call, against $1.
ladder() {
  local target=$1 best=0 rate
  for rate in $RATES; do
    run_uac "$target" "$rate" $((rate * STEP_S))
    if [ "$run_ok" = 1 ]; then
      best=$rate
      echo "    $rate calls/s: ok" >&2
    else
      echo "    $rate calls/s: ${run_failed:-?} failed calls (of $((rate * STEP_S)))" >&2
      break
    fi
    sleep 2
  done
  echo "$best"
}
# CPU microseconds per call at CPU_RATE for CPU_S seconds against $1,
# server processes in the rest of the arguments.
cpu_per_call() {
  local target=$1
  shift
  local hz before after
  hz=$(getconf CLK_TCK)
  before=$(ticks "$@")
  phase=cpu run_uac "$target" "$CPU_RATE" $((CPU_RATE * CPU_S))
  after=$(ticks "$@")
  awk -v d=$((after - before)) -v hz="$hz" -v n="${run_done:-0}" \
    'BEGIN { if (n > 0) printf "%.1f\n", d / hz * 1e6 / n; else print "nan" }'
}
# KB per held call against $1, server processes in the rest: a warm-up
# of a few calls (the first call's one-time set-ups), SETTLE_S seconds for
# the transactions of those calls to end (the SIP stack keeps a finished
# INVITE transaction 32 s), the idle figure, then HOLD_CALLS calls held
# HOLD_MS: the figure sampled once their own set-up transactions have
# ended too, minus the idle figure, divided by the calls.
mem_per_call() {
  local target=$1
  shift
  phase=warm run_uac "$target" 10 10
  sleep "$SETTLE_S"
  local idle sum=0 i
  idle=$(mem_kb "$@")
  ( hold_s=$((HOLD_MS / 1000)) phase=hold; run_uac "$target" 100 "$HOLD_CALLS" -d "$HOLD_MS"
    echo "$run_ok $run_done" >"$work/hold.result" ) &
  local uac=$!
  # the calls are up after HOLD_CALLS/100 s
  local up=$((HOLD_CALLS / 100 + 1)) wait_s=$((HOLD_MS / 1000 - 6))
  [ "$wait_s" -gt $((up + SETTLE_S)) ] && wait_s=$((up + SETTLE_S))
  sleep "$wait_s"
  for i in 1 2 3 4 5; do
    sum=$((sum + $(mem_kb "$@")))
    sleep 1
  done
  wait "$uac" || true
  local ok done
  read -r ok done <"$work/hold.result"
  if [ "$ok" != 1 ] || [ "$done" != "$HOLD_CALLS" ]; then
    echo "    held calls: $done of $HOLD_CALLS completed" >&2
    echo nan
    return
  fi
  awk -v a="$sum" -v b="$idle" -v n="$HOLD_CALLS" 'BEGIN { printf "%.1f\n", (a / 5 - b) / n }'
}

# ---- tarn ------------------------------------------------------------------------
msp_pid=
tarn_pid=
start_tarn() { # $1: s2s_rtp_handling_method
  local root=$work/root
  bench_tarn_root "$root" nco=256,memory_watchdog=0:0:0
  : >"$root/usr/conf/tarn.tdm"
  cat >"$root/usr/conf/tarn.sip" <<EOF
[general]
stack_active_lan = 1
interface_name_lan = eth1
sip_transport_lan = udp
rtpports_lan = 6000-9000
[far]
sip_stack=lan
sip_proxy=10.0.0.1:5070
EOF
  local env=()
  if [ "$1" = isdn ]; then
    isdn_setup "$root"
    env=("TARN_MISDN_SIM=$root/misdn.ports")
  else
    printf 'SIP\tSIP\t*\tp:far\t.*\t\\0\t*\t\\0\ts2s_rtp_handling_method=%s\n' "$1" >"$root/usr/conf/tarn.dialplan"
  fi
  # started without in_ns: $! is then mspsim's own pid (ip execs it)
  ip netns exec "$ns" python3 "$src/sim/mspsim/mspsim.py" --socket "$root/msp.sock" --control "$root/msp.ctl" \
    --ready-file "$root/msp.ready" --processor-id 1 --channels 256 ${MSPSIM_ARGS:-} >/dev/null 2>&1 &
  msp_pid=$!
  pids+=("$msp_pid")
  for _ in $(seq 100); do [ -s "$root/msp.ready" ] && break; sleep 0.05; done
  env TARN_ROOT="$root" TARN_MSP_SIM="$root/msp.sock" TARN_MSP_SIM_WAIT_MS=3000 "${env[@]}" ${TARN_ENV:-} \
    ip netns exec "$ns" taskset -c "$SERVER_CORE" "$tarn_bin" >"$work/tarn.out" 2>&1 &
  tarn_pid=$!
  pids+=("$tarn_pid")
  # up once it answers a call
  local i
  for i in $(seq 60); do
    sleep 1
    if [ "$1" = isdn ] && ! isdn_up; then continue; fi
    if in_ns sipp -sf "$src/tests/e2e/sip/options.xml" 10.0.0.1:5060 -m 1 -i 10.0.0.1 -p 5062 -timeout 2s \
      -timeout_error -nostdin >/dev/null 2>&1; then
      return 0
    fi
  done
  echo "tarn did not come up; its output:" >&2
  tail -20 "$work/tarn.out" >&2
  exit 1
}
stop_tarn() {
  kill "$tarn_pid" 2>/dev/null || true
  wait "$tarn_pid" 2>/dev/null || true
  kill "$msp_pid" 2>/dev/null || true
  wait "$msp_pid" 2>/dev/null || true
  local p
  for p in "${peer_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${peer_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  peer_pids=()
}

# ---- ISDN ports for the SIP-to-ISDN figure -------------------------------------
# ISDN_PORTS E1 TE ports (two a module, up to six), 30 B-channels each on
# the TDM buses, every port facing a q931peer network side that answers
# each SETUP at once (--answer-after 0) and releases each DISCONNECT. The
# D-channels are UDP sockets on the namespace's loopback.
ISDN_PORTS=${ISDN_PORTS:-4}
peer_pids=()
q931peer_bin=$src/$BUILD_DIR/sim/q931peer/q931peer
isdn_setup() { # $1: TARN_ROOT
  local root=$1 n m ch list=
  : >"$root/misdn.ports"
  : >"$root/usr/conf/tarn.tdm"
  : >"$root/usr/conf/hardware.conf"
  for ((m = 0; m < (ISDN_PORTS + 1) / 2; m++)); do
    printf '[lif%d]\ntype=dv2E1\n' "$m" >>"$root/usr/conf/hardware.conf"
  done
  for ((n = 1; n <= ISDN_PORTS; n++)); do
    echo "$n te e1 ptp $((41000 + 2 * n)) $((41001 + 2 * n)) -" >>"$root/misdn.ports"
    # two ports a bus, 30 timeslots each
    for ((ch = 1; ch <= 31; ch++)); do
      [ "$ch" = 16 ] && continue
      echo "timeslot $(((n - 1) / 2)) $n $ch $((((n - 1) % 2) * 31 + ch))" >>"$root/usr/conf/tarn.tdm"
    done
    list=${list:+$list,}$n
    ip netns exec "$ns" "$q931peer_bin" --role network --line e1 --local $((41001 + 2 * n)) --peer $((41000 + 2 * n)) \
      --answer-after 0 >"$work/peer$n.out" 2>&1 &
    peer_pids+=($!)
    pids+=($!)
  done
  printf '[e1]\nports = %s\n' "$list" >"$root/usr/conf/tarn.isdn"
  printf 'SIP\tISDN\t*\tg:e1\t*\t\\0\t*\t\\0\t\n' >"$root/usr/conf/tarn.dialplan"
  for ((n = 1; n <= ISDN_PORTS; n++)); do
    for _ in $(seq 100); do grep -q READY "$work/peer$n.out" && break; sleep 0.05; done
  done
}
# Every ISDN port's link is up.
isdn_up() {
  local n
  for ((n = 1; n <= ISDN_PORTS; n++)); do grep -q '^UP' "$work/peer$n.out" || return 1; done
}

# ---- Kamailio --------------------------------------------------------------------
kam_pids=()
start_kamailio() {
  in_ns taskset -c "$SERVER_CORE" kamailio -f "$here/kamailio.cfg" -l udp:10.0.0.1:5080 -m 256 -M 16 \
    -P "$work/kamailio.pid" -Y "$work" -w "$work" >"$work/kamailio.out" 2>&1
  for _ in $(seq 100); do [ -s "$work/kamailio.pid" ] && break; sleep 0.05; done
  local main
  main=$(cat "$work/kamailio.pid")
  sleep 1
  kam_pids=("$main" $(pgrep -P "$main" || true))
  pids+=("${kam_pids[@]}")
}
stop_kamailio() {
  kill "${kam_pids[0]}" 2>/dev/null || true
  sleep 1
}

# ---- the run ---------------------------------------------------------------------
cpu=$(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)
echo "SIP call benchmark on $cpu ($(nproc) cores), server on core $SERVER_CORE, sipp on $UAC_CORE and $UAS_CORE"
start_uas

# The three figures against $1 (address:port), server processes in the
# rest: m_rate, m_cpu, m_mem. PERF=1 profiles the first process during the
# CPU run into $work/perf.data.
measure() {
  local target=$1
  shift
  echo "  rate ladder"
  m_rate=$(ladder "$target")
  echo "  CPU per call at $CPU_RATE calls/s"
  local perf_pid=
  if [ -n "${PERF:-}" ]; then
    perf record -q ${PERF_ARGS:--g} -p "$1" -o "$work/perf.data" >/dev/null 2>&1 &
    perf_pid=$!
  fi
  m_cpu=$(cpu_per_call "$target" "$@")
  if [ -n "$perf_pid" ]; then kill -INT "$perf_pid"; wait "$perf_pid" || true; fi
  echo "  memory per held call"
  m_mem=$(mem_per_call "$target" "$@")
}

k_rate= k_cpu= k_mem= t_rate= t_cpu= t_mem= t0_rate=
if part kamailio; then
  echo "Kamailio (stateful proxy, record-route):"
  label=kamailio
  start_kamailio
  PERF= measure 10.0.0.1:5080 "${kam_pids[@]}"
  k_rate=$m_rate k_cpu=$m_cpu k_mem=$m_mem
  stop_kamailio
fi

if part tarn4; then
  echo "tarn, s2s_rtp_handling_method 4 (media through the media processor):"
  label=tarn4
  start_tarn 4
  measure 10.0.0.1:5060 "$tarn_pid"
  t_rate=$m_rate t_cpu=$m_cpu t_mem=$m_mem
  stop_tarn
fi

if part tarn0; then
  echo "tarn, s2s_rtp_handling_method 0 (default, relay threads):"
  label=tarn0
  start_tarn 0
  t0_rate=$(ladder 10.0.0.1:5060)
  stop_tarn
fi
stop_uas

i_rate=
if part isdn; then
  echo "tarn, SIP to ISDN ($ISDN_PORTS E1 TE ports, q931peer --answer-after 0 on each):"
  label=isdn
  start_tarn isdn
  t0=$(ticks "$tarn_pid") m0=$(ticks "$msp_pid") p0=$(ticks "${peer_pids[@]}")
  i_rate=$(ladder 10.0.0.1:5060)
  # which process saturates: CPU seconds of each over the ladder
  secs() { awk -v t="$1" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.1f", t / hz }'; }
  echo "    CPU seconds over the ladder: tarn $(secs $(($(ticks "$tarn_pid") - t0)))," \
    "mspsim $(secs $(($(ticks "$msp_pid") - m0))), q931peers $(secs $(($(ticks "${peer_pids[@]}") - p0)))"
  stop_tarn
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
echo
printf '%-36s %12s %12s %8s  %s\n' "figure" "tarn" "Kamailio" "ratio" "target"
printf '%-36s %12s %12s %8s  %s\n' "SIP-to-SIP calls/s (method 4)" "$t_rate" "$k_rate" "$(ratio "$t_rate" "$k_rate")" ">= 0.40"
printf '%-36s %12s %12s %8s  %s\n' "SIP-to-SIP calls/s (method 0)" "$t0_rate" "$k_rate" "$(ratio "$t0_rate" "$k_rate")" "-"
printf '%-36s %12s %12s %8s  %s\n' "CPU us per call at $CPU_RATE calls/s" "$t_cpu" "$k_cpu" "$(ratio "$t_cpu" "$k_cpu")" "<= 2.5"
printf '%-36s %12s %12s %8s  %s\n' "KB per held call ($HOLD_CALLS calls)" "$t_mem" "$k_mem" "$(ratio "$t_mem" "$k_mem")" "tarn <= 40 KB"
if [ -n "$i_rate" ]; then
  printf '%-36s %12s %12s %8s  %s\n' "SIP-to-ISDN calls/s" "$i_rate" "$t_rate" "$(ratio "$i_rate" "$t_rate")" ">= 0.67 of tarn's SIP-to-SIP"
fi
