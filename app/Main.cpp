// The program's entry: builds the process-wide objects in a fixed order, runs the application and
// tears everything down in the reverse order.
//
// Order of construction, once the codec is known to be usable: the image library's GDI+ starter and device-context cache, Windows
// Sockets 2.2, the application object with its empty settings record, the network time object
// (g_netTime, a static whose constructor only stores the built-in server list, so being built before
// wWinMain changes nothing), the recording thread object (it measures the screen and creates every
// capture resource and the encoder when constructed) and the shadow registry (a static map that is
// empty until the first dialog). Destruction runs the other way round.

#include "app/LumenoApp.h"
#include "app/SingleInstance.h"
#include "engine/RecordThread.h"
#include "media/XvidLibrary.h"
#include "framework/DcCache.h"
#include "framework/GdiPlusStarter.h"
#include "framework/WinsockSession.h"
#include "res/resource.h"
#include "timestore/NetTime.h"
#include "ui/ResourceImage.h"

#include <windows.h>

namespace {

// How long the exit path waits for the network time thread: it notices a stop request within
// about half a second, so this only runs out if the thread is stuck in the system.
constexpr DWORD kNetTimeStopWaitMs = 5000;

// Members are built in declaration order and destroyed in reverse.
struct ProcessObjects {
    CWinsockSession winsock;
    CLumenoApp app;
    CRecordThread recorder{g_netTime, [this] { return app.GetOverlaySettings(); },
                           lumeno::LoadResourceImage(nullptr, IDB_BANNER)};

    ~ProcessObjects()
    {
        // The recording thread has already been stopped by the exit path (or the log-off path);
        // its destructor makes sure of it. The network time thread is stopped here, before Windows
        // Sockets is cleaned up and before anything it could reach is destroyed. If it does not end
        // in time it may still be inside Windows Sockets: then the process ends right here, which
        // ends that thread first, instead of cleaning up under its feet.
        if (!g_netTime.Stop(kNetTimeStopWaitMs))
            ::ExitProcess(0);
    }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int)
{
    // Before anything else exists: a second start only wakes the running one and ends, or, when
    // that one is ending, waits for its end and takes over.
    CSingleInstance instance;
    if (!instance.Claim() &&
        (CSingleInstance::ActivateRunning() || !instance.WaitForRunningToEnd(CSingleInstance::kEndingWaitMs)))
        return 0;
    // Without a usable codec nothing could be recorded: say so before any window, icon, thread or
    // file exists, and end.
    if (const CXvidLibrary& codec = CXvidLibrary::Shared(); codec.GetProblem() != CXvidLibrary::Problem::None) {
        (void)::MessageBoxW(nullptr, codec.ProblemText().c_str(), L"Lumeno 无法启动", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
        return 1;
    }
    (void)lumeno::CGdiPlusStarter::Shared();
    (void)lumeno::CDcCache::Shared();
    ProcessObjects objects;
    (void)objects.app.InitInstance(hInstance, g_netTime, objects.recorder);
    return 0;
}
