# Common environment of the build and test scripts (sourced).
QX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$QX_ROOT/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE32=/usr/lib/wine/wine
WINE64=/usr/lib/wine/wine64

# Whether 32-bit Windows programs can run here (natively or under emulation).
qx_can_run_win32() { "$WINE32" --version >/dev/null 2>&1; }

# Whether 32-bit code runs under qemu's emulation (registered by setup.sh where the kernel has no
# 32-bit support).
qx_win32_emulated() { grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; }

# Windows path of a Linux path, for programs that take Windows paths (cscript, regsvr32).
qx_winpath() { printf 'Z:%s' "$(realpath "$1" | sed 's#/#\\#g')"; }
