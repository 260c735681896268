#include "app/RecordingHealth.h"

#include <gtest/gtest.h>

namespace {

constexpr ULONGLONG kMB = 1000000;

// Recording since t = 0, writing `mbPerMinute` every second until `stallAt`, then nothing.
struct Writing {
    double mbPerMinute = 60;
    ULONGLONG freeBytes = 100000 * kMB;
    int retention = 600;
    int catalogued = 0;
    ULONGLONG stallAt = ~0ULL;
};

CRecordingHealth::Sample At(const Writing& run, ULONGLONG ms)
{
    CRecordingHealth::Sample s;
    s.ullNowMs = 1000000 + ms;  // a tick count far from zero
    s.bRecording = true;
    const ULONGLONG writtenUntil = std::min(ms, run.stallAt);
    s.ullLastWriteMs = writtenUntil == 0 ? 0 : 1000000 + writtenUntil;
    s.ullBytesWritten = static_cast<ULONGLONG>(run.mbPerMinute * kMB * static_cast<double>(writtenUntil) / 60000.0);
    s.bFreeKnown = true;
    s.ullFreeBytes = run.freeBytes;
    s.nRetentionMinutes = run.retention;
    s.nCataloguedMinutes = run.catalogued;
    return s;
}

// The state after `seconds` of samples once a second, and how many balloons were due.
std::pair<CRecordingHealth::State, int> Play(CRecordingHealth& health, const Writing& run, int fromSecond, int seconds)
{
    int balloons = 0;
    for (int t = fromSecond; t <= fromSecond + seconds; ++t) {
        (void)health.Update(At(run, static_cast<ULONGLONG>(t) * 1000));
        balloons += health.TakeNewIncident() ? 1 : 0;
    }
    return {health.Current(), balloons};
}

}  // namespace

TEST(RecordingHealthTest, StallOfTenSecondsIsAFaultWithOneBalloonAndClearsWhenFramesFlowAgain)
{
    using State = CRecordingHealth::State;
    CRecordingHealth health;
    Writing run;
    run.stallAt = 30000;
    EXPECT_EQ(Play(health, run, 0, 39), std::make_pair(State::kOk, 0));  // 9 s without a frame: still fine
    EXPECT_EQ(Play(health, run, 40, 20), std::make_pair(State::kNotWriting, 1));
    EXPECT_EQ(health.Describe(), L"录像异常：无法写入存储位置");
    run.stallAt = ~0ULL;  // frames reach the disk again
    EXPECT_EQ(Play(health, run, 61, 5), std::make_pair(State::kOk, 0));
    EXPECT_EQ(health.Describe(), L"");

    // Switching on starts the grace anew: the last frame of an earlier recording is long ago.
    CRecordingHealth fresh;
    run.stallAt = 0;
    EXPECT_EQ(Play(fresh, run, 0, 9), std::make_pair(State::kOk, 0));
    EXPECT_EQ(Play(fresh, run, 10, 0), std::make_pair(State::kNotWriting, 1));
    CRecordingHealth::Sample off = At(run, 11000);
    off.bRecording = false;
    EXPECT_EQ(fresh.Update(off), State::kOk);

    // A frame written between the reading of the clock and the reading of its time is no stall.
    CRecordingHealth raced;
    run.stallAt = ~0ULL;
    EXPECT_EQ(Play(raced, run, 0, 30), std::make_pair(State::kOk, 0));
    CRecordingHealth::Sample late = At(run, 31000);
    late.ullLastWriteMs = late.ullNowMs + 15;
    EXPECT_EQ(raced.Update(late), State::kOk);
    EXPECT_FALSE(raced.TakeNewIncident());
}

TEST(RecordingHealthTest, LowSpaceCountsMinutesAtTheMeasuredRateUnlessRetentionFreesSpaceFirst)
{
    using State = CRecordingHealth::State;
    struct Case {
        const char* what;
        Writing run;
        State expected;
        const wchar_t* tip;
    };
    // 60 MB a minute for 60 s before the check.
    const Case cases[] = {
        {"plenty of space", {60, 100000 * kMB, 600, 0}, State::kOk, L""},
        {"12 minutes of space", {60, 720 * kMB, 600, 0}, State::kLowSpace, L"磁盘空间不足，约 12 分钟后停止录像"},
        {"just over 30 minutes", {60, 1860 * kMB, 600, 0}, State::kOk, L""},
        {"retention frees space before", {60, 720 * kMB, 60, 55}, State::kOk, L""},
        {"retention comes too late", {60, 720 * kMB, 60, 30}, State::kLowSpace, L"磁盘空间不足，约 12 分钟后停止录像"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CRecordingHealth health;
        const auto [state, balloons] = Play(health, c.run, 0, 60);
        EXPECT_EQ(state, c.expected);
        EXPECT_EQ(balloons, c.expected == State::kOk ? 0 : 1);
        EXPECT_EQ(health.Describe(), c.tip);
    }
    // No warning before the rate has been measured for a while.
    CRecordingHealth early;
    EXPECT_EQ(Play(early, {60, 10 * kMB, 600, 0}, 0, 15).first, State::kOk);
}
