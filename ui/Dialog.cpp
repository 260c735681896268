#include "ui/Dialog.h"

#include <algorithm>

#include "ui/CreationHook.h"
#include "ui/DataExchange.h"

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_pParentWnd(pParentWnd), m_nIDTemplate(nIDTemplate) {}

CDialog::CDialog(const DLGTEMPLATE* pTemplate, CWnd* pParentWnd) : m_pParentWnd(pParentWnd), m_pTemplate(pTemplate) {}

INT_PTR CALLBACK CDialog::DialogProc(HWND, UINT, WPARAM, LPARAM)
{
    // Everything is handled by the attached object's WindowProc, which sits above the dialog manager.
    return FALSE;
}

HWND CDialog::FindOwner(CWnd* pParentWnd) const
{
    if (pParentWnd && pParentWnd->m_hWnd)
        return pParentWnd->m_hWnd;
    const HWND hActive = ::GetActiveWindow();
    return hActive ? ::GetAncestor(hActive, GA_ROOT) : nullptr;
}

INT_PTR CDialog::DoModal()
{
    if (m_hWnd)
        return -1;
    const HWND hOwner = FindOwner(m_pParentWnd);
    const HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    m_nModalResult = 0;
    CCreationHook hook(this);
    // The system's modal loop disables the owner for the dialog's lifetime and turns Enter, Esc and
    // WM_CLOSE into IDOK/IDCANCEL commands.
    if (m_pTemplate)
        return ::DialogBoxIndirectParamW(hInstance, m_pTemplate, hOwner, &CDialog::DialogProc, 0);
    return ::DialogBoxParamW(hInstance, MAKEINTRESOURCEW(m_nIDTemplate), hOwner, &CDialog::DialogProc, 0);
}

BOOL CDialog::Create(CWnd* pParentWnd)
{
    if (m_hWnd)
        return FALSE;
    if (pParentWnd)
        m_pParentWnd = pParentWnd;
    const HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    const HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    m_nModalResult = 0;
    HWND hWnd = nullptr;
    {
        CCreationHook hook(this);
        hWnd = m_pTemplate
                   ? ::CreateDialogIndirectParamW(hInstance, m_pTemplate, hParent, &CDialog::DialogProc, 0)
                   : ::CreateDialogParamW(hInstance, MAKEINTRESOURCEW(m_nIDTemplate), hParent, &CDialog::DialogProc, 0);
    }
    return hWnd != nullptr && hWnd == m_hWnd;
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    if (m_hWnd)
        ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const CDataExchange::Failure&) {
        return FALSE;
    }
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

// A top-level dialog that its initialisation did not move appears centred over its owner, or on
// the screen's work area when it has no visible owner, as users expect of a dialog.
void CDialog::CenterIfNotPlaced(const RECT& before)
{
    RECT now{};
    ::GetWindowRect(m_hWnd, &now);
    if ((::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_CHILD) || now.left != before.left || now.top != before.top)
        return;
    RECT area{};
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner))
        ::GetWindowRect(owner, &area);
    else
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int w = now.right - now.left, h = now.bottom - now.top;
    int x = area.left + (area.right - area.left - w) / 2;
    int y = area.top + (area.bottom - area.top - h) / 2;
    // Keep the whole window on the screen.
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    x = std::max<int>(work.left, std::min<int>(x, work.right - w));
    y = std::max<int>(work.top, std::min<int>(y, work.bottom - h));
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CDialog::OnInitDialog()
{
    (void)UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM)
{
    // Notification code 0 covers a button click, a menu item and Enter/Esc from the dialog manager.
    if (HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    switch (LOWORD(wParam)) {
        case IDOK:
            OnOK();
            return TRUE;
        case IDCANCEL:
            OnCancel();
            return TRUE;
        default:
            return FALSE;
    }
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        PreInitDialog();
        RECT before{};
        ::GetWindowRect(m_hWnd, &before);
        const BOOL result = OnInitDialog();
        CenterIfNotPlaced(before);
        return result;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
