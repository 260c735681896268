#include "framework/ThreadClass.h"

#include <objbase.h>

int CThreadClass::Run()
{
    return 0;
}

DWORD WINAPI CThreadClass::ThreadEntry(LPVOID parameter) noexcept
{
    auto* self = static_cast<CThreadClass*>(parameter);

    // Only a successful CoInitialize is balanced: an unbalanced CoUninitialize would tear down an
    // apartment the thread does not own.
    bool comStarted = false;
    if (self->m_bInitCom != 0)
        comStarted = SUCCEEDED(::CoInitialize(nullptr));

    DWORD exitCode = kExitCodeRunThrew;
    try {
        exitCode = static_cast<DWORD>(self->Run());
    } catch (...) {
        // Nobody above a thread entry could handle it; the exit code tells the owner.
    }

    if (self->m_bInitCom != 0 && comStarted)
        ::CoUninitialize();
    return exitCode;
}
