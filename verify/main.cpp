// LumenoVerify: checks a storage folder's recordings against their seals, finds the picture of a
// moment, and exports a span as a folder that checks on its own. Console program, main thread only.
//
//   LumenoVerify FOLDER [--trust-root FILE]... [--require-anchor]
//   LumenoVerify FOLDER --at "YYYY-MM-DD HH:MM:SS" [--png FILE]
//   LumenoVerify FOLDER --export "FROM" "TO" OUTDIR

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Handles.h"
#include "framework/Image.h"
#include "framework/Utf8.h"
#include "timestore/RecordingName.h"
#include "timestore/SealFormat.h"
#include "timestore/SealRecord.h"
#include "verify/FolderCheck.h"
#include "verify/FolderExport.h"
#include "media/XvidLibrary.h"
#include "media/FrameDecoder.h"
#include "verify/Moment.h"

namespace {

constexpr int kPass = 0;
constexpr int kFail = 1;
constexpr int kUsage = 2;
constexpr int kNotCovered = 3;

// Standard output through a buffer: a report of years of recordings is written as it is made.
class Output {
public:
    ~Output() { Flush(); }
    void operator()(std::string_view text)
    {
        m_strBuffer += text;
        if (m_strBuffer.size() >= (1u << 16))
            Flush();
    }
    void Flush()
    {
        DWORD written = 0;
        (void)WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), m_strBuffer.data(), static_cast<DWORD>(m_strBuffer.size()),
                        &written, nullptr);
        m_strBuffer.clear();
    }

private:
    std::string m_strBuffer;
};
Output g_out;

void Print(std::string_view text)
{
    g_out(text);
}

int Usage(const std::string& why = {})
{
    Print(why + (why.empty() ? "" : "\n") +
          "usage: LumenoVerify FOLDER [--trust-root FILE]... [--require-anchor]\n"
          "       LumenoVerify FOLDER --at \"YYYY-MM-DD HH:MM:SS\" [--png FILE]\n"
          "       LumenoVerify FOLDER --export \"YYYY-MM-DD HH:MM:SS\" \"YYYY-MM-DD HH:MM:SS\" OUTDIR\n");
    return kUsage;
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size > 0 ? GetFullPathNameW(path.c_str(), size, full.data(), nullptr) : 0;
    std::wstring result = length > 0 && length < size ? full.substr(0, length) : path;
    while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/'))
        result.pop_back();
    return result;
}

// Whether `inner` is `outer` or lies inside it, compared as Windows compares paths.
bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer)
{
    if (inner.size() < outer.size() ||
        CompareStringOrdinal(inner.c_str(), static_cast<int>(outer.size()), outer.c_str(),
                             static_cast<int>(outer.size()), TRUE) != CSTR_EQUAL)
        return false;
    return inner.size() == outer.size() || inner[outer.size()] == L'\\' || outer.back() == L'\\';
}

bool IsEmptyOrMissing(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry{};
    const lumeno::UniqueFind finder(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!finder)
        return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0)
            return false;
    } while (FindNextFileW(finder.Get(), &entry));
    return true;
}

// The verdict of the folder as a whole decides the exit status of every way of running.
int FolderVerdict(const CFolderCheck& check, int otherwise)
{
    if (check.Passed())
        return otherwise;
    Print("The folder does not check: run LumenoVerify FOLDER for the report.\nResult: FAIL\n");
    return kFail;
}

