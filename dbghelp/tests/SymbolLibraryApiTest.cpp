#include "SymbolLibraryFixture.h"

#include <cstring>
#include <thread>

namespace
{
const DWORD kExact = SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS;
// A handle value no session was started for.
HANDLE const kUnknownProcess = reinterpret_cast<HANDLE>(0x7AB0);
} // namespace

class SymbolLibraryApiTest : public SymbolLibraryFixture
{
protected:
    std::string Symbols() const { return Samples() + "\\symbols"; }

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

TEST_F(SymbolLibraryApiTest, RefusesUnknownProcessHandleWithInvalidHandle)
{
    SetLastError(0);
    EXPECT_FALSE(Lib().SetSearchPath(kUnknownProcess, "."));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0);
    EXPECT_EQ(0u, Lib().LoadModule64(kUnknownProcess, nullptr, Image("nb10.dll").c_str(), nullptr, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(Lib().Cleanup(kUnknownProcess));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(Lib().RegisterCallback64(kUnknownProcess, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(SymbolLibraryApiTest, FailsLoadOfMissingImageWithFileNotFound)
{
    SetLastError(0);
    EXPECT_EQ(0u, Lib().LoadModule64(Process(), nullptr, m_work->File("absent.dll").c_str(), nullptr, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(SymbolLibraryApiTest, FailsLoadWithoutHandleOrNameWithInvalidParameter)
{
    SetLastError(0);
    EXPECT_EQ(0u, Lib().LoadModule64(Process(), nullptr, nullptr, nullptr, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
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

TEST_F(SymbolLibraryApiTest, LoadsAtGivenBase)
{
    Lib().SetOptions(kExact);
    ASSERT_TRUE(Lib().SetSearchPath(Process(), Symbols().c_str()));
    EXPECT_EQ(0x20000000u, Lib().LoadModule64(Process(), nullptr, Image("nb10.dll").c_str(), nullptr, 0x20000000, 0));
    EXPECT_TRUE(Lib().UnloadModule64(Process(), 0x20000000));
}

TEST_F(SymbolLibraryApiTest, UnloadOfUnknownBaseFailsWithModNotFound)
{
    SetLastError(0);
    EXPECT_FALSE(Lib().UnloadModule64(Process(), 0x12340000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(SymbolLibraryApiTest, ModuleInfoOfUnloadedModuleFailsWithModNotFound)
{
    const DWORD64 base = LoadKept(Image("nb10.dll"));
    ASSERT_TRUE(Lib().UnloadModule64(Process(), base));
    IMAGEHLP_MODULE64 module = {};
    module.SizeOfStruct = sizeof(module);
    SetLastError(0);
    EXPECT_FALSE(Lib().GetModuleInfo64(Process(), base, &module));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(SymbolLibraryApiTest, ModuleInfoAnswersForAddressInsideImage)
{
    const DWORD64 base = LoadKept(Image("nb10.dll"));
    IMAGEHLP_MODULE64 module = {};
    module.SizeOfStruct = sizeof(module);
    EXPECT_TRUE(Lib().GetModuleInfo64(Process(), base + 0x1234, &module));
    EXPECT_EQ(base, module.BaseOfImage);
    Lib().UnloadModule64(Process(), base);
}

TEST_F(SymbolLibraryApiTest, FillsOnlyWhatFitsInEachDocumentedRecordSize)
{
    const DWORD64 base = LoadKept(Image("nb10.dll"));
    for (DWORD size : {584u, 1664u, 1672u, 1680u})
    {
        unsigned char buffer[2048];
        memset(buffer, 0xCC, sizeof(buffer));
        auto* module = reinterpret_cast<IMAGEHLP_MODULE64*>(buffer);
        module->SizeOfStruct = size;
        ASSERT_TRUE(Lib().GetModuleInfo64(Process(), base, module)) << size;
        EXPECT_EQ(size, module->SizeOfStruct);
        EXPECT_EQ(SymPdb, module->SymType);
        EXPECT_STRCASEEQ(Image("nb10.dll").c_str(), module->ImageName);
        EXPECT_EQ(0xCC, buffer[size]) << "wrote past " << size;
    }
    Lib().UnloadModule64(Process(), base);
}

TEST_F(SymbolLibraryApiTest, RefusesUndocumentedRecordSizeWithInvalidParameter)
{
    const DWORD64 base = LoadKept(Image("nb10.dll"));
    IMAGEHLP_MODULE64 module = {};
    module.SizeOfStruct = 1000;
    SetLastError(0);
    EXPECT_FALSE(Lib().GetModuleInfo64(Process(), base, &module));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
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
    const std::string store = Samples() + "\\store";
    const char* const images[] = {"rsds.exe", "nb10.dll", "dbgcv.dll", "dbgpdb.dll"};
    Lib().SetOptions(kExact);
    ASSERT_TRUE(Lib().SetSearchPath(Process(), ("srv*" + Downstream() + "*" + store).c_str()));
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
