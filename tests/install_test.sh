#!/usr/bin/env bash
# cmake --install puts bin/quelvane and its man page under a prefix; the page renders without a
# warning and names every option that --help names. Usage: tests/install_test.sh BUILD_DIR
set -euo pipefail
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
version="$("$prefix/bin/quelvane" --version)"
grep -Eqx 'quelvane [0-9]+\.[0-9]+\.[0-9]+' <<<"$version"
page="$prefix/share/man/man1/quelvane.1"
head -n 1 "$page" | grep -qF "\"$version\"" ||
    { echo "install test: the man page is not of $version: $(head -n 1 "$page")" >&2; exit 1; }
warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
[ -z "$warnings" ] || { echo "install test: the man page warns: $warnings" >&2; exit 1; }
text="$(MANWIDTH=200 man -l "$page" 2>/dev/null)"
for option in $("$prefix/bin/quelvane" --help | grep -Eo -- '(^| )--?[a-z][a-z-]*' | sort -u); do
    grep -qe "$option" <<<"$text" || { echo "install test: $option is not in the man page" >&2; exit 1; }
done
# The completion loads in bash and completes options, and directories after -C.
completion="$prefix/share/bash-completion/completions/quelvane"
complete_at() {
    (cd "$prefix" && bash --norc -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        _quelvane; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" quelvane "$@")
}
for asked in "--bat:--batch" "--ba:--backup --backup= --batch" "--li:--list" "-C s:share" \
    "--dir:--directory=" "--directory=s:--directory=share" "--directory =:bin share" \
    "--directory = s:share" "--backup = nu:numbered" "--backup=n:--backup=never --backup=nil --backup=none --backup=numbered" \
    "--su:--suffix="; do
    words="${asked%%:*}" expected="${asked#*:}"
    # shellcheck disable=SC2086
    got="$(complete_at $words | sort | tr '\n' ' ')"
    [ "$got" = "$expected " ] || {
        echo "install test: completing '$words' gave '$got', not '$expected'" >&2
        exit 1
    }
done
echo "install test: bin/quelvane, its man page and its bash completion installed; the page" \
    "renders cleanly, the completion completes"
