#!/usr/bin/env bash
# The build itself, for the toolchain and build type of the build that runs this:
# - without tests it makes ConfigTool.exe and no other program, and needs neither Python nor
#   GoogleTest;
# - the same sources give a byte-identical ConfigTool.exe whatever the source and build paths,
#   and a byte-identical Windows Installer package whatever the time and time zone;
# - a change to the resource header or the manifest recompiles the resource script.
# usage: build_test.sh SOURCE_DIR EXE_OF_THIS_BUILD TOOLCHAIN_FILE BUILD_TYPE GENERATOR
set -euo pipefail
source=$1 this_exe=$2 toolchain=$3 build_type=$4 generator=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A second copy of the sources elsewhere, so that neither path is shared.
mkdir -p "$work/elsewhere/src"
tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/elsewhere/src" -xf -

built=()
for src in "$source" "$work/elsewhere/src"; do
  tree=$work/build-${#built[@]}
  cmake -S "$src" -B "$tree" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE="$build_type" -DBUILD_TESTING=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$work/log" 2>&1 ||
    { cat "$work/log"; exit 1; }
  cmake --build "$tree" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
  programs=$(find "$tree" -path "$tree/CMakeFiles" -prune -o -name '*.exe' -printf '%P\n')
  if [ "$programs" != ui/ConfigTool.exe ]; then
    echo "a build without tests made: $programs"; exit 1
  fi
  built+=("$tree/ui/ConfigTool.exe")
done

cmp "${built[0]}" "${built[1]}"
cmp "${built[0]}" "$this_exe"
echo "reproducible: 3 builds, 2 source trees, byte-identical, sha256 $(sha256sum <"$this_exe" | cut -c1-16)"

# The release's Windows Installer package too, made in another time zone a moment later.
if command -v wixl >/dev/null; then
  packages=()
  for zone in UTC Pacific/Kiritimati; do
    tree=$work/build-${#packages[@]}
    TZ=$zone cpack --config "$tree/CPackConfig.cmake" -B "$tree/package" >"$work/log" 2>&1 ||
      { cat "$work/log"; exit 1; }
    packages+=("$(echo "$tree"/package/ConfigTool-*.msi)")
  done
  cmp "${packages[@]}"
  echo "the package: 2 builds, byte-identical, sha256 $(sha256sum <"${packages[0]}" | cut -c1-16)"
else
  echo "no wixl on this machine: the package was not built (see what tools/install-deps said)"
fi

for input in resource.h config_tool.manifest; do
  touch "$work/elsewhere/src/ui/$input"
  cmake --build "$tree" >"$work/log" 2>&1
  grep -q 'Building RC object' "$work/log" || { echo "$input changed, the resources were not rebuilt"; exit 1; }
done
echo "a build without tests makes ConfigTool.exe alone; resource.h or the manifest changed: resources rebuilt"
