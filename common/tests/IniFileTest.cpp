#include "IniFile.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ImportSwap.h"
#include "TestSupport.h"

namespace
{

// The file whose opening the CreateFileA replacement refuses, and how many
// reads the ReadFile replacement lets through before it fails.
std::string g_refusedFile;
int g_readsLeft = 0;
CImportSwap* g_createSwap = nullptr;
CImportSwap* g_readSwap = nullptr;

HANDLE WINAPI RefusingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile)
{
    if (lstrcmpiA(name, g_refusedFile.c_str()) == 0)
    {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    return g_createSwap->Original<decltype(&CreateFileA)>()(name, access, share, security, disposition, flags,
                                                            templateFile);
}

BOOL WINAPI FailingReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped)
{
    if (g_readsLeft-- <= 0)
    {
        SetLastError(ERROR_LOCK_VIOLATION);
        return FALSE;
    }
    return g_readSwap->Original<decltype(&ReadFile)>()(file, buffer, size, got, overlapped);
}

class IniFileTest : public ::testing::Test
{
protected:
    std::string Path() const { return m_dir.File("settings.ini"); }
    CTempDir m_dir;
};

TEST_F(IniFileTest, ReadsWrittenValuesOrTheirDefaults)
{
    ASSERT_TRUE(WriteFileBytes(Path(), "[Settings]\r\nCount=17\r\nPath=C:\\Sym\\Cache\r\n"));
    CIniFile ini(Path().c_str());
    ASSERT_TRUE(ini.WriteString("Settings", "Name", "value"));
    ASSERT_TRUE(ini.WriteInt("Settings", "Negative", -5));
    EXPECT_EQ(0u, ini.GetError());
    EXPECT_EQ("-5", ini.GetString("Settings", "Negative", "", 64)) << "signed decimal";
    EXPECT_EQ(-5, ini.GetInt("Settings", "Negative", 3));
    EXPECT_EQ("value", ini.GetString("Settings", "Name", "", 64));
    EXPECT_EQ(17, ini.GetInt("Settings", "Count", 3));
    EXPECT_EQ(3, ini.GetInt("Settings", "Missing", 3));
    EXPECT_EQ(3, ini.GetInt("Other", "Count", 3));
    EXPECT_EQ("C:\\Sym\\Cache", ini.GetString("Settings", "Path", "", 260));
    EXPECT_EQ("C:\\", ini.GetString("Settings", "Path", "", 4)) << "cut to the buffer, terminator included";
    EXPECT_EQ("fallback", ini.GetString("Settings", "Missing", "fallback", 260));
    EXPECT_EQ("", ini.GetString("Settings", "Missing", nullptr, 260));
    EXPECT_EQ("fallback", ini.GetString("Settings", "Missing", "fallback", 0));
    EXPECT_EQ(0u, ini.GetError());

    // Size 0: whole, however long.
    const std::string longPath = "srv*" + std::string(9000, 'p');
    ASSERT_TRUE(ini.WriteString("Settings", "Long", longPath.c_str()));
    EXPECT_EQ(longPath, ini.GetString("Settings", "Long", "", 0));
    EXPECT_EQ(longPath.substr(0, 4095), ini.GetString("Settings", "Long", "", 4096));

    // Null names and an object without a file name give the default.
    EXPECT_EQ(9, ini.GetInt(nullptr, "Count", 9));
    EXPECT_EQ(9, ini.GetInt("Settings", nullptr, 9));
    EXPECT_EQ("dflt", ini.GetString("Settings", nullptr, "dflt", 64));
    CIniFile unnamed(nullptr);
    EXPECT_EQ(9, unnamed.GetInt("Settings", "Count", 9));
    EXPECT_EQ("", unnamed.GetString("Settings", "Count", nullptr, 64));
}

TEST_F(IniFileTest, SectionKeysFollowFileOrderAndLineFormsAndAreReadWhole)
{
    // The big section, about 100,000 characters, has the 32768-character
    // buffer doubled twice.
    std::string text = "[Exclusions]\r\nb.pdb=1\r\nbare.dll\r\n=skipped\r\na.pdb=\r\n[Empty]\r\n[Big]\r\n";
    std::vector<std::string> big;
    for (int i = 0; i < 3000; ++i)
    {
        big.push_back("key" + std::to_string(10000 + i));
        text += big.back() + "=" + std::string(24, 'v') + "\r\n";
    }
    ASSERT_TRUE(WriteFileBytes(Path(), text + "[After]\r\nz=1\r\n"));
    CIniFile ini(Path().c_str());
    std::vector<std::string> keys{"stale"};
    ASSERT_TRUE(ini.GetSectionKeys("Exclusions", keys));
    EXPECT_EQ((std::vector<std::string>{"b.pdb", "bare.dll", "a.pdb"}), keys);
    ASSERT_TRUE(ini.GetSectionKeys("Big", keys));
    EXPECT_EQ(big, keys);

    // An empty section, a missing section and a missing file: no keys.
    CIniFile missing(m_dir.File("nowhere.ini").c_str());
    const std::pair<CIniFile*, const char*> empties[] = {{&ini, "Empty"}, {&ini, "Absent"}, {&missing, "Exclusions"}};
    for (const auto& [file, section] : empties)
    {
        keys = {"stale"};
        EXPECT_TRUE(file->GetSectionKeys(section, keys)) << section;
        EXPECT_TRUE(keys.empty()) << section;
    }
}

