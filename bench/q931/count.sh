#!/usr/bin/env bash
# Instructions per run of each q931_bench case, counted by callgrind (steady
# on a loaded machine, unlike times). Usage: bench/q931/count.sh [binary] [case...]
set -euo pipefail
bin=${1:-build/bench/q931/q931_bench}
shift || true
cases=("$@")
if [ ${#cases[@]} -eq 0 ]; then
  cases=(BM_Build/SETUP/0 BM_Build/SETUP/1 BM_Build/CONNECT/0 BM_Build/CONNECT/1
         BM_Build/DISCONNECT/0 BM_Build/DISCONNECT/1 BM_Parse/SETUP/0 BM_Parse/SETUP/1
         BM_Parse/CONNECT/0 BM_Parse/CONNECT/1 BM_Parse/DISCONNECT/0 BM_Parse/DISCONNECT/1
         BM_CallCycle_tarn BM_CallCycle_libpri BM_CallCycle_tarn_traced)
fi
for c in "${cases[@]}"; do
  out=$(valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file=/dev/null "$bin" "--count=$c" 2>&1)
  runs=$(sed -n 's/.*: \([0-9]*\) runs$/\1/p' <<<"$out")
  ir=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' <<<"$out")
  if [ -z "$runs" ] || [ -z "$ir" ]; then
    echo "$c: no count" >&2
    continue
  fi
  printf '%-26s %8d instructions\n' "$c" $((ir / runs))
done
