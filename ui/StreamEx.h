#pragma once

// IStreamEx: a minimal read-only IStream over a block of bytes, used to hand resource bytes to the
// image decoder without copying them. It implements the fourteen IStream operations and nothing
// else: QueryInterface answers E_NOINTERFACE for every interface, IUnknown and IStream included.
// The object lives on the heap and deletes itself when its count reaches zero; Create hands out the
// first reference in a ComRef, so every reference is released by an owner.
//
// Threads: the count is interlocked as COM requires; the position belongs to the one thread that
// reads the stream.

#include "framework/Handles.h"

#include <objidl.h>

#include <memory>

namespace lumeno {

class IStreamEx final : public IStream {
public:
    // With bOwnsData the final Release frees pData with the runtime library's free (the block must
    // come from malloc). Resource bytes are never owned: they belong to the loaded module.
    [[nodiscard]] static ComRef<IStreamEx> Create(const void* pData, ULONGLONG cbSize, bool bOwnsData = false);

    IStreamEx(const void* pData, ULONGLONG cbSize, bool bOwnsData) noexcept;
    IStreamEx(const IStreamEx&) = delete;
    IStreamEx& operator=(const IStreamEx&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ISequentialStream
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;

    // IStream
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override;

    [[nodiscard]] ULONGLONG Position() const noexcept { return m_nPosition; }
    [[nodiscard]] ULONGLONG Size() const noexcept { return m_cbSize; }

private:
    // Only Release ends the object's life.
    ~IStreamEx();
    friend struct std::default_delete<IStreamEx>;

    LONG m_nRefCount = 1;
    const BYTE* m_pData;
    ULONGLONG m_cbSize;
    ULONGLONG m_nPosition = 0;
    BOOL m_bOwnsData;
};

}  // namespace lumeno
