#include "ui/StreamEx.h"

#include <cstdlib>
#include <cstring>

namespace lumeno {

ComRef<IStreamEx> IStreamEx::Create(const void* pData, ULONGLONG cbSize, bool bOwnsData)
{
    // From here on COM reference counting owns the object: Release deletes it at zero.
    return ComRef<IStreamEx>(std::make_unique<IStreamEx>(pData, cbSize, bOwnsData).release());
}

IStreamEx::IStreamEx(const void* pData, ULONGLONG cbSize, bool bOwnsData) noexcept
    : m_pData(static_cast<const BYTE*>(pData)), m_cbSize(pData ? cbSize : 0), m_bOwnsData(bOwnsData ? TRUE : FALSE)
{
}

IStreamEx::~IStreamEx()
{
    if (m_bOwnsData && m_pData)
        std::free(const_cast<BYTE*>(m_pData));
}

HRESULT IStreamEx::QueryInterface(REFIID, void** ppvObject)
{
    if (ppvObject)
        *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG IStreamEx::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_nRefCount));
}

ULONG IStreamEx::Release()
{
    const LONG count = ::InterlockedDecrement(&m_nRefCount);
    if (count == 0)
        std::unique_ptr<IStreamEx> self(this);  // the last reference: the object ends here
    return static_cast<ULONG>(count);
}

HRESULT IStreamEx::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    const ULONGLONG left = m_cbSize - m_nPosition;
    const ULONG n = cb < left ? cb : static_cast<ULONG>(left);
    if (n > 0) {
        if (!pv)
            return STG_E_INVALIDPOINTER;
        std::memcpy(pv, m_pData + m_nPosition, n);
        m_nPosition += n;
    }
    if (pcbRead)
        *pcbRead = n;
    return S_OK;
}

HRESULT IStreamEx::Write(const void*, ULONG, ULONG*)
{
    return E_NOTIMPL;
}

HRESULT IStreamEx::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition)
{
    ULONGLONG base = 0;
    switch (dwOrigin) {
    case STREAM_SEEK_SET:
        base = 0;
        break;
    case STREAM_SEEK_CUR:
        base = m_nPosition;
        break;
    case STREAM_SEEK_END:
        base = m_cbSize;
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    // base + move, raised to 0 when below it and lowered to the size when beyond it; worked out
    // on magnitudes so that no move, however extreme, can overflow.
    const LONGLONG move = dlibMove.QuadPart;
    ULONGLONG position = 0;
    if (move < 0) {
        const ULONGLONG back = 0ULL - static_cast<ULONGLONG>(move);
        position = back > base ? 0 : base - back;
    } else {
        const auto ahead = static_cast<ULONGLONG>(move);
        position = ahead > m_cbSize - base ? m_cbSize : base + ahead;
    }
    m_nPosition = position;
    if (plibNewPosition)
        plibNewPosition->QuadPart = m_nPosition;
    return S_OK;
}

HRESULT IStreamEx::SetSize(ULARGE_INTEGER)
{
    return E_NOTIMPL;
}

HRESULT IStreamEx::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*)
{
    return E_NOTIMPL;
}

HRESULT IStreamEx::Commit(DWORD)
{
    return E_NOTIMPL;
}

HRESULT IStreamEx::Revert()
{
    return E_NOTIMPL;
}

HRESULT IStreamEx::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return E_NOTIMPL;
}

HRESULT IStreamEx::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return E_NOTIMPL;
}

HRESULT IStreamEx::Stat(STATSTG* pstatstg, DWORD grfStatFlag)
{
    if (grfStatFlag != STATFLAG_DEFAULT && grfStatFlag != STATFLAG_NONAME)
        return STG_E_INVALIDFLAG;
    if (!pstatstg)
        return STG_E_INVALIDPOINTER;
    // No name is returned even for STATFLAG_DEFAULT, so the caller never has a string to free.
    std::memset(pstatstg, 0, sizeof(*pstatstg));
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = m_cbSize;
    return S_OK;
}

HRESULT IStreamEx::Clone(IStream**)
{
    return E_NOTIMPL;
}

}  // namespace lumeno
