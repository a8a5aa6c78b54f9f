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

TEST_F(ServerBackoffTest, MarkedServerIsOfflineUntilThePeriodEnds)
{
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
    m_backoff.MarkOffline("127.0.0.1:80", 300);
    m_now += 299999;
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:80"));
    m_now += 1;
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
}

TEST_F(ServerBackoffTest, MarkCoversOnlyThatHostAndPortWithoutRegardToCase)
{
    m_backoff.MarkOffline("Symbols.Example:80", 300);
    EXPECT_TRUE(m_backoff.IsOffline("symbols.example:80"));
    EXPECT_FALSE(m_backoff.IsOffline("symbols.example:81"));
    EXPECT_FALSE(m_backoff.IsOffline("symbols.example2:80"));
}

TEST_F(ServerBackoffTest, PeriodSurvivesTheTickCountWrappingAndHugePeriodsDoNotOverflow)
{
    m_now = 0xFFFFF000u;
    m_backoff.MarkOffline("127.0.0.1:80", 10);
    m_backoff.MarkOffline("127.0.0.1:81", 0xFFFFFFFFu);
    m_now += 0x2000; // wrapped past zero, 8 s later
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:80"));
    m_now += 20u * 24u * 60u * 60u * 1000u;
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:81"));
}

TEST_F(ServerBackoffTest, ZeroSecondsClearsOneMarkAndResetEveryMark)
{
    for (const char* server : {"127.0.0.1:80", "127.0.0.1:81", "127.0.0.1:82"})
        m_backoff.MarkOffline(server, 300);
    m_backoff.MarkOffline("127.0.0.1:80", 0);
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:81"));
    m_backoff.Reset();
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:81"));
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:82"));
}

} // namespace
