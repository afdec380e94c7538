#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on) and
# runs each for FUZZ_SECONDS (default 60) from its seed corpus in
# tests/fuzz/corpus. A crash, a leak or a sanitizer report fails the run and
# leaves the input that caused it in build-fuzz/crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
seconds="${FUZZ_SECONDS:-60}"
fuzzers=(page_decoders frame_assembler firmware_package scenario event_history)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHALVORIN_FUZZ=ON -DHALVORIN_CORE_ONLY=ON -DHALVORIN_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --target "${fuzzers[@]/%/_fuzzer}"
mkdir -p build-fuzz/crashes
for name in "${fuzzers[@]}"; do
    # New inputs go to a scratch folder: the committed corpus stays as it is.
    scratch="$(mktemp -d)"
    echo "fuzzing ${name} for ${seconds} s"
    if ! "build-fuzz/tests/fuzz/${name}_fuzzer" -max_total_time="${seconds}" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/${name}-" \
        "${scratch}" "tests/fuzz/corpus/${name}" >"build-fuzz/${name}.log" 2>&1; then
        tail -n 60 "build-fuzz/${name}.log"
        echo "fuzz.sh: ${name} failed; the input is in build-fuzz/crashes" >&2
        exit 1
    fi
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "build-fuzz/${name}.log" | tr '\n' ' '
    echo
    rm -rf "${scratch}"
done
