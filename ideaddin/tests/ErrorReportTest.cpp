#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorReport.h"

namespace
{

TEST(ErrorReportTest, KeepsTheLastReportUntilCleared)
{
    CErrorReport::SetErrorInfo("first", 5);
    CErrorReport::SetErrorInfo("Cannot save settings in .INI file.", 87);
    std::string message;
    DWORD code = 0;
    CErrorReport::GetErrorInfo(message, code);
    EXPECT_EQ("Cannot save settings in .INI file.", message);
    EXPECT_EQ(87u, code);
    CErrorReport::ClearErrorInfo();
    CErrorReport::GetErrorInfo(message, code);
    EXPECT_EQ("", message);
    EXPECT_EQ(0u, code);
}

TEST(ErrorReportTest, ReaderNeverSeesOneReportsMessageWithAnothersCode)
{
    std::thread writer(
        []
        {
            for (DWORD i = 0; i < 2000; ++i)
                CErrorReport::SetErrorInfo(std::to_string(i % 7), i % 7);
        });
    bool torn = false;
    for (int i = 0; i < 2000; ++i)
    {
        std::string message;
        DWORD code = 0;
        CErrorReport::GetErrorInfo(message, code);
        if (!message.empty() && message != std::to_string(code))
            torn = true;
    }
    writer.join();
    EXPECT_FALSE(torn);
    CErrorReport::ClearErrorInfo();
}

} // namespace
