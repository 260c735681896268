#!/usr/bin/env bash
# The whole test suite: installs and builds what is missing (both presets), then runs every test of
# the x86_64 build under Wine, on a virtual display, inside a private network namespace in which the
# program's built-in time server addresses exist only on loopback. Extra arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
exec tools/in-netns.sh --builtin-time-servers -- \
  tools/with-xvfb.sh -- ctest --test-dir build/x86_64 --output-on-failure "$@"
