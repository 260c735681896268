#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/DataExchange.h"
#include "framework/Dialog.h"
#include "support/DialogTemplate.h"
#include "support/ModalScript.h"
#include "support/WindowTestSupport.h"

using namespace testsupport;

namespace {

constexpr int kEditId = 100;
constexpr int kCheckId = 101;

DialogTemplate SmallTemplate(DWORD style = WS_POPUP | WS_BORDER | WS_SYSMENU)
{
    DialogTemplate t(style, 120, 60, L"test");
    t.Add(DialogTemplate::kEdit, kEditId, WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 5, 5, 60, 12)
        .Add(DialogTemplate::kButton, kCheckId, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 5, 20, 60, 10, L"check")
        .Add(DialogTemplate::kButton, IDOK, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 5, 40, 40, 14, L"OK")
        .Add(DialogTemplate::kButton, IDCANCEL, WS_VISIBLE | WS_TABSTOP, 50, 40, 40, 14, L"Cancel");
    return t;
}

// Logs the framework's calls and what each of them could see.
class CProbeDialog : public CDialog {
public:
    explicit CProbeDialog(const DLGTEMPLATE* pTemplate, CWnd* pParent = nullptr) : CDialog(pTemplate, pParent) {}

    std::vector<std::string> events;
    bool editExistedAtPreInit = false;
    std::wstring text = L"initial";
    int checked = 1;
    bool closeOnOk = true;

protected:
    void PreSubclassWindow() override { events.push_back("PreSubclassWindow"); }
    int OnCreate(LPCREATESTRUCTW pcs) override
    {
        events.push_back("OnCreate");
        return CDialog::OnCreate(pcs);
    }
    void PreInitDialog() override
    {
        events.push_back("PreInitDialog");
        editExistedAtPreInit = GetDlgItem(kEditId) != nullptr;
    }
    BOOL OnInitDialog() override
    {
        events.push_back("OnInitDialog");
        return CDialog::OnInitDialog();
    }
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, kEditId, text);
        DDX_Check(pDX, kCheckId, checked);
    }
    void OnOK() override
    {
        events.push_back("OnOK");
        if (closeOnOk)
            CDialog::OnOK();
    }
    void OnCancel() override
    {
        events.push_back("OnCancel");
        CDialog::OnCancel();
    }
};

HWND CreateOwner()
{
    const HWND hWnd = ::CreateWindowExW(0, PlainWindowClass(), L"owner", WS_POPUP | WS_BORDER | WS_VISIBLE, 50, 50, 300,
                                        200, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetForegroundWindow(hWnd);
    return hWnd;
}

// Sends a key the way the keyboard would, to the focused control, for the dialog's loop to translate.
bool PostKeyToFocus(UINT vk)
{
    const HWND hFocus = ::GetFocus();
    if (!hFocus)
        return false;
    ::PostMessageW(hFocus, WM_KEYDOWN, vk, 1);
    ::PostMessageW(hFocus, WM_KEYUP, vk, 0xC0000001);
    return true;
}

}  // namespace

TEST(Dialog, CreationOrderAndOwnerDisabledWhileModal)
{
    DialogTemplate t = SmallTemplate();
    const HWND hOwner = CreateOwner();
    CWnd owner;
    ASSERT_TRUE(owner.SubclassWindow(hOwner));
    CProbeDialog dlg(t.Get(), &owner);
    bool ownerEnabledDuring = true;
    HWND dialogOwner = nullptr;
    ModalScript script({[&] {
        if (!dlg.m_hWnd || !dlg.IsWindowVisible())
            return false;
        ownerEnabledDuring = ::IsWindowEnabled(hOwner) != FALSE;
        dialogOwner = ::GetWindow(dlg.m_hWnd, GW_OWNER);
        dlg.EndDialog(77);
        return true;
    }});
    EXPECT_EQ(dlg.DoModal(), 77);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(dlg.events, (std::vector<std::string>{"PreSubclassWindow", "OnCreate", "PreInitDialog", "OnInitDialog"}));
    EXPECT_TRUE(dlg.editExistedAtPreInit);
    EXPECT_FALSE(ownerEnabledDuring);
    EXPECT_EQ(dialogOwner, hOwner);
    EXPECT_TRUE(::IsWindowEnabled(hOwner));
    EXPECT_EQ(dlg.m_hWnd, nullptr);  // the window is gone with the modal loop
    owner.DestroyWindow();
}

TEST(Dialog, EnterRunsOnOkAndEscOnCancel)
{
    DialogTemplate t = SmallTemplate();
    {
        CProbeDialog dlg(t.Get());
        dlg.text = L"before";
        ModalScript script({[&] { return dlg.m_hWnd && ::GetFocus() != nullptr; },
                            [&] {
                                ::SetDlgItemTextW(dlg.m_hWnd, kEditId, L"typed");
                                ::SendDlgItemMessageW(dlg.m_hWnd, kCheckId, BM_SETCHECK, BST_UNCHECKED, 0);
                                return PostKeyToFocus(VK_RETURN);
                            }});
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(dlg.events.back(), "OnOK");
        // OnOK read the controls back before closing.
        EXPECT_EQ(dlg.text, L"typed");
        EXPECT_EQ(dlg.checked, 0);
    }
    {
        CProbeDialog dlg(t.Get());
        ModalScript script({[&] { return dlg.m_hWnd && ::GetFocus() != nullptr; },
                            [&] {
                                ::SetDlgItemTextW(dlg.m_hWnd, kEditId, L"typed");
                                return PostKeyToFocus(VK_ESCAPE);
                            }});
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(dlg.events.back(), "OnCancel");
        EXPECT_EQ(dlg.text, L"initial");  // cancel moves nothing
    }
}

