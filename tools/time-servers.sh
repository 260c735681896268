#!/usr/bin/env bash
# Prints the program's built-in time server addresses, one a line, from the one list in the source.
root=$(cd "$(dirname "$0")/.." && pwd)
sed -n '/BEGIN BUILT-IN TIME SERVERS/,/END BUILT-IN TIME SERVERS/p' "$root/timestore/TimeServers.h" \
  | grep -oE '"[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+"' | tr -d '"'
