#include <gtest/gtest.h>

#include <random>

#include "support/RecordingFiles.h"
#include "support/TestSupport.h"
#include "support/TsaStandIn.h"
#include "framework/Hex.h"
#include "timestore/DerReader.h"
#include "timestore/SealFormat.h"
#include "timestore/SealLog.h"
#include "framework/Sha256.h"
#include "timestore/TimeStampRequest.h"
#include "timestore/TimeStampToken.h"
#include "timestore/VideoStore.h"

using namespace testsupport;

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (const int v : values)
        bytes += static_cast<char>(v);
    return bytes;
}

std::vector<CSealRecord> Stamps(const std::wstring& folder)
{
    return SealRecords(CSealer::LogPath(folder), "stamp");
}

// One stand-in authority for the whole suite: making its keys takes seconds.
class TimeStampTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_tsa = std::make_unique<TsaStandIn>(); }
    static void TearDownTestSuite() { s_tsa.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(s_tsa->IsListening());
        s_tsa->SetMode("ok");
        ASSERT_TRUE(m_roots.AddFile(s_tsa->RootPem()));
    }
    static std::unique_ptr<TsaStandIn> s_tsa;
    CTrustRoots m_roots;
};
std::unique_ptr<TsaStandIn> TimeStampTest::s_tsa;

}  // namespace

// Only DER gets through: no indefinite or padded lengths, no multi-byte tags, nothing past the end.
TEST(DerReaderTest, TakesOnlyStrictDer)
{
    const struct {
        std::string bytes;
        bool ok;
    } cases[] = {
        {Bytes({0x30, 0x03, 0x02, 0x01, 0x05}), true},
        {Bytes({0x30, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00}), false},  // indefinite length
        {Bytes({0x30, 0x81, 0x03, 0x02, 0x01, 0x05}), false},        // long form for a short length
        {Bytes({0x30, 0x82, 0x00, 0x03, 0x02, 0x01, 0x05}), false},  // padded length
        {Bytes({0x30, 0x85, 0x01, 0, 0, 0, 0}), false},              // five length bytes
        {Bytes({0x30, 0x04, 0x02, 0x01, 0x05}), false},              // longer than the input
        {Bytes({0x1F, 0x81, 0x01, 0x00}), false},                    // multi-byte tag
        {Bytes({0x30, 0x03, 0x02, 0x01, 0x05, 0x00}), false},        // something after it
        {std::string(), false},
    };
    for (const auto& c : cases) {
        CDerReader::Element e;
        EXPECT_EQ(CDerReader::Single(c.bytes, CDerReader::kSequence, e), c.ok) << HexOf(c.bytes);
    }
    EXPECT_EQ(CDerReader::ObjectId(Bytes({0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x08})), "1.3.6.1.5.5.7.3.8");
    EXPECT_EQ(CDerReader::ObjectId(Bytes({0x2B, 0x80, 0x01})) + CDerReader::ObjectId(Bytes({0x2B, 0x86})), "");
    EXPECT_EQ(CDerReader::SmallInteger(Bytes({0x00, 0x80})), 128);
    EXPECT_EQ(CDerReader::SmallInteger(Bytes({0x00, 0x7F})) + CDerReader::SmallInteger(Bytes({0xFF})), -2);
}

// genTime as DER writes it, fractions included; everything else is refused.
TEST(DerReaderTest, GeneralizedTimes)
{
    const struct {
        const char* text;
        const char* utc;  // nullptr: refused
    } cases[] = {
        {"20261207060248Z", "2026-12-07T06:02:48.000Z"}, {"20261207060248.25Z", "2026-12-07T06:02:48.250Z"},
        {"20240229235959.123456Z", "2024-02-29T23:59:59.123Z"}, {"20261207060248", nullptr},
        {"20261207060248.Z", nullptr}, {"20261207060248.50Z", nullptr}, {"20250229000000Z", nullptr},
        {"20261207240000Z", nullptr}, {"2026120706024Z", nullptr}, {"20261207060248+0800", nullptr},
        {"2026-207060248Z", nullptr},
    };
    for (const auto& c : cases) {
        long long ms = 0;
        const bool ok = CTimeStampInfo::ParseGeneralizedTime(c.text, ms);
        EXPECT_EQ(ok, c.utc != nullptr) << c.text;
        if (ok && c.utc) {
            EXPECT_EQ(CTimeStampInfo::FormatUtc(ms), c.utc) << c.text;
        }
    }
}

