# Sourced: the project's Wine environment: a private prefix under build/, no debug noise, and the
# one-time preparation of that prefix. QUELVANE_WINE_BITS=64 selects 64-bit Wine (for machines
# that cannot execute 32-bit x86 code); the default is the 32-bit Wine that runs quelvane.exe.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers in an offline prefix
if [ "${QUELVANE_WINE_BITS:-32}" = 64 ]; then
    export WINEARCH=win64
    export WINEPREFIX="$root/build/wineprefix64"
    export WINELOADER=/usr/lib/wine/wine64
    quelvane_wine=/usr/lib/wine/wine64
else
    export WINEARCH=win32
    export WINEPREFIX="$root/build/wineprefix32"
    quelvane_wine=wine
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$quelvane_wine" wineboot -i >/dev/null 2>&1 || true
    # Without a window manager Wine would wait about 2 s whenever a captioned window closes.
    "$quelvane_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        >/dev/null 2>&1 || true
    wineserver -w || true
fi
