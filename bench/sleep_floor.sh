#!/usr/bin/env bash
# Measures the machine, not our programs: how late a bare loop of 25 ms
# sleeps wakes (bench/sleep_floor.c), the floor under every fade figure.
# Run it on the same quiet machine as the fade benches; no target.
#
# usage: bench/sleep_floor.sh [SECONDS]    (default: 120)
# Linux only. Needs cc. Not a test: CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-120}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -Wall -Wextra -o "$work/sleep_floor" bench/sleep_floor.c
echo "the machine, $(uname -m), $(nproc) cores, $(uname -r), load $(cut -d' ' -f1 /proc/loadavg)"
"$work/sleep_floor" "$seconds"
