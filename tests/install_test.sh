#!/usr/bin/env bash
# cmake --install puts bin/quelvane and its man page under a prefix; the page renders without a
# warning and names every option that --help names. Usage: tests/install_test.sh BUILD_DIR
set -euo pipefail
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
"$prefix/bin/quelvane" --version | grep -Eqx 'quelvane [0-9]+\.[0-9]+\.[0-9]+'
page="$prefix/share/man/man1/quelvane.1"
warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
[ -z "$warnings" ] || { echo "install test: the man page warns: $warnings" >&2; exit 1; }
text="$(MANWIDTH=200 man -l "$page" 2>/dev/null)"
for option in $("$prefix/bin/quelvane" --help | grep -Eo -- '(^| )--?[a-z][a-z-]*' | sort -u); do
    grep -qe "$option" <<<"$text" || { echo "install test: $option is not in the man page" >&2; exit 1; }
done
echo "install test: bin/quelvane and share/man/man1/quelvane.1 installed; the page renders cleanly"
