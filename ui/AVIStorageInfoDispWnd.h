#pragma once

// CAVIStorageInfoDispWnd: the blue strip across the top of the main window with three figures: how
// many recordings the catalogue holds, the space they take and the free space of the storage
// folder's drive. It only paints the figures it is given; the main window fills them and repaints
// the panel on every WM_STORAGE_CHANGED.
//
// Threads: UI thread only (the figures and the font are written and read there).

#include "ui/Button.h"
#include "framework/Handles.h"

#include <string>

class CAVIStorageInfoDispWnd : public CButton {
public:
    static constexpr COLORREF kBackground = RGB(19, 179, 253);
    static constexpr COLORREF kLabelColour = RGB(255, 255, 255);
    static constexpr COLORREF kValueColour = RGB(183, 241, 58);
    static constexpr int kTextTop = 40;

    CAVIStorageInfoDispWnd() = default;
    ~CAVIStorageInfoDispWnd() override = default;

    // The size text: GB with one decimal from 2^30 bytes, whole MB from 2^20, whole KB below
    // (rounded as printf rounds); there is no byte unit and no terabyte.
    [[nodiscard]] static std::wstring FormatSize(ULONGLONG bytes);
    // The count text: the number followed by "个".
    [[nodiscard]] static std::wstring FormatCount(int count);

    // The six texts of the panel in one line: "文件个数 3个 占用空间 12MB 可用空间 1.5GB".
    [[nodiscard]] std::wstring DescribeFigures() const;

    int m_nFileCount = 0;
    ULONGLONG m_ullUsedBytes = 0;
    ULONGLONG m_ullFreeBytes = 0;

protected:
    // WM_ERASEBKGND keeps the button's default processing (CWnd's default handler).
    void OnPaint() override;

private:
    lumeno::UniqueFont m_fontPanel;  // created at the first paint, kept for the panel's life
};
