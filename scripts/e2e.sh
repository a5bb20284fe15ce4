#!/usr/bin/env bash
# End-to-end: the Windows exe driven through its real window under Wine and Xvfb, then a
# screenshot of the window for the README. Usage: scripts/e2e.sh BUILD_DIR [32|64]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "$1" && pwd)"
export QUELVANE_WINE_BITS="${2:-32}"
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

# The screenshot: the window alone, cropped from the screen.
shots="$root/docs"
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
    mkdir -p "$shots" && cp "$work/window.png" "$shots/window.png"
    echo "e2e: screenshot saved to docs/window.png"
    xdotool key --window "$window" Escape 2>/dev/null || true
fi
rm -rf "$work"
