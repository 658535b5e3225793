#!/bin/sh
# The main job: sets up, builds, and runs the unchanged daemon in the
# simulator on the bundled demo stream (a DVB subtitle service, then a zap to
# a Teletext subtitle service), writing what a box would show as PNG screens
# with an index page.
set -e
cd "$(dirname "$0")/.."
# Only what the demo needs: compiler, cmake, FreeType, libpng (the PNG
# screens) and the font the demo's configuration draws Teletext with.
sh scripts/deps.sh cmake g++ make pkg-config libfreetype-dev libpng-dev fonts-dejavu-core
mkdir -p build
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DTEKO_TESTS=OFF > build/demo.configure.log 2>&1 || { cat build/demo.configure.log; exit 1; }
cmake --build build/demo -j "$(nproc 2>/dev/null || echo 2)" --target tekod tekod-sim
OUT=${1:-build/demo/out}
rm -rf "$OUT"
build/demo/sim/tekod-sim --ts data/samples/demo.ts --out "$OUT" \
    --config data/samples/demo.conf --service 1 --zap 33:2
echo
echo "Screens:    $OUT/screens/"
echo "Index page: $OUT/index.html (open it in a browser)"
echo "Timeline:   $OUT/timeline.tsv"
echo "Daemon log: $OUT/log.txt"