// A fresh nonce each time and only a 64-digit hash; that openssl reads the rest, the stand-in shows.
TEST_F(TimeStampTest, RequestsTakeOnlyAFullHashAndAFreshNonce)
{
    const std::string hash = CSha256::OfText("record");
    EXPECT_NE(CTimeStampRequest::ForHash(hash).Nonce(), CTimeStampRequest::ForHash(hash).Nonce());
    EXPECT_TRUE(CTimeStampRequest::ForHash(hash.substr(1)).Der().empty());
    EXPECT_TRUE(CTimeStampRequest::ForHash(std::string(63, '0') + "g").Der().empty());
}

// Damage never makes a token vouch for another time, serial or hash (the authority's bad tokens, each
// named, are the verifier's anchor test's matter).
TEST_F(TimeStampTest, DamagedTokensAreRefusedOrVouchForTheSameTime)
{
    const std::string hash = CSha256::OfText("head"), nonceFree;
    std::string imprint;
    ASSERT_TRUE(CTimeStampRequest::HexToBytes(hash, imprint));
    const std::string good = s_tsa->TokenFor(hash);
    ASSERT_FALSE(good.empty()) << s_tsa->LastProblem();
    const std::size_t at = good.find("\x18\x0f");  // genTime, inside the signed contents
    ASSERT_NE(at, std::string::npos);
    for (const std::string& bad : {good.substr(0, good.size() - 1), std::string()}) {
        CTimeStampToken::Checked checked;
        EXPECT_TRUE(Holds(CTimeStampToken::Check(bad, imprint, nonceFree, m_roots, checked), "not a well-formed"));
    }
    CTimeStampToken::Checked checked;
    ASSERT_EQ(CTimeStampToken::Check(good, imprint, nonceFree, m_roots, checked), "");
    EXPECT_EQ(checked.info.llLatitudeMs, 2000) << "a second of stated accuracy and a genTime in whole seconds";
    // A token over plain HTTP may come from anyone: any byte changed, cut or doubled never crashes,
    // and whatever still passes vouches for the same time, serial and imprint.
    std::mt19937 random(20261207);
    for (int round = 0; round < 600; ++round) {
        std::string token = good;
        // Every other change falls on the signed TSTInfo around its genTime, where a flip of the
        // lowest bit keeps a digit a digit.
        const std::size_t pos = round % 2 ? random() % token.size() : at - 70 + random() % 90;
        if (round % 3 == 0)
            token[pos] = static_cast<char>(token[pos] ^ (round % 2 ? 1 + random() % 255 : 1));
        else
            round % 3 == 1 ? token.resize(pos) : (void)token.insert(pos, 1, token[pos]);
        CTimeStampToken::Checked mutated;
        if (CTimeStampToken::Check(token, imprint, nonceFree, m_roots, mutated).empty()) {
            EXPECT_EQ(mutated.info.llGenTimeMs, checked.info.llGenTimeMs) << "round " << round << " at " << pos;
            EXPECT_EQ(mutated.info.strSerial + mutated.info.strImprint, checked.info.strSerial + imprint);
        }
    }
    std::string problem;
    EXPECT_TRUE(CTimeStampToken::FromReply(std::string(700, '\x30'), problem).empty());
    EXPECT_TRUE(Holds(problem, "not a time-stamp reply"));
    EXPECT_TRUE(CTimeStampToken::FromReply(Bytes({0x30, 0x05, 0x30, 0x03, 0x02, 0x01, 0x02}), problem).empty());
    EXPECT_TRUE(Holds(problem, "refused the request (status 2)"));
}

