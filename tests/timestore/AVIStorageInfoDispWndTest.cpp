#include "timestore/AVIStorageInfoDispWnd.h"

#include <gtest/gtest.h>

TEST(StorageInfoPanel, SizeTextSwitchesUnitsAtPowersOf1024AndRoundsLikePrintf)
{
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(0), L"0KB");
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(511), L"0KB");
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(1023), L"1KB");
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(1048575), L"1024KB");
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(1048576), L"1MB");
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(1073741823), L"1024MB");
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(1073741824), L"1.0GB");
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(1610612736), L"1.5GB");
    // No terabyte unit: 5 TiB stays in GB; the largest count does not overflow the double.
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(5ull << 40), L"5120.0GB");
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatSize(~0ull), L"17179869184.0GB");
}

TEST(StorageInfoPanel, CountAndDescriptionCarryTheFigures)
{
    EXPECT_EQ(CAVIStorageInfoDispWnd::FormatCount(12), L"12个");
    CAVIStorageInfoDispWnd panel;
    EXPECT_EQ(panel.DescribeFigures(), L"文件个数 0个 占用空间 0KB 可用空间 0KB");
    panel.m_nFileCount = 3;
    panel.m_ullUsedBytes = 12ull << 20;
    panel.m_ullFreeBytes = 1610612736;
    EXPECT_EQ(panel.DescribeFigures(), L"文件个数 3个 占用空间 12MB 可用空间 1.5GB");
}
