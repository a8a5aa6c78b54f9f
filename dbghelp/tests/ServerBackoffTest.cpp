#include "ServerBackoff.h"

#include <gtest/gtest.h>

namespace
{

// A clock the test moves by hand.
class ServerBackoffTest : public ::testing::Test
{
protected:
    DWORD m_now = 1000;
    CServerBackoff m_backoff{[this] { return m_now; }};
};

TEST_F(ServerBackoffTest, UnmarkedServerIsNotOffline)
{
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
}

TEST_F(ServerBackoffTest, MarkedServerIsOfflineUntilThePeriodEnds)
{
    m_backoff.MarkOffline("127.0.0.1:80", 300);
    m_now += 299999;
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:80"));
    m_now += 1;
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
}

TEST_F(ServerBackoffTest, MarkCoversOnlyThatHostAndPort)
{
    m_backoff.MarkOffline("127.0.0.1:80", 300);
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:81"));
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.2:80"));
}

TEST_F(ServerBackoffTest, HostNamesCompareWithoutCase)
{
    m_backoff.MarkOffline("Symbols.Example:80", 300);
    EXPECT_TRUE(m_backoff.IsOffline("symbols.example:80"));
}

TEST_F(ServerBackoffTest, PeriodSurvivesTheTickCountWrapping)
{
    m_now = 0xFFFFF000u;
    m_backoff.MarkOffline("127.0.0.1:80", 10);
    m_now += 0x2000; // wrapped past zero, 8 s later
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:80"));
}

TEST_F(ServerBackoffTest, ZeroSecondsClearsAMark)
{
    m_backoff.MarkOffline("127.0.0.1:80", 300);
    m_backoff.MarkOffline("127.0.0.1:80", 0);
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
}

TEST_F(ServerBackoffTest, HugePeriodDoesNotOverflowIntoAShortOne)
{
    m_backoff.MarkOffline("127.0.0.1:80", 0xFFFFFFFFu);
    m_now += 20u * 24u * 60u * 60u * 1000u;
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:80"));
}

TEST_F(ServerBackoffTest, ResetForgetsEveryMark)
{
    m_backoff.MarkOffline("127.0.0.1:80", 300);
    m_backoff.MarkOffline("127.0.0.1:81", 300);
    m_backoff.Reset();
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:81"));
}

} // namespace
