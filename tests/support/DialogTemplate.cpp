#include "support/DialogTemplate.h"

#include <cstring>

namespace testsupport {

namespace {

class WordWriter {
public:
    void Word(WORD w) { m_words.push_back(w); }
    void Dword(DWORD d)
    {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const std::wstring& text)
    {
        for (wchar_t ch : text)
            Word(static_cast<WORD>(ch));
        Word(0);
    }
    void AlignDword()
    {
        if (m_words.size() % 2 != 0)
            Word(0);
    }
    [[nodiscard]] const std::vector<WORD>& Words() const { return m_words; }

private:
    std::vector<WORD> m_words;
};

}  // namespace

DialogTemplate::DialogTemplate(DWORD style, short cx, short cy, std::wstring title, WORD pointSize, std::wstring font)
    : m_style(pointSize ? (style | DS_SETFONT) : style),
      m_cx(cx),
      m_cy(cy),
      m_title(std::move(title)),
      m_pointSize(pointSize),
      m_font(std::move(font))
{
}

DialogTemplate& DialogTemplate::Add(WORD classAtom, int id, DWORD style, short x, short y, short cx, short cy,
                                    std::wstring text)
{
    m_items.push_back(Item{classAtom, id, style | WS_CHILD, x, y, cx, cy, std::move(text)});
    return *this;
}

const DLGTEMPLATE* DialogTemplate::Get()
{
    WordWriter out;
    out.Dword(m_style);
    out.Dword(0);  // extended style
    out.Word(static_cast<WORD>(m_items.size()));
    out.Word(0);  // x
    out.Word(0);  // y
    out.Word(static_cast<WORD>(m_cx));
    out.Word(static_cast<WORD>(m_cy));
    out.Word(0);  // no menu
    out.Word(0);  // the standard dialog class
    out.Text(m_title);
    if (m_style & DS_SETFONT) {
        out.Word(m_pointSize);
        out.Text(m_font);
    }
    for (const Item& item : m_items) {
        out.AlignDword();
        out.Dword(item.style);
        out.Dword(0);
        out.Word(static_cast<WORD>(item.x));
        out.Word(static_cast<WORD>(item.y));
        out.Word(static_cast<WORD>(item.cx));
        out.Word(static_cast<WORD>(item.cy));
        out.Word(static_cast<WORD>(item.id));
        out.Word(0xFFFF);
        out.Word(item.classAtom);
        out.Text(item.text);
        out.Word(0);  // no creation data
    }
    out.AlignDword();
    const std::vector<WORD>& words = out.Words();
    m_buffer.assign(words.size() / 2, 0);
    std::memcpy(m_buffer.data(), words.data(), words.size() * sizeof(WORD));
    return reinterpret_cast<const DLGTEMPLATE*>(m_buffer.data());
}

}  // namespace testsupport
