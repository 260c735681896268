#!/usr/bin/python3
"""Fault campaign against the real Lumeno.exe: killed while recording, its storage folder removed,
its disk full, started twice, started on garbage settings, and started without a usable codec. Each
case ends with every finished recording decoding cleanly. Same environment and helpers as run-e2e.py.

Usage: run-faults.py BUILD_BIN_DIR SOURCE_DIR
"""

import importlib
import os
import random
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
e2e = importlib.import_module("run-e2e")
check, drv, poll, run = e2e.check, e2e.drv, e2e.poll, e2e.run
VIDEOS, CURRENT, MAIN = e2e.VIDEOS, e2e.CURRENT, e2e.MAIN
KEPT = os.path.join(VIDEOS, "LumenoData")


def positions(path):
    result = run("ffprobe", "-v", "error", "-show_entries", "stream=nb_frames", "-of", "csv=p=0", path)
    return int(result.stdout.strip() or -1)


def all_decode(what):
    """Every finished recording plays, and is one the catalogue takes at the next start: it has its
    index and its header counts its positions."""
    for name in e2e.finished_files():
        path = os.path.join(VIDEOS, name)
        e2e.check_decodes(path, "%s: %s" % (what, name))
        with open(path, "rb") as f:
            check(b"idx1" in f.read() and positions(path) > 0, "%s: %s has its index" % (what, name))


def record_automatically():
    e2e.write_ini(e2e.windows_path(VIDEOS), 600, auto_record=1)
    e2e.start_program()
    return check(poll(lambda: os.path.exists(CURRENT)), "recording starts by itself")


def lumeno_processes():
    """This run's Lumeno processes, as Windows sees them: asked of the Wine session itself, because
    what Linux shows as a Wine process's command line differs between Wine builds (the Unix path
    with 64-bit Wine alone, the Windows path Z:\\... once 32-bit Wine is installed)."""
    listing = drv("processes", "Lumeno.exe")[1]
    ours = e2e.windows_path(e2e.EXE).lower()
    return [path for path in listing.splitlines() if path.strip().lower() == ours]


def killed():
    print("== killed hard after 25 s of recording", flush=True)
    shutil.rmtree(VIDEOS, ignore_errors=True)
    os.makedirs(VIDEOS)
    e2e.write_ini(e2e.windows_path(VIDEOS), 600, auto_record=1)
    e2e.start_program()
    for _ in range(3000):  # a fine poll: the file's appearance is its true start
        if os.path.exists(CURRENT):
            break
        time.sleep(0.02)
    started = time.time()
    check(poll(lambda: e2e.frames_written() >= 250, 60), "about 25 s recorded")
    e2e.program.kill()  # SIGKILL: nothing of the program runs any more
    e2e.program.wait()
    e2e.drv("gone", MAIN, 10000)
    left = e2e.frames_written()
    check(left >= 250, "the killed recording left %d frames in RECORDING.AVI" % left)
    e2e.start_program()
    check(poll(lambda: len(e2e.finished_files()) == 1, 60), "the next start recovers it (%s)" % e2e.finished_files())
    for name in e2e.finished_files()[:1]:
        named = time.mktime(time.strptime(name, "%Y%m%d-%H%M%S.AVI"))
        # A name counts whole seconds: the true start's own name lies up to a second before it.
        check(-2.0 < named - started <= 1.0, "named within a second of the true start's second (%s, %.2f s)"
              % (name, named - started))
        check(left - 3 <= positions(os.path.join(VIDEOS, name)) <= left + 1, "holds the %d frames left" % left)
        e2e.check_decodes(os.path.join(VIDEOS, name), "the recovered recording")
    check(poll(lambda: e2e.frames_written() >= 20), "recording resumes in a new file")


