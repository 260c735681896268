#!/usr/bin/python3
"""End-to-end test of the real Lumeno.exe, driven as a user would drive it.

Runs under the test suite's Wine prefix and server, on its virtual display and inside its private
network namespace (tools/test.sh provides all three); a stand-in time server answers for the
built-in time server addresses there. The program is copied with xvidcore.dll into a scratch folder
so that every scenario starts from a settings file of its own choosing (or none).

Usage: run-e2e.py BUILD_BIN_DIR SOURCE_DIR
"""

import os
import re
import shutil
import subprocess
import sys
import time

BIN, SRC = sys.argv[1], sys.argv[2]
SCRATCH = os.path.join(os.path.dirname(BIN), "e2e-scratch")
EXE = os.path.join(SCRATCH, "Lumeno.exe")
INI = os.path.join(SCRATCH, "Lumeno.INI")
VIDEOS = os.path.join(SCRATCH, "videos")
DRIVER = os.path.join(BIN, "lumeno_driver.exe")
MAIN, SETTINGS = "Lumeno", "设置"
WM_CLOSE, WM_SYSCOMMAND, WM_ENDSESSION, WM_TRAY_NOTIFY = 0x10, 0x112, 0x16, 0x401
SC_CLOSE, WM_LBUTTONUP, WM_RBUTTONUP = 0xF060, 0x202, 0x205
IDOK, IDCANCEL = 1, 2
IDC_STORAGE_PATH, IDC_RETENTION, IDC_AUTORUN, IDC_AUTORECORD, IDC_TIMEZONE2 = 1000, 1002, 1003, 1004, 1005
IDC_NAME, IDC_PLATFORM, IDC_ACCOUNT, IDC_AUTOCLEAR = 1006, 1007, 1008, 1012
IDC_START, IDC_STORAGE_INFO, IDC_SETTINGS, IDC_STOP = 1009, 1010, 1011, 1013
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
NAME_RE = re.compile(r"^\d{8}-\d{6}\.AVI$")

failures = []
program = None


def log(text):
    print(text, flush=True)


def check(condition, what):
    log(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)
    return condition


def drv(*args, timeout=60):
    # A Wine process that starts while another one is still starting up can stall; one retry.
    for attempt in (1, 2):
        try:
            result = subprocess.run(["wine", DRIVER] + [str(a) for a in args], capture_output=True, timeout=timeout,
                                    stdin=subprocess.DEVNULL)
            return result.returncode, result.stdout.decode("utf-8", "replace").strip()
        except subprocess.TimeoutExpired:
            log("     (driver %s timed out, attempt %d)" % (args[0], attempt))
    return -1, ""


def out(*args):
    return drv(*args)[1]


def poll(condition, seconds=20.0, step=0.25):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return True
        time.sleep(step)
    return condition()


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write_ini(folder, retention, auto_record=0, name="", zone=0):
    # UTF-16LE with a byte-order mark, as the program itself keeps it.
    text = ("[基础]\r\n存储位置=%s\r\n保留时长=%d\r\n自动清除其他文件=0\r\n[常规]\r\n自动开始录像=%d\r\n"
            "[视频附加内容]\r\n时间2时区=%d\r\n名称=%s\r\n平台=\r\n帐号=\r\n") % (folder, retention, auto_record, zone, name)
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
    time.sleep(1)


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
        subprocess.run(["wine", DRIVER, "gone", MAIN, "100"], capture_output=True)


def finished_files():
    return sorted(f for f in os.listdir(VIDEOS) if NAME_RE.match(f))


def ffprobe_frames(path):
    result = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                             "stream=codec_name,nb_read_frames", "-of", "csv=p=0", path], capture_output=True,
                            text=True)
    return result.returncode, result.stdout.strip(), result.stderr.strip()


def format_size(n):
    if n >= 1 << 30:
        return "%.1fGB" % (n / float(1 << 30))
    if n >= 1 << 20:
        return "%.0fMB" % (n / float(1 << 20))
    return "%.0fKB" % (n / 1024.0)


def name_cell(path, which):
    """Grey pixels of the overlay's name cell in the first or last frame of a recording."""
    crop = "crop=186:20:iw-186:58"  # the name cell: right 186 pixels, 28 below the 30-pixel banner
    select = [] if which == "first" else ["-sseof", "-0.5"]
    result = subprocess.run(["ffmpeg", "-v", "error"] + select + ["-i", path, "-vf", crop, "-frames:v", "1", "-f",
                            "rawvideo", "-pix_fmt", "gray", "-"], capture_output=True)
    return result.stdout


