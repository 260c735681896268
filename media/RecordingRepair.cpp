#include "media/RecordingRepair.h"

#include "framework/FileBytes.h"
#include "media/AviFileReader.h"
#include "media/VideoFileWriter.h"
#include "framework/Handles.h"

#include <vfw.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t FourCc(char a, char b, char c, char d)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24);
}

// Frames of stream 0: "00dc" (compressed) or "00db"; the AVI library picks the id per frame.
constexpr std::uint32_t kFrameChunk = FourCc('0', '0', 'd', 'c');
constexpr std::uint32_t kFrameChunkAlt = FourCc('0', '0', 'd', 'b');
constexpr std::uint32_t kJunkChunk = FourCc('J', 'U', 'N', 'K');
// Where the first frame chunk may be: the AVI library reserves a header area of a few kilobytes.
constexpr DWORD kHeaderSearchBytes = 1 << 20;
// No picture of any screen comes near this; a larger size is garbage, not a frame.
constexpr DWORD kMaxChunkBytes = 64u << 20;
constexpr std::uint8_t kVopStartCode = 0xB6;

// Reads an MPEG-4 bit string, most significant bit first; reading past the end fails the reader.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    unsigned Read(int bits)
    {
        unsigned value = 0;
        for (int i = 0; i < bits; ++i) {
            if (m_bit >= m_size * 8) {
                m_ok = false;
                return 0;
            }
            value = (value << 1) | ((m_data[m_bit / 8] >> (7 - m_bit % 8)) & 1u);
            ++m_bit;
        }
        return value;
    }
    [[nodiscard]] bool Ok() const { return m_ok; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_bit = 0;
    bool m_ok = true;
};

// The offset just behind the first start code 00 00 01 xx with first <= xx <= last, or size.
std::size_t FindStartCode(const std::uint8_t* data, std::size_t size, std::uint8_t first, std::uint8_t last)
{
    for (std::size_t i = 0; i + 3 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] >= first && data[i + 3] <= last)
            return i + 4;
    return size;
}

