#!/usr/bin/env bash
# Configures build/, the tree the tests, the demo and the packages share,
# with the flags Debian builds its packages with, hardened: fortified
# functions, stack protector, read-only relocations bound at start (PIE is
# the compiler's default). One set of flags for all three, so none of them
# rebuilds what another built.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" \
    "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" "$@" >/dev/null
