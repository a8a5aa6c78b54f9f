#include <windows.h>

#include <gtest/gtest.h>

#include "AnsiText.h"

namespace
{

TEST(AnsiTextTest, ConvertsBothWaysInTheAnsiCodePage)
{
    EXPECT_EQ(L"C:\\dir\\file.dll", AnsiToWide("C:\\dir\\file.dll"));
    EXPECT_EQ("C:\\dir\\file.dll", WideToAnsi(L"C:\\dir\\file.dll"));
    EXPECT_EQ(L"", AnsiToWide(""));
    EXPECT_EQ("", WideToAnsi(L""));
    EXPECT_EQ("", WideToAnsi(nullptr));

    // A character of the code page keeps its one byte; one the code page
    // lacks becomes the default character, never a cut string.
    char accented[2] = {};
    BOOL lossy = FALSE;
    const wchar_t eAcute[] = {0x00E9, 0};
    if (WideCharToMultiByte(CP_ACP, 0, eAcute, -1, accented, sizeof(accented), nullptr, &lossy) == 2 && !lossy)
    {
        EXPECT_EQ(std::string("x") + accented + "y", WideToAnsi(L"x\x00E9y"));
        EXPECT_EQ(L"x\x00E9y", AnsiToWide(std::string("x") + accented + "y"));
    }
    const std::string cut = WideToAnsi(L"a\x4E2D\x0416z");
    EXPECT_EQ('a', cut.front());
    EXPECT_EQ('z', cut.back());
    EXPECT_EQ(4u, cut.size());
}

} // namespace
