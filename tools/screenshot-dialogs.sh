#!/usr/bin/env bash
# Shows the styled dialogs (the main window's layout with its image buttons, and the About box, each
# with its caption and drop shadow) on a virtual display and captures the screen into a PNG.
# Usage: tools/screenshot-dialogs.sh [OUTPUT.png]   (default build/screenshots/styled-dialogs.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$(realpath -m "${1:-build/screenshots/styled-dialogs.png}")
mkdir -p "$(dirname "$out")"
tools/setup.sh >/dev/null
prefix=$root/build/x86_64/wineprefix
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export HOME=$root/build/x86_64/test-home XDG_DATA_HOME=$root/build/x86_64/test-home/.local/share
mkdir -p "$HOME"
tools/wine-prefix.sh "$prefix"
export LUMENO_SCREENSHOT=$out
tools/with-xvfb.sh --size 800x600x24 -- sh -c '
  wineserver -p </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1
  wine build/x86_64/bin/test_ui.exe --gtest_also_run_disabled_tests --gtest_filter="*DISABLED_Screenshot" </dev/null
  rc=$?
  wineserver -k </dev/null >/dev/null 2>&1 || true
  exit $rc'
echo "screenshot: $out"
