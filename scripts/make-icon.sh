#!/usr/bin/env bash
# Draws the program's icon (shell/quelvane.ico): a blue tile, a sheet, and an amber frame laid
# over its corner. 256 pixels drawn, scaled to 48, 32 and 16; the 256 image is stored as PNG, as
# Windows expects. The same ImageMagick gives the same bytes (no dates in the PNG).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
convert -size 256x256 xc:none \
    -fill '#2F5D8A' -draw 'roundrectangle 8,8 247,247 48,48' \
    -fill '#F2F2F2' -draw 'rectangle 56,56 199,199' \
    -fill '#E0A030' -draw 'rectangle 104,104 223,223' \
    -fill '#2F5D8A' -draw 'rectangle 128,128 199,199' "$work/icon.png"
convert "$work/icon.png" -define png:exclude-chunks=date,time -define icon:auto-resize=256,48,32,16 \
    "$root/shell/quelvane.ico"
