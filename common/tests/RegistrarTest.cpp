#include "Registrar.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ScopedRegKey.h"

namespace
{

const char kModulePath[] = "C:\\Program Files\\Quillmar\\qx3fetch.exe";

// The symbol manager's registration script, as qx3fetch carries it.
const char kServerScript[] = R"(HKCR
{
    NoRemove AppID
    {
        '{CB3E2565-8587-4150-B8A0-51B6D87683DD}' = s 'SymbolManager'
        'qx3fetch.exe'
        {
            val AppID = s '{CB3E2565-8587-4150-B8A0-51B6D87683DD}'
        }
    }
    Quillmar.SymbolManager.1 = s 'SymbolManager Class'
    {
        CLSID = s '{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}'
    }
    Quillmar.SymbolManager = s 'SymbolManager Class'
    {
        CLSID = s '{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}'
        CurVer = s 'Quillmar.SymbolManager.1'
    }
    NoRemove CLSID
    {
        ForceRemove {D8D37A73-85BF-44B5-AE68-3B2A8B178F71} = s 'SymbolManager Class'
        {
            ProgID = s 'Quillmar.SymbolManager.1'
            VersionIndependentProgID = s 'Quillmar.SymbolManager'
            LocalServer32 = s '%MODULE%'
            val AppID = s '{CB3E2565-8587-4150-B8A0-51B6D87683DD}'
            TypeLib = s '{7C9E5B37-E3C2-4EDA-B842-6D8A552980A7}'
        }
    }
}
)";

const char kClassKey[] = "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}";

// What kServerScript writes, in the form ScratchTree lists it.
std::vector<std::string> ServerEntries()
{
    return {
        "AppID",
        "AppID\\qx3fetch.exe",
        "AppID\\qx3fetch.exe|AppID=s:{CB3E2565-8587-4150-B8A0-51B6D87683DD}",
        "AppID\\{CB3E2565-8587-4150-B8A0-51B6D87683DD}",
        "AppID\\{CB3E2565-8587-4150-B8A0-51B6D87683DD}|@=s:SymbolManager",
        "CLSID",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}\\LocalServer32",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}\\LocalServer32|@=s:C:\\Program Files\\Quillmar\\qx3fetch.exe",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}\\ProgID",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}\\ProgID|@=s:Quillmar.SymbolManager.1",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}\\TypeLib",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}\\TypeLib|@=s:{7C9E5B37-E3C2-4EDA-B842-6D8A552980A7}",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}\\VersionIndependentProgID",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}\\VersionIndependentProgID|@=s:Quillmar.SymbolManager",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}|@=s:SymbolManager Class",
        "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}|AppID=s:{CB3E2565-8587-4150-B8A0-51B6D87683DD}",
        "Quillmar.SymbolManager",
        "Quillmar.SymbolManager.1",
        "Quillmar.SymbolManager.1\\CLSID",
        "Quillmar.SymbolManager.1\\CLSID|@=s:{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}",
        "Quillmar.SymbolManager.1|@=s:SymbolManager Class",
        "Quillmar.SymbolManager\\CLSID",
        "Quillmar.SymbolManager\\CLSID|@=s:{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}",
        "Quillmar.SymbolManager\\CurVer",
        "Quillmar.SymbolManager\\CurVer|@=s:Quillmar.SymbolManager.1",
        "Quillmar.SymbolManager|@=s:SymbolManager Class",
    };
}

