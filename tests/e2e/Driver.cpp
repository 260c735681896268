// A small test driver that runs in the same Wine session as Lumeno and acts as a user would:
// finds its windows, reads and sets control states, clicks buttons and sends messages.
// Usage: lumeno_driver COMMAND ARGS...   (prints results on stdout, exit code 0 on success)
//   wait TITLE [ms]            wait until a visible top-level window with this title exists
//   gone TITLE [ms]            wait until no window with this title exists
//   visible TITLE              prints 1 or 0 (window exists and is visible)
//   iconic TITLE               prints 1 or 0
//   text TITLE ID              text of control ID
//   settext TITLE ID TEXT      sets the text of control ID
//   enabled TITLE ID           prints 1 or 0
//   checked TITLE ID           prints the check state
//   combo TITLE ID             prints the selected item's text and the item count
//   click TITLE ID             clicks the button (BM_CLICK)
//   command TITLE ID           posts WM_COMMAND(ID)
//   post TITLE MSG WPARAM LPARAM   posts a message
//   send TITLE MSG WPARAM LPARAM   sends a message and prints the result
//   rect TITLE [ID]            screen rectangle of the window or of control ID
//   msgbox OWNERTITLE [ms]     waits for a message box owned by that window and prints its text
//   children TITLE             lists child controls: id, class, text, visible, enabled
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct FindState {
    const wchar_t* title;
    HWND found;
    bool visibleOnly;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM lp)
{
    auto* state = reinterpret_cast<FindState*>(lp);
    wchar_t text[512];
    GetWindowTextW(hwnd, text, 512);
    if (wcscmp(text, state->title) == 0 && (!state->visibleOnly || IsWindowVisible(hwnd))) {
        state->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND Find(const wchar_t* title, bool visibleOnly = false)
{
    FindState state{title, nullptr, visibleOnly};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&state));
    if (!state.found && !visibleOnly) {
        // Hidden windows of this process's desktop are listed too, but try the plain lookup as well.
        state.found = FindWindowW(nullptr, title);
    }
    return state.found;
}

HWND WaitFor(const wchar_t* title, DWORD ms, bool visibleOnly)
{
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        if (HWND h = Find(title, visibleOnly))
            return h;
        if (GetTickCount64() >= end)
            return nullptr;
        Sleep(50);
    }
}

void PrintUtf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
}

