#!/usr/bin/env bash
# Runs the whole-run fuzz target for SECONDS (default 60) from the committed seed corpus.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
corpus="$root/build/fuzz/corpus"
mkdir -p "$corpus"
"$root/build/fuzz/fuzz/quelvane_fuzz_run" -max_total_time="$seconds" -max_len=4096 \
    -dict="$root/fuzz/quelvane.dict" -print_final_stats=1 "$corpus" "$root/fuzz/corpus" 2>&1 \
    | grep -E '^(#[0-9]+.*(DONE|pulse)|stat::number_of_executed_units|stat::average_exec_per_sec|INFO: seed)|ERROR|SUMMARY' || true
test "${PIPESTATUS[0]}" -eq 0
