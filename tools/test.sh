#!/usr/bin/env bash
# The whole test suite: installs and builds what is missing (both presets), then, on a virtual
# display and inside a private network namespace in which the program's built-in time server
# addresses exist only on loopback, runs every test of the x86_64 build under 64-bit Wine.
# With --i686 (or LUMENO_TEST_I686=1) it first runs every test of the i686 build, the one users get,
# under 32-bit Wine with the 32-bit codec bridge, and then only the x86_64 unit tests; that needs a
# machine that executes 32-bit code (tools/runs-32bit.sh), and is refused where it does not.
# Other arguments go to ctest. Exit status: 0 only when every run passes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
i686=${LUMENO_TEST_I686:-0}
if [ "${1:-}" = "--i686" ]; then i686=1; shift; fi
export LUMENO_TEST_I686=$i686
tools/setup.sh
if [ "$i686" = 1 ]; then
  tools/runs-32bit.sh || { echo "test: the i686 suite cannot run on this machine" >&2; exit 1; }
else
  tools/runs-32bit.sh 2>/dev/null && echo "test: this machine runs 32-bit code: tools/test.sh --i686 also tests the shipping build"
fi
exec tools/in-netns.sh --builtin-time-servers -- tools/with-xvfb.sh -- bash -c '
  i686=$1; shift
  start=$SECONDS rc=0
  if [ "$i686" = 1 ]; then
    echo "== i686 build (shipping), 32-bit Wine: every test"
    ctest --test-dir build/i686 --output-on-failure "$@" || rc=1
    echo "== x86_64 build, 64-bit Wine: unit tests"
    ctest --test-dir build/x86_64 --output-on-failure -E "^(e2e|faults|package)$" "$@" || rc=1
  else
    echo "== x86_64 build, 64-bit Wine: every test"
    ctest --test-dir build/x86_64 --output-on-failure "$@" || rc=1
  fi
  echo "== whole run $((SECONDS - start)) s, exit $rc"
  exit $rc' test-suite "$i686" "$@"