TEST_F(IniFileTest, WriteSectionReplacesTheSectionAndKeepsTheRest)
{
    // Lines with values (which the platform writes itself), bare entries
    // (which Wine's profile write drops, so the section is rewritten in the
    // file text), a section the file does not have yet, and nothing to write
    // (the section goes). Empty lines are left out; the section name matches
    // in any letter case.
    struct Case
    {
        const char* file;
        std::vector<std::string> lines;
        std::vector<std::string> keys;
        const char* written;
    };
    const Case cases[] = {
        {"[Exclusions]\r\nold1.pdb=1\r\nold2.pdb=1\r\n[Keep]\r\nk=v\r\n",
         {"first.pdb=1", "", "third.dll=2"},
         {"first.pdb", "third.dll"},
         "third.dll=2"},
        {"[Before]\r\na=1\r\n[exclusions]\r\nold.pdb\r\n[Keep]\r\nk=v\r\n",
         {"first.pdb", "", "third.dll"},
         {"first.pdb", "third.dll"},
         "first.pdb\r\nthird.dll\r\n"},
        {"[Keep]\r\nk=v\r\n", {"only.pdb"}, {"only.pdb"}, "only.pdb"},
        {"[Exclusions]\r\nold.pdb\r\n[Keep]\r\nk=v\r\n", {}, {}, "[Keep]"},
        {"[Keep]\r\nk=v\r\n[Exclusions]\r\nold.pdb\r\n", {"", ""}, {}, "[Keep]"},
    };
    for (const Case& c : cases)
    {
        ASSERT_TRUE(WriteFileBytes(Path(), c.file));
        CIniFile ini(Path().c_str());
        ASSERT_TRUE(ini.WriteSection("Exclusions", c.lines)) << c.file;
        EXPECT_EQ(0u, ini.GetError());
        std::vector<std::string> keys;
        ASSERT_TRUE(ini.GetSectionKeys("Exclusions", keys));
        EXPECT_EQ(c.keys, keys) << c.file;
        EXPECT_EQ("v", ini.GetString("Keep", "k", "", 16)) << c.file;
        const std::string text = ReadFileBytes(Path());
        EXPECT_NE(std::string::npos, text.find(c.written)) << text;
        EXPECT_EQ(std::string::npos, text.find("old")) << text;
    }
}

TEST_F(IniFileTest, SectionRewriteNeverGoesOnFromAPartOfTheFile)
{
    // Bare entries make the platform's write incomplete under Wine, so the
    // section is rewritten in the file text. Another program holding the
    // file for writing, or a read that fails part-way, must not turn the
    // rest of the file into nothing.
    std::string status = "[Status]\r\n";
    for (int i = 0; i < 400; ++i)
        status += "Key" + std::to_string(i) + "=value\r\n";
    const std::string original = "[Settings]\r\nEnabled=1\r\n[Exclusions]\r\nold.pdb\r\n" + status;
    for (int failure : {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION})
    {
        ASSERT_TRUE(WriteFileBytes(Path(), original));
        g_refusedFile = failure == ERROR_SHARING_VIOLATION ? Path() : std::string();
        g_readsLeft = 1;
        CImportSwap create("kernel32.dll", "CreateFileA", reinterpret_cast<const void*>(&RefusingCreateFileA));
        CImportSwap read("kernel32.dll", "ReadFile",
                         failure == ERROR_LOCK_VIOLATION ? reinterpret_cast<const void*>(&FailingReadFile)
                                                         : reinterpret_cast<const void*>(&ReadFile));
        g_createSwap = &create;
        g_readSwap = &read;
        ASSERT_TRUE(create.IsActive() && read.IsActive());
        CIniFile ini(Path().c_str());
        const bool written = ini.WriteSection("Exclusions", {"first.pdb", "second.dll"});
        const DWORD error = ini.GetError();
        g_refusedFile.clear();
        g_readsLeft = 1 << 30;

        EXPECT_EQ("1", ini.GetString("Settings", "Enabled", "", 16)) << failure;
        EXPECT_EQ("value", ini.GetString("Status", "Key399", "", 16)) << failure;
        if (written)
        {
            std::vector<std::string> keys;
            ASSERT_TRUE(ini.GetSectionKeys("Exclusions", keys));
            EXPECT_EQ((std::vector<std::string>{"first.pdb", "second.dll"}), keys);
        }
        else
        {
            EXPECT_EQ(static_cast<DWORD>(failure), error);
        }
        EXPECT_EQ((std::vector<std::string>{"settings.ini"}), ListFiles(m_dir.Path())) << "no temporary file is left";
    }
}

