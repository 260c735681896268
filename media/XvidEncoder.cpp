#include "media/XvidEncoder.h"

#include "media/XvidLibrary.h"

#include <xvid.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr unsigned kCpuFlags = XVID_CPU_FORCE | XVID_CPU_ASM;  // 0x80000080: forced, no SIMD flags
constexpr int kMotion = XVID_ME_FASTREFINE16 | XVID_ME_SKIP_DELTASEARCH | XVID_ME_FAST_MODEINTERPOLATE |
                        XVID_ME_BFRAME_EARLYSTOP | XVID_ME_FASTREFINE8;  // 0x3E000000
static_assert(kMotion == 0x3E000000);
static_assert(kCpuFlags == 0x80000080u);
}  // namespace

CXvidEncoder::~CXvidEncoder()
{
    if (m_hInstance)
        CXvidLibrary::Shared().Encore(m_hInstance, XVID_ENC_DESTROY, nullptr, nullptr);
}

void CXvidEncoder::InitLibrary()
{
    if (m_nHeight <= 0)
        return;
    m_cbOutput = static_cast<std::size_t>(std::max(m_nWidth, m_nHeight)) * std::max(m_nWidth, m_nHeight);
    m_pOutput = std::make_unique<std::uint8_t[]>(m_cbOutput);  // zero-filled

    xvid_gbl_init_t init{};
    init.version = kXvidVersion;
    init.cpu_flags = kCpuFlags;
    init.debug = 0;
    (void)CXvidLibrary::Shared().Global(nullptr, XVID_GBL_INIT, &init, nullptr);
}

void CXvidEncoder::CreateInstance()
{
    xvid_enc_create_t create{};
    create.version = kXvidVersion;
    create.profile = XVID_PROFILE_AS_L4;
    create.width = m_nWidth;
    create.height = m_nHeight;
    create.num_zones = 0;
    create.zones = nullptr;
    create.num_plugins = 0;
    create.plugins = nullptr;
    create.num_threads = 0;
    create.max_bframes = 0;
    create.global = 0;
    create.fincr = 1;
    create.fbase = 10;
    create.max_key_interval = 50;
    create.frame_drop_ratio = 0;
    create.bquant_ratio = 1;
    create.bquant_offset = 100;
    (void)CXvidLibrary::Shared().Encore(nullptr, XVID_ENC_CREATE, &create, nullptr);
    m_hInstance = create.handle;
}

int CXvidEncoder::EncodeFrame(int bitCount, const void* bits)
{
    m_bKeyFrame = 0;
    if (!m_hInstance || !m_pOutput)
        return -1;

    // The encoder's formats for the DIB depths; anything else is an encoding error.
    int csp = 0;
    switch (bitCount) {
        case 32: csp = XVID_CSP_BGRA; break;
        case 24: csp = XVID_CSP_BGR; break;
        case 16: csp = XVID_CSP_RGB555; break;  // BI_RGB's 16-bit layout
        default: return -1;
    }
    xvid_enc_frame_t frame{};
    frame.version = kXvidVersion;
    frame.vol_flags = 0;
    frame.vop_flags = 0;
    frame.motion = kMotion;
    frame.input.csp = csp | XVID_CSP_VFLIP;
    frame.input.plane[0] = const_cast<void*>(bits);
    frame.input.stride[0] = DibStride(m_nWidth, bitCount);
    frame.type = m_bForceKeyFrame ? XVID_TYPE_IVOP : XVID_TYPE_AUTO;
    frame.quant = 0;
    frame.bframe_threshold = 0;
    frame.bitstream = m_pOutput.get();
    frame.length = -1;

    xvid_enc_stats_t* noStats = nullptr;
    const int result = CXvidLibrary::Shared().Encore(m_hInstance, XVID_ENC_ENCODE, &frame, noStats);
    if (result >= 0)
        m_bForceKeyFrame = false;
    m_bKeyFrame = (frame.out_flags & XVID_KEYFRAME) ? 1 : 0;
    return result;
}
