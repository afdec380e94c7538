#!/usr/bin/env bash
# Builds Halvorin and runs it on its built-in demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target halvorin-agentd
echo "Agent on port 6000; stop it with Ctrl-C."
exec build/apps/halvorin-agentd --allow "$(hostname -s)" \
    --simulate sim/scenarios/demo.json --simulate sim/scenarios/jbod84-dual-path.json "$@"
