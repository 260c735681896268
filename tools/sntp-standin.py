#!/usr/bin/env python3
"""A stand-in SNTP server for the private test network: answers every 48-byte request on each given
address with the machine's own clock (plus an optional offset), echoing the request's transmit time
as the reply's originate time as a real server does. Never use it on a real network.

Usage: sntp-standin.py [--port 123] [--offset SECONDS] [--builtin | ADDRESS...]
"""
import argparse
import os
import select
import socket
import struct
import subprocess
import sys
import time

NTP_EPOCH_OFFSET = 2208988800  # seconds from 1900-01-01 to 1970-01-01


def reply_for(request, offset):
    now = time.time() + offset + NTP_EPOCH_OFFSET
    seconds = int(now)
    fraction = int((now - seconds) * (1 << 32)) & 0xFFFFFFFF
    seconds &= 0xFFFFFFFF  # the field wraps in 2036; the client tells the era from its own clock
    originate = request[40:48]
    version = (request[0] >> 3) & 0x7 or 4
    first = (0 << 6) | (version << 3) | 4  # no leap warning, the client's version, mode 4 (server)
    return struct.pack("!BBbbII4sII8sIIII", first, 1, 4, -20, 0, 0, b"LOCL",
                       seconds, fraction, originate, seconds, fraction, seconds, fraction)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=123)
    parser.add_argument("--offset", type=float, default=0.0)
    parser.add_argument("--builtin", action="store_true", help="answer for the program's built-in servers")
    parser.add_argument("addresses", nargs="*")
    args = parser.parse_args()
    addresses = list(args.addresses)
    if args.builtin:
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "time-servers.sh")
        addresses += subprocess.run([script], capture_output=True, text=True, check=True).stdout.split()
    if not addresses:
        addresses = ["127.0.0.1"]
    sockets = []
    for address in addresses:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((address, args.port))
        sockets.append(s)
    print("sntp-standin: answering on %d addresses, port %d" % (len(sockets), args.port), file=sys.stderr)
    while True:
        readable, _, _ = select.select(sockets, [], [])
        for s in readable:
            data, peer = s.recvfrom(512)
            if len(data) == 48 and (data[0] & 0x7) == 3:
                s.sendto(reply_for(data, args.offset), peer)


if __name__ == "__main__":
    main()
