#!/bin/sh
# Sets up, builds and runs the whole test suite twice: once as it ships and
# once under AddressSanitizer and UndefinedBehaviorSanitizer, in a separate
# build folder. Any failure or sanitizer report fails the run.
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)

run_suite() {
    dir=$1; shift
    cmake -S . -B "$dir" -DTEKO_WERROR=ON "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
    cmake --build "$dir" -j "$JOBS"
    (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 600)
}

mkdir -p build
echo "== Normal build"
run_suite build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DTEKO_SANITIZE=ON
echo "All tests passed in both builds."
