#pragma once

// CStyleDialog: the base of the program's dialogs. The system caption and frame are stripped, the
// window is made 30 pixels taller, and the dialog paints its own flat blue caption (small icon and
// white title), places close and minimise image buttons in it, lets the user drag the window by it,
// paints the rest light grey, moves every template control down below the caption, and attaches a
// drop shadow. Derived dialogs paint extra content under the caption in DrawClientArea.
//
// Threads: UI thread only.

#include "ui/Dialog.h"
#include "framework/Handles.h"
#include "ui/DropShadow.h"
#include "ui/ImgButton.h"

class CStyleDialog : public CDialog {
public:
    static constexpr DWORD STYLE_NO_MINIMIZE = 0x1;

    explicit CStyleDialog(UINT nIDTemplate);
    ~CStyleDialog() override = default;

    // Destroys the caption's minimise button (once) and repaints the dialog.
    void RemoveMinimizeButton();

    // For inspection.
    [[nodiscard]] const CImgButton& CaptionButton(int index) const { return m_btnCaption[index]; }
    [[nodiscard]] const CDropShadow& Shadow() const noexcept { return m_shadow; }
    [[nodiscard]] int TitleHeight() const noexcept { return m_nTitleHeight; }
    [[nodiscard]] DWORD StyleFlags() const noexcept { return m_dwStyleFlags; }

protected:
    // A dialog from a template in memory (the template must outlive the dialog's windows).
    explicit CStyleDialog(const DLGTEMPLATE* pTemplate);

    void PreSubclassWindow() override;
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    void PreInitDialog() override;
    // Called at the end of every paint with the client rectangle below the caption; the result is
    // not used.
    virtual int DrawClientArea(HDC hdc, RECT rcClient);

    void OnPaint() override;
    int OnCreate(LPCREATESTRUCTW lpCreateStruct) override;
    BOOL OnEraseBkgnd(HDC hdc) override;
    LRESULT OnNcHitTest(POINT ptScreen) override;
    HBRUSH OnCtlColor(HDC hdc, HWND hWndCtl, UINT nCtlColor) override;

    // Moves every child of hWnd (except the caption buttons) down by the caption height, and the
    // children of those children inside them likewise.
    void OffsetChildren(HWND hWnd);

    lumeno::UniqueFont m_fontTitle;
    lumeno::UniqueBrush m_brushBody;
    CImgButton m_btnCaption[2];  // [0] close, [1] minimise
    int m_nTitleHeight = 30;
    DWORD m_dwStyleFlags = 0;
    CDropShadow m_shadow;

private:
    void InitResources();
};
