#!/usr/bin/env bash
# The Windows exe on a generated workload (default: large, the ~1.1 GB pair), driven through its
# window under Wine and Xvfb: prints what the run said, its time from the press to the box, its
# peak resident memory (read from /proc while it runs) and whether its result is byte for byte
# the native build's. Uses the 32-bit exe where this machine runs 32-bit Wine, else the 64-bit
# build of the same sources. Usage: bench/run_windows.sh [many|large|worst]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
name="${1:-large}"
if timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1; then bits=32; else bits=64; fi
preset="win$bits"
cmake --preset "$preset" -S "$root" >/dev/null
cmake --build "$root/build/$preset" -j"$(nproc)" --target quelvane quelvane_e2e_driver >/dev/null
source "$root/bench/pairs.sh"
build_native
pair="$(pair_dir "$name")"

export QUELVANE_WINE_BITS="$bits"
source "$root/scripts/wine-env.sh"
source "$root/scripts/xvfb.sh"
start_xvfb
sampler=""
cleanup() {
    [ -n "$sampler" ] && kill "$sampler" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$scratch/windows-run" "$scratch/native-run"
}
trap cleanup EXIT

native_result "$pair" "$scratch/native-run"
fresh_copy "$pair" "$scratch/windows-run"
sync

# The highest VmHWM seen of the Wine process that runs quelvane.exe (its name is the exe's).
(
    peak=0
    while true; do
        for pid in $(pgrep -x quelvane.exe || true); do
            kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
            [ "${kb:-0}" -gt "$peak" ] && peak=$kb && echo "$peak" > "$scratch/windows-peak.txt"
        done
        sleep 0.1
    done
) &
sampler=$!
echo 0 > "$scratch/windows-peak.txt"

echo "quelvane.exe ($bits-bit build) on workload $name:"
(cd "$scratch/windows-run" && "$quelvane_wine" "$root/build/$preset/e2e/quelvane_e2e_driver.exe" --press \
    "$root/build/$preset/quelvane.exe")
kill "$sampler" 2>/dev/null || true
sampler=""
printf 'peak resident memory (VmHWM): %.1f MiB\n' "$(echo "$(cat "$scratch/windows-peak.txt") / 1024" | bc -l)"
same_as_native "$scratch/windows-run" "$scratch/native-run"
