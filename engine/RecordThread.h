#pragma once

// The recording engine's thread: captures the primary screen ten times a second while recording is
// on, composes the evidence overlay into each frame, and hands the frame to its encoder thread,
// which writes 600-position AVI files; each finished file goes to the catalogue.
//
// Threads: the constructor, Start, SetRecording and Stop run on the user-interface thread.
// m_bRecord and m_nCommand are written there (atomics) and followed by a signal of m_hWakeEvent;
// the health figures m_ullLastWriteTick and m_ullBytesWritten go the other way (atomics the main
// window reads), written by the encoder thread when a frame really reached the file, and
// m_nFailedOpens, counted by the recording thread. The catalogue m_storage is shared with the
// user-interface thread under its own lock. The recording thread owns the pacing (m_pacer,
// m_nPositions), the screen reader, the DCs, font, banner and box, and composes into a frame buffer
// it took from m_encoderThread; the buffer then belongs to the encoder thread until it is written.
// The encoder thread owns the encoder and the AVI file (m_writer) and the growth check; opening and
// finishing a file run there too, through CEncoderThread::Call, while the recording thread waits,
// so those also see the pacer. m_bWriteFailed and m_bProcessorWanted are the flags both threads
// touch; the fall-behind rule is the recording thread's, the encoder's path and what the open
// file's seal says of it (m_nProcessorFrom) the encoder thread's. In m_stats each field has one
// writer: encoding, writing, nPictures and nProcessorFromPicture the encoder thread, the rest the
// recording thread. Tests read everything only while the threads are not running.
//
// The encoder starts every recording session on its plain C path. When it falls behind the tick
// (CFallBehindRule), it is re-created on the processor's own code from the next picture on, with a
// key frame, in the same file, and stays so until recording is switched off.

#include "engine/EncoderThread.h"
#include "engine/FallBehindRule.h"
#include "timestore/OverlaySettings.h"
#include "engine/FramePacer.h"
#include "engine/ScreenReader.h"
#include "framework/ThreadClass.h"
#include "media/VideoFileWriter.h"
#include "framework/Handles.h"
#include "framework/Image.h"
#include "framework/DateTime.h"
#include "timestore/VideoStore.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

class CNetTime;

class CRecordThread : public CThreadClass, private CEncoderThread::Sink {
public:
    static constexpr int kQuitCommand = 2;
    static constexpr int kBoxWidth = 380;
    static constexpr int kCellWidth = 186;
    static constexpr int kCellHeight = 20;
    static constexpr BYTE kBoxAlpha = 140;
    static constexpr const wchar_t* kTempFileName = L"RECORDING.AVI";
    static constexpr DWORD kSealWaitMs = 60000;
    // How long the end of the program waits for the last time stamp (the exchange itself gives up
    // after three seconds).
    static constexpr DWORD kFinalStampWaitMs = 4000;
    static constexpr int kFrameBitCount = 32;

    // Where the four overlay settings come from: a consistent copy for each frame.
    using OverlaySource = std::function<std::shared_ptr<const OverlaySettings>()>;

    // Measures the primary screen once and creates every capture resource, the frame buffer and
    // the encoder. The banner is drawn at the top of the overlay box; an empty one leaves it out.
    CRecordThread(const CNetTime& netTime, OverlaySource overlay, lumeno::CImage banner);
    ~CRecordThread() override;

    // Hands the folder, retention and clean flag to the catalogue, scans the folder, posts
    // WM_STORAGE_CHANGED and starts the thread, which waits idle. Returns TRUE.
    BOOL Start(const std::wstring& storageFolder, int retentionMinutes, BOOL bClearOtherFiles, HWND hNotifyWnd);
    // Switches recording on or off; the thread follows at its next wake-up.
    void SetRecording(BOOL bOn);
    // Asks the thread to finish the current file and end, and waits for it and the encoder thread
    // without time-out, then for the seals of the files it finished. Returns at once when the
    // thread is not running.
    void Stop();

    int Run() override;

    // Composes one frame from the screen, the cursor and the overlay, then encodes and writes it,
    // all on the calling thread (while the threads are not running).
    void CaptureFrame();
    // Composes one frame into the frame buffer `slot`; returns the DIB's bit count.
    int ComposeFrame(int slot);

    // Per-stage costs, in QueryPerformanceCounter ticks, for the benchmark: the composition stages
    // are the recording thread's, encoding and writing the encoder thread's.
    enum Stage { kCapture, kCursor, kBox, kText, kReadOut, kEncode, kWrite, kStageCount };
    static constexpr int kLatenessBuckets = 1001;  // milliseconds; the last one holds everything later
    struct Statistics {
        std::array<LONGLONG, kStageCount> ticks{};
        long long nPictures = 0;  // frames encoded and written (encoder thread)
        long long nQueued = 0;    // frames composed and handed to the encoder (recording thread)
        long long nDropped = 0;   // positions written empty: a tick overran or the encoder was behind
        long long nStarved = 0;   // of them, the encoder still held every frame buffer
        long long nProcessorFromPicture = -1;  // the first picture ever encoded on the processor's code
        // How long after its position's tick each picture was taken (recording thread).
        std::array<long long, kLatenessBuckets> lateness{};
    };
    Statistics m_stats;

    // Pictures handed to the encoder thread and not yet written.
    [[nodiscard]] int PicturesQueued() { return m_encoderThread.PicturesPending(); }

    // The texts drawn into the last composed frame, in drawing order (for checks of the overlay).
    std::array<std::wstring, 9> m_lastTexts;
    bool m_bLastConnected = false;

