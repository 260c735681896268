#!/usr/bin/env bash
# Shows the real program on a virtual display and saves PNGs of the main window idle and recording,
# the settings dialog, the About box (each cut out with its shadow) and one frame of the recording
# made meanwhile, decoded by ffmpeg, under OUTDIR (default build/screenshots; the README's pictures
# are made with OUTDIR docs). Runs inside a private network namespace, with the stand-in time server
# answering, so the overlay's network state is normal; the trading-desk screen is shown behind the
# program when its tool is at hand.
# Usage: tools/screenshots.sh [OUTDIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${LUMENO_SCREENSHOT_INNER:-}" != "1" ]; then
  tools/setup.sh >/dev/null
  export LUMENO_SCREENSHOT_INNER=1
  exec tools/in-netns.sh --builtin-time-servers -- tools/with-xvfb.sh --size 1920x1080x24 -- "$0" "$@"
fi
out=${1:-build/screenshots}
mkdir -p "$out" && out=$(cd "$out" && pwd)
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
        "[视频附加内容]\r\n时间2时区=-5\r\n名称=张三\r\n平台=MT5\r\n帐号=8001\r\n"
        "[证据]\r\n时间戳服务器=\r\n") % folder
open(sys.argv[1] + "/Lumeno.INI", "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
wineserver -p </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1
python3 tools/sntp-standin.py --builtin >/dev/null 2>&1 & standin=$!
screen_tool=$root/../shared/tools/trading-screen.py
screen=""
if [ -f "$screen_tool" ]; then /usr/bin/python3 "$screen_tool" --duration 120 >/dev/null 2>&1 & screen=$!; sleep 3; fi
wine "$scratch/Lumeno.exe" </dev/null >/dev/null 2>&1 & program=$!
drv() { wine build/x86_64/bin/lumeno_driver.exe "$@" </dev/null; }
# A window with its drop shadow (a margin of 12 pixels), cut out of the whole screen.
shot() {
  sleep 1.5
  read -r left top right bottom < <(drv rect "$1" | head -1 | tr -d "\r")
  import -window root -crop $((right - left + 24))x$((bottom - top + 24))+$((left - 12))+$((top - 12)) +repage "$out/$2.png"
  echo "screenshot: $out/$2.png"
}
drv wait Lumeno 30000 >/dev/null
sleep 2; shot Lumeno main-idle
drv click Lumeno 1009; sleep 3; shot Lumeno main-recording
drv click Lumeno 1011; drv wait 设置 15000 >/dev/null; shot 设置 settings
drv click 设置 2; drv gone 设置 5000 >/dev/null || true
drv post Lumeno 274 16 0; drv wait "关于 Lumeno" 15000 >/dev/null; shot "关于 Lumeno" about
drv click "关于 Lumeno" 1; sleep 1
# Stopping finishes the file; its 30th position is the recorded frame shown.
drv click Lumeno 1013
for _ in $(seq 60); do ls "$scratch"/videos/2*.AVI >/dev/null 2>&1 && break; sleep 0.5; done
ffmpeg -v error -y -i "$(ls "$scratch"/videos/2*.AVI | head -1)" -vf "select=eq(n\,30)" -frames:v 1 "$out/recorded-frame.png"
echo "screenshot: $out/recorded-frame.png"
kill $program 2>/dev/null || true; kill $standin 2>/dev/null || true
[ -z "$screen" ] || kill $screen 2>/dev/null || true
wineserver -k </dev/null >/dev/null 2>&1 || true
