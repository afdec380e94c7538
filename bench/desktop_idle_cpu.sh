#!/usr/bin/env bash
# CPU of the desktop program's idle main window following the demo: runs
# `halvorin --demo` on a virtual X server, lets the first reads settle, then
# reads the process's CPU time from /proc over a minute (the one-minute
# refresh included) and prints it as a share of one core.
#
#   bench/desktop_idle_cpu.sh [--quick] path/to/halvorin [seconds]
#
# --quick lets the reads settle for 3 s and measures over 2 s.
set -euo pipefail
settle=10 seconds=60
if [ "${1:-}" = --quick ]; then
    settle=3 seconds=2
    shift
fi
halvorin="$1"
seconds="${2:-$seconds}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
port=$(shuf -i 20000-60000 -n 1)
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    "$1" --demo --port "$2" 2>/dev/null &
    pid=$!
    sleep "$4"
    ticks() { awk "{print \$14 + \$15}" /proc/$pid/stat; }
    before=$(ticks)
    sleep "$3"
    after=$(ticks)
    kill $pid
    hz=$(getconf CLK_TCK)
    awk -v t=$((after - before)) -v hz="$hz" -v s="$3" \
        "BEGIN { printf \"idle main window on the demo: %.2f %% of one core over %d s\\n\", 100 * t / hz / s, s }"
' _ "$halvorin" "$port" "$seconds" "$settle"
