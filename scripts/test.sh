#!/bin/sh
# Sets up, builds and runs the whole test suite twice: once as it ships and
# once under AddressSanitizer and UndefinedBehaviorSanitizer, in a separate
# build folder; then on the boxes' CPUs under qemu-user: the big-endian
# s390x build with every test (the end-to-end replays at 32 bits per pixel
# only; scripts/cross.sh s390x runs the 8-bit ones too), and the armhf unit
# tests; last, this machine's Debian package is built, checked with lintian,
# installed, removed and purged. Any failure or sanitizer report fails the
# run. Each stage says how long it took.
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)
START=$(date +%s)
STAGE_START=$START

stage_done() {
    now=$(date +%s)
    echo "-- $1: $((now - STAGE_START)) s"
    STAGE_START=$now
}

run_suite() {
    dir=$1; shift
    cmake -S . -B "$dir" -DTEKO_WERROR=ON "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
    cmake --build "$dir" -j "$JOBS"
    (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 600)
}

mkdir -p build
echo "== Normal build"
run_suite build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage_done "normal build and tests"
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DTEKO_SANITIZE=ON
stage_done "sanitizer build and tests"
echo "== s390x (big-endian) under qemu-user"
sh scripts/cross.sh s390x ci
stage_done "s390x build and tests"
echo "== armhf under qemu-user: unit tests"
sh scripts/cross.sh armhf unit
stage_done "armhf build and unit tests"
echo "== Debian package: build, lintian, install, remove, purge"
sh scripts/package_test.sh
stage_done "package build and install test"
echo "All tests passed: both native builds, s390x, armhf and the package, in $(( $(date +%s) - START )) s."
