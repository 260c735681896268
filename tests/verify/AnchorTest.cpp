#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "support/TsaStandIn.h"
#include "timestore/SealLog.h"
#include "timestore/Sealer.h"
#include "timestore/TimeStampRequest.h"
#include "timestore/TimeStampToken.h"
#include "verify/FolderCheck.h"

using namespace testsupport;

namespace {

// Seal logs written record by record, with tokens from the stand-in authority over chosen hashes.
class AnchorTest : public ::testing::Test {
public:  // the cases' lambdas write through the fixture
    static void SetUpTestSuite() { s_tsa = std::make_unique<TsaStandIn>(); }
    static void TearDownTestSuite() { s_tsa.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(s_tsa->IsListening());
        s_tsa->SetMode("ok");
        ASSERT_EQ(m_log.Open(CSealer::LogPath(m_folder.Path())), S_OK);
    }
    // A recording's record whose file retention then removed (so the folder itself checks).
    void Recording(const std::string& name, const std::string& startUtc)
    {
        CSealRecord r;
        r.Set("kind", "recording"), r.Set("name", name), r.Set("start_utc", startUtc);
        ASSERT_EQ(m_log.Append(r), S_OK);
        m_heads.push_back({m_log.LastSeq(), m_log.LastHash()});
        CSealRecord gone;
        gone.Set("kind", "removed"), gone.Set("name", name), gone.Set("reason", "retention");
        ASSERT_EQ(m_log.Append(gone), S_OK);
    }
    // A token over the newest record, from the stand-in in its current mode.
    std::string Token() const { return s_tsa->TokenFor(m_log.LastHash()); }
    void Stamp(long long seq, const std::string& hash, const std::string& token)
    {
        CTimeStampToken::Checked checked;
        std::string imprint;
        (void)CTimeStampRequest::HexToBytes(hash, imprint);
        (void)CTimeStampToken::Check(token, imprint, {}, CTrustRoots(), checked);  // for the fields only
        CSealRecord r;
        r.Set("kind", "stamp"), r.Set("covers_seq", std::to_string(seq)), r.Set("covers_hash", hash);
        r.Set("tsa", Narrow(s_tsa->Url())), r.Set("gen_time", CTimeStampInfo::FormatUtc(checked.info.llGenTimeMs));
        r.Set("serial", checked.info.strSerial), r.Set("token", CTimeStampToken::ToBase64(token));
        ASSERT_EQ(m_log.Append(r), S_OK);
    }
    void StampHead() { Stamp(m_log.LastSeq(), m_log.LastHash(), Token()); }
    CFolderCheck Check(bool trust = true, bool require = false) const
    {
        CFolderCheck check(m_folder.Path());
        if (trust) {
            EXPECT_TRUE(check.m_roots.AddFile(s_tsa->RootDer()));
        }
        check.m_bRequireAnchor = require;
        check.Run();
        return check;
    }
    static std::unique_ptr<TsaStandIn> s_tsa;
    TempFolder m_folder{L"anchor"};
    CSealLog m_log;
    std::vector<std::pair<long long, std::string>> m_heads;  // seq and hash of each recording's record
};
std::unique_ptr<TsaStandIn> AnchorTest::s_tsa;

}  // namespace

// Good stamps anchor what they cover; what came after fails only when asked to; the root must be given.
TEST_F(AnchorTest, GoodStampsAnchorWhatTheyCover)
{
    Recording("20261207-060248.AVI", CSealLog::NowUtc());
    StampHead();
    Recording("20261207-060256.AVI", CSealLog::NowUtc());
    StampHead();
    CFolderCheck check = Check();
    EXPECT_TRUE(check.Passed()) << check.Report();
    EXPECT_TRUE(Holds(check.Report(), "Anchored: up to seq 5 (recording 20261207-060256.AVI) by "));
    EXPECT_TRUE(Holds(Check(false).Report(), "bad token: its signer's certificate does not chain to a trusted root"));
    Recording("20261207-060305.AVI", CSealLog::NowUtc());
    check = Check(true, true);
    EXPECT_FALSE(check.Passed());
    EXPECT_TRUE(Holds(check.Report(), "not anchored yet: seq 7 onwards (2 records, 1 recordings)"));
    EXPECT_TRUE(Check().Passed()) << "not anchored yet is no failure unless asked";
    for (const auto& [more, code] : {std::pair{" --require-anchor --trust-root '" + Narrow(s_tsa->RootDer()) + "'", 1},
                                     {" --trust-root '" + Narrow(m_folder.File(L"none.pem")) + "'", 2}})
        EXPECT_EQ(RunVerifier(m_folder.Path(), more).code, code) << more;
}

