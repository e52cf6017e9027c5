#!/usr/bin/env bash
# Configures and builds the three configurations: native (the portable core and its tests under
# sanitizers), win32 (the shipped DLL) and win64, and the release builds of the two DLLs that the
# package ships (win32-release, win64-release: optimised with debug information, which
# scripts/package.sh splits off, and no test programs).
# Usage: scripts/build.sh [native|win32|win64|win32-release|win64-release]...
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(native win32 win64)
for config in "${configs[@]}"; do
  case "$config" in
    native) options=() ;;
    win32) options=(-DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-i686.cmake") ;;
    win64) options=(-DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-x86_64.cmake") ;;
    win32-release) options=(-DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-i686.cmake" -DQX_BUILD_TESTS=OFF) ;;
    win64-release) options=(-DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-x86_64.cmake" -DQX_BUILD_TESTS=OFF) ;;
    *) echo "unknown configuration $config" >&2; exit 2 ;;
  esac
  dir="$QX_ROOT/build/$config"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$QX_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
  fi
  echo "== building $config"
  cmake --build "$dir"
done
