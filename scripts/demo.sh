#!/usr/bin/env bash
# Builds both DLLs, registers them in the private Wine prefix and runs the example clients in
# demo/ with the 64-bit cscript and, where 32-bit programs can run, the 32-bit one.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$QX_ROOT"

bash scripts/setup.sh || exit 1
bash scripts/build.sh win32 win64 || { echo "build failed"; exit 1; }

wineserver -p >/dev/null 2>&1
"$WINE64" cmd /c exit >/dev/null 2>&1

status=0
# run_demos <bits> <wine loader>
run_demos() {
  local bits=$1 loader=$2 dll="build/win$1/bin/QXSDKCommon.dll"
  echo "== win$bits: registering $dll"
  if ! "$loader" regsvr32 /s "$(qx_winpath "$dll")"; then
    echo "regsvr32 failed"; status=1; return
  fi
  for demo in demo/*.vbs demo/*.js; do
    [ -e "$demo" ] || continue
    echo "== win$bits: $demo"
    # cscript under Wine swallows script errors and still exits 0: a demo that stopped early
    # lacks its closing "ReadOnly = ..." line.
    local output
    output=$(cd demo && "$loader" cscript.exe //nologo "$(basename "$demo")" 2>&1)
    printf '%s\n' "$output"
    if ! grep -q '^ReadOnly = ' <<<"$output"; then
      echo "!! $demo stopped before its end"; status=1
    fi
  done
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
