#!/usr/bin/env bash
# Measures what going through vantreld costs vantrel, direct and through the
# service in one run, against bench/units_peer.c (units on ports of
# 127.0.0.1 that note when each command arrives) and the C yardstick
# bench/c_units_client.c. The service runs on a socket of the bench's own
# (VANTREL_SOCKET) from a units file that names none of the bench's units:
# it drives them as the units of a tool's own file.
#   (a) one unit: `vantrel set u000 LEVEL`, whole process start included,
#       50 runs each way, alternating. Target: through the service, p50 at
#       most 1.5 times direct.
#   (b) scale: `vantrel set all 255` of 256 units, timed in triples
#       (direct, through the service, C client) after a warm-up; medians.
#       Target: through the service at most 1.5 times the C client.
#   (c) schedule: a 2 s fade of 16 units from 0 to 200 in 80 steps, each
#       way, as bench/vantrel.sh (b) measures it. Target: through the
#       service, lateness p99 <= 1 ms.
#
# usage: bench/vantrel_service.sh [BUILD_DIR] [RUNS]    (defaults: build/default, 50)
# Linux only. Needs a C compiler (cc). Not a test: CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
runs=${2:-50}
vantrel=$build/vantrel
vantreld=$build/vantreld
(( runs >= 10 )) || { echo "bench: at least 10 runs, please" >&2; exit 2; }
[[ -x $vantrel && -x $vantreld ]] || { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }
command -v cc >/dev/null || { echo "bench: cc is missing" >&2; exit 2; }
export LC_ALL=C

work=$(mktemp -d)
export VANTREL_STATE=$work/state/levels
socket=$work/vantreld.sock
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -Wall -Wextra -o "$work/units_peer" bench/units_peer.c
cc -O2 -Wall -Wextra -o "$work/c_units_client" bench/c_units_client.c

printf '[units.spare]\naddress = "127.0.0.1"\nport = 9\ntype = 1\n' >"$work/service.toml"
VANTREL_SOCKET=$socket VANTREL_STATE=$work/service-levels \
  "$vantreld" --config "$work/service.toml" --verbose >"$work/vantreld.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  grep -q 'the tools reach it' "$work/vantreld.out" && break
  sleep 0.1
done
grep -q 'the tools reach it' "$work/vantreld.out" || { cat "$work/vantreld.out" >&2; echo "bench: vantreld did not start" >&2; exit 1; }

source bench/units_peer.sh

# One run of vantrel, direct (WAY "direct") or through the service; its
# wall time in microseconds.
vantrel_us() {
  local way=$1; shift
  local start=$EPOCHREALTIME
  if [[ $way == direct ]]; then
    VANTREL_SOCKET=$work/none.sock "$vantrel" "$@" >/dev/null 2>"$work/vantrel.err"
  else
    VANTREL_SOCKET=$socket "$vantrel" "$@" >/dev/null 2>"$work/vantrel.err"
  fi || { cat "$work/vantrel.err" >&2; echo "bench: vantrel $* ($way) failed" >&2; exit 1; }
  elapsed_us "$start" "$EPOCHREALTIME"
}

# (a) one unit, one command
start_peer 1 "$work/peer1.out"
write_units "$work/units1.toml" "${ports[@]}"
vantrel_us direct --config "$work/units1.toml" set u000 1 >/dev/null
vantrel_us service --config "$work/units1.toml" set u000 1 >/dev/null
for i in $(seq "$runs"); do
  vantrel_us direct --config "$work/units1.toml" set u000 $((i % 256)) >>"$work/one-direct.us"
  vantrel_us service --config "$work/units1.toml" set u000 $((i % 256)) >>"$work/one-service.us"
done
one_direct=$(median <"$work/one-direct.us")
one_service=$(median <"$work/one-service.us")
stop_peer

