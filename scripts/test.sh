#!/usr/bin/env bash
# Builds everything and runs every test: native, the Debian package, sanitizers, the Windows
# release and its checks, the Windows tests under Wine (Debian 12's Wine 8, and Debian 13's Wine 10
# in a tree of its own), the end-to-end tests through the real window under Wine and Xvfb,
# valgrind, fuzzing, and the tests' share of the code.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/install-deps.sh"
jobs=$(nproc)
step() { printf '\n=== %s\n' "$*"; }

step "the README's first command: scripts/run.sh on a demo pair (a release build)"
scripts/run.sh >/dev/null

step "native: build and test"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native

step "the Debian package: built, lintian-clean, installed, run, removed"
tests/package_test.sh build/native/bench/quelvane-workload

step "native-asan: build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j"$jobs"
ctest --preset native-asan

step "win32: the product's build, and its release: reproducible, with manifest and headers"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
tests/release_test.sh build/release-check

# Wine runs the 32-bit exe only where this machine can execute 32-bit x86 code at all.
if timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1; then
    step "win32: unit tests and end-to-end under 32-bit Wine"
    ctest --preset win32
    QUELVANE_EXE=build/release-check/quelvane.exe scripts/e2e.sh build/win32 32
    step "win32: unit tests and the end-to-end table under Wine 10 (Debian 13), a second Wine"
    scripts/wine10.sh build/win32 build/release-check/quelvane.exe
else
    step "win64: this machine cannot execute 32-bit x86 code (the 32-bit Wine loader fails);"
    echo "running the same Windows sources, built for 64-bit, under 64-bit Wine instead"
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 -j"$jobs"
    ctest --preset win64
    scripts/e2e.sh build/win64 64
    step "win64: unit tests and the end-to-end table under Wine 10 (Debian 13), a second Wine"
    scripts/wine10.sh build/win64 build/win64/quelvane.exe
    step "linux32: the engine's tests as 32-bit x86 code, under qemu's user-mode emulator"
    cmake --preset linux32 >/dev/null
    cmake --build --preset linux32 -j"$jobs"
    ctest --preset linux32
fi

step "valgrind: one real run of the native binary"
scripts/valgrind-run.sh build/native/quelvane build/native/bench/quelvane-workload

if command -v clang++ >/dev/null; then
    step "fuzz: the whole run on random pairs, ${QUELVANE_FUZZ_SECONDS:-60} s"
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz -j"$jobs"
    scripts/fuzz.sh "${QUELVANE_FUZZ_SECONDS:-60}"
fi
step "the workflow for real Windows and a fresh Debian, linted with actionlint (it has not run yet)"
scripts/lint-workflows.sh

step "the tests' share of the code"
scripts/test-share.sh

step "all tests passed"
