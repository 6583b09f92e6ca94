#!/usr/bin/env bash
# The release archive holds exactly the release's files, and SHA256SUMS checks them all; the
# package beside it is the one inside. (Signed releases: signing_test.py.)
# usage: package_test.sh ZIP
set -euo pipefail
zip=$1
name=$(basename "$zip" .zip)  # ConfigTool-VERSION-win32, the package named alike
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/unzipped"
(cd "$work/unzipped" && python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall()' "$zip")
files=$(cd "$work/unzipped" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
want="$name.msi ConfigTool.exe PolicyDefinitions/ConfigTool.admx PolicyDefinitions/en-US/ConfigTool.adml README.txt SHA256SUMS apply-settings.cmd docs/deploying.md "
[ "$files" = "$want" ] || { echo "the archive holds: $files"; exit 1; }
listed=$(cut -c67- "$work/unzipped/SHA256SUMS" | sort | tr '\n' ' ')
[ "$listed" = "${want/SHA256SUMS /}" ] || { echo "SHA256SUMS lists: $listed"; exit 1; }
(cd "$work/unzipped" && sha256sum --quiet -c SHA256SUMS)
# Its README is for the administrator who unzips it, not for the machine that built it.
! grep -n -i -w -E 'debian|wine|qemu' "$work/unzipped/README.txt" || { echo "README.txt speaks of the build machine"; exit 1; }
cmp "$work/unzipped/$name.msi" "$(dirname "$zip")/$name.msi"
echo "archive: $(wc -w <<<"$files") files, SHA256SUMS checks; the package beside it is the one inside"