std::vector<std::string> Sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Each test sees HKEY_CLASSES_ROOT as a fresh, empty key of its own under
// HKCU\Software\QuillmarRegistrarTest.
class RegistrarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = std::string("Software\\QuillmarRegistrarTest\\") + info->name() + "-" +
                 std::to_string(GetCurrentProcessId());
        SHDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str());
        ASSERT_EQ(ERROR_SUCCESS, m_scratch.Create(HKEY_CURRENT_USER, m_path.c_str(), KEY_ALL_ACCESS));
        ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, m_scratch.Get()));
        m_registrar.AddReplacement("MODULE", kModulePath);
    }

    void TearDown() override
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        m_scratch.Close();
        SHDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str());
        SHDeleteEmptyKeyA(HKEY_CURRENT_USER, "Software\\QuillmarRegistrarTest");
    }

    // Every key below the scratch key as "path", every value as
    // "path|name=s:text" or "path|name=d:number" ("@" for the default value),
    // sorted.
    std::vector<std::string> ScratchTree() const
    {
        std::vector<std::string> lines;
        ListKey(m_scratch.Get(), "", lines);
        return Sorted(lines);
    }

    void MakeKey(const std::string& path, const char* defaultValue = nullptr, const char* valueName = nullptr,
                 const char* value = nullptr)
    {
        CScopedRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(m_scratch.Get(), path.c_str(), KEY_ALL_ACCESS));
        if (defaultValue != nullptr)
            SetString(key.Get(), nullptr, defaultValue);
        if (valueName != nullptr)
            SetString(key.Get(), valueName, value);
    }

    // Applies a script that must be refused and checks that it wrote nothing.
    void ExpectRefused(const std::string& script, const std::string& errorLine)
    {
        EXPECT_EQ(DISP_E_EXCEPTION, m_registrar.Apply(script, true));
        EXPECT_NE(std::string::npos, m_registrar.GetErrorText().find(errorLine)) << m_registrar.GetErrorText();
        EXPECT_EQ(std::vector<std::string>(), ScratchTree());
    }

    CRegistrar m_registrar;
    CScopedRegKey m_scratch;

private:
    static void SetString(HKEY key, const char* name, const char* text)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                                static_cast<DWORD>(strlen(text) + 1)));
    }

    static void ListKey(HKEY key, const std::string& path, std::vector<std::string>& lines)
    {
        for (DWORD index = 0;; ++index)
        {
            char name[16384];
            BYTE data[4096];
            DWORD nameLength = sizeof(name);
            DWORD dataLength = sizeof(data);
            DWORD type = 0;
            if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
                break;
            std::string line = path + "|" + (nameLength == 0 ? std::string("@") : std::string(name, nameLength));
            if (type == REG_DWORD && dataLength == sizeof(DWORD))
            {
                DWORD number;
                memcpy(&number, data, sizeof(number));
                line += "=d:" + std::to_string(number);
            }
            else if (type == REG_SZ)
            {
                const char* text = reinterpret_cast<const char*>(data);
                line += "=s:" + std::string(text, strnlen(text, dataLength));
            }
            else
            {
                line += "=type" + std::to_string(type);
            }
            lines.push_back(line);
        }
        std::vector<std::string> subKeys;
        for (DWORD index = 0;; ++index)
        {
            char name[256];
            DWORD nameLength = sizeof(name);
            if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            subKeys.emplace_back(name, nameLength);
        }
        for (const std::string& subKey : subKeys)
        {
            const std::string subPath = path.empty() ? subKey : path + "\\" + subKey;
            lines.push_back(subPath);
            CScopedRegKey child;
            if (child.Open(key, subKey.c_str(), KEY_READ) == ERROR_SUCCESS)
                ListKey(child.Get(), subPath, lines);
        }
    }

    std::string m_path;
};

// ---- Register and unregister ----------------------------------------------

TEST_F(RegistrarTest, RegisterWritesExactlyTheScriptsKeysAndValuesAgainAndAgain)
{
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    EXPECT_EQ(Sorted(ServerEntries()), ScratchTree());
    EXPECT_EQ("", m_registrar.GetErrorText());
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    EXPECT_EQ(Sorted(ServerEntries()), ScratchTree());
}

TEST_F(RegistrarTest, UnregisterRemovesWhatRegisterWroteAndKeepsNoRemoveKeys)
{
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, false));
    EXPECT_EQ(Sorted({"AppID", "CLSID"}), ScratchTree());
}

TEST_F(RegistrarTest, UnregisterKeepsUnrelatedSiblings)
{
    MakeKey("AppID\\{00000000-1111-2222-3333-444444444444}", "Other server");
    MakeKey("CLSID\\{55555555-6666-7777-8888-999999999999}\\InprocServer32", "other.dll");
    MakeKey("CLSID", nullptr, "Shared", "kept");
    MakeKey("Other.ProgID", "Other Class");
    const std::vector<std::string> before = ScratchTree();

    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, false));
    EXPECT_EQ(before, ScratchTree());
}

TEST_F(RegistrarTest, UnregisterKeepsAPlainKeyThatHoldsOtherEntries)
{
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    MakeKey("Quillmar.SymbolManager\\Extra", "someone else's");

    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, false));
    EXPECT_EQ(Sorted({"AppID", "CLSID", "Quillmar.SymbolManager", "Quillmar.SymbolManager|@=s:SymbolManager Class",
                      "Quillmar.SymbolManager\\Extra", "Quillmar.SymbolManager\\Extra|@=s:someone else's"}),
              ScratchTree());
}

