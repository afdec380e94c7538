#!/usr/bin/env bash
# Builds the benchmark programs into build/ beside everything else and runs
# each once with --quick, as CI does: it shows they still run to their end.
# For figures, run a program in build/bench/ without --quick.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/configure.sh -DHALVORIN_BENCH=ON
cmake --build build
ctest --test-dir build -L bench --output-on-failure