std::wstring TextOf(HWND hwnd)
{
    wchar_t text[4096];
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

struct OwnedState {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwnedMessageBox(HWND hwnd, LPARAM lp)
{
    auto* state = reinterpret_cast<OwnedState*>(lp);
    wchar_t cls[64];
    GetClassNameW(hwnd, cls, 64);
    if (wcscmp(cls, L"#32770") == 0 && GetWindow(hwnd, GW_OWNER) == state->owner && IsWindowVisible(hwnd) &&
        GetDlgItem(hwnd, 0xFFFF)) {
        state->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK ListChild(HWND hwnd, LPARAM)
{
    wchar_t cls[128];
    GetClassNameW(hwnd, cls, 128);
    wchar_t line[1024];
    swprintf(line, 1024, L"%d\t%ls\t%ls\t%d\t%d", GetDlgCtrlID(hwnd), cls, TextOf(hwnd).c_str(),
             IsWindowVisible(hwnd) ? 1 : 0, IsWindowEnabled(hwnd) ? 1 : 0);
    PrintUtf8(line);
    return TRUE;
}

int Fail(const char* why)
{
    std::fprintf(stderr, "driver: %s\n", why);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return Fail("usage: lumeno_driver COMMAND TITLE ...");
    const std::wstring cmd = argv[1];
    const wchar_t* title = argv[2];
    auto arg = [&](int i) -> const wchar_t* { return i < argc ? argv[i] : L""; };
    auto num = [&](int i) -> long long { return i < argc ? std::wcstoll(argv[i], nullptr, 0) : 0; };

    if (cmd == L"wait") {
        HWND h = WaitFor(title, argc > 3 ? static_cast<DWORD>(num(3)) : 20000, true);
        if (!h)
            return Fail("window did not appear");
        std::printf("%p\n", static_cast<void*>(h));
        return 0;
    }
    if (cmd == L"gone") {
        const ULONGLONG end = GetTickCount64() + (argc > 3 ? num(3) : 20000);
        while (Find(title)) {
            if (GetTickCount64() >= end)
                return Fail("window still there");
            Sleep(50);
        }
        return 0;
    }
    if (cmd == L"msgbox") {
        HWND owner = Find(title);
        if (!owner)
            return Fail("no owner window");
        const ULONGLONG end = GetTickCount64() + (argc > 3 ? num(3) : 10000);
        for (;;) {
            OwnedState state{owner, nullptr};
            EnumWindows(FindOwnedMessageBox, reinterpret_cast<LPARAM>(&state));
            if (state.found) {
                PrintUtf8(TextOf(GetDlgItem(state.found, 0xFFFF)));
                return 0;
            }
            if (GetTickCount64() >= end)
                return Fail("no message box");
            Sleep(50);
        }
    }

    HWND wnd = Find(title);
    if (!wnd)
        return Fail("window not found");
    if (cmd == L"visible") {
        std::printf("%d\n", IsWindowVisible(wnd) ? 1 : 0);
        return 0;
    }
    if (cmd == L"iconic") {
        std::printf("%d\n", IsIconic(wnd) ? 1 : 0);
        return 0;
    }
    if (cmd == L"children") {
        EnumChildWindows(wnd, ListChild, 0);
        return 0;
    }
    if (cmd == L"post" || cmd == L"send") {
        const UINT msg = static_cast<UINT>(num(3));
        const WPARAM wp = static_cast<WPARAM>(num(4));
        const LPARAM lp = static_cast<LPARAM>(num(5));
        if (cmd == L"post")
            return PostMessageW(wnd, msg, wp, lp) ? 0 : Fail("post failed");
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(wnd, msg, wp, lp, SMTO_NORMAL, 600000, &result))
            return Fail("send failed");
        std::printf("%lld\n", static_cast<long long>(result));
        return 0;
    }
    if (cmd == L"rect" && argc == 3) {
        RECT rc;
        GetWindowRect(wnd, &rc);
        std::printf("%ld %ld %ld %ld\n", rc.left, rc.top, rc.right, rc.bottom);
        return 0;
    }
    if (cmd == L"command")
        return PostMessageW(wnd, WM_COMMAND, MAKEWPARAM(num(3), BN_CLICKED), 0) ? 0 : Fail("post failed");

    HWND ctrl = GetDlgItem(wnd, static_cast<int>(num(3)));
    if (!ctrl)
        return Fail("control not found");
    if (cmd == L"text") {
        PrintUtf8(TextOf(ctrl));
    } else if (cmd == L"settext") {
        SendMessageW(ctrl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(4)));
    } else if (cmd == L"enabled") {
        std::printf("%d\n", IsWindowEnabled(ctrl) ? 1 : 0);
    } else if (cmd == L"checked") {
        std::printf("%d\n", static_cast<int>(SendMessageW(ctrl, BM_GETCHECK, 0, 0)));
    } else if (cmd == L"combo") {
        const LRESULT sel = SendMessageW(ctrl, CB_GETCURSEL, 0, 0);
        const LRESULT count = SendMessageW(ctrl, CB_GETCOUNT, 0, 0);
        wchar_t item[256] = L"";
        if (sel >= 0)
            SendMessageW(ctrl, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(item));
        wchar_t line[300];
        swprintf(line, 300, L"%ls\t%lld", item, static_cast<long long>(count));
        PrintUtf8(line);
    } else if (cmd == L"click") {
        PostMessageW(ctrl, BM_CLICK, 0, 0);
    } else if (cmd == L"rect") {
        RECT rc;
        GetWindowRect(ctrl, &rc);
        std::printf("%ld %ld %ld %ld\n", rc.left, rc.top, rc.right, rc.bottom);
    } else {
        return Fail("unknown command");
    }
    return 0;
}
