#!/usr/bin/env bash
# Builds the core libraries and their tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHALVORIN_SANITIZE=ON \
    -DHALVORIN_CORE_ONLY=ON >/dev/null
cmake --build build-asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -L core -j "$(nproc)"
