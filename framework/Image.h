#pragma once

// CImage holds one picture as a GDI DIB section, decoded from a stream with GDI+: 32-bit BGRA with
// straight alpha and the has-alpha flag for images that carry alpha, 24-bit BGR for opaque ones.
// Rows are stored top-down, so the pixel (x, y) starts at GetBits() + y * GetPitch() + x * GetBPP() / 8.
// Drawing borrows a memory DC from the process-wide CDcCache for the duration of each call.
//
// Threads: an image belongs to the object that holds it and is used by that object's thread only.
// The shared GDI+ starter and DC cache it uses are themselves thread-safe.

#include "framework/Handles.h"

#include <objidl.h>

#include <cstdint>
#include <string>

namespace lumeno {

class CImage {
public:
    CImage() = default;
    CImage(CImage&& other) noexcept;
    CImage& operator=(CImage&& other) noexcept;
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;
    ~CImage() = default;

    // Decodes an encoded picture (PNG, JPEG, BMP, GIF...) from the stream's current position.
    // S_OK on success; any failure leaves the image empty and returns an error result.
    [[nodiscard]] HRESULT Load(IStream* pStream);

    // A blank image of the given size: bpp 24 or 32; with bAlpha (32-bit only) the has-alpha flag
    // is set. All pixels start at zero. Returns FALSE and stays empty on bad arguments or failure.
    BOOL Create(int nWidth, int nHeight, int nBPP, bool bAlpha = false);

    void Destroy() noexcept;

    // Writes a 24- or 32-bit image as a PNG file (alpha left out). S_OK on success.
    [[nodiscard]] HRESULT SavePng(const std::wstring& path) const;

    [[nodiscard]] bool IsNull() const noexcept { return !m_bitmap; }
    [[nodiscard]] int GetWidth() const noexcept { return m_nWidth; }
    [[nodiscard]] int GetHeight() const noexcept { return m_nHeight; }
    [[nodiscard]] int GetPitch() const noexcept { return m_nPitch; }
    [[nodiscard]] int GetBPP() const noexcept { return m_nBPP; }
    [[nodiscard]] bool HasAlpha() const noexcept { return m_bHasAlpha; }
    [[nodiscard]] std::uint8_t* GetBits() noexcept { return m_pBits; }
    [[nodiscard]] const std::uint8_t* GetBits() const noexcept { return m_pBits; }
    [[nodiscard]] std::uint8_t* GetPixelAddress(int x, int y) noexcept;
    [[nodiscard]] HBITMAP GetHBITMAP() const noexcept { return m_bitmap.Get(); }

    // The colour drawn transparent by Draw; CLR_INVALID (the default) for none. Returns the old one.
    COLORREF SetTransparentColor(COLORREF color) noexcept;
    [[nodiscard]] COLORREF GetTransparentColor() const noexcept { return m_clrTransparent; }

    // AlphaBlend of the whole image at its own size to (xDest, yDest). The blend is AC_SRC_OVER
    // with the given constant alpha, per-pixel (AC_SRC_ALPHA) when the image has alpha, which
    // AlphaBlend expects premultiplied. FALSE when the image is empty or the blend fails.
    BOOL AlphaBlend(HDC hDestDC, int xDest, int yDest, BYTE bSrcAlpha = 0xFF,
                    BYTE bBlendOp = AC_SRC_OVER) const;
    // AlphaBlend of the source rectangle to the destination rectangle (stretched if they differ).
    BOOL AlphaBlend(HDC hDestDC, const RECT& rectDest, const RECT& rectSrc, BYTE bSrcAlpha = 0xFF,
                    BYTE bBlendOp = AC_SRC_OVER) const;

    // The general draw rule: with a transparent colour, that colour is left out (TransparentBlt);
    // otherwise an image with alpha is blended per pixel (constant alpha 255, AC_SRC_ALPHA); any
    // other is copied (BitBlt, or StretchBlt when the sizes differ).
    BOOL Draw(HDC hDestDC, int xDest, int yDest) const;
    BOOL Draw(HDC hDestDC, const RECT& rectDest, const RECT& rectSrc) const;

private:
    UniqueBitmap m_bitmap;
    std::uint8_t* m_pBits = nullptr;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nPitch = 0;
    int m_nBPP = 0;
    bool m_bHasAlpha = false;
    COLORREF m_clrTransparent = CLR_INVALID;
};

}  // namespace lumeno
