#!/usr/bin/env bash
# Tests the package as a user gets it: builds it (scripts/package.sh), unpacks it into an empty
# folder, checks its checksums, builds its C++ example project on its own, registers its 32-bit
# and 64-bit DLLs from there in a fresh Wine prefix, runs its examples (scripts/demo.sh
# --package), unregisters the DLLs and checks that nothing of the library is left in the
# registry (both views, machine and user); then the same for a per-user registration of the
# 64-bit DLL. The fresh prefix is a copy of a clean one, build/wineprefix-clean, made once
# (about 2.5 minutes). Prints one line per check and "N passed, N failed".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$QX_ROOT"

passed=0
failed=0
check() {  # check <what> <command...>
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok: $what"
  else
    failed=$((failed + 1)); echo "FAILED: $what"
    return 1
  fi
}
finish() {
  if [ "$WINEPREFIX" = "$work/prefix" ]; then
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
  fi
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && rm -rf "$work/prefix"
  [ "$failed" -eq 0 ]
  exit $?
}

work=$QX_ROOT/build/package-test
rm -rf "$work"
mkdir -p "$work/unpacked"
check "scripts/package.sh builds the package" bash scripts/package.sh || finish
name=QXSDKCommon-$(head -n1 VERSION)
check "the package unpacks into an empty folder" \
  bash -c 'cd "$1/unpacked" && cmake -E tar xf "$2"' _ "$work" "$QX_ROOT/dist/$name.zip" || finish
package=$work/unpacked/$name
version_of() { strings -el "$1" | grep -A1 -x FileVersion | tail -n1; }  # the version resource's text
for bits in 32 64; do
  check "the win$bits DLL's version resource reads ${name#*-}" \
    test "$(version_of "$package/win$bits/QXSDKCommon.dll")" = "${name#*-}"
done
check "the checksums of SHA256SUMS.txt match" bash -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS.txt' _ "$package"
check "the C++ example builds on its own against the package" bash -c 'cmake -S "$1/examples/cpp" -B "$2" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$3" -DQXSDK_DIR="$1/win32" >/dev/null && cmake --build "$2" >/dev/null' _ \
  "$package" "$work/cpp-example" "$QX_ROOT/cmake/mingw-i686.cmake"

clean=$QX_ROOT/build/wineprefix-clean
WINEPREFIX=$clean bash scripts/setup.sh >/dev/null || { echo "FAILED: creating $clean"; failed=$((failed + 1)); finish; }
# The copy links the clean prefix's files rather than copying its 1.3 GB; the registry files,
# the only files that registering and running the examples change, are copied (the server
# replaces them whole when it saves, so the clean prefix's own stay as they were anyway).
export WINEPREFIX=$work/prefix
cp -al "$clean" "$WINEPREFIX"
for file in "$clean"/*.reg; do cp --remove-destination "$file" "$WINEPREFIX/"; done

# Whatever names the library in the registry: its GUIDs (from the package's GUID file, written
# as in the registry) and its name (ProgIDs, AppID, paths, type library).
sed -nE 's/^MIDL_DEFINE_GUID\([A-Z]+, *[A-Za-z_0-9]+, *(.*)\);/\1/p' "$package/win64/QXSDKCommon_i.c" |
  sed -E 's/0x|[ ,]//g; s/^(.{8})(.{4})(.{4})(.{4})(.{12})$/\1-\2-\3-\4-\5/' >"$work/marks"
echo QXSDK >>"$work/marks"
# Lines of the prefix's registry files (system.reg, user.reg: both views, machine and user) that
# name the library. The server writes the files when it stops.
registry_mentions() {  # registry_mentions [file...]
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  local files=("$@")
  [ $# -gt 0 ] || files=(system.reg user.reg)
  (cd "$WINEPREFIX" && cat "${files[@]}") | grep -iF -f "$work/marks"
}
registered_from() {  # registered_from <bits> [file...]: a class's server is the package's DLL of that bitness
  local bits=$1
  shift
  registry_mentions "$@" | grep -iF "win$bits\\\\QXSDKCommon.dll" >/dev/null  # not -q: under pipefail, SIGPIPE
}
nothing_left() {
  local left
  left=$(registry_mentions)
  [ -z "$left" ] || { echo "left in the registry:"; head -n 20 <<<"$left"; return 1; }
}

check "nothing of the library in the fresh prefix" nothing_left
check "the examples run from the package on both bitnesses" bash scripts/demo.sh --package "$package"
check "the 64-bit classes are registered from the package" registered_from 64
check "the 32-bit classes are registered from the package" registered_from 32
check "regsvr32 /u of the 64-bit DLL" "$WINE64" regsvr32 /s /u "$(qx_winpath "$package/win64/QXSDKCommon.dll")"
check "regsvr32 /u of the 32-bit DLL" "$WINE32" regsvr32 /s /u "$(qx_winpath "$package/win32/QXSDKCommon.dll")"
check "nothing of the library left after unregistering" nothing_left

check "per-user registration of the 64-bit DLL" "$WINE64" regsvr32 /s /n /i:user "$(qx_winpath "$package/win64/QXSDKCommon.dll")"
check "the per-user keys name the package's DLL" registered_from 64 user.reg
check "per-user unregistration" "$WINE64" regsvr32 /s /u /n /i:user "$(qx_winpath "$package/win64/QXSDKCommon.dll")"
check "nothing of the library left after the per-user unregistration" nothing_left
finish
