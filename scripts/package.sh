#!/bin/sh
# Builds TEKO's Debian packages, one per CPU: tekod and tekoctl in /usr/bin;
# /etc/TEKO.conf (naming DejaVu Sans, which the package depends on),
# /etc/TEKO.channels, /etc/TEKO.translation and the init script
# /etc/init.d/tekod as conffiles; the systemd unit; copyright and changelog;
# dependencies on the shared libraries tekod and tekoctl link, found by
# dpkg-shlibdeps. Cross builds get their libraries from scripts/cross.sh
# (multiarch for armhf, an unpacked sysroot for mipsel). Each package is
# checked with lintian, which must report no error.
#
# Usage: scripts/package.sh [ARCH...]   (default: amd64 armhf mipsel)
# The packages land in build/packages/teko_VERSION_ARCH.deb.
set -e
cd "$(dirname "$0")/.."
TOP=$(pwd)
OUT=$TOP/build/packages
ARCHS=${*:-amd64 armhf mipsel}
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
HOST=$(dpkg --print-architecture 2>/dev/null || echo amd64)
mkdir -p "$OUT"
sh scripts/deps.sh cmake g++ make pkg-config libfreetype-dev dpkg-dev debhelper lintian

# One line of the README's size table: the stripped daemon, and every
# shared library it loads (what it names and what those name, from the
# target's library folders), each with its size in KiB.
sizes() {
    arch=$1 daemon=$2
    triplet=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
    dirs="$3/lib/$triplet $3/usr/lib/$triplet"
    kib() { echo $((($(stat -L -c %s "$1") + 1023) / 1024)); }
    todo=$(readelf -d "$daemon" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    seen="" list=""
    total=$(kib "$daemon")
    while [ -n "$todo" ]; do
        set -- $todo
        lib=$1; shift; todo="$*"
        case " $seen " in *" $lib "*) continue ;; esac
        seen="$seen $lib"
        for d in $dirs; do
            if [ -e "$d/$lib" ]; then
                size=$(kib "$d/$lib")
                total=$((total + size))
                list="$list, $lib $size"
                todo="$todo $(readelf -d "$d/$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')"
                break
            fi
        done
    done
    echo "| $arch | $(kib "$daemon") KiB | ${list#, } (KiB) | $total KiB |"
}
SIZES=""

for ARCH in $ARCHS; do
    echo "== Package for $ARCH"
    B=$TOP/build/pkg-$ARCH
    set -- -DCMAKE_BUILD_TYPE=Release -DTEKO_TESTS=OFF -DTEKO_SIM=OFF -DTEKO_WERROR=ON \
        -DCMAKE_INSTALL_PREFIX=/usr -DTEKO_SYSTEMD_UNIT_DIR=/lib/systemd/system -DTEKO_INIT_DIR=/etc/init.d
    SHLIBDIRS="" SYSROOT=""
    if [ "$ARCH" != "$HOST" ]; then
        sh scripts/cross.sh "$ARCH" setup
        if [ -d "$TOP/build/cross-$ARCH/sysroot" ] && [ "$ARCH" != armhf ]; then
            SYSROOT=$TOP/build/cross-$ARCH/sysroot
            TRIPLET=$(dpkg-architecture -a"$ARCH" -qDEB_HOST_MULTIARCH 2>/dev/null)
            SHLIBDIRS="$SYSROOT/lib/$TRIPLET:$SYSROOT/usr/lib/$TRIPLET"
        fi
        set -- "$@" -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/toolchain-$ARCH.cmake" -DTEKO_SYSROOT="$SYSROOT"
    fi
    cmake -S . -B "$B/build" "$@" > "$B.configure.log" 2>&1 || { cat "$B.configure.log"; exit 1; }
    cmake --build "$B/build" -j2 --target tekod tekoctl

    # The package's tree as debhelper expects it: debian/ with the package
    # description, debian/teko/ with the installed files.
    rm -rf "$B/debian" "$OUT"/teko_*_"$ARCH".deb
    mkdir -p "$B/debian"
    cp packaging/debian/control packaging/debian/changelog packaging/debian/copyright "$B/debian/"
    DESTDIR=$B/debian/teko cmake --install "$B/build" > /dev/null
    sed "s|^Font .*|Font $FONT|" data/TEKO.conf > "$B/debian/teko/etc/TEKO.conf"
    grep -qx "Font $FONT" "$B/debian/teko/etc/TEKO.conf"
    # dh_installinit installs the init script and registers it.
    mv "$B/debian/teko/etc/init.d/tekod" "$B/debian/teko.tekod.init"
    rmdir "$B/debian/teko/etc/init.d"
    (cd "$B" && dpkg-architecture -a"$ARCH" -c sh -e -c '
        dh_installdocs
        dh_installchangelogs
        dh_installinit --name=tekod
        dh_installsystemd
        dh_compress
        dh_fixperms
        dh_strip --no-automatic-dbgsym
        dh_shlibdeps ${1:+-l"$1"}
        dh_installdeb
        dh_gencontrol
        dh_md5sums
        dh_builddeb --destdir="$2"' sh "$SHLIBDIRS" "$OUT")
    DEB=$(ls "$OUT"/teko_*_"$ARCH".deb)
    echo "Depends: $(dpkg-deb -f "$DEB" Depends)"
    lintian --fail-on error "$DEB"
    echo "Built $DEB"
    SIZES="$SIZES
$(sizes "$ARCH" "$B/debian/teko/usr/bin/tekod" "$SYSROOT")"
done
echo
echo "| target | tekod, stripped | shared libraries it needs (with theirs) | total |"
echo "|---|---|---|---|"
echo "$SIZES" | sed '/^$/d'
