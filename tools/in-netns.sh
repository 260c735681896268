#!/usr/bin/env bash
# Runs a command inside a private network namespace: only loopback exists, and each address given
# with --bind is added to it, so a local stand-in server can answer for it. Nothing leaves the machine.
# Usage: tools/in-netns.sh [--bind ADDR]... [--builtin-time-servers] -- COMMAND...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${LUMENO_IN_NETNS:-}" != "1" ]; then
  exec unshare --net -- env LUMENO_IN_NETNS=1 "$0" "$@"
fi
ip link set lo up
while [ $# -gt 0 ]; do
  case "$1" in
    --bind) ip addr add "$2/32" dev lo; shift 2 ;;
    --builtin-time-servers)
      for a in $("$root/tools/time-servers.sh"); do ip addr add "$a/32" dev lo; done
      shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
# Every route but loopback is absent: a packet for any other address fails at once. A proxy the
# host names is out of reach in here too, and would only turn the stand-ins' local answers into
# failures: programs run without one (WinHTTP under Wine reads these variables).
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
exec "$@"
