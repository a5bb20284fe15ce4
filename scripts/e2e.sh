#!/usr/bin/env bash
# End-to-end: the Windows exe driven through its real window under Wine and Xvfb, a run over a
# link planted as its temporary file, then a screenshot of the window (into BUILD_DIR, or to
# SHOT: `scripts/e2e.sh build/win32 32 docs/window.png` refreshes the README's picture).
# Usage: scripts/e2e.sh BUILD_DIR [32|64] [SHOT]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "$1" && pwd)"
export QUELVANE_WINE_BITS="${2:-32}"
shot="$(realpath -m "${3:-$build/window.png}")"
source "$here/wine-env.sh"
source "$here/xvfb.sh"

start_xvfb
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

"$quelvane_wine" "$build/e2e/quelvane_e2e_driver.exe" "$build/quelvane.exe"

# A link planted under the temporary file's name, pointing outside the directory (Wine shows it
# as a file): the outside file stays as it was, and the run patches verdata.mul as the native
# build does.
work="$(mktemp -d)"
mkdir "$work/run" "$work/native"
"$root/build/native/bench/quelvane-workload" demo "$work/run" >/dev/null
cp "$work/run/"*.mul "$work/native/"
(cd "$work/native" && printf '\n' | "$root/build/native/quelvane" >/dev/null)
echo "not to be touched" > "$work/outside"
ln -s ../outside "$work/run/verdata.mul.new"
said="$(cd "$work/run" && "$quelvane_wine" "$build/e2e/quelvane_e2e_driver.exe" --press "$build/quelvane.exe")"
grep -q "box: Done." <<<"$said" || { echo "planted link: $said" >&2; exit 1; }
[ "$(cat "$work/outside")" = "not to be touched" ] || { echo "planted link: outside file changed" >&2; exit 1; }
[ ! -L "$work/run/verdata.mul" ] && cmp "$work/run/verdata.mul" "$work/native/verdata.mul" \
    || { echo "planted link: verdata.mul is not the patched file" >&2; exit 1; }
[ "$(ls "$work/run")" = "$(printf 'patchdata.mul\nverdata.mul')" ] \
    || { echo "planted link: left behind: $(ls "$work/run")" >&2; exit 1; }
rm -rf "$work"
echo "e2e: a link planted as the temporary file was removed as a name; the run completed"

# The screenshot: the window alone, cropped from the screen.
work="$(mktemp -d)"
(cd "$work" && "$quelvane_wine" "$build/quelvane.exe" >/dev/null 2>&1) &
app=$!
window=""
for _ in $(seq 100); do
    window="$(xdotool search --name '^Quelvane$' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    sleep 0.2
done
if [ -n "$window" ]; then
    sleep 1
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root -crop "$((WIDTH + 2))x$((HEIGHT + 24))+$((X - 1))+$((Y - 23))" \
        "$work/window.png" 2>/dev/null || import -window root "$work/window.png"
    mkdir -p "$(dirname "$shot")" && cp "$work/window.png" "$shot"
    echo "e2e: screenshot saved to $shot"
    xdotool key --window "$window" Escape 2>/dev/null || true
fi
rm -rf "$work"
