#!/usr/bin/env bash
# Runs vantrel-dim, a fade of vantrel-fade, or a fade of three units by
# vantrel, once under valgrind against vantrel-sim and fails on any
# memory error, any leak, or any descriptor other than 0, 1 and 2 still open
# at exit. valgrind does not count open descriptors as errors, so its summary
# line is read here.
#
# usage: under_valgrind.sh VALGRIND PROGRAM VANTREL_SIM CASE
#   CASE: success | refused | missing_reply (PROGRAM is vantrel-dim)
#         fade (PROGRAM is vantrel-fade)
#         units (PROGRAM is vantrel)
set -uo pipefail

valgrind=$1 tool=$2 sim=$3 case=$4
work=$(mktemp -d)
sim_pid=
trap '[[ -n $sim_pid ]] && kill $sim_pid 2>/dev/null; rm -rf "$work"' EXIT

# Anything this shell inherited would show up as the tool's own. valgrind
# writes to the tool's standard error, which the tool itself never uses.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  ((fd > 2)) && eval "exec $fd>&-" 2>/dev/null
done

start_sim() {
  "$sim" --port 0 "$@" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do
    [[ -s $work/sim.out ]] && break
    sleep 0.1
  done
  port=$(head -n 1 "$work/sim.out")
  [[ $port =~ ^[0-9]+$ ]] || { echo "vantrel-sim did not start: $(cat "$work/sim.out")"; exit 1; }
}

case $case in
  success) start_sim --reply echo; expect='Output succeeded.' ;;
  fade) start_sim --reply echo; expect='Level 64 confirmed' ;;
  units) start_sim --units 3; expect='All 3 units confirmed' ;;
  missing_reply) start_sim --reply close; expect='0x0 0x0 0x00 0x00(000)' ;;
  refused)
    # A port that was just free is refused once its listener has gone.
    start_sim; kill "$sim_pid"; wait "$sim_pid" 2>/dev/null; sim_pid=
    expect='Connected failed with error:111.' ;;
  *) echo "unknown case $case"; exit 2 ;;
esac

args=(127.0.0.1 "$port" 1 128)
[[ $case == fade ]] && args=(--over 0 127.0.0.1 "$port" 1 0 64)
if [[ $case == units ]]; then
  n=0
  for unit_port in $(head -n 3 "$work/sim.out"); do
    printf '[units.u%d]\naddress = "127.0.0.1"\nport = %d\ntype = 2\n' $((n++)) "$unit_port"
  done >"$work/vantrel.toml"
  printf '[groups]\nsome = ["u0", "u2"]\n' >>"$work/vantrel.toml"
  args=(--config "$work/vantrel.toml" --over 0 --from 0 set some u1 64)
fi
export VANTREL_STATE=$work/levels  # vantrel and vantrel-fade remember levels there
export VANTREL_SOCKET=$work/none.sock  # and drive the units themselves, whatever vantreld runs here
LC_ALL=C.UTF-8 "$valgrind" --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=all \
  --suppressions="$(dirname "$0")/valgrind.supp" \
  --track-fds=yes "$tool" "${args[@]}" >"$work/out" 2>"$work/valgrind.log"
status=$?
cat "$work/out"; echo
failed=0
if [[ $status -ne 0 ]]; then
  echo "FAIL: exit status $status (99: valgrind found errors)"; failed=1
fi
if ! grep -qF "$expect" "$work/out"; then
  echo "FAIL: the output lacks '$expect': the run did not take the $case path"; failed=1
fi
if ! grep -q 'FILE DESCRIPTORS: 3 open (3 std) at exit' "$work/valgrind.log"; then
  echo "FAIL: descriptors left open at exit"; failed=1
fi
((failed)) && cat "$work/valgrind.log"
grep -E 'FILE DESCRIPTORS|ERROR SUMMARY|in use at exit' "$work/valgrind.log"
exit $failed
