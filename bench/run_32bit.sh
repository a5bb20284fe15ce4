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
source "$root/bench/pairs.sh"
build_native
pair="$(pair_dir "$name")"
trap 'rm -rf "$scratch/run32" "$scratch/run64"' EXIT
native_result "$pair" "$scratch/run64"
fresh_copy "$pair" "$scratch/run32"
sync
echo "32-bit quelvane ($(file -b "$root/build/linux32/quelvane" | cut -d, -f1-2)) on workload $name:"
(cd "$scratch/run32" && printf '\n' | /usr/bin/time -o "$scratch/time32.txt" \
    -f 'wall %e s, peak resident %M KiB' qemu-i386-static "$root/build/linux32/quelvane")
cat "$scratch/time32.txt"
same_as_native "$scratch/run32" "$scratch/run64"
