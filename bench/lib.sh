# Shell pieces the benchmarks share (sourced by bench/*/run.sh).

# CPU ticks (utime + stime) of the processes given.
ticks() {
  local sum=0 p
  for p in "$@"; do
    if [ -r "/proc/$p/stat" ]; then
      # fields after the command name: 14th and 15th of the line
      sum=$((sum + $(sed 's/^.*) //' "/proc/$p/stat" | awk '{print $12 + $13}')))
    fi
  done
  echo "$sum"
}

# Memory in KB: VmRSS of one process, or the sum of Pss over several (the
# reference's processes share their memory).
mem_kb() {
  if [ $# -eq 1 ]; then
    awk '/^VmRSS:/ {print $2}' "/proc/$1/status"
  else
    local sum=0 p
    for p in "$@"; do sum=$((sum + $(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup"))); done
    echo "$sum"
  fi
}

# A fresh TARN_ROOT at $1 for a daemon on eth1 (SIP and media processor
# link), logging at its quietest (no -l on the command line: a level given
# there makes tarn skip the three logging switches), the experimental
# options $2; tarn.conf and an empty misc.conf written, the rest is the
# caller's.
bench_tarn_root() {
  local root=$1
  rm -rf "$root"
  mkdir -p "$root/usr/conf" "$root/var/log" "$root/var/tmp" "$root/tmp" "$root/sys/class/quilmar/safeguard"
  cat >"$root/usr/conf/tarn.conf" <<EOC
[general]
interface_host = eth1
interface_msp = eth1
loglevel_debug = 0
loglevel_message = 0
logging_debug = 0
logging_message = 0
logging_nmessage = 0
sofialogsizelimit = 0
experimental_options = $2
EOC
  printf '[general]\n' >"$root/usr/conf/misc.conf"
}

# sipp, Kamailio and taskset, installed from the distribution when missing.
bench_tools() {
  export DEBIAN_FRONTEND=noninteractive
  local need=()
  command -v sipp >/dev/null || need+=(sip-tester)
  command -v kamailio >/dev/null || need+=(kamailio)
  command -v taskset >/dev/null || need+=(util-linux)
  if [ ${#need[@]} -gt 0 ]; then
    apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
  fi
}

# The network namespace $1 with the addresses after it (/24) on its eth1.
# The media processor link needs a real interface: eth1 is one end of a
# veth pair whose other end (eth1p) stays inside too.
bench_netns() {
  local ns=$1 a
  shift
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  ip -n "$ns" link add eth1 type veth peer name eth1p
  for a in "$@"; do ip -n "$ns" addr add "$a/24" dev eth1; done
  ip -n "$ns" link set eth1 up
  ip -n "$ns" link set eth1p up
}
