#!/usr/bin/env bash
# Builds the tools and the simulator, starts the simulator's three units on
# free loopback ports with the example units file (doc/vantrel.toml, its
# ports changed to those), and shows what a newcomer should see first: one
# unit set by vantrel-dim, then vantrel's list, a scene, a fade of every
# unit in step (4 steps, so that its lines stay few), and the exchanges as
# the simulator saw them. The levels are
# remembered in a scratch file, not in yours. Usage: tools/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default --target vantrel-dim vantrel-sim vantrel >/dev/null
build=$PWD/build/default

work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/vantrel-sim" --port 0 --units 3 >"$work/sim.out" &
sim=$!

# The simulator's first three lines are the ports it took.
for _ in $(seq 50); do
  [ "$(wc -l <"$work/sim.out")" -ge 3 ] && break
  sleep 0.1
done
mapfile -t ports < <(head -n 3 "$work/sim.out")
[ "${#ports[@]}" -eq 3 ] || { echo "vantrel-sim did not start" >&2; exit 1; }
sed -e "s/^port = 4001/port = ${ports[0]}/" -e "s/^port = 4002/port = ${ports[1]}/" \
  -e "s/^port = 4003/port = ${ports[2]}/" doc/vantrel.toml >"$work/vantrel.toml"
cd "$work"  # where vantrel finds vantrel.toml
export VANTREL_STATE=$work/levels

show() {
  echo "\$ $*"
  local program=$1
  shift
  "$build/$program" "$@" || echo "(exit status $?)"
  echo
}
show vantrel-dim 127.0.0.1 "${ports[0]}" 1 128
show vantrel list
show vantrel scene open
show vantrel --over 2s --steps 4 set all 0

# Every exchange is logged by now: the last one ended before vantrel did.
kill -INT "$sim"
wait "$sim" 2>/dev/null || true
echo "vantrel-sim saw:"
tail -n +4 "$work/sim.out"
