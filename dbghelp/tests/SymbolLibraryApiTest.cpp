#include "SymbolLibraryFixture.h"

#include <cstring>
#include <functional>
#include <thread>

namespace
{
// A handle value no session was started for.
HANDLE const kUnknownProcess = reinterpret_cast<HANDLE>(0x7AB0);
} // namespace

class SymbolLibraryApiTest : public SymbolLibraryFixture
{
protected:
    DWORD64 LoadKept(const std::string& image)
    {
        Lib().SetOptions(kExact);
        EXPECT_TRUE(Lib().SetSearchPath(Process(), Symbols().c_str()));
        return Lib().LoadModule64(Process(), nullptr, image.c_str(), nullptr, 0, 0);
    }
};

TEST_F(SymbolLibraryApiTest, IsTheCopyLoadedFromTestDirectory)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(Lib().Module(), path, sizeof(path));
    EXPECT_STRCASEEQ(Lib().Path().c_str(), path);
}

TEST_F(SymbolLibraryApiTest, SetOptionsReturnsAndKeepsNewMask)
{
    EXPECT_EQ(0x80000400u, Lib().SetOptions(0x80000400));
    EXPECT_EQ(0x80000400u, Lib().GetOptions());
}

// Each failing call returns FALSE or 0 and leaves the documented last error.
// A module loaded at its preferred base and unloaded again is unknown; one
// is kept loaded at a base given by the caller.
TEST_F(SymbolLibraryApiTest, FailedCallsLeaveTheirDocumentedError)
{
    const std::string image = Image("nb10.dll");
    const DWORD64 unloaded = LoadKept(image);
    ASSERT_TRUE(Lib().UnloadModule64(Process(), unloaded));
    const DWORD64 loaded = 0x20000000;
    ASSERT_EQ(loaded, Lib().LoadModule64(Process(), nullptr, image.c_str(), nullptr, loaded, 0));
    IMAGEHLP_MODULE64 module = {};
    const std::string absent = m_work->File("absent.dll");
    const struct
    {
        const char* call;
        std::function<bool()> succeeded;
        DWORD error;
    } cases[] = {
        {"SetSearchPath of an unknown process", [&] { return Lib().SetSearchPath(kUnknownProcess, ".") != FALSE; },
         ERROR_INVALID_HANDLE},
        {"LoadModule64 in an unknown process",
         [&] { return Lib().LoadModule64(kUnknownProcess, nullptr, image.c_str(), nullptr, 0, 0) != 0; },
         ERROR_INVALID_HANDLE},
        {"Cleanup of an unknown process", [&] { return Lib().Cleanup(kUnknownProcess) != FALSE; },
         ERROR_INVALID_HANDLE},
        {"RegisterCallback64 in an unknown process",
         [&] { return Lib().RegisterCallback64(kUnknownProcess, nullptr, 0) != FALSE; }, ERROR_INVALID_HANDLE},
        {"LoadModule64 of a missing image",
         [&] { return Lib().LoadModule64(Process(), nullptr, absent.c_str(), nullptr, 0, 0) != 0; },
         ERROR_FILE_NOT_FOUND},
        {"LoadModule64 without handle or name",
         [&] { return Lib().LoadModule64(Process(), nullptr, nullptr, nullptr, 0, 0) != 0; }, ERROR_INVALID_PARAMETER},
        {"UnloadModule64 of an unknown base", [&] { return Lib().UnloadModule64(Process(), 0x12340000) != FALSE; },
         ERROR_MOD_NOT_FOUND},
        {"GetModuleInfo64 of an unloaded module",
         [&]
         {
             module.SizeOfStruct = sizeof(module);
             return Lib().GetModuleInfo64(Process(), unloaded, &module) != FALSE;
         },
         ERROR_MOD_NOT_FOUND},
        {"GetModuleInfo64 with an undocumented record size",
         [&]
         {
             module.SizeOfStruct = 1000;
             return Lib().GetModuleInfo64(Process(), loaded, &module) != FALSE;
         },
         ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases)
    {
        SetLastError(0);
        EXPECT_FALSE(c.succeeded()) << c.call;
        EXPECT_EQ(c.error, GetLastError()) << c.call;
    }
    EXPECT_TRUE(Lib().UnloadModule64(Process(), loaded));
}

TEST_F(SymbolLibraryApiTest, SecondLoadAtSameBaseReturnsZeroWithSuccess)
{
    const DWORD64 base = LoadKept(Image("nb10.dll"));
    ASSERT_NE(0u, base);
    SetLastError(ERROR_INVALID_DATA);
    EXPECT_EQ(0u, LoadKept(Image("nb10.dll")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    EXPECT_TRUE(Lib().UnloadModule64(Process(), base));
}

// Asked for any address inside the image, in each record size.
TEST_F(SymbolLibraryApiTest, FillsOnlyWhatFitsInEachDocumentedRecordSize)
{
    const DWORD64 base = LoadKept(Image("nb10.dll"));
    for (DWORD size : {584u, 1664u, 1672u, 1680u})
    {
        unsigned char buffer[2048];
        memset(buffer, 0xCC, sizeof(buffer));
        auto* module = reinterpret_cast<IMAGEHLP_MODULE64*>(buffer);
        module->SizeOfStruct = size;
        ASSERT_TRUE(Lib().GetModuleInfo64(Process(), base + 0x1234, module)) << size;
        EXPECT_EQ(size, module->SizeOfStruct);
        EXPECT_EQ(base, module->BaseOfImage);
        EXPECT_EQ(SymPdb, module->SymType);
        EXPECT_STRCASEEQ(Image("nb10.dll").c_str(), module->ImageName);
        EXPECT_EQ(0xCC, buffer[size]) << "wrote past " << size;
    }
    Lib().UnloadModule64(Process(), base);
}

TEST_F(SymbolLibraryApiTest, LoadsThroughHandleWithoutMovingFilePointer)
{
    HANDLE file =
        CreateFileA(Image("nb10.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SetFilePointer(file, 17, nullptr, FILE_BEGIN);
    Lib().SetOptions(kExact);
    ASSERT_TRUE(Lib().SetSearchPath(Process(), Symbols().c_str()));
    const DWORD64 base = Lib().LoadModule64(Process(), file, nullptr, nullptr, 0, 0);
    EXPECT_EQ(17u, SetFilePointer(file, 0, nullptr, FILE_CURRENT));
    IMAGEHLP_MODULE64 module = {};
    module.SizeOfStruct = sizeof(module);
    ASSERT_TRUE(Lib().GetModuleInfo64(Process(), base, &module));
    EXPECT_EQ(SymPdb, module.SymType);
    EXPECT_STREQ("", module.ImageName);
    Lib().UnloadModule64(Process(), base);
    CloseHandle(file);
}

TEST_F(SymbolLibraryApiTest, CreatesEveryDirectoryUpToLastBackslash)
{
    const std::string leaf = m_work->File("a\\b\\c");
    EXPECT_TRUE(Lib().MakeSureDirectoryPathExists((leaf + "\\file.pdb").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(leaf.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((leaf + "\\file.pdb").c_str()));
}

TEST_F(SymbolLibraryApiTest, LoadsFromSeveralThreadsAtOnce)
{
    const char* const images[] = {"rsds.exe", "nb10.dll", "dbgcv.dll", "dbgpdb.dll"};
    Lib().SetOptions(kExact);
    ASSERT_TRUE(Lib().SetSearchPath(Process(), Chain(Store()).c_str()));
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                for (int round = 0; round < 10; ++round)
                {
                    // A base of each thread's own, so that loads never collide.
                    const DWORD64 base = 0x20000000ull + 0x1000000ull * (t * 10 + round);
                    const std::string image = Image(images[t]);
                    if (Lib().LoadModule64(Process(), nullptr, image.c_str(), nullptr, base, 0) != base)
                    {
                        ++wrong[t];
                        continue;
                    }
                    IMAGEHLP_MODULE64 module = {};
                    module.SizeOfStruct = sizeof(module);
                    if (!Lib().GetModuleInfo64(Process(), base, &module) || module.SymType == SymNone ||
                        std::string(module.ImageName) != image)
                        ++wrong[t];
                    Lib().UnloadModule64(Process(), base);
                }
            });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(std::vector<int>(4, 0), wrong);
    for (const std::string& file : ListFiles(Downstream()))
        EXPECT_EQ(std::string::npos, file.find(".tmp")) << file;
}
