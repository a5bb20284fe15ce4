#!/usr/bin/env bash
# End-to-end cost of a run beside the floor of a durable replace of the same bytes, and beside
# `cat`, on generated workloads. For each workload and each of RUNS rounds (default 3), each on a
# fresh copy of the pair (so that each frees the old target's cache as it replaces it):
#   quelvane:  quelvane <<<''   (one press of "Go!"; its 2500 ms pause is subtracted from the wall
#              time; no shell in between, whose 1.5-2 ms of CPU would be charged to the run)
#   floor:     quelvane-floor .   (both files copied in the kernel into a new file, flushed,
#              renamed over verdata.mul, the directory flushed: bench/durable_floor.cpp)
#   cat:       cat verdata.mul patchdata.mul > out && sync out
#   again:     quelvane again on a file that holds what the patch gives (after the measured run,
#              and one more where the patch holds a new key twice, whose earlier entry the next
#              run drops): it writes nothing (checked: the file's inode and times and the
#              directory's times the same after it)
# and prints the medians and the least values of CPU time (user + system) and wall time, the peak
# resident memory, and the ratios to the floor and to cat (median to median, least to least),
# under a line that names the machine (CPU, cores, kernel, file system).
# Usage: bench/run_benchmarks.sh [many|sorted|large|worst|shuffled ...]   (default: all five)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${RUNS:-3}"
source "$root/bench/pairs.sh"
build_native
quelvane="$root/build/native/quelvane"
workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || workloads=(many sorted large worst shuffled)
floor="$root/build/native/bench/quelvane-floor"

# Prints "cpu_seconds wall_seconds max_rss_kb" for the command given (bench/measure.cpp: CPU from
# wait4, in microseconds); what the command prints goes to $scratch/said.txt.
measure() {
    "$root/build/native/bench/quelvane-measure" "$@" >"$scratch/said.txt" 2>"$scratch/time.txt"
    tail -n 1 "$scratch/time.txt"
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
printf '%-8s %-9s %10s %10s %10s %10s %10s\n' workload program cpu_s cpu_least wall_s wall_least \
    rss_MiB
for name in "${workloads[@]}"; do
    pair="$(pair_dir "$name")"
    size=$(( $(stat -c %s "$pair/verdata.mul") + $(stat -c %s "$pair/patchdata.mul") ))
    : > "$scratch/q.txt"; : > "$scratch/f.txt"; : > "$scratch/b.txt"; : > "$scratch/r.txt"
    for _ in $(seq "$runs"); do
        fresh_copy "$pair" "$scratch/run" && sync
        (cd "$scratch/run" && measure "$quelvane" <<<'') >> "$scratch/q.txt"
        expect_done "$name"
        # A patch that holds a new key twice puts both in, and the next run drops the earlier
        # one as a duplicate: the file holds what a run of the patch gives from then on.
        for _ in 1 2 3; do
            "$quelvane" -C "$scratch/run" --batch | grep -q 'already holds' && break
        done
        sync
        before="$(stat -c '%i %Y %Z' "$scratch/run/verdata.mul" "$scratch/run")"
        (cd "$scratch/run" && measure "$quelvane" <<<'') >> "$scratch/r.txt"
        expect_done "$name"
        [ "$(stat -c '%i %Y %Z' "$scratch/run/verdata.mul" "$scratch/run")" = "$before" ] || {
            echo "the repeated run on $name wrote to the directory" >&2
            exit 1
        }
        fresh_copy "$pair" "$scratch/run" && sync
        (cd "$scratch/run" && measure "$floor" .) >> "$scratch/f.txt"
        fresh_copy "$pair" "$scratch/run" && sync
        (cd "$scratch/run" && measure sh -c 'cat verdata.mul patchdata.mul > out && sync out') \
            >> "$scratch/b.txt"
    done
    # Medians and least values of CPU and wall (the run's pause taken off), the peak of the
    # resident memory. The least is the run that the machine disturbed least: on a virtual
    # machine one program's median can be moved by runs that its neighbours slowed down.
    stats() { awk -v pause="$2" '{print $1, $2 - pause, $3}' "$1" > "$scratch/s.txt"
              printf '%s %s %s %s %s' "$(awk '{print $1}' "$scratch/s.txt" | median)" \
                  "$(awk '{print $1}' "$scratch/s.txt" | sort -g | head -n 1)" \
                  "$(awk '{print $2}' "$scratch/s.txt" | median)" \
                  "$(awk '{print $2}' "$scratch/s.txt" | sort -g | head -n 1)" \
                  "$(awk '{print $3}' "$scratch/s.txt" | sort -g | tail -n 1)"; }
    read -r qcpu qcpu1 qwall qwall1 qrss <<<"$(stats "$scratch/q.txt" 2.5)"
    read -r fcpu fcpu1 fwall fwall1 frss <<<"$(stats "$scratch/f.txt" 0)"
    read -r bcpu bcpu1 bwall bwall1 brss <<<"$(stats "$scratch/b.txt" 0)"
    read -r rcpu rcpu1 rwall rwall1 rrss <<<"$(stats "$scratch/r.txt" 2.5)"
    row() { printf '%-8s %-9s %10.4f %10.4f %10.4f %10.4f %10.1f%s\n' "$name" "$1" "$2" "$3" "$4" \
                "$5" "$(echo "$6 / 1024" | bc -l)" "$7"; }
    row quelvane "$qcpu" "$qcpu1" "$qwall" "$qwall1" "$qrss" "   ($((size / 1000000)) MB moved in)"
    row floor "$fcpu" "$fcpu1" "$fwall" "$fwall1" "$frss" ""
    row cat "$bcpu" "$bcpu1" "$bwall" "$bwall1" "$brss" ""
    row again "$rcpu" "$rcpu1" "$rwall" "$rwall1" "$rrss" "   (nothing written)"
    ratio() { echo "$1 / $2" | bc -l; }
    printf '%-8s %-9s %9.2fx %9.2fx %9.2fx %9.2fx\n' "$name" "vs floor" "$(ratio "$qcpu" "$fcpu")" \
        "$(ratio "$qcpu1" "$fcpu1")" "$(ratio "$qwall" "$fwall")" "$(ratio "$qwall1" "$fwall1")"
    printf '%-8s %-9s %9.2fx %9.2fx %9.2fx %9.2fx\n' "$name" "vs cat" "$(ratio "$qcpu" "$bcpu")" \
        "$(ratio "$qcpu1" "$bcpu1")" "$(ratio "$qwall" "$bwall")" "$(ratio "$qwall1" "$bwall1")"
    printf '%-8s %-9s %9.2fx %9.2fx %9.2fx %9.2fx\n' "$name" "again/1st" "$(ratio "$rcpu" "$qcpu")" \
        "$(ratio "$rcpu1" "$qcpu1")" "$(ratio "$rwall" "$qwall")" "$(ratio "$rwall1" "$qwall1")"
done
rm -rf "$scratch/run"
