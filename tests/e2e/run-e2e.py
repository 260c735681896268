#!/usr/bin/python3
"""End-to-end test of the real Lumeno.exe, driven as a user would drive it.

Runs under the test suite's Wine prefix and server, on its virtual display and inside its private
network namespace (the test command's wrappers provide all three); a stand-in time server answers for
the built-in time server addresses there. The program is copied with xvidcore.dll into a scratch
folder so that every scenario starts from a settings file of its own choosing (or none). What a
person sees is checked on screenshots of the display.

Usage: run-e2e.py BUILD_BIN_DIR SOURCE_DIR
"""

import base64
import io
import os
import re
import shutil
import subprocess
import sys
import time

from PIL import Image

BIN, SRC = sys.argv[1], sys.argv[2]
SCRATCH = os.path.join(os.path.dirname(BIN), "e2e-scratch")
EXE, INI = os.path.join(SCRATCH, "Lumeno.exe"), os.path.join(SCRATCH, "Lumeno.INI")
VIDEOS = os.path.join(SCRATCH, "videos")
CURRENT = os.path.join(VIDEOS, "RECORDING.AVI")
DRIVER = os.path.join(BIN, "lumeno_driver.exe")
MAIN, SETTINGS, POPUP_MENU = "Lumeno", "设置", "#32768"
WM_ENDSESSION, WM_TRAY_NOTIFY, WM_LBUTTONUP, WM_RBUTTONUP = 0x16, 0x401, 0x202, 0x205
IDOK, IDCANCEL = 1, 2
IDC_STORAGE_PATH, IDC_RETENTION, IDC_AUTORUN, IDC_AUTORECORD, IDC_TIMEZONE2 = 1000, 1002, 1003, 1004, 1005
IDC_NAME, IDC_PLATFORM, IDC_ACCOUNT, IDC_AUTOCLEAR = 1006, 1007, 1008, 1012
IDC_START, IDC_STORAGE_INFO, IDC_SETTINGS, IDC_STOP = 1009, 1010, 1011, 1013
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
NAME_RE = re.compile(r"^\d{8}-\d{6}\.AVI$")

failures = []
program = None


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def run(*args, **options):
    return subprocess.run([str(a) for a in args], capture_output=True, stdin=subprocess.DEVNULL, **options)


def drv(*args):
    # A Wine process that starts while another one is still starting up can stall; one retry.
    for attempt in (1, 2):
        try:
            result = run("wine", DRIVER, *args, timeout=60)
            return result.returncode, result.stdout.decode("utf-8", "replace").strip()
        except subprocess.TimeoutExpired:
            print("     (driver %s timed out, attempt %d)" % (args[0], attempt), flush=True)
    return -1, ""


def out(*args):
    return drv(*args)[1]


