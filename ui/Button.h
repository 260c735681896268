#pragma once

// CButton: a push button control driven by a CWnd object, either created by code or taken over
// from a dialog template by control binding.
//
// Threads: UI thread only.

#include "ui/Wnd.h"

class CButton : public CWnd {
public:
    // A child button of pParentWnd (WS_CHILD is added); attached before its first message.
    BOOL Create(LPCWSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
    {
        return pParentWnd && CreateEx(0, L"BUTTON", lpszCaption, dwStyle | WS_CHILD, rect, pParentWnd->m_hWnd, nID);
    }
};
