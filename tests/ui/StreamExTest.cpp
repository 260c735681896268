#include "ui/StreamEx.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>

using lumeno::IStreamEx;

namespace {

constexpr std::array<BYTE, 10> kBytes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

LARGE_INTEGER Move(LONGLONG value)
{
    LARGE_INTEGER move;
    move.QuadPart = value;
    return move;
}

ULONGLONG SeekTo(IStream* stream, LONGLONG move, DWORD origin, HRESULT* result = nullptr)
{
    ULARGE_INTEGER position;
    position.QuadPart = 0xDEADBEEF;
    const HRESULT hr = stream->Seek(Move(move), origin, &position);
    if (result)
        *result = hr;
    return position.QuadPart;
}

}  // namespace

TEST(StreamExRead, PastTheEndReturnsTheRestThenNothing)
{
    auto stream = IStreamEx::Create(kBytes.data(), kBytes.size());
    std::array<BYTE, 32> buffer{};
    ULONG read = 99;
    ASSERT_EQ(stream->Read(buffer.data(), 4, &read), S_OK);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(buffer[3], 3);

    buffer.fill(0xEE);
    ASSERT_EQ(stream->Read(buffer.data(), 32, &read), S_OK);
    EXPECT_EQ(read, 6u);
    EXPECT_EQ(0, std::memcmp(buffer.data(), kBytes.data() + 4, 6));
    EXPECT_EQ(buffer[6], 0xEE);  // nothing written beyond what was left
    EXPECT_EQ(stream->Position(), 10u);

    ASSERT_EQ(stream->Read(buffer.data(), 32, &read), S_OK);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(stream->Position(), 10u);
    // The count pointer is optional.
    EXPECT_EQ(stream->Read(buffer.data(), 1, nullptr), S_OK);
}

TEST(StreamExRead, EmptyBlockReadsNothing)
{
    auto stream = IStreamEx::Create(nullptr, 100);  // no block: its size counts as 0
    std::array<BYTE, 4> buffer{};
    ULONG read = 99;
    EXPECT_EQ(stream->Read(buffer.data(), 4, &read), S_OK);
    EXPECT_EQ(read, 0u);
    STATSTG stat;
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 0u);
}

