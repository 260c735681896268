// The resource script as the program sees it: each dialog template created for real, the icons,
// the string, the version and the manifest.

#include "res/resource.h"
#include "framework/Handles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct ExpectedControl {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    RECT rect;  // x, y, right, bottom in dialog units
    DWORD style;
};

constexpr RECT Dlu(int x, int y, int w, int h)
{
    return RECT{x, y, x + w, y + h};
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kStatic = kChild | WS_GROUP | SS_LEFT;
constexpr DWORD kGroupBox = kChild | BS_GROUPBOX;
constexpr DWORD kEdit = kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD kCheckBox = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;

// Style bits the dialog manager and the controls leave as the template gave them. Buttons may
// swap BS_DEFPUSHBUTTON with BS_PUSHBUTTON as the focus moves, so the type bits of push buttons are
// checked separately, before anything gets the focus.
constexpr DWORD kComparedStyle = 0xFFFF | WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_BORDER | WS_VSCROLL |
                                 WS_HSCROLL | WS_DISABLED | WS_POPUP;

const std::vector<ExpectedControl> kMainControls = {
    {IDC_STORAGE_INFO, L"Button", L"Button2", Dlu(0, 0, 246, 46), kChild},
    {IDC_START, L"Button", L"开始", Dlu(8, 55, 74, 68), kChild | WS_TABSTOP},
    {IDC_STOP, L"Button", L"停止", Dlu(86, 55, 74, 68), kChild | WS_TABSTOP},
    {IDC_SETTINGS, L"Button", L"设置...", Dlu(164, 55, 74, 68), kChild | WS_TABSTOP},
};

const std::vector<ExpectedControl> kAboutControls = {
    {-1, L"Static", nullptr, Dlu(14, 14, 21, 20), kChild | SS_ICON},
    {-1, L"Static", L"Lumeno，1.0 版", Dlu(42, 14, 114, 8), kStatic | SS_NOPREFIX},
    {-1, L"Static", nullptr, Dlu(42, 26, 114, 8), kStatic},
    {IDOK, L"Button", L"确定", Dlu(113, 41, 50, 14), kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON},
};

const std::vector<ExpectedControl> kSettingsControls = {
    {-1, L"Button", L"基础（标注*的项将在下次运行软件时生效）", Dlu(7, 7, 223, 59), kGroupBox},
    {-1, L"Static", L"存储位置*", Dlu(15, 21, 38, 8), kStatic},
    {IDC_STORAGE_PATH, L"Edit", L"", Dlu(57, 19, 150, 12), kEdit | ES_READONLY},
    {IDC_BROWSE, L"Button", L"...", Dlu(209, 18, 18, 14), kChild | WS_TABSTOP | BS_PUSHBUTTON},
    {-1, L"Static", L"保留时长*", Dlu(15, 35, 38, 8), kStatic},
    {IDC_RETENTION, L"Edit", L"", Dlu(57, 33, 31, 12), kEdit | ES_NUMBER},
    {-1, L"Static", L"分钟", Dlu(93, 35, 32, 8), kStatic},
    {-1, L"Button", L"常规", Dlu(7, 72, 223, 45), kGroupBox},
    {IDC_AUTORUN, L"Button", L"登录Windows后自动启动", Dlu(15, 85, 203, 8), kCheckBox},
    {IDC_AUTORECORD, L"Button", L"启动软件后自动开始录制", Dlu(15, 98, 203, 8), kCheckBox},
    {-1, L"Button", L"视频画面附加", Dlu(7, 124, 223, 80), kGroupBox},
    {-1, L"Static", L"时间2时区", Dlu(15, 139, 38, 8), kStatic},
    {IDC_TIMEZONE2, L"ComboBox", L"", Dlu(57, 137, 150, 12), kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST},
    {-1, L"Static", L"名称", Dlu(17, 155, 38, 8), kStatic},
    {IDC_NAME, L"Edit", L"", Dlu(57, 153, 150, 12), kEdit},
    {-1, L"Static", L"平台", Dlu(17, 171, 38, 8), kStatic},
    {IDC_PLATFORM, L"Edit", L"", Dlu(57, 169, 150, 12), kEdit},
    {-1, L"Static", L"帐号", Dlu(17, 187, 38, 8), kStatic},
    {IDC_ACCOUNT, L"Edit", L"", Dlu(57, 185, 150, 12), kEdit},
    {IDOK, L"Button", L"确定", Dlu(127, 223, 50, 14), kChild | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {IDCANCEL, L"Button", L"取消", Dlu(180, 223, 50, 14), kChild | WS_TABSTOP | BS_PUSHBUTTON},
    {IDC_AUTOCLEAR, L"Button", L"自动清除其他文件(勿将其他文件放至视频存储目录)*", Dlu(15, 52, 203, 8), kCheckBox},
};

// Keeps the template's state: no focus moves, no default-button changes, no painting of our own.
INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// A dialog created from a template of this executable, destroyed at the end of the test.
class TemplateDialog {
public:
    explicit TemplateDialog(int id)
        : m_hwnd(::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr, PlainDialogProc, 0))
    {
    }
    ~TemplateDialog()
    {
        if (m_hwnd)
            ::DestroyWindow(m_hwnd);
    }
    TemplateDialog(const TemplateDialog&) = delete;
    TemplateDialog& operator=(const TemplateDialog&) = delete;
    HWND Get() const { return m_hwnd; }

private:
    HWND m_hwnd;
};

std::wstring WindowText(HWND hwnd)
{
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassName(HWND hwnd)
{
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    return name;
}

RECT ToPixels(HWND dialog, RECT dlu)
{
    ::MapDialogRect(dialog, &dlu);
    return dlu;
}

// Position and size in pixels, each converted on its own as the dialog manager does when it
// creates a control (so right = x + w in pixels, not the conversion of x + w in dialog units).
RECT ToPixelsBySize(HWND dialog, RECT dlu)
{
    RECT origin{dlu.left, dlu.top, dlu.right - dlu.left, dlu.bottom - dlu.top};
    ::MapDialogRect(dialog, &origin);
    return RECT{origin.left, origin.top, origin.left + origin.right, origin.top + origin.bottom};
}

RECT ChildRect(HWND dialog, HWND child)
{
    RECT rect;
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::vector<HWND> ChildrenInOrder(HWND dialog)
{
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

void ExpectControls(HWND dialog, const std::vector<ExpectedControl>& expected)
{
    const std::vector<HWND> children = ChildrenInOrder(dialog);
    ASSERT_EQ(children.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const ExpectedControl& e = expected[i];
        const HWND child = children[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " id " << e.id);
        EXPECT_EQ(::GetDlgCtrlID(child), e.id);
        EXPECT_EQ(::lstrcmpiW(ClassName(child).c_str(), e.className), 0);
        if (e.text) {
            EXPECT_TRUE(WindowText(child) == e.text);
        }
        auto style = static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE));
        // The dialog manager draws an edit control's WS_BORDER as a sunken client edge.
        if (::GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
            style |= WS_BORDER;
        DWORD wantStyle = e.style;
        const bool isCombo = ::lstrcmpiW(e.className, L"ComboBox") == 0;
        if (isCombo) {
            // A combo box hands its scroll bar style on to its list, which shows the bar (and
            // so the style bit) only when it has more entries than fit.
            wantStyle &= ~WS_VSCROLL;
            style &= ~WS_VSCROLL;
        }
        EXPECT_EQ(style & kComparedStyle, wantStyle & kComparedStyle) << std::hex << style;

        const RECT want = ToPixelsBySize(dialog, e.rect);
        const RECT got = ChildRect(dialog, child);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        // An icon control takes the size of its icon.
        if ((e.style & SS_TYPEMASK) == SS_ICON && ::lstrcmpiW(e.className, L"Static") == 0)
            continue;
        EXPECT_EQ(got.right, want.right);
        // A drop-down list's window is as tall as its selection field; the template's height is
        // the list's, used when it drops down.
        if (isCombo)
            EXPECT_LE(got.bottom, want.bottom + 4);
        else
            EXPECT_EQ(got.bottom, want.bottom);
    }
}

void ExpectDialogFrame(HWND dialog, int widthDlu, int heightDlu, DWORD style, DWORD exStyle, int pointSize)
{
    const auto actualStyle = static_cast<DWORD>(::GetWindowLongW(dialog, GWL_STYLE));
    // The dialog manager adds DS_3DLOOK to every dialog and WS_CLIPSIBLINGS to top-level ones.
    EXPECT_EQ(actualStyle & ~(WS_CLIPSIBLINGS | DS_3DLOOK), style) << std::hex << actualStyle;
    const auto actualEx = static_cast<DWORD>(::GetWindowLongW(dialog, GWL_EXSTYLE));
    EXPECT_EQ(actualEx & exStyle, exStyle) << std::hex << actualEx;

    RECT client;
    ::GetClientRect(dialog, &client);
    const RECT want = ToPixels(dialog, Dlu(0, 0, widthDlu, heightDlu));
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);

    // The template's font, at its point size for the screen's resolution.
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW logFont{};
    ASSERT_NE(::GetObjectW(font, sizeof(logFont), &logFont), 0);
    EXPECT_TRUE(std::wstring(logFont.lfFaceName) == L"MS Shell Dlg") << testsupport::Narrow(logFont.lfFaceName);
    lumeno::WindowDc screen(nullptr);
    EXPECT_EQ(logFont.lfHeight, -::MulDiv(pointSize, ::GetDeviceCaps(screen.Get(), LOGPIXELSY), 72));
}

}  // namespace

TEST(DialogTemplates, MainWindowHasItsFourButtons)
{
    TemplateDialog dialog(IDD_MAIN);
    ASSERT_NE(dialog.Get(), nullptr);
    ExpectDialogFrame(dialog.Get(), 246, 149, 0x90080048, WS_EX_APPWINDOW, 9);
    EXPECT_TRUE(WindowText(dialog.Get()).empty());
    ExpectControls(dialog.Get(), kMainControls);
}

TEST(DialogTemplates, AboutBoxHasIconTextsAndOk)
{
    TemplateDialog dialog(IDD_ABOUTBOX);
    ASSERT_NE(dialog.Get(), nullptr);
    const auto style = static_cast<DWORD>(::GetWindowLongW(dialog.Get(), GWL_STYLE));
    EXPECT_EQ(style & ~(WS_CLIPSIBLINGS | DS_3DLOOK), 0x80C800C8u) << std::hex << style;
    EXPECT_TRUE(WindowText(dialog.Get()) == L"关于 Lumeno");
    ExpectControls(dialog.Get(), kAboutControls);

    // The icon control shows the program's icon, and the second line says something.
    const HWND icon = ::GetWindow(dialog.Get(), GW_CHILD);
    EXPECT_NE(::SendMessageW(icon, STM_GETICON, 0, 0), 0);
    const HWND secondLine = ::GetWindow(::GetWindow(icon, GW_HWNDNEXT), GW_HWNDNEXT);
    EXPECT_FALSE(WindowText(secondLine).empty());

    // Font and size of the client area, measured without the caption the template asks for.
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(dialog.Get(), WM_GETFONT, 0, 0));
    LOGFONTW logFont{};
    ASSERT_NE(::GetObjectW(font, sizeof(logFont), &logFont), 0);
    EXPECT_TRUE(std::wstring(logFont.lfFaceName) == L"MS Shell Dlg");
    RECT client;
    ::GetClientRect(dialog.Get(), &client);
    const RECT want = ToPixels(dialog.Get(), Dlu(0, 0, 170, 62));
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
}

