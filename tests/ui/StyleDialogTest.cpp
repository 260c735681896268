#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "res/resource.h"
#include "framework/DataExchange.h"
#include "support/DialogTemplate.h"
#include "support/TestSupport.h"
#include "support/WindowTestSupport.h"
#include "ui/StyleDialog.h"

using namespace testsupport;

namespace {

constexpr int kTopEditId = 300;
constexpr int kStaticId = 301;

class CTestStyleDialog : public CStyleDialog {
public:
    explicit CTestStyleDialog(const DLGTEMPLATE* pTemplate) : CStyleDialog(pTemplate) {}

    int closeCount = 0;
    RECT drawnClientArea{};
    int drawCount = 0;

protected:
    void OnClose() override
    {
        ++closeCount;
        CStyleDialog::OnClose();
    }
    int DrawClientArea(HDC hdc, RECT rcClient) override
    {
        ++drawCount;
        drawnClientArea = rcClient;
        return CStyleDialog::DrawClientArea(hdc, rcClient);
    }
};

class StyleDialogTest : public testing::Test {
protected:
    static void SetUpTestSuite() { (void)CDropShadow::RegisterShadowClass(::GetModuleHandleW(nullptr)); }

    static RECT MapTemplateRect(HWND hDlg, RECT rc)
    {
        ::MapDialogRect(hDlg, &rc);
        return rc;
    }
    static RECT ChildRectInClient(HWND hDlg, HWND hChild)
    {
        RECT rc{};
        ::GetWindowRect(hChild, &rc);
        ::MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
        return rc;
    }
    static LRESULT HitTest(HWND hDlg, int x, int y)
    {
        POINT pt{x, y};
        ::ClientToScreen(hDlg, &pt);
        return ::SendMessageW(hDlg, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
    }
    static void Click(const CImgButton& button)
    {
        ::SendMessageW(button.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(6, 10));
        ::SendMessageW(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 10));
        ::SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(6, 10));
    }
};

// A dialog without caption or frame: its template content is the whole window.
DialogTemplate PlainTemplate()
{
    DialogTemplate t(WS_POPUP | WS_SYSMENU, 160, 80, L"styled");
    t.Add(DialogTemplate::kEdit, kTopEditId, WS_VISIBLE | WS_BORDER, 0, 0, 60, 12)
        .Add(DialogTemplate::kStatic, kStaticId, WS_VISIBLE, 10, 40, 60, 10, L"label");
    return t;
}

}  // namespace

TEST_F(StyleDialogTest, GeometryCaptionButtonsAndShiftedControls)
{
    DialogTemplate t = PlainTemplate();
    CTestStyleDialog dlg(t.Get());
    ASSERT_TRUE(dlg.Create());
    const HWND hDlg = dlg.m_hWnd;

    const RECT content = MapTemplateRect(hDlg, RECT{0, 0, 160, 80});
    const int W = content.right;
    const int H = content.bottom;
    const RECT window = dlg.GetWindowRect();
    EXPECT_EQ(window.right - window.left, W);
    EXPECT_EQ(window.bottom - window.top, H + 30);
    const RECT client = dlg.GetClientRect();
    EXPECT_EQ(client.right, W);  // all of it is client area
    EXPECT_EQ(client.bottom, H + 30);

    const RECT edit = ChildRectInClient(hDlg, dlg.GetDlgItem(kTopEditId));
    EXPECT_EQ(edit.top, 30);
    EXPECT_EQ(edit.left, 0);
    const RECT label = ChildRectInClient(hDlg, dlg.GetDlgItem(kStaticId));
    EXPECT_EQ(label.top, MapTemplateRect(hDlg, RECT{10, 40, 70, 50}).top + 30);

    const RECT close = ChildRectInClient(hDlg, dlg.CaptionButton(0).m_hWnd);
    const RECT minimise = ChildRectInClient(hDlg, dlg.CaptionButton(1).m_hWnd);
    EXPECT_EQ(close.left, W - 20);
    EXPECT_EQ(close.top, 2);
    EXPECT_EQ(close.right - close.left, 13);
    EXPECT_EQ(close.bottom - close.top, 20);
    EXPECT_EQ(minimise.left, W - 42);
    EXPECT_EQ(minimise.top, 2);

    EXPECT_EQ(CDropShadow::FindAttached(hDlg), &dlg.Shadow());
    dlg.DestroyWindow();
    EXPECT_EQ(CDropShadow::FindAttached(hDlg), nullptr);
}

