#!/usr/bin/env bash
# Builds everything and runs every test: the native core suite, the GoogleTest suites of the
# 64-bit and 32-bit DLLs under Wine (each against the DLL registered in the private prefix), and
# the VBScript and JScript suites through the matching cscript. Prints one summary line and exits
# non-zero on any failure.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$QX_ROOT"

bash scripts/setup.sh || exit 1
bash scripts/build.sh || { echo "build failed"; echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
failures=()
log_dir="$QX_ROOT/build/test-logs"
mkdir -p "$log_dir"

# Adds the counts a stage printed; a stage that printed none counts as one failure.
record() {  # record <stage> <log> <exit code> <passed> <failed>
  local stage=$1 log=$2 rc=$3 p=$4 f=$5
  if [ -z "$p" ] && [ -z "$f" ]; then p=0; f=1; fi
  p=${p:-0}; f=${f:-0}
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  passed=$((passed + p)); failed=$((failed + f))
  if [ "$f" -gt 0 ]; then
    failures+=("$stage (log: $log)")
    echo "-- $stage: $p passed, $f failed"
    tail -n 40 "$log"
  else
    echo "-- $stage: $p passed"
  fi
}

gtest_stage() {  # gtest_stage <stage> <log> <command...>
  local stage=$1 log=$2; shift 2
  "$@" >"$log" 2>&1
  local rc=$?
  local p f
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -n1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -n1)
  [ -n "$p" ] && [ -z "$f" ] && f=0
  record "$stage" "$log" "$rc" "$p" "$f"
}

script_stage() {  # script_stage <stage> <log> <command...>; the script prints "N passed, N failed"
  local stage=$1 log=$2; shift 2
  (cd "$QX_ROOT/tests/script" && "$@") >"$log" 2>&1
  local rc=$?
  local line p f
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n1)
  p=$(sed -E 's/^([0-9]+) passed.*/\1/' <<<"$line")
  f=$(sed -E 's/.*, ([0-9]+) failed.*/\1/' <<<"$line")
  record "$stage" "$log" "$rc" "$p" "$f"
}

# 1. The portable core, natively under ASan/UBSan.
for program in build/native/bin/qxcore_tests; do
  gtest_stage "native $(basename "$program")" "$log_dir/native-$(basename "$program").log" "$program"
done

# The core's readers under libFuzzer, each for a bounded time, from its corpus kept in the
# repository (new inputs it finds go to the build folder). One line per target: name, corpus,
# sources.
fuzz_dir="$QX_ROOT/build/native/fuzz"
fuzz_targets=(
  "structured_string core/fuzz/corpus core/src/structured_string.cpp core/src/name.cpp core/src/fold_case.cpp"
  "persistence_item core/fuzz/persistence_corpus core/src/persistence_item.cpp"
)
for target in "${fuzz_targets[@]}"; do
  read -r name corpus sources <<<"$target"
  mkdir -p "$fuzz_dir/$name-corpus"
  log="$log_dir/fuzz-$name.log"
  # shellcheck disable=SC2086 # the sources are separate words
  clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Icore/include "core/fuzz/${name}_fuzz.cpp" \
    $sources -o "$fuzz_dir/${name}_fuzz" >"$log" 2>&1 &&
    "$fuzz_dir/${name}_fuzz" -max_total_time="${QX_FUZZ_SECONDS:-30}" "$fuzz_dir/$name-corpus" "$corpus" >>"$log" 2>&1
  rc=$?
  record "fuzz $name" "$log" "$rc" "$((rc == 0))" "$((rc != 0))"
done

