#include <gtest/gtest.h>

#include "ui/AVIStorageInfoDispWnd.h"

// Whole KB below 1 MiB, whole MB below 1 GiB, GB with one decimal from there on (no terabytes).
TEST(StorageInfoPanel, SizeTextSwitchesUnitsAtPowersOf1024AndRoundsLikePrintf)
{
    const ULONGLONG bytes[] = {0, 511, 1023, 1048575, 1048576, 1073741823, 1073741824, 1610612736, 5ull << 40, ~0ull};
    const wchar_t* const texts[] = {L"0KB",    L"0KB",   L"1KB",   L"1024KB",   L"1MB",
                                    L"1024MB", L"1.0GB", L"1.5GB", L"5120.0GB", L"17179869184.0GB"};
    for (std::size_t i = 0; i < std::size(bytes); ++i)
        EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(bytes[i]), texts[i]) << bytes[i];
}
