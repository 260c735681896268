#include "engine/RecordThread.h"

#include "engine/OverlayClock.h"
#include "framework/PointFont.h"
#include "framework/PrivateMessages.h"
#include "media/AviFileReader.h"
#include "media/RecordingRepair.h"
#include "timestore/NetTime.h"
#include "timestore/SealContext.h"

#include <mmsystem.h>
#include <algorithm>
#include <shlwapi.h>

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);

class StageTimer {
public:
    explicit StageTimer(std::array<LONGLONG, CRecordThread::kStageCount>& ticks) : m_ticks(ticks)
    {
        QueryPerformanceCounter(&m_last);
    }
    void Lap(CRecordThread::Stage stage)
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        m_ticks[stage] += now.QuadPart - m_last.QuadPart;
        m_last = now;
    }

private:
    std::array<LONGLONG, CRecordThread::kStageCount>& m_ticks;
    LARGE_INTEGER m_last;
};

}  // namespace

CRecordThread::CRecordThread(const CNetTime& netTime, OverlaySource overlay, lumeno::CImage banner)
    : m_imgBanner(std::move(banner)), m_netTime(netTime), m_overlay(std::move(overlay))
{
    HDC screen = m_dcScreen.Get();
    m_dcCompose.Reset(CreateCompatibleDC(screen));
    m_nWidth = GetDeviceCaps(screen, HORZRES);
    m_nHeight = GetDeviceCaps(screen, VERTRES);

    // Frames are composed into 32-bit DIB sections whatever the screen's format (8, 16, 24 or 32
    // bits): the copy from the screen converts, and the encoder always reads one format.
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = m_nWidth;
    format.bmiHeader.biHeight = m_nHeight;  // bottom-up, as the encoder is told
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = kFrameBitCount;
    format.bmiHeader.biCompression = BI_RGB;
    m_frameHeader = format.bmiHeader;
    if (m_nWidth > 0 && m_nHeight > 0)
        for (Slot& slot : m_slots) {
            void* bits = nullptr;
            slot.bitmap.Reset(CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0));
            slot.pBits = slot.bitmap ? static_cast<std::uint8_t*>(bits) : nullptr;
        }
    m_selComposeBitmap = std::make_unique<lumeno::SelectGuard>(m_dcCompose.Get(), m_slots[0].bitmap.Get());

    // The black source of the translucent box: filled once, never drawn into again. In the frames'
    // format too, so that the blend leaves the same bytes whatever the screen's; the size of the box
    // (the banner can only go, never grow), not of the screen, which at 4K would be 32 MB more.
    BITMAPINFO boxFormat = format;
    boxFormat.bmiHeader.biWidth = kBoxWidth;
    boxFormat.bmiHeader.biHeight = BoxHeight();
    m_dcBox.Reset(CreateCompatibleDC(m_dcCompose.Get()));
    m_bmpBox.Reset(CreateDIBSection(screen, &boxFormat, DIB_RGB_COLORS, nullptr, nullptr, 0));
    m_selBoxBitmap = std::make_unique<lumeno::SelectGuard>(m_dcBox.Get(), m_bmpBox.Get());
    const RECT all{0, 0, kBoxWidth, BoxHeight()};
    FillRect(m_dcBox.Get(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

    m_fontOverlay = lumeno::CreatePointFont(110, L"宋体");  // 11-point SimSun
    SetBkMode(m_dcCompose.Get(), TRANSPARENT);
    m_selFont = std::make_unique<lumeno::SelectGuard>(m_dcCompose.Get(), m_fontOverlay.Get());

    m_writer.CreateEncoder(m_nWidth, m_nHeight);
}

CRecordThread::~CRecordThread()
{
    // The thread uses every member: it must have ended before any of them goes.
    Stop();
}

BOOL CRecordThread::Start(const std::wstring& storageFolder, int retentionMinutes, BOOL bClearOtherFiles,
                          HWND hNotifyWnd)
{
    m_storage.m_strFolder = storageFolder;
    m_storage.m_nRetainMinutes = retentionMinutes;
    m_storage.m_bCleanOtherFiles = bClearOtherFiles;
    m_storage.m_sealSource = [this] {
        const std::shared_ptr<const OverlaySettings> overlay = m_overlay ? m_overlay() : nullptr;
        return MakeSealContext(m_netTime, overlay.get());
    };

    wchar_t path[MAX_PATH] = {};
    // A folder too long for a path leaves the name empty: every open then fails and is retried.
    m_writer.m_strTempPath = PathCombineW(path, storageFolder.c_str(), kTempFileName) ? path : L"";
    // What a crash left behind is recovered before the scan could take it for an other file and
    // before a new recording could overwrite it.
    if (!m_writer.m_strTempPath.empty())
        (void)m_storage.RecoverLeftovers(m_writer.m_strTempPath);
    (void)m_storage.ScanFolder();
    PostMessageW(hNotifyWnd, WM_STORAGE_CHANGED, 0, 0);

    m_hWakeEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_hNotifyWnd = hNotifyWnd;
    m_bInitCom = 1;
    m_encoderThread.Start();
    m_hThread.Reset(CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, this, 0, nullptr));
    return TRUE;
}

