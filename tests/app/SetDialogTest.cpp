#include "app/SetDialog.h"

#include "app/LumenoApp.h"
#include "res/resource.h"
#include "support/ModalScript.h"
#include "support/TestSupport.h"
#include "support/WindowTestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(SetDialog, TimeZoneTextHasSignAndTwoDigits)
{
    EXPECT_EQ(CSetDialog::TimeZoneText(13), L"(GMT+13:00)");
    EXPECT_EQ(CSetDialog::TimeZoneText(8), L"(GMT+08:00)");
    EXPECT_EQ(CSetDialog::TimeZoneText(0), L"(GMT+00:00)");
    EXPECT_EQ(CSetDialog::TimeZoneText(-8), L"(GMT-08:00)");
    EXPECT_EQ(CSetDialog::TimeZoneText(-12), L"(GMT-12:00)");
}

namespace {

std::wstring ComboText(HWND dlg, int index)
{
    wchar_t text[64] = {};
    ::SendDlgItemMessageW(dlg, IDC_TIMEZONE2, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

}  // namespace

TEST(SetDialog, ListsTwentySixZonesSelectsTheStoredOneAndOkStoresItemData)
{
    TempFolder folder;
    CLumenoApp app;
    app.PointProfileAt(folder.Path());
    app.m_nTimeZone2 = -8;
    app.m_strName = L"old";
    CSetDialog dlg(app);
    int count = 0;
    std::wstring first, last, selected, caption;
    ModalScript script({[&] { return dlg.m_hWnd && dlg.IsWindowVisible(); },
                        [&] {
                            count = static_cast<int>(::SendDlgItemMessageW(dlg.m_hWnd, IDC_TIMEZONE2, CB_GETCOUNT, 0, 0));
                            first = ComboText(dlg.m_hWnd, 0);
                            last = ComboText(dlg.m_hWnd, count - 1);
                            const auto sel = ::SendDlgItemMessageW(dlg.m_hWnd, IDC_TIMEZONE2, CB_GETCURSEL, 0, 0);
                            selected = ComboText(dlg.m_hWnd, static_cast<int>(sel));
                            caption = dlg.GetWindowText();
                            ::SendDlgItemMessageW(dlg.m_hWnd, IDC_TIMEZONE2, CB_SETCURSEL, 5, 0);  // +8
                            ::SetDlgItemTextW(dlg.m_hWnd, IDC_NAME, L"新名");
                            ::SendMessageW(dlg.m_hWnd, WM_COMMAND, IDOK, 0);
                            return true;
                        }});
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(count, 26);
    EXPECT_EQ(first, L"(GMT+13:00)");
    EXPECT_EQ(last, L"(GMT-12:00)");
    EXPECT_EQ(selected, L"(GMT-08:00)");
    EXPECT_EQ(caption, L"设置");
    EXPECT_TRUE(dlg.StyleFlags() & CStyleDialog::STYLE_NO_MINIMIZE);
    EXPECT_EQ(app.m_nTimeZone2, 8);
    EXPECT_EQ(app.GetOverlaySettings()->strName, L"新名");  // published for the recording thread
    EXPECT_TRUE(FileExists(app.GetProfilePath()));
}

TEST(SetDialog, NormalModeAcceptsRetentionZeroAndCancelChangesNothing)
{
    TempFolder folder;
    CLumenoApp app;
    app.PointProfileAt(folder.Path());
    app.m_nRetentionMinutes = 5;
    {
        CSetDialog dlg(app);
        ModalScript script({[&] { return dlg.m_hWnd && dlg.IsWindowVisible(); },
                            [&] {
                                ::SetDlgItemTextW(dlg.m_hWnd, IDC_RETENTION, L"9");
                                ::SendMessageW(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0);
                                return true;
                            }});
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(app.m_nRetentionMinutes, 5);
        EXPECT_FALSE(FileExists(app.GetProfilePath()));
    }
    {
        CSetDialog dlg(app);
        ModalScript script({[&] { return dlg.m_hWnd && dlg.IsWindowVisible(); },
                            [&] {
                                ::SetDlgItemTextW(dlg.m_hWnd, IDC_RETENTION, L"0");
                                ::SendMessageW(dlg.m_hWnd, WM_COMMAND, IDOK, 0);
                                return true;
                            }});
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(app.m_nRetentionMinutes, 0);
        EXPECT_TRUE(app.SettingsUnusable());
    }
}
