#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (idempotent; skips what is present), or,
# given package names, those alone (scripts/run.sh asks for the compiler and CMake only).
#
# A package index can arrive broken (a mirror caught mid-sync answers with a file of the wrong
# size), and apt then installs nothing that needs it. So the index update is retried a few
# times with a pause; when one index stays broken, the install is tried anyway with the lists
# that did arrive, and the suite whose list is missing is held at the versions installed (a
# library's amd64 list from that suite with no i386 list beside it would otherwise ask for two
# versions of one Multi-Arch library). A failure names what is missing and what to do.
#
# QUELVANE_APT_TRIES and QUELVANE_APT_PAUSE (seconds) set the retries; QUELVANE_APT_PREFERENCES
# is the preferences file that holds a broken suite back (removed again at the end).
set -euo pipefail
packages=(cmake make g++ libgtest-dev libbenchmark-dev googletest clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
          wine wine64 xvfb xdotool x11-utils imagemagick valgrind e2fsprogs bc time zip unzip
          g++-multilib qemu-user-static attr acl man-db groff-base fuse3 libfuse3-dev
          pkg-config xfsprogs strace debootstrap debhelper lintian fakeroot
          bash-completion)
tries=${QUELVANE_APT_TRIES:-4}
pause=${QUELVANE_APT_PAUSE:-10}
preferences=${QUELVANE_APT_PREFERENCES:-/etc/apt/preferences.d/quelvane-broken-index}

[ $# -eq 0 ] || packages=("$@")
[ $# -gt 0 ] || packages+=(wine32:i386)
# Node and npm run the workflow's linter; a Node installed by other means serves as well.
[ $# -gt 0 ] || command -v npm >/dev/null || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "install-deps: installing ${missing[*]}"
[[ " ${missing[*]}" != *:i386* ]] || dpkg --add-architecture i386

# apt-get update exits 0 for some failed indexes and 100 for others; its "Failed to fetch"
# lines are what tells, in either case.
log=$(mktemp)
trap 'rm -f "$log" "$preferences"' EXIT
for ((try = 1; ; try++)); do
    if apt-get update -q >"$log" 2>&1 && ! grep -q 'Failed to fetch' "$log"; then
        cat "$log"
        break
    fi
    cat "$log" >&2
    if [ "$try" -ge "$tries" ]; then
        echo "install-deps: the package index is still incomplete after $tries tries;" \
            "installing with the lists that arrived" >&2
        # Each broken list's suite, as its address names it (.../dists/SUITE/...).
        suites=$(grep -o 'Failed to fetch [^ ]*/dists/[^/ ]*' "$log" | sed 's|.*/dists/||' |
            sort -u)
        : >"$preferences"
        for suite in $suites; do
            printf 'Package: *\nPin: release n=%s\nPin-Priority: 99\n\n' "$suite" >>"$preferences"
            printf 'Package: *\nPin: release a=%s\nPin-Priority: 99\n\n' "$suite" >>"$preferences"
        done
        break
    fi
    echo "install-deps: the package index did not arrive whole (try $try of $tries);" \
        "trying again in $pause s" >&2
    sleep "$pause"
done

if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}"; then
    echo "install-deps: could not install: ${missing[*]}" >&2
    echo "install-deps: if apt said an index failed to download, the mirror is mid-sync:" \
        "run scripts/install-deps.sh again in a few minutes; otherwise install these" \
        "packages by hand (apt-get install PACKAGE) and read apt's reason above" >&2
    exit 1
fi
