#!/bin/sh
# Builds TEKO for a box's CPU with Debian's cross compiler and runs its tests
# here under qemu-user. Installs what it needs on a Debian 12 machine:
#  - armhf: the target's -dev packages through multiarch (dpkg
#    --add-architecture armhf);
#  - mipsel, s390x: Debian publishes security updates for neither, so their
#    libraries cannot be installed beside this machine's updated ones;
#    they are downloaded with `apt-get download` into BUILD/apt and unpacked
#    with `dpkg -x` into the sysroot BUILD/sysroot (BUILD = build/cross-TARGET).
#
# Usage: scripts/cross.sh TARGET [SUITE]
#   TARGET  armhf, mipsel or s390x (s390x is big-endian: byte-order faults
#           show there)
#   SUITE   all   every test, FFmpeg and libzvbi reference comparisons and
#                 the end-to-end replays through tekod-sim included (default
#                 for s390x);
#           unit  every test that needs neither FFmpeg nor tekod-sim's
#                 end-to-end replay (default for armhf and mipsel);
#           ci    s390x's share of scripts/test.sh, the programs where byte
#                 order shows: display, DVB subtitles (FFmpeg comparison
#                 included), Teletext (libzvbi comparison included),
#                 demultiplexing, the simulator's stream scan, and of the
#                 end-to-end suite the command line, the scenarios and the
#                 replays of four samples at 32 bits per pixel (a DVB and a
#                 Teletext service with PSI, DVB colours, a German Teletext
#                 page). Left to `all`: the application, configuration and
#                 fuzz-replay programs (no byte-order-dependent code of
#                 their own) and the other 28 replays, to keep CI short.
#           none  build only;
#           setup only install (and download) the target's libraries.
# Tests may take TEKO_EMULATION_SLOWDOWN times longer than natively before
# ctest ends them (default 16, about qemu-user's cost on this code); replays
# run in simulated time, so what they show does not depend on it.
set -e
cd "$(dirname "$0")/.."
TARGET=$1
case "$TARGET" in
    armhf) TRIPLET=arm-linux-gnueabihf ;;
    mipsel) TRIPLET=mipsel-linux-gnu ;;
    s390x) TRIPLET=s390x-linux-gnu ;;
    *) echo "usage: scripts/cross.sh armhf|mipsel|s390x [all|unit|ci|none|setup]" >&2; exit 2 ;;
esac
DEFAULT=unit
[ "$TARGET" = s390x ] && DEFAULT=all
SUITE=${2:-$DEFAULT}
case "$SUITE" in all|unit|ci|none|setup) ;; *) echo "unknown suite: $SUITE" >&2; exit 2 ;; esac
BUILD=$(pwd)/build/cross-$TARGET
mkdir -p "$BUILD"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

# The target's libraries: the C++ runtime (and libatomic, which 32-bit MIPS
# needs for the simulator's 64-bit atomics), FreeType and libpng for the
# daemon and simulator, GoogleTest and libzvbi for the tests, FFmpeg only
# for the whole suite.
LIBS="libstdc++6 libatomic1 libfreetype-dev libpng-dev libgtest-dev libzvbi-dev"
FFMPEG=OFF
if [ "$SUITE" = all ] || [ "$SUITE" = ci ] || { [ "$DEFAULT" = all ] && [ "$SUITE" != unit ]; }; then
    LIBS="$LIBS libavcodec-dev libavutil-dev"
    FFMPEG=ON
fi

sh scripts/deps.sh cmake make pkg-config dpkg-dev qemu-user "g++-$TRIPLET"

