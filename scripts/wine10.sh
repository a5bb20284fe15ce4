#!/usr/bin/env bash
# The Windows unit tests and the end-to-end table once more under a second Wine: Wine 10 of
# Debian 13, which has the rename that Windows 10 and 11 take (Wine 8 of Debian 12 has only the
# classic one). It runs in a tree of Debian's own packages that debootstrap makes under build/
# (once: about a minute), entered with chroot in a mount namespace of its own, so that nothing it
# mounts outlives it. Where the machine cannot do that (not root, no debootstrap, Debian's archive
# out of reach, too little free disk), it says so and skips this part; it never passes silently.
# Usage: scripts/wine10.sh WIN32_BUILD_DIR EXE
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "$1" && pwd)"
exe="$(realpath "$2")"
tree="$root/build/debian13"
log="$root/build/debian13.log"
skip() {
    echo "wine10: SKIPPED (not passed): $*"
    exit 0
}
[ "$(id -u)" = 0 ] || skip "making and entering a Debian 13 tree needs root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
[ "$(df --output=avail -k "$root/build" | tail -n 1)" -gt $((3 * 1024 * 1024)) ] ||
    skip "less than 3 GiB free under build/"

# Runs `command` as root inside the tree, with /proc, /dev, the source tree (at its own path)
# and the X server's sockets mounted for it alone.
in_tree() {
    unshare --mount --propagation private bash -c '
        set -e
        tree=$1 root=$2
        shift 2
        mount -t proc proc "$tree/proc"
        mount --rbind /dev "$tree/dev"
        mkdir -p "$tree$root" "$tree/tmp/.X11-unix"
        mount --bind "$root" "$tree$root"
        [ -d /tmp/.X11-unix ] && mount --bind /tmp/.X11-unix "$tree/tmp/.X11-unix"
        exec chroot "$tree" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
            DISPLAY="${DISPLAY:-}" "$@"' _ "$tree" "$root" "$@"
}

if [ ! -f "$tree/.ready" ]; then
    start=$(date +%s)
    rm -rf "$tree"
    debootstrap --variant=minbase --arch=amd64 trixie "$tree" http://deb.debian.org/debian \
        >"$log" 2>&1 || skip "debootstrap could not make the tree from Debian's archive ($log)"
    cp /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true
    in_tree sh -c 'dpkg --add-architecture i386 && apt-get update -q &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
            wine wine32:i386 wine64' >>"$log" 2>&1 ||
        skip "Wine 10 could not be installed in the tree ($log)"
    touch "$tree/.ready"
    echo "wine10: the Debian 13 tree with Wine 10 made in $(($(date +%s) - start)) s"
fi

source "$here/xvfb.sh"
start_xvfb
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
start=$(date +%s)
in_tree bash -c '
    set -euo pipefail
    build=$1 exe=$2
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$build/wineprefix10"
    trap "wineserver -k 2>/dev/null || true" EXIT
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wine wineboot -i >/dev/null 2>&1 || true
        wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ /d N /f \
            >/dev/null 2>&1 || true
        wineserver -w || true
    fi
    echo "wine10: $(wine --version)"
    cd "$build"
    # A hang fails the run within its bound rather than holding it for good.
    timeout 1200 wine tests/quelvane_unit_tests.exe
    timeout 1800 wine e2e/quelvane_e2e_driver.exe "$exe"' _ "$build" "$exe"
echo "wine10: the Windows unit tests and the end-to-end table passed under Wine 10 in" \
    "$(($(date +%s) - start)) s"
