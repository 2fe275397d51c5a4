# What the benches that drive bench/units_peer.c share: starting and stopping
# the peer, a units file of its ports, and the arithmetic of their figures.
# Sourced from the repository's root by a script that has set `work` (its
# scratch folder, holding the built units_peer) and `pids` (the processes
# it ends on exit).

# Starts a peer of N units in the background, its output in OUT; sets
# `peer` to its process and `ports` to its ports.
start_peer() {
  local units=$1 out=$2
  : >"$out"
  "$work/units_peer" "$units" >"$out" &
  peer=$!
  pids+=("$peer")
  for _ in $(seq 50); do
    (( $(wc -l <"$out") >= units )) && break
    sleep 0.1
  done
  mapfile -t ports < <(head -n "$units" "$out")
  (( ${#ports[@]} == units )) || { echo "bench: units_peer did not start" >&2; exit 1; }
}

# Stops the peer, which then prints what it noted.
stop_peer() {
  local pid left=()
  kill -TERM "$peer"
  wait "$peer"
  for pid in "${pids[@]}"; do
    [[ $pid == "$peer" ]] || left+=("$pid")
  done
  pids=("${left[@]}")
}

# A units file of type-1 units on 127.0.0.1, one for each port.
write_units() {
  local file=$1; shift
  local i=0 port
  for port; do
    printf '[units.u%03d]\naddress = "127.0.0.1"\nport = %s\ntype = 1\n\n' "$i" "$port"
    i=$((i + 1))
  done >"$file"
}

# Microseconds between two readings of $EPOCHREALTIME: no process of their
# own, which `date` would add to figures of a few milliseconds.
elapsed_us() { echo $(( ${2//[.,]/} - ${1//[.,]/} )); }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
