#pragma once

// Helpers for tests that drive real windows under Wine.

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// Dispatches this thread's messages for about the given time.
void PumpMessages(DWORD milliseconds);
// A visible dialog-class window of this thread owned by hOwner (a message box, for example).
[[nodiscard]] HWND FindOwnedDialog(HWND hOwner);
// The texts of a window's children, in z-order.
[[nodiscard]] std::vector<std::wstring> ChildTexts(HWND hWnd);
// A top-level window class with DefWindowProcW, registered once.
[[nodiscard]] LPCWSTR PlainWindowClass();

}  // namespace testsupport
