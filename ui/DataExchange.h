#pragma once

// Dialog data exchange: CDataExchange carries the direction of one UpdateData pass, and the DDX_
// functions move one value between a dialog member and a control in that direction. Saving a value
// that is not acceptable tells the user, puts the focus back on the control and ends the pass
// (Fail throws CDataExchange::Failure, which UpdateData catches).
//
// Threads: UI thread only.

#include <optional>
#include <string>
#include <string_view>

#include "ui/Wnd.h"

class CDataExchange {
public:
    struct Failure {};

    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) noexcept
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd)
    {
    }

    // The control with this id (nullptr when the template has none); remembered for Fail.
    HWND PrepareCtrl(int nIDC);
    HWND PrepareEditCtrl(int nIDC);
    // Focus (and, for an edit, the whole text selected) on the last prepared control, then throw.
    [[noreturn]] void Fail();

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;

private:
    HWND m_hWndLastControl = nullptr;
    bool m_bEditLastControl = false;
};

// The prompt shown when a field that must hold an integer does not.
inline constexpr wchar_t kPromptEnterInteger[] = L"请输入一个整数。";

// A whole decimal int with optional sign and surrounding blanks; nothing when the text is anything
// else or out of range.
[[nodiscard]] std::optional<int> ParseDialogInteger(std::wstring_view text);

void DDX_Text(CDataExchange* pDX, int nIDC, std::wstring& value);
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
// Check state of a check box: 0 unchecked, 1 checked, 2 indeterminate.
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
// Attaches the template's control to the object the first time (in either direction).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control);
