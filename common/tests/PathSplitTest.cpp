#include "PathSplit.h"

#include <gtest/gtest.h>

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

} // namespace
