#include "app/AboutDlg.h"

#include "res/resource.h"

CAboutDlg::CAboutDlg() : CStyleDialog(IDD_ABOUTBOX) {}
