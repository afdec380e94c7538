#!/usr/bin/env bash
# halvorinctl's bash completion as a shell uses it: commands, options per
# command, and the enclosure names of the -H host from a simulated agent.
# Usage: completion_test.sh BINARY_DIR SOURCE_DIR
set -u
bin=$1 source=$2
PATH=$bin:$PATH
# shellcheck source=/dev/null
source "$source/packaging/completion/halvorinctl.bash"

failures=0
offered() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _halvorinctl
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
}
expect() {
    local want=$1
    shift
    local got
    got=$(offered "$@")
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$*' offered '$got', expected '$want'"
        failures=$((failures + 1))
    fi
}

expect "show shutdown" halvorinctl sh
expect "--allow-empty" halvorinctl -H h show --al
expect "--index" halvorinctl ident --ind
expect "" halvorinctl show --red
expect "apply set show" halvorinctl -t 5 zoning SHELF ""
expect "off on" halvorinctl uid-led SHELF ""

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
halvorin-agentd -p "$port" -a 127.0.0.1 -s "$source/sim/scenarios/jbod24.json" 2>/dev/null &
agent=$!
trap 'kill $agent 2>/dev/null' EXIT
for _ in $(seq 50); do
    halvorinctl -H "127.0.0.1:$port" --timeout 1 show >/dev/null 2>&1 && break
    sleep 0.2
done
expect "JB2412-12G-500A0B0C0D0E0F00" halvorinctl -H "127.0.0.1:$port" mute ""
expect "JB2412-12G-500A0B0C0D0E0F00" halvorinctl --host="127.0.0.1:$port" ident J

if command -v zsh >/dev/null; then
    zsh -n "$source/packaging/completion/_halvorinctl" || failures=$((failures + 1))
fi
[[ $failures -eq 0 ]] && echo "completion: all offered as expected"
exit $((failures > 0))
