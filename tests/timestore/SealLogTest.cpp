#include <gtest/gtest.h>

#include <tuple>

#include "timestore/SealContext.h"
#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "timestore/SealFormat.h"
#include "timestore/SealLog.h"
#include "framework/Sha256.h"
#include "timestore/VideoStore.h"

using namespace testsupport;

namespace {

std::string HostSha256(const std::wstring& path)
{
    return RunHost("sha256sum '" + UnixPath(path) + "' | cut -c1-64").substr(0, 64);
}

class SealLogTest : public ::testing::Test {
protected:
    // Moves a recording of 600 positions at `temp` into the catalogue as 2024-03-05 09:<minute>.
    bool Commit(CVideoStore& store, int minute)
    {
        WriteRecording(m_temp, 600);
        return store.CommitRecording(m_temp, CDateTime::FromSystemTime(MakeSystemTime(2024, 3, 5, 9, minute)), 600);
    }
    AviLibrary m_avi;
    TempFolder m_folder{L"seal"};
    const std::wstring m_log = m_folder.File(L"seals.log"), m_temp = m_folder.File(L"RECORDING.AVI");
};

}  // namespace

// Digests as sha256sum sees them; values survive a record line, a changed line is caught, and what is
// not exactly the layout's record (a field added, doubled, moved or of the wrong kind) is told apart.
TEST_F(SealLogTest, Sha256AgreesWithTheHostAndRecordLinesRefuseChanges)
{
    std::vector<std::uint8_t> bytes(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    WriteBytes(m_temp, bytes);
    const lumeno::UniqueFile handle(CreateFileW(m_temp.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ULONGLONG size = 0;
    EXPECT_EQ(CSha256::OfFile(handle.Get(), size), HostSha256(m_temp));
    EXPECT_EQ(size, bytes.size());
    for (const std::string text : {"", "abc", "seq=1\tkind=recording"}) {
        WriteText(m_log, text);
        EXPECT_EQ(CSha256::OfText(text), HostSha256(m_log)) << text;
    }
    CSealRecord back;
    std::string line;
    for (const std::string value : {"plain", "张三 MT5", "tab\there", "two\nlines\r", "back\\slash\\t", ""}) {
        CSealRecord record, arranged;
        record.Set("overlay_account", value);
        record.Set("name", "20240305-093100.AVI");
        record.Set("kind", "recording");
        ASSERT_TRUE(CSealFormat::Arrange(record, 7, CSealRecord::kNoPrevious, arranged));
        line = arranged.Seal();
        EXPECT_EQ(line.find('\n'), std::string::npos);
        ASSERT_EQ(CSealRecord::Parse(line, back), CSealRecord::Parsed::kOk) << line;
        EXPECT_EQ(back.Get("overlay_account"), value);
        EXPECT_EQ(back.m_fields.size(), 23u);
        EXPECT_EQ(back.m_fields[2].first + back.m_fields[2].second + back.m_fields[3].second, "origin-20240305-093100.AVI");
        EXPECT_EQ(back.Get("hash"), CSha256::OfText(line.substr(0, line.size() - 70)));
    }
    std::string edited = line;
    edited[edited.find("093100")] = '1';
    EXPECT_EQ(CSealRecord::Parse(edited, back), CSealRecord::Parsed::kBadHash);
    EXPECT_EQ(back.Get("name"), "20240305-193100.AVI") << "an edited record is still read, to name it";
    // Anything but the one layout is not a record, whatever its hash says.
    const auto reseal = [](std::string text) { return text + "\thash=" + CSha256::OfText(text); };
    const std::string body = line.substr(0, line.size() - 70), prev = "\tprev=" + CSealRecord::kNoPrevious;
    const std::string name = "\tname=20240305-093100.AVI", removal = "seq=2\tkind=removed" + name + "\tsize=5\treason=retention";
    CSealRecord arranged;
    EXPECT_FALSE(CSealFormat::Arrange(CSealRecord{{{"kind", "removed"}, {"name", "a"}, {"extra", "1"}}}, 1, prev, arranged));
    EXPECT_EQ(CSealRecord::Parse(reseal(removal + "\tat_utc=-" + prev), back), CSealRecord::Parsed::kOk);
    for (const std::string& bad :
         {line.substr(0, line.size() - 1), body + "\thash=" + std::string(64, 'g'), reseal(body + "\thash=" + std::string(64, 'a')),
          body + "\thash=" + back.Get("hash") + "\tx=1\thash=" + back.Get("hash"), reseal("seq=2\tkind=recording" + name + prev),
          reseal(removal + "\tat_utc=-\tat_utc=-" + prev), reseal("seq=2\tkind=removed\tsize=5" + name + "\treason=retention\tat_utc=-" + prev),
          reseal("seq=02" + removal.substr(5) + "\tat_utc=-" + prev), reseal(removal + "\tat_utc=2024-02-30T01:02:03.000Z" + prev),
          reseal("seq=2\tkind=removed\tname=..\\x.AVI\tsize=5\treason=retention\tat_utc=-" + prev),
          reseal("seq=2\tkind=removed\tname=CON.avi\tsize=5\treason=retention\tat_utc=-" + prev),
          reseal("seq=2\tkind=removed\tname=C:x\tsize=5\treason=retention\tat_utc=-" + prev),
          reseal("seq=2\tkind=removed\tname=a\\nb\tsize=5\treason=retention\tat_utc=-" + prev),
          reseal("seq=2\tkind=unknown" + prev), reseal(removal + "\tat_utc=-\tprev=" + std::string(63, '0')),
          reseal(removal + "\tat_utc=-" + prev + "\tx=1"), std::string(70000, 'a')})
        EXPECT_EQ(CSealRecord::Parse(bad, back), CSealRecord::Parsed::kMalformed) << bad.substr(0, 300);
    // A write that took fewer bytes than it was given failed, whatever the system reported.
    EXPECT_EQ(CSealLog::WriteOutcome(TRUE, 10, 10, ERROR_SUCCESS), S_OK);
    for (const auto& [ok, written, error] : {std::tuple{TRUE, 9, ERROR_SUCCESS}, {TRUE, 0, ERROR_SUCCESS},
                                             {FALSE, 0, ERROR_SUCCESS}, {FALSE, 4, ERROR_DISK_FULL}})
        EXPECT_TRUE(FAILED(CSealLog::WriteOutcome(ok, written, 10, error))) << ok << " " << written;
}

// Records are numbered and chained across reopening, also after a last record that lost only its line
// end (a line cut inside is continued by a record of its own: the verifier's cut-record test).
TEST_F(SealLogTest, ChainsAcrossRestartsAndEndsALineThatLostItsEnd)
{
    for (int round = 0; round < 2; ++round) {
        CSealLog log;
        ASSERT_EQ(log.Open(m_log), S_OK);
        for (const int n : {round * 2, round * 2 + 1})
            ASSERT_EQ(log.Append(CSealRecord{{{"kind", "removed"}, {"name", std::to_string(n)}}}), S_OK);
    }
    const std::vector<CSealRecord> records = SealRecords(m_log);
    ASSERT_EQ(records.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].GetNumber("seq"), i + 1);
        EXPECT_EQ(records[i].Get("name"), std::to_string(i));
        EXPECT_EQ(records[i].Get("prev"), i ? records[i - 1].Get("hash") : CSealRecord::kNoPrevious);
    }
    // Cut just before its line end, the last record is whole: it is ended and the chain goes on from it.
    std::vector<std::uint8_t> bytes = ReadBytes(m_log);
    bytes.pop_back();
    WriteBytes(m_log, bytes);
    std::string fragment = "-";
    {
        CSealLog log;
        ASSERT_EQ(log.Open(m_log, &fragment), S_OK);
        ASSERT_EQ(log.Append(CSealRecord{{{"kind", "removed"}, {"name", "4"}}}), S_OK);
    }
    EXPECT_EQ(fragment, "-");
    const std::vector<CSealRecord> ended = SealRecords(m_log);
    ASSERT_EQ(ended.size(), 5u);
    EXPECT_EQ(ended[4].Get("seq") + " " + ended[4].Get("prev"), "5 " + records[3].Get("hash"));
}

// On a full disk the repair of a cut line and the seals wait, the log untouched, until there is room;
// a seal never written before the program ended is named in the log at the next start.
TEST_F(SealLogTest, AFullDiskDelaysTheRepairAndTheSealsButLosesNoneSilently)
{
    const std::wstring folder = m_folder.File(L"small"), temp = folder + L"\\RECORDING.AVI";
    const SmallDisk disk(folder, 1);
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small file system here: " << disk.Log();
    const std::wstring log = CSealer::LogPath(folder);
    // On the test's file system a write fails only when it needs a new page: the log ends on one.
    const auto toPage = [&](std::size_t more) { return 4096 - (ReadBytes(log).size() + more) % 4096; };
    const auto commitOnFullDisk = [&](int minute) {
        WriteRecording(temp, 600);
        disk.Fill();
        CVideoStore store;
        store.m_strFolder = folder;
        store.m_nRetainMinutes = 60;
        ASSERT_TRUE(store.CommitRecording(temp, CDateTime::FromSystemTime(MakeSystemTime(2024, 3, 5, 9, minute)), 600));
        const std::vector<std::uint8_t> before = ReadBytes(log);
        ASSERT_TRUE(store.m_sealer.WaitIdle(30000));
        EXPECT_EQ(ReadBytes(log), before) << "nothing written on the full disk";
        if (minute == 0)
            disk.Free();  // before the program ends
    };
    {
        CSealLog seals;
        ASSERT_EQ(seals.Open(log), S_OK);
        ASSERT_EQ(seals.Append(CSealRecord{{{"kind", "removed"}, {"name", "first.txt"}}}), S_OK);
    }
    std::string cut = "seq=2\tkind=recording\tname=";
    cut.append(toPage(cut.size()), 'x');
    std::vector<std::uint8_t> bytes = ReadBytes(log);
    bytes.insert(bytes.end(), cut.begin(), cut.end());
    WriteBytes(log, bytes);
    commitOnFullDisk(0);
    {
        CSealRecord padding{{{"kind", "recording"}, {"name", "padding.AVI"}}}, line;
        ASSERT_TRUE(CSealFormat::Arrange(padding, 4, CSealRecord::kNoPrevious, line));
        padding.Set("overlay_name", std::string(toPage(line.Seal().size() + 1), 'p'));
        CSealLog seals;
        ASSERT_EQ(seals.Open(log), S_OK);
        ASSERT_EQ(seals.Append(padding), S_OK);
    }
    commitOnFullDisk(1);  // ends on the full disk
    disk.Free();
    {
        CVideoStore restarted;
        restarted.m_strFolder = folder;
        restarted.m_nRetainMinutes = 60;
        (void)restarted.ScanFolder();
        ASSERT_TRUE(restarted.m_sealer.WaitIdle(30000));
    }
    const std::vector<CSealLog::Line> lines = CSealLog::ReadLines(log);
    ASSERT_EQ(lines.size(), 6u);
    std::string told;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        CSealRecord record;
        ASSERT_EQ(CSealRecord::Parse(lines[i].text, record), CSealRecord::Parsed::kOk) << lines[i].text;
        if (record.Get("name") != "padding.AVI")
            told += record.Get("kind") + " " + record.Get("name") + record.Get("cut_line") + "; ";
    }
    EXPECT_EQ(told, "resumed 2; recording 20240305-090000.AVI; unsealed 20240305-090100.AVI; ");
}

