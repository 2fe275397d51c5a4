#!/usr/bin/env bash
# Measures what an idle vantrel-sim costs: 256 units that no client talks
# to, their CPU time over 10 s (user and system, of every thread, from
# /proc/PID/task/*/schedstat, in nanoseconds), as a share of one core; then
# how long a SIGINT takes to end every thread. Target: under 0.5 %.
#
# usage: bench/sim_idle.sh [BUILD_DIR] [SECONDS]    (defaults: build/default, 10)
# Linux only. Not a test: CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
seconds=${2:-10}
sim=$build/vantrel-sim
[[ -x $sim ]] || { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }

out=$(mktemp)
"$sim" --port 0 --units 256 >"$out" &
pid=$!
trap 'kill "$pid" 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 50); do
  [[ $(wc -l <"$out") -ge 256 ]] && break
  sleep 0.1
done
sleep 1  # every thread at its wait

cpu_ns() { cat /proc/"$pid"/task/*/schedstat | awk '{ sum += $1 } END { print sum }'; }
before=$(cpu_ns)
sleep "$seconds"
after=$(cpu_ns)
start=$(date +%s%N)
kill -INT "$pid"
wait "$pid"
status=$?
end=$(date +%s%N)

echo "vantrel-sim $(git describe --always --dirty 2>/dev/null || echo '?'), $(uname -m), $(nproc) cores"
awk -v cpu=$((after - before)) -v s="$seconds" -v stop=$((end - start)) -v status="$status" 'BEGIN {
  share = cpu / (s * 1e9) * 100
  printf "%-44s %12s %s\n", "", "measured", "target"
  printf "%-44s %9.3f ms\n", "256 idle units, CPU over " s " s", cpu / 1e6
  printf "%-44s %10.4f %% < 0.5 %%\n", "  share of one core", share
  printf "%-44s %9.1f ms (exit status %d)\n", "SIGINT to the end of every thread", stop / 1e6, status
  met = share < 0.5 && status == 0
  print met ? "all targets met" : "TARGET MISSED"
  exit met ? 0 : 1
}'
