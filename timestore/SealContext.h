#pragma once

// What a seal says about the moment a recording started or ended: the clocks, the network time
// state and the overlay's texts. Taken on the recording thread; a plain value afterwards.

#include <windows.h>

#include <string>

class CNetTime;
struct OverlaySettings;

struct SealContext {
    SYSTEMTIME local{};  // the machine's local clock
    SYSTEMTIME utc{};    // network time when synchronised, else the machine's UTC clock
    bool bNetworkTime = false;
    std::string strServer;         // dotted address of the last accepted reply, empty for none
    LONGLONG llClockOffsetMs = 0;  // machine clock minus network time (network time only)
    LONGLONG llReplyAgeMs = -1;    // -1: no reply yet
    bool bOverlay = false;
    std::wstring strName, strPlatform, strAccount;
};

// Which of the encoder's code paths wrote a recording (a file repaired after a crash: not known).
struct SealEncoder {
    bool bKnown = false;
    // The first position encoded on the processor's own code: 0 for the whole file, -1 for none
    // (plain C throughout), any other for a change of path within the file.
    int nProcessorFrom = -1;
};

// The moment now, by this network time client, with the overlay texts when there are any.
[[nodiscard]] SealContext MakeSealContext(const CNetTime& netTime, const OverlaySettings* overlay);
