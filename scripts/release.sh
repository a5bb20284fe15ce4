#!/usr/bin/env bash
# Builds the Windows release of this tree's commit: build/quelvane-<version>-win32.zip (a folder
# of the same name with quelvane.exe, README.txt and LICENSE) and beside it a .sha256 file in
# sha256sum's format, with the hashes of the ZIP and of the exe. Reproducible: the same commit
# gives the same bytes, wherever it is built and whenever. The time in the ZIP is the commit's
# (SOURCE_DATE_EPOCH, when not given); a tree without git history takes 1980-01-01 00:00 UTC.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/install-deps.sh"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || echo 315532800)"
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target quelvane >/dev/null
version="$(sed -n 's/^project(Quelvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
name="quelvane-$version-win32"
stage="$root/build/release/stage"
rm -rf "$stage" && mkdir -p "$stage/$name"
cp build/release/quelvane.exe "$stage/$name/"
# Text files with Windows line ends, for Notepad.
sed "s/@VERSION@/$version/g; s/\$/\r/" docs/windows-readme.txt >"$stage/$name/README.txt"
sed 's/$/\r/' LICENSE >"$stage/$name/LICENSE"
chmod 0755 "$stage/$name" && chmod 0644 "$stage/$name"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage/$name"/* "$stage/$name"

# No extra fields (owners, exact times): a fixed order and the times above are all it holds.
zip="$root/build/$name.zip"
rm -f "$zip"
(cd "$stage" && zip -q -X "$zip" "$name/" "$name/quelvane.exe" "$name/README.txt" "$name/LICENSE")
(cd "$root/build" && sha256sum "$name.zip" && cd "$stage" && sha256sum "$name/quelvane.exe") \
    >"$zip.sha256"
echo "release: build/$name.zip ($(stat -c %s "$zip") bytes), quelvane.exe $(stat -c %s \
    "$stage/$name/quelvane.exe") bytes"
cat "$zip.sha256"
