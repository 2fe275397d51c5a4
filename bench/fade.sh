#!/usr/bin/env bash
# Measures vantrel-fade where its users feel it:
#   (a) speed: a fade with --over 0 from 0 to 255 (256 commands) against
#       bench/c_units_client.c doing the same 256 blocking exchanges, one
#       after another in one process, both against vantrel-sim, timed in
#       pairs after a warm-up; the medians, and the median of the pairs'
#       ratios, which a load that comes and goes shifts least. The fade's
#       time includes remembering the level it confirmed. Target: the ratio
#       at most 1.10.
#   (b) schedule: a 2 s fade of 100 steps against bench/timing_peer.c, which
#       notes when each command arrives. A command's lateness is its arrival
#       after the first command's, less its due time (2 s × k / 100).
#       Targets: p50 and p99 of the lateness, p99 <= 1 ms, max <= 3 ms, and
#       the last command within 2 ms of 2 s.
#
# usage: bench/fade.sh [BUILD_DIR] [PAIRS]    (defaults: build/default, 10)
# Needs a C compiler (cc). Not a test: CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
pairs=${2:-10}
fade=$build/vantrel-fade
sim=$build/vantrel-sim
(( pairs >= 8 )) || { echo "bench: at least 8 pairs, please" >&2; exit 2; }
[[ -x $fade && -x $sim ]] || { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }
command -v cc >/dev/null || { echo "bench: cc is missing" >&2; exit 2; }
export LC_ALL=${LC_ALL:-C.UTF-8}

work=$(mktemp -d)
export VANTREL_STATE=$work/levels
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a peer in the background and sets `port` from its first line.
start_peer() {
  local out=$1; shift
  "$@" >"$out" &
  pids+=($!)
  for _ in $(seq 50); do
    [[ -s $out ]] && break
    sleep 0.1
  done
  port=$(head -n 1 "$out")
  [[ -n $port ]] || { echo "bench: $1 did not start" >&2; exit 1; }
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# (a) a fast fade against the least a program does for the same exchanges
cc -O2 -o "$work/c_units_client" bench/c_units_client.c
start_peer "$work/sim.out" "$sim" --port 0
"$fade" --over 0 127.0.0.1 "$port" 1 0 255 | grep -q '^Level 255 confirmed' ||
  { echo "bench: the fade was not confirmed" >&2; exit 1; }
read -ra ports <<<"$(yes "$port" | head -n 256 | tr '\n' ' ')"

# Microseconds from bash's own clock: a `date` process would add its own
# start to both sides.
now_us() { echo "${EPOCHREALTIME/./}"; }
c_us() {
  local start end
  start=$(now_us)
  "$work/c_units_client" 1 128 "${ports[@]}"
  end=$(now_us)
  echo $((end - start))
}
fade_us() {
  local start end
  start=$(now_us)
  "$fade" --quiet --over 0 127.0.0.1 "$port" 1 0 255
  end=$(now_us)
  echo $((end - start))
}

c_us >/dev/null
fade_us >/dev/null
for _ in $(seq "$pairs"); do
  c=$(c_us)
  fast=$(fade_us)
  echo "$c" >>"$work/c.us"
  echo "$fast" >>"$work/fade.us"
  echo "$fast $c" | awk '{ print $1 / $2 }' >>"$work/ratio"
done
c=$(median <"$work/c.us")
fast=$(median <"$work/fade.us")
ratio=$(median <"$work/ratio")

# (b) a timed fade, as the unit sees it
cc -O2 -o "$work/timing_peer" bench/timing_peer.c
start_peer "$work/peer.out" "$work/timing_peer" 101
"$fade" --quiet --over 2s --steps 100 127.0.0.1 "$port" 1 0 200
wait "${pids[-1]}"
tail -n +2 "$work/peer.out" | awk 'NR > 1 { k = NR - 1; print $1 - int((2000000 * k + 99) / 100) }' \
  | sort -n >"$work/lateness.us"
last=$(tail -n 1 "$work/peer.out")

echo "vantrel-fade $(git describe --always --dirty 2>/dev/null || echo '?'), $(uname -m), $(nproc) cores, $pairs pairs"
awk -v c="$c" -v fast="$fast" -v ratio="$ratio" -v last="$last" -v pairs="$pairs" '
  { late[NR] = $1 }
  END {
    p50 = late[int(NR * 0.50 + 0.5)]; p99 = late[int(NR * 0.99 + 0.5)]; max = late[NR]
    drift = last - 2000000
    printf "%-44s %12s %s\n", "", "measured", "target"
    printf "%-44s %9.2f ms\n", "C client, 256 exchanges one after another", c / 1e3
    printf "%-44s %9.2f ms\n", "vantrel-fade --over 0, 256 commands", fast / 1e3
    printf "%-44s %12.3f <= 1.100\n", "  fade / C client, median of the pairs", ratio
    printf "%-44s %9.3f ms <= 1 ms\n", "2 s fade, 100 steps: lateness p50", p50 / 1000
    printf "%-44s %9.3f ms <= 1 ms\n", "  lateness p99", p99 / 1000
    printf "%-44s %9.3f ms <= 3 ms\n", "  lateness max", max / 1000
    printf "%-44s %9.3f ms within 2 ms of 2000\n", "  last command at", last / 1000
    met = ratio <= 1.10 && p99 <= 1000 && max <= 3000 && drift <= 2000 && drift >= -2000
    print met ? "all targets met" : "TARGET MISSED"
    exit met ? 0 : 1
  }' "$work/lateness.us"
