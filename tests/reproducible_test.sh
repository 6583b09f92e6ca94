#!/usr/bin/env bash
# Builds of ConfigTool.exe from the same sources must be byte-identical, whatever the source and
# build paths: no time stamp and no path may end up in the file.
# usage: reproducible_test.sh SOURCE_DIR EXE_BUILT_BY_THE_PRESET
set -euo pipefail
source=$1 preset_exe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A second copy of the sources elsewhere, so that neither path is shared.
mkdir -p "$work/elsewhere/src"
tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/elsewhere/src" -xf -

for src in "$source" "$work/elsewhere/src"; do
  tree=$work/build-$(basename "$(dirname "$src")")
  cmake -S "$src" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$tree" --target ConfigTool >/dev/null
  built+=("$tree/ui/ConfigTool.exe")
done

cmp "${built[0]}" "${built[1]}"
cmp "${built[0]}" "$preset_exe"
echo "reproducible: 3 builds, 2 source trees, byte-identical, sha256 $(sha256sum <"$preset_exe" | cut -c1-16)"
