#!/usr/bin/env bash
# Builds the release DLLs of both bitnesses and writes the package for Windows developers:
#
#   dist/QXSDKCommon-<version>.zip, one folder QXSDKCommon-<version>/ holding
#     win32/, win64/   QXSDKCommon.dll, zelog.dll, QXSDKCommon.tlb, QXSDKCommon.h,
#                      QXSDKCommon_i.c and the C++ example built, qxsdk_client.exe
#     examples/        the script examples and the C++ example's project (cpp/)
#     README.txt       installing and using the library, for Windows users
#     SHA256SUMS.txt   the SHA-256 checksum of every other file
#   dist/QXSDKCommon-<version>-debug.zip, beside it: the binaries' debug information
#     (win32/*.debug, win64/*.debug), split off the release builds' binaries here
#
# <version> is the first line of the file VERSION. Usage: scripts/package.sh [--no-build]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$QX_ROOT"

if [ "${1:-}" != --no-build ]; then
  bash scripts/setup.sh
  bash scripts/build.sh win32-release win64-release
fi

version=$(head -n1 VERSION)
name=QXSDKCommon-$version
staging=build/package
rm -rf "$staging"
mkdir -p "$staging/$name/examples/cpp" dist

# The shipped binaries keep only a link (.gnu_debuglink, with a checksum) to their debug
# information and symbol table, which move into <binary>.debug; gdb finds it when it lies beside
# the binary. --strip-all rather than --strip-debug: the symbol table alone is half the DLL.
split_debug() {  # split_debug <objcopy> <binary> <folder for the .debug file>
  local objcopy=$1 binary=$2 file
  file=$(basename "$binary").debug
  "$objcopy" --only-keep-debug "$binary" "$3/$file"
  "$objcopy" --strip-all "$binary"
  (cd "$3" && "$objcopy" --add-gnu-debuglink="$file" "$binary")
}

for bits in 32 64; do
  bin=build/win$bits-release/bin
  objcopy=$([ "$bits" = 32 ] && echo i686 || echo x86_64)-w64-mingw32-objcopy
  mkdir -p "$staging/$name/win$bits" "$staging/$name-debug/win$bits"
  cp "$bin"/{QXSDKCommon.dll,zelog.dll,QXSDKCommon.tlb,QXSDKCommon.h,QXSDKCommon_i.c,qxsdk_client.exe} \
    "$staging/$name/win$bits/"
  for binary in QXSDKCommon.dll zelog.dll qxsdk_client.exe; do
    split_debug "$objcopy" "$QX_ROOT/$staging/$name/win$bits/$binary" "$staging/$name-debug/win$bits"
  done
done
cp examples/*.vbs examples/*.js "$staging/$name/examples/"
cp examples/cpp/CMakeLists.txt examples/cpp/client.cpp "$staging/$name/examples/cpp/"
# Windows line ends for the one file meant to be opened in Notepad.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' scripts/package-readme.txt >"$staging/$name/README.txt"
(cd "$staging/$name" && find . -type f ! -name SHA256SUMS.txt | sed 's#^\./##' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS.txt)

for folder in "$name" "$name-debug"; do
  rm -f "dist/$folder.zip"
  (cd "$staging" && cmake -E tar cf "$QX_ROOT/dist/$folder.zip" --format=zip "$folder")
done
echo "package: dist/$name.zip ($(stat -c %s "dist/$name.zip") bytes), debug information: dist/$name-debug.zip"