// Where the chunks begin: behind the "movi" list when the header area has one (a finished file),
// else at the first frame chunk of the reserved header area.
bool FindFirstChunk(HANDLE file, ULONGLONG fileSize, ULONGLONG& offset)
{
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<ULONGLONG>(fileSize, kHeaderSearchBytes)));
    if (head.size() < 8 || !ReadFileAt(file, 0, head.data(), static_cast<DWORD>(head.size())))
        return false;
    for (std::size_t i = 0; i + 12 <= head.size(); i += 2) {
        if (Le32(&head[i]) == FourCc('L', 'I', 'S', 'T') && Le32(&head[i + 8]) == FourCc('m', 'o', 'v', 'i')) {
            offset = i + 12;
            return true;
        }
    }
    for (std::size_t i = 0; i + 8 <= head.size(); i += 2) {
        if (Le32(&head[i]) == kFrameChunk || Le32(&head[i]) == kFrameChunkAlt) {
            offset = i;
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<CRecordingRepair::Chunk> CRecordingRepair::FindChunks(HANDLE file)
{
    std::vector<Chunk> chunks;
    LARGE_INTEGER size{};
    ULONGLONG offset = 0;
    if (!GetFileSizeEx(file, &size) || !FindFirstChunk(file, static_cast<ULONGLONG>(size.QuadPart), offset))
        return chunks;
    const auto fileSize = static_cast<ULONGLONG>(size.QuadPart);
    std::uint8_t header[8];
    while (offset + 8 <= fileSize && ReadFileAt(file, offset, header, sizeof(header))) {
        const std::uint32_t id = Le32(header);
        const DWORD length = Le32(header + 4);
        const bool frame = id == kFrameChunk || id == kFrameChunkAlt;
        if ((!frame && id != kJunkChunk) || length > kMaxChunkBytes || offset + 8 + length > fileSize)
            break;  // the index, garbage, or a chunk cut short by the crash
        if (frame)
            chunks.push_back({offset + 8, length});
        offset += 8 + length + (length & 1u);  // chunks are padded to an even length
    }
    return chunks;
}

bool CRecordingRepair::ReadPictureSize(const std::uint8_t* data, std::size_t size, int& width, int& height)
{
    const std::size_t layer = FindStartCode(data, size, 0x20, 0x2F);
    if (layer >= size)
        return false;
    BitReader bits(data + layer, size - layer);
    bits.Read(1);  // random_accessible_vol
    bits.Read(8);  // video_object_type_indication
    unsigned verid = 1;
    if (bits.Read(1)) {  // is_object_layer_identifier
        verid = bits.Read(4);
        bits.Read(3);
    }
    if (bits.Read(4) == 15)  // aspect_ratio_info: extended pixel aspect ratio follows
        bits.Read(16);
    if (bits.Read(1)) {  // vol_control_parameters
        bits.Read(3);
        if (bits.Read(1))  // vbv_parameters: bit rate, buffer size and occupancy with their markers
            bits.Read(79);
    }
    const unsigned shape = bits.Read(2);
    if (shape == 3 && verid != 1)
        bits.Read(4);
    bits.Read(1);
    const unsigned resolution = bits.Read(16);
    bits.Read(1);
    if (bits.Read(1)) {  // fixed_vop_rate: an increment as wide as the resolution needs
        int increment = 1;
        while (increment < 16 && (1u << increment) < resolution)
            ++increment;
        bits.Read(increment);
    }
    if (shape != 0)
        return false;  // only rectangular layers carry a size here
    bits.Read(1);
    const unsigned w = bits.Read(13);
    bits.Read(1);
    const unsigned h = bits.Read(13);
    if (!bits.Ok() || w == 0 || h == 0)
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool CRecordingRepair::IsKeyFrame(const std::uint8_t* data, std::size_t size)
{
    const std::size_t vop = FindStartCode(data, size, kVopStartCode, kVopStartCode);
    return vop < size && (data[vop] >> 6) == 0;  // vop_coding_type 0: intra
}

std::size_t CRecordingRepair::FindFirstPicture(HANDLE file, const std::vector<Chunk>& chunks, int& width,
                                               int& height)
{
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        data.resize(chunks[i].dwSize);
        if (!data.empty() && ReadFileAt(file, chunks[i].ullOffset, data.data(), chunks[i].dwSize) &&
            IsKeyFrame(data.data(), data.size()) && ReadPictureSize(data.data(), data.size(), width, height))
            return i;
    }
    return chunks.size();
}

bool CRecordingRepair::HoldsPicture(const std::wstring& path)
{
    const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    const std::vector<Chunk> chunks = FindChunks(file.Get());
    int width = 0, height = 0;
    return FindFirstPicture(file.Get(), chunks, width, height) < chunks.size();
}

HRESULT CRecordingRepair::Repair(HANDLE orphan, const std::wstring& outPath, Result& result)
{
    result = {};
    const std::vector<Chunk> chunks = FindChunks(orphan);
    std::vector<std::uint8_t> data;
    auto load = [&](const Chunk& chunk) {
        data.resize(chunk.dwSize);
        return chunk.dwSize == 0 || ReadFileAt(orphan, chunk.ullOffset, data.data(), chunk.dwSize);
    };

    // Everything before the first decodable picture stays in the timeline as empty positions.
    const std::size_t first = FindFirstPicture(orphan, chunks, result.nWidth, result.nHeight);
    if (first == chunks.size())
        return E_FAIL;

    HRESULT hr = S_OK;
    ULONGLONG copiedBytes = 0;
    {
        AviFileRef file;
        AviStreamRef stream;
        hr = CVideoFileWriter::CreateRecordingFile(outPath, result.nWidth, result.nHeight, file, stream);
        for (std::size_t i = 0; SUCCEEDED(hr) && i < chunks.size(); ++i) {
            if (i < first)
                data.clear();
            else if (!load(chunks[i])) {
                hr = HRESULT_FROM_WIN32(GetLastError());
                break;
            }
            const bool key = IsKeyFrame(data.data(), data.size());
            // The library refuses a null buffer even for an empty position.
            std::uint8_t none = 0;
            hr = AVIStreamWrite(stream.Get(), static_cast<LONG>(i), 1, data.empty() ? &none : data.data(),
                                static_cast<LONG>(data.size()), key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
            if (SUCCEEDED(hr)) {
                copiedBytes += AviChunkBytes(static_cast<DWORD>(data.size()));
                ++result.nPositions;
                result.nPictures += data.empty() ? 0 : 1;
            }
        }
    }  // releasing the stream and the file writes the headers and the index
    // The library may report success for writes a full disk refused: only a complete copy counts.
    if (SUCCEEDED(hr) && !IsCompleteRecording(outPath, result.nPositions, copiedBytes))
        hr = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    if (FAILED(hr) || result.nPositions == 0) {
        (void)DeleteFileW(outPath.c_str());
        return FAILED(hr) ? hr : E_FAIL;
    }
    return S_OK;
}

CDateTime CRecordingRepair::EstimateStart(const FILETIME& lastWriteUtc, int positions)
{
    constexpr ULONGLONG kTicksPerMs = 10000;                     // FILETIME counts 100 ns
    constexpr ULONGLONG kUnixEpoch = 116444736000000000ULL;      // 1970-01-01 as a FILETIME
    ULONGLONG written = FileTimeTicks(lastWriteUtc);
    // The last position's tick began (positions − 1) ticks after the start; half a tick stands for
    // the time that frame took before it reached the disk.
    const ULONGLONG back = (static_cast<ULONGLONG>(std::max(positions - 1, 0)) * 100 + 50) * kTicksPerMs;
    if (written < kUnixEpoch + back)
        return CDateTime(0.0, CDateTime::kInvalid);
    written -= back;
    return LocalDateFromTime(static_cast<__time64_t>((written - kUnixEpoch) / (kTicksPerMs * 1000)));
}
