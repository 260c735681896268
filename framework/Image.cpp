#include "framework/Image.h"

#include "framework/DcCache.h"
#include "framework/GdiPlusStarter.h"

#include <gdiplus.h>

#include <cstring>
#include <utility>

namespace lumeno {

namespace {

namespace gp = Gdiplus::DllExports;

// Owner of a decoded GDI+ bitmap for the length of one Load.
class GpBitmapOwner {
public:
    GpBitmapOwner() = default;
    ~GpBitmapOwner()
    {
        if (m_p)
            gp::GdipDisposeImage(m_p);
    }
    GpBitmapOwner(const GpBitmapOwner&) = delete;
    GpBitmapOwner& operator=(const GpBitmapOwner&) = delete;
    Gdiplus::GpBitmap** Put() noexcept { return &m_p; }
    [[nodiscard]] Gdiplus::GpBitmap* Get() const noexcept { return m_p; }

private:
    Gdiplus::GpBitmap* m_p = nullptr;
};

// Locked pixels of a GDI+ bitmap, unlocked on destruction.
class GpBitsLock {
public:
    GpBitsLock(Gdiplus::GpBitmap* bitmap, int width, int height, Gdiplus::PixelFormat format) : m_bitmap(bitmap)
    {
        Gdiplus::GpRect rect(0, 0, width, height);
        m_bLocked = gp::GdipBitmapLockBits(bitmap, &rect, Gdiplus::ImageLockModeRead, format, &m_data) == Gdiplus::Ok;
    }
    ~GpBitsLock()
    {
        if (m_bLocked)
            gp::GdipBitmapUnlockBits(m_bitmap, &m_data);
    }
    GpBitsLock(const GpBitsLock&) = delete;
    GpBitsLock& operator=(const GpBitsLock&) = delete;
    [[nodiscard]] bool IsLocked() const noexcept { return m_bLocked; }
    [[nodiscard]] const Gdiplus::BitmapData& Data() const noexcept { return m_data; }

private:
    Gdiplus::GpBitmap* m_bitmap;
    Gdiplus::BitmapData m_data{};
    bool m_bLocked = false;
};

HRESULT FromGdiplus(Gdiplus::GpStatus status)
{
    switch (status) {
    case Gdiplus::Ok:
        return S_OK;
    case Gdiplus::OutOfMemory:
        return E_OUTOFMEMORY;
    case Gdiplus::InvalidParameter:
    case Gdiplus::UnknownImageFormat:
        return E_INVALIDARG;
    default:
        return E_FAIL;
    }
}

bool FormatHasAlpha(Gdiplus::GpBitmap* bitmap, Gdiplus::PixelFormat format)
{
    if (format & (PixelFormatAlpha | PixelFormatPAlpha))
        return true;
    // Palette images (a PNG with a transparency chunk, a GIF) report alpha through the flags.
    UINT flags = 0;
    return gp::GdipGetImageFlags(reinterpret_cast<Gdiplus::GpImage*>(bitmap), &flags) == Gdiplus::Ok &&
           (flags & Gdiplus::ImageFlagsHasAlpha) != 0;
}

BLENDFUNCTION Blend(bool bPerPixel, BYTE bSrcAlpha, BYTE bBlendOp)
{
    return BLENDFUNCTION{bBlendOp, 0, bSrcAlpha, static_cast<BYTE>(bPerPixel ? AC_SRC_ALPHA : 0)};
}

}  // namespace

CImage::CImage(CImage&& other) noexcept
    : m_bitmap(std::move(other.m_bitmap)),
      m_pBits(std::exchange(other.m_pBits, nullptr)),
      m_nWidth(std::exchange(other.m_nWidth, 0)),
      m_nHeight(std::exchange(other.m_nHeight, 0)),
      m_nPitch(std::exchange(other.m_nPitch, 0)),
      m_nBPP(std::exchange(other.m_nBPP, 0)),
      m_bHasAlpha(std::exchange(other.m_bHasAlpha, false)),
      m_clrTransparent(std::exchange(other.m_clrTransparent, CLR_INVALID))
{
}

CImage& CImage::operator=(CImage&& other) noexcept
{
    if (this != &other) {
        m_bitmap = std::move(other.m_bitmap);
        m_pBits = std::exchange(other.m_pBits, nullptr);
        m_nWidth = std::exchange(other.m_nWidth, 0);
        m_nHeight = std::exchange(other.m_nHeight, 0);
        m_nPitch = std::exchange(other.m_nPitch, 0);
        m_nBPP = std::exchange(other.m_nBPP, 0);
        m_bHasAlpha = std::exchange(other.m_bHasAlpha, false);
        m_clrTransparent = std::exchange(other.m_clrTransparent, CLR_INVALID);
    }
    return *this;
}

void CImage::Destroy() noexcept
{
    m_bitmap.Reset();
    m_pBits = nullptr;
    m_nWidth = m_nHeight = m_nPitch = m_nBPP = 0;
    m_bHasAlpha = false;
}

BOOL CImage::Create(int nWidth, int nHeight, int nBPP, bool bAlpha)
{
    Destroy();
    if (nWidth <= 0 || nHeight <= 0 || (nBPP != 24 && nBPP != 32) || (bAlpha && nBPP != 32))
        return FALSE;
    const long long pitch = ((static_cast<long long>(nWidth) * nBPP + 31) / 32) * 4;
    if (pitch * nHeight > 0x7FFFFFFF)
        return FALSE;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = nWidth;
    info.bmiHeader.biHeight = -nHeight;  // top-down: row 0 first, so the pitch is positive
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(nBPP);
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits)
        return FALSE;

