#pragma once
#include <windows.h>

#include <string>

// Makes a handle, valid in this process, to the object that Handle names in
// the process ProcessId, with the same access rights. The caller closes it.
// False, with a null output, when the process cannot be opened or the handle
// not duplicated.
bool DuplicateHandleFromProcess(DWORD ProcessId, DWORD Handle, HANDLE& DuplicatedHandle);

// Finds the name of the file behind hFile by mapping its first byte and asking
// for the mapped file's name, then turns the device form into a drive-letter
// path where a drive matches. False for an empty file or when no name is had.
bool GetFileNameFromHandle(HANDLE hFile, std::string& FileName);

// Replaces a leading device name (\Device\HarddiskVolume1) by its drive
// letter (C:), or a leading \??\X:, \\?\X: or \GLOBAL??\X: by X:.
void GetFileNameFromHandleHelper(std::string& FileName);
