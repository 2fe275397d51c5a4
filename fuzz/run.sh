#!/usr/bin/env bash
# Runs each fuzz target for SECONDS from the committed corpus. New inputs go
# to a scratch folder, so the committed corpus stays small and unchanged;
# a finding is left in BUILD_DIR/findings and fails the run.
#
# usage: fuzz/run.sh [BUILD_DIR] [SECONDS]    (defaults: build/fuzz, 60)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/fuzz}
seconds=${2:-60}
mkdir -p "$build/findings"

status=0
for target in decimal_fuzz reply_fuzz units_file_fuzz saved_scenes_fuzz light_command_fuzz local_request_fuzz \
    sacn_packet_fuzz artnet_packet_fuzz; do
  corpus=fuzz/corpus/${target%_fuzz}
  scratch=$(mktemp -d)
  echo "== $target: ${seconds} s from $corpus"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 \
      -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
      "$scratch" "$corpus" 2>"$build/$target.log"; then
    status=1
    echo "$target: FINDING (log: $build/$target.log)"
    tail -n 40 "$build/$target.log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::new_units_added|^stat::peak_rss_mb' "$build/$target.log" || true
  rm -rf "$scratch"
done
exit $status
