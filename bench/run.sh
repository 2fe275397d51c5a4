#!/usr/bin/env bash
# Measures what one call of vantrel-dim costs a script, beside a minimal C
# client doing the same observable work (bench/c_client.c), both against a
# local vantrel-sim:
#   - instructions of one whole call, loader included (callgrind: the same
#     count on a busy machine, so this is the figure to optimise);
#   - a fade, 256 calls with levels 0..255 from a shell loop, timed in pairs
#     (tool, then C client) after a warm-up: median wall time and per call;
#   - peak resident memory of one call (/usr/bin/time -v).
#
# usage: bench/run.sh [BUILD_DIR] [PAIRS]    (defaults: build/default, 10)
# Needs valgrind, GNU time (/usr/bin/time) and a C compiler (cc).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
pairs=${2:-10}
tool=$build/vantrel-dim
sim=$build/vantrel-sim
(( pairs >= 8 )) || { echo "bench: at least 8 pairs, please" >&2; exit 2; }
[[ -x $tool && -x $sim ]] || { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }
for need in valgrind /usr/bin/time cc; do
  command -v "$need" >/dev/null || { echo "bench: $need is missing" >&2; exit 2; }
done
# Both print the Japanese halves of the verdicts, as a user's console would.
export LC_ALL=${LC_ALL:-C.UTF-8}

work=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

client=$work/c_client
cc -O2 -o "$client" bench/c_client.c

"$sim" --port 0 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do
  [[ -s $work/sim.out ]] && break
  sleep 0.1
done
port=$(head -n 1 "$work/sim.out")
[[ -n $port ]] || { echo "bench: vantrel-sim did not start" >&2; exit 1; }

# Both must report success, or the figures compare different work.
for program in "$tool" "$client"; do
  "$program" 127.0.0.1 "$port" 1 128 | grep -q 'Output succeeded' ||
    { echo "bench: $program did not get its echo" >&2; exit 1; }
done

instructions() {
  valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
    "$1" 127.0.0.1 "$port" 1 128 2>&1 >/dev/null | sed -n 's/.*Collected : *//p'
}

peak_kib() {
  /usr/bin/time -v "$1" 127.0.0.1 "$port" 1 128 2>&1 >/dev/null |
    sed -n 's/.*Maximum resident set size (kbytes): *//p'
}

fade_ns() {
  local start end level
  start=$(date +%s%N)
  for level in $(seq 0 255); do
    "$1" 127.0.0.1 "$port" 1 "$level" >/dev/null
  done
  end=$(date +%s%N)
  echo $((end - start))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

tool_instr=$(instructions "$tool")
client_instr=$(instructions "$client")
tool_kib=$(peak_kib "$tool")
client_kib=$(peak_kib "$client")

fade_ns "$tool" >/dev/null
fade_ns "$client" >/dev/null
: >"$work/tool.ns"
: >"$work/client.ns"
for _ in $(seq "$pairs"); do
  fade_ns "$tool" >>"$work/tool.ns"
  fade_ns "$client" >>"$work/client.ns"
done
tool_ns=$(median <"$work/tool.ns")
client_ns=$(median <"$work/client.ns")

echo "vantrel-dim $(git describe --always --dirty 2>/dev/null || echo '?'), $(uname -m), $(nproc) cores, LC_ALL=$LC_ALL, $pairs pairs"
awk -v ti="$tool_instr" -v ci="$client_instr" -v tn="$tool_ns" -v cn="$client_ns" \
    -v tk="$tool_kib" -v ck="$client_kib" 'BEGIN {
  printf "%-26s %14s %14s %8s %s\n", "", "vantrel-dim", "C client", "ratio", "target"
  printf "%-26s %14d %14d %8.3f %s\n", "instructions per call", ti, ci, ti / ci, "<= 1.05"
  printf "%-26s %14.1f %14.1f %8.3f %s\n", "fade of 256 calls, ms", tn / 1e6, cn / 1e6, tn / cn, "<= 1.10"
  printf "%-26s %14.3f %14.3f\n", "ms per call", tn / 256e6, cn / 256e6
  printf "%-26s %14d %14d %+8d %s\n", "peak RSS, KiB", tk, ck, tk - ck, "<= +1024"
  met = ti <= 1.05 * ci && tn <= 1.10 * cn && tk <= ck + 1024
  print met ? "all targets met" : "TARGET MISSED"
  exit met ? 0 : 1
}'