def poll(condition, seconds=30.0):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.25)
    return condition()


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write_ini(folder, retention, auto_record=0, name="", zone=0, stamp=""):
    # UTF-16LE with a byte-order mark, as the program itself keeps it. Time stamps are off unless a
    # stand-in authority is given (the built-in public ones are never asked from a test).
    text = ("[基础]\r\n存储位置=%s\r\n保留时长=%d\r\n自动清除其他文件=0\r\n[常规]\r\n自动开始录像=%d\r\n"
            "[视频附加内容]\r\n时间2时区=%d\r\n名称=%s\r\n平台=\r\n帐号=\r\n"
            "[证据]\r\n时间戳服务器=%s\r\n时间戳根证书=ca.der\r\n") % (folder, retention, auto_record, zone, name, stamp)
    with open(INI, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def read_ini():
    with open(INI, "rb") as f:
        data = f.read()
    return data[2:].decode("utf-16-le") if data.startswith(b"\xff\xfe") else data.decode("latin-1")


def start_program():
    global program
    program = subprocess.Popen(["wine", EXE], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)


def program_ended(seconds=30):
    try:
        program.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def kill_program():
    if program and program.poll() is None:
        program.kill()
        program.wait()
    drv("gone", MAIN, 10000)  # the system has cleaned up after it: a new start is a first start


def finished_files():
    return sorted(f for f in os.listdir(VIDEOS) if NAME_RE.match(f))


def frames_written():
    """Frames in the file being recorded: each is one '00dc' chunk of the AVI's data list ('00db' for
    the key frames Wine's AVI library writes)."""
    try:
        with open(CURRENT, "rb") as f:
            data = f.read()
        return data.count(b"00dc") + data.count(b"00db")
    except OSError:
        return 0


def record_frames(count):
    """Waits until `count` more frames are in the file being recorded."""
    start = frames_written()
    return check(poll(lambda: frames_written() >= start + count, 60), "%d more frames recorded" % count)


def check_decodes(path, what):
    result = run("ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                 "stream=codec_name,nb_read_frames", "-of", "csv=p=0", path)
    info = result.stdout.decode().strip()
    check(result.returncode == 0 and info.startswith("mpeg4,") and not result.stderr, "%s decodes (%s)" % (what, info))


def format_size(n):
    for unit, fmt in ((1 << 30, "%.1fGB"), (1 << 20, "%.0fMB")):
        if n >= unit:
            return fmt % (n / float(unit))
    return "%.0fKB" % (n / 1024.0)


def name_cell(path, which):
    """Grey pixels of the overlay's name cell in the first or last frame of a recording."""
    crop = "crop=186:20:iw-186:58"  # the name cell: right 186 pixels, 28 below the 30-pixel banner
    select = [] if which == "first" else ["-sseof", "-0.5"]
    return run("ffmpeg", "-v", "error", *select, "-i", path, "-vf", crop, "-frames:v", "1", "-f", "rawvideo",
               "-pix_fmt", "gray", "-").stdout


def grab(window="root"):
    shot = run("import", "-window", window, "png:-").stdout
    return Image.open(io.BytesIO(shot)).convert("RGB") if shot else None


def pixels(image, box):
    return list(image.crop(box).getdata())


def green(p):  # the glyph and caption of the enabled round pictures, the recording tray sign
    return p[1] - max(p[0], p[2]) > 40


def grey(p, low, high):  # the disabled pictures' glyph (104, 104, 104), the idle tray sign
    return max(p) - min(p) < 20 and low < p[1] < high


def brightness(ps):
    return sum(map(sum, ps)) / (3.0 * len(ps))


def looks(title, text_left, buttons):
    """What a person sees of a skinned window: whether its caption band stands apart from the body
    and carries the title's ink, whether a shadow darkens the desktop just beyond its right and bottom
    edges, and which picture ('enabled', 'disabled' or 'blank') each given button shows."""
    rc, text = drv("rect", title, *buttons)
    rects = [tuple(map(int, line.split())) for line in text.splitlines()]
    shot = grab()
    if rc != 0 or len(rects) != 1 + len(buttons) or shot is None:
        return {"figures": "no rectangles or screenshot (%d)" % rc}
    l, t, r, b = rects[0]
    band = pixels(shot, (l + text_left, t + 2, r - 45, t + 28))  # the title's place, left of the caption buttons
    band_colour = max(set(band), key=band.count)
    body = pixels(shot, (l + 4, b - 4, r - 4, b - 2))
    body_colour = max(set(body), key=body.count)
    ink = sum(1 for p in band if sum(abs(a - c) for a, c in zip(p, band_colour)) > 150)
    apart = sum(abs(a - c) for a, c in zip(band_colour, body_colour))
    near = pixels(shot, (r, t + 20, r + 3, b - 20)) + pixels(shot, (l + 20, b, r - 20, b + 3))
    far = pixels(shot, (r + 40, t + 20, r + 43, b - 20)) + pixels(shot, (l + 20, b + 40, r - 20, b + 43))
    seen = {"caption band": apart > 60 and ink > 40, "shadow": brightness(far) - brightness(near) > 40,
            "figures": "band %s body %s ink %d, shadow %.0f/%.0f" % (band_colour, body_colour, ink,
                                                                     brightness(near), brightness(far))}
    for button, box in zip(buttons, rects[1:]):
        ps = pixels(shot, box)
        lit, dim = sum(map(green, ps)), sum(1 for p in ps if grey(p, 80, 130))
        seen[button] = "enabled" if lit > 200 else "disabled" if dim > 200 else "blank"
        seen["figures"] += ", %d: %d/%d" % (button, lit, dim)
    return seen


def check_looks(what, title, text_left, buttons={}):
    """One check of a window's looks; text_left is where its title starts (past its icon if shown)."""
    want = {**buttons, "caption band": True, "shadow": True}
    seen = {}

    def as_wanted():
        seen.clear()
        seen.update(looks(title, text_left, list(buttons)))
        return all(seen.get(k) == v for k, v in want.items())
    check(poll(as_wanted), "%s: caption band, shadow, button pictures %s (%s)" % (what, want, seen.get("figures")))


def tray_picture():
    """The first icon of Wine's own notification-area window (shown since no desktop panel runs):
    'recording' for the green play sign, 'idle' for the grey pause sign, 'warning' for the amber
    disc, None for none of them."""
    ids = run("xdotool", "search", "--onlyvisible", "--name", "^Wine System Tray$").stdout.split()
    shot = grab(ids[0].decode()) if ids else None  # the window may go between the two commands
    if shot is None:
        return None
    icon = pixels(shot, (0, 0, 20, 20))
    lit, dim = sum(map(green, icon)), sum(1 for p in icon if grey(p, 60, 180))
    amber = sum(1 for p in icon if p[0] > 200 and 110 < p[1] < 200 and p[2] < 80)  # the warning disc
    return ("warning" if amber > 100 else "recording" if lit > 20 else "idle" if lit == 0 and dim > 20 else None)


def check_tray(picture, what):
    check(poll(lambda: tray_picture() == picture), "%s (%s)" % (what, tray_picture()))


def wait_settings_dialog():
    return check(drv("wait", SETTINGS, 30000)[0] == 0, "the settings dialog appears")


def expect_message_box(text):
    drv("click", SETTINGS, IDOK)
    rc, shown = drv("answer", SETTINGS, 10000)
    check(rc == 0 and shown == text, "OK asks: %s, and the box closes (%s)" % (text, shown))


def first_run():
    print("== first run without Lumeno.INI", flush=True)
    start_program()
    if not wait_settings_dialog():
        return
    check_looks("the settings dialog", SETTINGS, 4)
    check(out("text", SETTINGS, IDC_STORAGE_PATH) == "" and out("text", SETTINGS, IDC_RETENTION) == "1",
          "folder field empty, retention 1")
    zone = out("combo", SETTINGS, IDC_TIMEZONE2)
    check(zone.startswith("(GMT+00:00)") and zone.endswith("\t26"), "(GMT+00:00) of 26 time zones (%s)" % zone)
    check([out("checked", SETTINGS, i) for i in (IDC_AUTORECORD, IDC_AUTOCLEAR, IDC_AUTORUN)] == ["0"] * 3,
          "automatic recording, delete other files and start with Windows (no Run value) clear")
    check(all(out("text", SETTINGS, i) == "" for i in (IDC_NAME, IDC_PLATFORM, IDC_ACCOUNT)), "overlay texts empty")
    drv("click", SETTINGS, IDCANCEL)
    check(program_ended(), "Cancel ends the process")
    check(not os.path.exists(INI), "no Lumeno.INI after Cancel")

    print("== first run: the required fields, then OK", flush=True)
    start_program()
    if not wait_settings_dialog():
        return
    drv("settext", SETTINGS, IDC_RETENTION, "0")
    expect_message_box("请设置视频存储位置！")
    # The folder field is read-only for the user; the folder chooser is a shell dialog, so the
    # chosen folder is put into the field directly.
    drv("settext", SETTINGS, IDC_STORAGE_PATH, windows_path(VIDEOS))
    expect_message_box("请设置视频保留时长！")
    for control, text in ((IDC_RETENTION, "30"), (IDC_NAME, "张三"), (IDC_PLATFORM, "MT5"), (IDC_ACCOUNT, "8001")):
        drv("settext", SETTINGS, control, text)
    drv("click", SETTINGS, IDC_AUTORUN)
    drv("click", SETTINGS, IDOK)
    check(drv("wait", MAIN, 30000)[0] == 0, "OK opens the main window")
    keys = ["存储位置=" + windows_path(VIDEOS), "保留时长=30", "自动清除其他文件=0", "自动开始录像=0", "时间2时区=0",
            "名称=张三", "平台=MT5", "帐号=8001"]
    check(all(k in read_ini() for k in keys), "OK wrote all eight keys")
    check(b"Lumeno.exe" in run("wine", "reg", "query", RUN_KEY, "/v", "Lumeno").stdout, "OK registered the Run value")
    main_window()


def buttons_show(recording):
    want = "0 1" if recording else "1 0"
    return poll(lambda: out("enabled", MAIN, IDC_START, IDC_STOP) == want)


def main_window():
    print("== main window: Start, Stop, the panel", flush=True)
    check(poll(lambda: out("text", MAIN, IDC_STORAGE_INFO).startswith("文件个数 0个")), "panel shows 0 recordings")
    check(buttons_show(False), "idle: Start only")
    pictures = {IDC_START: "enabled", IDC_STOP: "disabled", IDC_SETTINGS: "enabled"}
    check_looks("idle main window", MAIN, 36, pictures)
    check_tray("idle", "the tray shows the idle picture")
    drv("click", MAIN, IDC_START)
    check(buttons_show(True), "Start: Start disabled, Stop enabled")
    check_looks("recording main window", MAIN, 36, {**pictures, IDC_START: "disabled", IDC_STOP: "enabled"})
    check_tray("recording", "the tray switched to the recording picture")
    check(poll(lambda: os.path.exists(CURRENT)), "RECORDING.AVI being written")
    record_frames(10)
    drv("click", MAIN, IDC_STOP)
    check(buttons_show(False), "Stop: Start enabled, Stop disabled")
    check_tray("idle", "the tray switched back to the idle picture")
    check(poll(lambda: len(finished_files()) == 1), "one finished recording named after its start time")
    for name in finished_files()[:1]:
        path = os.path.join(VIDEOS, name)
        check_decodes(path, "the finished recording")
        st = os.stat(path)
        text = out("text", MAIN, IDC_STORAGE_INFO)
        used = (text.split() + [""] * 4)[3]
        check(text.startswith("文件个数 1个") and used in (format_size(st.st_blocks * 512), format_size(st.st_size)),
              "panel shows 1个 and the used size (%s; file %d bytes)" % (text, st.st_size))
        check(re.match(r"^文件个数 1个 占用空间 \d+(KB|MB) 可用空间 \d+(\.\d)?(KB|MB|GB)$", text) is not None,
              "panel figures use the size rule (%s)" % text)

    print("== hiding while recording, showing from the tray", flush=True)
    drv("click", MAIN, IDC_START)
    check(buttons_show(True), "recording again")
    for name, hide in (("Esc", lambda: run("xdotool", "key", "Escape")),
                       ("Alt+F4", lambda: run("xdotool", "key", "alt+F4")),
                       ("close button", lambda: click_caption(-11))):
        drv("post", MAIN, WM_TRAY_NOTIFY, 0, WM_LBUTTONUP)
        activate_main()
        hide()
        check(poll(lambda: out("state", MAIN).startswith("0")), name + " hides the window")
        check(buttons_show(True) and program.poll() is None, name + ": still recording, still running")
        drv("post", MAIN, WM_TRAY_NOTIFY, 0, WM_LBUTTONUP)
        check(poll(lambda: out("state", MAIN).startswith("1")), "a tray left-click shows it again")

    print("== a new name while recording", flush=True)
    before = finished_files()
    record_frames(5)
    drv("click", MAIN, IDC_SETTINGS)
    if wait_settings_dialog():
        drv("settext", SETTINGS, IDC_NAME, "李四新名")
        drv("click", SETTINGS, IDOK)
        check(drv("gone", SETTINGS, 10000)[0] == 0, "settings dialog closed with OK")
        check("名称=李四新名" in read_ini(), "new name saved")
    record_frames(20)

    print("== exit from the tray menu while recording", flush=True)
    activate_main()
    drv("post", MAIN, WM_TRAY_NOTIFY, 0, WM_RBUTTONUP)
    check(drv("wait", POPUP_MENU, 20000)[0] == 0, "a tray right-click opens the menu")
    run("xdotool", "key", "Down", "Return")
    check(program_ended(60), "the exit item ends the process")
    check_tray(None, "the tray icon is gone")
    check(not os.path.exists(CURRENT), "no unfinished RECORDING.AVI left")
    new = [f for f in finished_files() if f not in before]
    check(len(new) >= 1, "the recording in progress was completed and named (%s)" % new)
    if new:  # more than one when the recording went past a file's length on a slow machine
        first, last = (os.path.join(VIDEOS, f) for f in (new[0], new[-1]))
        check_decodes(last, "the completed file")
        early, late = name_cell(first, "first"), name_cell(last, "last")
        change = sum(abs(x - y) for x, y in zip(early, late)) / len(early) if early and len(early) == len(late) else 0
        check(change > 8.0, "the name cell changed within the recording (%.1f)" % change)


def click_caption(x_from_right=None):
    """Clicks the main window's caption: its middle, or x_from_right pixels from its right edge."""
    left, top, right, _ = map(int, out("rect", MAIN).split())
    x = (left + right) // 2 if x_from_right is None else right + x_from_right
    run("xdotool", "mousemove", x, top + 11, "click", 1)


def activate_main():
    poll(lambda: out("state", MAIN).startswith("1"))
    click_caption()
    check(poll(lambda: out("state", MAIN) == "1 1"), "the main window is shown and in front")


def stored_settings():
    print("== stored settings that are not usable", flush=True)
    write_ini(windows_path(os.path.join(SCRATCH, "gone")), 5, name="王五")
    start_program()
    if wait_settings_dialog():
        check(out("text", SETTINGS, IDC_STORAGE_PATH) == "", "a vanished folder opens the dialog with it blank")
        check(out("text", SETTINGS, IDC_NAME) == "王五", "the other fields as stored")
        drv("click", SETTINGS, IDCANCEL)
    check(program_ended(), "Cancel ends the process")
    write_ini(windows_path(VIDEOS), 0)
    start_program()
    if wait_settings_dialog():
        check(out("text", SETTINGS, IDC_STORAGE_PATH) == windows_path(VIDEOS), "retention 0: folder shown")
        drv("click", SETTINGS, IDCANCEL)
    check(program_ended(), "Cancel ends the process")


def automatic_recording():
    print("== automatic recording, then the end of the session", flush=True)
    write_ini(windows_path(VIDEOS), 30, auto_record=1, zone=-8)
    before = finished_files()
    start_program()
    check(poll(lambda: out("state", MAIN).startswith("0") and out("enabled", MAIN, IDC_START, IDC_STOP) == "0 1"),
          "recording on, Stop enabled, window hidden at once")
    check(poll(lambda: os.path.exists(CURRENT)), "recording without a click")
    record_frames(5)
    drv("send", MAIN, WM_ENDSESSION, 0, 0)
    record_frames(5)
    check(finished_files() == before, "WM_ENDSESSION FALSE changes nothing: the same file goes on")
    drv("send", MAIN, WM_ENDSESSION, 1, 0)
    new = [f for f in finished_files() if f not in before]
    check(len(new) == 1 and not os.path.exists(CURRENT),
          "WM_ENDSESSION TRUE completed the file before returning (%s)" % new)
    for name in new[:1]:
        check_decodes(os.path.join(VIDEOS, name), "the completed file")
    check(program.poll() is None, "the process goes on until the system ends it")


def verify(folder, *args):
    """LumenoVerify.exe of the same build on a folder: its exit status and output."""
    result = run("wine", os.path.join(BIN, "LumenoVerify.exe"), windows_path(folder), *args, timeout=300)
    return result.returncode, result.stdout.decode("utf-8", "replace").replace("\r", "")


def start_tsa():
    """The stand-in time-stamp authority on 127.0.0.1 with its own test root; its URL."""
    folder = os.path.join(SCRATCH, "tsa")
    tsa = subprocess.Popen([sys.executable, os.path.join(SRC, "tests", "support", "tsa-standin.py"), folder],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    poll(lambda: os.path.exists(os.path.join(folder, "port")), 120)
    shutil.copy(os.path.join(folder, "ca.der"), SCRATCH)
    return tsa, "http://127.0.0.1:%s/" % open(os.path.join(folder, "port")).read().strip()


def sealed_session():
    """The program seals and time-stamps what it records; every kind of tampering is the verifier's
    own tests' matter."""
    print("== three recordings sealed and time-stamped by the program, checked by the verifier", flush=True)
    shutil.rmtree(VIDEOS, ignore_errors=True)
    os.makedirs(VIDEOS)
    tsa, url = start_tsa()
    try:
        sealed_and_stamped(url)
    finally:
        tsa.kill()


def sealed_and_stamped(url):
    write_ini(windows_path(VIDEOS), 30, auto_record=1, name="张三", stamp="http://127.0.0.1:9/;" + url)
    for n in range(3):
        start_program()
        check(poll(lambda: os.path.exists(CURRENT)), "recording %d started" % (n + 1))
        record_frames(30)
        drv("send", MAIN, WM_ENDSESSION, 1, 0)  # Windows ends the session: the file is finished
        check(len(finished_files()) == n + 1, "recording %d finished" % (n + 1))
        kill_program()  # the sealing thread has finished when the process could end
        time.sleep(2)  # a gap between recordings, for the timeline
    root = os.path.join(SCRATCH, "tsa", "ca.crt")
    rc, report = verify(VIDEOS, "--trust-root", windows_path(root), "--require-anchor")
    print(report, flush=True)
    check(rc == 0 and report.count("  intact ") == 3 and report.count("  gap ") == 2,
          "the verifier finds three intact recordings and two gaps")
    check("every record is anchored" in report and "3 good stamps" in report,
          "each recording's end was time-stamped before the program ended: everything anchored")
    rc, report = verify(VIDEOS)
    check(rc == 1 and "does not chain to a trusted root" in report, "without the stand-in's root the tokens fail")
    records = [dict(f.split("=", 1) for f in line.rstrip("\n").split("\t"))
               for line in open(os.path.join(VIDEOS, "LumenoData", "seals.log"), encoding="utf-8")]
    stamps = [r for r in records if r["kind"] == "stamp"]
    for r in stamps:
        token = os.path.join(SCRATCH, "token.der")
        with open(token, "wb") as f:
            f.write(base64.b64decode(r["token"]))
        result = run("openssl", "ts", "-verify", "-digest", r["covers_hash"], "-in", token, "-token_in",
                     "-CAfile", root)
        check(result.returncode == 0 and b"Verification: OK" in result.stdout,
              "openssl ts -verify alone accepts the token of seq %s" % r["seq"])
    check("network" in open(os.path.join(VIDEOS, "LumenoData", "seals.log"), encoding="utf-8").read(),
          "the seals tell that the start times came from network time")


def main(scenarios):
    shutil.rmtree(SCRATCH, ignore_errors=True)
    os.makedirs(VIDEOS)
    shutil.copy(os.path.join(BIN, "Lumeno.exe"), EXE)
    shutil.copy(os.path.join(BIN, "xvidcore.dll"), SCRATCH)
    holder = subprocess.Popen(["wine", DRIVER, "hold"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    holder.stdout.readline()
    # Painted once the desktop is up (its start paints the display black): a light desktop for the
    # shadow to darken. The pointer goes off the buttons so that none shows hovered.
    run("display", "-window", "root", "xc:#d0d0d0")
    run("xdotool", "mousemove", 1, 1)
    run("wine", "reg", "delete", RUN_KEY, "/v", "Lumeno", "/f")
    standin = subprocess.Popen([sys.executable, os.path.join(SRC, "tools", "sntp-standin.py"), "--builtin"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for scenario in scenarios:
            try:
                scenario()
            except Exception as error:  # a broken step fails its scenario, not the whole run
                check(False, "%s raised %r" % (scenario.__name__, error))
            finally:
                kill_program()
    finally:
        standin.kill()
        run("wine", "reg", "delete", RUN_KEY, "/v", "Lumeno", "/f")
        holder.kill()
        holder.wait()
        run("display", "-window", "root", "xc:black")  # as the display started, for the tests after this one
    print("%d failure(s)" % len(failures), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main((first_run, stored_settings, automatic_recording, sealed_session)))
