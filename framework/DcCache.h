#pragma once

// A process-wide cache of memory device contexts that the image class borrows for each draw, so
// drawing does not create and delete a DC every time (the recording thread draws ten times a
// second). CLentDc is the borrowing guard: it takes a DC, selects a bitmap into it, and on
// destruction selects the previous bitmap back and returns the DC.
//
// Threads: the UI thread and the recording thread both draw; the free list is guarded by m_lock.
// A lent DC belongs to the borrowing thread until it is returned.

#include "framework/Handles.h"

#include <array>
#include <cstddef>
#include <mutex>

namespace lumeno {

class CDcCache {
public:
    static constexpr std::size_t kCapacity = 4;

    // The one instance; constructed on first use.
    static CDcCache& Shared();

    CDcCache() = default;
    CDcCache(const CDcCache&) = delete;
    CDcCache& operator=(const CDcCache&) = delete;

    // A memory DC compatible with the screen: a cached one, or a new one when none is free.
    // The caller owns it until it hands it back with Return.
    [[nodiscard]] UniqueMemoryDc Borrow();
    // Keeps the DC for the next borrower, or deletes it when the cache is full.
    void Return(UniqueMemoryDc dc);

    [[nodiscard]] std::size_t FreeCount() const;

private:
    mutable std::mutex m_lock;
    std::array<UniqueMemoryDc, kCapacity> m_free;
    std::size_t m_nFree = 0;
};

// A DC lent from a cache with one bitmap selected, for the duration of a draw.
class CLentDc {
public:
    CLentDc(HBITMAP bitmap, CDcCache& cache = CDcCache::Shared());
    ~CLentDc();
    CLentDc(const CLentDc&) = delete;
    CLentDc& operator=(const CLentDc&) = delete;

    [[nodiscard]] HDC Get() const noexcept { return m_dc.Get(); }
    // False when no DC could be had or the bitmap could not be selected.
    explicit operator bool() const noexcept { return m_dc && m_hPrevious && m_hPrevious != HGDI_ERROR; }

private:
    CDcCache& m_cache;
    UniqueMemoryDc m_dc;
    HGDIOBJ m_hPrevious = nullptr;
};

}  // namespace lumeno
