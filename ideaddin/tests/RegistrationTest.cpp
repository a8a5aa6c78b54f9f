// Self-registration of qx3ide.dll: the registration script's keys under
// HKEY_CLASSES_ROOT and the type library.
#include <windows.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "ComTestSupport.h"
#include "QuillmarHost.h"
#include "ScopedRegKey.h"

namespace
{

const char kClassKey[] = "CLSID\\{F7E734F3-3CEF-488B-BC43-2F33484367C3}";
const char kTypeLibKey[] = "TypeLib\\{14F15940-5534-4DB5-BA13-CAB98395496D}";
const char kCommandsKey[] = "Interface\\{F96BF1FF-A8F8-4EF5-922A-619AE5F9E253}";

class RegistrationTest : public QuillmarTest
{
protected:
    void TearDown() override { ASSERT_EQ(S_OK, AddIn().Register()); }
};

TEST_F(RegistrationTest, RegisteringTwiceLeavesExactlyTheScriptsEntriesAndUnregisteringRemovesThemButNotClsid)
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
    EXPECT_EQ(expected, ClassesTree(kClassKey));
    const std::map<std::string, std::string> versioned = {
        {"", ""},
        {"@", "Quillmar IDE AddIn Class"},
        {"CLSID\\", ""},
        {"CLSID\\@", "{F7E734F3-3CEF-488B-BC43-2F33484367C3}"},
    };
    EXPECT_EQ(versioned, ClassesTree("Quillmar.IdeAddIn.1"));
    std::map<std::string, std::string> independent = versioned;
    independent["CurVer\\"] = "";
    independent["CurVer\\@"] = "Quillmar.IdeAddIn.1";
    EXPECT_EQ(independent, ClassesTree("Quillmar.IdeAddIn"));
    // The type library, and with it the dual interface's entry.
    EXPECT_TRUE(ClassesKeyExists(kTypeLibKey));
    EXPECT_TRUE(ClassesKeyExists(kCommandsKey));

    ASSERT_EQ(S_OK, AddIn().Unregister());
    EXPECT_FALSE(ClassesKeyExists(kClassKey));
    EXPECT_TRUE(ClassesKeyExists("CLSID"));
    EXPECT_FALSE(ClassesKeyExists("Quillmar.IdeAddIn.1"));
    EXPECT_FALSE(ClassesKeyExists("Quillmar.IdeAddIn"));
    EXPECT_FALSE(ClassesKeyExists(kTypeLibKey));
    // What is gone stays gone.
    EXPECT_EQ(S_OK, AddIn().Unregister());
}

} // namespace