void CRecordThread::SetRecording(BOOL bOn)
{
    m_bRecord = bOn ? 1 : 0;
    SetEvent(m_hWakeEvent.Get());
}

void CRecordThread::Stop()
{
    if (!m_hThread)
        return;
    m_nCommand = kQuitCommand;
    SetEvent(m_hWakeEvent.Get());
    WaitForSingleObject(m_hThread.Get(), INFINITE);
    m_hThread.Reset();
    // The recording thread finished its file through the encoder thread: nothing is queued now.
    m_encoderThread.Stop();
    // Windows may end the process as soon as the session's end is answered: the last file's seal
    // must be on the disk by then. A disk that hangs for this long loses the seal, not the file.
    (void)m_storage.m_sealer.WaitIdle(kSealWaitMs);
    // The last file's time stamp: a few seconds at most, then its record like any other.
    if (m_storage.m_sealer.WaitStamped(kFinalStampWaitMs))
        (void)m_storage.m_sealer.WaitIdle(kSealWaitMs);
}

int CRecordThread::Run()
{
    timeBeginPeriod(1);
    AVIFileInit();
    if (m_slots[0].pBits)  // before the first file: the trial reads cost no position
        m_screenReader.Choose(m_dcCompose.Get(), m_dcScreen.Get(), m_nWidth, m_nHeight);
    DWORD timeout = INFINITE;
    for (;;) {
        WaitForSingleObject(m_hWakeEvent.Get(), timeout);
        // The file is finished on the encoder thread, after its last queued frame is written.
        if (m_nCommand == kQuitCommand) {
            EndSession();
            break;
        }
        if (!m_bRecord) {
            EndSession();
            timeout = INFINITE;
            continue;
        }
        timeout = RecordTick();
    }
    // The wake event stays open until the object goes: the user-interface thread may still signal it.
    AVIFileExit();
    timeEndPeriod(1);
    return 0;
}

void CRecordThread::EndSession()
{
    if (!m_writer.m_bFileOpen && !m_fallBehind.FallenBehind())
        return;
    OnEncoderThread([this] {
        if (m_writer.m_bFileOpen)
            CloseVideoFile(TRUE);
        m_bProcessorWanted = false;
        (void)m_writer.m_encoder.SwitchPath(CXvidEncoder::Path::kPlainC);
    });
    m_fallBehind.Reset();
}

