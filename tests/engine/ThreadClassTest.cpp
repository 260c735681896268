#include <gtest/gtest.h>
#include <objbase.h>

#include <stdexcept>
#include <thread>

#include "engine/ThreadClass.h"

namespace {

// Reports, from inside Run, whether COM was already initialised on its thread: CoInitialize
// answers S_FALSE when it was, S_OK when it was not (the probe balances its own call either way).
class ComProbeThread : public CThreadClass {
public:
    explicit ComProbeThread(int result, bool throwFromRun = false) : m_result(result), m_throw(throwFromRun) {}

    int Run() override
    {
        m_comInRun = ::CoInitialize(nullptr);
        if (SUCCEEDED(m_comInRun))
            ::CoUninitialize();
        if (m_throw)
            throw std::runtime_error("body failed");
        return m_result;
    }

    HRESULT m_comInRun = E_UNEXPECTED;

private:
    int m_result;
    bool m_throw;
};

struct EntryOutcome {
    DWORD exitCode = 0;
    HRESULT comAfterEntry = E_UNEXPECTED;  // CoInitialize on the same thread once the entry returned
};

// Calls ThreadEntry on a fresh thread and then asks COM on that thread whether it was released.
EntryOutcome CallEntryOnFreshThread(CThreadClass& body)
{
    EntryOutcome outcome;
    std::thread([&] {
        outcome.exitCode = CThreadClass::ThreadEntry(&body);
        outcome.comAfterEntry = ::CoInitialize(nullptr);
        if (SUCCEEDED(outcome.comAfterEntry))
            ::CoUninitialize();
    }).join();
    return outcome;
}

DWORD StartAndJoin(CThreadClass& body)
{
    body.m_hThread.Reset(::CreateThread(nullptr, 0, &CThreadClass::ThreadEntry, &body, 0, nullptr));
    EXPECT_TRUE(body.m_hThread);
    EXPECT_EQ(::WaitForSingleObject(body.m_hThread.Get(), 10000), WAIT_OBJECT_0);
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_TRUE(::GetExitCodeThread(body.m_hThread.Get(), &exitCode));
    return exitCode;
}

}  // namespace

TEST(ThreadClass, ExitCodeIsTheResultOfRun)
{
    CThreadClass baseBody;
    EXPECT_EQ(StartAndJoin(baseBody), 0u);

    ComProbeThread answer(42);
    EXPECT_EQ(StartAndJoin(answer), 42u);

    ComProbeThread negative(-7);
    EXPECT_EQ(StartAndJoin(negative), static_cast<DWORD>(-7));
}

TEST(ThreadClass, ComIsInitialisedAroundRunWhenAsked)
{
    ComProbeThread body(5);
    body.m_bInitCom = 1;
    const EntryOutcome outcome = CallEntryOnFreshThread(body);
    EXPECT_EQ(body.m_comInRun, S_FALSE) << "COM was not initialised while Run ran";
    EXPECT_EQ(outcome.comAfterEntry, S_OK) << "COM was left initialised after Run";
    EXPECT_EQ(outcome.exitCode, 5u);
}

TEST(ThreadClass, NoComWhenNotAsked)
{
    ComProbeThread body(0);
    body.m_bInitCom = 0;
    const EntryOutcome outcome = CallEntryOnFreshThread(body);
    EXPECT_EQ(body.m_comInRun, S_OK) << "COM was initialised although m_bInitCom is 0";
    EXPECT_EQ(outcome.comAfterEntry, S_OK);
}

TEST(ThreadClass, ExceptionFromRunStopsAtTheEntryAndComIsStillReleased)
{
    ComProbeThread body(3, true);
    body.m_bInitCom = 1;
    const EntryOutcome outcome = CallEntryOnFreshThread(body);
    EXPECT_EQ(outcome.exitCode, CThreadClass::kExitCodeRunThrew);
    EXPECT_EQ(body.m_comInRun, S_FALSE);
    EXPECT_EQ(outcome.comAfterEntry, S_OK);

    ComProbeThread started(3, true);
    EXPECT_EQ(StartAndJoin(started), CThreadClass::kExitCodeRunThrew);
}
