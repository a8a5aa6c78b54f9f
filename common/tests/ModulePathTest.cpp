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

TEST(ModulePathTest, MaskChoosesThePartsOfTheModulesPath)
{
    const std::string full = FullExePath();
    const struct
    {
        unsigned int mask;
        std::string expected;
    } cases[] = {
        {MODULE_PATH_DRIVE | MODULE_PATH_DIR, ExeDirectory()},
        {MODULE_PATH_DRIVE | MODULE_PATH_DIR | MODULE_PATH_FNAME, full.substr(0, full.size() - 4)},
        {MODULE_PATH_FNAME | MODULE_PATH_EXT, "common_tests.exe"},
        {MODULE_PATH_EXT, ".exe"},
        {0, full},
        {MODULE_PATH_FULL, full},
    };
    for (const auto& c : cases)
    {
        std::string out = "stale";
        ASSERT_TRUE(GetModulePathPart(out, c.mask, nullptr)) << c.mask;
        EXPECT_EQ(c.expected, out) << c.mask;
    }
    std::string dll;
    ASSERT_TRUE(GetModulePathPart(dll, MODULE_PATH_FNAME | MODULE_PATH_EXT, GetModuleHandleA("kernel32.dll")));
    EXPECT_STRCASEEQ("kernel32.dll", dll.c_str());
}

TEST(ModulePathTest, UnknownModuleGivesFalseAndAnEmptyString)
{
    std::string out = "stale";
    EXPECT_FALSE(GetModulePathPart(out, MODULE_PATH_DRIVE | MODULE_PATH_DIR, reinterpret_cast<HMODULE>(0x1230)));
    EXPECT_TRUE(out.empty());
}

} // namespace
