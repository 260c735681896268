#pragma once

// Helpers shared by the tests: scratch folders, files, and running host (Linux) tools under Wine.

#include <gtest/gtest.h>

#include "framework/Image.h"
#include "framework/Utf8.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh empty folder under the system temp folder, removed with its contents on destruction.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& tag = L"lumeno");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    [[nodiscard]] const std::wstring& Path() const { return m_path; }
    [[nodiscard]] std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const std::wstring& path, const std::string& text);
[[nodiscard]] std::vector<std::uint8_t> ReadBytes(const std::wstring& path);
[[nodiscard]] bool FileExists(const std::wstring& path);
void RemoveTree(const std::wstring& path);
void EditFile(const std::wstring& file, const std::function<void(std::vector<std::uint8_t>&)>& edit);  // in place
void CopyFolder(const std::wstring& from, const std::wstring& to);  // the tree, into `to` (made if missing)
// Whether the text holds the part; the whole text is shown when it does not.
[[nodiscard]] ::testing::AssertionResult Holds(const std::string& text, const std::string& part);

// The Unix path of a Windows path under Wine (for host tools such as ffprobe).
[[nodiscard]] std::string UnixPath(const std::wstring& windowsPath);
// Runs a host command line with /bin/sh and returns its standard output and error; exitCode gets
// its status (-1 when it did not finish within timeoutMs).
[[nodiscard]] std::string RunHost(const std::string& shellCommand, int* exitCode = nullptr,
                                  DWORD timeoutMs = 300000);

struct Verified {
    int code = -1;
    std::string out;
};
// LumenoVerify.exe beside this test program, run on a folder with more arguments: exit status, output.
[[nodiscard]] Verified RunVerifier(const std::wstring& folder, const std::string& more = "");

// A small tmpfs mounted on a new folder until the object goes, to fill the disk under a test.
// Mounted() is false where the host cannot mount one (the test is then skipped).
class SmallDisk {
public:
    SmallDisk(const std::wstring& folder, int megabytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    [[nodiscard]] bool Mounted() const { return m_bMounted; }
    [[nodiscard]] const std::string& Log() const { return m_strLog; }
    void Fill() const;  // a filler file takes every free block
    void Free() const;  // and goes again

private:
    std::string m_strMount, m_strLog;
    bool m_bMounted = false;
};

// Polls the condition every 20 ms until it holds or the time runs out; returns whether it held.
[[nodiscard]] bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// ffmpeg's complaints when decoding the whole file (empty when it decodes without error).
[[nodiscard]] std::string DecodeErrors(const std::wstring& file);
// Frame `index` of a video file decoded to RGB24 rows, top row first (empty when it fails).
[[nodiscard]] std::vector<std::uint8_t> DecodeFrameRgb(const std::wstring& file, int index);

[[nodiscard]] inline std::string Narrow(const std::wstring& text) { return ToUtf8(text); }
[[nodiscard]] inline std::wstring Widen(const std::string& text) { return FromUtf8(text); }

// A calendar time from its fields (day of week left 0).
[[nodiscard]] SYSTEMTIME MakeSystemTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                                        int milliseconds = 0);

// The program's banner picture from its resources, as the entry point hands it to the recorder.
[[nodiscard]] lumeno::CImage ProgramBanner();

// Text as the bytes of a UTF-16LE file with a byte-order mark.
[[nodiscard]] std::vector<std::uint8_t> Utf16LeWithBom(const std::wstring& text);
// The text of a UTF-16LE file; empty unless the file starts with the byte-order mark.
[[nodiscard]] std::wstring ReadUtf16File(const std::wstring& path);

// A desktop-like 32-bit bottom-up frame: a title bar, a grid of figures whose digits change with
// the tick, and a moving block, so that an encoder sees realistic partial changes.
[[nodiscard]] std::vector<std::uint8_t> DesktopLikeFrame(int width, int height, int tick);

}  // namespace testsupport
