#pragma once

// Recovers a recording whose writer never finished it: a crash, a kill or a power cut. The AVI
// library writes every frame chunk of "RECORDING.AVI" to the file as it comes, but the headers and
// the index only when the file is released; such a file holds a run of "00dc" chunks behind an
// empty header area. The repair copies every complete chunk, in order and unchanged, into a new,
// indexed file with the recording's own stream description.
//
// Plain functions of whichever thread calls them (the start-up runs them on the user-interface
// thread before the recording thread exists); that thread must have called AVIFileInit.

#include "framework/DateTime.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CRecordingRepair {
public:
    // One frame chunk found in a file: where its data starts and how long it is.
    struct Chunk {
        ULONGLONG ullOffset = 0;
        DWORD dwSize = 0;
    };

    struct Result {
        int nPositions = 0;  // chunks copied, empty (dropped) positions included
        int nPictures = 0;   // chunks that hold a picture
        int nWidth = 0;
        int nHeight = 0;
    };

    // The frame chunks of an open file, in order, up to the last one that is complete. Stops at the
    // first thing that is not a frame chunk (the index of a finished file, garbage, the end).
    [[nodiscard]] static std::vector<Chunk> FindChunks(HANDLE file);

    // The picture size from an MPEG-4 video object layer header in the data (Xvid puts one in
    // front of every key frame); false when there is none or it is not a plain rectangular layer.
    [[nodiscard]] static bool ReadPictureSize(const std::uint8_t* data, std::size_t size, int& width, int& height);

    // True when the data holds an intra-coded picture (the first picture header says so).
    [[nodiscard]] static bool IsKeyFrame(const std::uint8_t* data, std::size_t size);

    // Where decoding of the chunks can start: the first key frame that carries the picture size,
    // which it stores. The writer begins every file with one, but a disk that was full for a moment
    // can have swallowed it. chunks.size() when there is none.
    [[nodiscard]] static std::size_t FindFirstPicture(HANDLE file, const std::vector<Chunk>& chunks, int& width,
                                                      int& height);

    // Whether the file at `path` holds at least one complete picture that a repair could keep.
    [[nodiscard]] static bool HoldsPicture(const std::wstring& path);

    // Copies the chunks of `orphan` into a new indexed AVI file at outPath. Fails, writing nothing
    // that stays, when there is no complete picture with a readable size in front of it, or when
    // the new file cannot be written; result then tells what was found.
    [[nodiscard]] static HRESULT Repair(HANDLE orphan, const std::wstring& outPath, Result& result);

    // When the recording began, in local time. The recording thread writes position p at the tick
    // p × 100 ms after the file started (missed ticks are filled with empty positions before the
    // next picture), so the last chunk was written at start + (positions − 1) × 100 ms plus the time
    // one frame takes to compose and encode (a fraction of a tick). The file's last write time
    // therefore gives the start to within a tick, wherever and whenever the file is repaired.
    [[nodiscard]] static CDateTime EstimateStart(const FILETIME& lastWriteUtc, int positions);
};
