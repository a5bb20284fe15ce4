#!/usr/bin/env bash
# Where a run's time goes beside cat's, on one generated workload (default: worst), on fresh
# copies of the pair: CPU time and page faults of each side (medians of RUNS, default 5, by perf
# stat), each side's system calls (strace -c), and the share of a run's samples under each system
# call and in the program itself (perf record -g). Needs perf and strace (Debian's linux-perf and
# strace) and permission to read the kernel's counters (root, or perf_event_paranoid <= 1).
# Usage: bench/profile.sh [many|sorted|large|worst|shuffled]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/bench/pairs.sh"
build_native
quelvane="$root/build/native/quelvane"
pair="$(pair_dir "${1:-worst}")"
run="$scratch/profile"
baseline='cat verdata.mul patchdata.mul > out && sync out'
fresh() { fresh_copy "$pair" "$run" && sync && cd "$run"; }
# "task-clock page-faults" of one command, in milliseconds and counts.
counters() {
    perf stat -x, -e task-clock,page-faults -o "$scratch/stat.txt" "$@" >/dev/null 2>&1
    awk -F, '/task-clock/ {t = $1} /page-faults/ {f = $1} END {printf "%.1f %d\n", t, f}' \
        "$scratch/stat.txt"
}
median() { sort -g | awk '{a[NR] = $0} END {print a[int((NR + 1) / 2)]}'; }

for side in quelvane cat; do
    for _ in $(seq "${RUNS:-5}"); do
        fresh
        if [ "$side" = quelvane ]; then counters "$quelvane" --batch; else counters sh -c "$baseline"; fi
    done | median | awk -v side="$side" '{printf "%-9s %8.1f ms CPU %8d page faults\n", side, $1, $2}'
done
echo; echo "== system calls, quelvane"; fresh
strace -c -f -o "$scratch/strace.txt" "$quelvane" --batch >/dev/null; head -n 12 "$scratch/strace.txt"
echo; echo "== system calls, cat"; fresh
strace -c -f -o "$scratch/strace.txt" sh -c "$baseline"; head -n 8 "$scratch/strace.txt"
echo; echo "== a run's samples: under each system call, and in the program's own code"; fresh
perf record -q -F 20000 -g -o "$scratch/perf.data" "$quelvane" --batch >/dev/null 2>&1
perf report -i "$scratch/perf.data" --children --sort symbol 2>/dev/null |
    awk '($3 == "[k]" && $4 ~ /^(__x64_sys_|ksys_write$|do_preadv$|asm_exc_page_fault$)/) ||
         ($3 == "[.]" && $4 ~ /^(quelvane|std)::/) {print $1, $4}' | head -n 16
rm -rf "$run"
