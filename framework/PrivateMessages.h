#pragma once

// Private window messages of the main window (WM_USER is 0x0400), in one place for every floor:
// worker threads never touch a window, they post these to it.
#define WM_TRAY_NOTIFY (0x0400 + 1)
#define WM_STORAGE_CHANGED (0x0400 + 100)
