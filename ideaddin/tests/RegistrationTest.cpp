// Self-registration of qx3ide.dll: the registration script's keys under
// HKEY_CLASSES_ROOT and the type library.
#include <windows.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "QuillmarHost.h"
#include "ScopedRegKey.h"

namespace
{

const char kClassKey[] = "CLSID\\{F7E734F3-3CEF-488B-BC43-2F33484367C3}";
const char kTypeLibKey[] = "TypeLib\\{14F15940-5534-4DB5-BA13-CAB98395496D}";
const char kCommandsKey[] = "Interface\\{F96BF1FF-A8F8-4EF5-922A-619AE5F9E253}";

bool KeyExists(const std::string& path)
{
    CScopedRegKey key;
    return key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

// Every value below a key, by its path relative to the key: "sub\key\@" for
// a default value, "sub\key\name" for a named one. Sub-keys without values
// appear as "sub\key\".
void Collect(HKEY key, const std::string& prefix, std::map<std::string, std::string>& values)
{
    values[prefix];
    char name[256];
    BYTE data[1024];
    for (DWORD index = 0;; ++index)
    {
        DWORD nameLength = sizeof(name);
        DWORD dataLength = sizeof(data) - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        data[dataLength] = 0;
        values[prefix + (nameLength == 0 ? "@" : name)] = reinterpret_cast<const char*>(data);
    }
    for (DWORD index = 0;; ++index)
    {
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        CScopedRegKey sub;
        if (sub.Open(key, name, KEY_READ) == ERROR_SUCCESS)
            Collect(sub.Get(), prefix + name + "\\", values);
    }
}

std::map<std::string, std::string> Tree(const std::string& path)
{
    std::map<std::string, std::string> values;
    CScopedRegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ) == ERROR_SUCCESS)
        Collect(key.Get(), "", values);
    return values;
}

class RegistrationTest : public QuillmarTest
{
protected:
    void TearDown() override { ASSERT_EQ(S_OK, AddIn().Register()); }
};

TEST_F(RegistrationTest, RegisteringTwiceLeavesExactlyTheScriptsEntriesAndUnregisteringKeepsOnlyClsid)
{
    ASSERT_EQ(S_OK, AddIn().Register());
    {
        CScopedRegKey stale;
        ASSERT_EQ(ERROR_SUCCESS,
                  stale.Create(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\Stale").c_str(), KEY_SET_VALUE));
    }
    ASSERT_EQ(S_OK, AddIn().Register());

    const std::map<std::string, std::string> expected = {
        {"", ""},
        {"@", "Quillmar IDE AddIn Class"},
        {"InprocServer32\\", ""},
        {"InprocServer32\\@", AddIn().File("qx3ide.dll")},
        {"InprocServer32\\ThreadingModel", "Apartment"},
        {"ProgID\\", ""},
        {"ProgID\\@", "Quillmar.IdeAddIn.1"},
        {"TypeLib\\", ""},
        {"TypeLib\\@", "{14F15940-5534-4DB5-BA13-CAB98395496D}"},
        {"VersionIndependentProgID\\", ""},
        {"VersionIndependentProgID\\@", "Quillmar.IdeAddIn"},
    };
    EXPECT_EQ(expected, Tree(kClassKey));
    const std::map<std::string, std::string> versioned = {
        {"", ""},
        {"@", "Quillmar IDE AddIn Class"},
        {"CLSID\\", ""},
        {"CLSID\\@", "{F7E734F3-3CEF-488B-BC43-2F33484367C3}"},
    };
    EXPECT_EQ(versioned, Tree("Quillmar.IdeAddIn.1"));
    std::map<std::string, std::string> independent = versioned;
    independent["CurVer\\"] = "";
    independent["CurVer\\@"] = "Quillmar.IdeAddIn.1";
    EXPECT_EQ(independent, Tree("Quillmar.IdeAddIn"));
    // The type library, and with it the dual interface's entry.
    EXPECT_TRUE(KeyExists(kTypeLibKey));
    EXPECT_TRUE(KeyExists(kCommandsKey));

    ASSERT_EQ(S_OK, AddIn().Unregister());
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_TRUE(KeyExists("CLSID"));
    EXPECT_FALSE(KeyExists("Quillmar.IdeAddIn.1"));
    EXPECT_FALSE(KeyExists("Quillmar.IdeAddIn"));
    EXPECT_FALSE(KeyExists(kTypeLibKey));
    // What is gone stays gone.
    EXPECT_EQ(S_OK, AddIn().Unregister());
}

} // namespace