TEST_F(StyleDialogTest, CaptionAndFrameStylesAreStripped)
{
    // The About box's kind of template: caption, system menu, modal frame.
    DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 170, 62, L"关于 Lumeno");
    CTestStyleDialog dlg(t.Get());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.GetStyle() & (WS_CAPTION | DS_MODALFRAME | DS_3DLOOK), 0u);
    EXPECT_EQ(dlg.GetExStyle() & WS_EX_DLGMODALFRAME, 0u);
    const RECT window = dlg.GetWindowRect();
    const RECT client = dlg.GetClientRect();
    EXPECT_EQ(client.right, window.right - window.left);
    EXPECT_EQ(client.bottom, window.bottom - window.top);
    dlg.DestroyWindow();
}

TEST_F(StyleDialogTest, DragZoneCloseAndMinimise)
{
    DialogTemplate t = PlainTemplate();
    CTestStyleDialog dlg(t.Get());
    ASSERT_TRUE(dlg.Create());
    const HWND hDlg = dlg.m_hWnd;
    const int W = dlg.GetClientRect().right;

    EXPECT_EQ(HitTest(hDlg, 0, 0), HTCAPTION);
    EXPECT_EQ(HitTest(hDlg, W - 43, 29), HTCAPTION);
    EXPECT_NE(HitTest(hDlg, W - 42, 10), HTCAPTION);
    EXPECT_NE(HitTest(hDlg, W - 1, 29), HTCAPTION);
    EXPECT_NE(HitTest(hDlg, 10, 30), HTCAPTION);
    EXPECT_NE(HitTest(hDlg, 100, 60), HTCAPTION);

    // Notifications with the image buttons' id but another code or sender are swallowed.
    NMHDR other{dlg.CaptionButton(0).m_hWnd, 0, 2};
    EXPECT_EQ(dlg.SendMessage(WM_NOTIFY, IDC_IMGBTN, reinterpret_cast<LPARAM>(&other)), 0);
    EXPECT_EQ(dlg.closeCount, 0);

    Click(dlg.CaptionButton(0));
    EXPECT_EQ(dlg.closeCount, 1);

    ::ShowWindow(hDlg, SW_SHOWNA);
    Click(dlg.CaptionButton(1));
    EXPECT_TRUE(::IsIconic(hDlg));
    ::ShowWindow(hDlg, SW_SHOWNOACTIVATE);
    EXPECT_FALSE(::IsIconic(hDlg));

    const CImgButton& minimise = dlg.CaptionButton(1);
    const HWND hMinimise = minimise.m_hWnd;
    dlg.RemoveMinimizeButton();
    EXPECT_EQ(dlg.StyleFlags() & CStyleDialog::STYLE_NO_MINIMIZE, CStyleDialog::STYLE_NO_MINIMIZE);
    EXPECT_FALSE(::IsWindow(hMinimise));
    dlg.RemoveMinimizeButton();  // a second call changes nothing
    NMHDR late{hMinimise, 0, IMGBN_CLICKED};
    dlg.SendMessage(WM_NOTIFY, IDC_IMGBTN, reinterpret_cast<LPARAM>(&late));
    EXPECT_FALSE(::IsIconic(hDlg));
    EXPECT_NE(HitTest(hDlg, W - 42, 10), HTCAPTION);  // the area stays out of the drag zone
    dlg.DestroyWindow();
}

