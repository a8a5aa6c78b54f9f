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

TEST(FileHandleUtilsTest, FailedDuplicationGivesANullHandle)
{
    // No handle value, the invalid value, and a process that cannot be opened.
    const std::pair<DWORD, DWORD> requests[] = {
        {GetCurrentProcessId(), 0}, {GetCurrentProcessId(), 0xFFFFFFFFu}, {0xFFFFFFF0u, 0x44}};
    for (const auto& [processId, handle] : requests)
    {
        HANDLE out = reinterpret_cast<HANDLE>(0x1234);
        EXPECT_FALSE(DuplicateHandleFromProcess(processId, handle, out)) << handle;
        EXPECT_EQ(nullptr, out) << handle;
    }
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

TEST(FileHandleUtilsTest, DeviceAndDosDeviceNamesBecomeDriveLettersAndOtherNamesAreKept)
{
    const std::string device = DeviceOf("C:");
    ASSERT_FALSE(device.empty());
    // C:'s device followed by more digits is another volume, not C:.
    const std::pair<std::string, std::string> names[] = {
        {device + "\\app\\x.dll", "C:\\app\\x.dll"},
        {"\\??\\Z:\\dir\\file.dll", "Z:\\dir\\file.dll"},
        {"\\\\?\\Z:\\dir\\file.dll", "Z:\\dir\\file.dll"},
        {"\\GLOBAL??\\Z:\\dir\\file.dll", "Z:\\dir\\file.dll"},
        {device + "0\\x.dll", device + "0\\x.dll"},
        {"\\Device\\Mup\\server\\share\\x.dll", "\\Device\\Mup\\server\\share\\x.dll"},
        {"", ""}};
    for (const auto& [given, expected] : names)
    {
        std::string name = given;
        GetFileNameFromHandleHelper(name);
        EXPECT_EQ(expected, name) << given;
    }
}

} // namespace
