#pragma once

// Decodes one stream position of a recording into a picture, with the decoder of the same Xvid
// library (xvid_decore of xvidcore.dll) that wrote it. One object per extraction; the calling thread.

#include <windows.h>

#include <string>

#include "framework/Image.h"

class CFrameDecoder {
public:
    struct Result {
        long long llShown = -1;   // the position whose picture the image shows (an empty position
                                  // shows the last picture before it)
        long long llDecoded = 0;  // pictures decoded to get there (from the key frame before it)
    };

    // Decodes from the last key frame at or before `position` up to it, into `image` (32 bpp,
    // top row first). Fails for a position the file does not have or a picture that will not decode.
    [[nodiscard]] static HRESULT Decode(const std::wstring& path, long long position, lumeno::CImage& image,
                                        Result& result);
};
