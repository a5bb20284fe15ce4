#!/usr/bin/env bash
# Builds the Debian package from the tree, with Debian's own tools (debhelper through
# dpkg-buildpackage), into build/: build/quelvane_VERSION_ARCH.deb. The tree's committed files
# are copied to build/deb/ first, so that nothing of a build under build/ goes into it.
# Needs dpkg-dev, debhelper, cmake and g++ (scripts/install-deps.sh installs them).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
version="$(sed -n 's/^project(Quelvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
packaged="$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)"
[ "$version" = "$packaged" ] || {
    echo "package-deb: debian/changelog is at $packaged, CMakeLists.txt at $version" >&2
    exit 1
}
work="$root/build/deb"
rm -rf "$work" && mkdir -p "$work/quelvane-$version"
# The working tree's tracked files, as they are now (what a release of this tree would hold).
(cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$work/quelvane-$version")
(cd "$work/quelvane-$version" && dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1) || {
    tail -n 30 "$work/build.log" >&2
    echo "package-deb: dpkg-buildpackage failed (the whole log: $work/build.log)" >&2
    exit 1
}
deb="$(cd "$work" && ls quelvane_"$version"_*.deb)"
mv "$work/$deb" "$root/build/$deb"
echo "$root/build/$deb"
