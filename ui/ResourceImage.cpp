#include "ui/ResourceImage.h"

#include "ui/StreamEx.h"

namespace lumeno {

BOOL LoadResourceImage(LPCWSTR pszType, CImage& image, UINT nId)
{
    const LPCWSTR type = pszType ? pszType : L"IMG";
    const void* bytes = nullptr;
    DWORD size = 0;
    // Resource memory belongs to the loaded module: it is neither copied nor freed here.
    if (HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(nId & 0xFFFF), type)) {
        if (HGLOBAL loaded = ::LoadResource(nullptr, found)) {
            bytes = ::LockResource(loaded);
            size = bytes ? ::SizeofResource(nullptr, found) : 0;
        }
    }
    // A missing resource still goes through the decoder as an empty stream, which fails it.
    ComRef<IStreamEx> stream = IStreamEx::Create(bytes, size, false);
    const HRESULT hr = image.Load(stream.Get());
    return hr == S_OK ? TRUE : FALSE;
}

CImage LoadResourceImage(LPCWSTR pszType, UINT nId)
{
    CImage image;
    (void)LoadResourceImage(pszType, image, nId);
    return image;
}

void PremultiplyAlpha(CImage& image)
{
    if (image.IsNull() || image.GetBPP() != 32 || !image.HasAlpha())
        return;
    for (int y = 0; y < image.GetHeight(); ++y) {
        std::uint8_t* row = image.GetPixelAddress(0, y);
        for (int x = 0; x < image.GetWidth(); ++x)
            PremultiplyPixel(row + x * 4);
    }
}

}  // namespace lumeno
