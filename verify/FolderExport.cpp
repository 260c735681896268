#include "verify/FolderExport.h"

#include "framework/Handles.h"
#include "framework/Utf8.h"
#include "timestore/SealRecord.h"
#include "verify/FolderCheck.h"
#include "verify/Moment.h"

namespace {

bool WriteWhole(const std::wstring& path, const std::string& bytes)
{
    const lumeno::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file.Get());
}

}  // namespace

int ExportSpan(const CFolderCheck& source, long long fromMs, long long toMs, const std::wstring& outFolder,
               std::string& report)
{
    const std::wstring data = outFolder + L"\\LumenoData";
    (void)CreateDirectoryW(outFolder.c_str(), nullptr);
    (void)CreateDirectoryW(data.c_str(), nullptr);

    int copied = 0;
    for (const CFolderCheck::Recording& r : source.m_recordings) {
        if (r.seal.m_fields.empty() || r.llStartMs == 0 || r.EndMs() <= fromMs || r.llStartMs > toMs)
            continue;
        const std::wstring name = FromUtf8(r.strName);
        if (r.verdict == CFolderCheck::Verdict::kMissingExplained ||
            r.verdict == CFolderCheck::Verdict::kMissingUnexplained)
            continue;  // the export's own check names it
        if (!CopyFileW((source.Folder() + L"\\" + name).c_str(), (outFolder + L"\\" + name).c_str(), FALSE))
            return -1;
        ++copied;
    }

    // The log goes whole and unchanged: the chain is checked from its first record, and a cut line
    // stays as it was found.
    std::string log;
    for (const auto& line : source.m_lines)
        log += line.text + (line.ended ? "\n" : "");
    CSealRecord scope;
    scope.Set("from", FormatMoment(fromMs).substr(0, 19));
    scope.Set("to", FormatMoment(toMs).substr(0, 19));
    if (!WriteWhole(data + L"\\seals.log", log) ||
        !WriteWhole(data + L"\\" + CFolderCheck::kExportScopeName, scope.Seal() + "\n"))
        return -1;

    CFolderCheck exported(outFolder);
    exported.Run();
    report = exported.Report();
    if (!WriteWhole(outFolder + L"\\report.txt", "Exported from " + ToUtf8(source.Folder()) + "\n" +
                                                     "Source folder's check:\n" + source.Report() +
                                                     "\nThis export's check:\n" + report))
        return -1;
    return copied;
}
