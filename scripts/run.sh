#!/usr/bin/env bash
# Patches verdata.mul with patchdata.mul in DIR (a demo pair in a fresh directory when no DIR is
# given): builds the native program if needed (with no test libraries), then patches once
# (--batch: a summary line, and an exit status that says whether it worked).
set -euo pipefail
usage() {
    echo "Usage: scripts/run.sh [DIR]"
    echo "Patches DIR/verdata.mul with DIR/patchdata.mul (a demo pair in a new directory when"
    echo "no DIR is given), building the native quelvane first. Exit status: quelvane --batch's."
}
case "${1:-}" in
    -h | --help) usage; exit 0 ;;
    -*) echo "run.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
esac
[ $# -le 1 ] || { echo "run.sh: one directory at most" >&2; usage >&2; exit 2; }
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || ! command -v make >/dev/null; then
    "$root/scripts/install-deps.sh" cmake make g++
fi
build="$root/build/run"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUELVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quelvane quelvane-workload >/dev/null
workload="$build/bench/quelvane-workload"
dir="${1:-}"
if [ -z "$dir" ]; then
    dir="$(mktemp -d)"
    "$workload" demo "$dir"
    echo "Demo pair written to $dir"
    "$workload" list "$dir/verdata.mul"
    "$workload" list "$dir/patchdata.mul"
fi
status=0
"$build/quelvane" -C "$dir" --batch || status=$?
[ -f "$dir/verdata.mul" ] && "$workload" list "$dir/verdata.mul"
exit "$status"
