#pragma once

// Fonts sized in tenths of a point for the screen's vertical resolution, every other attribute left
// at its default (character set DEFAULT_CHARSET), as the program's overlay, caption and panel use.

#include "framework/Handles.h"

namespace lumeno {

[[nodiscard]] UniqueFont CreatePointFont(int nPointSize, const wchar_t* faceName);

}  // namespace lumeno
