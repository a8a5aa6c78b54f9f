#include "LoadedImageHistory.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace
{
using Images = std::vector<std::string>;

TEST(LoadedImageHistoryTest, KeepsEachProgramsLastSessionAcrossSaveAndLoad)
{
    CTempDir dir;
    CLoadedImageHistory history;
    history.Remember("C:\\app\\app.exe", {"C:\\app\\plugin.dll", "C:\\windows\\system32\\late.dll"});
    history.Remember("C:\\other\\other.exe", {"C:\\other\\x.dll"});
    history.Remember("C:\\APP\\APP.EXE", {"C:\\app\\second.dll"});
    ASSERT_TRUE(history.Save(dir.File("loaded.txt")));
    // Written whole under its own name: no temporary file is left beside it.
    EXPECT_EQ(Images{"loaded.txt"}, ListFiles(dir.Path()));

    CLoadedImageHistory read;
    ASSERT_TRUE(read.Load(dir.File("loaded.txt")));
    EXPECT_EQ(Images{"C:\\app\\second.dll"}, read.ImagesOf("c:\\app\\app.exe"));
    EXPECT_EQ(Images{"C:\\other\\x.dll"}, read.ImagesOf("C:\\other\\other.exe"));
    EXPECT_TRUE(read.ImagesOf("C:\\never\\seen.exe").empty());
}

TEST(LoadedImageHistoryTest, ForgetsTheOldestProgramsAndBoundsEachList)
{
    CLoadedImageHistory history;
    for (size_t i = 0; i <= CLoadedImageHistory::kMaxPrograms; ++i)
        history.Remember("p" + std::to_string(i) + ".exe", {"x.dll"});
    EXPECT_TRUE(history.ImagesOf("p0.exe").empty());
    EXPECT_EQ(Images{"x.dll"}, history.ImagesOf("p1.exe"));

    Images many;
    for (size_t i = 0; i < CLoadedImageHistory::kMaxImagesPerProgram + 5; ++i)
        many.push_back("d" + std::to_string(i) + ".dll");
    history.Remember("big.exe", many);
    EXPECT_EQ(CLoadedImageHistory::kMaxImagesPerProgram, history.ImagesOf("big.exe").size());
}

TEST(LoadedImageHistoryTest, IgnoresADamagedFileWhole)
{
    CTempDir dir;
    const std::string file = dir.File("loaded.txt");
    const struct
    {
        const char* what;
        std::string text;
    } cases[] = {
        {"no header", "P C:\\app.exe\r\nI C:\\a.dll\r\n"},
        {"other version", "QX3LOADED 2\r\nP C:\\app.exe\r\nI C:\\a.dll\r\n"},
        {"image before any program", "QX3LOADED 1\r\nI C:\\a.dll\r\nP C:\\app.exe\r\n"},
        {"unknown line", "QX3LOADED 1\r\nP C:\\app.exe\r\nX C:\\a.dll\r\n"},
        {"cut in the last line", "QX3LOADED 1\r\nP C:\\app.exe\r\nI C:\\a.d"},
        {"control byte", std::string("QX3LOADED 1\r\nP C:\\app.exe\r\nI C:\\a\x01.dll\r\n")},
        {"line longer than a path", "QX3LOADED 1\r\nP C:\\app.exe\r\nI " + std::string(300, 'a') + "\r\n"},
        {"too large", "QX3LOADED 1\r\nP C:\\app.exe\r\n" + std::string(CLoadedImageHistory::kMaxFileBytes, '\n')},
        {"empty", ""},
    };
    for (const auto& c : cases)
    {
        ASSERT_TRUE(WriteFileBytes(file, c.text)) << c.what;
        CLoadedImageHistory history;
        EXPECT_FALSE(history.Load(file)) << c.what;
        EXPECT_TRUE(history.ImagesOf("C:\\app.exe").empty()) << c.what;
    }
    CLoadedImageHistory missing;
    EXPECT_FALSE(missing.Load(dir.File("absent.txt")));
}
} // namespace
