#include "DllSearchPath.h"

#include <gtest/gtest.h>

#include "PathSplit.h"
#include "TestSupport.h"

namespace
{
TEST(DllSearchPathTest, FirstFolderHoldingTheFileWinsAndBareNamesGetDll)
{
    CTempDir first;
    CTempDir second;
    ASSERT_TRUE(WriteFileBytes(second.File("both.dll"), "x"));
    ASSERT_TRUE(WriteFileBytes(first.File("both.dll"), "x"));
    ASSERT_TRUE(WriteFileBytes(second.File("late.dll"), "x"));
    ASSERT_TRUE(CreateDirectoryA(first.File("folder.dll").c_str(), nullptr));
    const CDllSearchPath search({first.Path(), "", second.Path()});
    EXPECT_EQ(first.File("both.dll"), search.Resolve("both.dll"));
    EXPECT_EQ(second.File("late.dll"), search.Resolve("late"));
    // A folder of that name is no DLL, nor are names that carry a path.
    EXPECT_EQ("", search.Resolve("folder.dll"));
    EXPECT_EQ("", search.Resolve("..\\late.dll"));
    EXPECT_EQ("", search.Resolve(second.File("late.dll")));
    EXPECT_EQ("", search.Resolve("absent.dll"));
    EXPECT_EQ("", search.Resolve(""));
}

TEST(DllSearchPathTest, ProgramFolderComesBeforeSystemAndWindowsFolders)
{
    CTempDir program;
    const CDllSearchPath search = CDllSearchPath::ForProgram(program.File("app.exe"));
    ASSERT_GE(search.GetDirectories().size(), 3u);
    EXPECT_EQ(program.Path() + "\\", search.GetDirectories()[0]);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(std::string(system) + "\\", search.GetDirectories()[1]);
    // kernel32 lies in the system folder, whatever PATH says.
    EXPECT_TRUE(EqualNoCase(std::string(system) + "\\kernel32.dll", search.Resolve("KERNEL32.dll")));
}
} // namespace