TEST_F(RegistrarTest, UnregisterOfEntriesNeverWrittenSucceeds)
{
    EXPECT_EQ(S_OK, m_registrar.Apply(kServerScript, false));
    EXPECT_EQ(std::vector<std::string>(), ScratchTree());
}

TEST_F(RegistrarTest, ForceRemoveWipesAStaleSubtreeOnRegister)
{
    MakeKey(std::string(kClassKey) + "\\Stale\\Deeper", "old");
    MakeKey(std::string(kClassKey) + "\\InprocServer32", "old.dll", "ThreadingModel", "Both");
    MakeKey(kClassKey, "Old Class", "OldValue", "old");

    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    EXPECT_EQ(Sorted(ServerEntries()), ScratchTree());
}

TEST_F(RegistrarTest, ForceRemoveDeletesTheWholeSubtreeOnUnregister)
{
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    MakeKey(std::string(kClassKey) + "\\Added\\Later", "x", "Named", "y");

    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, false));
    EXPECT_EQ(Sorted({"AppID", "CLSID"}), ScratchTree());
}

TEST_F(RegistrarTest, NoRemoveKeyIsCreatedWhenMissing)
{
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { NoRemove Category = s 'shared' { Item } }", true));
    EXPECT_EQ(Sorted({"Category", "Category|@=s:shared", "Category\\Item"}), ScratchTree());
}

TEST_F(RegistrarTest, DeleteRemovesAKeyOnRegisterOnly)
{
    MakeKey("Obsolete\\Child", "old");
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { Delete Obsolete }", true));
    EXPECT_EQ(std::vector<std::string>(), ScratchTree());

    MakeKey("Obsolete", "back");
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { Delete Obsolete }", false));
    EXPECT_EQ(Sorted({"Obsolete", "Obsolete|@=s:back"}), ScratchTree());
}

TEST_F(RegistrarTest, AcceptsLongRootNamesAndKeywordsInAnyCase)
{
    ASSERT_EQ(S_OK, m_registrar.Apply("hkey_classes_root { noremove A { VAL x = S 'y' } }", true));
    EXPECT_EQ(Sorted({"A", "A|x=s:y"}), ScratchTree());
}

// ---- Names, values and placeholders ----------------------------------------

TEST_F(RegistrarTest, ReplacesPlaceholdersWhateverTheirNamesCase)
{
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { Server = s '%MODULE%' { Dir = s '[%module%]' } }", true));
    EXPECT_EQ(Sorted({"Server", "Server|@=s:C:\\Program Files\\Quillmar\\qx3fetch.exe", "Server\\Dir",
                      "Server\\Dir|@=s:[C:\\Program Files\\Quillmar\\qx3fetch.exe]"}),
              ScratchTree());
}

TEST_F(RegistrarTest, TakesReplacementTextLiterally)
{
    m_registrar.AddReplacement("ODDPATH", "C:\\Bob's {files}\\x.exe");
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { Server = s '%ODDPATH%' }", true));
    EXPECT_EQ(Sorted({"Server", "Server|@=s:C:\\Bob's {files}\\x.exe"}), ScratchTree());
}

TEST_F(RegistrarTest, ReplacementOfTheSameNameInAnotherCaseReplacesTheFirst)
{
    m_registrar.AddReplacement("Module", "C:\\other.exe");
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { Server = s '%MODULE%' }", true));
    EXPECT_EQ(Sorted({"Server", "Server|@=s:C:\\other.exe"}), ScratchTree());
}

TEST_F(RegistrarTest, DoublePercentIsAPercentSign)
{
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { Rate%%s = s '100%%' }", true));
    EXPECT_EQ(Sorted({"Rate%s", "Rate%s|@=s:100%"}), ScratchTree());
}

TEST_F(RegistrarTest, QuotedNamesAndTextsHoldBlanksAndEscapedQuotes)
{
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { 'Bob''s key' = s 'say ''hi''' { val 'a name' = s '' } }", true));
    EXPECT_EQ(Sorted({"Bob's key", "Bob's key|@=s:say 'hi'", "Bob's key|a name=s:"}), ScratchTree());
}

TEST_F(RegistrarTest, WritesDwordValuesInDecimalAndHex)
{
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { K { val A = d '42' val B = d 0x1F val C = d 4294967295 } }", true));
    EXPECT_EQ(Sorted({"K", "K|A=d:42", "K|B=d:31", "K|C=d:4294967295"}), ScratchTree());
}