    [[nodiscard]] int Width() const { return m_nWidth; }
    [[nodiscard]] int Height() const { return m_nHeight; }
    // The last composed frame (bottom-up DIB rows).
    [[nodiscard]] const std::uint8_t* FrameBits() const { return m_slots[m_nLastSlot].pBits; }
    [[nodiscard]] const BITMAPINFOHEADER& FrameHeader() const { return m_frameHeader; }
    [[nodiscard]] const lumeno::CImage& Banner() const { return m_imgBanner; }
    // How the screen is read, as the recording thread chose when it started.
    [[nodiscard]] const CScreenReader& ScreenReader() const { return m_screenReader; }

    // What the main window shows and warns about, any thread.
    [[nodiscard]] ULONGLONG LastWriteTick() const { return m_ullLastWriteTick.load(); }
    [[nodiscard]] ULONGLONG BytesWritten() const { return m_ullBytesWritten.load(); }
    [[nodiscard]] const std::wstring& StorageFolder() const { return m_storage.m_strFolder; }
    [[nodiscard]] int RetentionMinutes() const { return m_storage.m_nRetainMinutes; }
    [[nodiscard]] CVideoStore::Figures StorageFigures() const { return m_storage.ReadFigures(); }
    // Ticks at which no file could be opened (the folder missing or unwritable), any thread.
    [[nodiscard]] int FailedOpens() const { return m_nFailedOpens.load(); }

    // How recording is going, for the main window's warnings: written by the encoder thread only.
    std::atomic<ULONGLONG> m_ullLastWriteTick{0};  // GetTickCount64() when a frame last reached the file
    std::atomic<ULONGLONG> m_ullBytesWritten{0};   // frame data written since the thread started

    // Ticks at which no file could be opened: written by the recording thread only.
    std::atomic<int> m_nFailedOpens{0};

    lumeno::CImage m_imgBanner;
    lumeno::UniqueHandle m_hWakeEvent;
    std::atomic<int> m_bRecord{0};
    CDateTime m_dtFileStart{0.0, CDateTime::kValid};
    CVideoStore m_storage;
    std::atomic<int> m_nCommand{0};

protected:
    // Encodes and writes the picture in `slot` at the next position (encoder thread).
    void WritePicture(int slot) override;
    // Writes an empty position (encoder thread).
    void WriteEmpty() override;

private:
    // Finishes the open file: release, then (with frames) catalogue and notify. Unless bFinal, a
    // new file is opened at once.
    int CloseVideoFile(BOOL bFinal);
    // Opens a new temporary file stamped with the current local time; its position 0 is now.
    void OpenNewFile();
    // One tick of the Recording state; returns the time-out of the next wait.
    DWORD RecordTick();
    // Runs a file operation on the encoder thread once every frame queued before it is written.
    void OnEncoderThread(const std::function<void()>& fn) { m_encoderThread.Call(fn); }
    // Whether the open file still has its name and grew within the last few pictures.
    bool FileStillGrows();
    // Moves the encoder to the processor's code when the recording thread asked for it (encoder thread).
    void FollowWantedPath();
    // The end of a recording session: the next one starts on plain C again.
    void EndSession();
    void NotifyStorageChanged() const;
    void DrawCell(int x, int y, const std::wstring& text);
    // The translucent box: the banner and three rows of texts.
    [[nodiscard]] int BoxHeight() const { return m_imgBanner.GetHeight() + 72; }

    const CNetTime& m_netTime;
    OverlaySource m_overlay;
    CFramePacer m_pacer;
    int m_nPositions = 0;  // positions of the open file handed to the encoder thread
    // A chunk of the open file could not be written: the encoder thread writes nothing more to it
    // and the recording thread finishes it at its next tick.
    std::atomic<bool> m_bWriteFailed{false};
    CFallBehindRule m_fallBehind;
    std::atomic<bool> m_bProcessorWanted{false};  // the rule tripped in this session
    int m_nProcessorFrom = -1;                    // of the open file, as SealEncoder has it
    ULONGLONG m_ullFileSize = 0;  // the open file's size after the last picture
    int m_nWritesWithoutGrowth = 0;
    bool m_bWritesThrough = false;  // the library was seen to put each chunk on disk at once

    lumeno::WindowDc m_dcScreen{nullptr};
    CScreenReader m_screenReader;
    lumeno::UniqueMemoryDc m_dcCompose;
    lumeno::UniqueMemoryDc m_dcBox;
    // Frame buffers: bottom-up 32-bit DIB sections, composed into and read by the encoder in place.
    struct Slot {
        lumeno::UniqueBitmap bitmap;
        std::uint8_t* pBits = nullptr;
    };
    std::array<Slot, CEncoderThread::kSlots> m_slots;
    int m_nLastSlot = 0;
    lumeno::UniqueBitmap m_bmpBox;
    lumeno::UniqueFont m_fontOverlay;
    // Declared after what they select, so they put the original objects back first.
    std::unique_ptr<lumeno::SelectGuard> m_selComposeBitmap;
    std::unique_ptr<lumeno::SelectGuard> m_selBoxBitmap;
    std::unique_ptr<lumeno::SelectGuard> m_selFont;
    int m_nWidth = 0;
    int m_nHeight = 0;
    BITMAPINFOHEADER m_frameHeader{};  // the frame buffers' format

public:
    // The AVI file being written and its encoder: the encoder thread's while the threads run.
    CVideoFileWriter m_writer;

private:
    // Declared last: its thread uses the members above until it has ended.
    CEncoderThread m_encoderThread{*this};
};
