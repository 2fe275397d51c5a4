#!/usr/bin/env bash
# Measures vantrel, which sets and fades many units at once, against
# bench/units_peer.c, a C peer that serves many units on ports of 127.0.0.1
# and notes when each command arrives at its unit:
#   (a) scale: `vantrel set all 255` of 256 units, whole process start
#       included, against bench/c_units_client.c doing the same 256
#       exchanges one after another in one process; both against the same
#       peer, timed in pairs (vantrel, then C) after a warm-up; medians.
#       Target: vantrel takes at most 1.5 times the C client's time.
#   (b) schedule: a 2 s fade of 16 units from 0 to 200 in 80 steps. A
#       command's lateness is its arrival less the earliest first command's
#       arrival of all units (they share one time 0), less its due time
#       (2 s × k / 80); the spread of step k is its latest arrival less its
#       earliest over the units. Targets: lateness p99 <= 1 ms, max <= 3 ms;
#       spread p99 <= 2 ms. Every unit must get its 81 levels in order, or
#       the figures mean nothing and the bench reports itself broken.
#   (c) CPU: user + system time of a 10 s fade of 16 units from 0 to 255
#       (the default steps: 256 commands each) as a share of one core over
#       the run's wall time. Target: under 10 %.
# vantrel remembers its levels in the scratch folder (VANTREL_STATE): that
# write is part of what a run costs, so it stays in the figures.
#
# With CURVE, (b) and (c) run again in the same run on units with
# `curve = CURVE`, whose bytes come from the program's own mapping
# (curve_table), only the changed ones sent; targets: lateness p99 and the
# share of a core at most 1.02 times those without.
#
# With VANTREL_BENCH_SERVICE=1, vantrel goes through a vantreld of the
# bench's own (on its own socket, from a units file that names none of the
# bench's units, which take the tool's file's curve), and (c) counts the
# service's CPU time with the tool's.
#
# usage: bench/vantrel.sh [BUILD_DIR] [PAIRS] [CURVE]    (defaults: build/default, 10, none)
# Linux only (the peer reads the kernel's receive stamps). Needs a C compiler
# (cc). Not a test: CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
pairs=${2:-10}
curve=${3:-}
vantrel=$build/vantrel
table=$build/curve_table
(( pairs >= 8 )) || { echo "bench: at least 8 pairs, please" >&2; exit 2; }
[[ -x $vantrel && -x $table ]] || { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }
command -v cc >/dev/null || { echo "bench: cc is missing" >&2; exit 2; }
# Decimal points, not commas, in what bash's `time` and awk print.
export LC_ALL=C

work=$(mktemp -d)
export VANTREL_STATE=$work/state/levels
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -Wall -Wextra -o "$work/units_peer" bench/units_peer.c
cc -O2 -Wall -Wextra -o "$work/c_units_client" bench/c_units_client.c

source bench/units_peer.sh

service_pid=
if [[ -n ${VANTREL_BENCH_SERVICE:-} ]]; then
  printf '[units.spare]\naddress = "127.0.0.1"\nport = 9\ntype = 1\n' >"$work/service.toml"
  VANTREL_SOCKET=$work/vantreld.sock VANTREL_STATE=$work/service-levels \
    "$build/vantreld" --config "$work/service.toml" --verbose >"$work/vantreld.out" 2>&1 &
  service_pid=$!
  pids+=("$service_pid")
  for _ in $(seq 50); do
    grep -q 'the tools reach it' "$work/vantreld.out" && break
    sleep 0.1
  done
  grep -q 'the tools reach it' "$work/vantreld.out" || { cat "$work/vantreld.out" >&2; echo "bench: vantreld did not start" >&2; exit 1; }
  export VANTREL_SOCKET=$work/vantreld.sock
fi
# The service's CPU time so far, in seconds; 0 without one.
service_cpu() {
  [[ -n $service_pid ]] || { echo 0; return; }
  awk -v tck="$(getconf CLK_TCK)" '{ print ($14 + $15) / tck }' "/proc/$service_pid/stat"
}

# (a) 256 units at once, against the least a program can do for them
start_peer 256 "$work/peer256.out"
write_units "$work/units256.toml" "${ports[@]}"

vantrel_us() {
  local start=$EPOCHREALTIME
  "$vantrel" --config "$work/units256.toml" set all 255 >/dev/null 2>"$work/vantrel.err" ||
    { cat "$work/vantrel.err" >&2; echo "bench: vantrel set all 255 failed" >&2; exit 1; }
  elapsed_us "$start" "$EPOCHREALTIME"
}
client_us() {
  local start=$EPOCHREALTIME
  "$work/c_units_client" 1 255 "${ports[@]}" || { echo "bench: the C client failed" >&2; exit 1; }
  elapsed_us "$start" "$EPOCHREALTIME"
}

