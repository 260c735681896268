#include "ui/DataExchange.h"

#include <climits>
#include <vector>

namespace {

// The framework's prompts carry the application's title as their caption.
constexpr wchar_t kPromptCaption[] = L"Lumeno";

bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t';
}

std::wstring ControlText(HWND hWnd)
{
    const int length = ::GetWindowTextLengthW(hWnd);
    if (length <= 0)
        return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextW(hWnd, buffer.data(), length + 1);
    return std::wstring(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
}

// Only sets the text when it differs, so unchanged fields neither flicker nor lose their selection.
void SetControlText(HWND hWnd, const std::wstring& text)
{
    if (ControlText(hWnd) != text)
        ::SetWindowTextW(hWnd, text.c_str());
}

}  // namespace

HWND CDataExchange::PrepareCtrl(int nIDC)
{
    m_hWndLastControl = m_pDlgWnd ? ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC) : nullptr;
    m_bEditLastControl = false;
    return m_hWndLastControl;
}

HWND CDataExchange::PrepareEditCtrl(int nIDC)
{
    const HWND hWnd = PrepareCtrl(nIDC);
    m_bEditLastControl = true;
    return hWnd;
}

void CDataExchange::Fail()
{
    if (m_bSaveAndValidate && m_hWndLastControl) {
        ::SetFocus(m_hWndLastControl);
        if (m_bEditLastControl)
            ::SendMessageW(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
    throw Failure{};
}

std::optional<int> ParseDialogInteger(std::wstring_view text)
{
    size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
        negative = text[pos] == L'-';
        ++pos;
    }
    const size_t firstDigit = pos;
    long long magnitude = 0;
    while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9') {
        magnitude = magnitude * 10 + (text[pos] - L'0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1)
            return std::nullopt;
        ++pos;
    }
    if (pos == firstDigit)
        return std::nullopt;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    if (pos != text.size())
        return std::nullopt;
    const long long value = negative ? -magnitude : magnitude;
    if (value > INT_MAX || value < INT_MIN)
        return std::nullopt;
    return static_cast<int>(value);
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::wstring& value)
{
    const HWND hWnd = pDX->PrepareEditCtrl(nIDC);
    if (!hWnd)
        return;
    if (pDX->m_bSaveAndValidate)
        value = ControlText(hWnd);
    else
        SetControlText(hWnd, value);
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value)
{
    const HWND hWnd = pDX->PrepareEditCtrl(nIDC);
    if (!hWnd)
        return;
    if (!pDX->m_bSaveAndValidate) {
        SetControlText(hWnd, std::to_wstring(value));
        return;
    }
    const std::optional<int> parsed = ParseDialogInteger(ControlText(hWnd));
    if (!parsed) {
        // The member keeps its previous value.
        ::MessageBoxW(pDX->m_pDlgWnd->m_hWnd, kPromptEnterInteger, kPromptCaption, MB_OK | MB_ICONEXCLAMATION);
        pDX->Fail();
    }
    value = *parsed;
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    const HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (!hWnd)
        return;
    if (pDX->m_bSaveAndValidate) {
        value = static_cast<int>(::SendMessageW(hWnd, BM_GETCHECK, 0, 0));
        return;
    }
    // Anything but the three check states shows as unchecked rather than confusing the control.
    const WPARAM state =
        (value >= BST_UNCHECKED && value <= BST_INDETERMINATE) ? static_cast<WPARAM>(value) : BST_UNCHECKED;
    ::SendMessageW(hWnd, BM_SETCHECK, state, 0);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control)
{
    if (control.m_hWnd)
        return;
    const HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (hWnd)
        (void)control.SubclassWindow(hWnd);
}
