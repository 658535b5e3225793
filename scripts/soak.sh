#!/bin/sh
# Soak test of the whole daemon on the emulated box: thousands of service
# changes (5,000 unless TEKO_SOAK_CHANGES says otherwise) with decoding
# running, on the fast clock. Prints open descriptors, threads and resident
# memory after the first hundred changes and at the end; fails when any of
# them grew (memory by 1 % or more). Not part of scripts/test.sh.
# Usage: scripts/soak.sh [build folder, default build/soak]
set -e
cd "$(dirname "$0")/.."
dir=${1:-build/soak}
mkdir -p "$dir"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTEKO_WERROR=ON > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j2 --target test_app
"$dir/tests/test_app" --gtest_also_run_disabled_tests --gtest_filter='Soak.*'