vantrel_us >/dev/null
client_us >/dev/null
# A run that could not remember its levels would cost less than a real one
# (through the service, the service remembers them).
if [[ -s $work/vantrel.err || ( -z $service_pid && $(grep -c ' 255 ' "$VANTREL_STATE") != 256 ) ]]; then
  cat "$work/vantrel.err" >&2
  echo "bench: vantrel did not remember the 256 levels in $VANTREL_STATE" >&2
  exit 1
fi
for _ in $(seq "$pairs"); do
  vantrel_us >>"$work/vantrel.us"
  client_us >>"$work/client.us"
done
scale_vantrel=$(median <"$work/vantrel.us")
scale_client=$(median <"$work/client.us")
stop_peer

# The same units with `curve = CURVE` under each unit's type.
with_curve() {
  local file=$1 curve=$2
  [[ -z $curve ]] || sed -i "s/^type = 1\$/type = 1\ncurve = $curve/" "$file"
}

# (b) for the units without a curve (suffix "plain") or with one.
fade_schedule() {
  local suffix=$1 curve=$2
  # The bytes the units get, from the program's own mapping: the identity
  # without a curve.
  "$table" "${curve:-linear}" 1 255 >"$work/bytes.$suffix"
  start_peer 16 "$work/peer16.out"
  write_units "$work/units16.toml" "${ports[@]}"
  with_curve "$work/units16.toml" "$curve"
  "$vantrel" --quiet --config "$work/units16.toml" --over 2s --steps 80 --from 0 set all 200 \
    2>"$work/vantrel.err" || { cat "$work/vantrel.err" >&2; echo "bench: the 2 s fade failed" >&2; exit 1; }
  stop_peer
  tail -n +17 "$work/peer16.out" | awk -v units=16 -v steps=80 -v over_us=2000000 -v to=200 \
      -v bytes="$work/bytes.$suffix" -v late="$work/lateness.$suffix" -v spread="$work/spread.$suffix" '
    BEGIN {
      while ((getline line < bytes) > 0) { split(line, f, " "); byte[f[1]] = f[2] }
      # The commands sent: each step whose byte is not the one before.
      sent = 0
      for (k = 0; k <= steps; ++k) {
        # from 0: halves rounded away from the start are rounded up
        b = byte[int((2 * to * k + steps) / (2 * steps))]
        if (k == 0 || b != want[sent - 1]) { want[sent] = b; step[sent] = k; ++sent }
      }
    }
    { u = $1; k = count[u]++; level[u, k] = $2; at[u, k] = $3 }
    END {
      for (u = 0; u < units; ++u) {
        if (count[u] != sent) {
          printf "bench: broken: unit %d received %d commands, not %d\n", u, count[u], sent
          exit 1
        }
        for (k = 0; k < sent; ++k) {
          if (level[u, k] != want[k]) {
            printf "bench: broken: unit %d got byte %s as command %d, not %d\n", u, level[u, k], k, want[k]
            exit 1
          }
        }
        if (u == 0 || at[u, 0] < zero) zero = at[u, 0]
      }
      for (k = 0; k < sent; ++k) {
        for (u = 0; u < units; ++u) {
          printf "%.3f\n", at[u, k] - zero - over_us * step[k] / steps > late
          if (u == 0 || at[u, k] < first) first = at[u, k]
          if (u == 0 || at[u, k] > last) last = at[u, k]
        }
        printf "%.3f\n", last - first > spread
      }
    }' >&2 || exit 1
  sort -n "$work/spread.$suffix" >"$work/spread.$suffix.sorted"
  sort -n "$work/lateness.$suffix" >"$work/lateness.$suffix.sorted"
}

# The p99 of a sorted file of figures.
p99() { awk '{ v[NR] = $1 } END { print v[int(NR * 0.99 + 0.5)] }' "$1"; }

# (c) for the units without a curve or with one.
fade_cpu() {
  local suffix=$1 curve=$2
  start_peer 16 "$work/peer16-cpu.out"
  write_units "$work/units16.toml" "${ports[@]}"
  with_curve "$work/units16.toml" "$curve"
  TIMEFORMAT='%3R %3U %3S'
  local before
  before=$(service_cpu)
  { time "$vantrel" --quiet --config "$work/units16.toml" --over 10s --from 0 set all 255 \
      2>"$work/vantrel.err"; } 2>"$work/cpu.$suffix" ||
    { cat "$work/vantrel.err" >&2; echo "bench: the 10 s fade failed" >&2; exit 1; }
  # The service's share goes with the tool's user time.
  read -r wall user system <"$work/cpu.$suffix"
  echo "$wall $(awk -v u="$user" -v a="$before" -v b="$(service_cpu)" 'BEGIN { print u + b - a }') $system" \
    >"$work/cpu.$suffix"
  stop_peer
}

