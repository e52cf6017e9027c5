#!/usr/bin/env bash
# Builds and runs the benchmark programs and writes their figures to docs/performance.md:
#  - qxcore_bench (native, Google Benchmark): the portable core on its own;
#  - qx_bench.exe (win64, then win32): NamedValues through the vtable and IDispatch against
#    Scripting.Dictionary and a plain C++ baseline;
#  - bench/namedvalues_bench.js and its twin bench/namedvalues_bench.vbs under the 64-bit (then
#    32-bit) cscript: the script clients' view.
#
# Usage: scripts/bench.sh [--reps R] [--win32-reps R] [--big-reps R] [--sizes N,N,...] [--no-win32]
#                         [--build-prefix P] [--no-build]
#   --reps R          repetitions of the native-speed runs (default 5)
#   --win32-reps R    repetitions of the 32-bit runs (default 3; they are slow under emulation)
#   --big-reps R      repetitions above N = 65,536, where one pass takes seconds (default 1);
#                     there the quadratic baseline add and Scripting.Dictionary are left out
#   --sizes N,N,...   collection sizes (default 16,256,4096,65536,1048576); the VBScript client
#                     runs those up to 65,536 only (at 1,048,576 it runs for over ten minutes)
#   --no-win32        leaves the 32-bit programs out
#   --build-prefix P  uses build/Pnative, build/Pwin32, build/Pwin64 instead of the normal build
#                     dirs (build/native, ...)
#   --no-build        runs what is already built
# The DLLs are registered in $WINEPREFIX (build/wineprefix unless set).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

reps=5
win32_reps=3
big_reps=1
sizes=16,256,4096,65536,1048576
with_win32=1
prefix=""
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --reps) reps="$2"; shift 2 ;;
    --win32-reps) win32_reps="$2"; shift 2 ;;
    --big-reps) big_reps="$2"; shift 2 ;;
    --sizes) sizes="$2"; shift 2 ;;
    --no-win32) with_win32=0; shift ;;
    --build-prefix) prefix="$2"; shift 2 ;;
    --no-build) build=0; shift ;;
    *) sed -n '2,22p' "$0" >&2; exit 2 ;;
  esac
done
if [ "$with_win32" = 1 ] && ! qx_can_run_win32; then
  echo "bench: 32-bit Windows programs cannot run here; leaving them out" >&2
  with_win32=0
fi
configs=(native win64)
[ "$with_win32" = 1 ] && configs+=(win32)

dir_of() { printf '%s/build/%s%s' "$QX_ROOT" "$prefix" "$1"; }

