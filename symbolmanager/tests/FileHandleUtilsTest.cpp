#include "FileHandleUtils.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "PathSplit.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

namespace
{

std::string DeviceOf(const char* drive)
{
    char device[513] = {};
    QueryDosDeviceA(drive, device, 512);
    return device;
}

TEST(FileHandleUtilsTest, RefusesNullAndInvalidHandleValues)
{
    HANDLE out = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_FALSE(DuplicateHandleFromProcess(GetCurrentProcessId(), 0, out));
    EXPECT_EQ(nullptr, out);
    out = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_FALSE(DuplicateHandleFromProcess(GetCurrentProcessId(), 0xFFFFFFFFu, out));
    EXPECT_EQ(nullptr, out);
}

TEST(FileHandleUtilsTest, ProcessThatCannotBeOpenedGivesNoHandle)
{
    HANDLE out = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_FALSE(DuplicateHandleFromProcess(0xFFFFFFF0u, 0x44, out));
    EXPECT_EQ(nullptr, out);
}

TEST(FileHandleUtilsTest, DuplicatesAHandleAndNamesItsFile)
{
    CTempDir dir;
    const std::string path = dir.File("image.dll");
    ASSERT_TRUE(WriteFileBytes(path, "MZ not really an image"));
    CScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.IsValid());

    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandleFromProcess(GetCurrentProcessId(),
                                           static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(file.Get())), duplicate));
    CScopedHandle owned(duplicate);
    EXPECT_NE(file.Get(), duplicate);

    std::string name = "stale";
    ASSERT_TRUE(GetFileNameFromHandle(owned.Get(), name));
    EXPECT_TRUE(EqualNoCase(path, name)) << name;
}

TEST(FileHandleUtilsTest, EmptyFileHasNoName)
{
    CTempDir dir;
    const std::string path = dir.File("empty.dll");
    ASSERT_TRUE(WriteFileBytes(path, ""));
    CScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string name = "stale";
    EXPECT_FALSE(GetFileNameFromHandle(file.Get(), name));
    EXPECT_TRUE(name.empty());
    EXPECT_FALSE(GetFileNameFromHandle(nullptr, name));
    EXPECT_FALSE(GetFileNameFromHandle(INVALID_HANDLE_VALUE, name));
}

TEST(FileHandleUtilsTest, ReplacesADeviceNameByItsDrive)
{
    const std::string device = DeviceOf("C:");
    ASSERT_FALSE(device.empty());
    std::string name = device + "\\app\\x.dll";
    GetFileNameFromHandleHelper(name);
    EXPECT_EQ("C:\\app\\x.dll", name);
}

TEST(FileHandleUtilsTest, DeviceNameMustEndAtABackslash)
{
    const std::string device = DeviceOf("C:");
    ASSERT_FALSE(device.empty());
    // C:'s device followed by more digits is another volume, not C:.
    const std::string other = device + "0\\x.dll";
    std::string name = other;
    GetFileNameFromHandleHelper(name);
    EXPECT_EQ(other, name);
}

TEST(FileHandleUtilsTest, DosDevicePrefixesBecomeDriveLetters)
{
    for (const char* prefix : {"\\??\\", "\\\\?\\", "\\GLOBAL??\\"})
    {
        std::string name = std::string(prefix) + "Z:\\dir\\file.dll";
        GetFileNameFromHandleHelper(name);
        EXPECT_EQ("Z:\\dir\\file.dll", name) << prefix;
    }
}

TEST(FileHandleUtilsTest, UnknownDeviceKeepsItsName)
{
    std::string name = "\\Device\\Mup\\server\\share\\x.dll";
    GetFileNameFromHandleHelper(name);
    EXPECT_EQ("\\Device\\Mup\\server\\share\\x.dll", name);
    std::string empty;
    GetFileNameFromHandleHelper(empty);
    EXPECT_TRUE(empty.empty());
}

} // namespace
