#!/usr/bin/env bash
# Runs the recording benchmark on a 1920×1080 virtual display showing a busy trading-desk screen,
# inside the private network namespace with a stand-in time server. Usage: tools/bench-record.sh [SECONDS [KEEP_FOLDER]]
# BENCH_PROGRAM=bench_SealBenchmark.exe runs the sealing benchmark on the same screen instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-60}
keep=${2:-}  # optional Windows path of a folder that keeps the recordings
tools/setup.sh >/dev/null
export WINEPREFIX="$root/build/x86_64/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
tools/wine-prefix.sh "$WINEPREFIX"
screen_tool="$root/../shared/tools/trading-screen.py"
[ -f "$screen_tool" ] || screen_tool=/work/shared/tools/trading-screen.py
inner="python3 '$root/tools/sntp-standin.py' --builtin 2>/dev/null & s=\$!;
/usr/bin/python3 '$screen_tool' --duration $((seconds + 30)) >/dev/null 2>&1 & t=\$!; sleep 3;
wine '$root/build/x86_64/bin/${BENCH_PROGRAM:-bench_RecordBenchmark.exe}' $seconds '$keep'; rc=\$?; kill \$s \$t 2>/dev/null; wineserver -k; exit \$rc"
exec tools/in-netns.sh --builtin-time-servers -- tools/with-xvfb.sh -- bash -c "$inner"