# 2. The DLLs: only system DLLs imported, the entry points exported undecorated.
check_binary() {  # check_binary <dll>
  local dll=$1 imports exports
  imports=$(objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for name in $imports; do
    case "$name" in
      kernel32.dll|user32.dll|advapi32.dll|ole32.dll|oleaut32.dll|msvcrt.dll|api-ms-win-*) ;;
      *) echo "unexpected import $name"; return 1 ;;
    esac
  done
  exports=$(objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
  for entry in DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer DllInstall; do
    grep -qw "$entry" <<<"$exports" || { echo "missing export $entry"; return 1; }
  done
  echo "ok: $(objdump -f "$dll" | sed -n 's/.*file format //p') imports: $(echo $imports)"
}
for bits in 32 64; do
  log="$log_dir/binary-win$bits.log"
  check_binary "build/win$bits/bin/QXSDKCommon.dll" >"$log" 2>&1
  rc=$?
  record "win$bits DLL imports and exports" "$log" "$rc" "$((rc == 0))" "$((rc != 0))"
done

# 3. Under Wine: register, run the GoogleTest program, run the scripts, unregister.
wineserver -p >/dev/null 2>&1
"$WINE64" cmd /c exit >/dev/null 2>&1

wine_suites() {  # wine_suites <bits> <wine loader> [GoogleTest filter]
  local bits=$1 loader=$2 dll="build/win$1/bin/QXSDKCommon.dll" filter=${3:-*}
  local log="$log_dir/register-win$bits.log"
  # The library, and the restorer classes its tests restore with.
  "$loader" regsvr32 /s "$(qx_winpath "$dll")" >"$log" 2>&1 &&
    "$loader" regsvr32 /s "$(qx_winpath "build/win$bits/bin/qx_test_restorer.dll")" >>"$log" 2>&1
  local rc=$?
  record "win$bits regsvr32" "$log" "$rc" "$((rc == 0))" "$((rc != 0))"
  gtest_stage "win$bits GoogleTest" "$log_dir/gtest-win$bits.log" \
    "$loader" "build/win$bits/bin/qxsdk_tests.exe" --gtest_filter="$filter"
  for script in tests/script/*.vbs tests/script/*.js; do
    [ -e "$script" ] || continue
    script_stage "win$bits $(basename "$script")" "$log_dir/script-win$bits-$(basename "$script").log" \
      "$loader" cscript.exe //nologo "$(basename "$script")"
  done
}

wine_suites 64 "$WINE64"

# The benchmark programs, once each at their smallest size: they run and print, nothing is timed.
log="$log_dir/bench-smoke-win64.log"
"$WINE64" build/win64/bin/qx_bench.exe --smoke >"$log" 2>&1 &&
  "$WINE64" build/win64/bin/mtnvs_bench.exe --smoke >>"$log" 2>&1 &&
  "$WINE64" cscript.exe //nologo "$(qx_winpath bench/namedvalues_bench.js)" smoke >>"$log" 2>&1 &&
  "$WINE64" cscript.exe //nologo "$(qx_winpath bench/namedvalues_bench.vbs)" smoke >>"$log" 2>&1 &&
  [ "$(grep -c '^done' "$log")" = 2 ]  # a script error would otherwise end a script silently with code 0
rc=$?
record "win64 benchmark smoke" "$log" "$rc" "$((rc == 0))" "$((rc != 0))"

if qx_can_run_win32 && qx_win32_emulated; then
  # Under qemu's user-mode emulation, 32-bit Wine threads die (illegal instruction) and every
  # process start costs a minute: the tests that start threads or child processes run in the
  # 64-bit suite only.
  emulation_skips="QXErrors.ManyThreads*:QXErrors.ViewCrossesApartments*:ModuleRegistration.*"
  emulation_skips+=":ZelogEndToEndTest.LinesOfConcurrentThreads*"
  emulation_skips+=":AsynchStatusThreads.*:AsynchStatusRaces.*:CrossApartment.*:MTNVSThreadsTest.*"
  echo "-- win32 under emulation: skipping $emulation_skips"
  wine_suites 32 "$WINE32" "-$emulation_skips"
elif qx_can_run_win32; then
  wine_suites 32 "$WINE32"
else
  echo "-- win32 suites: this machine cannot run 32-bit programs (see scripts/setup.sh)"
  record "win32 suites" /dev/null 1 0 1
fi

wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1

script_stage "package" "$log_dir/package.log" bash "$QX_ROOT/scripts/test-package.sh"  # 4. the release package

echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "Failed stages:"
  printf '  %s\n' "${failures[@]}"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
