#include "media/FrameDecoder.h"

#include <xvid.h>

#include <vector>

#include "framework/FileBytes.h"
#include "media/AviFileReader.h"
#include "media/RecordingRepair.h"
#include "media/XvidEncoder.h"
#include "media/XvidLibrary.h"
#include "framework/Handles.h"

namespace {

// One decoder instance, destroyed with the object.
class XvidDecoder {
public:
    XvidDecoder()
    {
        xvid_gbl_init_t init{};
        init.version = XVID_VERSION;
        (void)CXvidLibrary::Shared().Global(nullptr, XVID_GBL_INIT, &init, nullptr);
        xvid_dec_create_t create{};
        create.version = XVID_VERSION;
        if (CXvidLibrary::Shared().Decore(nullptr, XVID_DEC_CREATE, &create, nullptr) >= 0)
            m_handle = create.handle;
    }
    ~XvidDecoder()
    {
        if (m_handle)
            (void)CXvidLibrary::Shared().Decore(m_handle, XVID_DEC_DESTROY, nullptr, nullptr);
    }
    XvidDecoder(const XvidDecoder&) = delete;
    XvidDecoder& operator=(const XvidDecoder&) = delete;

    // Decodes one chunk into `image`. The picture's size is the one the decoder reports when it reads
    // a stream header (never the file's word): the image is made in that size at the first report,
    // and a report of another size, or a picture before any report, is refused before a byte is
    // written, so a hostile stream cannot make the decoder write past the image.
    bool Decode(std::vector<std::uint8_t>& data, lumeno::CImage& image)
    {
        auto* bytes = data.data();
        int left = static_cast<int>(data.size());
        bool picture = false;
        while (m_handle && left > 0 && !picture) {
            xvid_dec_frame_t frame{};
            frame.version = XVID_VERSION;
            frame.bitstream = bytes;
            frame.length = left;
            frame.output.csp = m_bSized ? XVID_CSP_BGRA : XVID_CSP_NULL;
            frame.output.plane[0] = m_bSized ? image.GetBits() : nullptr;
            frame.output.stride[0] = m_bSized ? image.GetPitch() : 0;
            xvid_dec_stats_t stats{};
            stats.version = XVID_VERSION;
            const int used = CXvidLibrary::Shared().Decore(m_handle, XVID_DEC_DECODE, &frame, &stats);
            if (used <= 0 || used > left)
                return false;
            if (stats.type == XVID_TYPE_VOL && !Sized(stats.data.vol.width, stats.data.vol.height, image))
                return false;
            picture = stats.type > 0;
            if (picture && !m_bSized)
                return false;
            bytes += used;
            left -= used;
        }
        return picture;
    }

private:
    bool Sized(int width, int height, lumeno::CImage& image)
    {
        constexpr int kMaxSide = 16384;
        if (m_bSized)
            return width == image.GetWidth() && height == image.GetHeight();
        m_bSized = width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && image.Create(width, height, 32);
        return m_bSized;
    }

    void* m_handle = nullptr;
    bool m_bSized = false;
};

}  // namespace

HRESULT CFrameDecoder::Decode(const std::wstring& path, long long position, lumeno::CImage& image, Result& result)
{
    result = {};
    const lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return HRESULT_FROM_WIN32(GetLastError());
    const std::vector<CRecordingRepair::Chunk> chunks = CRecordingRepair::FindChunks(file.Get());
    int width = 0, height = 0;
    const std::size_t first = CRecordingRepair::FindFirstPicture(file.Get(), chunks, width, height);
    if (position < 0 || static_cast<std::size_t>(position) >= chunks.size() ||
        first > static_cast<std::size_t>(position))
        return E_INVALIDARG;

    // Back to the last picture of the position, then to the key frame it depends on.
    std::vector<std::uint8_t> data;
    const auto load = [&](std::size_t i) {
        data.resize(chunks[i].dwSize);
        return chunks[i].dwSize == 0 || ReadFileAt(file.Get(), chunks[i].ullOffset, data.data(), chunks[i].dwSize);
    };
    std::size_t shown = static_cast<std::size_t>(position);
    while (shown > first && chunks[shown].dwSize == 0)
        --shown;
    std::size_t key = shown;
    for (; key > first; --key)
        if (chunks[key].dwSize > 0 && load(key) && CRecordingRepair::IsKeyFrame(data.data(), data.size()))
            break;

    XvidDecoder decoder;
    for (std::size_t i = key; i <= shown; ++i) {
        if (chunks[i].dwSize == 0)
            continue;
        if (!load(i) || !decoder.Decode(data, image))
            return E_FAIL;
        ++result.llDecoded;
    }
    result.llShown = static_cast<long long>(shown);
    return S_OK;
}