def difference(a, b):
    if not a or len(a) != len(b):
        return 255.0
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


def tray_icon_pixels():
    """Counts of green and grey pixels of the first icon in Wine's notification-area window, or None
    when no such window is shown. The recording picture is a green play sign, the idle one a grey pause
    sign (without a desktop panel, Wine shows the icons in a small window of its own)."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Wine System Tray$"],
                           capture_output=True, text=True)
    ids = found.stdout.split()
    if not ids:
        return None
    shot = subprocess.run(["import", "-window", ids[0], "-crop", "20x20+0+0", "-depth", "8", "rgb:-"],
                          capture_output=True)
    data = shot.stdout
    green = grey = 0
    for i in range(0, len(data) - 2, 3):
        r, g, b = data[i], data[i + 1], data[i + 2]
        if g > 120 and r < 100 and b < 120:
            green += 1
        elif abs(r - g) < 12 and abs(g - b) < 12 and 60 < r < 180:
            grey += 1
    return green, grey


def tray_shows(picture):
    pixels = tray_icon_pixels()
    if pixels is None:
        return False
    green, grey = pixels
    return green > 20 if picture == "recording" else (green == 0 and grey > 20)


def wait_settings_dialog():
    return check(drv("wait", SETTINGS, 30000)[0] == 0, "the settings dialog appears")


def dismiss_message_box():
    # The box has the keyboard focus on the X display; Return presses its only button.
    subprocess.run(["xdotool", "key", "Return"], capture_output=True)
    poll(lambda: drv("msgbox", SETTINGS, 200)[0] != 0, 10)


def first_run():
    log("== first run without Lumeno.INI")
    start_program()
    if not wait_settings_dialog():
        return
    check(out("text", SETTINGS, IDC_STORAGE_PATH) == "", "folder field empty")
    check(out("text", SETTINGS, IDC_RETENTION) == "1", "retention 1")
    check(out("combo", SETTINGS, IDC_TIMEZONE2).startswith("(GMT+00:00)"), "(GMT+00:00) selected")
    check(out("combo", SETTINGS, IDC_TIMEZONE2).endswith("26"), "26 time zones")
    check(out("checked", SETTINGS, IDC_AUTORECORD) == "0", "automatic recording clear")
    check(out("checked", SETTINGS, IDC_AUTOCLEAR) == "0", "delete other files clear")
    check(out("checked", SETTINGS, IDC_AUTORUN) == "0", "start with Windows clear (no Run value)")
    check(all(out("text", SETTINGS, i) == "" for i in (IDC_NAME, IDC_PLATFORM, IDC_ACCOUNT)), "overlay texts empty")
    drv("click", SETTINGS, IDCANCEL)
    check(program_ended(), "Cancel ends the process")
    check(not os.path.exists(INI), "no Lumeno.INI after Cancel")

    log("== first run: the required fields, then OK")
    start_program()
    if not wait_settings_dialog():
        return
    drv("settext", SETTINGS, IDC_RETENTION, "0")
    drv("click", SETTINGS, IDOK)
    rc, text = drv("msgbox", SETTINGS, 10000)
    check(rc == 0 and text == "请设置视频存储位置！", "OK with an empty folder asks for it (%s)" % text)
    dismiss_message_box()
    # The folder field is read-only for the user; the folder chooser is a shell dialog, so the
    # chosen folder is put into the field directly.
    drv("settext", SETTINGS, IDC_STORAGE_PATH, windows_path(VIDEOS))
    drv("click", SETTINGS, IDOK)
    rc, text = drv("msgbox", SETTINGS, 10000)
    check(rc == 0 and text == "请设置视频保留时长！", "OK with retention 0 asks for it (%s)" % text)
    dismiss_message_box()
    drv("settext", SETTINGS, IDC_RETENTION, "30")
    drv("settext", SETTINGS, IDC_NAME, "张三")
    drv("settext", SETTINGS, IDC_PLATFORM, "MT5")
    drv("settext", SETTINGS, IDC_ACCOUNT, "8001")
    drv("click", SETTINGS, IDC_AUTORUN)
    drv("click", SETTINGS, IDOK)
    check(drv("wait", MAIN, 30000)[0] == 0, "OK opens the main window")
    ini = read_ini()
    keys = ["存储位置=" + windows_path(VIDEOS), "保留时长=30", "自动清除其他文件=0", "自动开始录像=0", "时间2时区=0",
            "名称=张三", "平台=MT5", "帐号=8001"]
    check(all(k in ini for k in keys), "OK wrote all eight keys")
    reg = subprocess.run(["wine", "reg", "query", RUN_KEY, "/v", "Lumeno"], capture_output=True)
    check(b"Lumeno.exe" in reg.stdout, "OK registered the Run value")
    main_window()


def recording_started():
    return out("enabled", MAIN, IDC_START) == "0" and out("enabled", MAIN, IDC_STOP) == "1"


def main_window():
    log("== main window: Start, Stop, the panel")
    check(poll(lambda: out("text", MAIN, IDC_STORAGE_INFO).startswith("文件个数 0个")), "panel shows 0 recordings")
    check(out("enabled", MAIN, IDC_START) == "1" and out("enabled", MAIN, IDC_STOP) == "0", "idle: Start only")
    check(poll(lambda: tray_shows("idle"), 10), "the tray shows the idle picture (%s)" % (tray_icon_pixels(),))
    drv("click", MAIN, IDC_START)
    check(poll(recording_started, 10), "Start: Start disabled, Stop enabled")
    check(poll(lambda: tray_shows("recording"), 10),
          "the tray switched to the recording picture (%s)" % (tray_icon_pixels(),))
    check(poll(lambda: os.path.exists(os.path.join(VIDEOS, "RECORDING.AVI")), 15), "RECORDING.AVI being written")
    time.sleep(4)
    drv("click", MAIN, IDC_STOP)
    check(poll(lambda: out("enabled", MAIN, IDC_START) == "1" and out("enabled", MAIN, IDC_STOP) == "0", 10),
          "Stop: Start enabled, Stop disabled")
    check(poll(lambda: tray_shows("idle"), 10), "the tray switched back to the idle picture (%s)" %
          (tray_icon_pixels(),))
    check(poll(lambda: len(finished_files()) == 1, 30), "one finished recording named after its start time")
    files = finished_files()
    if files:
        path = os.path.join(VIDEOS, files[0])
        rc, info, err = ffprobe_frames(path)
        check(rc == 0 and info.startswith("mpeg4,") and not err, "ffprobe reads it (%s)" % info)
        st = os.stat(path)
        text = out("text", MAIN, IDC_STORAGE_INFO)
        used = text.split()[3] if len(text.split()) > 3 else ""
        check(text.startswith("文件个数 1个") and used in (format_size(st.st_blocks * 512), format_size(st.st_size)),
              "panel shows 1个 and the used size (%s; file %d bytes)" % (text, st.st_size))
        check(re.match(r"^文件个数 1个 占用空间 \d+(KB|MB) 可用空间 \d+(\.\d)?(KB|MB|GB)$", text) is not None,
              "panel figures use the size rule (%s)" % text)

    log("== hiding while recording, showing from the tray")
    drv("click", MAIN, IDC_START)
    check(poll(recording_started, 10), "recording again")
    hiders = [("Esc", lambda: subprocess.run(["xdotool", "key", "Escape"], capture_output=True)),
              ("Alt+F4", lambda: subprocess.run(["xdotool", "key", "alt+F4"], capture_output=True)),
              ("close button", click_close_button)]
    for name, hide in hiders:
        drv("post", MAIN, WM_TRAY_NOTIFY, 0, WM_LBUTTONUP)
        poll(lambda: out("visible", MAIN) == "1", 10)
        activate_main()
        hide()
        check(poll(lambda: out("visible", MAIN) == "0", 10), name + " hides the window")
        check(recording_started() and program.poll() is None, name + ": still recording, still running")
        drv("post", MAIN, WM_TRAY_NOTIFY, 0, WM_LBUTTONUP)
        check(poll(lambda: out("visible", MAIN) == "1", 10), "a tray left-click shows it again")

    log("== a new name while recording")
    before = finished_files()
    time.sleep(2)
    drv("click", MAIN, IDC_SETTINGS)
    if wait_settings_dialog():
        drv("settext", SETTINGS, IDC_NAME, "李四新名")
        drv("click", SETTINGS, IDOK)
        check(drv("gone", SETTINGS, 10000)[0] == 0, "settings dialog closed with OK")
        check("名称=李四新名" in read_ini(), "new name saved")
    time.sleep(3)

    log("== exit from the tray menu while recording")
    activate_main()
    drv("post", MAIN, WM_TRAY_NOTIFY, 0, WM_RBUTTONUP)
    time.sleep(1.5)
    subprocess.run(["xdotool", "key", "Down", "Return"], capture_output=True)
    check(program_ended(60), "the exit item ends the process")
    check(poll(lambda: tray_icon_pixels() is None or tray_icon_pixels() == (0, 0), 10),
          "the tray icon is gone (%s)" % (tray_icon_pixels(),))
    check(not os.path.exists(os.path.join(VIDEOS, "RECORDING.AVI")), "no unfinished RECORDING.AVI left")
    new = [f for f in finished_files() if f not in before]
    check(len(new) >= 1, "the recording in progress was completed and named (%s)" % new)
    if new:
        path = os.path.join(VIDEOS, new[0])
        rc, info, err = ffprobe_frames(path)
        check(rc == 0 and not err, "ffprobe reads the completed file (%s)" % info)
        early, late = name_cell(path, "first"), name_cell(path, "last")
        check(difference(early, late) > 8.0, "the name cell changed within the recording (%.1f)" %
              difference(early, late))


def activate_main():
    rc, rect = drv("rect", MAIN)
    if rc == 0 and rect:
        left, top, right, _ = [int(v) for v in rect.split()]
        subprocess.run(["xdotool", "mousemove", str((left + right) // 2), str(top + 12), "click", "1"],
                       capture_output=True)
        time.sleep(0.5)


def click_close_button():
    rc, rect = drv("rect", MAIN)
    left, top, right, _ = [int(v) for v in rect.split()]
    subprocess.run(["xdotool", "mousemove", str(right - 11), str(top + 11), "click", "1"], capture_output=True)


def stored_settings():
    log("== stored settings that are not usable")
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
    log("== automatic recording, then the end of the session")
    write_ini(windows_path(VIDEOS), 30, auto_record=1, zone=-8)
    before = finished_files()
    start_program()
    check(drv("wait", MAIN, 30000)[0] == 0 or out("visible", MAIN) == "0", "main window created")
    check(poll(lambda: out("visible", MAIN) == "0" and recording_started(), 20),
          "recording on, Stop enabled, window hidden at once")
    check(poll(lambda: os.path.exists(os.path.join(VIDEOS, "RECORDING.AVI")), 15), "recording without a click")
    time.sleep(2)
    drv("send", MAIN, WM_ENDSESSION, 0, 0)
    time.sleep(1.5)
    check(finished_files() == before and os.path.exists(os.path.join(VIDEOS, "RECORDING.AVI")),
          "WM_ENDSESSION FALSE changes nothing")
    drv("send", MAIN, WM_ENDSESSION, 1, 0)
    new = [f for f in finished_files() if f not in before]
    check(len(new) == 1 and not os.path.exists(os.path.join(VIDEOS, "RECORDING.AVI")),
          "WM_ENDSESSION TRUE completed the file before returning (%s)" % new)
    if new:
        rc, info, err = ffprobe_frames(os.path.join(VIDEOS, new[0]))
        check(rc == 0 and not err, "the completed file reads (%s)" % info)
    check(program.poll() is None, "the process goes on until the system ends it")
    kill_program()


def main():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    os.makedirs(VIDEOS)
    shutil.copy(os.path.join(BIN, "Lumeno.exe"), EXE)
    shutil.copy(os.path.join(BIN, "xvidcore.dll"), SCRATCH)
    subprocess.run(["wine", "reg", "delete", RUN_KEY, "/v", "Lumeno", "/f"], capture_output=True)
    standin = subprocess.Popen([sys.executable, os.path.join(SRC, "tools", "sntp-standin.py"), "--builtin"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for scenario in (first_run, stored_settings, automatic_recording):
            try:
                scenario()
            except Exception as error:  # a broken step fails its scenario, not the whole run
                check(False, "%s raised %r" % (scenario.__name__, error))
            finally:
                kill_program()
    finally:
        standin.kill()
        subprocess.run(["wine", "reg", "delete", RUN_KEY, "/v", "Lumeno", "/f"], capture_output=True)
    log("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