# (b) 256 units at once
start_peer 256 "$work/peer256.out"
write_units "$work/units256.toml" "${ports[@]}"
client_us() {
  local start=$EPOCHREALTIME
  "$work/c_units_client" 1 255 "${ports[@]}" || { echo "bench: the C client failed" >&2; exit 1; }
  elapsed_us "$start" "$EPOCHREALTIME"
}
vantrel_us direct --config "$work/units256.toml" set all 255 >/dev/null
vantrel_us service --config "$work/units256.toml" set all 255 >/dev/null
client_us >/dev/null
for _ in $(seq 10); do
  vantrel_us direct --config "$work/units256.toml" set all 255 >>"$work/all-direct.us"
  vantrel_us service --config "$work/units256.toml" set all 255 >>"$work/all-service.us"
  client_us >>"$work/all-client.us"
done
all_direct=$(median <"$work/all-direct.us")
all_service=$(median <"$work/all-service.us")
all_client=$(median <"$work/all-client.us")
stop_peer

# (c) a 2 s fade of 16 units, as the units see it: the p99 and max of the
# lateness, or a complaint when the fade was not whole.
fade_lateness() {
  local way=$1
  start_peer 16 "$work/peer16-$way.out"
  write_units "$work/units16.toml" "${ports[@]}"
  vantrel_us "$way" --quiet --config "$work/units16.toml" --over 2s --steps 80 --from 0 set all 200 >/dev/null
  stop_peer
  tail -n +17 "$work/peer16-$way.out" | awk -v units=16 -v steps=80 -v over_us=2000000 -v to=200 '
    { u = $1; k = count[u]++; level[u, k] = $2; at[u, k] = $3 }
    END {
      for (u = 0; u < units; ++u) {
        if (count[u] != steps + 1) {
          printf "bench: broken: unit %d received %d commands, not %d\n", u, count[u], steps + 1 > "/dev/stderr"
          exit 1
        }
        if (u == 0 || at[u, 0] < zero) zero = at[u, 0]
      }
      for (k = 0; k <= steps; ++k)
        for (u = 0; u < units; ++u)
          printf "%.3f\n", at[u, k] - zero - over_us * k / steps
    }' | sort -n | awk '{ v[NR] = $1 } END { printf "%.3f %.3f\n", v[int(NR * 0.99 + 0.5)] / 1000, v[NR] / 1000 }'
}
read -r fade_direct_p99 fade_direct_max < <(fade_lateness direct)
read -r fade_service_p99 fade_service_max < <(fade_lateness service)

echo "vantrel $(git describe --always --dirty 2>/dev/null || echo '?'), $(uname -m), $(nproc) cores, $runs runs"
awk -v od="$one_direct" -v os="$one_service" -v ad="$all_direct" -v as="$all_service" -v ac="$all_client" \
    -v fdp="$fade_direct_p99" -v fdm="$fade_direct_max" -v fsp="$fade_service_p99" -v fsm="$fade_service_max" '
  BEGIN {
    printf "%-50s %12s %s\n", "", "measured", "target"
    printf "%-50s %9.2f ms\n", "vantrel set, 1 unit, p50: direct", od / 1000
    printf "%-50s %9.2f ms\n", "  through vantreld", os / 1000
    printf "%-50s %12.3f <= 1.500\n", "  through / direct", os / od
    printf "%-50s %9.2f ms\n", "vantrel set all 255, 256 units: direct", ad / 1000
    printf "%-50s %9.2f ms\n", "  through vantreld", as / 1000
    printf "%-50s %9.2f ms\n", "  C client, 256 exchanges one after another", ac / 1000
    printf "%-50s %12.3f <= 1.500\n", "  through / C client", as / ac
    printf "%-50s %9.3f ms\n", "2 s fade of 16 units, lateness p99: direct", fdp
    printf "%-50s %9.3f ms <= 1 ms\n", "  through vantreld", fsp
    printf "%-50s %9.3f ms / %.3f ms\n", "  lateness max: direct / through", fdm, fsm
    met = os <= 1.5 * od && as <= 1.5 * ac && fsp <= 1
    print met ? "all targets met" : "TARGET MISSED"
    exit met ? 0 : 1
  }'
