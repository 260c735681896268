#pragma once

#include <sstream>

#include "media/AviFileReader.h"
#include "support/TestSupport.h"

// A recording's stream positions as its header counts them and ffprobe reads its index: 'K' a key
// frame, '_' another picture, '.' an empty position (a tick without a picture).
inline std::string PositionMap(const std::wstring& file)
{
    AviFileFigures figures;
    std::string map = SUCCEEDED(ReadAviFileFigures(file, figures)) ? std::string(figures.dwLength, '.') : "unreadable";
    std::istringstream packets(
        testsupport::RunHost("ffprobe -v error -select_streams v:0 -show_entries packet=dts,size,flags -of csv=p=0 '" +
                             testsupport::UnixPath(file) + "'"));
    unsigned dts = 0, size = 0;
    char comma = 0;
    for (std::string flags; packets >> dts >> comma >> size >> comma >> flags;)
        map.at(dts) = size == 0 ? '.' : flags[0] == 'K' ? 'K' : '_';
    return map;
}
