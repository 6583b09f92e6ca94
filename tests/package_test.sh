#!/usr/bin/env bash
# The release archive holds exactly the release's files, and SHA256SUMS checks them all; the
# package beside it is the one inside. (Signed releases: signing_test.py.)
# usage: package_test.sh ZIP
set -euo pipefail
zip=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/unzipped"
(cd "$work/unzipped" && python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall()' "$zip")
files=$(cd "$work/unzipped" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
want="ConfigTool-1.0-win32.msi ConfigTool.exe PolicyDefinitions/ConfigTool.admx PolicyDefinitions/en-US/ConfigTool.adml README.md SHA256SUMS apply-settings.cmd docs/deploying.md "
[ "$files" = "$want" ] || { echo "the archive holds: $files"; exit 1; }
listed=$(cut -c67- "$work/unzipped/SHA256SUMS" | sort | tr '\n' ' ')
[ "$listed" = "${want/SHA256SUMS /}" ] || { echo "SHA256SUMS lists: $listed"; exit 1; }
(cd "$work/unzipped" && sha256sum --quiet -c SHA256SUMS)
cmp "$work/unzipped/ConfigTool-1.0-win32.msi" "$(dirname "$zip")/ConfigTool-1.0-win32.msi"
echo "archive: $(wc -w <<<"$files") files, SHA256SUMS checks; the package beside it is the one inside"
