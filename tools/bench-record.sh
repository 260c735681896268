#!/usr/bin/env bash
# Runs the recording benchmark on virtual displays of the given sizes, one after the other, each
# filled edge to edge with busy trading desks (one 1920x1080 desk a tile), inside the private network
# namespace with a stand-in time server. Afterwards every finished recording is decoded and the first
# one's positions counted.
# Usage: tools/bench-record.sh [--build i686|x86_64 | --exe BENCH_EXE] [SECONDS [WxH...]]
#   default: the i686 build (the one users get, under 32-bit Wine), 70 s (a first whole 600-position
#   file) on 1920x1080 2560x1440 3840x2160. On a machine that does not execute 32-bit code it says so
#   and measures the x86_64 build. --exe measures another benchmark program (with its xvidcore.dll
#   beside it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=i686 exe=
case "${1:-}" in
  --build) build=$2; shift 2 ;;
  --exe) exe=$(realpath "$2"); shift 2 ;;
esac
if [ -z "$exe" ]; then
  tools/setup.sh >/dev/null
  if [ "$build" = i686 ] && ! tools/runs-32bit.sh; then
    echo "bench-record: measuring the x86_64 build instead of the i686 one"
    build=x86_64
  fi
  exe="$root/build/$build/bin/bench_RecordBenchmark.exe"
fi
seconds=${1:-70}
[ $# -gt 0 ] && shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1920x1080 2560x1440 3840x2160)
export WINEPREFIX="$root/build/bench-wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
tools/wine-prefix.sh "$WINEPREFIX"
screen_tool="$root/../shared/tools/trading-screen-tiles.sh"
[ -f "$screen_tool" ] || screen_tool=/work/shared/tools/trading-screen-tiles.sh
work=$(mktemp -d /tmp/lumeno-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
for size in "${sizes[@]}"; do
  keep="$work/$size"
  mkdir -p "$keep"
  echo "== $size, $(file -b "$exe" | cut -d, -f1), $exe, load:$(uptime | sed 's/.*load average://')"
  inner="python3 '$root/tools/sntp-standin.py' --builtin 2>/dev/null & s=\$!;
bash '$screen_tool' --duration $((seconds + 30)) >/dev/null 2>&1 & t=\$!; sleep 3;
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