# Downloads LIBS and everything they depend on for TARGET from Debian's
# archive (the sites this machine's apt uses) with a private apt state in
# BUILD/apt, and unpacks them into BUILD/sysroot. The packages' symbols and
# shlibs control files go together into BUILD/sysroot/DEBIAN, where
# dpkg-shlibdeps looks for those of a library that no installed package owns.
make_sysroot() {
    root=$BUILD/sysroot
    if [ -f "$root/.teko-libs" ] && [ "$(cat "$root/.teko-libs")" = "$LIBS" ]; then
        return
    fi
    apt=$BUILD/apt
    rm -rf "$root" "$apt"
    mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/debs" "$root/DEBIAN"
    : > "$apt/status"
    apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' 'Origin: Debian' |
        sort -u | sed "s/^/deb [arch=$TARGET] /" > "$apt/sources.list"
    set -- -o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=- \
        -o "Dir::State::Lists=$apt/lists" -o "Dir::State::status=$apt/status" \
        -o "Dir::Cache=$apt" -o "Dir::Cache::archives=$apt/archives" \
        -o "APT::Architecture=$TARGET" -o "APT::Architectures::=$TARGET" -o Debug::NoLocking=1 \
        -o APT::Sandbox::User=root
    echo "Sysroot for $TARGET: downloading $LIBS and their dependencies"
    apt-get "$@" -qq update
    # Every package the libraries need, alternatives and all; virtual
    # packages (<name>) are left out, their providers are listed.
    apt-cache "$@" depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances $LIBS | grep -v '^[ <]' | sort -u > "$apt/packages"
    (cd "$apt/debs" && apt-get "$@" -qq download $(cat "$apt/packages"))
    for deb in "$apt"/debs/*.deb; do
        dpkg -x "$deb" "$root"
        rm -rf "$apt/control" && dpkg-deb -e "$deb" "$apt/control"
        for f in shlibs symbols; do
            if [ -f "$apt/control/$f" ]; then cat "$apt/control/$f" >> "$root/DEBIAN/$f"; fi
        done
    done
    # Links to absolute paths name the target's root: point them into the
    # sysroot instead.
    find "$root" -type l | while read -r link; do
        to=$(readlink "$link")
        case "$to" in /*) ln -sfn "$root$to" "$link" ;; esac
    done
    echo "Sysroot for $TARGET: $(wc -l < "$apt/packages") packages, $(du -sm "$apt/debs" | cut -f1) MB"
    echo "$LIBS" > "$root/.teko-libs"
}

SYSROOT=""
if [ "$TARGET" = armhf ]; then
    if ! dpkg --print-foreign-architectures | grep -qx armhf; then
        $SUDO dpkg --add-architecture armhf
        $SUDO apt-get update -qq
    fi
    sh scripts/deps.sh $(for p in $LIBS; do echo "$p:armhf"; done)
else
    make_sysroot
    SYSROOT=$BUILD/sysroot
fi
[ "$SUITE" = setup ] && exit 0

cmake -S . -B "$BUILD/build" -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/toolchain-$TARGET.cmake" \
    -DTEKO_SYSROOT="$SYSROOT" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTEKO_WERROR=ON -DTEKO_FFMPEG=$FFMPEG \
    -DTEKO_EMULATION_SLOWDOWN="${TEKO_EMULATION_SLOWDOWN:-16}" \
    > "$BUILD/configure.log" 2>&1 || { cat "$BUILD/configure.log"; exit 1; }
JOBS=$(nproc 2>/dev/null || echo 2)
CI_PROGRAMS="test_display test_dvbsub test_render test_teletext test_demux test_sim test_e2e"
if [ "$SUITE" = ci ]; then
    cmake --build "$BUILD/build" -j "$JOBS" --target $CI_PROGRAMS tekod-sim
else
    cmake --build "$BUILD/build" -j "$JOBS"
fi
[ "$SUITE" = none ] && exit 0

cd "$BUILD/build"
if [ "$SUITE" = ci ]; then
    # Each test carries its program's name as its label.
    ctest --output-on-failure --no-tests=error -j "$JOBS" -E '^Streams/' -L "^($(echo $CI_PROGRAMS | tr ' ' '|'))\$"
    ctest --output-on-failure --no-tests=error -j "$JOBS" \
        -R '^Streams/.*/(demo_dvb|demo_teletext|pes_uk_colours|subtitleedit_teletext_de)_32bpp( |$)'
else
    ctest --output-on-failure --no-tests=error -j "$JOBS"
fi
echo "All $TARGET tests ($SUITE) passed under qemu-user."
