#!/usr/bin/env bash
# Measures vantreld's control page against bench/units_peer.c, a C peer that
# serves many units on ports of 127.0.0.1 and notes when each command arrives
# (the kernel's receive stamp), with bench/vantreld_web.py as the client:
#   - POST /api/units/NAME on a kept-alive connection to the frame at the
#     unit: p50 and p99 over 200 commands. Target p99 <= 5 ms.
#   - the unit's confirmed level (its command's arrival, which the peer echoes
#     at once) to the event on each of 32 open streams: p99 <= 10 ms.
#   - GET / and everything it loads: <= 50 KB, <= 20 ms (median of 21).
#   - a 2 s fade of 16 units with 32 streams read and one never read:
#     lateness (arrival less the due time 2 s x k / steps, from the least
#     late command's) p99 <= 1 ms; and the same fade by vantrel (--over 2s
#     --steps 80 --from 0), five rounds each, alternately against the same
#     units, so that both meet the same machine, whose load moves such
#     figures more than either program does. Medians of the rounds; the
#     service may be at most 0.3 ms (p99) behind vantrel.
#   - idle for 10 s with 256 units and 32 streams: CPU < 1 % of a core,
#     <= 10 wake-ups a second over all threads (voluntary and involuntary
#     context switches in /proc/PID/task/*/status), RSS < 12 MB.
#
# usage: bench/vantreld_web.sh [BUILD_DIR]    (default build/default)
# Linux only. Needs a C compiler (cc) and python3. Not a test: CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
[[ -x $build/vantreld ]] || { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }
command -v cc >/dev/null || { echo "bench: cc is missing" >&2; exit 2; }
export LC_ALL=C

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -Wall -Wextra -o "$work/units_peer" bench/units_peer.c
echo "vantreld $(git rev-parse --short HEAD 2>/dev/null || echo '?'), $(uname -m), $(nproc) cores"
python3 bench/vantreld_web.py "$build/vantreld" "$work/units_peer" "$work"
