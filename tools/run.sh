#!/usr/bin/env bash
# Runs Lumeno under Wine. By default inside a private network namespace with a stand-in time server
# answering from this machine's clock for the built-in time server addresses: nothing leaves the
# machine. Uses the current X display, or a virtual one when there is none.
#   --real-network   talk to the real public time servers instead (needs a network)
#   --virtual        use a new virtual display even when DISPLAY is set
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
real_network=0 virtual=0
for a in "$@"; do
  case "$a" in
    --real-network) real_network=1 ;;
    --virtual) virtual=1 ;;
    *) echo "usage: tools/run.sh [--real-network] [--virtual]" >&2; exit 2 ;;
  esac
done
tools/setup.sh

# The program lives in build/run: Lumeno.exe, xvidcore.dll and, once saved, Lumeno.INI.
run_dir=build/run
mkdir -p $run_dir
cp build/x86_64/bin/xvidcore.dll $run_dir/
cp build/x86_64/bin/Lumeno.exe $run_dir/
program=(wine "$root/$run_dir/Lumeno.exe")
# Wine deletes for good instead of recycling when the freedesktop trash does not exist yet.
trash="${XDG_DATA_HOME:-$HOME/.local/share}/Trash"
mkdir -p "$trash/files" "$trash/info"
export WINEPREFIX="$root/$run_dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
tools/wine-prefix.sh "$WINEPREFIX"

launch=("${program[@]}")
if [ -z "${DISPLAY:-}" ] || [ $virtual = 1 ]; then
  launch=(tools/with-xvfb.sh -- "${launch[@]}")
fi
if [ $real_network = 1 ]; then
  exec "${launch[@]}"
fi
inner="python3 '$root/tools/sntp-standin.py' --builtin 2>/dev/null & standin=\$!; \"\$@\"; rc=\$?; kill \$standin; wineserver -k 2>/dev/null; exit \$rc"
exec tools/in-netns.sh --builtin-time-servers -- bash -c "$inner" lumeno-run "${launch[@]}"
