// Path handling: splitting, wildcard matching, and the running module's path.
#include "ModulePath.h"
#include "PathSplit.h"
#include "Wildcard.h"

#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace
{

void ExpectParts(const char* path, const char* drive, const char* dir, const char* fname, const char* ext)
{
    const PathParts parts = SplitPath(path);
    EXPECT_EQ(drive, parts.drive) << path;
    EXPECT_EQ(dir, parts.dir) << path;
    EXPECT_EQ(fname, parts.fname) << path;
    EXPECT_EQ(ext, parts.ext) << path;
}

TEST(PathSplitTest, SplitsIntoDriveDirectoryNameAndExtension)
{
    ExpectParts("C:\\Windows\\system32\\KERNEL32.DLL", "C:", "\\Windows\\system32\\", "KERNEL32", ".DLL");
    // Forward slashes separate directories too.
    ExpectParts("D:/sym/app.pdb", "D:", "/sym/", "app", ".pdb");
    ExpectParts("x\\y/z", "", "x\\y/", "z", "");
    // The extension starts at the last dot of the file name only.
    ExpectParts("C:\\a.b\\name", "C:", "\\a.b\\", "name", "");
    ExpectParts("archive.tar.gz", "", "", "archive.tar", ".gz");
    ExpectParts("trailing.", "", "", "trailing", ".");
    ExpectParts("\\\\server\\share\\f.dbg", "", "\\\\server\\share\\", "f", ".dbg");
    ExpectParts("C:\\Sym\\", "C:", "\\Sym\\", "", "");
    ExpectParts("", "", "", "", "");
    ExpectParts("C:", "C:", "", "", "");
}

TEST(PathSplitTest, ComparesWithoutRegardToCase)
{
    EXPECT_TRUE(EqualNoCase("C:\\Sym\\App.PDB", "c:\\sym\\app.pdb"));
    EXPECT_FALSE(EqualNoCase("C:\\Sym\\app.pdb", "C:\\Sym\\app.pd"));
    EXPECT_FALSE(EqualNoCase("co-op", "coop"));
}

TEST(WildcardTest, StarTakesAnyRunAndQuestionMarkOneCharacter)
{
    EXPECT_TRUE(WildcardMatch("*.pdb", "ntdll.pdb"));
    EXPECT_TRUE(WildcardMatch("*.pdb", ".pdb"));
    EXPECT_TRUE(WildcardMatch("nt?ll.*", "ntdll.dbg"));
    EXPECT_TRUE(WildcardMatch("*.corp.*", "symbols.corp.example"));
    EXPECT_TRUE(WildcardMatch("**", ""));
    EXPECT_FALSE(WildcardMatch("nt?ll.*", "ntll.dbg"));
    EXPECT_FALSE(WildcardMatch("*.pdb", "ntdll.pdb.old"));
    EXPECT_FALSE(WildcardMatch("a", "A"));
}

TEST(WildcardTest, ManyStarsAgainstALongTextStayCheap)
{
    EXPECT_FALSE(WildcardMatch(std::string(300, '*') + "b", std::string(5000, 'a')));
    EXPECT_TRUE(WildcardMatch(std::string(300, '*') + "b", std::string(5000, 'a') + "b"));
}

TEST(ModulePathTest, MaskChoosesThePartsOfTheModulesPath)
{
    const std::string full = ExeDirectory() + "common_tests.exe";
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
