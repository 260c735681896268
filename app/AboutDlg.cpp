#include "app/AboutDlg.h"

#include "app/resource.h"

CAboutDlg::CAboutDlg() : CStyleDialog(IDD_ABOUTBOX) {}