TEST_F(StyleDialogTest, PaintsCaptionBodyAndCallsDrawClientArea)
{
    DialogTemplate t = PlainTemplate();
    CTestStyleDialog dlg(t.Get());
    ASSERT_TRUE(dlg.Create());
    ::ShowWindow(dlg.m_hWnd, SW_SHOWNA);
    ::UpdateWindow(dlg.m_hWnd);
    const RECT client = dlg.GetClientRect();
    EXPECT_GE(dlg.drawCount, 1);
    EXPECT_EQ(dlg.drawnClientArea.top, 30);
    EXPECT_EQ(dlg.drawnClientArea.bottom, client.bottom);
    EXPECT_EQ(dlg.drawnClientArea.right, client.right);
    {
        const lumeno::WindowDc dc(dlg.m_hWnd);
        EXPECT_EQ(::GetPixel(dc.Get(), client.right - 50, 28), RGB(19, 179, 253));
        EXPECT_EQ(::GetPixel(dc.Get(), client.right - 50, 1), RGB(19, 179, 253));
        EXPECT_EQ(::GetPixel(dc.Get(), client.right - 5, client.bottom - 5), RGB(236, 236, 236));
    }
    // Controls other than edits are drawn transparently on the body brush; edits keep their background.
    const HWND hStatic = dlg.GetDlgItem(kStaticId);
    const HWND hEdit = dlg.GetDlgItem(kTopEditId);
    const lumeno::WindowDc staticDc(hStatic);
    const lumeno::WindowDc editDc(hEdit);
    ::SetBkMode(staticDc.Get(), OPAQUE);
    ::SetBkMode(editDc.Get(), OPAQUE);
    const auto staticBrush = reinterpret_cast<HBRUSH>(dlg.SendMessage(
        WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(staticDc.Get()), reinterpret_cast<LPARAM>(hStatic)));
    const auto editBrush = reinterpret_cast<HBRUSH>(
        dlg.SendMessage(WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(editDc.Get()), reinterpret_cast<LPARAM>(hEdit)));
    EXPECT_EQ(::GetBkMode(staticDc.Get()), TRANSPARENT);
    EXPECT_EQ(::GetBkMode(editDc.Get()), OPAQUE);
    EXPECT_EQ(staticBrush, editBrush);
    LOGBRUSH lb{};
    ASSERT_EQ(::GetObjectW(staticBrush, sizeof(lb), &lb), static_cast<int>(sizeof(lb)));
    EXPECT_EQ(lb.lbColor, RGB(236, 236, 236));
    dlg.DestroyWindow();
}

namespace {

// The main window's layout: its template with the three state-image buttons bound to it.
class CMainLayoutDialog : public CStyleDialog {
public:
    CMainLayoutDialog() : CStyleDialog(IDD_MAIN)
    {
        for (CImgButton* button : {&m_btnStart, &m_btnStop, &m_btnSettings})
            button->m_bStateImages = TRUE;
        m_btnStart.m_nImageId = IDB_START;
        m_btnStart.m_nDisabledImageId = IDB_START_DISABLED;
        m_btnStop.m_nImageId = IDB_STOP;
        m_btnStop.m_nDisabledImageId = IDB_STOP_DISABLED;
        m_btnSettings.m_nImageId = IDB_SETTINGS;
    }

    CImgButton m_btnStart;
    CImgButton m_btnStop;
    CImgButton m_btnSettings;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_START, m_btnStart);
        DDX_Control(pDX, IDC_STOP, m_btnStop);
        DDX_Control(pDX, IDC_SETTINGS, m_btnSettings);
    }
    BOOL OnInitDialog() override
    {
        CStyleDialog::OnInitDialog();
        const HICON hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hIcon));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hIcon));
        SetWindowText(L"Lumeno");
        m_btnStop.EnableWindow(FALSE);
        return TRUE;
    }
};

class CAboutLayoutDialog : public CStyleDialog {
public:
    CAboutLayoutDialog() : CStyleDialog(IDD_ABOUTBOX) {}
};

}  // namespace

// Run by tools/screenshot-dialogs.sh, which names the output file in LUMENO_SCREENSHOT.
TEST_F(StyleDialogTest, DISABLED_Screenshot)
{
    const char* output = std::getenv("LUMENO_SCREENSHOT");
    ASSERT_NE(output, nullptr);
    // A white backdrop, so that the shadows show.
    CWnd backdrop;
    ASSERT_TRUE(backdrop.CreateEx(0, PlainWindowClass(), L"", WS_POPUP | WS_VISIBLE, RECT{0, 0, 800, 600}, nullptr, 0));
    CMainLayoutDialog mainDialog;
    ASSERT_TRUE(mainDialog.Create());
    ::SetWindowPos(mainDialog.m_hWnd, nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    CAboutLayoutDialog about;
    ASSERT_TRUE(about.Create());
    ::SetWindowPos(about.m_hWnd, nullptr, 440, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    about.ShowWindow(SW_SHOW);
    PumpMessages(800);
    // The pointer over Settings: its hover gradient.
    ::SendMessageW(mainDialog.m_btnSettings.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(60, 60));
    mainDialog.m_btnSettings.Invalidate(FALSE);
    ::UpdateWindow(mainDialog.m_btnSettings.m_hWnd);
    PumpMessages(300);
    int exitCode = -1;
    const std::string log = RunHost("import -window root '" + std::string(output) + "'", &exitCode, 60000);
    EXPECT_EQ(exitCode, 0) << log;
}
