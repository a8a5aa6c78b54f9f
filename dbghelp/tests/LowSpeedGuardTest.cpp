#include "LowSpeedGuard.h"

#include <gtest/gtest.h>

namespace
{

// 1000 bytes in every 10 s, on a clock the test moves by hand; it starts
// just before the tick counter wraps.
class LowSpeedGuardTest : public ::testing::Test
{
protected:
    void SetUp() override { m_guard.Start(); }

    DWORD m_now = 0xFFFFF000u;
    CLowSpeedGuard m_guard{1000, 10, [this] { return m_now; }};
};

TEST_F(LowSpeedGuardTest, WindowIsJudgedOnlyOnceItHasRunOut)
{
    m_now += 9999;
    EXPECT_TRUE(m_guard.Received(1));
    EXPECT_TRUE(m_guard.Received(0));
    m_now += 1;
    EXPECT_FALSE(m_guard.Received(1));
    EXPECT_EQ(2u, m_guard.WindowBytes());
}

TEST_F(LowSpeedGuardTest, EnoughBytesInEachWindowKeepTheTransferGoing)
{
    for (int window = 0; window < 5; ++window)
    {
        m_now += 5000;
        EXPECT_TRUE(m_guard.Received(500));
        m_now += 5000;
        EXPECT_TRUE(m_guard.Received(500)) << window;
    }
}

// Bytes of an earlier window do not carry over; a wait without bytes after
// the window fails.
TEST_F(LowSpeedGuardTest, EachWindowIsJudgedByItsOwnBytes)
{
    EXPECT_TRUE(m_guard.Received(400));
    m_now += 12000;
    EXPECT_FALSE(m_guard.Received(0));
    EXPECT_EQ(400u, m_guard.WindowBytes());
    m_guard.Start();
    m_now += 10000;
    EXPECT_TRUE(m_guard.Received(100000));
    m_now += 10000;
    EXPECT_FALSE(m_guard.Received(999));
}

TEST_F(LowSpeedGuardTest, StartBeginsAFreshWindow)
{
    m_now += 9000;
    m_guard.Received(10);
    m_guard.Start();
    m_now += 9000;
    EXPECT_TRUE(m_guard.Received(0));
    EXPECT_EQ(0u, m_guard.WindowBytes());
}

TEST(LowSpeedGuardLimitTest, ZeroBytesOrSecondsNeverAbandon)
{
    DWORD now = 0;
    for (CLowSpeedGuard guard :
         {CLowSpeedGuard(0, 10, [&] { return now; }), CLowSpeedGuard(1000, 0, [&] { return now; })})
    {
        guard.Start();
        now += 3600000;
        EXPECT_TRUE(guard.Received(0));
    }
}

} // namespace
