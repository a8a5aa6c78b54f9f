#include "ModulePath.h"

#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace
{

std::string FullExePath()
{
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

TEST(ModulePathTest, DriveAndDirectoryEndInOneBackslash)
{
    std::string out = "stale";
    ASSERT_TRUE(GetModulePathPart(out, MODULE_PATH_DRIVE | MODULE_PATH_DIR, nullptr));
    EXPECT_EQ(ExeDirectory(), out);
    EXPECT_EQ(':', out[1]);
}

TEST(ModulePathTest, PathWithoutExtensionDropsTheDot)
{
    std::string out;
    ASSERT_TRUE(GetModulePathPart(out, MODULE_PATH_DRIVE | MODULE_PATH_DIR | MODULE_PATH_FNAME, nullptr));
    const std::string full = FullExePath();
    EXPECT_EQ(full.substr(0, full.size() - 4), out);
}

TEST(ModulePathTest, FileNameWithExtension)
{
    std::string out;
    ASSERT_TRUE(GetModulePathPart(out, MODULE_PATH_FNAME | MODULE_PATH_EXT, nullptr));
    EXPECT_EQ("common_tests.exe", out);
    ASSERT_TRUE(GetModulePathPart(out, MODULE_PATH_EXT, nullptr));
    EXPECT_EQ(".exe", out);
}

TEST(ModulePathTest, MaskZeroAndFifteenGiveTheFullPath)
{
    std::string zero;
    std::string fifteen;
    ASSERT_TRUE(GetModulePathPart(zero, 0, nullptr));
    ASSERT_TRUE(GetModulePathPart(fifteen, MODULE_PATH_FULL, nullptr));
    EXPECT_EQ(FullExePath(), zero);
    EXPECT_EQ(zero, fifteen);
}

TEST(ModulePathTest, WorksForALoadedDll)
{
    std::string out;
    ASSERT_TRUE(GetModulePathPart(out, MODULE_PATH_FNAME | MODULE_PATH_EXT, GetModuleHandleA("kernel32.dll")));
    EXPECT_STRCASEEQ("kernel32.dll", out.c_str());
}

TEST(ModulePathTest, UnknownModuleGivesFalseAndAnEmptyString)
{
    std::string out = "stale";
    EXPECT_FALSE(GetModulePathPart(out, MODULE_PATH_DRIVE | MODULE_PATH_DIR, reinterpret_cast<HMODULE>(0x1230)));
    EXPECT_TRUE(out.empty());
}

} // namespace
