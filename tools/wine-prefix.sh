#!/usr/bin/env bash
# Creates (once) a 64-bit Wine prefix with Chinese font substitutes, so that the program's
# "宋体", "黑体" and "MS Shell Dlg" texts render with an installed CJK font.
# Usage: tools/wine-prefix.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "$1")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
[ -f "$prefix/.lumeno-ready" ] && exit 0
mkdir -p "$prefix"
wineboot -i </dev/null >/dev/null 2>&1 || true
key='HKCU\Software\Wine\Fonts\Replacements'
for face in 宋体 SimSun 黑体 SimHei 新宋体 NSimSun "MS Shell Dlg" "MS Shell Dlg 2" 微软雅黑 "Microsoft YaHei"; do
  wine reg add "$key" /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f </dev/null >/dev/null 2>&1
done
wineserver -w
touch "$prefix/.lumeno-ready"
