#!/usr/bin/env bash
# Runs the example clients of examples/ with the 64-bit and, where 32-bit programs can run, the
# 32-bit DLL, and prints what each one shows: the property bag from VBScript and JScript,
# QXErrors from VBScript, QXAsynchStatus from JScript, and the C++ client (qxsdk_client.exe).
#
# Usage: scripts/demo.sh                installs what is missing, builds both DLLs, registers
#                                       them in the private Wine prefix and runs the examples
#        scripts/demo.sh --package DIR  runs the examples of the unpacked package DIR against
#                                       its own DLLs, registered in $WINEPREFIX; no set-up, no build
# Exits non-zero when an example failed or stopped early.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$QX_ROOT"

package=""
if [ "${1:-}" = --package ] && [ -d "${2:-}" ]; then
  package=$(realpath "$2")
elif [ $# -gt 0 ]; then
  sed -n '2,10p' "$0" >&2
  exit 2
fi

if [ -z "$package" ]; then
  bash scripts/setup.sh || exit 1
  bash scripts/build.sh win32 win64 || { echo "build failed"; exit 1; }
  examples=examples
else
  examples=$package/examples
fi
bin_dir() { if [ -z "$package" ]; then echo "build/win$1/bin"; else echo "$package/win$1"; fi; }

wineserver -p >/dev/null 2>&1
"$WINE64" cmd /c exit >/dev/null 2>&1

status=0
# Prints what an example shows (its first comment line) and its output. Every example ends by
# printing "Done."; cscript under Wine swallows script errors and still exits 0, so an example
# without that line stopped early.
run_example() {  # run_example <bits> <title file> <command...>
  local bits=$1 title=$2 output rc
  shift 2
  echo "== win$bits: $(basename "$title"): $(sed -n "1s#^\(//\|'\) *##p" "$title")"
  output=$("$@" 2>&1)
  rc=$?
  printf '%s\n' "$output"
  if [ $rc -ne 0 ] || [ "$(tail -n1 <<<"$output" | tr -d '\r')" != "Done." ]; then
    echo "!! $(basename "$title") failed or stopped before its end (exit code $rc)"
    status=1
  fi
}

run_demos() {  # run_demos <bits> <wine loader>
  local bits=$1 loader=$2 dll
  dll="$(bin_dir "$bits")/QXSDKCommon.dll"
  echo "== win$bits: registering $dll"
  if ! "$loader" regsvr32 /s "$(qx_winpath "$dll")"; then
    echo "regsvr32 failed"; status=1; return
  fi
  for example in "$examples"/*; do
    case "$example" in *.vbs | *.js) ;; *) continue ;; esac
    run_example "$bits" "$example" bash -c 'cd "$1" && "$2" cscript.exe //nologo "$3"' _ \
      "$(dirname "$example")" "$loader" "$(basename "$example")"
  done
  if [ "$bits" = 32 ] && qx_win32_emulated; then
    # Under qemu's emulation 32-bit Wine threads die, and the client starts one.
    echo "== win32: client.cpp: skipped, 32-bit code is emulated here"
  else
    run_example "$bits" "$examples/cpp/client.cpp" "$loader" "$(bin_dir "$bits")/qxsdk_client.exe"
  fi
}

run_demos 64 "$WINE64"
if qx_can_run_win32; then
  run_demos 32 "$WINE32"
else
  echo "== win32: this machine cannot run 32-bit programs; skipped"
fi

wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
exit $status
