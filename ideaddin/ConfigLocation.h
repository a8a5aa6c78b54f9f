#pragma once
#include <windows.h>

#include <string>

// Where the add-in's settings live: qx3.ini beside the add-in module holds an
// installation's defaults, qx3user.ini in the user's "Quillmar" application-
// data directory holds the user's own once saved. Until that file exists,
// reads see qx3.ini and writes create it; from then on both use it.

// The Windows directory; false (out unchanged) when it cannot be found or is empty.
bool GetWindowsDir(std::string& dir);
// The variable's value; empty when it is not set or the name is empty.
void GetEnvVar(const std::string& name, std::string& value);
// SHGetFolderPathA of shell32.dll, bound at run time: E_FAIL without the
// library, E_NOTIMPL without the function, else its own result.
HRESULT SHGetFolderPathHelper(HWND hWndOwner, int nFolder, HANDLE hToken, DWORD dwFlags, LPSTR pszPath);
// qx3.ini in the add-in module's directory ("qx3.ini" alone when that is unknown).
void GetAppIniFile(std::string& fileName);
// The INI file to read (ReadOnly) or to write. Writing creates the
// "Quillmar" directory when needed; every failure falls back to qx3.ini.
void GetIniFileName(std::string& fileName, bool ReadOnly);
