#!/usr/bin/env bash
# Measures what vantreld's schedules cost, on loopback:
#   (a) idle: 32 clock-time schedules, none due for hours, one unit served by
#       vantrel-sim: over 60 s, every thread's context switches (voluntary
#       and not, from /proc/PID/task/*/status) a second, and CPU. Targets:
#       0.0 wake-ups a second, < 1% of a core.
#   (b) lateness: 20 starts under libfaketime, its clock set (a relative
#       offset, so that faked time is real time plus a known number) 2 s
#       before a schedule's 07:30:00, its record removed in between: from the
#       schedule's time to the unit's receipt, stamped as the simulator's line
#       comes. p99 (of 20: the latest). Target: within 1 s.
#
# usage: bench/vantreld_schedules.sh [BUILD_DIR]    (default: build/default)
# Linux only. Needs Debian's faketime. Takes about 2 minutes. Not a test.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
vantreld=$build/vantreld
sim=$build/vantrel-sim
faketime=/usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)/faketime/libfaketime.so.1
[[ -x $vantreld && -x $sim ]] || { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }
[[ -f $faketime ]] || { echo "bench: no $faketime (apt-get install faketime)" >&2; exit 2; }
export LC_ALL=C TZ=UTC

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
hz=$(getconf CLK_TCK)
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# One unit; each line the simulator prints is stamped with the real time it came, in µs.
"$sim" | while read -r line; do echo "${EPOCHREALTIME/./} $line"; done >"$work/sim.out" &
pids+=($!)
for _ in $(seq 1 100); do [[ -s $work/sim.out ]] && break; sleep 0.05; done
[[ -s $work/sim.out ]] || { echo "bench broken: the simulator said no port within 5 s" >&2; exit 1; }
unit_port=$(head -n 1 "$work/sim.out" | cut -d' ' -f2)
unit=$(printf '[units.lamp]\naddress = "127.0.0.1"\nport = %d\ntype = 1\n' "$unit_port")
echo boot-1 >"$work/boot_id"
export VANTREL_BOOT_ID_FILE=$work/boot_id VANTREL_SOCKET=$work/vantreld.sock VANTREL_STATE=$work/levels

# (a) 32 schedules a minute apart, from six hours on.
hour=$(( (10#$(date +%H) + 6) % 24 ))
{
  echo "$unit"
  for i in $(seq 0 31); do
    printf '[schedules.s%d]\nat = "%02d:%02d"\nlevels = { lamp = %d }\n' "$i" "$(( (hour + i / 60) % 24 ))" $(( i % 60 )) $(( i + 1 ))
  done
} >"$work/idle.toml"
"$vantreld" --config "$work/idle.toml" 2>"$work/idle.log" &
idle=$!
pids+=("$idle")
sleep 5
before=$(switches "$idle") before_ticks=$(ticks "$idle")
sleep 60
idle_rate=$(awk -v n=$(( $(switches "$idle") - before )) 'BEGIN { print n / 60 }')
idle_cpu=$(awk -v t=$(( $(ticks "$idle") - before_ticks )) -v hz="$hz" 'BEGIN { print t / hz / 60 * 100 }')
kill "$idle"
wait "$idle" || true

# (b) each start's faked clock is 07:29:58.000 of today; the unit gets the schedule's 200.
{ echo "$unit"; printf '[schedules.open]\nat = "07:30"\nlevels = { lamp = 200 }\n'; } >"$work/fire.toml"
target_s=$(date -d "today 07:30:00" +%s)
: >"$work/lateness"
for round in $(seq 1 20); do
  rm -f "$work/levels"*
  lines=$(wc -l <"$work/sim.out")
  now_us=${EPOCHREALTIME/./}
  offset_us=$(( (target_s - 2) * 1000000 - now_us ))
  offset=$(awk -v u="$offset_us" 'BEGIN { printf "%+.6f", u / 1000000 }')
  LD_PRELOAD=$faketime FAKETIME=$offset "$vantreld" --config "$work/fire.toml" 2>"$work/fire.log" &
  daemon=$!
  pids+=("$daemon")
  for _ in $(seq 1 100); do
    (( $(wc -l <"$work/sim.out") > lines )) && break
    sleep 0.05
  done
  kill "$daemon"
  wait "$daemon" || true
  got=$(tail -n +$(( lines + 1 )) "$work/sim.out" | head -n 1)
  [[ -n $got ]] || { echo "bench broken: round $round fired nothing"; cat "$work/fire.log"; exit 1; }
  # Real time of the receipt, on the faked clock, less the schedule's time.
  echo $(( ${got%% *} + offset_us - target_s * 1000000 )) >>"$work/lateness"
done
p99=$(sort -g "$work/lateness" | awk '{ v[NR] = $1 } END { print v[int(NR * 0.99 + 0.5)] / 1000 }')

printf 'vantreld %s, x86_64, %s cores\n' "$(git rev-parse --short HEAD)" "$(nproc)"
printf '%-54s %9s %s\n' "" measured target
printf '%-54s %9.2f /s  = 0.0 /s\n' "32 schedules, idle: wake-ups (context switches) over 60 s" "$idle_rate"
printf '%-54s %8.2f %%   < 1 %%\n' "  CPU over those 60 s" "$idle_cpu"
printf '%-54s %9.1f ms <= 1000 ms   (each: %s)\n' "a firing to the unit's receipt: p99 of 20" "$p99" \
  "$(awk '{ printf("%s%.1f", (NR > 1 ? " " : ""), $1 / 1000) }' "$work/lateness")"
if awk -v r="$idle_rate" -v c="$idle_cpu" -v p="$p99" 'BEGIN { exit !(r < 0.05 && c < 1 && p <= 1000) }'; then
  echo "all targets met"
else
  echo "targets missed"
fi
