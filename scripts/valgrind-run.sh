#!/usr/bin/env bash
# One real run of the native binary under valgrind memcheck, on the demo pair: no errors allowed.
# Usage: scripts/valgrind-run.sh PATH/TO/quelvane PATH/TO/quelvane-workload
set -euo pipefail
quelvane="$(realpath "$1")"
workload="$(realpath "$2")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$workload" demo "$work"
cd "$work"
printf '\n' | valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
    "$quelvane"
echo "valgrind: no errors"
