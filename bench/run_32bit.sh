#!/usr/bin/env bash
# The engine as 32-bit x86 code (the linux32 build, run under qemu's user-mode emulator, which
# works whether or not the kernel runs 32-bit code) on a generated workload (default: large, the
# ~1.1 GB pair): prints what the run said, its wall time (the 2500 ms pause included), its peak
# resident memory (qemu's own included), and whether its result is byte for byte the native
# 64-bit build's. Usage: bench/run_32bit.sh [many|sorted|large|worst]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
name="${1:-large}"
cmake --preset linux32 -S "$root" >/dev/null
cmake --build "$root/build/linux32" -j"$(nproc)" --target quelvane >/dev/null
cmake --preset native -S "$root" >/dev/null
cmake --build "$root/build/native" -j"$(nproc)" --target quelvane quelvane-workload >/dev/null
scratch="${BENCH_DIR:-$root/build/bench-data}"
pair="$scratch/$name"
[ -f "$pair/verdata.mul" ] || "$root/build/native/bench/quelvane-workload" "$name" "$pair"
trap 'rm -rf "$scratch/run32" "$scratch/run64"' EXIT
rm -rf "$scratch/run32" "$scratch/run64" && mkdir -p "$scratch/run32" "$scratch/run64"
cp "$pair/verdata.mul" "$pair/patchdata.mul" "$scratch/run64/"
(cd "$scratch/run64" && printf '\n' | "$root/build/native/quelvane" >/dev/null)
cp "$pair/verdata.mul" "$pair/patchdata.mul" "$scratch/run32/"
sync
echo "32-bit quelvane ($(file -b "$root/build/linux32/quelvane" | cut -d, -f1-2)) on workload $name:"
(cd "$scratch/run32" && printf '\n' | /usr/bin/time -o "$scratch/time32.txt" \
    -f 'wall %e s, peak resident %M KiB' qemu-i386-static "$root/build/linux32/quelvane")
cat "$scratch/time32.txt"
if cmp -s "$scratch/run64/verdata.mul" "$scratch/run32/verdata.mul"; then
    echo "result: byte for byte the native build's ($(stat -c %s "$scratch/run32/verdata.mul") bytes)"
else
    echo "result: DIFFERS from the native build's" >&2
    exit 1
fi
