#!/usr/bin/env bash
# Builds for other processors stop with a message: at configure time an x64 toolchain, at compile
# time the registry code for x64 or 32-bit ARM.
# usage: guard_test.sh SOURCE_DIR CLANG
set -uo pipefail
source=$1 clang=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$source" -B "$work/x64" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchains/mingw-x86_64.cmake" \
  -DBUILD_TESTING=OFF >"$work/log" 2>&1 && { echo "an x64 build was configured"; exit 1; }
grep -q 'ConfigTool is a 32-bit x86 program' "$work/log" || { cat "$work/log"; exit 1; }

# clang, with mingw-w64's headers, compiles for any of them.
compile() {  # TARGET
  "$clang" -x c++ --target="$1" -fsyntax-only -isystem /usr/share/mingw-w64/include \
    -I "$source/settings" "$source/settings/win32_registry.cpp" >"$work/log" 2>&1
}
for target in x86_64-w64-windows-gnu armv7-w64-windows-gnu; do
  compile $target && { echo "$target compiled"; exit 1; }
  grep -q 'error: "ConfigTool is a 32-bit' "$work/log" || { cat "$work/log"; exit 1; }
done
compile i686-w64-windows-gnu || { cat "$work/log"; echo "the x86 build no longer compiles"; exit 1; }
echo "an x64 configure and x64 and 32-bit ARM compiles stop with the message; x86 compiles"
