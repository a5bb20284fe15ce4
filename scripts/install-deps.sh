#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (idempotent; skips what is present).
set -euo pipefail
packages=(cmake make g++ libgtest-dev libbenchmark-dev googletest clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
          wine wine64 xvfb xdotool x11-utils imagemagick valgrind e2fsprogs bc time zip unzip
          g++-multilib qemu-user-static attr acl man-db groff-base fuse3 libfuse3-dev
          pkg-config xfsprogs strace debootstrap)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed" || missing+=(wine32:i386)
if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    dpkg --add-architecture i386
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