// Every hostile or tampered stamp fails the check with words that name it.
TEST_F(AnchorTest, BadStampsAreNamed)
{
    const struct {
        const char* what;
        const char* mode;  // the stand-in's answer to a stamp of the head, or nullptr
        std::function<void(AnchorTest&)> write;
        const char* expected;
    } cases[] = {
        {"genTime changed by one digit", nullptr,
         [](AnchorTest& t) {
             std::string token = t.Token();
             const std::size_t at = token.find("\x18\x0f") + 2 + 13;
             token[at] = token[at] == '9' ? '8' : static_cast<char>(token[at] + 1);
             t.Stamp(t.m_log.LastSeq(), t.m_log.LastHash(), token);
         },
         "bad token: its signed contents were changed after signing"},
        {"token over another hash", "otherhash", {}, "bad token: it is a token over another hash"},
        {"untrusted root", "untrusted", {}, "bad token: its signer's certificate does not chain to a trusted root"},
        {"no timeStamping usage", "noeku", {}, "bad token: its signer's certificate lacks the timeStamping usage"},
        {"covers a record not in the chain", nullptr,
         [](AnchorTest& t) { t.Stamp(2, CSealRecord::kNoPrevious, s_tsa->TokenFor(CSealRecord::kNoPrevious)); },
         "covers seq 2, which is not in the chain before it"},
        {"genTime going back", nullptr,
         [](AnchorTest& t) {
             const long long seq = t.m_log.LastSeq();
             const std::string hash = t.m_log.LastHash(), early = t.Token();
             Sleep(1100);  // the stand-in's genTime has whole seconds: the next token is a second later
             t.Stamp(t.m_heads[0].first, t.m_heads[0].second, s_tsa->TokenFor(t.m_heads[0].second));
             t.Stamp(seq, hash, early);
         },
         "genTime goes back"},
        {"a recording starting after the genTime that covers it", nullptr,
         [](AnchorTest& t) {
             t.Recording("20991231-235959.AVI", "2099-12-31T23:59:59.000Z");
             t.StampHead();
         },
         "time contradiction: 20991231-235959.AVI (seq 3) starts at 2099-12-31T23:59:59.000Z"},
        {"stamp record removed", nullptr,
         [](AnchorTest& t) {
             t.StampHead();
             t.Recording("20261207-060256.AVI", CSealLog::NowUtc());
             t.StampHead();
             t.m_log.Close();
             std::vector<CSealLog::Line> lines = CSealLog::ReadLines(CSealer::LogPath(t.m_folder.Path()));
             std::string text;
             for (std::size_t i = 0; i < lines.size(); ++i)
                 text += i == 2 ? "" : lines[i].text + "\n";
             WriteText(CSealer::LogPath(t.m_folder.Path()), text);
         },
         "records seq 3 are not before line 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        s_tsa->SetMode("ok");
        m_log.Close();
        RemoveTree(m_folder.Path() + L"\\LumenoData");
        m_heads.clear();
        ASSERT_EQ(m_log.Open(CSealer::LogPath(m_folder.Path())), S_OK);
        Recording("20261207-060248.AVI", CSealLog::NowUtc());
        if (c.mode) {
            s_tsa->SetMode(c.mode);
            StampHead();
        } else {
            c.write(*this);
        }
        const CFolderCheck check = Check();
        EXPECT_FALSE(check.Passed()) << check.Report();
        EXPECT_TRUE(Holds(check.Report(), c.expected));
    }
}
