# Cross-compiles for 64-bit ARM Linux (Debian or Raspberry Pi OS on arm64)
# with Debian's cross compiler (package g++-aarch64-linux-gnu), against the
# arm64 libraries that Debian's multiarch installs beside the machine's own
# (dpkg --add-architecture arm64, then libmosquitto-dev:arm64 and the like:
# tools/install-arm64-deps.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The arm64 libraries live in /usr/lib/aarch64-linux-gnu, which the compiler
# and find_library search by the architecture above; the machine's own
# programs (pkg-config, python3, mosquitto) are the ones the build runs.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# Debian has no aarch64-linux-gnu-pkg-config: the machine's pkg-config reads
# the arm64 packages' .pc files, and only those.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# This machine runs no arm64 program by itself (no binfmt handler is
# assumed): CTest runs the built programs under qemu's user-mode emulator
# (package qemu-user), which finds the arm64 C library where multiarch put it.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64)