DWORD CRecordThread::RecordTick()
{
    if (!m_writer.m_bFileOpen) {
        OnEncoderThread([this] { OpenNewFile(); });
        if (!m_writer.m_bFileOpen) {
            ++m_nFailedOpens;
            return CFramePacer::kTickMs;  // folder missing or unwritable: try again next tick
        }
    }
    DWORD now = timeGetTime();
    // A wake-up before this position's tick (a signal while waiting) does not move the picture early.
    if (const DWORD early = m_pacer.WaitUntilPosition(m_nPositions, now); early > 0)
        return early;

    // Positions whose ticks passed without a picture stay in the timeline as empty frames.
    for (int n = m_pacer.DroppedBefore(m_nPositions, now); n > 0; --n) {
        m_encoderThread.QueueEmpty();
        ++m_nPositions;
        ++m_stats.nDropped;
    }
    if (m_nPositions >= CFramePacer::kFramesPerFile) {
        OnEncoderThread([this] { CloseVideoFile(FALSE); });
        if (!m_writer.m_bFileOpen)
            return CFramePacer::kTickMs;
    }
    // More than a whole picture behind at this tick, or no buffer free at all.
    const bool behind = m_encoderThread.PicturesPending() >= 2;
    const int slot = m_encoderThread.AcquireSlot();
    const bool fallenBefore = m_fallBehind.FallenBehind();
    if (m_fallBehind.Note(behind || slot < 0) && !fallenBefore)
        m_bProcessorWanted = true;  // once a session: the encoder thread follows from its next picture
    if (slot >= 0) {
        const int lateMs = static_cast<int>(m_pacer.Elapsed(timeGetTime())) - m_nPositions * CFramePacer::kTickMs;
        ++m_stats.lateness[static_cast<std::size_t>(std::clamp(lateMs, 0, kLatenessBuckets - 1))];
        (void)ComposeFrame(slot);
        m_encoderThread.QueuePicture(slot);
        ++m_stats.nQueued;
    } else {
        // The encoder is still behind: the position stays empty rather than the timeline late.
        m_encoderThread.QueueEmpty();
        ++m_stats.nDropped;
        ++m_stats.nStarved;
    }
    ++m_nPositions;
    if (m_bWriteFailed) {
        // A full disk or a vanished folder: finish what the file holds so far, and open a new
        // file from the next tick on, once writing works again.
        OnEncoderThread([this] { CloseVideoFile(TRUE); });
        return CFramePacer::kTickMs;
    }
    now = timeGetTime();
    return m_pacer.WaitUntilPosition(m_nPositions, now);
}

void CRecordThread::OpenNewFile()
{
    m_dtFileStart = GetCurrentDate();
    m_nPositions = 0;
    m_bWriteFailed = false;
    m_storage.NoteFileStart();
    m_nProcessorFrom = m_writer.m_encoder.GetPath() == CXvidEncoder::Path::kProcessor ? 0 : -1;
    m_ullFileSize = 0;
    m_nWritesWithoutGrowth = 0;
    m_bWritesThrough = false;
    // A file opened on a full disk would lose its first key frame and leave a hole once space
    // comes back: wait (tick by tick) until the largest picture fits.
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExW(m_storage.m_strFolder.c_str(), &available, nullptr, nullptr) &&
        available.QuadPart < m_writer.m_encoder.OutputSize())
        return;
    // Opening truncates the temporary file: whatever an earlier failure left there is recovered or
    // kept first, and while it cannot be moved out of the way nothing is opened over it.
    WIN32_FILE_ATTRIBUTE_DATA left{};
    if (GetFileAttributesExW(m_writer.m_strTempPath.c_str(), GetFileExInfoStandard, &left) &&
        (left.nFileSizeLow != 0 || left.nFileSizeHigh != 0)) {
        (void)m_storage.RecoverOrphan(m_writer.m_strTempPath, TRUE);
        if (GetFileAttributesExW(m_writer.m_strTempPath.c_str(), GetFileExInfoStandard, &left) &&
            (left.nFileSizeLow != 0 || left.nFileSizeHigh != 0) &&
            CRecordingRepair::HoldsPicture(m_writer.m_strTempPath))
            return;
    }
    if (SUCCEEDED(m_writer.OpenVideoFile()))
        m_pacer.StartFile(timeGetTime());
}

