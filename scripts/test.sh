#!/usr/bin/env bash
# Builds everything and runs every test, the format check included (the
# benchmarks' quick runs, when they are built, are scripts/bench.sh's).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/configure.sh
cmake --build build
scripts/check-format.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" -LE bench
