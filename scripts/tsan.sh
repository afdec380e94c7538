#!/usr/bin/env bash
# Builds the threaded core (agent, client, model) with ThreadSanitizer in a
# folder of its own and runs those tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVORIN_TSAN=ON \
    -DHALVORIN_CORE_ONLY=ON >/dev/null
cmake --build build-tsan --target agent_test client_test model_test
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" \
    -R '^(AgentTest|AllowEntry|PeerNameCheck|ClientAuthorization|LocalPeer|ClientTest|ClientAgentTest|ClientAgentTlsTest|TlsContextTest|ConnectionLoop|DomainRegistry|HostAddress|Model|HistoryRing|NamingTest|TypeNames)\.'