int CRecordThread::CloseVideoFile(BOOL bFinal)
{
    m_writer.ReleaseVideoFile();
    m_bWriteFailed = false;
    if (m_writer.m_nFrameCount != 0) {
        // A file the library could not finish (the disk ran full) has no headers or index: what
        // reached the disk is recovered like a crash's leftover instead of named unreadable, and
        // it is never overwritten by the next file.
        if (IsCompleteRecording(m_writer.m_strTempPath, m_writer.m_nFrameCount, m_writer.m_ullChunkBytes)) {
            // Space to finish a file: the time to repair what an earlier full disk left behind.
            if (m_storage.CommitRecording(m_writer.m_strTempPath, m_dtFileStart, m_writer.m_nFrameCount,
                                        {true, m_nProcessorFrom}))
                (void)m_storage.RecoverKept(TRUE);
        } else {
            (void)m_storage.RecoverOrphan(m_writer.m_strTempPath, TRUE);
        }
        NotifyStorageChanged();
        m_writer.m_nFrameCount = 0;
        if (bFinal)
            m_storage.m_sealer.RequestStamp();  // recording stops here: its end is stamped at once
    }
    if (!bFinal)
        OpenNewFile();
    return 0;
}

bool CRecordThread::FileStillGrows()
{
    // Some AVI libraries report success for writes that never reached the disk (a full disk), and
    // where open files can be unlinked (a folder removed under Wine, a network share gone) writes
    // go into a file that no longer has a name. Every chunk adds bytes, so a file that has a name
    // and keeps growing is being written; a library that buffers may hold back a few small chunks,
    // hence the allowance before it counts as a failure.
    // A library seen to write each chunk through at once gets no allowance: a write that left the
    // file as it was failed, and writing on could leave a hole once space comes back.
    constexpr int kWritesWithoutGrowth = 10;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(m_writer.m_strTempPath.c_str(), GetFileExInfoStandard, &data))
        return false;
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size > m_ullFileSize) {
        m_bWritesThrough = m_bWritesThrough || (m_ullFileSize == 0 && size >= m_writer.m_ullChunkBytes);
        m_nWritesWithoutGrowth = 0;
        m_ullFileSize = size;
        return true;
    }
    return !m_bWritesThrough && ++m_nWritesWithoutGrowth < kWritesWithoutGrowth;
}

void CRecordThread::NotifyStorageChanged() const
{
    if (m_hNotifyWnd)
        PostMessageW(m_hNotifyWnd, WM_STORAGE_CHANGED, 0, 0);
}

void CRecordThread::CaptureFrame()
{
    (void)ComposeFrame(0);
    WritePicture(0);
}

void CRecordThread::WritePicture(int slot)
{
    // After a failed write nothing more goes into the file: writing on could leave a hole once
    // space comes back. The recording thread finishes the file at its next tick.
    if (!m_writer.m_bFileOpen || m_bWriteFailed)
        return;
    FollowWantedPath();
    StageTimer timer(m_stats.ticks);
    const int size = m_writer.m_encoder.EncodeFrame(m_frameHeader.biBitCount, m_slots[slot].pBits);
    timer.Lap(kEncode);
    // An encoding error leaves an empty position rather than a corrupt chunk.
    const HRESULT written = size < 0 ? m_writer.WriteDroppedFrame() : m_writer.AppendEncodedFrame(size);
    if (FAILED(written) || !FileStillGrows()) {
        m_bWriteFailed = true;
    } else {
        m_ullBytesWritten += static_cast<ULONGLONG>(std::max(size, 0));
        m_ullLastWriteTick = GetTickCount64();
    }
    timer.Lap(kWrite);
    ++m_stats.nPictures;
}

void CRecordThread::FollowWantedPath()
{
    if (!m_bProcessorWanted || m_writer.m_encoder.GetPath() == CXvidEncoder::Path::kProcessor)
        return;
    if (!m_writer.m_encoder.SwitchPath(CXvidEncoder::Path::kProcessor)) {
        // No encoder on that path: plain C again, behind as it is, rather than no pictures at all.
        m_bProcessorWanted = false;
        (void)m_writer.m_encoder.SwitchPath(CXvidEncoder::Path::kPlainC);
        return;
    }
    m_nProcessorFrom = m_writer.m_nFrameCount;
    if (m_stats.nProcessorFromPicture < 0)
        m_stats.nProcessorFromPicture = m_stats.nPictures;
}

