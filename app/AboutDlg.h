#pragma once

// CAboutDlg: the About box, opened from the main window's system menu. Everything it shows comes
// from its template: the program's icon, "Lumeno，1.0 版" and a second line naming what the program
// is for ("交易屏幕录像存证工具", a screen-recording evidence tool for trading), since a user who
// opens it from the taskbar wants to know what this tray program is.
//
// Threads: UI thread only.

#include "ui/StyleDialog.h"

class CAboutDlg : public CStyleDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override = default;
};
