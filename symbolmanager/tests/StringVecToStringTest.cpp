#include "StringVecToString.h"

#include <gtest/gtest.h>

TEST(StringVecToStringTest, JoinsTheLinesInOrderWithNothingBetweenOrAfter)
{
    std::string out = "old";
    StringVecToString({"QUILLM: File: a.dll\n", "diagnostic\n", "QUILLM: Checking symbols...\n"}, out);
    EXPECT_EQ("QUILLM: File: a.dll\ndiagnostic\nQUILLM: Checking symbols...\n", out);
    StringVecToString({}, out);
    EXPECT_EQ("", out);
}