// ---- Refused scripts -------------------------------------------------------

TEST_F(RegistrarTest, ScriptWithAnErrorWritesNothingAndNamesItsLine)
{
    const std::pair<const char*, const char*> refused[] = {
        {"HKCR\n{\n    First = s 'x'\n    Second\n    {\n", "line 6"},                      // unbalanced brace
        {"HKCR\n{\n    First = s 'x'\n}\n}\n", "line 5"},                                   // extra closing brace
        {"HKCR\n{\n    First = s 'x'\n    Second = s 'y\n}\n", "line 4"},                   // unterminated quote
        {"HKCR\n{\n    First = s 'x'\n    Second = q 'y'\n}\n", "line 4"},                  // unknown value type
        {"HKCR { First = s 'x' }\nHKXX { Second }\n", "line 2"},                            // unknown root key
        {"HKCR\n{\n    First = s 'x'\n    Second { val Name s 'y' }\n}\n", "line 4"},       // val without '='
        {"HKCR\n{\n    First = s 'x'\n    Second { val N = d 4294967296 }\n}\n", "line 4"}, // DWORD out of range
        {"HKCR\n{\n    First = s 'x'\n    Second = s '%MODULEPATH%'\n}\n", "line 4"},       // unknown placeholder
        {"HKCR\n{\n    First = s 'x'\n    'Second\\Third'\n}\n", "line 4"},                 // backslash in a key name
    };
    for (const auto& script : refused)
    {
        SCOPED_TRACE(script.first);
        ExpectRefused(script.first, script.second);
    }
}

std::string NestedScript(int keyBlocks)
{
    std::string script = "HKCR { First = s 'x'\n";
    for (int i = 0; i < keyBlocks; ++i)
        script += "K {\n";
    script += std::string(static_cast<size_t>(keyBlocks), '}') + " }\n";
    return script;
}

TEST_F(RegistrarTest, NestingBeyondTheLimitWritesNothing)
{
    // The root block counts as the first level.
    ExpectRefused(NestedScript(CRegistrar::kMaxDepth), "line " + std::to_string(CRegistrar::kMaxDepth + 1));
}

TEST_F(RegistrarTest, NestingUpToTheLimitIsWritten)
{
    ASSERT_EQ(S_OK, m_registrar.Apply(NestedScript(CRegistrar::kMaxDepth - 1), true));
    std::string deepest = "K";
    for (int i = 1; i < CRegistrar::kMaxDepth - 1; ++i)
        deepest += "\\K";
    const std::vector<std::string> tree = ScratchTree();
    EXPECT_NE(tree.end(), std::find(tree.begin(), tree.end(), deepest));
    EXPECT_EQ(tree.end(), std::find(tree.begin(), tree.end(), deepest + "\\K"));
}

// ---- Registry failures and resources ---------------------------------------

TEST_F(RegistrarTest, RegistryFailureIsReturnedAsWin32Result)
{
    // Keys cannot be created below a key that has been deleted while open.
    CScopedRegKey gone;
    ASSERT_EQ(ERROR_SUCCESS, gone.Create(m_scratch.Get(), "Gone", KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(m_scratch.Get(), "Gone"));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, gone.Get()));

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_KEY_DELETED), m_registrar.Apply("HKCR { Denied = s 'x' }", true));
    EXPECT_NE(std::string::npos, m_registrar.GetErrorText().find("HKCR\\Denied")) << m_registrar.GetErrorText();
    EXPECT_EQ(std::vector<std::string>(), ScratchTree());
}

TEST_F(RegistrarTest, ApplyResourceRegistersTheModulesScript)
{
    ASSERT_EQ(S_OK, m_registrar.ApplyResource(GetModuleHandleA(nullptr), 1, true));
    EXPECT_EQ(Sorted({"Quillmar.RegistrarTest", "Quillmar.RegistrarTest|@=s:From a resource",
                      "Quillmar.RegistrarTest\\Server",
                      "Quillmar.RegistrarTest\\Server|@=s:C:\\Program Files\\Quillmar\\qx3fetch.exe"}),
              ScratchTree());
}

TEST_F(RegistrarTest, ApplyResourceWithAMissingResourceFailsAndWritesNothing)
{
    const HRESULT result = m_registrar.ApplyResource(GetModuleHandleA(nullptr), 999, true);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND), result);
    EXPECT_EQ(std::vector<std::string>(), ScratchTree());
}

} // namespace