def warned_then_normal(break_it, mend_it, what):
    """Breaks the storage while recording: the warning picture and a balloon within 15 s, the
    program alive; mended, recording resumes by itself and the normal picture returns."""
    if not record_automatically():
        return
    e2e.record_frames(20)
    break_it()
    check(poll(lambda: e2e.tray_picture() == "warning", 15), what + ": the tray shows the warning within 15 s")
    check(drv("wait", "#tooltips_class32", 10000)[0] == 0, what + ": a balloon tells why")
    check(e2e.program.poll() is None, what + ": still running (%s)" % lumeno_processes())
    mend_it()
    check(poll(lambda: e2e.tray_picture() == "recording", 30), what + ": back to the recording picture by itself")
    check(poll(lambda: e2e.frames_written() >= 20), what + ": recording resumed")
    drv("send", MAIN, e2e.WM_ENDSESSION, 1, 0)
    all_decode(what)


def folder_removed():
    print("== the storage folder removed while recording, then created again", flush=True)
    shutil.rmtree(VIDEOS, ignore_errors=True)
    os.makedirs(VIDEOS)
    warned_then_normal(lambda: shutil.rmtree(VIDEOS), lambda: os.makedirs(VIDEOS), "folder removed")


def disk_full():
    print("== a small disk that fills up, then gets space back", flush=True)
    shutil.rmtree(VIDEOS, ignore_errors=True)
    os.makedirs(VIDEOS)
    mount = run("mount", "-t", "tmpfs", "-o", "size=40m", "tmpfs", VIDEOS)
    if not check(mount.returncode == 0, "a 40 MB file system for the storage folder (%s)" % mount.stderr):
        return
    filler = os.path.join(VIDEOS, "filler")
    try:
        warned_then_normal(lambda: run("dd", "if=/dev/zero", "of=" + filler, "bs=64k"), lambda: os.remove(filler),
                           "disk full")
        # The file the full disk cut short was kept aside, then recovered once a file could be
        # finished again: two recordings, nothing left in the program's sub-folder.
        kept = [f for f in os.listdir(KEPT) if f != "seals.log"]
        check(len(e2e.finished_files()) >= 2 and not kept,
              "the cut-short recording was recovered (%s; kept: %s)" % (e2e.finished_files(), kept))
        e2e.kill_program()
        result = run("wine", os.path.join(e2e.BIN, "LumenoVerify.exe"), e2e.windows_path(VIDEOS), timeout=300)
        report = result.stdout.decode("utf-8", "replace")
        check(result.returncode == 0, "every recording made around the full disk is sealed:\n" + report)
    finally:
        e2e.kill_program()
        run("umount", "-l", VIDEOS)


