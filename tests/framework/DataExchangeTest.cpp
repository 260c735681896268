#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

#include "framework/DataExchange.h"
#include "framework/Dialog.h"
#include "support/DialogTemplate.h"
#include "support/ModalScript.h"
#include "support/WindowTestSupport.h"

using namespace testsupport;

namespace {

constexpr int kNameId = 200;
constexpr int kCountId = 201;
constexpr int kFlagId = 202;
constexpr int kListId = 203;
constexpr int kAfterId = 204;

class CCountingCombo : public CWnd {
public:
    int attachCount = 0;

protected:
    void PreSubclassWindow() override { ++attachCount; }
};

class CFieldsDialog : public CDialog {
public:
    explicit CFieldsDialog(const DLGTEMPLATE* pTemplate) : CDialog(pTemplate) {}

    std::wstring m_strName = L"名称";
    int m_nCount = 15;
    int m_bFlag = 1;
    CCountingCombo m_cbList;
    std::wstring m_strAfter = L"after";

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, kNameId, m_strName);
        DDX_Text(pDX, kCountId, m_nCount);
        DDX_Check(pDX, kFlagId, m_bFlag);
        DDX_Control(pDX, kListId, m_cbList);
        DDX_Text(pDX, kAfterId, m_strAfter);
    }
};

DialogTemplate FieldsTemplate()
{
    DialogTemplate t(WS_POPUP | WS_VISIBLE | WS_BORDER, 160, 90, L"fields");
    t.Add(DialogTemplate::kEdit, kNameId, WS_VISIBLE | WS_BORDER | WS_TABSTOP, 5, 5, 80, 12)
        .Add(DialogTemplate::kEdit, kCountId, WS_VISIBLE | WS_BORDER | WS_TABSTOP, 5, 20, 40, 12)
        .Add(DialogTemplate::kButton, kFlagId, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 5, 35, 60, 10, L"flag")
        .Add(DialogTemplate::kComboBox, kListId, WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, 5, 50, 60, 50)
        .Add(DialogTemplate::kEdit, kAfterId, WS_VISIBLE | WS_BORDER | WS_TABSTOP, 5, 70, 80, 12);
    return t;
}

std::wstring ItemText(HWND hDlg, int id)
{
    wchar_t text[128] = {};
    ::GetDlgItemTextW(hDlg, id, text, 128);
    return text;
}

}  // namespace

TEST(DataExchange, ParsesWholeDecimalIntegersOnly)
{
    EXPECT_EQ(ParseDialogInteger(L"42"), 42);
    EXPECT_EQ(ParseDialogInteger(L"  -7\t"), -7);
    EXPECT_EQ(ParseDialogInteger(L"+3"), 3);
    EXPECT_EQ(ParseDialogInteger(L"0"), 0);
    EXPECT_EQ(ParseDialogInteger(L"007"), 7);
    EXPECT_EQ(ParseDialogInteger(L"2147483647"), INT_MAX);
    EXPECT_EQ(ParseDialogInteger(L"-2147483648"), INT_MIN);
    for (const wchar_t* bad : {L"", L"  ", L"abc", L"12a", L"1 2", L"-", L"+", L"1.5", L"2147483648", L"-2147483649",
                               L"99999999999999999999", L"0x10", L"１２"}) {
        EXPECT_FALSE(ParseDialogInteger(bad).has_value()) << testing::PrintToString(std::wstring(bad));
    }
}

TEST(DataExchange, MovesEveryKindOfValueBothWaysAndBindsTheControlOnce)
{
    DialogTemplate t = FieldsTemplate();
    CFieldsDialog dlg(t.Get());
    ASSERT_TRUE(dlg.Create());

    // OnInitDialog's UpdateData(FALSE) filled the controls and attached the combo box.
    EXPECT_EQ(ItemText(dlg.m_hWnd, kNameId), L"名称");
    EXPECT_EQ(ItemText(dlg.m_hWnd, kCountId), L"15");
    EXPECT_EQ(::SendDlgItemMessageW(dlg.m_hWnd, kFlagId, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(dlg.m_cbList.m_hWnd, dlg.GetDlgItem(kListId));
    EXPECT_EQ(dlg.m_cbList.attachCount, 1);

    ::SetDlgItemTextW(dlg.m_hWnd, kNameId, L"交易员");
    ::SetDlgItemTextW(dlg.m_hWnd, kCountId, L" -30 ");
    ::SendDlgItemMessageW(dlg.m_hWnd, kFlagId, BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_TRUE(dlg.UpdateData(TRUE));
    EXPECT_EQ(dlg.m_strName, L"交易员");
    EXPECT_EQ(dlg.m_nCount, -30);
    EXPECT_EQ(dlg.m_bFlag, 0);
    EXPECT_EQ(dlg.m_cbList.attachCount, 1);

    dlg.m_nCount = 2147483647;
    dlg.m_bFlag = 1;
    EXPECT_TRUE(dlg.UpdateData(FALSE));
    EXPECT_EQ(ItemText(dlg.m_hWnd, kCountId), L"2147483647");
    EXPECT_EQ(::SendDlgItemMessageW(dlg.m_hWnd, kFlagId, BM_GETCHECK, 0, 0), BST_CHECKED);

    // A value that is no check state shows unchecked.
    dlg.m_bFlag = 7;
    EXPECT_TRUE(dlg.UpdateData(FALSE));
    EXPECT_EQ(::SendDlgItemMessageW(dlg.m_hWnd, kFlagId, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    dlg.DestroyWindow();
}

TEST(DataExchange, NonIntegerPromptsAndPutsTheFocusBackOnTheField)
{
    DialogTemplate t = FieldsTemplate();
    CFieldsDialog dlg(t.Get());
    ASSERT_TRUE(dlg.Create());
    ::SetDlgItemTextW(dlg.m_hWnd, kNameId, L"changed");
    ::SetDlgItemTextW(dlg.m_hWnd, kCountId, L"");
    ::SetDlgItemTextW(dlg.m_hWnd, kAfterId, L"not read");
    ::SetFocus(dlg.GetDlgItem(kNameId));

    std::vector<std::wstring> promptTexts;
    std::wstring promptCaption;
    ModalScript script({[&] {
        const HWND hBox = FindOwnedDialog(dlg.m_hWnd);
        if (!hBox)
            return false;
        promptTexts = ChildTexts(hBox);
        wchar_t caption[64] = {};
        ::GetWindowTextW(hBox, caption, 64);
        promptCaption = caption;
        ::PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
    }});
    const BOOL saved = dlg.UpdateData(TRUE);  // returns once the prompt has been answered
    EXPECT_FALSE(saved);
    EXPECT_FALSE(script.TimedOut());
    EXPECT_NE(std::find(promptTexts.begin(), promptTexts.end(), std::wstring(kPromptEnterInteger)), promptTexts.end());
    EXPECT_EQ(promptCaption, L"Lumeno");
    EXPECT_EQ(::GetFocus(), dlg.GetDlgItem(kCountId));
    DWORD selStart = 1, selEnd = 0;
    ::SendDlgItemMessageW(dlg.m_hWnd, kCountId, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                          reinterpret_cast<LPARAM>(&selEnd));
    EXPECT_EQ(selStart, 0u);
    // Fields before the refused one were taken, the refused one kept its value, later ones were not read.
    EXPECT_EQ(dlg.m_strName, L"changed");
    EXPECT_EQ(dlg.m_nCount, 15);
    EXPECT_EQ(dlg.m_strAfter, L"after");
    dlg.DestroyWindow();
}
