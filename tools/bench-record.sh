#!/usr/bin/env bash
# Runs the recording benchmark on virtual displays of the given sizes, one after the other, each
# showing a busy trading-desk screen, inside the private network namespace with a stand-in time
# server. Afterwards every finished recording is decoded and the first one's positions counted.
# Usage: tools/bench-record.sh [--exe BENCH_EXE] [SECONDS [WxH...]]
#   default: 70 s (a first whole 600-position file) on 1920x1080 2560x1440 3840x2160;
#   --exe measures another build's bench_RecordBenchmark.exe (with its xvidcore.dll beside it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
exe="$root/build/x86_64/bin/bench_RecordBenchmark.exe"
if [ "${1:-}" = "--exe" ]; then exe=$(realpath "$2"); shift 2; else tools/setup.sh >/dev/null; fi
seconds=${1:-70}
[ $# -gt 0 ] && shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1920x1080 2560x1440 3840x2160)
export WINEPREFIX="$root/build/x86_64/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
tools/wine-prefix.sh "$WINEPREFIX"
screen_tool="$root/../shared/tools/trading-screen.py"
[ -f "$screen_tool" ] || screen_tool=/work/shared/tools/trading-screen.py
work=$(mktemp -d /tmp/lumeno-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
for size in "${sizes[@]}"; do
  keep="$work/$size"
  mkdir -p "$keep"
  echo "== $size, $exe, load:$(uptime | sed 's/.*load average://')"
  inner="python3 '$root/tools/sntp-standin.py' --builtin 2>/dev/null & s=\$!;
/usr/bin/python3 '$screen_tool' --duration $((seconds + 30)) >/dev/null 2>&1 & t=\$!; sleep 3;
wine '$exe' $seconds 'Z:${keep//\//\\}'; rc=\$?; kill \$s \$t 2>/dev/null; wineserver -k; exit \$rc"
  tools/in-netns.sh --builtin-time-servers -- tools/with-xvfb.sh --size "${size}x24" -- bash -c "$inner"
  files=("$keep"/[0-9]*.AVI)
  if [ ! -e "${files[0]}" ]; then echo "no finished recording"; continue; fi
  bad=0
  for f in "${files[@]}"; do
    errors=$(ffmpeg -nostdin -v error -i "$f" -f null - 2>&1 | wc -l)
    [ "$errors" -eq 0 ] || { bad=$((bad + 1)); echo "decode errors in $(basename "$f"): $errors lines"; }
  done
  first=$(ffprobe -v error -select_streams v:0 -count_packets \
          -show_entries stream=nb_frames,nb_read_packets -of csv=p=0 "${files[0]}")
  echo "recordings: ${#files[@]} finished, $bad with decode errors; first file positions (header, packets read): $first"
done
