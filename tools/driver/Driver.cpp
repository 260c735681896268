// A small driver for the e2e tests, the screenshots and the soak: it runs in the same Wine session as
// Lumeno and acts as a user would: finds its windows, reads and sets control states, clicks buttons
// and sends messages.
// Usage: lumeno_driver COMMAND NAME ARGS...   (prints results on stdout, exit code 0 on success)
// NAME is a top-level window's title, or '#' and its class ("#32768": a popup menu; "#tooltips_class32");
// for post and send, '*' is every top-level window (HWND_BROADCAST), as an installer asks.
//   hold                       stays on the desktop until ended (prints "ready" when on it)
//   wait NAME [ms] / gone NAME [ms]   waits until a visible window NAME exists / no window NAME does
//   state NAME                 prints "VISIBLE FOREGROUND" as 1 or 0 each
//   answer OWNER [ms]          waits for a message box owned by OWNER ('-': any owner), prints its
//                              text, presses OK and waits until the box is gone
//   rect NAME [ID...]          screen rectangles of the window, then of each control, one a line
//   enabled NAME ID...         prints 1 or 0 for each control
//   text NAME ID / settext NAME ID TEXT / checked NAME ID / click NAME ID (BM_CLICK, posted)
//   combo NAME ID              prints the selected item's text and the item count
//   post NAME MSG WPARAM LPARAM / send NAME MSG WPARAM LPARAM (prints the result); MSG is a
//                              number or the name of a registered message
//   processes IMAGE            the full Windows path of each running process whose program file is
//                              named IMAGE, one a line (as Windows sees it, whatever Wine shows Linux)
#include "framework/Handles.h"
#include "framework/Utf8.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct WindowSearch {
    const wchar_t* name;
    bool visibleOnly;
    HWND owner, found;
};

// A named callback: on i686 a lambda would not have the stdcall convention EnumWindows calls with.
BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lp)
{
    auto* s = reinterpret_cast<WindowSearch*>(lp);
    wchar_t text[512] = L"";
    const bool byClass = s->name[0] == L'#';
    byClass ? GetClassNameW(hwnd, text, 512) : GetWindowTextW(hwnd, text, 512);
    const bool match = (wcscmp(text, s->name) == 0 || (byClass && wcscmp(text, s->name + 1) == 0)) &&
                       (!s->visibleOnly || IsWindowVisible(hwnd)) &&
                       (!s->owner || GetWindow(hwnd, GW_OWNER) == s->owner);
    s->found = match ? hwnd : nullptr;
    return !match;
}

