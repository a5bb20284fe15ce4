#!/usr/bin/env bash
# scripts/install-deps.sh against stand-ins for dpkg, dpkg-query and apt-get: an index that
# arrives whole on the second try; one that stays broken (the install goes on, its suite held
# back); an install that fails (the packages named, status 1).
set -euo pipefail
script="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/install-deps.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# Nothing is installed; apt-get records its calls, fails its first UPDATE_FAILS updates the way
# a mirror mid-sync does (status 100, a "Failed to fetch" line), and installs unless told not to.
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
exit 1
STUB
printf '#!/bin/sh\nexit 0\n' >"$work/bin/dpkg"
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "$1" >>"$WORK/calls"
case "$1" in
update)
    n=$(grep -c update "$WORK/calls")
    [ "$n" -gt "$UPDATE_FAILS" ] && exit 0
    echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size"
    exit 100 ;;
install)
    [ -f "$PREFS" ] && cp "$PREFS" "$WORK/prefs-at-install"
    exit "$INSTALL_STATUS" ;;
esac
STUB
chmod +x "$work/bin/"*
run() { # UPDATE_FAILS INSTALL_STATUS: prints the script's output, returns its status
    rm -f "$work/calls" "$work/prefs-at-install"
    WORK="$work" UPDATE_FAILS="$1" INSTALL_STATUS="$2" PREFS="$work/prefs" PATH="$work/bin:$PATH" \
        QUELVANE_APT_TRIES=3 QUELVANE_APT_PAUSE=0 QUELVANE_APT_PREFERENCES="$work/prefs" \
        bash "$script" 2>&1
}
fail() { echo "install-deps test: $*" >&2; exit 1; }

out=$(run 1 0) || fail "a second update that works still failed: $out"
[ "$(tr '\n' ' ' <"$work/calls")" = "update update install " ] || fail "calls: $(cat "$work/calls")"
[ ! -e "$work/prefs-at-install" ] || fail "a whole index still held a suite back"

out=$(run 9 0) || fail "a broken index stopped the install: $out"
[ "$(tr '\n' ' ' <"$work/calls")" = "update update update install " ] || fail "calls: $(cat "$work/calls")"
grep -qx 'Pin: release n=bookworm-security' "$work/prefs-at-install" || fail "the broken suite was not held back"
[ ! -e "$work/prefs" ] || fail "the preferences file was left in place"

if out=$(run 0 100); then fail "a failed install passed"; fi
grep -q 'could not install: .*wine32:i386' <<<"$out" || fail "the failure names no package: $out"
echo "install-deps test: retried, installed past a broken index, named what failed"
