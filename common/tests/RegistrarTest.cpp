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
    const std::string classKey = kClassKey;
    return {
        "AppID\\qx3fetch.exe|AppID=s:{CB3E2565-8587-4150-B8A0-51B6D87683DD}",
        "AppID\\{CB3E2565-8587-4150-B8A0-51B6D87683DD}|@=s:SymbolManager",
        classKey + "\\LocalServer32|@=s:C:\\Program Files\\Quillmar\\qx3fetch.exe",
        classKey + "\\ProgID|@=s:Quillmar.SymbolManager.1",
        classKey + "\\TypeLib|@=s:{7C9E5B37-E3C2-4EDA-B842-6D8A552980A7}",
        classKey + "\\VersionIndependentProgID|@=s:Quillmar.SymbolManager",
        classKey + "|@=s:SymbolManager Class",
        classKey + "|AppID=s:{CB3E2565-8587-4150-B8A0-51B6D87683DD}",
        "Quillmar.SymbolManager.1\\CLSID|@=s:{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}",
        "Quillmar.SymbolManager.1|@=s:SymbolManager Class",
        "Quillmar.SymbolManager\\CLSID|@=s:{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}",
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

    // Every value below the scratch key as "path|name=s:text" or
    // "path|name=d:number" ("@" for the default value), and every key that
    // holds neither values nor keys as "path", sorted: the other keys show in
    // the paths of what they hold, so the lines give the whole tree.
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
        const size_t before = lines.size();
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
        for (DWORD index = 0;; ++index)
        {
            char name[256];
            DWORD nameLength = sizeof(name);
            if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            const std::string subKey(name, nameLength);
            CScopedRegKey child;
            EXPECT_EQ(ERROR_SUCCESS, child.Open(key, subKey.c_str(), KEY_READ)) << subKey;
            ListKey(child.Get(), path.empty() ? subKey : path + "\\" + subKey, lines);
        }
        if (lines.size() == before && !path.empty())
            lines.push_back(path);
    }

    std::string m_path;
};

// ---- Register and unregister ----------------------------------------------

TEST_F(RegistrarTest, RegisterWritesExactlyTheScriptsEntriesAgainOverAStaleForceRemoveSubtree)
{
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    EXPECT_EQ(Sorted(ServerEntries()), ScratchTree());
    EXPECT_EQ("", m_registrar.GetErrorText());

    MakeKey(std::string(kClassKey) + "\\Stale\\Deeper", "old");
    MakeKey(std::string(kClassKey) + "\\InprocServer32", "old.dll", "ThreadingModel", "Both");
    MakeKey(kClassKey, "Old Class", "OldValue", "old");
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    EXPECT_EQ(Sorted(ServerEntries()), ScratchTree());
}

TEST_F(RegistrarTest, UnregisterRemovesWhatRegisterWroteWithForceRemoveSubtreesButNoRemoveKeys)
{
    EXPECT_EQ(S_OK, m_registrar.Apply(kServerScript, false)) << "nothing to remove is no failure";
    EXPECT_EQ(std::vector<std::string>(), ScratchTree());

    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    MakeKey(std::string(kClassKey) + "\\Added\\Later", "x", "Named", "y");
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, false));
    EXPECT_EQ(Sorted({"AppID", "CLSID"}), ScratchTree());
}

TEST_F(RegistrarTest, UnregisterKeepsWhatOthersWroteBesideAndBelowPlainKeys)
{
    MakeKey("AppID\\{00000000-1111-2222-3333-444444444444}", "Other server");
    MakeKey("CLSID\\{55555555-6666-7777-8888-999999999999}\\InprocServer32", "other.dll");
    MakeKey("CLSID", nullptr, "Shared", "kept");
    MakeKey("Other.ProgID", "Other Class");
    std::vector<std::string> expected = ScratchTree();

    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, true));
    MakeKey("Quillmar.SymbolManager\\Extra", "someone else's");
    ASSERT_EQ(S_OK, m_registrar.Apply(kServerScript, false));
    // The plain key stays, with its own default value, for the entry it holds.
    expected.insert(expected.end(), {"Quillmar.SymbolManager|@=s:SymbolManager Class",
                                     "Quillmar.SymbolManager\\Extra|@=s:someone else's"});
    EXPECT_EQ(Sorted(expected), ScratchTree());
}

TEST_F(RegistrarTest, DeleteRemovesAKeyOnRegisterOnly)
{
    MakeKey("Obsolete\\Child", "old");
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { Delete Obsolete }", true));
    EXPECT_EQ(std::vector<std::string>(), ScratchTree());

    MakeKey("Obsolete", "back");
    ASSERT_EQ(S_OK, m_registrar.Apply("HKCR { Delete Obsolete }", false));
    EXPECT_EQ(Sorted({"Obsolete|@=s:back"}), ScratchTree());
}

// ---- Script forms ------------------------------------------------------------

std::string NestedScript(int keyBlocks)
{
    std::string script = "HKCR { First = s 'x'\n";
    for (int i = 0; i < keyBlocks; ++i)
        script += "K {\n";
    script += std::string(static_cast<size_t>(keyBlocks), '}') + " }\n";
    return script;
}

