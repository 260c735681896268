#pragma once

// An in-memory dialog template (DLGTEMPLATE with its items) for tests that need a dialog without
// a resource script.

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

class DialogTemplate {
public:
    static constexpr WORD kButton = 0x0080;
    static constexpr WORD kEdit = 0x0081;
    static constexpr WORD kStatic = 0x0082;
    static constexpr WORD kComboBox = 0x0085;

    // Size in dialog units. A font is given (DS_SETFONT is added) unless pointSize is 0.
    DialogTemplate(DWORD style, short cx, short cy, std::wstring title = L"", WORD pointSize = 9,
                   std::wstring font = L"MS Shell Dlg");

    DialogTemplate& Add(WORD classAtom, int id, DWORD style, short x, short y, short cx, short cy,
                        std::wstring text = L"");

    // Valid until the next Add or the template's destruction.
    [[nodiscard]] const DLGTEMPLATE* Get();

private:
    struct Item {
        WORD classAtom;
        int id;
        DWORD style;
        short x, y, cx, cy;
        std::wstring text;
    };

    DWORD m_style;
    short m_cx, m_cy;
    std::wstring m_title;
    WORD m_pointSize;
    std::wstring m_font;
    std::vector<Item> m_items;
    std::vector<DWORD> m_buffer;  // DWORD elements keep the template DWORD-aligned
};

}  // namespace testsupport
