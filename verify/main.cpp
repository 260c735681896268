// LumenoVerify: checks a storage folder's recordings against their seals, finds the picture of a
// moment, and exports a span as a folder that checks on its own. Console program, main thread only.
//
//   LumenoVerify FOLDER [--trust-root FILE]... [--require-anchor]
//   LumenoVerify FOLDER --at "YYYY-MM-DD HH:MM:SS" [--png FILE]
//   LumenoVerify FOLDER --export "FROM" "TO" OUTDIR

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/Image.h"
#include "framework/Utf8.h"
#include "timestore/RecordingName.h"
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

void Print(const std::string& text)
{
    DWORD written = 0;
    (void)WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

int Usage()
{
    Print(
        "usage: LumenoVerify FOLDER [--trust-root FILE]... [--require-anchor]\n"
        "       LumenoVerify FOLDER --at \"YYYY-MM-DD HH:MM:SS\" [--png FILE]\n"
        "       LumenoVerify FOLDER --export \"YYYY-MM-DD HH:MM:SS\" \"YYYY-MM-DD HH:MM:SS\" OUTDIR\n");
    return kUsage;
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH * 4] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    std::wstring result = length > 0 && length < std::size(full) ? full : path;
    while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/'))
        result.pop_back();
    return result;
}

int FindMoment(const CFolderCheck& check, const std::string& when, std::wstring png)
{
    long long moment = 0;
    if (!ParseMoment(when, moment))
        return Usage();
    long long position = 0;
    const CFolderCheck::Recording* r = check.Find(moment, position);
    if (!r) {
        Print(when + " is not covered by any sealed recording in this folder.\n");
        return kNotCovered;
    }
    Print(when + " is in " + r->strName + " at position " + std::to_string(position) + " of " +
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
    Print("Picture written to " + ToUtf8(FullPath(png)) + " (" + std::to_string(image.GetWidth()) + "x" +
          std::to_string(image.GetHeight()) + ")\n");
    return kPass;
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
            if (!check.m_roots.AddFile(argv[++i])) {
                Print("No certificate can be read from " + ToUtf8(argv[i]) + " (--trust-root takes DER or PEM).\n");
                return kUsage;
            }
        } else {
            rest.push_back(argv[i]);
        }
    }
    argc = static_cast<int>(rest.size());
    argv = rest.data();
    check.Run();
    const std::string option = argc > 2 ? ToUtf8(argv[2]) : "";
    if (argc == 2) {
        Print(check.Report());
        return check.Passed() ? kPass : kFail;
    }
    if (option == "--at" && (argc == 4 || (argc == 6 && ToUtf8(argv[4]) == "--png")))
        return FindMoment(check, ToUtf8(argv[3]), argc == 6 ? argv[5] : L"");
    if (option == "--export" && argc == 6) {
        long long from = 0, to = 0;
        if (!ParseMoment(ToUtf8(argv[3]), from) || !ParseMoment(ToUtf8(argv[4]), to) || to < from)
            return Usage();
        const std::wstring out = FullPath(argv[5]);
        if (out == check.Folder())
            return Usage();
        std::string report;
        const int copied = ExportSpan(check, from, to, out, report);
        if (copied < 0) {
            Print("The export could not be written to " + ToUtf8(out) + ".\n");
            return kFail;
        }
        Print(std::to_string(copied) + " recordings exported to " + ToUtf8(out) + "\n" + report);
        return copied > 0 && report.find("Result: PASS") != std::string::npos ? kPass : kFail;
    }
    return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        return Run(argc, argv);
    } catch (...) {
        Print("LumenoVerify: stopped by an unexpected error (out of memory?)\n");
        return kFail;
    }
}
