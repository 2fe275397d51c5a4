#!/usr/bin/env bash
# Builds the tool and the simulator, then sets one simulated unit to a level
# and shows both sides of the exchange. Usage: tools/demo.sh [TYPE [LEVEL [REPLY]]]
# REPLY is any vantrel-sim --reply mode (echo, change:I, short:N, ...).
set -euo pipefail
cd "$(dirname "$0")/.."

type=${1:-1}
level=${2:-128}
reply=${3:-echo}

cmake --preset default >/dev/null
cmake --build --preset default --target vantrel-dim vantrel-sim >/dev/null

log=$(mktemp)
trap 'kill "$sim" 2>/dev/null || true; rm -f "$log"' EXIT
build/default/vantrel-sim --port 0 --count 1 --reply "$reply" >"$log" &
sim=$!

# The simulator's first line is the port it took.
for _ in $(seq 50); do
  port=$(head -n 1 "$log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || { echo "vantrel-sim did not start" >&2; exit 1; }

echo "\$ vantrel-dim 127.0.0.1 $port $type $level"
status=0
build/default/vantrel-dim 127.0.0.1 "$port" "$type" "$level" || status=$?
echo
echo "(exit status $status)"

# It stops by itself after its one exchange; give it a moment to log it.
for _ in $(seq 50); do
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
kill "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
echo "vantrel-sim saw: $(sed -n 2p "$log")"