// The first top-level window of that title or class, visible if asked, owned by `owner` if given.
HWND Find(const wchar_t* name, bool visibleOnly = false, HWND owner = nullptr)
{
    WindowSearch search{name, visibleOnly, owner, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Polls until the window's presence is as wanted; false on time-out. *found gets the window.
bool Await(bool present, const wchar_t* name, DWORD ms, HWND owner = nullptr, HWND* found = nullptr)
{
    for (const ULONGLONG end = GetTickCount64() + ms;; Sleep(50)) {
        const HWND h = Find(name, present, owner);
        if (found)
            *found = h;
        if (present == (h != nullptr))
            return true;
        if (GetTickCount64() >= end)
            return false;
    }
}

void Print(const std::wstring& text) { std::printf("%s\n", ToUtf8(text).c_str()); }

std::wstring TextOf(HWND hwnd)
{
    wchar_t text[4096] = L"";
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

int Fail(const char* why)
{
    std::fprintf(stderr, "driver: %s\n", why);
    return 1;
}

int PrintProcesses(const wchar_t* image)
{
    const lumeno::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        const lumeno::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t full[MAX_PATH * 2];
        DWORD size = MAX_PATH * 2;
        if (_wcsicmp(entry.szExeFile, image) == 0)
            Print(process && QueryFullProcessImageNameW(process.Get(), 0, full, &size) ? std::wstring(full, size)
                                                                                       : entry.szExeFile);
    }
    return snapshot ? 0 : Fail("no process snapshot");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring cmd = argc > 1 ? argv[1] : L"";
    if (cmd == L"hold") {
        // Joins the desktop and stays: Wine's desktop process then stays too, instead of starting
        // anew with each program, where two Wine processes starting it at once can stall for a minute.
        GetDesktopWindow();
        std::printf("ready\n");
        std::fflush(stdout);
        Sleep(INFINITE);
    }
    if (argc < 3)
        return Fail("usage: lumeno_driver COMMAND NAME ...");
    const wchar_t* name = argv[2];
    if (cmd == L"processes")
        return PrintProcesses(name);
    auto num = [&](int i) -> long long { return i < argc ? std::wcstoll(argv[i], nullptr, 0) : 0; };
    const auto ms = static_cast<DWORD>(argc > 3 ? num(3) : 20000);

    if (cmd == L"wait" || cmd == L"gone")
        return Await(cmd == L"wait", name, ms) ? 0 : Fail("window did not appear or go");
    if (cmd == L"answer") {
        const bool anyOwner = wcscmp(name, L"-") == 0;
        const HWND owner = anyOwner ? nullptr : Find(name);
        HWND box = nullptr;
        if (!anyOwner && !owner)
            return Fail("window not found");
        if (!Await(true, L"#32770", ms, owner, &box))
            return Fail("no message box");
        Print(TextOf(GetDlgItem(box, 0xFFFF)));
        PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        for (const ULONGLONG end = GetTickCount64() + ms; IsWindow(box); Sleep(50))
            if (GetTickCount64() >= end)
                return Fail("the message box stays");
        return 0;
    }
    const bool message = cmd == L"post" || cmd == L"send";
    const HWND wnd = message && wcscmp(name, L"*") == 0 ? HWND_BROADCAST : Find(name);
    if (!wnd)
        return Fail("window not found");
    if (cmd == L"state") {
        std::printf("%d %d\n", IsWindowVisible(wnd) ? 1 : 0, GetForegroundWindow() == wnd ? 1 : 0);
        return 0;
    }
    if (message) {
        // A message given by name is a registered one ("Lumeno.Exit").
        const auto msg = argc <= 3 || iswdigit(argv[3][0]) ? static_cast<UINT>(num(3)) : RegisterWindowMessageW(argv[3]);
        const auto wp = static_cast<WPARAM>(num(4));
        const auto lp = static_cast<LPARAM>(num(5));
        if (cmd == L"post")
            return PostMessageW(wnd, msg, wp, lp) ? 0 : Fail("post failed");
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(wnd, msg, wp, lp, wnd == HWND_BROADCAST ? SMTO_ABORTIFHUNG : SMTO_NORMAL, 600000, &result))
            return Fail("send failed");
        std::printf("%lld\n", static_cast<long long>(result));
        return 0;
    }
    if (cmd == L"rect" || cmd == L"enabled") {
        for (int i = cmd == L"rect" ? 2 : 3; i < argc; ++i) {
            const HWND item = i == 2 ? wnd : GetDlgItem(wnd, static_cast<int>(num(i)));
            RECT rc{};
            if (!item || !GetWindowRect(item, &rc))
                return Fail("control not found");
            if (cmd == L"rect")
                std::printf("%ld %ld %ld %ld\n", rc.left, rc.top, rc.right, rc.bottom);
            else
                std::printf(i + 1 < argc ? "%d " : "%d\n", IsWindowEnabled(item) ? 1 : 0);
        }
        return 0;
    }

    const HWND ctrl = GetDlgItem(wnd, static_cast<int>(num(3)));
    if (!ctrl)
        return Fail("control not found");
    if (cmd == L"text") {
        Print(TextOf(ctrl));
    } else if (cmd == L"settext") {
        SendMessageW(ctrl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argc > 4 ? argv[4] : L""));
    } else if (cmd == L"checked") {
        std::printf("%d\n", static_cast<int>(SendMessageW(ctrl, BM_GETCHECK, 0, 0)));
    } else if (cmd == L"combo") {
        const LRESULT sel = SendMessageW(ctrl, CB_GETCURSEL, 0, 0);
        wchar_t item[256] = L"";
        if (sel >= 0)
            SendMessageW(ctrl, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(item));
        Print(std::wstring(item) + L"\t" + std::to_wstring(SendMessageW(ctrl, CB_GETCOUNT, 0, 0)));
    } else if (cmd == L"click") {
        PostMessageW(ctrl, BM_CLICK, 0, 0);
    } else {
        return Fail("unknown command");
    }
    return 0;
}
