#!/usr/bin/env bash
# Measures vantreld's lighting console inputs against bench/units_peer.c, a C
# peer that serves many units on ports of 127.0.0.1 and notes when each
# command arrives (the kernel's receive stamp), with
# bench/vantreld_consoles.py as the console, sending sACN by multicast and
# Art-Net by unicast. Everything runs in a network namespace of its own
# (unshare -n) with multicast routed to its loopback, so that no packet
# leaves the machine:
#   - a packet in to the frame at the unit: p50 and p99 over 200 sACN and 200
#     Art-Net packets, each changing one channel. Target p99 <= 5 ms.
#   - a console fading 16 units at 44 packets a second for 2 s (every packet
#     changes all 16 channels): each unit's last value at the unit, less the
#     last packet's sending, target <= 50 ms; vantreld's CPU while the fade
#     runs, target < 20 % of a core.
#   - a steady stream of 4 full universes (512 channels each, 64 units on
#     each) at 44 packets a second each, no value changing, for 10 s:
#     commands sent, target 0; vantreld's CPU, target < 2 % of a core.
#
# usage: bench/vantreld_consoles.sh [BUILD_DIR]    (default build/default)
# Linux only, as root (for the namespace). Needs a C compiler (cc) and
# python3. Not a test: CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
[[ -x $build/vantreld ]] || { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }
command -v cc >/dev/null || { echo "bench: cc is missing" >&2; exit 2; }
unshare -n true 2>/dev/null || { echo "bench: cannot make a network namespace (unshare -n): run as root" >&2; exit 2; }
export LC_ALL=C

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -Wall -Wextra -o "$work/units_peer" bench/units_peer.c
echo "vantreld $(git rev-parse --short HEAD 2>/dev/null || echo '?'), $(uname -m), $(nproc) cores"
unshare -n sh -c 'ip link set lo up && ip link set lo multicast on && ip route add 239.0.0.0/8 dev lo &&
  exec python3 bench/vantreld_consoles.py "$@"' sh "$build/vantreld" "$work/units_peer" "$work"
