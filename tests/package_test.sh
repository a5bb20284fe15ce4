#!/usr/bin/env bash
# The Debian package: built from the tree, clean under lintian (no error, no warning), installed
# with apt-get, its command run on a demo pair, its man page and completion working, and removed
# with nothing of it left. Needs root. Usage: tests/package_test.sh WORKLOAD_GENERATOR
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
workload="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
# A package left by an earlier run that was cut off goes first.
if dpkg-query -W -f='${Status}' quelvane 2>/dev/null | grep -q "ok installed"; then
    apt-get purge -y -q quelvane >/dev/null
fi
deb="$("$root/scripts/package-deb.sh")"
lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 ||
    { cat "$work/lintian.txt" >&2; fail "lintian found errors or warnings"; }
grep -E '^[EW]: ' "$work/lintian.txt" && fail "lintian found errors or warnings"
apt-get install -y -q "$deb" >"$work/install.txt" 2>&1 ||
    { cat "$work/install.txt" >&2; fail "apt-get could not install $deb"; }
mapfile -t files < <(dpkg -L quelvane)
[ "$(command -v quelvane)" = /usr/bin/quelvane ] || fail "quelvane is not on the PATH"
"$workload" demo "$work/pair" >/dev/null
quelvane -n -C "$work/pair" | grep -q "would be replaced" || fail "quelvane -n did not run"
MANWIDTH=80 man quelvane 2>/dev/null | grep -q -- "--backup" || fail "man quelvane shows no page"
completion="$(bash --norc -c 'source /usr/share/bash-completion/completions/quelvane
    COMP_WORDS=(quelvane --ba); COMP_CWORD=1; _quelvane; echo "${COMPREPLY[*]}"')"
[[ $completion == *--batch* ]] || fail "the completion completes nothing: '$completion'"
apt-get purge -y -q quelvane >"$work/remove.txt" 2>&1 ||
    { cat "$work/remove.txt" >&2; fail "apt-get could not remove quelvane"; }
! dpkg-query -W -f='${Status}' quelvane 2>/dev/null | grep -q installed || fail "still installed"
for file in "${files[@]}"; do
    # Directories such as /usr/bin are shared; every file and link of the package goes.
    [ -d "$file" ] || [ ! -e "$file" ] || fail "$file is left after the removal"
done
echo "package test: $(basename "$deb") lintian-clean, installed, run, removed (${#files[@]} paths)"
