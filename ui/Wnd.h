#pragma once

// CWnd: one C++ object per window, in place of the MFC window class the toolkit was designed on.
// The object is tied to its HWND by subclassing (a window property carries the pointer) and every
// message goes through WindowProc, a plain switch that decodes the arguments once and calls a virtual,
// typed handler. A handler that does not want the message calls Default(), the procedure that was in
// place before the object took the window over.
//
// Threads: a CWnd and its window belong to the thread that created the window (the UI thread);
// nothing here is locked.

#include <windows.h>

#include <string>

class CWnd {
public:
    CWnd() = default;
    // Destroys a window that is still alive: the object owns the window it created or took over.
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    [[nodiscard]] HWND GetSafeHwnd() const noexcept { return m_hWnd; }
    // The object attached to a window, or nullptr.
    [[nodiscard]] static CWnd* FromHandlePermanent(HWND hWnd) noexcept;

    // Takes over an existing window (a control from a dialog template): PreSubclassWindow runs, then
    // every later message reaches WindowProc. Fails when the object already has a window or the window
    // belongs to another object.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    // Gives the window back to its previous procedure; returns it (nullptr when not possible).
    HWND UnsubclassWindow();

    // Creates a window that is attached before its first message, so PreSubclassWindow runs before
    // WM_NCCREATE and WM_CREATE reaches OnCreate.
    BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  HWND hWndParent, UINT nID);
    BOOL DestroyWindow();

    // Thin helpers over the window's handle, for readable handlers.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    BOOL ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    [[nodiscard]] DWORD GetStyle() const;
    [[nodiscard]] DWORD GetExStyle() const;
    [[nodiscard]] std::wstring GetWindowText() const;
    void SetWindowText(LPCWSTR text);
    [[nodiscard]] HWND GetDlgItem(int nID) const;
    [[nodiscard]] HWND GetParent() const;
    [[nodiscard]] RECT GetClientRect() const;
    [[nodiscard]] RECT GetWindowRect() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL EnableWindow(BOOL bEnable = TRUE);
    [[nodiscard]] BOOL IsWindowEnabled() const;
    [[nodiscard]] BOOL IsWindowVisible() const;
    void Invalidate(BOOL bErase = TRUE);
    int MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption = nullptr, UINT nType = MB_OK);

protected:
    // Called when a window is attached to the object, before the window's procedure is replaced.
    virtual void PreSubclassWindow() {}
    // Called after the window's last message (WM_NCDESTROY), once the object is detached.
    virtual void PostNcDestroy() {}

    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The previous procedure with the message being handled, unchanged.
    LRESULT Default();
    // The previous procedure with other arguments.
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Handlers: the defaults do the previous procedure's processing.
    virtual int OnCreate(LPCREATESTRUCTW lpCreateStruct);
    virtual void OnDestroy();
    virtual void OnPaint();
    virtual BOOL OnEraseBkgnd(HDC hdc);
    virtual LRESULT OnNcHitTest(POINT ptScreen);
    // nCtlColor is CTLCOLOR_MSGBOX … CTLCOLOR_STATIC, from whichever WM_CTLCOLOR* message arrived.
    virtual HBRUSH OnCtlColor(HDC hdc, HWND hWndCtl, UINT nCtlColor);
    // TRUE when the command was handled; FALSE lets the previous procedure have it.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // TRUE when handled, with the message's result in *pResult.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual void OnMouseMove(UINT nFlags, POINT point);
    virtual void OnLButtonDown(UINT nFlags, POINT point);
    virtual void OnLButtonUp(UINT nFlags, POINT point);
    virtual void OnMouseLeave();
    virtual void OnTimer(UINT_PTR nIDEvent);
    virtual void OnClose();
    virtual void OnSysCommand(UINT nID, LPARAM lParam);
    virtual void OnEndSession(BOOL bEnding);
    virtual HCURSOR OnQueryDragIcon();
    // WM_DRAWITEM of an owner-drawn control, handed by its parent to the control's own object.
    virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);

private:
    friend class CCreationHook;
    struct CurrentMessage {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };

    static LRESULT CALLBACK StdWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // bCreating: the window is being created (attached from the creation hook).
    void Attach(HWND hWnd, bool bCreating = false);
    void Detach(bool bDestroyed);
    LRESULT DispatchDrawItem(LPARAM lParam);

    WNDPROC m_pfnSuper = nullptr;
    CurrentMessage m_current;
    // Style changes PreSubclassWindow made while the window was being created. Some systems (Wine)
    // set the creation styles only after the creation hook, so these are made again at WM_NCCREATE,
    // before the client area is first computed.
    struct StyleChanges {
        DWORD remove = 0;
        DWORD add = 0;
        DWORD removeEx = 0;
        DWORD addEx = 0;
    };
    bool m_bRecordStyleChanges = false;
    bool m_bReapplyStyleChanges = false;
    StyleChanges m_creationStyleChanges;
};
