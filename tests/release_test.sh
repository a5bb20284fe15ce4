#!/usr/bin/env bash
# The release: two clones in different directories build the same ZIP, its sums match, and its
# exe declares what it needs. Leaves the exe in OUT_DIR. Usage: tests/release_test.sh OUT_DIR
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(realpath -m "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "release test: $*" >&2; exit 1; }

for clone in one elsewhere/two; do
    git clone -q "$root" "$work/$clone"
    (cd "$work/$clone" && scripts/release.sh >/dev/null)
done
cd "$work/one/build"
zip="$(ls quelvane-*-win32.zip)"
cmp "$zip" "$work/elsewhere/two/build/$zip" || fail "two clones built different ZIPs"
unzip -q "$zip"
sha256sum --quiet -c "$zip.sha256" || fail "the SHA-256 file does not match"
[ "$(unzip -Z1 "$zip" | tr '\n' ' ')" = "${zip%.zip}/ ${zip%.zip}/quelvane.exe ${zip%.zip}/README.txt ${zip%.zip}/LICENSE " ] \
    || fail "unexpected content: $(unzip -Z1 "$zip")"

exe="${zip%.zip}/quelvane.exe"
headers="$(i686-w64-mingw32-objdump -p "$exe")"
major="$(sed -n 's/^project(Quelvane VERSION \([0-9]*\)\..*/\1/p' "$root/CMakeLists.txt")"
for field in "file format pei-i386" "Subsystem.*(Windows GUI)" "MajorSubsystemVersion.6" \
    "MinorSubsystemVersion.0" "MajorOSystemVersion.6" "MajorImageVersion.$major" \
    "Time/Date.*1970"; do
    grep -Eq "$field" <<<"$headers" || fail "the exe's headers lack $field"
done
! i686-w64-mingw32-objdump -h "$exe" | grep -q '\.debug' || fail "the exe has debug sections"
for dll in $(awk '/DLL Name:/ {print $3}' <<<"$headers"); do
    case "$dll" in ADVAPI32.dll | KERNEL32.dll | USER32.dll | GDI32.dll | msvcrt.dll) ;;
        *) fail "the exe imports $dll, which is not a system DLL" ;;
    esac
done
for text in 'level="asInvoker"' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' 'e2011457-1546-43c5-a5fe' \
    'PerMonitorV2' '<longPathAware' 'Microsoft.Windows.Common-Controls'; do
    grep -aqF "$text" "$exe" || fail "the manifest lacks $text"
done
for value in MAINICON CompanyName InternalName LegalCopyright ProductName OriginalFilename; do
    strings -el "$exe" | grep -q "$value" || fail "the exe's resources lack $value"
done
grep -aq $'\x89PNG' "$exe" || fail "the icon has no 256-pixel PNG image"
mkdir -p "$out" && cp "$exe" "$out/quelvane.exe"
echo "release test: $zip built twice byte for byte ($(stat -c %s "$zip") bytes," \
    "sha256 $(sha256sum "$zip" | cut -c1-16)...); quelvane.exe $(stat -c %s "$exe") bytes, checked"
