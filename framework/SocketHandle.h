#pragma once

// Owner of a Windows Sockets socket, the socket counterpart of the handle owners in Handles.h.

#include <winsock2.h>

#include "framework/Handles.h"

namespace lumeno {

struct SocketTraits {
    using Type = SOCKET;
    static Type Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(Type s) noexcept { (void)::closesocket(s); }
};

using UniqueSocket = UniqueResource<SocketTraits>;

}  // namespace lumeno
