#!/usr/bin/env bash
# End-to-end: the Windows exe driven through its real window under Wine and Xvfb, a run over a
# link planted as its temporary file, then a screenshot of the window (into BUILD_DIR, or to
# SHOT: `scripts/e2e.sh build/win32 32 docs/window.png` refreshes the README's picture).
# The exe is BUILD_DIR's, or QUELVANE_EXE (the released one); the driver is BUILD_DIR's.
# Usage: scripts/e2e.sh BUILD_DIR [32|64] [SHOT]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "$1" && pwd)"
export QUELVANE_WINE_BITS="${2:-32}"
shot="$(realpath -m "${3:-$build/window.png}")"
exe="$(realpath "${QUELVANE_EXE:-$build/quelvane.exe}")"
source "$here/wine-env.sh"
source "$here/xvfb.sh"

start_xvfb
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

# A hang fails the run in 30 minutes rather than holding it for good.
timeout 1800 "$quelvane_wine" "$build/e2e/quelvane_e2e_driver.exe" "$exe"

source "$root/e2e/planted_link.sh"
source "$root/e2e/full_disk.sh"

# The screenshot: the window alone, cropped from the screen.
work="$(mktemp -d)"
(cd "$work" && "$quelvane_wine" "$exe" >/dev/null 2>&1) &
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
