#!/usr/bin/env bash
# The product from a compiler and CMake alone: a tree configured with GoogleTest, Google
# Benchmark and pkg-config (so libfuse3) hidden from CMake says in one line each what it skips,
# builds, and installs the command, its man page and its completion. Usage: SOURCE_DIR
set -euo pipefail
source="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "minimal build test: $*" >&2; exit 1; }
cmake -S "$source" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON >"$work/configure.txt" 2>&1 ||
    { cat "$work/configure.txt" >&2; fail "the configure failed"; }
for part in "the tests skipped: GoogleTest" "the engine's benchmarks skipped: Google Benchmark"; do
    grep -q "quelvane: $part" "$work/configure.txt" || fail "no line says '$part'"
done
cmake --build "$work/build" -j"$(nproc)" --target quelvane >/dev/null || fail "the build failed"
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null || fail "the install failed"
for file in bin/quelvane share/man/man1/quelvane.1 share/bash-completion/completions/quelvane; do
    [ -f "$work/prefix/$file" ] || fail "$file was not installed"
done
"$work/prefix/bin/quelvane" --version | grep -q '^quelvane ' || fail "the command does not run"
# Asked for by name, a part whose libraries are missing fails the configure instead.
if cmake -S "$source" -B "$work/required" -DQUELVANE_TESTS=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >/dev/null 2>&1; then
    fail "QUELVANE_TESTS=ON without GoogleTest configured"
fi
echo "minimal build test: configured without the test libraries (each skip said), built and installed"
