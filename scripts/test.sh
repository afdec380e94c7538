#!/usr/bin/env bash
# Builds everything and runs every test, the format check included.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
scripts/check-format.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
