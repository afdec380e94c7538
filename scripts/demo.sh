#!/usr/bin/env bash
# Builds Halvorin and runs it on its built-in demo. With a display: the
# desktop program, its own agent serving simulated enclosures. Without one
# (or with HALVORIN_DEMO_HEADLESS=1): an agent serving simulated enclosures,
# and the command-line manager following them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/configure.sh
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${HALVORIN_DEMO_HEADLESS:-}" ]; then
    cmake --build build --target halvorin
    echo "A display is here: the desktop program on its built-in demo enclosures"
    echo "(a power supply fails after about 90 s and shows in the event list)."
    exec build/apps/halvorin --demo
fi
echo "No display (or HALVORIN_DEMO_HEADLESS is set): the headless agent and the command-line manager."
cmake --build build --target halvorin-agentd halvorinctl
port="${HALVORIN_DEMO_PORT:-6000}"
build/apps/halvorin-agentd --port "$port" --allow "$(hostname -s)" \
    --simulate sim/scenarios/demo.json --simulate sim/scenarios/jbod84-dual-path.json 2>build/demo-agent.log &
agent=$!
for _ in $(seq 50); do
    grep -q "agent listening" build/demo-agent.log && break
    kill -0 "$agent" 2>/dev/null || { cat build/demo-agent.log; exit 1; }
    sleep 0.1
done
echo "Agent on port $port (its log: build/demo-agent.log)."
trap 'kill "$agent" 2>/dev/null; wait "$agent" 2>/dev/null || true' EXIT
build/apps/halvorinctl -H "localhost:$port" show
echo
echo "Following the demo enclosure's events (a power supply fails after 90 s); Ctrl-C stops."
build/apps/halvorinctl -H "localhost:$port" watch --readings
