#!/usr/bin/env bash
# Leaves vantreld running under a mixed, bounded load on 127.0.0.1, as an
# installation is used, and checks that it keeps nothing it should not:
#   - 64 units of vantrel-sim, 8 of which stop answering for 15 s after
#     each 90 s (SIGSTOP, SIGCONT), against Debian's mosquitto, which is
#     restarted twice (at a third and two thirds of the run);
#   - MQTT commands, two a second, a third of them transitions of 1-4 s;
#   - control page clients that come, read an event stream for 1-5 s and go
#     (one every 2 s); half-sent requests left for 0.5-3 s (one every 3 s);
#     wrong passwords from 127.0.0.2 (one every 3 s), whose lock-out leaves
#     the clients on 127.0.0.1 alone.
# It prints every MQTT command's outcome (confirmed and published, not
# confirmed with vantreld's logged reason, replaced by a later command, or
# LOST), any level vantreld confirmed (its levels file) that it did not
# publish, and vantreld's resident memory and open descriptors once it is
# online and again at the end, after the load stopped and 10 s passed.
# Targets: memory grows by under 1 MB, descriptors back to their starting
# count, nothing unpublished, nothing lost without a logged reason.
#
# usage: bench/vantreld_soak.sh [DURATION] [BUILD_DIR]    (defaults: 600 s, build/default)
# DURATION in seconds, at least 60. Linux only. Needs mosquitto and
# mosquitto-clients. Not a test: CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

duration=${1:-600}
build=${2:-build/default}
(( duration >= 60 )) || { echo "bench: a soak of at least 60 s, please" >&2; exit 2; }
[[ -x $build/vantreld && -x $build/vantrel-sim ]] ||
  { echo "bench: build $build first (cmake --workflow --preset default)" >&2; exit 2; }
command -v mosquitto_pub >/dev/null || { echo "bench: mosquitto-clients is missing" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "vantreld $(git rev-parse --short HEAD 2>/dev/null || echo '?'), $(uname -m), $(nproc) cores"
python3 bench/vantreld_soak.py "$build/vantreld" "$build/vantrel-sim" "$work" "$duration"
