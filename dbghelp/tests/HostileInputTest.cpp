#include "SymbolLibraryFixture.h"

namespace
{
const DWORD kExact = SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS;
const size_t kCuts[] = {0, 1, 2, 60, 64, 0x80, 0x100, 0x200, 0x400, 0x800};
} // namespace

class HostileInputTest : public SymbolLibraryFixture
{
protected:
    std::string Symbols() const { return Samples() + "\\symbols"; }

    // A copy of a sample with its name recorded in the image replaced by
    // another of the same length; empty when the name is not found.
    std::string ImageWithPdbName(const std::string& image, const std::string& from, const std::string& to)
    {
        std::string bytes = ReadFileBytes(Image(image));
        const size_t at = bytes.find(from);
        if (at == std::string::npos || from.size() != to.size())
            return std::string();
        bytes.replace(at, from.size(), to);
        const std::string path = m_work->File(image);
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }
};

TEST_F(HostileInputTest, RefusesTruncatedImagesWithoutCrashing)
{
    const std::string whole = ReadFileBytes(Image("nb10.dll"));
    for (size_t cut : kCuts)
    {
        if (cut >= whole.size())
            continue;
        const std::string path = m_work->File("cut.dll");
        ASSERT_TRUE(WriteFileBytes(path, whole.substr(0, cut)));
        DWORD64 base = 1;
        DWORD error = 0;
        const IMAGEHLP_MODULE64 module = Load(path, Symbols(), kExact, &base, &error);
        EXPECT_TRUE(base == 0 || module.SymType == SymNone) << cut;
        if (base == 0)
        {
            EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), error) << cut;
        }
    }
}

TEST_F(HostileInputTest, TreatsTruncatedPdbAsNotFound)
{
    const std::string whole = ReadFileBytes(Symbols() + "\\nb10.pdb");
    for (size_t cut : kCuts)
    {
        ASSERT_TRUE(WriteFileBytes(m_work->File("nb10.pdb"), whole.substr(0, cut)));
        const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), m_work->Path(), kExact);
        EXPECT_EQ(SymNone, module.SymType) << cut;
        EXPECT_STREQ("", module.LoadedPdbName) << cut;
    }
}

TEST_F(HostileInputTest, TreatsTruncatedGuidSignedPdbAsNotFound)
{
    const std::string whole = ReadFileBytes(Symbols() + "\\rsds.pdb");
    for (size_t cut : {size_t(0), size_t(32), size_t(0x1000), whole.size() / 2})
    {
        ASSERT_TRUE(WriteFileBytes(m_work->File("rsds.pdb"), whole.substr(0, cut)));
        EXPECT_NE(SymPdb, Load(Image("rsds.exe"), m_work->Path(), kExact).SymType) << cut;
    }
}

TEST_F(HostileInputTest, TreatsTruncatedDbgAsNotFound)
{
    const std::string whole = ReadFileBytes(Symbols() + "\\dbgcv.dbg");
    for (size_t cut : kCuts)
    {
        // Cut within the header, section table and debug directory: the last
        // bytes of the sample hold nothing its identity or CodeView need.
        if (cut >= 0x200)
            continue;
        ASSERT_TRUE(WriteFileBytes(m_work->File("dbgcv.dbg"), whole.substr(0, cut)));
        EXPECT_EQ(SymNone, Load(Image("dbgcv.dll"), m_work->Path(), kExact).SymType) << cut;
    }
}

TEST_F(HostileInputTest, ReportsCorruptSymbolFileAsUnreadable)
{
    ASSERT_TRUE(WriteFileBytes(m_work->File("nb10.pdb"), "Microsoft C/C++ program database 2.00\r\n"));
    Load(Image("nb10.dll"), m_work->Path(), kExact);
    EXPECT_TRUE(HasLine("DBGHELP: " + m_work->File("nb10.pdb") +
                        " - unreadable or corrupt: no MSF 7.00 or PDB 2.00 signature\n"));
}

TEST_F(HostileInputTest, RefusesDotDotAsSymbolFileNameFromImage)
{
    const std::string image = ImageWithPdbName("nb10.dll", "build\\nb10.pdb", std::string("build\\..\0\0\0\0\0\0", 14));
    ASSERT_FALSE(image.empty());
    const IMAGEHLP_MODULE64 module = Load(image, "srv*" + Downstream() + "*" + Samples() + "\\store", kExact);
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_TRUE(ListFiles(m_work->Path()).size() == 1u) << "something was written beside the image";
    EXPECT_TRUE(HasLine("DBGHELP: refused the symbol file name recorded in the image\n"));
}

TEST_F(HostileInputTest, RefusesControlCharacterInSymbolFileNameFromImage)
{
    const std::string image = ImageWithPdbName("nb10.dll", "nb10.pdb",
                                               std::string("nb\x01"
                                                           "0.pdb",
                                                           8));
    ASSERT_FALSE(image.empty());
    Load(image, "srv*" + Downstream() + "*" + Samples() + "\\store", kExact);
    EXPECT_TRUE(HasLine("DBGHELP: refused the symbol file name recorded in the image\n"));
    EXPECT_TRUE(ListFiles(Downstream()).empty());
}

TEST_F(HostileInputTest, StripsDirectoriesFromRecordedNameInStoreLookup)
{
    // The recorded path climbs out of its directory; only its file name is used in stores.
    const std::string image =
        ImageWithPdbName("nb10.dll", "C:\\qsamples\\build\\nb10.pdb", "..\\..\\..\\..\\..\\..\\nb10.pdb");
    ASSERT_FALSE(image.empty());
    const IMAGEHLP_MODULE64 module = Load(image, "srv*" + Downstream() + "*" + Samples() + "\\store", kExact);
    EXPECT_STREQ((Downstream() + "\\" + Manifest("nb10.dll", "store_pdb")).c_str(), module.LoadedPdbName);
}
