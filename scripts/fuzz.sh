#!/usr/bin/env bash
# Runs the whole-run fuzz target for SECONDS (default 60) from the committed seed corpus.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
corpus="$root/build/fuzz/corpus"
mkdir -p "$corpus"
status=0
TMPDIR=/dev/shm "$root/build/fuzz/fuzz/quelvane_fuzz_run" -max_total_time="$seconds" -max_len=4096 \
    -dict="$root/fuzz/quelvane.dict" -print_final_stats=1 "$corpus" "$root/fuzz/corpus" \
    > "$root/build/fuzz/fuzz.log" 2>&1 || status=$?
grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec)|ERROR|SUMMARY|invariant' \
    "$root/build/fuzz/fuzz.log" || true
exit "$status"
