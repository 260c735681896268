#!/usr/bin/python3
"""The minute-by-minute loop of tools/soak.sh: starts Lumeno with automatic recording, samples the
process once a minute and checks every file finished in that minute, then ends the program through
its log-off path so the last file is finished too. A stand-in time-stamp authority stamps the chain
every minute, and at the end the verifier must find every recording sealed and anchored.

Usage: soak.py MINUTES BIN_DIR WORK_DIR
Handles are the Wine process's open file descriptors: Wine keeps one for every file, socket, event
and mapping it hands to the program, and the Windows handle count reads 0 under Wine. The
catalogue keeps one per recording by design, so the next column takes those off.
"""
import os
import re
import shutil
import subprocess
import sys
import time

MINUTES, BIN, WORK = int(sys.argv[1]), sys.argv[2], sys.argv[3]
APP, VIDEOS = os.path.join(WORK, "app"), os.path.join(WORK, "videos")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = re.compile(r"^\d{8}-\d{6}\.AVI$")


def write_settings(stamp_url):
    # Stamped every minute by the stand-in authority whose root lies beside the program.
    text = ("[基础]\r\n存储位置=%s\r\n保留时长=100000\r\n自动清除其他文件=0\r\n[常规]\r\n自动开始录像=1\r\n"
            "[视频附加内容]\r\n时间2时区=-5\r\n名称=张三\r\n平台=MT5\r\n帐号=88001234\r\n"
            "[证据]\r\n时间戳服务器=%s\r\n时间戳间隔=1\r\n时间戳根证书=ca.der\r\n") % (
                "Z:" + VIDEOS.replace("/", "\\"), stamp_url)
    with open(os.path.join(APP, "Lumeno.INI"), "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def status(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return -1


def positions_and_pictures(path):
    """Positions from the file's header, pictures as the non-empty packets of its index."""
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=nb_frames:packet=size", "-of", "csv=p=0", path], capture_output=True, text=True)
    lines = [l for l in out.stdout.split("\n") if l.strip()]
    sizes = [int(l) for l in lines[:-1] if l.isdigit()]
    positions = int(lines[-1]) if lines and lines[-1].isdigit() else -1
    return positions, sum(1 for s in sizes if s > 0)


def main():
    # Lumeno's time servers are public addresses: only ever inside tools/soak.sh's private namespace.
    if subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "require-netns.sh")]).returncode:
        return 1
    os.makedirs(APP, exist_ok=True)
    os.makedirs(VIDEOS, exist_ok=True)
    for name in ("Lumeno.exe", "xvidcore.dll"):
        shutil.copy(os.path.join(BIN, name), APP)
    authority = os.path.join(WORK, "tsa")
    tsa = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools", "tsa-standin.py"), authority],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        return soak(authority)
    finally:
        tsa.kill()


def soak(authority):
    port = os.path.join(authority, "port")
    for _ in range(240):  # making its keys takes a while
        if os.path.exists(port):
            break
        time.sleep(0.5)
    shutil.copy(os.path.join(authority, "ca.der"), APP)
    write_settings("http://127.0.0.1:%s/" % open(port).read().strip())
    program = subprocess.Popen(["wine", os.path.join(APP, "Lumeno.exe")], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    start = time.time()
    seen, bad = set(), 0
    print("minute  RSS MiB  handles  less catalogued  threads  files  positions/file  pictures/file  dropped",
          flush=True)
    for minute in range(1, MINUTES + 1):
        time.sleep(max(0.0, start + minute * 60 - time.time()))
        if program.poll() is not None:
            print("the program ended by itself (status %s)" % program.returncode)
            return 1
        rss = status(program.pid, "VmRSS") / 1024.0
        handles = len(os.listdir("/proc/%d/fd" % program.pid))
        threads = status(program.pid, "Threads")
        new = sorted(f for f in os.listdir(VIDEOS) if NAME.match(f) and f not in seen)
        figures = [positions_and_pictures(os.path.join(VIDEOS, f)) for f in new]
        seen.update(new)
        bad += sum(1 for p, _ in figures if p != 600)
        positions = sum(p for p, _ in figures)
        pictures = sum(q for _, q in figures)
        # The catalogue holds one read handle for each recording it keeps, by design.
        print("%6d  %7.1f  %7d  %15d  %7d  %5d  %14s  %13s  %6.1f%%" % (
            minute, rss, handles, handles - len(seen), threads, len(seen), ",".join(str(p) for p, _ in figures) or "-",
            ",".join(str(q) for _, q in figures) or "-", 100.0 * (positions - pictures) / positions if positions else 0),
            flush=True)
    # Windows ending the log-on: the program finishes the file it is writing, then stays until killed.
    subprocess.run(["wine", os.path.join(BIN, "lumeno_driver.exe"), "send", "Lumeno", "22", "1", "0"],
                   capture_output=True, timeout=120)
    program.kill()
    program.wait()
    files = sorted(f for f in os.listdir(VIDEOS) if NAME.match(f))
    print("files: %d in all, %d of the finished-per-minute ones without 600 positions; leftover temporary file: %s"
          % (len(files), bad, os.path.exists(os.path.join(VIDEOS, "RECORDING.AVI"))))
    # Every recording sealed, and every record anchored by a stamp made before the program ended.
    verified = subprocess.run(["wine", os.path.join(BIN, "LumenoVerify.exe"), "Z:" + VIDEOS.replace("/", "\\"),
                               "--trust-root", "Z:" + os.path.join(authority, "ca.crt").replace("/", "\\"),
                               "--require-anchor"], capture_output=True, text=True, timeout=600)
    print("\n".join(l for l in verified.stdout.splitlines() if l.startswith(("Anchored", "Result", "Chain"))))
    return 0 if bad == 0 and verified.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