    m_bitmap = std::move(bitmap);
    m_pBits = static_cast<std::uint8_t*>(bits);
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    m_nPitch = static_cast<int>(pitch);
    m_nBPP = nBPP;
    m_bHasAlpha = bAlpha;
    return TRUE;
}

HRESULT CImage::Load(IStream* pStream)
{
    Destroy();
    if (!pStream)
        return E_POINTER;
    if (!CGdiPlusStarter::Shared().Start())
        return E_FAIL;

    GpBitmapOwner decoded;
    Gdiplus::GpStatus status = gp::GdipCreateBitmapFromStream(pStream, decoded.Put());
    if (status != Gdiplus::Ok || !decoded.Get())
        return status != Gdiplus::Ok ? FromGdiplus(status) : E_FAIL;

    auto* asImage = reinterpret_cast<Gdiplus::GpImage*>(decoded.Get());
    UINT width = 0;
    UINT height = 0;
    Gdiplus::PixelFormat format = 0;
    if (gp::GdipGetImageWidth(asImage, &width) != Gdiplus::Ok ||
        gp::GdipGetImageHeight(asImage, &height) != Gdiplus::Ok ||
        gp::GdipGetImagePixelFormat(asImage, &format) != Gdiplus::Ok || width == 0 || height == 0 ||
        width > 0x7FFF || height > 0x7FFF)
        return E_FAIL;

    const bool alpha = FormatHasAlpha(decoded.Get(), format);
    const int bpp = alpha ? 32 : 24;
    if (!Create(static_cast<int>(width), static_cast<int>(height), bpp, alpha))
        return E_OUTOFMEMORY;

    // GDI+'s 32bppARGB is BGRA in memory with straight alpha, and 24bppRGB is BGR: the DIB's layout.
    GpBitsLock lock(decoded.Get(), m_nWidth, m_nHeight, alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB);
    if (!lock.IsLocked()) {
        Destroy();
        return E_FAIL;
    }
    const auto& data = lock.Data();
    const auto* source = static_cast<const std::uint8_t*>(data.Scan0);
    const std::size_t rowBytes = static_cast<std::size_t>(m_nWidth) * (bpp / 8);
    for (int y = 0; y < m_nHeight; ++y) {
        const std::ptrdiff_t row = y;
        std::memcpy(m_pBits + row * m_nPitch, source + row * data.Stride, rowBytes);
    }
    ::GdiFlush();
    return S_OK;
}

std::uint8_t* CImage::GetPixelAddress(int x, int y) noexcept
{
    if (!m_pBits || x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight)
        return nullptr;
    return m_pBits + static_cast<std::ptrdiff_t>(y) * m_nPitch + static_cast<std::ptrdiff_t>(x) * (m_nBPP / 8);
}

