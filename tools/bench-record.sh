#!/usr/bin/env bash
# Runs the recording benchmark on virtual displays of the given sizes, one after the other, each
# filled edge to edge with busy trading desks (one 1920x1080 desk a tile), inside the private network
# namespace with a stand-in time server. Afterwards every finished recording is decoded and the first
# one's positions counted. For comparison, ffmpeg then records the same virtual display for as long
# (x11grab at 10 frames a second into libxvid at quantiser 2), and a table of both ends the run:
# pictures and positions, the share of positions without a picture of their own, CPU, disk use and
# peak memory.
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
summary=()
case "$(file -b "$exe")" in *x86-64*) label=x86_64 ;; *) label=i686 ;; esac
for size in "${sizes[@]}"; do
  keep="$work/$size"
  mkdir -p "$keep"
  echo "== $size, $(file -b "$exe" | cut -d, -f1), $exe, load:$(uptime | sed 's/.*load average://')"
  inner="python3 '$root/tools/sntp-standin.py' --builtin 2>/dev/null & s=\$!;
bash '$screen_tool' --duration $((2 * seconds + 60)) >/dev/null 2>&1 & t=\$!; sleep 3;
wine '$exe' $seconds 'Z:${keep//\//\\}' >'$keep/lumeno.txt'; rc=\$?; wineserver -k;
/usr/bin/time -f '%U %S %e %M' -o '$keep/ffmpeg.time' ffmpeg -nostdin -y -f x11grab -framerate 10 \
  -video_size $size -i \"\$DISPLAY\" -t $seconds -c:v libxvid -qscale:v 2 '$keep/ffmpeg.avi' 2>'$keep/ffmpeg.log';
kill \$s \$t 2>/dev/null; exit \$rc"
  tools/in-netns.sh --builtin-time-servers -- tools/with-xvfb.sh --size "${size}x24" -- bash -c "$inner" || true
  cat "$keep/lumeno.txt"
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
  l=$(cat "$keep/lumeno.txt")
  pictures=$(sed -n 's/^pictures: \([0-9]*\) .*positions \([0-9]*\), dropped \([0-9.]*\)%.*/\1 \/ \2 | \3 %/p' <<<"$l")
  cpu=$(sed -n 's/^CPU: \([0-9.]*\) s per recorded minute (\([0-9]*\)%.*/\2 % | \1 s/p' <<<"$l")
  mb=$(sed -n 's/^disk: .* files, \([0-9.]*\) MB per recorded minute/\1/p' <<<"$l")
  peak=$(sed -n 's/^peak working set: \([0-9]*\) MiB/\1/p' <<<"$l")
  path=$(sed -n 's/^encoder: //p' <<<"$l")
  summary+=("| $size | Lumeno $label | $pictures | $cpu | $mb | $peak | $path |")
  if [ -s "$keep/ffmpeg.time" ] && [ -s "$keep/ffmpeg.avi" ]; then
    echo "ffmpeg x11grab -> libxvid q2: $(tr '\r' '\n' <"$keep/ffmpeg.log" | grep 'frame=' | tail -1)"
    read -r user sys wall rss < <(tail -1 "$keep/ffmpeg.time")
    stats=$(tr '\r' '\n' <"$keep/ffmpeg.log" | grep 'frame=' | tail -1)
    frames=$(sed -n 's/^frame= *\([0-9]*\).*/\1/p' <<<"$stats")
    dup=$(sed -n 's/.*dup= *\([0-9]*\).*/\1/p' <<<"$stats")
    bytes=$(stat -c %s "$keep/ffmpeg.avi")
    echo "ffmpeg CPU: user ${user} s, system ${sys} s, ${wall} s wall, peak resident ${rss} KiB, $bytes bytes"
    # Ten positions a second; a picture ffmpeg repeated (dup) or never wrote leaves one without its own.
    summary+=("$(awk -v s="$size" -v f="${frames:-0}" -v d="${dup:-0}" -v u="$user" -v y="$sys" -v w="$wall" \
      -v r="$rss" -v b="$bytes" -v secs="$seconds" 'BEGIN {
      p = 10 * secs; got = f - d > p ? p : f - d
      printf "| %s | ffmpeg libxvid q2 | %d / %d | %.1f %% | %.0f %% | %.1f s | %.1f | %.0f | (x11grab) |",
        s, got, p, 100 * (p - got) / p, 100 * (u + y) / w, (u + y) * 60 / w, b / 1e6 * 60 / secs, r / 1024 }')")
  else
    echo "ffmpeg made no recording: $(tail -3 "$keep/ffmpeg.log")"
  fi
done
echo
echo "| screen | recorder | pictures / positions | dropped | CPU (one core) | CPU per recorded minute | MB/min | peak MiB | encoder |"
echo "|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${summary[@]}"
