#!/usr/bin/env bash
# Builds everything and runs every test: native, sanitizers, the Windows tests under Wine, the
# end-to-end tests through the real window under Wine and Xvfb, fuzzing, valgrind, the kill test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/install-deps.sh"
jobs=$(nproc)
step() { printf '\n=== %s\n' "$*"; }

step "native: build and test"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native

step "native-asan: build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j"$jobs"
ctest --preset native-asan

step "win32: the product, quelvane.exe"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
exe=build/win32/quelvane.exe
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' ')
echo "quelvane.exe: $(i686-w64-mingw32-objdump -f "$exe" | awk '/file format/ {print $4}'), imports: $imports"
for dll in $imports; do
    case "$dll" in KERNEL32.dll|USER32.dll|GDI32.dll|msvcrt.dll) ;;
        *) echo "quelvane.exe imports $dll, which is not a system DLL" >&2; exit 1 ;;
    esac
done
headers=$(i686-w64-mingw32-objdump -p "$exe")
resources=$(strings -el "$exe")
grep -q "Subsystem.*(Windows GUI)" <<<"$headers" || { echo "quelvane.exe is not a GUI program" >&2; exit 1; }
grep -q MAINICON <<<"$resources" || { echo "quelvane.exe has no MAINICON" >&2; exit 1; }
grep -q "ProductName" <<<"$resources" || { echo "quelvane.exe has no version info" >&2; exit 1; }

# Wine runs the 32-bit exe only where this machine can execute 32-bit x86 code at all.
if timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1; then
    step "win32: unit tests and end-to-end under 32-bit Wine"
    ctest --preset win32
    scripts/e2e.sh build/win32 32
else
    step "win64: this machine cannot execute 32-bit x86 code (the 32-bit Wine loader fails);"
    echo "running the same Windows sources, built for 64-bit, under 64-bit Wine instead"
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 -j"$jobs"
    ctest --preset win64
    scripts/e2e.sh build/win64 64
    step "linux32: the engine's tests as 32-bit x86 code, under qemu's user-mode emulator"
    cmake --preset linux32 >/dev/null
    cmake --build --preset linux32 -j"$jobs"
    ctest --preset linux32
fi

step "valgrind: one real run of the native binary"
scripts/valgrind-run.sh build/native/quelvane build/native/bench/quelvane-workload

step "kill test: SIGKILL during the write never leaves a broken target"
tests/kill_test.sh build/native/quelvane build/native/bench/quelvane-workload

if command -v clang++ >/dev/null; then
    step "fuzz: the whole run on random pairs, ${QUELVANE_FUZZ_SECONDS:-60} s"
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz -j"$jobs"
    scripts/fuzz.sh "${QUELVANE_FUZZ_SECONDS:-60}"
fi
step "all tests passed"
