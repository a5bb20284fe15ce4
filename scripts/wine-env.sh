# Sourced: the Wine environment of the project (a private prefix under build/, no debug noise),
# and the one-time preparation of that prefix.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${QUELVANE_WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers in an offline prefix
# Some machines cannot execute 32-bit x86 code natively; scripts/setup-i386.sh then routes it
# through user-mode emulation, which needs a reserved address space for Wine's fixed mappings.
if [ -e /proc/sys/fs/binfmt_misc/quelvane-i386 ]; then
    export QEMU_RESERVED_VA=0xf7000000
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # Without a window manager Wine would wait about 2 s whenever a captioned window closes.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
    wineserver -w || true
fi
