#include "framework/GdiPlusStarter.h"

#include <objidl.h>
#include <gdiplus.h>

namespace lumeno {

CGdiPlusStarter& CGdiPlusStarter::Shared()
{
    static CGdiPlusStarter starter;
    return starter;
}

bool CGdiPlusStarter::Start()
{
    std::lock_guard lock(m_lock);
    if (!m_bStarted) {
        Gdiplus::GdiplusStartupInput input;
        m_bStarted = Gdiplus::GdiplusStartup(&m_token, &input, nullptr) == Gdiplus::Ok;
    }
    return m_bStarted;
}

bool CGdiPlusStarter::IsStarted() const
{
    std::lock_guard lock(m_lock);
    return m_bStarted;
}

CGdiPlusStarter::~CGdiPlusStarter()
{
    if (m_bStarted)
        Gdiplus::GdiplusShutdown(m_token);
}

}  // namespace lumeno