// An authority down, answering garbage or taking 30 s holds up no recording's seal; stamps then resume.
TEST_F(TimeStampTest, SealerStampsTheHeadThroughAnAuthorityThatFails)
{
    AviLibrary avi;
    TempFolder folder(L"stamped");
    const std::wstring temp = folder.File(L"RECORDING.AVI");
    CVideoStore store;
    store.m_strFolder = folder.Path();
    store.m_nRetainMinutes = 600;
    store.m_sealer.ConfigureStamping({{L"http://127.0.0.1:9/", s_tsa->Url()}, 0, {s_tsa->RootPem()}},
                                     {.dwTimeoutMs = 45000, .dwFinalTimeoutMs = 3000, .dwFirstRetryMs = 200,
                                      .dwMaxRetryMs = 800, .ullStaleMs = 1500});
    int minute = 0;
    const auto commit = [&] {
        WriteRecording(temp, 20);
        ASSERT_TRUE(store.CommitRecording(temp, CDateTime::FromSystemTime(MakeSystemTime(2024, 3, 5, 9, minute++)), 20));
    };
    commit();
    ASSERT_TRUE(WaitUntil([&] { return Stamps(folder.Path()).size() == 1; }, 30000)) << "the first address is closed";
    const CSealRecord first = Stamps(folder.Path())[0];
    EXPECT_EQ(first.Get("covers_seq") + " " + first.Get("tsa"), "1 " + Narrow(s_tsa->Url()));

    for (const char* failing : {"down", "garbage", "otherhash", "slow:30"}) {
        const std::size_t before = Stamps(folder.Path()).size();
        if (std::string(failing) == "down")
            s_tsa->Kill();
        else
            s_tsa->SetMode(failing);
        const int asked = s_tsa->Requests();
        for (int i = 0; i < 3; ++i)
            commit();
        ASSERT_TRUE(store.m_sealer.WaitIdle(30000));
        EXPECT_EQ(SealRecords(CSealer::LogPath(folder.Path()), "recording").size(), minute)
            << failing << ": every recording is sealed at once";
        if (std::string(failing) == "slow:30") {
            // Answered within the time limit, just late: the token is good and sealed then.
            ASSERT_TRUE(WaitUntil([&] { return Stamps(folder.Path()).size() > before; }, 60000)) << failing;
            continue;
        }
        ASSERT_TRUE(WaitUntil([&] { return store.m_sealer.Stamper().IsStale(GetTickCount64()); }, 30000)) << failing;
        EXPECT_EQ(Stamps(folder.Path()).size(), before) << failing << ": nothing bad is sealed";
        if (std::string(failing) == "down")
            ASSERT_TRUE(s_tsa->Start());
        else
            EXPECT_TRUE(WaitUntil([&] { return s_tsa->Requests() >= asked + 2; }, 30000)) << failing << ": retried";
        s_tsa->SetMode("ok");
        ASSERT_TRUE(WaitUntil([&] { return Stamps(folder.Path()).size() > before; }, 30000)) << failing;
        EXPECT_FALSE(store.m_sealer.Stamper().IsStale(GetTickCount64())) << failing;
        EXPECT_EQ(Stamps(folder.Path()).back().GetNumber("covers_seq"), Stamps(folder.Path()).back().GetNumber("seq") - 1)
            << failing << ": the resumed stamp covers everything before it";
    }
}

// A stamp record holds every field, each of its kind; anything else is refused by the one layout.
TEST(DerReaderTest, StampRecordLayout)
{
    const std::string hash(64, 'a');
    const auto stamp = [&](const std::string& key, const std::string& value) {
        CSealRecord r{{{"kind", "stamp"}, {"covers_seq", "3"}, {"covers_hash", hash}, {"tsa", "http://t/"},
                       {"gen_time", "2026-12-07T06:02:48.000Z"}, {"serial", "0a1f"}, {"token", "MIIB+w=="}}};
        if (!key.empty())
            r.Set(key, value);
        CSealRecord line;
        return CSealFormat::Arrange(r, 4, hash, line);
    };
    EXPECT_TRUE(stamp("", ""));
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"covers_seq", "-"}, {"covers_hash", "-"},
                                     {"serial", "0A1F"}, {"serial", std::string(41, '1')}, {"token", "MIIB+w="},
                                     {"token", "MI=B+w=="}, {"token", "MIIB\nw=="}, {"token", std::string(48004, 'A')},
                                     {"gen_time", "2026-12-07 06:02:48.000"}, {"extra", "1"}})
        EXPECT_FALSE(stamp(key, value)) << key << "=" << value;
}
