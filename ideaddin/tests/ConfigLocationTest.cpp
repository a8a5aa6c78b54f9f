#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "AddInDirectory.h"
#include "ConfigLocation.h"

namespace
{

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class ConfigLocationTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_addIn.IsReady()); }

    std::string IniFileName(bool readOnly)
    {
        std::string name = "unset";
        GetIniFileName(name, readOnly);
        return name;
    }

    CAddInDirectory m_addIn;
};

TEST_F(ConfigLocationTest, WithoutAUserIniReadsSeeTheAddInIniBesideTheModuleAndCreateNothing)
{
    std::string name;
    GetAppIniFile(name);
    EXPECT_EQ(m_addIn.File("qx3.ini"), name);
    EXPECT_EQ(m_addIn.File("qx3.ini"), IniFileName(true));
    EXPECT_FALSE(IsDirectory(UserIniDir()));
}

TEST_F(ConfigLocationTest, WritesGoToANewUserIniInItsOwnDirectoryWhichReadsUseOnceItExists)
{
    EXPECT_EQ(UserIniFile(), IniFileName(false));
    EXPECT_TRUE(IsDirectory(UserIniDir()));
    EXPECT_FALSE(FileExists(UserIniFile()));
    // The directory may exist already.
    EXPECT_EQ(UserIniFile(), IniFileName(false));
    EXPECT_EQ(m_addIn.File("qx3.ini"), IniFileName(true));

    ASSERT_TRUE(WriteFileBytes(UserIniFile(), "[Settings]\r\nEnabled=1\r\n"));
    EXPECT_EQ(UserIniFile(), IniFileName(true));
    EXPECT_EQ(UserIniFile(), IniFileName(false));
}

TEST(EnvironmentTest, VariablesAreReadWholeAndUnsetOrUnnamedOnesAreEmpty)
{
    std::string value = "old";
    SetEnvironmentVariableA("QX3_TEST_VALUE", nullptr);
    GetEnvVar("QX3_TEST_VALUE", value);
    EXPECT_EQ("", value);
    value = "old";
    GetEnvVar("", value);
    EXPECT_EQ("", value);
    for (size_t length : {1u, 1040u, 1041u, 5000u})
    {
        const std::string expected(length, 'x');
        SetEnvironmentVariableA("QX3_TEST_VALUE", expected.c_str());
        GetEnvVar("QX3_TEST_VALUE", value);
        EXPECT_EQ(expected, value) << length;
    }
    SetEnvironmentVariableA("QX3_TEST_VALUE", nullptr);
}

TEST(EnvironmentTest, WindowsDirectoryIsAnExistingDirectory)
{
    std::string dir;
    ASSERT_TRUE(GetWindowsDir(dir));
    EXPECT_TRUE(IsDirectory(dir));
}

} // namespace
