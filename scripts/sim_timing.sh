#!/bin/sh
# Measures tekod-sim: the wall time of ten minutes of the demo stream
# (--loop --duration 600), then for every sample of the end-to-end suite the
# replay speed reached, the resident memory and the CPU time per minute of
# stream, as tekod-sim prints them (the suite's runs at 32 bits per pixel;
# streams without PSI are wrapped by the suite's stream builder).
# Usage: scripts/sim_timing.sh [BUILD_DIR]   (default build/normal; built if needed)
set -e
cd "$(dirname "$0")/.."
BUILD=${1:-build/normal}
if [ ! -x "$BUILD/sim/tekod-sim" ] || [ ! -x "$BUILD/tests/test_e2e" ]; then
    cmake -S . -B "$BUILD" -DTEKO_WERROR=ON > "$BUILD.configure.log" 2>&1 || { cat "$BUILD.configure.log"; exit 1; }
    cmake --build "$BUILD" -j 2 --target tekod-sim test_e2e
fi
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

echo "== Demo stream, --loop --duration 600 (ten minutes of stream)"
START=$(date +%s%N)
"$BUILD/sim/tekod-sim" --ts data/samples/demo.ts --out "$OUT/loop" --config data/samples/demo.conf \
    --service 1 --zap 33:2 --loop --duration 600 --quiet
END=$(date +%s%N)
MS=$(( (END - START) / 1000000 ))
echo "wall time: $((MS / 1000)).$(printf %03d $((MS % 1000))) s"

echo
echo "== Every sample (the end-to-end suite's runs at 32 bits per pixel)"
"$BUILD/tests/test_e2e" --gtest_filter='Streams/SampleRun.*32bpp' 2>/dev/null |
    sed -n 's/^\[ e2e \] \(.*\) 32 bpp: tekod-sim: \(done\|resident\)/\1: \2/p'
