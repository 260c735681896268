#!/usr/bin/env bash
# Builds the Windows package from the 32-bit shipping build: dist/Lumeno-<version>-win32.zip and the
# per-user installer dist/Lumeno-<version>-setup.exe (NSIS). The codec cannot be built here, so it
# is taken from whoever packages: --xvidcore PATH names the xvidcore.dll of the Xvid 1.3.x Windows
# release, which is checked (a 32-bit PE DLL exporting xvid_global and xvid_encore) and bundled.
# Without it, the package holds no codec and says where to get one. LUMENO_DIST names another output
# folder than dist/ (the packaging test uses one of its own).
# Usage: tools/package.sh [--xvidcore PATH] [--no-build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The programs the package ships, all from the i686 build's bin/ folder.
programs=(Lumeno.exe LumenoVerify.exe)

xvidcore="" build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --xvidcore) [ $# -ge 2 ] || { echo "package: --xvidcore needs a path" >&2; exit 2; }; xvidcore=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    *) echo "usage: tools/package.sh [--xvidcore PATH] [--no-build]" >&2; exit 2 ;;
  esac
done

# Refuses anything that is not a 32-bit Windows DLL exporting both functions the program binds.
check_codec() {
  local dll=$1 dump
  [ -f "$dll" ] || { echo "package: no such file: $dll" >&2; return 1; }
  if ! dump=$(i686-w64-mingw32-objdump -p "$dll" 2>/dev/null) || ! grep -q "file format pei-i386" <<<"$dump"; then
    echo "package: $dll is not a 32-bit Windows DLL (the shipping Lumeno.exe is 32-bit)" >&2; return 1
  fi
  sed -n '/^Characteristics/,/^$/p' <<<"$dump" | grep -qx $'\tDLL' ||
    { echo "package: $dll is a program, not a DLL" >&2; return 1; }
  local exports
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump")
  for name in xvid_global xvid_encore; do
    grep -Eq "\] $name\$" <<<"$exports" || { echo "package: $dll does not export $name: not an Xvid library" >&2; return 1; }
  done
}

if [ -n "$xvidcore" ]; then check_codec "$xvidcore" || exit 1; fi
if [ $build = 1 ]; then tools/setup.sh >/dev/null; fi
for tool in makensis 7zz; do
  command -v $tool >/dev/null || { echo "package: $tool is missing (tools/setup.sh installs it)" >&2; exit 1; }
done

bin=build/i686/bin
version=$(sed -n 's/^#define LUMENO_VERSION_TEXT "\(.*\)"$/\1/p' build/i686/generated/LumenoVersion.h)
[ -n "$version" ] || { echo "package: no version in build/i686/generated/LumenoVersion.h" >&2; exit 1; }
grep -q "Lumeno $version" README.md || { echo "package: README.md does not name version $version" >&2; exit 1; }

dist=${LUMENO_DIST:-dist}
stage=build/package/Lumeno-$version
rm -rf build/package && mkdir -p "$stage" "$dist"
dist=$(cd "$dist" && pwd)
for program in "${programs[@]}"; do cp "$bin/$program" "$stage/"; done
if [ -n "$xvidcore" ]; then
  cp "$xvidcore" "$stage/xvidcore.dll"
  codec_zh="本软件包已附带 xvidcore.dll。" codec_en="This package includes xvidcore.dll."
else
  codec_zh="本软件包未附带 xvidcore.dll：请从 Xvid 项目网站 https://www.xvid.com 下载 Xvid 1.3 版的 Windows 安装程序，把其中的 32 位 xvidcore.dll 复制到 Lumeno.exe 所在的文件夹。"
  codec_en="This package holds no xvidcore.dll: get the Windows installer of the Xvid 1.3 release from the Xvid project (https://www.xvid.com) and copy its 32-bit xvidcore.dll beside Lumeno.exe."
fi
# The read-me in UTF-8 with a byte-order mark and Windows line ends, so that Notepad shows it right.
{ printf '\xef\xbb\xbf'
  sed -e "s/@VERSION@/$version/g" -e "s|@CODEC_ZH@|$codec_zh|" -e "s|@CODEC_EN@|$codec_en|" tools/package/ReadMe.txt |
    sed 's/$/\r/'; } >"$stage/ReadMe.txt"

zip=$dist/Lumeno-$version-win32.zip setup=$dist/Lumeno-$version-setup.exe
rm -f "$zip" "$setup"
(cd build/package && 7zz a -tzip -bd -bso0 "$zip" "Lumeno-$version")
defines=(-DVERSION="$version" -DSTAGE="$root/$stage" -DICON="$root/res/Lumeno.ico" -DOUTFILE="$setup")
[ -n "$xvidcore" ] && defines+=(-DWITH_CODEC)
makensis -V2 -INPUTCHARSET UTF8 "${defines[@]}" tools/package/Lumeno.nsi
echo "package: $zip"
echo "package: $setup"
