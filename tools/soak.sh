#!/usr/bin/env bash
# Long run of the real Lumeno.exe recording a busy 1920×1080 trading-desk screen, inside the private
# network namespace with stand-ins for the time server and the time-stamp authority. Prints a row a
# minute: resident memory, open handles, files written, positions and pictures per file, dropped share;
# at the end the verifier's account of the folder. A measurement, not a test.
# Usage: tools/soak.sh [MINUTES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
minutes=${1:-60}
tools/setup.sh >/dev/null
work="$root/build/soak"
rm -rf "$work"
mkdir -p "$work/home/.local/share/Trash/files"
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
tools/wine-prefix.sh "$WINEPREFIX"
screen_tool="$root/../shared/tools/trading-screen.py"
[ -f "$screen_tool" ] || screen_tool=/work/shared/tools/trading-screen.py
inner="wineserver -p </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1;
python3 '$root/tools/sntp-standin.py' --builtin 2>/dev/null & s=\$!;
/usr/bin/python3 '$screen_tool' --duration $((minutes * 60 + 120)) >/dev/null 2>&1 & t=\$!; sleep 3;
/usr/bin/python3 '$root/tools/soak.py' $minutes '$root/build/x86_64/bin' '$work'; rc=\$?;
kill \$s \$t 2>/dev/null; wineserver -k; exit \$rc"
exec tools/in-netns.sh --builtin-time-servers -- tools/with-xvfb.sh -- bash -c "$inner"