COLORREF CImage::SetTransparentColor(COLORREF color) noexcept
{
    return std::exchange(m_clrTransparent, color);
}

BOOL CImage::AlphaBlend(HDC hDestDC, int xDest, int yDest, BYTE bSrcAlpha, BYTE bBlendOp) const
{
    const RECT dest{xDest, yDest, xDest + m_nWidth, yDest + m_nHeight};
    const RECT source{0, 0, m_nWidth, m_nHeight};
    return AlphaBlend(hDestDC, dest, source, bSrcAlpha, bBlendOp);
}

BOOL CImage::AlphaBlend(HDC hDestDC, const RECT& rectDest, const RECT& rectSrc, BYTE bSrcAlpha,
                        BYTE bBlendOp) const
{
    if (IsNull() || !hDestDC)
        return FALSE;
    CLentDc source(m_bitmap.Get());
    if (!source)
        return FALSE;
    return ::AlphaBlend(hDestDC, rectDest.left, rectDest.top, rectDest.right - rectDest.left,
                        rectDest.bottom - rectDest.top, source.Get(), rectSrc.left, rectSrc.top,
                        rectSrc.right - rectSrc.left, rectSrc.bottom - rectSrc.top,
                        Blend(m_bHasAlpha, bSrcAlpha, bBlendOp));
}

BOOL CImage::Draw(HDC hDestDC, int xDest, int yDest) const
{
    const RECT dest{xDest, yDest, xDest + m_nWidth, yDest + m_nHeight};
    const RECT source{0, 0, m_nWidth, m_nHeight};
    return Draw(hDestDC, dest, source);
}

BOOL CImage::Draw(HDC hDestDC, const RECT& rectDest, const RECT& rectSrc) const
{
    if (IsNull() || !hDestDC)
        return FALSE;
    CLentDc source(m_bitmap.Get());
    if (!source)
        return FALSE;
    const int dw = rectDest.right - rectDest.left;
    const int dh = rectDest.bottom - rectDest.top;
    const int sw = rectSrc.right - rectSrc.left;
    const int sh = rectSrc.bottom - rectSrc.top;
    if (m_clrTransparent != CLR_INVALID)
        return ::TransparentBlt(hDestDC, rectDest.left, rectDest.top, dw, dh, source.Get(), rectSrc.left,
                                rectSrc.top, sw, sh, m_clrTransparent);
    if (m_bHasAlpha)
        return ::AlphaBlend(hDestDC, rectDest.left, rectDest.top, dw, dh, source.Get(), rectSrc.left, rectSrc.top,
                            sw, sh, Blend(true, 0xFF, AC_SRC_OVER));
    if (dw == sw && dh == sh)
        return ::BitBlt(hDestDC, rectDest.left, rectDest.top, dw, dh, source.Get(), rectSrc.left, rectSrc.top,
                        SRCCOPY);
    const int oldMode = ::SetStretchBltMode(hDestDC, COLORONCOLOR);
    const BOOL ok = ::StretchBlt(hDestDC, rectDest.left, rectDest.top, dw, dh, source.Get(), rectSrc.left,
                                 rectSrc.top, sw, sh, SRCCOPY);
    if (oldMode)
        ::SetStretchBltMode(hDestDC, oldMode);
    return ok;
}

HRESULT CImage::SavePng(const std::wstring& path) const
{
    // GDI+'s built-in PNG encoder.
    static const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    if (IsNull() || (m_nBPP != 24 && m_nBPP != 32))
        return E_INVALIDARG;
    if (!CGdiPlusStarter::Shared().Start())
        return E_FAIL;
    GpBitmapOwner bitmap;
    const Gdiplus::PixelFormat format = m_nBPP == 24 ? PixelFormat24bppRGB : PixelFormat32bppRGB;
    if (const HRESULT hr =
            FromGdiplus(gp::GdipCreateBitmapFromScan0(m_nWidth, m_nHeight, m_nPitch, format, m_pBits, bitmap.Put()));
        FAILED(hr))
        return hr;
    return FromGdiplus(gp::GdipSaveImageToFile(bitmap.Get(), path.c_str(), &kPngEncoder, nullptr));
}

}  // namespace lumeno