TEST(DialogTemplates, SettingsDialogHasEveryFieldInTabOrder)
{
    TemplateDialog dialog(IDD_SETTINGS);
    ASSERT_NE(dialog.Get(), nullptr);
    ExpectDialogFrame(dialog.Get(), 241, 244, 0x90080048, 0, 8);
    EXPECT_TRUE(WindowText(dialog.Get()).empty());
    ExpectControls(dialog.Get(), kSettingsControls);

    // Tab order: the delete-other-files box is reached last, after Cancel, although it sits in
    // the first group box.
    std::vector<int> tabOrder;
    HWND first = ::GetNextDlgTabItem(dialog.Get(), nullptr, FALSE);
    for (HWND item = first; item;) {
        tabOrder.push_back(::GetDlgCtrlID(item));
        item = ::GetNextDlgTabItem(dialog.Get(), item, FALSE);
        if (item == first)
            break;
    }
    const std::vector<int> expected = {IDC_STORAGE_PATH, IDC_BROWSE, IDC_RETENTION, IDC_AUTORUN,  IDC_AUTORECORD,
                                       IDC_TIMEZONE2,    IDC_NAME,   IDC_PLATFORM,  IDC_ACCOUNT,  IDOK,
                                       IDCANCEL,         IDC_AUTOCLEAR};
    EXPECT_EQ(tabOrder, expected);
}

