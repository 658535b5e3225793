#!/bin/sh
# Installs, with apt-get and Debian's packages only, whatever the build,
# the tests and the tools need and the machine does not have yet; or, given
# package names (such as libpng-dev:armhf), only those.
set -e
PACKAGES="cmake g++ make pkg-config clang libclang-rt-14-dev libfreetype-dev libpng-dev
libgtest-dev libbenchmark-dev fonts-dejavu-core ffmpeg libavcodec-dev libavformat-dev
libavutil-dev libzvbi-dev valgrind"
[ $# -gt 0 ] && PACKAGES="$*"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