TEST(StreamExSeek, ClampsToTheBlockAndRejectsUnknownOrigins)
{
    auto stream = IStreamEx::Create(kBytes.data(), kBytes.size());
    HRESULT hr = E_FAIL;
    EXPECT_EQ(SeekTo(stream.Get(), -1, STREAM_SEEK_SET, &hr), 0u);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(SeekTo(stream.Get(), 100, STREAM_SEEK_SET, &hr), 10u);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(SeekTo(stream.Get(), 5, STREAM_SEEK_SET), 5u);
    EXPECT_EQ(SeekTo(stream.Get(), -2, STREAM_SEEK_CUR), 3u);
    EXPECT_EQ(SeekTo(stream.Get(), 4, STREAM_SEEK_CUR), 7u);
    EXPECT_EQ(SeekTo(stream.Get(), -1, STREAM_SEEK_END), 9u);
    EXPECT_EQ(SeekTo(stream.Get(), 1, STREAM_SEEK_END), 10u);
    EXPECT_EQ(SeekTo(stream.Get(), -11, STREAM_SEEK_END), 0u);
    // Extreme moves clamp instead of wrapping around.
    EXPECT_EQ(SeekTo(stream.Get(), LLONG_MIN, STREAM_SEEK_END), 0u);
    EXPECT_EQ(SeekTo(stream.Get(), 6, STREAM_SEEK_SET), 6u);
    EXPECT_EQ(SeekTo(stream.Get(), LLONG_MAX, STREAM_SEEK_CUR), 10u);

    ASSERT_EQ(SeekTo(stream.Get(), 6, STREAM_SEEK_SET), 6u);
    ULARGE_INTEGER untouched;
    untouched.QuadPart = 12345;
    EXPECT_EQ(stream->Seek(Move(2), 3, &untouched), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(untouched.QuadPart, 12345u);
    EXPECT_EQ(stream->Position(), 6u);

    // The position reached by seeking is where reading continues.
    BYTE b = 0;
    ASSERT_EQ(stream->Read(&b, 1, nullptr), S_OK);
    EXPECT_EQ(b, 6);
    EXPECT_EQ(stream->Seek(Move(0), STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Position(), 0u);
}

TEST(StreamExStat, ChecksTheFlagFirstThenThePointer)
{
    auto stream = IStreamEx::Create(kBytes.data(), kBytes.size());
    EXPECT_EQ(stream->Stat(nullptr, 2), STG_E_INVALIDFLAG);
    STATSTG stat;
    EXPECT_EQ(stream->Stat(&stat, 2), STG_E_INVALIDFLAG);
    EXPECT_EQ(stream->Stat(nullptr, STATFLAG_DEFAULT), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stream->Stat(nullptr, STATFLAG_NONAME), STG_E_INVALIDPOINTER);

    for (DWORD flag : {DWORD(STATFLAG_DEFAULT), DWORD(STATFLAG_NONAME)}) {
        std::memset(&stat, 0xAB, sizeof(stat));
        ASSERT_EQ(stream->Stat(&stat, flag), S_OK);
        EXPECT_EQ(stat.pwcsName, nullptr);  // no name, even for STATFLAG_DEFAULT
        EXPECT_EQ(stat.type, DWORD(STGTY_STREAM));
        EXPECT_EQ(stat.cbSize.QuadPart, 10u);
        EXPECT_EQ(stat.grfMode, 0u);
        EXPECT_EQ(stat.mtime.dwLowDateTime, 0u);
        EXPECT_EQ(stat.clsid, GUID_NULL);
    }
}

TEST(StreamExUnknown, AnswersNoInterfaceAndCountsReferences)
{
    auto stream = IStreamEx::Create(kBytes.data(), kBytes.size());
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(stream->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(stream->QueryInterface(IID_IStream, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(stream->QueryInterface(IID_ISequentialStream, nullptr), E_NOINTERFACE);

    EXPECT_EQ(stream->AddRef(), 2u);
    EXPECT_EQ(stream->AddRef(), 3u);
    EXPECT_EQ(stream->Release(), 2u);
    EXPECT_EQ(stream->Release(), 1u);
    // The ComRef holds the last reference and releases it, which destroys the stream.
}

TEST(StreamExUnknown, FinalReleaseReportsZeroAndFreesAnOwnedBlock)
{
    // An owned block must come from malloc; the last Release frees it with the object.
    void* block = std::malloc(16);
    ASSERT_NE(block, nullptr);
    std::memset(block, 7, 16);
    auto stream = IStreamEx::Create(block, 16, true);
    BYTE b = 0;
    ASSERT_EQ(stream->Read(&b, 1, nullptr), S_OK);
    EXPECT_EQ(b, 7);
    IStreamEx* raw = stream.Get();
    raw->AddRef();
    stream.Reset();  // back to one reference: still alive
    EXPECT_EQ(raw->Release(), 0u);
}

TEST(StreamExUnsupported, WritingAndTheRestAreNotImplemented)
{
    auto stream = IStreamEx::Create(kBytes.data(), kBytes.size());
    ULARGE_INTEGER size{};
    ULONG written = 0;
    IStream* clone = nullptr;
    EXPECT_EQ(stream->Write(kBytes.data(), 1, &written), E_NOTIMPL);
    EXPECT_EQ(stream->SetSize(size), E_NOTIMPL);
    EXPECT_EQ(stream->CopyTo(nullptr, size, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(stream->Commit(STGC_DEFAULT), E_NOTIMPL);
    EXPECT_EQ(stream->Revert(), E_NOTIMPL);
    EXPECT_EQ(stream->LockRegion(size, size, LOCK_WRITE), E_NOTIMPL);
    EXPECT_EQ(stream->UnlockRegion(size, size, LOCK_WRITE), E_NOTIMPL);
    EXPECT_EQ(stream->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(stream->Position(), 0u);
}
