#pragma once

// CImgButton: an owner-drawn push button whose face is a picture with per-pixel alpha from the
// program's PNG resources. Strip mode: one PNG with three frames side by side (normal, pointer over,
// pressed), the button created by code at the size of one frame (the styled caption's buttons).
// State-image mode: one picture for the enabled and one for the disabled button, the pointer shown
// by a gradient behind the picture (the main window's buttons, bound from its template). Under the
// picture the button paints a copy of the parent's pixels taken at its first draw, so it blends into
// whatever the parent painted there. A release inside the button sends the parent WM_NOTIFY
// IDC_IMGBTN / IMGBN_CLICKED, before the standard BN_CLICKED.
//
// Threads: UI thread only.

#include "ui/Button.h"
#include "framework/Handles.h"
#include "framework/Image.h"

class CImgButton : public CButton {
public:
    CImgButton() = default;

    // Strip mode: loads the strip and creates the button at (x, 2) in the parent's client area, the
    // size of one frame, control id 0. FALSE, with no window and the outputs untouched, when the strip
    // cannot be loaded.
    BOOL CreateFromStrip(UINT nResId, int x, CWnd* pParent, int* pcxFrame, int* pcyFrame);

    // The strip frame the button shows now: 0 normal, 1 pointer over, 2 pressed with the pointer over.
    [[nodiscard]] int StripFrame() const noexcept { return !m_bHover ? 0 : (m_bPressed ? 2 : 1); }
    // Whether the state-image look has the gradient: exactly one of pointer over and pressed.
    [[nodiscard]] bool ShowsGradient() const noexcept { return (m_bHover != FALSE) != (m_bPressed != FALSE); }
    [[nodiscard]] BOOL IsHover() const noexcept { return m_bHover; }
    [[nodiscard]] BOOL IsPressed() const noexcept { return m_bPressed; }

    // Set by the owner before the window is attached.
    BOOL m_bStateImages = FALSE;
    UINT m_nImageId = 0;
    UINT m_nDisabledImageId = 0;  // 0: none, a disabled button shows only its background

protected:
    void PreSubclassWindow() override;
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    int OnCreate(LPCREATESTRUCTW lpCreateStruct) override;
    BOOL OnEraseBkgnd(HDC hdc) override;
    void OnMouseMove(UINT nFlags, POINT point) override;
    void OnMouseLeave() override;
    void OnLButtonDown(UINT nFlags, POINT point) override;
    void OnLButtonUp(UINT nFlags, POINT point) override;

private:
    void DrawParentBackground(HDC hdc, const RECT& rcInParent);
    [[nodiscard]] bool PointInClient(POINT point) const;

    lumeno::CImage m_imgStrip;
    BOOL m_bHover = FALSE;
    BOOL m_bPressed = FALSE;
    lumeno::UniqueBitmap m_bmpBack;
    lumeno::CImage m_imgState[2];
};
