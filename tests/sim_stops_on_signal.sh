#!/usr/bin/env bash
# Starts vantrel-sim with the given options, sends it one level command,
# sends it SIGTERM while it holds that exchange, and fails unless it exits 0
# within a second, having logged a line that contains EXPECT.
#
# usage: sim_stops_on_signal.sh VANTREL_SIM EXPECT [OPTION...]
set -uo pipefail

sim=$1 expect=$2
shift 2
work=$(mktemp -d)
sim_pid= watchdog=
trap '[[ -n $sim_pid ]] && kill -KILL $sim_pid 2>/dev/null
      [[ -n $watchdog ]] && kill $watchdog 2>/dev/null; rm -rf "$work"' EXIT

"$sim" --port 0 "$@" >"$work/out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  [[ -s $work/out ]] && break
  sleep 0.1
done
port=$(head -n 1 "$work/out")
[[ $port =~ ^[0-9]+$ ]] || { echo "vantrel-sim did not start: $(cat "$work/out")"; exit 1; }

exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
printf '\x7e\x5a\x04\x80' >&3
sleep 0.3  # time to read the command and begin to wait

(sleep 5; kill -KILL $sim_pid) >/dev/null 2>&1 &
watchdog=$!
start=$(date +%s%N)
kill -TERM $sim_pid
wait $sim_pid
status=$?
sim_pid=
ms=$((($(date +%s%N) - start) / 1000000))
cat "$work/out"
echo "exit status $status, $ms ms after SIGTERM"
failed=0
if [[ $status -ne 0 ]]; then echo "FAIL: exit status $status (137: killed, it did not stop)"; failed=1; fi
if ((ms > 1000)); then echo "FAIL: it took more than a second to stop"; failed=1; fi
if ! grep -qF "$expect" "$work/out"; then echo "FAIL: no line with '$expect'"; failed=1; fi
exit $failed
