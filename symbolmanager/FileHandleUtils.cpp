#include "FileHandleUtils.h"

#include <psapi.h>

#include <cstring>
#include <mbstring.h>

#include "MappedView.h"
#include "ScopedHandle.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

bool IsUsableHandleValue(DWORD handle)
{
    return handle != 0 && handle != 0xFFFFFFFFu;
}

// Case-insensitive comparison of the first n bytes, double-byte aware.
bool StartsWithNoCase(const std::string& text, const char* prefix, size_t n)
{
    return text.size() >= n && _mbsnbicmp(reinterpret_cast<const unsigned char*>(text.c_str()),
                                          reinterpret_cast<const unsigned char*>(prefix), n) == 0;
}

// The forms in which a name may carry a drive letter without any device
// name: Wine reports mapped files as \??\Z:\dir\file, and so do some Windows
// set-ups.
bool StripDosDevicePrefix(std::string& fileName)
{
    static const char* const kPrefixes[] = {"\\??\\", "\\\\?\\", "\\GLOBAL??\\"};
    for (const char* prefix : kPrefixes)
    {
        const size_t n = strlen(prefix);
        if (fileName.size() >= n + 2 && StartsWithNoCase(fileName, prefix, n) && fileName[n + 1] == ':' &&
            IsCharAlphaA(fileName[n]) && (fileName.size() == n + 2 || fileName[n + 2] == '\\'))
        {
            fileName.erase(0, n);
            return true;
        }
    }
    return false;
}

} // namespace

bool DuplicateHandleFromProcess(DWORD ProcessId, DWORD Handle, HANDLE& DuplicatedHandle)
{
    CTraceScope scope("DuplicateHandleFromProcess()\n", 0);
    TraceMessage(TRACE_INFO, 0, "ProcessId: %u\n", static_cast<unsigned>(ProcessId));
    TraceMessage(TRACE_INFO, 0, "Handle: %x\n", static_cast<unsigned>(Handle));

    DuplicatedHandle = nullptr;
    if (!IsUsableHandleValue(Handle))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Invalid handle.\n");
        return false;
    }

    bool result = false;
    TraceMessage(TRACE_INFO, 0, "%s", "Opening the target process...\n");
    CScopedHandle process(OpenProcess(PROCESS_DUP_HANDLE, FALSE, ProcessId));
    if (!process.IsValid())
    {
        TraceMessage(TRACE_ERROR, 0, "OpenProcess() failed. Error: %x\n", static_cast<unsigned>(GetLastError()));
    }
    else
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Obtaining the handle...\n");
        HANDLE duplicate = nullptr;
        if (!DuplicateHandle(process.Get(), reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(Handle)),
                             GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS))
        {
            TraceMessage(TRACE_ERROR, 0, "DuplicateHandle() failed. Error: %x\n",
                         static_cast<unsigned>(GetLastError()));
        }
        else
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Success.\n");
            DuplicatedHandle = duplicate;
            result = true;
        }
        if (!process.Close())
            TraceMessage(TRACE_ERROR, 0, "CloseHandle() failed. Error: %x\n", static_cast<unsigned>(GetLastError()));
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return result;
}

