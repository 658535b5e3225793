#!/bin/sh
# Installs a TEKO package of this machine's CPU with dpkg, checks that the
# installed tekod starts and logs its banner, reads the package's
# /etc/TEKO.conf and finds the font it names; then removes the package and
# checks that the conffiles stay until it is purged. Needs root, and a
# machine where TEKO is not installed (it refuses to touch an existing
# /etc/TEKO.conf or an installed teko package).
# Usage: scripts/package_test.sh [DEB]   (default: build it with scripts/package.sh)
set -e
cd "$(dirname "$0")/.."
ARCH=$(dpkg --print-architecture)
DEB=$1
if [ -z "$DEB" ]; then
    sh scripts/package.sh "$ARCH"
    DEB=$(ls build/packages/teko_*_"$ARCH".deb)
fi
[ "$(id -u)" -eq 0 ] || { echo "package_test: needs root (dpkg -i)" >&2; exit 1; }
CONFFILES="/etc/TEKO.conf /etc/TEKO.channels /etc/TEKO.translation /etc/init.d/tekod"
if dpkg-query -W -f='${Status}' teko 2>/dev/null | grep -q "installed"; then
    echo "package_test: teko is installed already; remove it first" >&2
    exit 1
fi
for f in $CONFFILES /usr/bin/tekod; do
    [ -e "$f" ] && { echo "package_test: $f exists; not touching this machine's TEKO" >&2; exit 1; }
done
fail() {
    echo "package_test: FAILED: $*" >&2
    dpkg --purge teko > /dev/null 2>&1 || true
    exit 1
}
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT

echo "== dpkg -i $DEB"
# The dependencies (FreeType, the font) come from Debian first.
DEPS=$(dpkg-deb -f "$DEB" Depends | sed 's/([^)]*)//g; s/,/ /g')
sh scripts/deps.sh $DEPS
dpkg -i "$DEB" || fail "dpkg -i"
for f in $CONFFILES /usr/bin/tekod /usr/bin/tekoctl /lib/systemd/system/tekod.service \
         /usr/share/doc/teko/copyright /usr/share/doc/teko/changelog.Debian.gz; do
    [ -e "$f" ] || fail "$f not installed"
done
FONT=$(sed -n 's/^Font //p' /etc/TEKO.conf)
[ -f "$FONT" ] || fail "/etc/TEKO.conf names font '$FONT', which is not installed"

echo "== tekod starts"
# tekod runs until killed; two seconds are enough for its start-up.
timeout 2 /usr/bin/tekod 2> "$LOG" || [ $? -eq 124 ] || fail "tekod ended early: $(cat "$LOG")"
grep -qx "TEKO: Booting..." "$LOG" || fail "no banner: $(head -5 "$LOG")"
grep -q "^TEKO: Version: " "$LOG" || fail "no version line"
grep -qx "TEKO: Load settings from: /etc/TEKO.conf" "$LOG" || fail "/etc/TEKO.conf not read"
grep -qx "TEKO: CONFIG: Font = $FONT" "$LOG" || fail "font not taken from /etc/TEKO.conf: $(grep Font "$LOG")"
sed -n '1,2p' "$LOG"

echo "== dpkg -r teko: the conffiles stay"
echo "Language ger" >> /etc/TEKO.conf
dpkg -r teko || fail "dpkg -r"
[ -e /usr/bin/tekod ] && fail "/usr/bin/tekod still there after removal"
for f in $CONFFILES; do
    [ -e "$f" ] || fail "$f removed with the package (a conffile stays until purge)"
done
tail -1 /etc/TEKO.conf | grep -qx "Language ger" || fail "the edited /etc/TEKO.conf was not kept"

echo "== dpkg -P teko: the conffiles go"
dpkg -P teko || fail "dpkg -P"
for f in $CONFFILES /etc/systemd/system/multi-user.target.wants/tekod.service; do
    [ -e "$f" ] || [ -L "$f" ] && fail "$f still there after purge"
done
echo "Package test passed: $DEB"
