#!/usr/bin/env bash
# The tests' share of the code: non-blank lines of the tracked source and build files under
# tests/, e2e/ and fuzz/, over those of all of them. Source is code and what the build compiles
# or runs: the resource script and the templates of the manifest and the version header, the
# build presets, the CI entry (data, such as the fuzzer's seeds and dictionary, is not). The aim
# is 25-33 %; above 35 % this fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
count() {
    git ls-files -- "$@" |
        grep -E '\.(cpp|cc|h|hpp|c|py|sh|cmake|rc|in)$|(^|/)(CMakeLists\.txt|CMakePresets\.json)$|^\.ci/run$' |
        xargs -r cat | grep -cv '^[[:space:]]*$'
}
all=$(count .)
tests=$(count tests e2e fuzz)
share=$((1000 * tests / all))
printf 'test share: %d of %d non-blank lines are tests: %d.%d %%\n' "$tests" "$all" \
    $((share / 10)) $((share % 10))
[ "$share" -le 350 ] || { echo "test share: above 35 %" >&2; exit 1; }
