#!/usr/bin/env bash
# Refuses to go on unless this process sits in a private network namespace whose only link is the
# loopback: Lumeno's time servers are public addresses, and no test may reach them. Run the tests
# through tools/test.sh (or inside tools/in-netns.sh), never by calling ctest directly.
links=$(ip -o link show 2>/dev/null | cut -d: -f2 | tr -d ' ' | grep -vx lo)
if [ -n "$links" ] || ! ip -o link show 2>/dev/null | grep -q ': lo:'; then
  echo "require-netns: not inside a private network namespace (links: ${links//$'\n'/ }); use tools/test.sh" >&2
  exit 1
fi
