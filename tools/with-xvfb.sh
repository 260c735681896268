#!/usr/bin/env bash
# Runs a command with its own Xvfb display and stops that server by its PID afterwards.
# Usage: tools/with-xvfb.sh [--size WxHxD] -- COMMAND...
set -euo pipefail
size=1920x1080x24
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
display=
for n in $(seq 90 150); do
  if [ ! -e /tmp/.X$n-lock ] && [ ! -e /tmp/.X11-unix/X$n ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "with-xvfb: no free display" >&2; exit 1; }
Xvfb :$display -screen 0 "$size" -nolisten tcp >/dev/null 2>&1 &
xpid=$!
trap 'kill $xpid 2>/dev/null; wait $xpid 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  [ -e /tmp/.X11-unix/X$display ] && break
  sleep 0.05
done
export DISPLAY=:$display
set +e
"$@"
rc=$?
exit $rc
