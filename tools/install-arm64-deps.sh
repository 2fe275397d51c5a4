#!/usr/bin/env bash
# Installs what the arm64 build and its tests under emulation need on a
# Debian 12 amd64 machine, beside what the README's install line installs:
# the cross compiler, qemu's user-mode emulator, and the arm64 libraries
# through Debian's multiarch, which puts them beside the machine's own
# (--no-remove: nothing of the machine's own may go to make room).
# Run it as root yourself: nothing in the build installs anything.
# Usage: tools/install-arm64-deps.sh
set -euo pipefail

dpkg --add-architecture arm64
apt-get update
apt-get install -y --no-install-recommends --no-remove g++-aarch64-linux-gnu qemu-user \
  libmosquitto-dev:arm64 libmicrohttpd-dev:arm64 libgtest-dev:arm64 libnova-dev:arm64
