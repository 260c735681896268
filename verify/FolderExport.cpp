#include "verify/FolderExport.h"

#include "framework/Handles.h"
#include "framework/Utf8.h"
#include "timestore/SealFormat.h"
#include "timestore/SealLog.h"
#include "timestore/SealLogReader.h"
#include "timestore/SealRecord.h"
#include "verify/FolderCheck.h"
#include "verify/Moment.h"

namespace {

// Writes a new file through a buffer of its own; any failed or short write fails the whole file.
class BufferedFile {
public:
    explicit BufferedFile(const std::wstring& path)
        : m_file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)),
          m_bOk(static_cast<bool>(m_file))
    {
    }
    void Add(std::string_view text)
    {
        m_strBuffer += text;
        if (m_strBuffer.size() >= (1u << 20))
            Flush();
    }
    [[nodiscard]] bool Close()
    {
        Flush();
        m_bOk = m_bOk && FlushFileBuffers(m_file.Get());
        m_file.Reset();
        return m_bOk;
    }

private:
    void Flush()
    {
        DWORD written = 0;
        m_bOk = m_bOk && (m_strBuffer.empty() ||
                          (WriteFile(m_file.Get(), m_strBuffer.data(), static_cast<DWORD>(m_strBuffer.size()),
                                     &written, nullptr) &&
                           written == m_strBuffer.size()));
        m_strBuffer.clear();
    }
    lumeno::UniqueFile m_file;
    bool m_bOk;
    std::string m_strBuffer;
};

// The source's log up to its last line end as it was checked, then the export record that ends it.
bool WriteLog(const CFolderCheck& source, long long fromMs, long long toMs, const std::wstring& path)
{
    CSealLogReader reader;
    if (!reader.Open(source.LogPath()))
        return false;
    BufferedFile out(path);
    CSealLogReader::Line line;
    CSealRecord record;
    std::string last = CSealRecord::kNoPrevious;
    long long seq = 0;
    while (line.llNumber < source.m_llEndedLines && reader.Next(line) && line.ended && !line.bTooLong) {
        out.Add(line.text);
        out.Add("\n");
        // The chain goes on from the last line that reads as a record, as the log itself does.
        if (CSealFormat::Read(line.text, record).result != CSealRecord::Parsed::kMalformed) {
            last = record.Get(CSealRecord::kHashKey);
            seq = std::max(seq, record.GetNumber(CSealRecord::kSeqKey, 0));
        }
    }
    CSealRecord scope, arranged;
    scope.Set(CSealRecord::kKindKey, "export");
    scope.Set("from", FormatMoment(fromMs));
    scope.Set("to", FormatMoment(toMs));
    scope.Set("at_utc", CSealLog::NowUtc());
    if (reader.Failed() || !CSealFormat::Arrange(scope, seq + 1, last, arranged))
        return false;
    out.Add(arranged.Seal() + "\n");
    return out.Close();
}

}  // namespace

int ExportSpan(const CFolderCheck& source, long long fromMs, long long toMs, const std::wstring& outFolder,
               CFolderCheck& exported)
{
    const std::wstring data = outFolder + L"\\LumenoData";
    (void)CreateDirectoryW(outFolder.c_str(), nullptr);
    (void)CreateDirectoryW(data.c_str(), nullptr);

    int copied = 0;
    for (const CFolderCheck::Recording& r : source.m_recordings) {
        if (!r.bSealed || r.llStartMs == 0 || r.EndMs() <= fromMs || r.llStartMs > toMs ||
            (r.verdict != CFolderCheck::Verdict::kIntact && r.verdict != CFolderCheck::Verdict::kAltered))
            continue;  // a missing one is named by the export's own check
        // The name read as a file name of the folder itself (CSealFormat): it cannot point elsewhere.
        const std::wstring name = FromUtf8(r.strName);
        if (!CopyFileW((source.Folder() + L"\\" + name).c_str(), (outFolder + L"\\" + name).c_str(), TRUE))
            return -1;
        ++copied;
    }
    if (!WriteLog(source, fromMs, toMs, data + L"\\" + CSealLog::kFileName))
        return -1;

    exported = CFolderCheck(outFolder);
    exported.Run();
    BufferedFile report(outFolder + L"\\report.txt");
    report.Add("Exported from " + CSealFormat::Printable(ToUtf8(source.Folder())) + "\nSource folder's check:\n");
    source.Report([&](std::string_view part) { report.Add(part); });
    report.Add("\nThis export's check:\n");
    exported.Report([&](std::string_view part) { report.Add(part); });
    return report.Close() ? copied : -1;
}