// What the catalogue accepts, what retention deletes and what the scan recycles each leave a record,
// in that order, with the file's real size and hash, its positions and the moment's time state.
TEST_F(SealLogTest, CatalogueRetentionAndRecyclingAreSealed)
{
    std::vector<std::string> hashes;
    {
        CVideoStore store;
        store.m_strFolder = m_folder.Path();
        store.m_nRetainMinutes = 1;
        store.m_sealSource = [] {
            SealContext c{.bNetworkTime = true, .strServer = "192.0.2.7", .llClockOffsetMs = -1234, .llReplyAgeMs = 812,
                          .bOverlay = true, .strName = L"张三", .strPlatform = L"MT5", .strAccount = L"88\t01"};
            GetLocalTime(&c.local);
            GetSystemTime(&c.utc);
            return c;
        };
        for (const wchar_t* name : {L"20240305-090000.AVI", L"20240305-090100.AVI"}) {
            store.NoteFileStart();
            ASSERT_TRUE(Commit(store, static_cast<int>(hashes.size())));
            ASSERT_TRUE(store.m_sealer.WaitIdle(30000));
            hashes.push_back(HostSha256(m_folder.File(name)));
        }
        EXPECT_EQ(store.ReadFigures().nCount, 1u) << "the catalogue follows retention";
    }
    WriteText(m_folder.File(L"notes.txt"), "other");
    {
        CVideoStore restarted;  // the next start: its scan recycles the other file
        restarted.m_strFolder = m_folder.Path();
        restarted.m_nRetainMinutes = 1;
        restarted.m_bCleanOtherFiles = TRUE;
        (void)restarted.ScanFolder();
        ASSERT_TRUE(restarted.m_sealer.WaitIdle(30000));
    }
    const std::vector<CSealRecord> r = SealRecords(CSealer::LogPath(m_folder.Path()));
    ASSERT_EQ(r.size(), 4u) << "two recordings, the retention removal, the recycled other file";
    EXPECT_EQ(r[0].Get("kind") + r[1].Get("kind") + r[2].Get("kind"), "recordingrecordingremoved");
    EXPECT_EQ(r[0].Get("name"), "20240305-090000.AVI");
    EXPECT_EQ(r[0].Get("sha256") + r[1].Get("sha256"), hashes[0] + hashes[1]);
    EXPECT_EQ(r[0].Get("positions") + "/" + r[0].Get("pictures") + "/" + r[0].Get("dropped") + "/" + r[0].Get("screen"),
              "600/1/599/64x48");
    EXPECT_EQ(r[0].Get("utc_source") + " " + r[0].Get("server") + " " + r[0].Get("offset_start_ms") + " " +
                  r[0].Get("offset_end_ms") + " " + r[0].Get("reply_age_ms"),
              "network 192.0.2.7 -1234 -1234 812");
    EXPECT_EQ(r[0].Get("overlay_name") + r[0].Get("overlay_platform") + r[0].Get("overlay_account"), "张三MT588\t01");
    EXPECT_EQ(r[1].Get("size"), std::to_string(ReadBytes(m_folder.File(L"20240305-090100.AVI")).size()));
    // Retention one minute: the newer file stays, the older goes with a record saying why.
    EXPECT_EQ(r[2].Get("name") + " " + r[2].Get("reason"), "20240305-090000.AVI retention");
    EXPECT_FALSE(FileExists(m_folder.File(L"20240305-090000.AVI")));
    EXPECT_EQ(r[3].Get("name") + " " + r[3].Get("reason") + " " + r[3].Get("size"), "notes.txt recycled 5");
}