TEST(Dialog, CloseBecomesCancelAndAnOkThatStaysOpenKeepsTheDialog)
{
    DialogTemplate t = SmallTemplate();
    CProbeDialog dlg(t.Get());
    dlg.closeOnOk = false;
    int okCount = 0;
    ModalScript script({[&] { return dlg.m_hWnd && ::GetFocus() != nullptr; },
                        [&] { return PostKeyToFocus(VK_RETURN); },
                        [&] {
                            okCount = static_cast<int>(std::count(dlg.events.begin(), dlg.events.end(), "OnOK"));
                            if (okCount == 0)
                                return false;
                            dlg.PostMessage(WM_CLOSE);
                            return true;
                        }});
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(okCount, 1);
    EXPECT_EQ(dlg.events.back(), "OnCancel");
}

TEST(Dialog, MissingTemplateResourceFailsWithoutAWindow)
{
    class CMissing : public CDialog {
    public:
        CMissing() : CDialog(31999u) {}
    } dlg;
    EXPECT_EQ(dlg.DoModal(), -1);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    // The pending creation was withdrawn: the next window created is nobody's.
    const HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr,
                                        ::GetModuleHandleW(nullptr), nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
    ::DestroyWindow(hWnd);
}

TEST(Dialog, ModelessDialogFromAnInMemoryTemplate)
{
    DialogTemplate t = SmallTemplate(WS_POPUP | WS_VISIBLE);
    CProbeDialog dlg(t.Get());
    dlg.text = L"loaded";
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.events, (std::vector<std::string>{"PreSubclassWindow", "OnCreate", "PreInitDialog", "OnInitDialog"}));
    // OnInitDialog moved the members into the controls.
    wchar_t text[64] = {};
    ::GetDlgItemTextW(dlg.m_hWnd, kEditId, text, 64);
    EXPECT_STREQ(text, L"loaded");
    EXPECT_EQ(::SendDlgItemMessageW(dlg.m_hWnd, kCheckId, BM_GETCHECK, 0, 0), BST_CHECKED);
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(dlg.ModalResult(), IDCANCEL);
    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

namespace {
// A dialog that places itself during initialisation.
class CPlacedDialog : public CDialog {
public:
    explicit CPlacedDialog(const DLGTEMPLATE* pTemplate) : CDialog(pTemplate, nullptr) {}

protected:
    BOOL OnInitDialog() override
    {
        ::SetWindowPos(m_hWnd, nullptr, 7, 9, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return CDialog::OnInitDialog();
    }
};

POINT CentreOf(const RECT& rc) { return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}; }
}  // namespace

TEST(Dialog, AppearsCentredUnlessItPlacedItself)
{
    DialogTemplate t = SmallTemplate(WS_POPUP | WS_BORDER);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    {
        CProbeDialog dlg(t.Get());
        ASSERT_TRUE(dlg.Create());
        RECT rc{}, area = work;
        ::GetWindowRect(dlg.m_hWnd, &rc);
        // Without a parent the active window, if any, is the owner.
        if (const HWND owner = ::GetWindow(dlg.m_hWnd, GW_OWNER); owner && ::IsWindowVisible(owner))
            ::GetWindowRect(owner, &area);
        EXPECT_NEAR(CentreOf(rc).x, CentreOf(area).x, 1);
        EXPECT_NEAR(CentreOf(rc).y, CentreOf(area).y, 1);
        EXPECT_TRUE(dlg.DestroyWindow());
    }
    {
        CPlacedDialog dlg(t.Get());
        ASSERT_TRUE(dlg.Create());
        RECT rc{};
        ::GetWindowRect(dlg.m_hWnd, &rc);
        EXPECT_EQ(rc.left, 7);
        EXPECT_EQ(rc.top, 9);
        EXPECT_TRUE(dlg.DestroyWindow());
    }
    {
        // Over a visible owner, the dialog is centred on the owner.
        CWnd owner;
        ASSERT_TRUE(owner.SubclassWindow(CreateOwner()));
        CProbeDialog dlg(t.Get(), &owner);
        ASSERT_TRUE(dlg.Create(&owner));
        RECT rc{}, ownerRc{};
        ::GetWindowRect(dlg.m_hWnd, &rc);
        ::GetWindowRect(owner.m_hWnd, &ownerRc);
        EXPECT_NEAR(CentreOf(rc).x, CentreOf(ownerRc).x, 1);
        EXPECT_NEAR(CentreOf(rc).y, CentreOf(ownerRc).y, 1);
        EXPECT_TRUE(dlg.DestroyWindow());
    }
}
