#include "SymbolLibraryFixture.h"

namespace
{
const size_t kCuts[] = {0, 1, 2, 60, 64, 0x80, 0x100, 0x200, 0x400, 0x800};
} // namespace

class HostileInputTest : public SymbolLibraryFixture
{
protected:
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

// A prefix of a symbol file beside the image is no symbol file. The DBG is
// cut only within its header, section table and debug directory: its last
// bytes hold nothing its identity or CodeView need.
TEST_F(HostileInputTest, TreatsTruncatedSymbolFilesAsNotFound)
{
    const std::string rsds = ReadFileBytes(Symbols() + "\\rsds.pdb");
    const struct
    {
        const char* image;
        const char* file;
        std::vector<size_t> cuts;
    } cases[] = {
        {"nb10.dll", "nb10.pdb", std::vector<size_t>(std::begin(kCuts), std::end(kCuts))},
        {"rsds.exe", "rsds.pdb", {0, 32, 0x1000, rsds.size() / 2}},
        {"dbgcv.dll", "dbgcv.dbg", {0, 1, 2, 60, 64, 0x80, 0x100}},
    };
    for (const auto& c : cases)
    {
        const std::string whole = ReadFileBytes(Symbols() + "\\" + c.file);
        for (size_t cut : c.cuts)
        {
            ASSERT_TRUE(WriteFileBytes(m_work->File(c.file), whole.substr(0, cut)));
            const IMAGEHLP_MODULE64 module = Load(Image(c.image), m_work->Path(), kExact);
            EXPECT_EQ(SymNone, module.SymType) << c.file << " cut at " << cut;
            EXPECT_STREQ("", module.LoadedPdbName) << c.file << " cut at " << cut;
        }
    }
}

TEST_F(HostileInputTest, ReportsCorruptSymbolFileAsUnreadable)
{
    ASSERT_TRUE(WriteFileBytes(m_work->File("nb10.pdb"), "Microsoft C/C++ program database 2.00\r\n"));
    Load(Image("nb10.dll"), m_work->Path(), kExact);
    EXPECT_TRUE(HasLine("DBGHELP: " + m_work->File("nb10.pdb") +
                        " - unreadable or corrupt: no MSF 7.00 or PDB 2.00 signature\n"));
}

// Nothing is fetched or written under a recorded name that could climb out
// of its directory or hold a control character.
TEST_F(HostileInputTest, RefusesDotDotOrControlCharacterAsSymbolFileNameFromImage)
{
    const std::pair<std::string, std::string> cases[] = {
        {"build\\nb10.pdb", std::string("build\\..\0\0\0\0\0\0", 14)},
        {"nb10.pdb", std::string("nb\x01"
                                 "0.pdb",
                                 8)},
    };
    for (const auto& c : cases)
    {
        const std::string image = ImageWithPdbName("nb10.dll", c.first, c.second);
        ASSERT_FALSE(image.empty());
        const IMAGEHLP_MODULE64 module = Load(image, Chain(Store()), kExact);
        EXPECT_EQ(SymNone, module.SymType);
        EXPECT_EQ(std::vector<std::string>{"nb10.dll"}, ListFiles(m_work->Path()))
            << "something was written beside the image or downstream";
        EXPECT_TRUE(HasLine("DBGHELP: refused the symbol file name recorded in the image\n"));
        m_lines.clear();
    }
}

TEST_F(HostileInputTest, StripsDirectoriesFromRecordedNameInStoreLookup)
{
    // The recorded path climbs out of its directory; only its file name is used in stores.
    const std::string image =
        ImageWithPdbName("nb10.dll", "C:\\qsamples\\build\\nb10.pdb", "..\\..\\..\\..\\..\\..\\nb10.pdb");
    ASSERT_FALSE(image.empty());
    const IMAGEHLP_MODULE64 module = Load(image, Chain(Store()), kExact);
    EXPECT_STREQ((Downstream() + "\\" + Manifest("nb10.dll", "store_pdb")).c_str(), module.LoadedPdbName);
}