// Retention deletes a recording still being hashed for its seal; the log tells of it, then its removal.
TEST_F(SealLogTest, RetentionDeletesAFileThatIsStillBeingSealed)
{
    CVideoStore store;
    store.m_strFolder = m_folder.Path();
    store.m_nRetainMinutes = 0;  // the second commit deletes both
    WriteRecording(m_temp, 600);
    std::vector<std::uint8_t> bytes = ReadBytes(m_temp);
    const std::uint32_t padding = 32u << 20;  // a padding chunk: hashing it takes the sealer a while
    const std::uint8_t junk[8] = {'J', 'U', 'N', 'K', 0, 0, 0, padding >> 24};
    bytes.insert(bytes.end(), junk, junk + 8);
    bytes.resize(bytes.size() + padding);
    WriteBytes(m_temp, bytes);
    ASSERT_TRUE(store.CommitRecording(m_temp, CDateTime::FromSystemTime(MakeSystemTime(2024, 3, 5, 9, 0)), 600));
    ASSERT_TRUE(FileExists(m_folder.File(L"20240305-090000.AVI"))) << "its padding leaves it no duration to expire";
    ASSERT_TRUE(Commit(store, 1));
    ASSERT_TRUE(store.m_sealer.WaitIdle(60000));
    EXPECT_EQ(ListFolder(m_folder.Path()), L"LumenoData\\") << "both deleted, the first while it was being hashed";
    const std::vector<CSealRecord> r = SealRecords(CSealer::LogPath(m_folder.Path()));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].Get("name") + " " + r[0].Get("size"), "20240305-090000.AVI " + std::to_string(bytes.size()));
    EXPECT_EQ(r[3].Get("kind") + " " + r[3].Get("name"), "removed 20240305-090000.AVI");
}