if [ "$build" = 1 ]; then
  if [ -z "$prefix" ]; then
    "$QX_ROOT/scripts/build.sh" "${configs[@]}"
  else
    for config in "${configs[@]}"; do
      dir="$(dir_of "$config")"
      toolchain=()
      [ "$config" = win32 ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-i686.cmake")
      [ "$config" = win64 ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-x86_64.cmake")
      [ -f "$dir/build.ninja" ] ||
        cmake -S "$QX_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${toolchain[@]}" >/dev/null
      echo "== building $config"
      cmake --build "$dir"
    done
  fi
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
wineserver -p 2>/dev/null || true  # already running is fine
"$WINE64" cmd /c exit >/dev/null 2>&1 || true

bench_dir="$QX_ROOT/bench"
cscript64() { "$WINE64" 'C:\windows\system32\cscript.exe' //nologo "$@"; }
cscript32() { "$WINE32" 'C:\windows\syswow64\cscript.exe' //nologo "$@"; }

# Runs the C++ and the two script programs of one bitness; the tables land in $work.
run_windows() {
  local bits="$1" wine="$2" cscript="$3" count="$4"
  local bin lang
  bin="$(dir_of "win$bits")/bin"
  echo "== win$bits: registering $bin/QXSDKCommon.dll"
  "$wine" regsvr32 /s "$(qx_winpath "$bin/QXSDKCommon.dll")"
  echo "== win$bits: qx_bench.exe --reps $count --big-reps $big_reps --sizes $sizes"
  "$wine" "$bin/qx_bench.exe" --reps "$count" --big-reps "$big_reps" --sizes "$sizes" \
    --out "$(qx_winpath "$work")\\cpp$bits.md" >/dev/null
  [ -s "$work/cpp$bits.md" ] || { echo "bench: qx_bench.exe (win$bits) wrote no table" >&2; exit 1; }
  local vbs_sizes
  vbs_sizes="$(tr ',' '\n' <<<"$sizes" | awk '$1 <= 65536' | paste -sd,)"
  for lang in js vbs; do
    local these="$sizes"
    [ "$lang" = vbs ] && these="$vbs_sizes"
    echo "== win$bits: namedvalues_bench.$lang reps=$count bigReps=$big_reps sizes=$these"
    "$cscript" "$(qx_winpath "$bench_dir/namedvalues_bench.$lang")" "reps=$count" "bigReps=$big_reps" \
      "sizes=$these" | tr -d '\r' >"$work/$lang$bits.md"
    grep -qx done "$work/$lang$bits.md" || { echo "bench: the $lang script (win$bits) did not finish" >&2; exit 1; }
    sed -i '/^done$/d' "$work/$lang$bits.md"
  done
}

# The two script tables of one bitness.
script_tables() {
  local bits="$1" count="$2" note="$3"
  echo "## win$bits: JScript client (\`cscript namedvalues_bench.js\`, $count repetitions$note)"
  echo
  echo "ns per member, timed with \`Date\` over samples of at least 100 ms. **value by name** is the"
  echo "idiomatic read, \`nv.Item(k).Value\` (two calls) against \`d.Item(k)\` (one call)."
  echo
  cat "$work/js$bits.md"
  echo
  echo "## win$bits: VBScript client (\`cscript namedvalues_bench.vbs\`, $count repetitions$note)"
  echo
  echo "ns per member, timed with \`Timer\` (10 ms steps) over samples of at least 200 ms. **value by"
  echo "name** is \`nv(k)\` (the default member Item, then the member's default Value: two calls)"
  echo "against \`d(k)\`; **value by position** is \`nv(i)\`; **enumerate** is \`For Each\`. Sizes up to"
  echo "65,536 only: at 1,048,576 this client runs for more than ten minutes."
  echo
  cat "$work/vbs$bits.md"
  echo
}

native_bench="$(dir_of native)/bin/qxcore_bench"
if [ -x "$native_bench" ]; then
  echo "== native: qxcore_bench"
  "$native_bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 2>&1 | grep -E '^(BM_|Benchmark|-)' | grep -v -E '_(mean|stddev|cv) ' >"$work/native.txt"
else
  echo "bench: $native_bench is not built (Google Benchmark missing?); leaving it out" >&2
fi
run_windows 64 "$WINE64" cscript64 "$reps"
[ "$with_win32" = 1 ] && run_windows 32 "$WINE32" cscript32 "$win32_reps"
wineserver -k || true

# ---- docs/performance.md
cpu="$(lscpu | sed -n 's/^Model name: *//p' | head -1)"
emulated=""
[ "$with_win32" = 1 ] && qx_win32_emulated && emulated=1
doc="$QX_ROOT/docs/performance.md"
mkdir -p "$(dirname "$doc")"
{
  echo "# Performance of the property bag"
  echo
  echo "Written by \`scripts/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'); do not edit by hand (the"
  echo "findings at the end come from \`bench/findings.md\`)."
  echo
  echo "## Machine and build"
  echo
  echo "- CPU: $cpu, $(nproc) cores; $(uname -sr); $(. /etc/os-release && echo "$PRETTY_NAME")."
  echo "- $("$WINE64" --version); win64 and win32 programs built with mingw-w64"
  echo "  $(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo '?') (posix threads), RelWithDebInfo (-O2),"
  echo "  from commit $(git -C "$QX_ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')$( [ -n "$(git -C "$QX_ROOT" status --porcelain 2>/dev/null)" ] && echo ' plus uncommitted changes')."
  echo "- Native core: $(g++ -dumpfullversion 2>/dev/null || echo '?'), RelWithDebInfo, no sanitizers."
  if [ -n "$emulated" ]; then
    echo "- This kernel cannot run 32-bit code: **the win32 figures were taken under qemu user-mode"
    echo "  emulation** and are not comparable with the win64 ones."
  fi
  echo
  echo "## How to read the tables"
  echo
  echo "Every figure is the median over the repetitions of ns per member (per name added, looked up,"
  echo "read or enumerated; per member of the collection dumped, loaded or cloned). Names are 8 to 24"
  echo "characters in random order, values are integers. Columns:"
  echo
  echo "- **baseline**: a sorted \`std::vector\` of owned UTF-16 names and \`VARIANT\` values under the same"
  echo "  case-insensitive comparison, no COM; for the string forms, \`memcpy\` of the text."
  echo "- **vtable**: \`NamedValues\` through \`INamedValues2\`. **IDispatch**: the same through"
  echo "  \`IDispatch::Invoke\` with DISPIDs looked up once. **Dictionary**: \`Scripting.Dictionary\` through"
  echo "  \`IDispatch::Invoke\`, \`CompareMode = TextCompare\` (case-insensitive keys like the others); it"
  echo "  returns the value where \`NamedValues\` returns the member object, and it has no positional"
  echo "  access, string forms or \`Clone\` (shown as -)."
  echo "- **x16N**: the cost per member at 16N divided by the cost at N: 1 is linear growth of the"
  echo "  whole workload, 16 quadratic."
  echo "- Above N = 65,536 every figure is of $big_reps repetition(s), and the baseline's add (a sorted"
  echo "  vector: quadratic) and Scripting.Dictionary (whose look-ups grow too fast) are left out (-)."
  echo "- The machine has 2 cores shared with other engineers' builds while these ran: figures are"
  echo "  noisy (10% to 2x between runs); compare ratios taken in the same run rather than absolutes."
  echo "- **MB/s**: UTF-16 bytes of the text (2 per character) per second."
  echo
  echo "## win64: C++ client (\`qx_bench.exe\`, $reps repetitions)"
  echo
  cat "$work/cpp64.md"
  echo
  script_tables 64 "$reps" ""
  if [ "$with_win32" = 1 ]; then
    echo "## win32: C++ client (\`qx_bench.exe\`, $win32_reps repetitions${emulated:+, under qemu emulation})"
    echo
    cat "$work/cpp32.md"
    echo
    script_tables 32 "$win32_reps" "${emulated:+, under qemu emulation}"
  fi
  if [ -f "$work/native.txt" ]; then
    echo "## Native core (\`qxcore_bench\`, Google Benchmark, median of $reps)"
    echo
    echo '```'
    cat "$work/native.txt"
    echo '```'
    echo
  fi
  [ -f "$QX_ROOT/bench/findings.md" ] && cat "$QX_ROOT/bench/findings.md"
} >"$doc"
echo "bench: wrote $doc"
