// Where the Visual C++ 6.0 debugger finds an image's symbols, on the sample
// images and symbol files.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "Vc6SymbolLookup.h"

namespace
{

// A sample image copied into a directory of its own, to be looked up as the
// debugger would, with "Pdb Dirs" as given.
class CImageCopy
{
public:
    explicit CImageCopy(const std::string& name)
        : m_path(m_dir.File(name)), m_ready(CopyFileA(SampleImage(name).c_str(), m_path.c_str(), FALSE) != FALSE)
    {
    }
    bool IsReady() const { return m_ready; }
    const std::string& Path() const { return m_path; }
    // Puts a symbol file beside the image (the sample of that name, or another file under that name).
    bool Add(const std::string& name, const std::string& from = std::string()) const
    {
        const std::string source = from.empty() ? SampleSymbolsDir() + "\\" + name : from;
        return CopyFileA(source.c_str(), m_dir.File(name).c_str(), FALSE) != FALSE;
    }
    std::string Find(const std::vector<std::string>& pdbDirs) const
    {
        const std::string bytes = ReadFileBytes(m_path);
        return CVc6SymbolLookup(pdbDirs).Find(m_path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::string File(const std::string& name) const { return m_dir.File(name); }

private:
    CTempDir m_dir;
    std::string m_path;
    bool m_ready;
};

std::string Mismatch(const std::string& reason, const std::string& name)
{
    return SamplesDir() + "\\mismatch\\" + reason + "\\" + name;
}

TEST(Vc6SymbolLookupTest, FindsAPdb20BesideTheImageOrInPdbDirs)
{
    CImageCopy image("nb10.dll");
    ASSERT_TRUE(image.IsReady());
    EXPECT_EQ("", image.Find({}));
    EXPECT_EQ(SampleSymbolsDir() + "\\nb10.pdb", image.Find({"Z:\\no\\such", SampleSymbolsDir()}));
    ASSERT_TRUE(image.Add("nb10.pdb"));
    EXPECT_EQ(image.File("nb10.pdb"), image.Find({SampleSymbolsDir()}));
}

TEST(Vc6SymbolLookupTest, RefusesAPdbOfAnotherSignatureOrAge)
{
    CImageCopy image("nb10.dll");
    ASSERT_TRUE(image.IsReady());
    for (const char* reason : {"sig", "age"})
    {
        ASSERT_TRUE(image.Add("nb10.pdb", Mismatch(reason, "nb10.pdb"))) << reason;
        EXPECT_EQ("", image.Find({})) << reason;
    }
}

TEST(Vc6SymbolLookupTest, NeverTakesAPdb70)
{
    CImageCopy image("rsds.exe");
    ASSERT_TRUE(image.IsReady());
    ASSERT_TRUE(image.Add("rsds.pdb"));
    EXPECT_EQ("", image.Find({SampleSymbolsDir()}));
}

TEST(Vc6SymbolLookupTest, FindsTheDbgOfAStrippedImageAndThePdbItNames)
{
    CImageCopy dbgcv("dbgcv.dll");
    ASSERT_TRUE(dbgcv.IsReady());
    EXPECT_EQ("", dbgcv.Find({}));
    EXPECT_EQ(SampleSymbolsDir() + "\\dbgcv.dbg", dbgcv.Find({SampleSymbolsDir()}));
    ASSERT_TRUE(dbgcv.Add("dbgcv.dbg", Mismatch("time", "dbgcv.dbg")));
    EXPECT_EQ("", dbgcv.Find({}));

    CImageCopy dbgpdb("dbgpdb.dll");
    ASSERT_TRUE(dbgpdb.IsReady());
    ASSERT_TRUE(dbgpdb.Add("dbgpdb.dbg"));
    // A DBG whose symbols are in a PDB counts only with that PDB.
    EXPECT_EQ("", dbgpdb.Find({}));
    EXPECT_EQ(SampleSymbolsDir() + "\\dbgpdb.pdb", dbgpdb.Find({SampleSymbolsDir()}));
}

TEST(Vc6SymbolLookupTest, ImageWithoutDebugInformationHasNoSymbols)
{
    CImageCopy image("exports.dll");
    ASSERT_TRUE(image.IsReady());
    EXPECT_EQ("", image.Find({SampleSymbolsDir()}));
}

} // namespace