def started_twice():
    print("== a second start while recording, and two starts at once", flush=True)
    shutil.rmtree(VIDEOS, ignore_errors=True)
    os.makedirs(VIDEOS)
    if not record_automatically():
        return
    check(poll(lambda: e2e.out("state", MAIN).startswith("0")), "the window hides while recording")
    second = subprocess.Popen(["wine", e2e.EXE], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    check(second.wait(60) == 0, "the second start ends by itself")
    check(poll(lambda: e2e.out("state", MAIN).startswith("1")), "and brings the running window to the front")
    check(len(lumeno_processes()) == 1 and e2e.program.poll() is None, "one Lumeno runs (%s)" % lumeno_processes())
    e2e.record_frames(10)
    # As the installer ends a running Lumeno: to every window, here with the settings dialog open.
    drv("click", MAIN, e2e.IDC_SETTINGS)
    check(drv("wait", e2e.SETTINGS, 30000)[0] == 0, "the settings dialog is open over the main window")
    drv("send", "*", "Lumeno.Exit", 0, 0)
    check(e2e.program_ended() and not os.path.exists(CURRENT) and len(e2e.finished_files()) == 1,
          "asked to exit by another program, it ends with its file finished (%s)" % e2e.finished_files())
    all_decode("exit asked for")
    check(not lumeno_processes(), "no Lumeno runs any more (%s)" % lumeno_processes())

    both = [subprocess.Popen(["wine", e2e.EXE], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL) for _ in range(2)]
    check(poll(lambda: sum(p.poll() is None for p in both) == 1, 60), "of two starts at once, one stays")
    e2e.program = next((p for p in both if p.poll() is None), None)
    e2e.record_frames(20)
    drv("send", MAIN, e2e.WM_ENDSESSION, 1, 0)
    check(len(e2e.finished_files()) >= 1, "it recorded")
    all_decode("two starts")
    e2e.kill_program()

    # A Lumeno still in its first settings dialog has no main window: the request reaches it too.
    os.remove(e2e.INI)
    e2e.start_program()
    if e2e.wait_settings_dialog():
        drv("send", "*", "Lumeno.Exit", 0, 0)
        check(e2e.program_ended() and not lumeno_processes(), "asked to exit in its first settings dialog, it ends")


def garbage_settings():
    print("== garbage settings files", flush=True)
    rnd = random.Random(13)
    noise = lambda n: bytes(rnd.getrandbits(8) for _ in range(n))
    cases = {"random bytes": noise(4096), "4 MB of noise": noise(1 << 22),
             "a megabyte line": b"\xff\xfe" + ("[基础]\r\n存储位置=" + "x" * (1 << 20) + "\r\n").encode("utf-16-le"),
             "big-endian mark": b"\xfe\xff" + noise(2000), "UTF-8 mark": b"\xef\xbb\xbf" + noise(2000),
             "a lone mark": b"\xff\xfe"}
    for what, data in cases.items():
        with open(e2e.INI, "wb") as f:
            f.write(data)
        e2e.start_program()
        check(e2e.wait_settings_dialog() and e2e.out("text", e2e.SETTINGS, e2e.IDC_STORAGE_PATH) == "",
              what + ": the settings dialog asks for a folder")
        drv("click", e2e.SETTINGS, e2e.IDCANCEL)
        check(e2e.program_ended(), what + ": Cancel ends the program")
        with open(e2e.INI, "rb") as f:
            check(f.read() == data, what + ": the file is left as it was")


def unusable_codec():
    print("== xvidcore.dll missing or unusable", flush=True)
    dll = os.path.join(e2e.SCRATCH, "xvidcore.dll")
    os.replace(dll, dll + ".kept")
    shutil.rmtree(VIDEOS, ignore_errors=True)
    os.makedirs(VIDEOS)
    e2e.write_ini(e2e.windows_path(VIDEOS), 600, auto_record=1)
    standin = lambda kind: open(os.path.join(e2e.BIN, "codec-" + kind, "xvidcore.dll"), "rb").read()
    cases = [("missing", None, "找不到视频编码库 xvidcore.dll"),
             ("not a DLL", b"MZ" + bytes(range(256)) * 64, "无法加载视频编码库 xvidcore.dll"),
             ("without xvid_encore", standin("without-encore"), "缺少函数 xvid_encore"),
             ("too old", standin("too-old"), "版本 1.2.1 太旧")]
    listing = lambda: sorted((os.path.relpath(os.path.join(d, f), e2e.SCRATCH), os.stat(os.path.join(d, f)).st_mtime)
                             for d, _, files in os.walk(e2e.SCRATCH) for f in files)
    try:
        for what, data, words in cases:
            if os.path.exists(dll):
                os.remove(dll)
            if data is not None:
                with open(dll, "wb") as f:
                    f.write(data)
            before = listing()
            e2e.start_program()
            shown = drv("wait", "Lumeno 无法启动", 30000)[0] == 0
            alone = all(drv("wait", window, 1)[0] != 0 for window in (MAIN, e2e.SETTINGS)) and \
                e2e.tray_picture() is None
            rc, text = drv("answer", "-", 10000)
            check(shown and rc == 0 and words in text and e2e.windows_path(e2e.SCRATCH) in text,
                  "%s: the message box says what and where (%r)" % (what, text))
            check(alone, what + ": no main window, settings dialog or notification-area icon")
            check(e2e.program_ended() and e2e.program.returncode == 1, what + ": the process ends")
            check(listing() == before, what + ": no file written")
    finally:
        if os.path.exists(dll):
            os.remove(dll)
        os.replace(dll + ".kept", dll)


if __name__ == "__main__":
    cases = (killed, folder_removed, disk_full, started_twice, garbage_settings, unusable_codec)
    chosen = os.environ.get("LUMENO_FAULTS", "").split(",")  # e.g. LUMENO_FAULTS=killed,disk_full
    sys.exit(e2e.main([c for c in cases if c.__name__ in chosen or chosen == [""]]))
