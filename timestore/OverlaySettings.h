#pragma once

// The four settings the recording thread draws into every frame, as one immutable value: the
// user-interface thread publishes a new one as a whole, so a frame never mixes old and new texts.

#include <string>

struct OverlaySettings {
    int nTimeZone2 = 0;  // hour offset from GMT of the second clock
    std::wstring strName;
    std::wstring strPlatform;
    std::wstring strAccount;

    bool operator==(const OverlaySettings&) const = default;
};
