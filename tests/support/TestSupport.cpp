#include "support/TestSupport.h"

#include "framework/Handles.h"
#include "res/resource.h"
#include "ui/ResourceImage.h"

#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {
std::atomic<unsigned> g_counter{0};

std::wstring UniqueName(const std::wstring& tag)
{
    return tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) + L"-" +
           std::to_wstring(g_counter++);
}
}  // namespace

TempFolder::TempFolder(const std::wstring& tag)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = temp;
    if (!base.empty() && base.back() == L'\\')
        base.pop_back();
    m_path = base + L"\\" + UniqueName(tag);
    if (!CreateDirectoryW(m_path.c_str(), nullptr))
        throw std::runtime_error("cannot create temp folder");
}

TempFolder::~TempFolder() { RemoveTree(m_path); }

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    lumeno::UniqueFind find(FindFirstFileW((path + L"\\*").c_str(), &fd));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.Get(), &fd) != FALSE) {
        const std::wstring name = fd.cFileName, full = path + L"\\" + name;
        if (name == L"." || name == L"..")
            continue;
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(full);
        else
            DeleteFileW(full.c_str());
    }
    find.Reset();
    RemoveDirectoryW(path.c_str());
}

void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    if (!file)
        throw std::runtime_error("cannot create file");
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void WriteText(const std::wstring& path, const std::string& text)
{
    WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> ReadBytes(const std::wstring& path)
{
    lumeno::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<std::uint8_t> bytes;
    if (!file)
        return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(file.Get(), &size);
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

void EditFile(const std::wstring& file, const std::function<void(std::vector<std::uint8_t>&)>& edit)
{
    auto bytes = ReadBytes(file);
    edit(bytes);
    WriteBytes(file, bytes);
}

void CopyFolder(const std::wstring& from, const std::wstring& to)
{
    int rc = -1;
    CreateDirectoryW(to.c_str(), nullptr);
    const std::string said = RunHost("cp -R '" + UnixPath(from) + "/.' '" + UnixPath(to) + "'", &rc);
    ASSERT_EQ(rc, 0) << said;
}

::testing::AssertionResult Holds(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos ? ::testing::AssertionSuccess()
                                                : ::testing::AssertionFailure() << "no " << part << " in:\n" << text;
}

Verified RunVerifier(const std::wstring& folder, const std::string& more)
{
    wchar_t self[MAX_PATH];
    std::wstring exe(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    exe.replace(exe.rfind(L'\\'), std::wstring::npos, L"\\LumenoVerify.exe");
    Verified result;
    result.out = RunHost("wine '" + UnixPath(exe) + "' '" + Narrow(folder) + "'" + more + " 2>&1", &result.code);
    return result;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

SYSTEMTIME MakeSystemTime(int year, int month, int day, int hour, int minute, int second, int milliseconds)
{
    const auto w = [](int v) { return static_cast<WORD>(v); };
    return SYSTEMTIME{w(year), w(month), 0, w(day), w(hour), w(minute), w(second), w(milliseconds)};
}

// wchar_t is UTF-16LE on every Windows target.
std::vector<std::uint8_t> Utf16LeWithBom(const std::wstring& text)
{
    std::vector<std::uint8_t> bytes{0xFF, 0xFE};
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    bytes.insert(bytes.end(), data, data + text.size() * sizeof(wchar_t));
    return bytes;
}

std::wstring ReadUtf16File(const std::wstring& path)
{
    const auto bytes = ReadBytes(path);
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE)
        return {};
    std::wstring text((bytes.size() - 2) / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
    return text;
}

std::string UnixPath(const std::wstring& windowsPath)
{
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    static auto fn = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn)
        throw std::runtime_error("not running under Wine");
    char* name = fn(windowsPath.c_str());
    if (!name)
        return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Wine starts Unix programs but cannot wait for them or see their exit status, so the command
// writes its output and status into files that this side polls for.
std::string RunHost(const std::string& shellCommand, int* exitCode, DWORD timeoutMs)
{
    TempFolder work(L"host");
    const std::string dir = UnixPath(work.Path());
    const std::string script = dir + "/cmd.sh";
    WriteText(work.File(L"cmd.sh"), shellCommand + "\n");
    std::wstring cmdLine = Widen("/bin/sh -c \"sh '" + script + "' > '" + dir + "/out' 2>&1; echo $? > '" + dir +
                                 "/rc.tmp'; mv '" + dir + "/rc.tmp' '" + dir + "/rc'\"");
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(L"Z:\\bin\\sh", cmdLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    lumeno::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!FileExists(work.File(L"rc")) && GetTickCount64() < deadline)
        Sleep(20);
    auto out = ReadBytes(work.File(L"out"));
    auto rc = ReadBytes(work.File(L"rc"));
    if (exitCode)
        *exitCode = rc.empty() ? -1 : std::atoi(std::string(rc.begin(), rc.end()).c_str());
    return std::string(out.begin(), out.end());
}

SmallDisk::SmallDisk(const std::wstring& folder, int megabytes) : m_strMount(UnixPath(folder))
{
    int rc = 0;
    m_strLog = RunHost("mkdir '" + m_strMount + "' && mount -t tmpfs -o size=" + std::to_string(megabytes) +
                           "m tmpfs '" + m_strMount + "'",
                       &rc);
    m_bMounted = rc == 0;
}

SmallDisk::~SmallDisk()
{
    if (m_bMounted)
        (void)RunHost("umount -l '" + m_strMount + "'");
}

void SmallDisk::Fill() const { (void)RunHost("dd if=/dev/zero of='" + m_strMount + "/filler' bs=4k 2>/dev/null"); }

void SmallDisk::Free() const { (void)RunHost("rm -f '" + m_strMount + "/filler'"); }

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
    return true;
}

std::string DecodeErrors(const std::wstring& file)
{
    int rc = 0;
    std::string out = RunHost("ffmpeg -nostdin -v error -xerror -i '" + UnixPath(file) + "' -f null - 2>&1", &rc);
    if (rc != 0 && out.empty())
        out = "ffmpeg exit status " + std::to_string(rc);
    return out;
}

std::vector<std::uint8_t> DecodeFrameRgb(const std::wstring& file, int index)
{
    TempFolder out(L"frame");
    int rc = 0;
    (void)RunHost("ffmpeg -nostdin -v error -i '" + UnixPath(file) + "' -vf 'select=eq(n\\," + std::to_string(index) +
                      ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + UnixPath(out.File(L"f.rgb")) + "'",
                  &rc);
    return rc == 0 ? ReadBytes(out.File(L"f.rgb")) : std::vector<std::uint8_t>{};
}

lumeno::CImage ProgramBanner() { return lumeno::LoadResourceImage(nullptr, IDB_BANNER); }

}  // namespace testsupport
