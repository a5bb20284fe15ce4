#!/usr/bin/env bash
# End-to-end cost of a run beside the cost of copying the same bytes durably, on generated
# workloads. For each workload and each of RUNS rounds (default 3), on fresh copies of the pair:
#   quelvane:  printf '\n' | quelvane   (its 2500 ms pause is subtracted from the wall time)
#   baseline:  cat verdata.mul patchdata.mul > out && sync out
# and prints the medians of CPU time (user + system), wall time and peak resident memory, and
# the ratios, under a line that names the machine (CPU, cores, kernel, file system).
# Usage: bench/run_benchmarks.sh [many|sorted|large|worst ...]   (default: all four)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${RUNS:-3}"
source "$root/bench/pairs.sh"
build_native
quelvane="$root/build/native/quelvane"
workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || workloads=(many sorted large worst)

# Prints "cpu_seconds wall_seconds max_rss_kb" for the command given; what the command prints
# goes to $scratch/said.txt.
measure() {
    /usr/bin/time -f '%U %S %e %M' -o "$scratch/time.txt" "$@" >"$scratch/said.txt" 2>&1
    awk '{printf "%.3f %.3f %d\n", $1 + $2, $3, $4}' "$scratch/time.txt"
}
# A run that did not end with "Done." measured nothing worth reporting.
expect_done() {
    grep -qx 'Quelvane: Done.' "$scratch/said.txt" && return 0
    echo "quelvane did not finish on workload $1:" >&2
    cat "$scratch/said.txt" >&2
    exit 1
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

# The machine the table is from: its numbers hold for it alone.
printf 'machine: %s, %s cores; kernel %s; %s on %s\n' \
    "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')" "$(nproc)" \
    "$(uname -r)" "$(findmnt -n -o FSTYPE -T "$scratch" 2>/dev/null || echo '?')" "$scratch"
printf '%-7s %-9s %10s %10s %10s\n' workload program cpu_s wall_s rss_MiB
for name in "${workloads[@]}"; do
    pair="$(pair_dir "$name")"
    size=$(( $(stat -c %s "$pair/verdata.mul") + $(stat -c %s "$pair/patchdata.mul") ))
    : > "$scratch/q.txt"; : > "$scratch/b.txt"
    for _ in $(seq "$runs"); do
        fresh_copy "$pair" "$scratch/run" && sync
        (cd "$scratch/run" && measure sh -c "printf '\n' | '$quelvane'") >> "$scratch/q.txt"
        expect_done "$name"
        rm -f "$scratch/run/verdata.mul" && cp "$pair/verdata.mul" "$scratch/run/" && sync
        (cd "$scratch/run" && measure sh -c 'cat verdata.mul patchdata.mul > out && sync out') \
            >> "$scratch/b.txt"
    done
    qcpu=$(awk '{print $1}' "$scratch/q.txt" | median)
    qwall=$(awk '{print $2 - 2.5}' "$scratch/q.txt" | median)
    qrss=$(awk '{print $3}' "$scratch/q.txt" | sort -g | tail -n 1)
    bcpu=$(awk '{print $1}' "$scratch/b.txt" | median)
    bwall=$(awk '{print $2}' "$scratch/b.txt" | median)
    brss=$(awk '{print $3}' "$scratch/b.txt" | sort -g | tail -n 1)
    printf '%-7s %-9s %10.3f %10.3f %10.1f   (%d MB moved in)\n' "$name" quelvane "$qcpu" "$qwall" \
        "$(echo "$qrss / 1024" | bc -l)" $((size / 1000000))
    printf '%-7s %-9s %10.3f %10.3f %10.1f\n' "$name" baseline "$bcpu" "$bwall" "$(echo "$brss / 1024" | bc -l)"
    printf '%-7s %-9s %10.2fx %9.2fx\n' "$name" ratio "$(echo "$qcpu / ($bcpu + 0.001)" | bc -l)" \
        "$(echo "$qwall / ($bwall + 0.001)" | bc -l)"
done
rm -rf "$scratch/run"
