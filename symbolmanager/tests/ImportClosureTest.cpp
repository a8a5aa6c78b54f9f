#include "ImportClosure.h"

#include <gtest/gtest.h>

#include "DllSearchPath.h"
#include "MappedFile.h"
#include "PathSplit.h"
#include "PrefetchImages.h"

namespace
{
bool ReadImage(const std::string& path, CPeImage& image)
{
    CMappedFile file;
    return file.OpenByName(path, 1 << 20) && image.Parse(file.Data(), file.Size());
}

std::vector<std::string> NamesOf(const CImportClosure& closure)
{
    std::vector<std::string> names;
    for (const CImportClosure::Image& image : closure.GetImages())
        names.push_back(SplitPath(image.path).fname + SplitPath(image.path).ext);
    return names;
}

class ImportClosureTest : public ::testing::Test
{
protected:
    std::vector<std::string> Walk(const std::string& program, bool expected = true)
    {
        const CDllSearchPath search({m_dir.Path(), m_other.Path()});
        EXPECT_EQ(expected, m_closure.Walk(program, [&](const std::string& name) { return search.Resolve(name); },
                                           ReadImage, [] { return false; }));
        return NamesOf(m_closure);
    }

    CTempDir m_dir;
    CTempDir m_other;
    CImportClosure m_closure;
};

// app imports a and b; a imports b, c (in the second folder) and app again;
// b imports a (a cycle), an API set and a name that resolves to nothing.
TEST_F(ImportClosureTest, WalksEachImageOnceBreadthFirstAcrossCycles)
{
    const std::string app = WriteImage(m_dir, "app.exe", {"a.dll", "B.DLL"});
    WriteImage(m_dir, "a.dll", {"b.dll", "c.dll", "app.exe"});
    WriteImage(m_dir, "b.dll", {"a.dll", "api-ms-win-core-file-l1-1-0.dll", "nowhere.dll"});
    WriteImage(m_other, "c.dll", {});
    WriteFileBytes(m_dir.File("api-ms-win-core-file-l1-1-0.dll"), "not an image");
    // The path keeps the name as the import gave it.
    EXPECT_EQ((std::vector<std::string>{"app.exe", "a.dll", "B.DLL", "c.dll"}), Walk(app));
}

TEST_F(ImportClosureTest, LeavesOutImagesOfTheOtherWidthAndWhatIsNoImage)
{
    const std::string app = WriteImage(m_dir, "app.exe", {"wide.dll", "junk.dll", "fine.dll"});
    WriteImage(m_dir, "wide.dll", {"only-from-wide.dll"}, "", 1, true);
    WriteImage(m_dir, "only-from-wide.dll", {});
    WriteFileBytes(m_dir.File("junk.dll"), "MZ but nothing else");
    WriteImage(m_dir, "fine.dll", {});
    EXPECT_EQ((std::vector<std::string>{"app.exe", "fine.dll"}), Walk(app));
    WriteFileBytes(m_dir.File("broken.exe"), "MZ");
    EXPECT_TRUE(Walk(m_dir.File("broken.exe"), false).empty());
}

// A chain longer than the bound ends at kMaxImages images.
TEST_F(ImportClosureTest, EndsAtItsBoundOnAHugeGraph)
{
    std::vector<std::string> many;
    for (size_t i = 0; i < CImportClosure::kMaxImages + 10; ++i)
        many.push_back("d" + std::to_string(i) + ".dll");
    CPeImage image;
    size_t reads = 0;
    const std::string app = WriteImage(m_dir, "app.exe", many);
    WriteImage(m_dir, "d.dll", many);
    // Every name resolves to the same file under a name of its own.
    EXPECT_TRUE(m_closure.Walk(app, [&](const std::string& name) { return m_dir.Path() + "\\" + name; },
                               [&](const std::string& path, CPeImage& out)
                               {
                                   ++reads;
                                   return ReadImage(path.find("app.exe") != std::string::npos ? app : m_dir.File("d.dll"),
                                                    out);
                               },
                               [] { return false; }));
    EXPECT_EQ(CImportClosure::kMaxImages, m_closure.GetImages().size());
    EXPECT_LE(reads, CImportClosure::kMaxImages + 1);
}

TEST_F(ImportClosureTest, StopsWhenCancelled)
{
    const std::string app = WriteImage(m_dir, "app.exe", {"a.dll", "b.dll"});
    WriteImage(m_dir, "a.dll", {});
    WriteImage(m_dir, "b.dll", {});
    const CDllSearchPath search({m_dir.Path()});
    int asked = 0;
    EXPECT_FALSE(m_closure.Walk(app, [&](const std::string& name) { return search.Resolve(name); }, ReadImage,
                                [&] { return ++asked > 1; }));
    EXPECT_EQ((std::vector<std::string>{"app.exe", "a.dll"}), NamesOf(m_closure));
}

TEST(ImportClosureNamesTest, KnowsApiSetNames)
{
    EXPECT_TRUE(CImportClosure::IsApiSetName("API-MS-Win-Core-Synch-L1-2-0.dll"));
    EXPECT_TRUE(CImportClosure::IsApiSetName("ext-ms-win-ntuser-window-l1-1-0.dll"));
    EXPECT_FALSE(CImportClosure::IsApiSetName("apisample.dll"));
    EXPECT_FALSE(CImportClosure::IsApiSetName("kernel32.dll"));
}
} // namespace