namespace {

// The BITMAPINFOHEADER of the icon image that best fits size x size in group icon groupId.
BITMAPINFOHEADER IconImageHeader(UINT groupId, int size)
{
    HRSRC group = ::FindResourceW(nullptr, MAKEINTRESOURCEW(groupId), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    if (!group)
        return {};
    auto* dir = static_cast<BYTE*>(::LockResource(::LoadResource(nullptr, group)));
    const int imageId = ::LookupIconIdFromDirectoryEx(dir, TRUE, size, size, LR_DEFAULTCOLOR);
    HRSRC image = ::FindResourceW(nullptr, MAKEINTRESOURCEW(imageId), MAKEINTRESOURCEW(3));  // RT_ICON
    if (!image)
        return {};
    BITMAPINFOHEADER header;
    std::memcpy(&header, ::LockResource(::LoadResource(nullptr, image)), sizeof(header));
    return header;
}

}  // namespace

TEST(ResourceScript, IconsHaveTheirSizesInThirtyTwoBits)
{
    struct Icon {
        UINT id;
        int size;
    };
    for (const Icon& icon : {Icon{IDR_MAINFRAME, 48}, Icon{IDR_MAINFRAME, 32}, Icon{IDR_MAINFRAME, 16},
                             Icon{IDI_TRAY_IDLE, 16}, Icon{IDI_TRAY_RECORDING, 16}}) {
        SCOPED_TRACE(testing::Message() << icon.id << " at " << icon.size);
        const BITMAPINFOHEADER header = IconImageHeader(icon.id, icon.size);
        EXPECT_EQ(header.biWidth, icon.size);
        EXPECT_EQ(header.biHeight, icon.size * 2);  // colour and mask
        EXPECT_EQ(header.biBitCount, 32);
        lumeno::UniqueIcon loaded(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                                   MAKEINTRESOURCEW(icon.id), IMAGE_ICON,
                                                                   icon.size, icon.size, 0)));
        EXPECT_TRUE(loaded);
    }
}

TEST(ResourceScript, AboutMenuStringLoads)
{
    wchar_t text[64] = {};
    ASSERT_GT(::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, 64), 0);
    EXPECT_TRUE(std::wstring(text) == L"关于 Lumeno(&A)...");
}

TEST(ResourceScript, ManifestAsksForCommonControlsSixAndDpiAwareness)
{
    const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
    const std::string manifest(bytes, ::SizeofResource(nullptr, found));
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("<dpiAware>true/pm</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find("<dpiAwareness>PerMonitor"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // Windows 10
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // Windows 7
}

TEST(ResourceScript, VersionNamesTheProduct)
{
    wchar_t path[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    wchar_t* product = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\080404b0\\ProductName",
                                 reinterpret_cast<void**>(&product), &length));
    EXPECT_TRUE(std::wstring(product) == L"Lumeno");
}
