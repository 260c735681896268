#include "ui/AVIStorageInfoDispWnd.h"

#include "framework/PointFont.h"

#include <cstdio>

namespace {

void DrawText(HDC hdc, int x, COLORREF colour, const std::wstring& text)
{
    ::SetTextColor(hdc, colour);
    ::TextOutW(hdc, x, CAVIStorageInfoDispWnd::kTextTop, text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

std::wstring CAVIStorageInfoDispWnd::FormatSize(ULONGLONG bytes)
{
    constexpr ULONGLONG kGiB = 1ull << 30;
    constexpr ULONGLONG kMiB = 1ull << 20;
    const double n = static_cast<double>(bytes);
    wchar_t text[64] = {};
    if (bytes >= kGiB)
        (void)swprintf(text, 64, L"%.1fGB", n / static_cast<double>(kGiB));
    else if (bytes >= kMiB)
        (void)swprintf(text, 64, L"%.0fMB", n / static_cast<double>(kMiB));
    else
        (void)swprintf(text, 64, L"%.0fKB", n / 1024.0);
    return text;
}

std::wstring CAVIStorageInfoDispWnd::FormatCount(int count)
{
    return std::to_wstring(count) + L"个";
}

std::wstring CAVIStorageInfoDispWnd::DescribeFigures() const
{
    return L"文件个数 " + FormatCount(m_nFileCount) + L" 占用空间 " + FormatSize(m_ullUsedBytes) + L" 可用空间 " +
           FormatSize(m_ullFreeBytes);
}

void CAVIStorageInfoDispWnd::OnPaint()
{
    const lumeno::PaintDc dc(m_hWnd);
    const HDC hdc = dc.Get();
    const RECT rc = GetClientRect();
    {
        const lumeno::UniqueBrush background(::CreateSolidBrush(kBackground));
        ::FillRect(hdc, &rc, background.Get());
    }
    ::SetBkMode(hdc, TRANSPARENT);
    if (!m_fontPanel)
        m_fontPanel = lumeno::CreatePointFont(120, L"黑体");
    const lumeno::SelectGuard font(hdc, m_fontPanel.Get());

    DrawText(hdc, 10, kLabelColour, L"文件个数");
    DrawText(hdc, 80, kValueColour, FormatCount(m_nFileCount));
    DrawText(hdc, 140, kLabelColour, L"占用空间");
    DrawText(hdc, 210, kValueColour, FormatSize(m_ullUsedBytes));
    DrawText(hdc, 278, kLabelColour, L"可用空间");
    DrawText(hdc, 348, kValueColour, FormatSize(m_ullFreeBytes));
}
