#include "support/WindowTestSupport.h"

namespace testsupport {

void PumpMessages(DWORD milliseconds)
{
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(5);
    } while (::GetTickCount64() < deadline);
}

namespace {

struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchOwnedDialog(HWND hWnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<OwnedDialogSearch*>(lParam);
    wchar_t className[32] = {};
    ::GetClassNameW(hWnd, className, 32);
    if (std::wstring(className) == L"#32770" && ::GetWindow(hWnd, GW_OWNER) == search->owner &&
        ::IsWindowVisible(hWnd)) {
        search->found = hWnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindOwnedDialog(HWND hOwner)
{
    OwnedDialogSearch search{hOwner, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), &MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<std::wstring> ChildTexts(HWND hWnd)
{
    std::vector<std::wstring> texts;
    for (HWND child = ::GetWindow(hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[512] = {};
        ::GetWindowTextW(child, text, 512);
        texts.emplace_back(text);
    }
    return texts;
}

LPCWSTR PlainWindowClass()
{
    static const ATOM atom = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = L"LumenoTestPlainWindow";
        return ::RegisterClassExW(&wc);
    }();
    return atom ? L"LumenoTestPlainWindow" : nullptr;
}

}  // namespace testsupport