fade_schedule plain ""
fade_cpu plain ""
# With a curve, the fades without and with it take turns, PAIRS times, so
# that the machine's other work falls on both alike; medians of the p99s.
if [[ -n $curve ]]; then
  for _ in $(seq "$pairs"); do
    fade_schedule plain ""
    p99 "$work/lateness.plain.sorted" >>"$work/p99.plain"
    fade_schedule curve "$curve"
    p99 "$work/lateness.curve.sorted" >>"$work/p99.curve"
  done
  fade_cpu curve "$curve"
fi
read -r cpu_wall cpu_user cpu_system <"$work/cpu.plain"

echo "vantrel $(git describe --always --dirty 2>/dev/null || echo '?'), $(uname -m), $(nproc) cores, $pairs pairs"
awk -v sv="$scale_vantrel" -v sc="$scale_client" \
    -v spread="$work/spread.plain.sorted" -v wall="$cpu_wall" -v user="$cpu_user" -v sys="$cpu_system" '
  { late[NR] = $1 }
  END {
    while ((getline s < spread) > 0) w[++n] = s
    p50 = late[int(NR * 0.50 + 0.5)]; p99 = late[int(NR * 0.99 + 0.5)]; max = late[NR]
    wp99 = w[int(n * 0.99 + 0.5)]
    cpu = (user + sys) / wall
    printf "%-46s %12s %s\n", "", "measured", "target"
    printf "%-46s %9.2f ms\n", "vantrel set all 255, 256 units", sv / 1000
    printf "%-46s %9.2f ms\n", "C client, 256 exchanges one after another", sc / 1000
    printf "%-46s %12.3f <= 1.500\n", "  vantrel / C client", sv / sc
    printf "%-46s %9.3f ms\n", "2 s fade of 16 units, 80 steps: lateness p50", p50 / 1000
    printf "%-46s %9.3f ms <= 1 ms\n", "  lateness p99", p99 / 1000
    printf "%-46s %9.3f ms <= 3 ms\n", "  lateness max", max / 1000
    printf "%-46s %9.3f ms <= 2 ms\n", "  spread of a step across the units, p99", wp99 / 1000
    printf "%-46s %9.3f s\n", "10 s fade of 16 units, 255 steps: CPU", user + sys
    printf "%-46s %9.3f s\n", "  wall", wall
    printf "%-46s %10.2f %% < 10 %%\n", "  share of one core", 100 * cpu
    met = sv <= 1.5 * sc && p99 <= 1000 && max <= 3000 && wp99 <= 2000 && cpu < 0.10
    print met ? "all targets met" : "TARGET MISSED"
    exit met ? 0 : 1
  }' "$work/lateness.plain.sorted" && status=0 || status=1

# The curve's cost beside the same fades without one.
[[ -z $curve ]] && exit "$status"
read -r curve_wall curve_user curve_system <"$work/cpu.curve"
awk -v curve="$curve" -v pairs="$pairs" -v p99="$(median <"$work/p99.curve")" \
    -v pp99="$(median <"$work/p99.plain")" -v wall="$cpu_wall" -v user="$cpu_user" \
    -v sys="$cpu_system" -v cwall="$curve_wall" -v cuser="$curve_user" -v csys="$curve_system" '
  BEGIN {
    cpu = (cuser + csys) / cwall; pcpu = (user + sys) / wall
    printf "%-46s %12s %s\n", "with curve = " curve, "measured", "target"
    printf "%-46s %9.3f ms\n", "2 s fade, median p99 of " pairs ", without", pp99 / 1000
    printf "%-46s %9.3f ms\n", "  with", p99 / 1000
    printf "%-46s %9.3f s\n", "10 s fade of 16 units, 255 steps: CPU", cuser + csys
    printf "%-46s %10.2f %%\n", "  share of one core", 100 * cpu
    lr = p99 / pp99; cr = cpu / pcpu
    printf "%-46s %12.3f <= 1.020\n", "  lateness p99, with / without", lr
    printf "%-46s %12.3f <= 1.020\n", "  share of one core, with / without", cr
    met = lr <= 1.02 && cr <= 1.02
    print met ? "all targets met" : "TARGET MISSED"
    exit met ? 0 : 1
  }' || status=1
exit "$status"
