#include <gtest/gtest.h>
#include <objbase.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include "framework/ThreadClass.h"

TEST(ThreadClass, EntryBracketsRunWithComWhenAskedAndStopsItsExceptions)
{
    struct Body : CThreadClass {
        std::function<int()> run;
        int Run() override { return run(); }
    };
    // S_FALSE when COM is already initialised on the calling thread, S_OK when not; balances its own call.
    const auto probeCom = [] {
        const HRESULT hr = ::CoInitialize(nullptr);
        return SUCCEEDED(hr) ? (::CoUninitialize(), hr) : hr;
    };
    for (const int initCom : {0, 1})
        for (const bool throws : {false, true}) {
            SCOPED_TRACE(testing::Message() << "initCom " << initCom << ", throws " << throws);
            HRESULT comInRun = E_UNEXPECTED, comAfterEntry = E_UNEXPECTED;
            DWORD exitCode = 0;
            Body body;
            body.m_bInitCom = initCom;
            body.run = [&] { return comInRun = probeCom(), throws ? throw std::runtime_error("failed") : -7; };
            std::thread([&] { exitCode = CThreadClass::ThreadEntry(&body), comAfterEntry = probeCom(); }).join();
            EXPECT_EQ(exitCode, throws ? CThreadClass::kExitCodeRunThrew : static_cast<DWORD>(-7));
            EXPECT_EQ(comInRun, initCom ? S_FALSE : S_OK);
            EXPECT_EQ(comAfterEntry, S_OK) << "COM left initialised after the entry";
        }
}
