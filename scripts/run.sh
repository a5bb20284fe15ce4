#!/usr/bin/env bash
# Patches verdata.mul with patchdata.mul in DIR (a demo pair in a fresh directory when no DIR is
# given): builds the native program if needed, then patches once (--batch: a summary line, and an
# exit status that says whether it worked).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || [ ! -d /usr/include/gtest ] \
    || [ ! -d /usr/include/benchmark ]; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        cmake make g++ libgtest-dev libbenchmark-dev
fi
cmake --preset native -S "$root" >/dev/null
cmake --build "$root/build/native" -j"$(nproc)" --target quelvane quelvane-workload >/dev/null
workload="$root/build/native/bench/quelvane-workload"
dir="${1:-}"
if [ -z "$dir" ]; then
    dir="$(mktemp -d)"
    "$workload" demo "$dir"
    echo "Demo pair written to $dir"
    "$workload" list "$dir/verdata.mul"
    "$workload" list "$dir/patchdata.mul"
fi
status=0
"$root/build/native/quelvane" -C "$dir" --batch || status=$?
[ -f "$dir/verdata.mul" ] && "$workload" list "$dir/verdata.mul"
exit "$status"
