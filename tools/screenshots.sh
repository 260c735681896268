#!/usr/bin/env bash
# Shows the real program on a virtual display and saves PNGs of the main window idle and recording,
# the settings dialog and the About box under build/screenshots/ (inside a private network
# namespace, with the stand-in time server answering, so the overlay's network state is normal).
# Usage: tools/screenshots.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${LUMENO_SCREENSHOT_INNER:-}" != "1" ]; then
  tools/setup.sh >/dev/null
  export LUMENO_SCREENSHOT_INNER=1
  exec tools/in-netns.sh --builtin-time-servers -- tools/with-xvfb.sh --size 1024x768x24 -- "$0"
fi
out=$root/build/screenshots
scratch=$root/build/x86_64/screenshot-scratch
rm -rf "$scratch"; mkdir -p "$out" "$scratch/videos"
cp build/x86_64/bin/Lumeno.exe build/x86_64/bin/xvidcore.dll "$scratch/"
export WINEPREFIX=$root/build/x86_64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export HOME=$root/build/x86_64/test-home XDG_DATA_HOME=$root/build/x86_64/test-home/.local/share
mkdir -p "$XDG_DATA_HOME/Trash/files" "$XDG_DATA_HOME/Trash/info"
tools/wine-prefix.sh "$WINEPREFIX" >/dev/null
python3 - "$scratch" <<'PY'
import sys
folder = "Z:" + sys.argv[1].replace("/", "\\") + "\\videos"
text = ("[基础]\r\n存储位置=%s\r\n保留时长=60\r\n自动清除其他文件=0\r\n[常规]\r\n自动开始录像=0\r\n"
        "[视频附加内容]\r\n时间2时区=-5\r\n名称=张三\r\n平台=MT5\r\n帐号=8001\r\n") % folder
open(sys.argv[1] + "/Lumeno.INI", "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
wineserver -p </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1
python3 tools/sntp-standin.py --builtin >/dev/null 2>&1 & standin=$!
wine "$scratch/Lumeno.exe" </dev/null >/dev/null 2>&1 & program=$!
drv() { wine build/x86_64/bin/lumeno_driver.exe "$@" </dev/null; }
shot() { sleep 1.5; import -window root "$out/$1.png"; echo "screenshot: $out/$1.png"; }
drv wait Lumeno 30000 >/dev/null
sleep 2; shot main-idle
drv click Lumeno 1009; sleep 3; shot main-recording
drv click Lumeno 1011; drv wait 设置 15000 >/dev/null; shot settings
drv click 设置 2; drv gone 设置 5000 >/dev/null || true
drv post Lumeno 274 16 0; drv wait "关于 Lumeno" 15000 >/dev/null; shot about
drv click "关于 Lumeno" 1; sleep 1
kill $program 2>/dev/null || true; kill $standin 2>/dev/null || true
wineserver -k </dev/null >/dev/null 2>&1 || true
