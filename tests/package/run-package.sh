#!/usr/bin/env bash
# Builds the Windows package with and without a codec and checks what it holds, and that a codec of
# the wrong architecture, without the exports, or not a DLL at all is refused. Needs both builds
# (their codec stand-ins and the i686 programs).
# Usage: run-package.sh SOURCE_DIR
set -uo pipefail
root=$1
cd "$root"
i686=build/i686/bin x64=build/x86_64/bin
out=build/package-test
export LUMENO_DIST=$out/dist
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
version=$(sed -n 's/^#define LUMENO_VERSION_TEXT "\(.*\)"$/\1/p' build/i686/generated/LumenoVersion.h)
zip=$LUMENO_DIST/Lumeno-$version-win32.zip setup=$LUMENO_DIST/Lumeno-$version-setup.exe
listing() { 7zz l -ba "$1" | awk '{print $NF}' | sort | tr '\n' ' '; }
unpack() { rm -rf "$out/x" && 7zz x -y -bso0 -bd -o"$out/x" "$1" >/dev/null; }
holds_version() { strings -el "$1" | grep -qx "$version"; }

rm -rf "$out"
check "the package builds with a codec" tools/package.sh --no-build --xvidcore $i686/codec-standin/xvidcore.dll
check "the zip is named after the version and holds the program, read-me and codec" \
  test "$(listing "$zip")" = "Lumeno-$version Lumeno-$version/Lumeno.exe Lumeno-$version/LumenoVerify.exe Lumeno-$version/ReadMe.txt Lumeno-$version/xvidcore.dll "
echo "     zip: $(listing "$zip")"
check "the installer holds the programs, read-me, codec and uninstaller" \
  bash -c "7zz l -ba '$setup' | grep -c -E ' (Lumeno.exe|LumenoVerify.exe|ReadMe.txt|xvidcore.dll|Uninstall.exe)\$' | grep -qx 5"
echo "     setup: $(listing "$setup")"
unpack "$setup"
installed_is_shipping() {
  cmp -s "$out/x/Lumeno.exe" $i686/Lumeno.exe && cmp -s "$out/x/LumenoVerify.exe" $i686/LumenoVerify.exe &&
    holds_version "$out/x/Lumeno.exe"
}
check "the installed program is the shipping build, with the version in its resource" installed_is_shipping
check "the installer carries the version in its own resource" holds_version "$setup"
check "the bundled codec is the one given" cmp -s "$out/x/xvidcore.dll" $i686/codec-standin/xvidcore.dll
readme_for_windows() {
  [ "$(head -c3 "$1" | od -An -tx1)" = " ef bb bf" ] && grep -q $'Lumeno '"$version"$'.*\r$' "$1" && grep -q "$2" "$1"
}
check "the read-me (UTF-8 with a mark, Windows line ends) names the version and the bundled codec" \
  readme_for_windows "$out/x/ReadMe.txt" "已附带 xvidcore.dll"

check "the package builds without a codec" tools/package.sh --no-build
check "then neither the zip nor the installer holds a codec" \
  bash -c "! 7zz l -ba '$zip' | grep -q xvidcore.dll && ! 7zz l -ba '$setup' | grep -q xvidcore.dll"
unpack "$zip"
check "and the read-me says where to get one" readme_for_windows "$out/x/Lumeno-$version/ReadMe.txt" "https://www.xvid.com"

printf 'not a library\n' >"$out/text.dll"
before=$(stat -c %Y "$zip" "$setup")
while IFS='|' read -r what dll words; do
  message=$(tools/package.sh --no-build --xvidcore "$dll" 2>&1 >/dev/null)
  rc=$?
  check "$what is refused: $message" bash -c "[ $rc -ne 0 ] && grep -q '$words' <<<'$message'"
done <<EOF2
a 64-bit DLL|$x64/codec-standin/xvidcore.dll|not a 32-bit
a DLL without xvid_encore|$i686/codec-without-encore/xvidcore.dll|does not export xvid_encore
a 32-bit program|$i686/Lumeno.exe|is a program
a text file|$out/text.dll|not a 32-bit
a missing file|$out/none.dll|no such file
EOF2
check "a refused codec leaves the earlier package as it was" test "$(stat -c %Y "$zip" "$setup")" = "$before"
echo "$failures failure(s)"
[ $failures -eq 0 ]
