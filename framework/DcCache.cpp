#include "framework/DcCache.h"

#include <utility>

namespace lumeno {

CDcCache& CDcCache::Shared()
{
    static CDcCache cache;
    return cache;
}

UniqueMemoryDc CDcCache::Borrow()
{
    {
        std::lock_guard lock(m_lock);
        if (m_nFree > 0)
            return std::move(m_free[--m_nFree]);
    }
    return UniqueMemoryDc(::CreateCompatibleDC(nullptr));
}

void CDcCache::Return(UniqueMemoryDc dc)
{
    if (!dc)
        return;
    std::lock_guard lock(m_lock);
    if (m_nFree < kCapacity)
        m_free[m_nFree++] = std::move(dc);
    // Otherwise dc goes out of scope here and is deleted.
}

std::size_t CDcCache::FreeCount() const
{
    std::lock_guard lock(m_lock);
    return m_nFree;
}

CLentDc::CLentDc(HBITMAP bitmap, CDcCache& cache) : m_cache(cache), m_dc(cache.Borrow())
{
    if (m_dc && bitmap)
        m_hPrevious = ::SelectObject(m_dc.Get(), bitmap);
}

CLentDc::~CLentDc()
{
    if (!m_dc)
        return;
    // The bitmap must leave the DC before anyone else can select it elsewhere.
    if (m_hPrevious && m_hPrevious != HGDI_ERROR)
        ::SelectObject(m_dc.Get(), m_hPrevious);
    m_cache.Return(std::move(m_dc));
}

}  // namespace lumeno
