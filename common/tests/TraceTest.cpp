#include "Trace.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TraceScope.h"

namespace
{

// Each test traces into a log of its own in a fresh directory, with the
// optional columns off unless the test turns them on.
class TraceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_log = m_dir.File("trace.log");
        TraceOpenLogFile(m_log.c_str(), "a");
        TraceSetOptions(0xFFFFFFFFu, 255, 0, 0);
        TraceEnable(1);
    }

    void TearDown() override
    {
        // The library has no close operation: switching to a log that outlives
        // the test releases this test's file so its directory can be removed.
        TraceEnable(1);
        TraceSetOptions(0xFFFFFFFFu, 255, 0, 0);
        TraceOpenLogFile(ParkedLogName().c_str(), "a");
    }

    static std::string ParkedLogName()
    {
        const char* base = getenv("QX3_TESTDIR");
        char name[MAX_PATH];
        snprintf(name, sizeof(name), "%s\\parked-%lu.log", base != nullptr ? base : ".", GetCurrentProcessId());
        return name;
    }

    std::string Log() const { return ReadFileBytes(m_log); }

    CTempDir m_dir;
    std::string m_log;
};

TEST_F(TraceTest, WritesTheCategoryColumnAndTheThreadIdInUpperCaseHex)
{
    TraceMessage(TRACE_ERROR, 0, "%s", "e\n");
    TraceMessage(TRACE_WARNING, 0, "%s", "w\n");
    TraceMessage(TRACE_INFO, 0, "%s", "i\n");
    TraceMessage(8, 0, "%s", "other\n");
    TraceSetOptions(0xFFFFFFFFu, 255, 0, 1);
    TraceMessage(TRACE_INFO, 0, "Value: %d\n", 42);
    char threadLine[64];
    snprintf(threadLine, sizeof(threadLine), "1\t%lX\tValue: 42\r\n", GetCurrentThreadId());
    EXPECT_EQ(std::string("3\te\r\n2\tw\r\n1\ti\r\n0\tother\r\n") + threadLine, Log());
}

TEST_F(TraceTest, FiltersBySwitchCategoryMaskAndLevel)
{
    TraceSetOptions(TRACE_ERROR | TRACE_WARNING, 3, 0, 0);
    TraceMessage(TRACE_INFO, 0, "%s", "masked\n");
    TraceMessage(TRACE_ERROR, 4, "%s", "too deep\n");
    TraceMessage(TRACE_WARNING, 3, "%s", "kept\n");
    // A negative maximum level still lets level 0 through.
    TraceSetOptions(0xFFFFFFFFu, -7, 0, 0);
    TraceMessage(TRACE_INFO, 0, "%s", "zero\n");
    TraceMessage(TRACE_INFO, 1, "%s", "one\n");
    TraceEnable(0);
    TraceMessage(TRACE_ERROR, 0, "%s", "disabled\n");
    EXPECT_EQ("2\tkept\r\n1\tzero\r\n", Log());
}

TEST_F(TraceTest, DateTimeColumnPadsTheTwoDigitYearWithABlank)
{
    TraceSetOptions(0xFFFFFFFFu, 255, 1, 0);
    const time_t before = time(nullptr);
    TraceMessage(TRACE_INFO, 0, "%s", "dated\n");
    const time_t after = time(nullptr);

    const std::string line = Log();
    ASSERT_GE(line.size(), 20u);
    EXPECT_EQ("1\t", line.substr(0, 2));
    // "%2d/%02d/%02d %02d:%02d:%02d\t": year modulo 100, month, day, time.
    const std::string column = line.substr(2, 18);
    bool matchedOne = false;
    for (time_t t = before; t <= after; ++t)
    {
        const struct tm* local = localtime(&t);
        char expected[32];
        snprintf(expected, sizeof(expected), "%2d/%02d/%02d %02d:%02d:%02d\t", local->tm_year % 100, local->tm_mon + 1,
                 local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);
        matchedOne = matchedOne || column == expected;
    }
    EXPECT_TRUE(matchedOne) << column;
    EXPECT_EQ("dated\r\n", line.substr(20));
}

TEST_F(TraceTest, ScopesIndentAlignTheirClosingLinesAndRestoreTheSwitch)
{
    {
        CTraceScope outer("Outer()\n", 0);
        {
            CTraceScope inner("CInner::Run()\n", 0);
            TraceMessage(TRACE_INFO, 0, "%s", "inside\n");
            TraceEnable(0);
            TraceMessage(TRACE_INFO, 0, "%s", "hidden\n");
        }
    }
    EXPECT_EQ(1, TraceIsEnabled());
    EXPECT_EQ("1\t{ Outer()\r\n"
              "1\t   { CInner::Run()\r\n"
              "1\t      inside\r\n"
              "1\t   } CInner::Run()\r\n"
              "1\t} Outer()\r\n",
              Log());
}

