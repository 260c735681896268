#include "framework/PointFont.h"

namespace lumeno {

UniqueFont CreatePointFont(int nPointSize, const wchar_t* faceName)
{
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, faceName, LF_FACESIZE);
    const WindowDc screen(nullptr);
    const int pixelsPerInch = screen ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
    lf.lfHeight = -::MulDiv(pixelsPerInch, nPointSize, 720);
    return UniqueFont(::CreateFontIndirectW(&lf));
}

}  // namespace lumeno
