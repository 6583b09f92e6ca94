#!/usr/bin/env bash
# The release archive.
# usage: package_test.sh contents ZIP
#          it holds exactly the release's files, and SHA256SUMS checks them all
#        package_test.sh signed CPACK_CONFIG BUILT_EXE
#          with a throwaway certificate the archived ConfigTool.exe is signed and verifies, and
#          without its signature is the built file; the Windows Installer package is signed and
#          verifies, and holds the signed program; a wrong password makes no archive and no
#          package, leaves none from before, and no password file
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check_contents() {  # ZIP
  mkdir "$work/unzipped"
  (cd "$work/unzipped" && python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall()' "$1")
  files=$(cd "$work/unzipped" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
  want="ConfigTool-1.0-win32.msi ConfigTool.exe PolicyDefinitions/ConfigTool.admx PolicyDefinitions/en-US/ConfigTool.adml README.md SHA256SUMS apply-settings.cmd docs/deploying.md "
  [ "$files" = "$want" ] || { echo "the archive holds: $files"; exit 1; }
  listed=$(cut -c67- "$work/unzipped/SHA256SUMS" | sort | tr '\n' ' ')
  [ "$listed" = "${want/SHA256SUMS /}" ] || { echo "SHA256SUMS lists: $listed"; exit 1; }
  (cd "$work/unzipped" && sha256sum --quiet -c SHA256SUMS)
  cmp "$work/unzipped/ConfigTool-1.0-win32.msi" "$(dirname "$1")/ConfigTool-1.0-win32.msi"
  echo "archive: $(wc -w <<<"$files") files, SHA256SUMS checks; the package beside it is the one inside"
}

if [ "$1" = contents ]; then
  check_contents "$2"
  exit 0
fi

config=$2 built=$3
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj "/CN=Throwaway CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj "/CN=ConfigTool test" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n' >leaf.ext
openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -extfile leaf.ext \
  -out leaf.pem 2>/dev/null
openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile ca.pem -out sign.p12 -passout pass:test-only

zip=$work/out/ConfigTool-1.0-win32.zip
mkdir -p "$work/out" && echo "an older archive" >"$zip" && echo "an older package" >"${zip%.zip}.msi"
sign_dir=$(dirname "$config")/sign
if CONFIGTOOL_SIGN_PKCS12=$work/sign.p12 CONFIGTOOL_SIGN_PASSWORD=wrong CONFIGTOOL_SIGN_NO_TIMESTAMP=1 \
   cpack --config "$config" -B "$work/out" >bad.log 2>&1; then
  cat bad.log; echo "a wrong password did not stop the package"; exit 1
fi
grep -q 'Signing ConfigTool.exe with .* failed' bad.log || { cat bad.log; exit 1; }
# Neither a new archive or package (CPack's own copies included) nor older ones, nor the password file.
left=$(find "$work/out" -name 'ConfigTool-*.zip' -o -name 'ConfigTool-*.msi')
[ -z "$left" ] || { echo "after a failed signing there is still: $left"; exit 1; }
[ ! -e "$sign_dir" ] || { echo "the signing folder $sign_dir is still there"; exit 1; }

CONFIGTOOL_SIGN_PKCS12=$work/sign.p12 CONFIGTOOL_SIGN_PASSWORD=test-only CONFIGTOOL_SIGN_NO_TIMESTAMP=1 \
  cpack --config "$config" -B "$work/out" >good.log 2>&1 || { cat good.log; exit 1; }
grep -q 'ConfigTool.exe signed with' good.log && grep -q 'ConfigTool-1.0-win32.msi signed with' good.log ||
  { cat good.log; exit 1; }
[ ! -e "$sign_dir" ] || { echo "the signing folder $sign_dir is still there"; exit 1; }
check_contents "$zip"
for signed in ConfigTool.exe ConfigTool-1.0-win32.msi; do
  osslsigncode verify -CAfile ca.pem -in "unzipped/$signed" >verify.log 2>&1 || { cat verify.log; exit 1; }
done
msiextract -C packaged unzipped/ConfigTool-1.0-win32.msi >/dev/null
cmp packaged/*/ConfigTool/ConfigTool.exe unzipped/ConfigTool.exe ||
  { echo "the package does not hold the signed program"; exit 1; }
osslsigncode remove-signature -in unzipped/ConfigTool.exe -out unsigned.exe >/dev/null
# Apart from the PE checksum (4 bytes at offset 216 in this layout), the signature is all there is.
diff=$(cmp -l unsigned.exe "$built" | awk '$1 < 217 || $1 > 220' | wc -l)
[ "$(stat -c %s unsigned.exe)" = "$(stat -c %s "$built")" ] && [ "$diff" = 0 ] ||
  { echo "without its signature, the archived ConfigTool.exe is not the built one"; exit 1; }
echo "signed: osslsigncode verify accepts the program and the package, which holds it; unsigned again, the program is the built file; a wrong password makes no archive or package"
