#pragma once

// CDialog: a dialog built from a template (a resource of the program, or a template in memory) and
// driven by a CWnd object. The window is attached before its first message, so the order is:
// PreSubclassWindow → WM_CREATE (OnCreate) → WM_INITDIALOG (PreInitDialog, then OnInitDialog).
// DoModal runs the system's modal loop with the owner disabled until EndDialog; Enter and Esc arrive
// as IDOK and IDCANCEL commands (so does WM_CLOSE, as IDCANCEL) and reach OnOK and OnCancel.
// DoDataExchange is the one place that moves values between members and controls (UpdateData).
//
// Threads: UI thread only.

#include "ui/Wnd.h"

class CDataExchange;

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // A template in memory; it must outlive every DoModal or Create of this object.
    explicit CDialog(const DLGTEMPLATE* pTemplate, CWnd* pParentWnd = nullptr);

    // IDOK, IDCANCEL or the EndDialog value; -1 when the dialog could not be created. The owner is the
    // given parent, or else the top-level window that is active on this thread.
    virtual INT_PTR DoModal();
    // A modeless dialog (used where the dialog must stay open while the caller goes on).
    BOOL Create(CWnd* pParentWnd = nullptr);
    void EndDialog(int nResult);
    // The value of the last EndDialog, 0 before.
    [[nodiscard]] INT_PTR ModalResult() const noexcept { return m_nModalResult; }

    // TRUE: controls → members, FALSE: members → controls. FALSE when a value was refused (the user
    // has been told and the focus is on the control).
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // Runs inside WM_INITDIALOG, before OnInitDialog.
    virtual void PreInitDialog() {}
    // Loads the members into the controls; TRUE lets the system give the focus to the first control.
    virtual BOOL OnInitDialog();
    // Reads the controls back; closes with IDOK only when they are all acceptable.
    virtual void OnOK();
    virtual void OnCancel();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    [[nodiscard]] HWND FindOwner(CWnd* pParentWnd) const;
    void CenterIfNotPlaced(const RECT& before);

    UINT m_nIDTemplate = 0;
    const DLGTEMPLATE* m_pTemplate = nullptr;
    INT_PTR m_nModalResult = 0;
};
