#include <gtest/gtest.h>

#include <memory>

#include "framework/SocketHandle.h"
#include "framework/WinsockSession.h"

namespace {

bool CanCreateSocket(int* lastError = nullptr)
{
    lumeno::UniqueSocket s(::socket(AF_INET, SOCK_DGRAM, 0));
    if (lastError)
        *lastError = ::WSAGetLastError();
    return static_cast<bool>(s);
}

}  // namespace

TEST(WinsockSession, StartsVersionTwoTwoAndCleansUpWhenTheLastOwnerGoes)
{
    auto outer = std::make_unique<CWinsockSession>();
    ASSERT_TRUE(outer->IsStarted());
    EXPECT_EQ(outer->Version(), 0x0202);
    EXPECT_TRUE(CanCreateSocket());

    {
        CWinsockSession inner;
        EXPECT_TRUE(inner.IsStarted());
    }
    EXPECT_TRUE(CanCreateSocket()) << "an inner session's clean-up must not end the outer one";

    outer.reset();
    int error = 0;
    EXPECT_FALSE(CanCreateSocket(&error));
    EXPECT_EQ(error, WSANOTINITIALISED);
}
