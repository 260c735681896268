#pragma once

// Pictures stored in the program's own resources: PNGs under the type "PNG", the banner JPEG under
// "IMG". LoadResourceImage decodes one into an image; PremultiplyAlpha prepares a 32-bit image with
// alpha for AlphaBlend with AC_SRC_ALPHA.

#include "framework/Image.h"

#include <windows.h>

#include <cstdint>

namespace lumeno {

// Finds resource nId (low 16 bits) of type pszType (NULL means "IMG") in the program's own module and
// decodes it into image. TRUE exactly when the decoder succeeded; a missing resource or bytes that
// are no picture give FALSE and leave the image empty.
BOOL LoadResourceImage(LPCWSTR pszType, CImage& image, UINT nId);
// The same as a value: an empty image when the resource is missing or no picture.
[[nodiscard]] CImage LoadResourceImage(LPCWSTR pszType, UINT nId);

// Multiplies blue, green and red of every pixel by its alpha / 255 (truncating); alpha stays.
// Only 32-bit images with the alpha flag are changed: an empty or opaque image is left alone.
void PremultiplyAlpha(CImage& image);

// One BGRA pixel, the step PremultiplyAlpha applies to each.
inline void PremultiplyPixel(std::uint8_t* p) noexcept
{
    const unsigned a = p[3];
    p[0] = static_cast<std::uint8_t>(p[0] * a / 255);
    p[1] = static_cast<std::uint8_t>(p[1] * a / 255);
    p[2] = static_cast<std::uint8_t>(p[2] * a / 255);
}

}  // namespace lumeno