void CRecordThread::WriteEmpty()
{
    if (!m_writer.m_bFileOpen || m_bWriteFailed)
        return;
    if (FAILED(m_writer.WriteDroppedFrame()))
        m_bWriteFailed = true;
}

void CRecordThread::DrawCell(int x, int y, const std::wstring& text)
{
    RECT cell{x, y, x + kCellWidth, y + kCellHeight};
    DrawTextW(m_dcCompose.Get(), text.c_str(), static_cast<int>(text.size()), &cell, DT_SINGLELINE);
}

int CRecordThread::ComposeFrame(int slot)
{
    if (!m_slots[slot].pBits)
        return 0;
    StageTimer timer(m_stats.ticks);
    HDC dc = m_dcCompose.Get();
    // The slot's buffer replaces the last one in the DC; the guard puts the DC's own bitmap back at the end.
    SelectObject(dc, m_slots[slot].bitmap.Get());
    m_nLastSlot = slot;
    const int w = m_nWidth;

    m_screenReader.Read(dc, m_dcScreen.Get(), w, m_nHeight);
    timer.Lap(kCapture);

    CURSORINFO ci{};
    ci.cbSize = sizeof(ci);
    (void)GetCursorInfo(&ci);
    if (ci.hCursor)
        DrawIcon(dc, ci.ptScreenPos.x, ci.ptScreenPos.y, ci.hCursor);
    timer.Lap(kCursor);

    const int ih = m_imgBanner.GetHeight();
    const BLENDFUNCTION darken{AC_SRC_OVER, 0, kBoxAlpha, 0};
    AlphaBlend(dc, w - kBoxWidth, 24, kBoxWidth, BoxHeight(), m_dcBox.Get(), 0, 0, kBoxWidth, BoxHeight(), darken);
    (void)m_imgBanner.Draw(dc, w - 376, 24);
    timer.Lap(kBox);

    SYSTEMTIME utc{};
    const bool connected = m_netTime.GetNetTime(utc);
    const std::shared_ptr<const OverlaySettings> settings = m_overlay ? m_overlay() : nullptr;
    const OverlaySettings none;
    const OverlaySettings& s = settings ? *settings : none;

    m_lastTexts = {L"网络：",
                   connected ? L"连接正常" : L"连接异常",
                   L"北京时间：",
                   FormatOverlayClock(utc, 8),
                   FormatZoneLabel(s.nTimeZone2),
                   FormatOverlayClock(utc, s.nTimeZone2),
                   L"姓名：" + s.strName,
                   L"平台：" + s.strPlatform,
                   L"帐号：" + s.strAccount};
    m_bLastConnected = connected;

    SetTextColor(dc, kWhite);
    DrawCell(w - 376, ih + 28, m_lastTexts[0]);
    SetTextColor(dc, connected ? kGreen : kRed);
    DrawCell(w - 336, ih + 28, m_lastTexts[1]);
    SetTextColor(dc, kWhite);
    DrawCell(w - 376, ih + 52, m_lastTexts[2]);
    DrawCell(w - 306, ih + 52, m_lastTexts[3]);
    DrawCell(w - 376, ih + 76, m_lastTexts[4]);
    DrawCell(w - 306, ih + 76, m_lastTexts[5]);
    DrawCell(w - 186, ih + 28, m_lastTexts[6]);
    DrawCell(w - 186, ih + 52, m_lastTexts[7]);
    DrawCell(w - 186, ih + 76, m_lastTexts[8]);
    timer.Lap(kText);

    // The encoder reads the buffer on another thread: every drawing call must have reached it.
    GdiFlush();
    timer.Lap(kReadOut);
    return m_frameHeader.biBitCount;
}
