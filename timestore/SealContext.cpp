#include "timestore/SealContext.h"

#include <winsock2.h>

#include "timestore/OverlaySettings.h"
#include "timestore/NetTime.h"

SealContext MakeSealContext(const CNetTime& netTime, const OverlaySettings* overlay)
{
    SealContext context;
    const CNetTime::State state = netTime.ReadState();
    GetLocalTime(&context.local);
    context.utc = state.utc;
    context.bNetworkTime = state.bSynchronised;
    if (state.ulLastServer != 0) {
        in_addr address{};
        address.s_addr = state.ulLastServer;
        context.strServer = inet_ntoa(address);
    }
    context.llClockOffsetMs = state.llClockOffsetMs;
    context.llReplyAgeMs = state.llReplyAgeMs;
    if (overlay) {
        context.bOverlay = true;
        context.strName = overlay->strName;
        context.strPlatform = overlay->strPlatform;
        context.strAccount = overlay->strAccount;
    }
    return context;
}