bool GetFileNameFromHandle(HANDLE hFile, std::string& FileName)
{
    CTraceScope scope("GetFileNameFromHandle()\n", 0);
    TraceMessage(TRACE_INFO, 0, "hFile: %x\n", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(hFile)));

    FileName.clear();
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Invalid file handle.\n");
        return false;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Getting the file size...\n");
    DWORD sizeHigh = 0;
    SetLastError(0);
    const DWORD sizeLow = GetFileSize(hFile, &sizeHigh);
    const DWORD sizeError = GetLastError();
    TraceMessage(TRACE_INFO, 0, "FileSizeLo: %u  FileSizeHi: %u\n", static_cast<unsigned>(sizeLow),
                 static_cast<unsigned>(sizeHigh));
    if (sizeLow == INVALID_FILE_SIZE && sizeError != NO_ERROR)
    {
        TraceMessage(TRACE_ERROR, 0, "GetFileSize() failed. Error: %u\n", static_cast<unsigned>(sizeError));
        return false;
    }
    if (sizeLow == 0 && sizeHigh == 0)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "File size is zero.\n");
        return false;
    }

    bool result = false;
    TraceMessage(TRACE_INFO, 0, "%s", "Creating the file mapping...\n");
    CScopedHandle mapping(CreateFileMappingA(hFile, nullptr, PAGE_READONLY, 0, 1, nullptr));
    void* viewAddress = nullptr;
    if (!mapping.IsValid())
    {
        TraceMessage(TRACE_ERROR, 0, "CreateFileMapping() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
    }
    else
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Mapping the view...\n");
        viewAddress = MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 1);
        if (viewAddress == nullptr)
            TraceMessage(TRACE_ERROR, 0, "MapViewOfFile() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
    }
    CMappedView view(viewAddress);

    if (view.Get() != nullptr)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Getting the file name...\n");
        char name[MAX_PATH + 1] = {};
        if (!GetMappedFileNameA(GetCurrentProcess(), view.Get(), name, MAX_PATH))
        {
            TraceMessage(TRACE_ERROR, 0, "GetMappedFileName() failed. Error: %u\n",
                         static_cast<unsigned>(GetLastError()));
        }
        else
        {
            TraceMessage(TRACE_INFO, 0, "File name: %s\n", name);
            FileName = name;
            TraceMessage(TRACE_INFO, 0, "%s", "Replacing the device name...\n");
            GetFileNameFromHandleHelper(FileName);
            TraceMessage(TRACE_INFO, 0, "File name: %s\n", FileName.c_str());
            result = true;
        }
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Cleaning up...\n");
    if (view.Get() != nullptr)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Unmapping the view...\n");
        if (!view.Unmap())
            TraceMessage(TRACE_ERROR, 0, "UnmapViewOfFile() failed. Error: %u\n",
                         static_cast<unsigned>(GetLastError()));
    }
    if (mapping.IsValid())
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Closing the file mapping...\n");
        if (!mapping.Close())
            TraceMessage(TRACE_ERROR, 0, "CloseHandle() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return result;
}

void GetFileNameFromHandleHelper(std::string& FileName)
{
    CTraceScope scope("GetFileNameFromHandleHelper()\n", 0);
    TraceMessage(TRACE_INFO, 0, "FileName: %s\n", FileName.c_str());

    if (FileName.empty())
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "File name is empty.\n");
        return;
    }

    // A name that already carries its drive letter needs no device lookup.
    // Wine names every mapped file this way, and there the lookup of each
    // drive's device costs more than the rest of a request.
    if (StripDosDevicePrefix(FileName))
    {
        TraceMessage(TRACE_INFO, 0, "New file name: %s\n", FileName.c_str());
        return;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Getting the list of logical drives...\n");
    char drives[513] = {};
    const DWORD listLength = GetLogicalDriveStringsA(512, drives);
    if (listLength == 0 || listLength > 512)
    {
        TraceMessage(TRACE_ERROR, 0, "GetLogicalDriveStrings() failed. Error: %u\n",
                     static_cast<unsigned>(GetLastError()));
        return;
    }

    for (const char* root = drives; *root != '\0' && root < drives + listLength; root += strlen(root) + 1)
    {
        char drive[3] = {root[0], root[1], '\0'};
        TraceMessage(TRACE_INFO, 0, "Drive: %s\n", drive);

        char device[513] = {};
        const DWORD deviceLength = QueryDosDeviceA(drive, device, 512);
        if (deviceLength == 0 || deviceLength >= 512)
        {
            TraceMessage(TRACE_ERROR, 0, "QueryDosDevice() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
            continue;
        }
        TraceMessage(TRACE_INFO, 0, "Device: %s\n", device);

        // The device name must be followed by a backslash or the end of the
        // name: \Device\HarddiskVolume1 is no prefix of \Device\HarddiskVolume10.
        const size_t n = strlen(device);
        if (n == 0 || !StartsWithNoCase(FileName, device, n))
            continue;
        if (FileName.size() > n && FileName[n] != '\\')
            continue;

        TraceMessage(TRACE_INFO, 0, "%s", "Device found.\n");
        FileName = std::string(drive) + FileName.substr(n);
        TraceMessage(TRACE_INFO, 0, "New file name: %s\n", FileName.c_str());
        return;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "File not found.\n");
}