TEST_F(IniFileTest, SectionRewriteRefusesUtf16TextAndKeepsAUtf8ByteOrderMark)
{
    // Bare entries make Wine's profile write drop them, so the section is
    // rewritten in the file's bytes: UTF-16 text must not be.
    const auto utf16 = [](const std::string& text, bool bigEndian, bool bom)
    {
        std::string bytes = bom ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (const char c : text)
            bytes += bigEndian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
        return bytes;
    };
    const std::string text = "[Exclusions]\r\nold.pdb\r\n[Keep]\r\nk=v\r\n";
    for (const std::string& file : {utf16(text, false, true), utf16(text, true, true), utf16(text, false, false)})
    {
        ASSERT_TRUE(WriteFileBytes(Path(), file));
        CIniFile ini(Path().c_str());
        EXPECT_FALSE(ini.WriteSection("Exclusions", {"first.pdb", "second.dll"}));
        EXPECT_EQ(DWORD(ERROR_UNSUPPORTED_TYPE), ini.GetError());
        EXPECT_EQ(file, ReadFileBytes(Path())) << "left as it was";
    }

    // UTF-8 agrees with every single-byte code page on ASCII, and only there.
    const std::string utf8 = "\xEF\xBB\xBF" + text;
    ASSERT_TRUE(WriteFileBytes(Path(), utf8));
    CIniFile ini(Path().c_str());
    EXPECT_FALSE(ini.WriteSection("Exclusions", {"first.pdb", "caf\xE9.dll"}));
    EXPECT_EQ(DWORD(ERROR_UNSUPPORTED_TYPE), ini.GetError());
    EXPECT_EQ(utf8, ReadFileBytes(Path()));
    ASSERT_TRUE(ini.WriteSection("Exclusions", {"first.pdb", "second.dll"}));
    std::vector<std::string> keys;
    ASSERT_TRUE(ini.GetSectionKeys("Exclusions", keys));
    EXPECT_EQ((std::vector<std::string>{"first.pdb", "second.dll"}), keys);
    EXPECT_EQ("v", ini.GetString("Keep", "k", "", 16));
    EXPECT_EQ(0u, ReadFileBytes(Path()).find("\xEF\xBB\xBF[Exclusions]\r\nfirst.pdb\r\n"));
}

TEST_F(IniFileTest, FailedSectionWriteKeepsTheOldLines)
{
    ASSERT_TRUE(WriteFileBytes(Path(), "[Exclusions]\r\nold.pdb\r\n"));
    // Held open without sharing, the file cannot be written.
    HANDLE held = CreateFileA(Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    CIniFile ini(Path().c_str());
    const bool written = ini.WriteSection("Exclusions", {"new.pdb=1"});
    CloseHandle(held);

    EXPECT_FALSE(written);
    EXPECT_NE(0u, ini.GetError());
    std::vector<std::string> keys;
    ASSERT_TRUE(ini.GetSectionKeys("Exclusions", keys));
    EXPECT_EQ((std::vector<std::string>{"old.pdb"}), keys);
}

TEST_F(IniFileTest, RefusalsSetInvalidParameterAndTouchNoFile)
{
    const auto refused = [](CIniFile& file, bool result) { return !result && file.GetError() == 87u; };
    CIniFile unnamed("");
    EXPECT_TRUE(refused(unnamed, unnamed.WriteString("S", "k", "v")));
    EXPECT_TRUE(refused(unnamed, unnamed.WriteInt("S", "k", 1)));
    EXPECT_TRUE(refused(unnamed, unnamed.WriteSection("S", {"a"})));
    CIniFile ini(Path().c_str());
    std::vector<std::string> keys;
    EXPECT_TRUE(refused(ini, ini.GetSectionKeys(nullptr, keys)));
    EXPECT_TRUE(refused(ini, ini.WriteString(nullptr, "k", "v")));
    EXPECT_TRUE(refused(ini, ini.WriteString("S", nullptr, "v")));
    EXPECT_TRUE(refused(ini, ini.WriteInt("S", nullptr, 1)));
    EXPECT_TRUE(refused(ini, ini.WriteSection(nullptr, {"a"})));
    EXPECT_FALSE(FileExists(Path()));

    EXPECT_EQ(5, ini.GetInt("S", "k", 5));
    EXPECT_EQ(0u, ini.GetError()) << "every operation starts by clearing the last error";
}

TEST_F(IniFileTest, ModuleRelativeNameLiesInTheModulesDirectory)
{
    CIniFile ini("qx3.ini", true, nullptr);
    EXPECT_EQ(ExeDirectory() + "qx3.ini", ini.GetFileName());
    CIniFile unknownModule("qx3.ini", true, reinterpret_cast<HMODULE>(0x1230));
    EXPECT_EQ("qx3.ini", unknownModule.GetFileName());
}

} // namespace