int FindMoment(const CFolderCheck& check, const std::string& when, std::wstring png)
{
    long long moment = 0;
    if (!ParseMoment(when, moment))
        return Usage("not a moment: " + CSealFormat::Printable(when));
    long long position = 0;
    const CFolderCheck::Recording* r = check.Find(moment, position);
    if (!r) {
        Print(when + " is not covered by any sealed recording in this folder.\n");
        return FolderVerdict(check, kNotCovered);
    }
    const std::string name = CSealFormat::Printable(r->strName);
    Print(when + " is in " + name + " at position " + std::to_string(position) + " of " +
          std::to_string(r->llPositions) + " (taken at " + FormatMoment(r->llStartMs + position * 100) +
          " by the file's start)\n");
    if (r->verdict != CFolderCheck::Verdict::kIntact) {
        Print("The file is " + std::string(VerdictText(r->verdict)) + ": its pictures are not evidence.\n");
        return kFail;
    }
    if (png.empty())
        png = FromUtf8(r->strName.substr(0, 15) + "-" + std::to_string(position) + ".png");
    if (const CXvidLibrary& codec = CXvidLibrary::Shared(); codec.GetProblem() != CXvidLibrary::Problem::None) {
        Print(ToUtf8(codec.ProblemText()) + "\n");
        return kFail;
    } else if (!codec.HasDecoder()) {
        Print("xvidcore.dll beside LumenoVerify.exe has no decoder (xvid_decore): the picture cannot be shown.\n");
        return kFail;
    }
    lumeno::CImage image;
    CFrameDecoder::Result decoded;
    if (FAILED(CFrameDecoder::Decode(check.Folder() + L"\\" + FromUtf8(r->strName), position, image, decoded)) ||
        FAILED(image.SavePng(png))) {
        Print("The picture could not be decoded or written.\n");
        return kFail;
    }
    if (decoded.llShown != position)
        Print("Position " + std::to_string(position) + " is empty (a tick without a picture); it shows position " +
              std::to_string(decoded.llShown) + ".\n");
    Print("Picture written to " + CSealFormat::Printable(ToUtf8(FullPath(png))) + " (" +
          std::to_string(image.GetWidth()) + "x" + std::to_string(image.GetHeight()) + ")\n");
    return FolderVerdict(check, kPass);
}

int Export(const CFolderCheck& check, const std::string& fromText, const std::string& toText, const std::wstring& dir)
{
    long long from = 0, to = 0;
    if (!ParseMoment(fromText, from) || !ParseMoment(toText, to) || to < from)
        return Usage("not a span of local time");
    const std::wstring out = FullPath(dir);
    if (IsSameOrInside(out, check.Folder()))
        return Usage("OUTDIR is the folder being checked or inside it");
    if (!IsEmptyOrMissing(out))
        return Usage("OUTDIR is not empty");
    CFolderCheck exported(out);
    const int copied = ExportSpan(check, from, to, out, exported);
    if (copied < 0) {
        Print("The export could not be written to " + CSealFormat::Printable(ToUtf8(out)) + ".\n");
        return kFail;
    }
    Print(std::to_string(copied) + " recordings exported to " + CSealFormat::Printable(ToUtf8(out)) + "\n");
    exported.Report(Print);
    if (!exported.Passed())
        return kFail;
    return FolderVerdict(check, copied > 0 ? kPass : kNotCovered);
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    CFolderCheck check(FullPath(argv[1]));
    // The time-stamp options may stand anywhere after the folder; what is left keeps its order.
    std::vector<wchar_t*> rest(argv, argv + 2);
    for (int i = 2; i < argc; ++i) {
        const std::string arg = ToUtf8(argv[i]);
        if (arg == "--require-anchor") {
            check.m_bRequireAnchor = true;
        } else if (arg == "--trust-root" && i + 1 < argc) {
            if (!check.m_roots.AddFile(argv[++i]))
                return Usage("No certificate can be read from " + CSealFormat::Printable(ToUtf8(argv[i])) +
                             " (--trust-root takes DER or PEM).");
        } else {
            rest.push_back(argv[i]);
        }
    }
    argc = static_cast<int>(rest.size());
    argv = rest.data();
    check.Run();
    const std::string option = argc > 2 ? ToUtf8(argv[2]) : "";
    if (argc == 2) {
        check.Report(Print);
        return check.Passed() ? kPass : kFail;
    }
    if (option == "--at" && (argc == 4 || (argc == 6 && ToUtf8(argv[4]) == "--png")))
        return FindMoment(check, ToUtf8(argv[3]), argc == 6 ? argv[5] : L"");
    if (option == "--export" && argc == 6)
        return Export(check, ToUtf8(argv[3]), ToUtf8(argv[4]), argv[5]);
    return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int status = kFail;
    try {
        status = Run(argc, argv);
    } catch (...) {
        Print("LumenoVerify: stopped by an unexpected error (out of memory?)\nResult: FAIL\n");
    }
    g_out.Flush();
    return status;
}