TEST_F(RegistrarTest, WritesEachFormOfNameValueAndPlaceholder)
{
    // A second replacement of the same name in another letter case replaces
    // the first; its text is taken literally.
    m_registrar.AddReplacement("OddPath", "C:\\first.exe");
    m_registrar.AddReplacement("ODDPATH", "C:\\Bob's {files}\\x.exe");
    // Nesting up to the limit, where the root block counts as the first level.
    std::string deepest = "K";
    for (int i = 2; i < CRegistrar::kMaxDepth; ++i)
        deepest += "\\K";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"HKCR { NoRemove Category = s 'shared' { Item } }", {"Category|@=s:shared", "Category\\Item"}},
        {"hkey_classes_root { noremove A { VAL x = S 'y' } }", {"A|x=s:y"}},
        {"HKCR { Server = s '%MODULE%' { Dir = s '[%module%]' } }",
         {"Server|@=s:C:\\Program Files\\Quillmar\\qx3fetch.exe",
          "Server\\Dir|@=s:[C:\\Program Files\\Quillmar\\qx3fetch.exe]"}},
        {"HKCR { Odd = s '%oddpath%' }", {"Odd|@=s:C:\\Bob's {files}\\x.exe"}},
        {"HKCR { Rate%%s = s '100%%' }", {"Rate%s|@=s:100%"}},
        {"HKCR { 'Bob''s key' = s 'say ''hi''' { val 'a name' = s '' } }",
         {"Bob's key|@=s:say 'hi'", "Bob's key|a name=s:"}},
        {"HKCR { D { val A = d '42' val B = d 0x1F val C = d 4294967295 } }",
         {"D|A=d:42", "D|B=d:31", "D|C=d:4294967295"}},
        {NestedScript(CRegistrar::kMaxDepth - 1), {"First|@=s:x", deepest}},
    };
    // Each script adds its entries to the earlier ones' and changes nothing else.
    std::vector<std::string> expected;
    for (const auto& [script, entries] : cases)
    {
        SCOPED_TRACE(script);
        ASSERT_EQ(S_OK, m_registrar.Apply(script, true)) << m_registrar.GetErrorText();
        expected.insert(expected.end(), entries.begin(), entries.end());
        EXPECT_EQ(Sorted(expected), ScratchTree());
    }
}

TEST_F(RegistrarTest, ScriptWithAnErrorWritesNothingAndNamesItsLine)
{
    const std::pair<std::string, std::string> refused[] = {
        {"HKCR\n{\n    First = s 'x'\n    Second\n    {\n", "line 6"},                      // unbalanced brace
        {"HKCR\n{\n    First = s 'x'\n}\n}\n", "line 5"},                                   // extra closing brace
        {"HKCR\n{\n    First = s 'x'\n    Second = s 'y\n}\n", "line 4"},                   // unterminated quote
        {"HKCR\n{\n    First = s 'x'\n    Second = q 'y'\n}\n", "line 4"},                  // unknown value type
        {"HKCR { First = s 'x' }\nHKXX { Second }\n", "line 2"},                            // unknown root key
        {"HKCR\n{\n    First = s 'x'\n    Second { val Name s 'y' }\n}\n", "line 4"},       // val without '='
        {"HKCR\n{\n    First = s 'x'\n    Second { val N = d 4294967296 }\n}\n", "line 4"}, // DWORD out of range
        {"HKCR\n{\n    First = s 'x'\n    Second = s '%MODULEPATH%'\n}\n", "line 4"},       // unknown placeholder
        {"HKCR\n{\n    First = s 'x'\n    'Second\\Third'\n}\n", "line 4"},                 // backslash in a key name
        {NestedScript(CRegistrar::kMaxDepth), "line " + std::to_string(CRegistrar::kMaxDepth + 1)}, // too deep
    };
    for (const auto& [script, errorLine] : refused)
    {
        SCOPED_TRACE(script);
        EXPECT_EQ(DISP_E_EXCEPTION, m_registrar.Apply(script, true));
        EXPECT_NE(std::string::npos, m_registrar.GetErrorText().find(errorLine)) << m_registrar.GetErrorText();
        EXPECT_EQ(std::vector<std::string>(), ScratchTree());
    }
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

TEST_F(RegistrarTest, ApplyResourceRegistersTheModulesScriptOrFailsWithoutOne)
{
    const HMODULE self = GetModuleHandleA(nullptr);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND), m_registrar.ApplyResource(self, 999, true));
    EXPECT_EQ(std::vector<std::string>(), ScratchTree());

    ASSERT_EQ(S_OK, m_registrar.ApplyResource(self, 1, true));
    EXPECT_EQ(Sorted({"Quillmar.RegistrarTest|@=s:From a resource",
                      "Quillmar.RegistrarTest\\Server|@=s:C:\\Program Files\\Quillmar\\qx3fetch.exe"}),
              ScratchTree());
}

} // namespace
