#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 and creates the private Wine prefix.
# Idempotent: when everything is present it only checks and returns.
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

base_pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest
           libbenchmark-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64
           libwine-dev uuid-runtime)
wine_pkgs=(wine wine32 wine64)

missing=()
for p in "${base_pkgs[@]}" "${wine_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo_cmd dpkg --add-architecture i386
  missing+=(wine32)
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # A failed index download (seen on the i386 security suite) must not stop the install.
  $sudo_cmd apt-get update || echo "setup: apt-get update reported a failure; continuing"
  export DEBIAN_FRONTEND=noninteractive
  if ! $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"; then
    echo "setup: plain install failed; retrying from bookworm"
    $sudo_cmd apt-get install -y -t bookworm --no-install-recommends "${missing[@]}" || {
      echo "setup: package installation failed" >&2; exit 1; }
  fi
fi

# 32-bit Windows programs need a kernel that runs 32-bit x86 Linux code (Wine's 32-bit loader).
# Where the kernel cannot, they run under qemu's user-mode emulation through binfmt_misc: much
# slower, but the same binaries and the same Wine.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
    echo "setup: this kernel does not run 32-bit code; installing qemu-user-static"
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends qemu-user-static ||
      DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -t bookworm --no-install-recommends qemu-user-static
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || $sudo_cmd mount -t binfmt_misc binfmt_misc "$binfmt" || true
  if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/qemu-i386" ]; then
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      $sudo_cmd tee "$binfmt/register" >/dev/null || true
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 || echo "setup: warning: 32-bit Windows programs cannot run on this machine"
fi

if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.qx-ready" ]; then
  echo "setup: creating Wine prefix $WINEPREFIX (takes a while once)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  WINEARCH=win64 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wine64 winecfg -v win10 >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] && touch "$WINEPREFIX/.qx-ready"
fi
[ -f "$WINEPREFIX/system.reg" ] || { echo "setup: Wine prefix was not created" >&2; exit 1; }
echo "setup: ready"