TEST_F(TraceTest, LongMessagesAndDeepNestingKeepWithinTheLineBuffer)
{
    TraceMessage(TRACE_INFO, 0, "%s\n", std::string(3000, 'm').c_str());
    std::vector<std::unique_ptr<CTraceScope>> scopes;
    TraceEnable(0);
    for (int i = 0; i < 400; ++i)
        scopes.push_back(std::make_unique<CTraceScope>("Deep()\n", 0));
    TraceEnable(1);
    EXPECT_EQ(1200, TraceNestingDepth());
    TraceMessage(TRACE_INFO, 0, "%s", "bottom\n");
    TraceEnable(0);
    scopes.clear();
    TraceEnable(1);
    TraceMessage(TRACE_INFO, 0, "%s", "top\n");

    // The cut message loses its line end as well.
    EXPECT_EQ("1\t" + std::string(TRACE_MAX_MESSAGE, 'm') + "1\t" + std::string(TRACE_MAX_MESSAGE, ' ') +
                  "bottom\r\n1\ttop\r\n",
              Log());
}

void RunOnThreads(int count, const std::function<void(int)>& body)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back(body, t);
    for (std::thread& thread : threads)
        thread.join();
}

TEST_F(TraceTest, ConcurrentThreadsKeepTheDepthBalancedAndTheirLinesWhole)
{
    // Many scopes, untraced, so that lost updates of the shared depth show.
    TraceEnable(0);
    RunOnThreads(4,
                 [](int)
                 {
                     for (int i = 0; i < 200000; ++i)
                         CTraceScope scope("Spin()\n", 0);
                 });
    TraceEnable(1);
    EXPECT_EQ(0, TraceNestingDepth());

    TraceSetOptions(0xFFFFFFFFu, 255, 0, 1);
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    RunOnThreads(kThreads,
                 [](int t)
                 {
                     for (int i = 0; i < kLines; ++i)
                         TraceMessage(TRACE_WARNING, 0, "thread %d line %d\n", t, i);
                 });
    const std::vector<std::string> lines = SplitLines(Log());
    ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines)
    {
        unsigned long id = 0;
        int thread = -1;
        int index = -1;
        char end[4] = {};
        ASSERT_EQ(4, sscanf(line.c_str(), "2\t%lX\tthread %d line %d%3c", &id, &thread, &index, end)) << line;
        ASSERT_STREQ("\r\n", end) << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads);
        EXPECT_EQ(next[thread]++, index) << "lines of one thread keep their order";
    }
}

TEST_F(TraceTest, ReopeningTheOpenNameKeepsTheStreamAndOverlongNamesOpenNoFile)
{
    TraceMessage(TRACE_INFO, 0, "%s", "before\n");
    // Reopened with "w" the file would be truncated; the open stream is kept.
    TraceOpenLogFile(m_log.c_str(), "w");
    TraceMessage(TRACE_INFO, 0, "%s", "after\n");

    // Too long to keep, and short enough to keep but too long once placed
    // beside the executable: neither may overrun a buffer or open a file.
    const std::string tooLong = m_dir.Path() + "\\" + std::string(400, 'n') + ".log";
    const std::string bare(MAX_PATH - 2, 'b');
    for (const std::string& name : {tooLong, bare})
    {
        TraceOpenLogFile(name.c_str(), "a");
        TraceMessage(TRACE_INFO, 0, "%s", "to the debugger\n");
        TraceOpenLogFile(m_log.c_str(), "a");
        TraceMessage(TRACE_INFO, 0, "%s", "back\n");
    }
    EXPECT_EQ("1\tbefore\r\n1\tafter\r\n1\tback\r\n1\tback\r\n", Log());
}

TEST_F(TraceTest, NameWithoutDirectoryLandsBesideTheExecutable)
{
    char name[64];
    snprintf(name, sizeof(name), "qx3trace-%lu.log", GetCurrentProcessId());
    char previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(m_dir.Path().c_str()));

    TraceOpenLogFile(name, "a");
    TraceMessage(TRACE_INFO, 0, "%s", "beside\n");
    TraceOpenLogFile(m_log.c_str(), "a");
    SetCurrentDirectoryA(previous);

    const std::string besideExe = ExeDirectory() + name;
    EXPECT_EQ("1\tbeside\r\n", ReadFileBytes(besideExe));
    EXPECT_FALSE(FileExists(m_dir.File(name)));
    DeleteFileA(besideExe.c_str());
}

} // namespace
