#include "SymbolPrefetch.h"

#include <map>
#include <mutex>

#include <gtest/gtest.h>

#include "LoadedImageHistory.h"
#include "PeImage.h"
#include "PrefetchImages.h"

namespace
{
// Counts the fetches asked for, by symbol file name.
class FetchLog
{
public:
    CSymbolPrefetch::Fetch Fetcher()
    {
        return [this](const std::string& path, const CSymbolPrefetch::Target& target)
        {
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_counts[target.fileName];
            m_paths[target.fileName] = path;
        };
    }
    std::map<std::string, int> Counts()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_counts;
    }
    std::string PathOf(const std::string& file)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_paths[file];
    }

private:
    std::mutex m_lock;
    std::map<std::string, int> m_counts;
    std::map<std::string, std::string> m_paths;
};

class SymbolPrefetchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_app = WriteImage(m_dir, "app.exe", {"a.dll", "b.dll", "kernel32.dll"}, "C:\\build\\App.pdb", 1);
        WriteImage(m_dir, "a.dll", {"b.dll"}, "a.pdb", 2);
        // b shares a's PDB identity: one fetch for both.
        WriteImage(m_dir, "b.dll", {"a.dll"}, "a.pdb", 2);
        m_late = WriteImage(m_dir, "late.dll", {}, "late.pdb", 4);
        WriteImage(m_dir, "nosyms.dll", {});
    }

    CTempDir m_dir;
    std::string m_app;
    std::string m_late;
    FetchLog m_log;
};

TEST_F(SymbolPrefetchTest, FetchesEachSymbolFileOfTheImportClosureOnce)
{
    CSymbolPrefetch prefetch(4, m_log.Fetcher());
    prefetch.Start(m_app, "srv*C:\\down*http://server", {}, "");
    prefetch.WaitIdle();
    const std::map<std::string, int> counts = m_log.Counts();
    EXPECT_EQ(1, counts.at("app.pdb"));
    EXPECT_EQ(1, counts.at("a.pdb"));
    EXPECT_EQ(0u, counts.count("late.pdb"));
    EXPECT_EQ("srv*C:\\down*http://server", m_log.PathOf("app.pdb"));
}

// A symbol file already where the image's own request copies it (the
// image's extension names the sub-directory) is left to that request.
TEST_F(SymbolPrefetchTest, SkipsSymbolFilesAlreadyInTheDestination)
{
    CTempDir dest;
    ASSERT_TRUE(CreateDirectoryA(dest.File("dll").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dest.File("dll\\a.pdb"), "in place"));
    ASSERT_TRUE(WriteFileBytes(dest.File("app.pdb"), "wrong folder for an exe"));
    CSymbolPrefetch::Destination destination;
    destination.path = dest.Path();
    CSymbolPrefetch prefetch(4, m_log.Fetcher());
    prefetch.Start(m_app, "srv*", destination, "");
    prefetch.WaitIdle();
    EXPECT_EQ(0u, m_log.Counts().count("a.pdb"));
    EXPECT_EQ(1, m_log.Counts()["app.pdb"]);

    destination.useFileExt = false;
    prefetch.Start(m_app, "srv*", destination, "");
    prefetch.WaitIdle();
    EXPECT_EQ(1, m_log.Counts()["app.pdb"]);
    EXPECT_EQ(1, m_log.Counts()["a.pdb"]);
}

// What a session asked for is remembered when the next program starts, and
// prefetched with the closure when the program starts again.
TEST_F(SymbolPrefetchTest, PrefetchesWhatTheLastSessionLoaded)
{
    const std::string history = m_dir.File("loaded.txt");
    {
        CSymbolPrefetch prefetch(2, [](const std::string&, const CSymbolPrefetch::Target&) {});
        prefetch.Start(m_app, "srv*", {}, history);
        prefetch.RecordLoaded(m_app);
        prefetch.RecordLoaded(m_late);
        prefetch.RecordLoaded(m_dir.File("nosyms.dll"));
        prefetch.Start(m_dir.File("a.dll"), "srv*", {}, history);
    }
    CLoadedImageHistory saved;
    ASSERT_TRUE(saved.Load(history));
    EXPECT_EQ(3u, saved.ImagesOf(m_app).size());

    CSymbolPrefetch prefetch(2, m_log.Fetcher());
    prefetch.Start(m_app, "srv*", {}, history);
    prefetch.WaitIdle();
    EXPECT_EQ(1, m_log.Counts()["late.pdb"]);
    EXPECT_EQ(1, m_log.Counts()["app.pdb"]);
}

TEST_F(SymbolPrefetchTest, IgnoresADamagedHistory)
{
    const std::string history = m_dir.File("loaded.txt");
    ASSERT_TRUE(WriteFileBytes(history, "QX3LOADED 1\r\nP " + m_app + "\r\nI " + m_late + "\r\nZ\r\n"));
    CSymbolPrefetch prefetch(2, m_log.Fetcher());
    prefetch.Start(m_app, "srv*", {}, history);
    prefetch.WaitIdle();
    EXPECT_EQ(0u, m_log.Counts().count("late.pdb"));
    EXPECT_EQ(1, m_log.Counts()["app.pdb"]);
}

TEST_F(SymbolPrefetchTest, TargetOfAStrippedImageIsItsDbgFile)
{
    PeSpec spec;
    spec.characteristics = 0x0102 | 0x0200;
    spec.debug.push_back(DebugEntrySpec{4, MakeMiscExeName("dbg\\Old.dbg", false)});
    const Bytes bytes = BuildPe(spec).bytes;
    CPeImage image;
    ASSERT_TRUE(image.Parse(bytes.data(), bytes.size()));
    CSymbolPrefetch::Target target;
    ASSERT_TRUE(CSymbolPrefetch::TargetOf(image, target));
    EXPECT_EQ("old.dbg", target.fileName);
    EXPECT_FALSE(target.byGuid);
    EXPECT_EQ(0x3A1B2C3Du, target.value);
    EXPECT_EQ(0x5000u, target.two);
}
} // namespace
