#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix (created on first use).
# ctest uses it as the emulator for the Windows builds' test programs.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
exec "$quelvane_wine" "$@"
