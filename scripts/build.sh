#!/usr/bin/env bash
# Configures and builds the three configurations: native (the portable core and its tests under
# sanitizers), win32 (the shipped DLL) and win64. Usage: scripts/build.sh [native|win32|win64]...
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(native win32 win64)
for config in "${configs[@]}"; do
  case "$config" in
    native) toolchain=() ;;
    win32) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-i686.cmake") ;;
    win64) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-x86_64.cmake") ;;
    *) echo "unknown configuration $config" >&2; exit 2 ;;
  esac
  dir="$QX_ROOT/build/$config"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$QX_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${toolchain[@]}" >/dev/null
  fi
  echo "== building $config"
  cmake --build "$dir"
done
